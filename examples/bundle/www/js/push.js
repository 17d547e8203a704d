// Push messaging: shows the token and every message the host delivers, and subscribes to a
// topic on request.
(function () {
    'use strict';

    var exec = hybrid.require('hybrid/exec');
    var messages = document.getElementById('push-messages');

    window.NCMPlugin = {
        onNotificationReceived: function (message) {
            var item = document.createElement('li');
            item.textContent = JSON.stringify(message);
            messages.appendChild(item);
        },
        onTokenRefreshReceived: function (token) {
            document.getElementById('push-token').textContent = 'Token: ' + token;
        }
    };

    function call(action, args, done) {
        exec(done || function () {}, function () {}, 'NCMPlugin', action, args || []);
    }

    document.addEventListener('deviceready', function () {
        call('ready', [], function () {
            call('registerNotification');
            call('getToken', [], function (token) {
                if (token) window.NCMPlugin.onTokenRefreshReceived(token);
            });
        });
    });

    document.getElementById('push-subscribe').addEventListener('click', function () {
        call('subscribeToTopic', ['news'], function (topic) {
            document.getElementById('push-token').textContent += ' (subscribed to ' + topic + ')';
        });
    });
})();
