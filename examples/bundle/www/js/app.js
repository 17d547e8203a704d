// A small web app on the command bridge: it logs through the host, shows and hides the launch
// screen, toggles swipe navigation, opens the host's dialogs and shows URLs the application
// was asked to open.
(function () {
    'use strict';

    var exec = hybrid.require('hybrid/exec');

    function log(level, message) {
        exec(null, null, 'Logger', 'logLevel', [level, message]);
    }

    // Every answer shows on the page and in the console (which the host prints).
    function show(id, text) {
        document.getElementById(id).textContent = text;
        console.log(id + ': ' + text);
    }

    // The host calls this with every URL the application is asked to open.
    window.handleOpenURL = function (url) {
        show('opened', 'Opened with ' + url);
        log('LOG', 'handleOpenURL: ' + url);
    };

    document.addEventListener('deviceready', function () {
        show('status', 'Ready, served from ' + (window.HYB_ASSETS_URL || location.origin));
        log('LOG', 'deviceready at ' + location.href);
        log('INFO', 'user agent ' + navigator.userAgent);
    });

    ['pause', 'resume', 'resign', 'active'].forEach(function (type) {
        document.addEventListener(type, function () {
            show('event', 'Last application event: ' + type);
            log('LOG', type);
        });
    });

    document.getElementById('log').addEventListener('click', function () {
        var message = 'button pressed at ' + new Date().toISOString();
        log('INFO', message);
        show('answer', 'Logged "' + message + '"');
    });

    document.getElementById('splash').addEventListener('click', function () {
        exec(null, null, 'LaunchScreen', 'show', []);
        show('answer', 'Launch screen shown');
        setTimeout(function () {
            exec(null, null, 'LaunchScreen', 'hide', []);
            show('answer', 'Launch screen hidden');
        }, 1000);
    });

    document.getElementById('swipe').addEventListener('click', function () {
        exec(null, null, 'WebViewEngine', 'allowsBackForwardNavigationGestures', [true]);
        show('answer', 'Back/forward swipes allowed');
    });

    document.getElementById('alert').addEventListener('click', function () {
        alert('Hello from the page');
        show('dialog-answer', 'Alert closed');
    });

    document.getElementById('confirm').addEventListener('click', function () {
        show('dialog-answer', confirm('Proceed?') ? 'Confirmed' : 'Cancelled');
    });

    document.getElementById('prompt').addEventListener('click', function () {
        var name = prompt('Your name?', 'World');
        show('dialog-answer', name === null ? 'No answer' : 'Hello, ' + name);
    });
})();
