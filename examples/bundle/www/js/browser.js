// Opens a page of the bundle in the in-app browser and lists the events it reports.
(function () {
    'use strict';

    var exec = hybrid.require('hybrid/exec');

    document.getElementById('browser').addEventListener('click', function () {
        var seen = [];
        var list = document.getElementById('browser-events');
        function note(event) {
            seen.push(event.type + (event.data ? ' ' + JSON.stringify(event.data) : ''));
            list.textContent = seen.join(', ');
        }
        exec(function (event) {
            if (event) note(event);
        }, function (event) {
            note(event || { type: 'error' });
        }, 'InAppBrowser', 'open', ['browser.html', '_blank',
            'location=yes,closebuttoncaption=Close,toolbarcolor=#2060A0']);
    });
})();
