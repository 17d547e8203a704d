// Push messaging: shows the registration token, subscribes to a topic once there is one, and
// lists every message the host delivers (from the messaging server's socket, or notifications
// given on the host's command line). Each answer is shown as it came.
(function () {
    'use strict';

    var exec = hybrid.require('hybrid/exec');
    var messages = document.getElementById('push-messages');
    var subscribe = document.getElementById('push-subscribe');

    function show(id, text) {
        document.getElementById(id).textContent = text;
        console.log(id + ': ' + text);
    }

    function call(action, args, done) {
        exec(done || function () {}, function (error) {
            show('push-topic', 'The push plug-in refused ' + action + ': ' + JSON.stringify(error));
        }, 'NCMPlugin', action, args || []);
    }

    // Topics need a registration token: without one the messaging library subscribes nothing.
    function showToken(token) {
        subscribe.disabled = !token;
        show('push-token', token
            ? 'Registration token: ' + token
            : 'No registration token yet: the SDK is still registering, or no registration ' +
              'service answers (tools/dev run starts local ones).');
    }

    window.NCMPlugin = {
        onNotificationReceived: function (message) {
            var item = document.createElement('li');
            item.textContent = (message.message ? message.message + ' ' : '') +
                JSON.stringify(message);
            messages.appendChild(item);
            console.log('push-message: ' + JSON.stringify(message));
        },
        onTokenRefreshReceived: showToken
    };

    document.addEventListener('deviceready', function () {
        call('ready', [], function () {
            call('registerNotification');
            call('getToken', [], showToken);
        });
    });

    subscribe.addEventListener('click', function () {
        call('subscribeToTopic', ['news'], function (topic) {
            show('push-topic', 'Subscription to "' + topic + '" handed to the messaging ' +
                'library; the registration service confirms it, and the local one greets the ' +
                'topic with a message below.');
        });
    });
})();
