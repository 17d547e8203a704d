// Opens a page of the bundle in the in-app browser and lists the events it reports.
(function () {
    'use strict';

    var exec = hybrid.require('hybrid/exec');

    // The local identity service's sign-in page, at the authority the sign-in section names
    // (this run's, unless it was changed there).
    function signInPage() {
        var field = document.getElementById('signin-authority');
        var authority = field && field.value ? field.value : window.localServices.signInAuthority;
        return authority.replace(/\/+$/, '') + '/oauth2/authorize';
    }

    document.getElementById('browser').addEventListener('click', function () {
        var seen = [];
        var list = document.getElementById('browser-events');
        function note(event) {
            // Where each load went, so that following a link and going back shows here.
            var where = event.url ? ' ' + event.url.replace(/^app:\/\/localhost\//, '') : '';
            seen.push(event.type + where + (event.data ? ' ' + JSON.stringify(event.data) : ''));
            list.textContent = seen.join(', ');
        }
        exec(function (event) {
            if (event) note(event);
        }, function (event) {
            note(event || { type: 'error' });
        }, 'InAppBrowser', 'open', ['browser.html?services=' + encodeURIComponent(signInPage()), '_blank',
            'location=yes,closebuttoncaption=Close,toolbarcolor=#2060A0']);
    });
})();
