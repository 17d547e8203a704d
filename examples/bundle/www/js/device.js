// Locale, network and status bar: formats a date and an amount in the user's locale, shows the
// connection type as it changes, and toggles the status bar, showing each answer.
(function () {
    'use strict';

    var exec = hybrid.require('hybrid/exec');

    function show(id, text) {
        document.getElementById(id).textContent = text;
    }

    function failure(id) {
        return function (error) {
            show(id, 'Failed: ' + (typeof error === 'string' ? error : JSON.stringify(error)));
        };
    }

    document.addEventListener('deviceready', function () {
        exec(function (answer) {
            show('date', 'Now: ' + answer.value);
        }, failure('date'), 'Globalization', 'dateToString', [{
            date: Date.now(),
            options: { formatLength: 'long', selector: 'date and time' }
        }]);

        exec(function (answer) {
            show('amount', 'Amount: ' + answer.value);
        }, failure('amount'), 'Globalization', 'numberToString', [{
            number: 1234.5,
            options: { type: 'currency' }
        }]);

        // The answer keeps its callback: every later change of the type arrives here too.
        exec(function (type) {
            var at = new Date().toLocaleTimeString();
            show('connection', 'Connection: ' + type + ' (at ' + at + ')');
        }, failure('connection'), 'NetworkStatus', 'getConnectionInfo', []);

        // Visibility changes and taps on the bar arrive on this callback.
        exec(function (event) {
            if (event && event.type === 'tap') {
                show('statusbar', 'Status bar tapped');
            } else {
                show('statusbar', 'Status bar ' + (event ? 'shown' : 'hidden'));
            }
        }, failure('statusbar'), 'StatusBar', '_ready', []);
    });

    var hidden = false;
    document.getElementById('toggle-statusbar').addEventListener('click', function () {
        hidden = !hidden;
        exec(null, null, 'StatusBar', hidden ? 'hide' : 'show', []);
    });
})();
