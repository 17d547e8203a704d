// Directory sign-in: a context for the authority, the interactive sign-in window, a silent
// acquisition, and the token cache read, trimmed and cleared, each answer shown as the host
// gives it (tokens cut short). The authority defaults to the local identity service that
// `tools/dev run` starts beside the host, at the address it has in this run.
(function () {
    'use strict';

    var exec = hybrid.require('hybrid/exec');
    var SERVICE = 'DirectorySignIn';
    var answers = document.getElementById('signin-answers');

    if (window.localServices && window.localServices.signInAuthority) {
        document.getElementById('signin-authority').value = window.localServices.signInAuthority;
    }

    function field(id) {
        return document.getElementById(id).value.trim();
    }

    // Long secrets are shown by their start only.
    function shown(value) {
        return JSON.stringify(value, function (key, v) {
            if ((key === 'accessToken' || key === 'idToken') && typeof v === 'string' &&
                v.length > 16) {
                return v.slice(0, 12) + '…';
            }
            return v;
        }, 1);
    }

    function show(label, ok, value) {
        var item = document.createElement('li');
        item.textContent = label + (ok ? ' → ' : ' ✗ ') + (value === undefined ? '' : shown(value));
        answers.insertBefore(item, answers.firstChild);
    }

    function call(action, args, label) {
        exec(function (value) { show(label || action, true, value); },
             function (error) { show(label || action, false, error); },
             SERVICE, action, args);
    }

    function context() {
        return [field('signin-authority'), document.getElementById('signin-validate').checked];
    }

    document.getElementById('signin-create').addEventListener('click', function () {
        call('createAsync', context());
    });

    document.getElementById('signin-interactive').addEventListener('click', function () {
        call('acquireTokenAsync', context().concat([field('signin-resource'),
            field('signin-client'), field('signin-redirect'), field('signin-user') || null,
            null]), 'sign in');
    });

    document.getElementById('signin-silent').addEventListener('click', function () {
        call('acquireTokenSilentAsync', context().concat([field('signin-resource'),
            field('signin-client'), field('signin-user') || null]), 'silent');
    });

    document.getElementById('signin-read').addEventListener('click', function () {
        call('tokenCacheReadItems', [], 'cache');
    });

    // Removes the items of the resource for the user, as the page names them.
    document.getElementById('signin-delete').addEventListener('click', function () {
        call('tokenCacheDeleteItem', context().concat([field('signin-authority'),
            field('signin-resource'), field('signin-client'), field('signin-user') || null]),
            'delete');
    });

    document.getElementById('signin-clear').addEventListener('click', function () {
        call('tokenCacheClear', [], 'clear');
    });

    document.getElementById('signin-logger').addEventListener('click', function () {
        exec(function () {
            exec(function (line) { show('log ' + line.level, true, line.message); },
                 null, SERVICE, 'setLogger', []);
        }, null, SERVICE, 'setLogLevel', [3]);
        show('logger', true, 'library lines at level 3 (info) now show here');
    });
})();
