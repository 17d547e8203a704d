// The page side of the command bridge.
//
//   var exec = hybrid.require('hybrid/exec');
//   exec(onSuccess, onFailure, 'Service', 'action', [arguments...]);
//
// A call is posted to the host as [callbackId, service, action, arguments]; the host answers
// by evaluating exec.nativeCallback(callbackId, status, message, keepCallback, 0). Binary
// data travels both ways as {"HYBType": "ArrayBuffer", "data": <base64>}.
(function (global) {
    'use strict';
    if (global.hybrid) return;

    var factories = {};
    var modules = {};

    function define(id, factory) {
        if (factories.hasOwnProperty(id)) throw new Error('module ' + id + ' already defined');
        factories[id] = factory;
    }

    function require(id) {
        if (modules.hasOwnProperty(id)) return modules[id].exports;
        if (!factories.hasOwnProperty(id)) throw new Error('module ' + id + ' not found');
        var module = { id: id, exports: {} };
        modules[id] = module;
        factories[id](require, module.exports, module);
        return module.exports;
    }

    // deviceready fires once; a listener added after that still hears it, on the next turn.
    var stickyEvents = {};
    var addDocumentListener = document.addEventListener;
    document.addEventListener = function (type, listener, options) {
        addDocumentListener.call(document, type, listener, options);
        if (stickyEvents.hasOwnProperty(type) && typeof listener === 'function') {
            var event = stickyEvents[type];
            setTimeout(function () { listener.call(document, event); }, 0);
        }
    };

    function createEvent(type, data) {
        var event = document.createEvent('Events');
        event.initEvent(type, false, false);
        if (data) {
            for (var key in data) {
                if (data.hasOwnProperty(key)) event[key] = data[key];
            }
        }
        return event;
    }

    // bNoDetach dispatches at once (the pause event must run before the page is suspended);
    // otherwise on the next turn, so that the host's evaluation returns first.
    function fireEvent(target, type, data, bNoDetach) {
        var event = createEvent(type, data);
        if (bNoDetach) {
            target.dispatchEvent(event);
        } else {
            setTimeout(function () { target.dispatchEvent(event); }, 0);
        }
    }

    function fireDocumentEvent(type, data, bNoDetach) { fireEvent(document, type, data, bNoDetach); }
    function fireWindowEvent(type, data, bNoDetach) { fireEvent(global, type, data, bNoDetach); }

    define('hybrid/exec', function (require, exports, module) {
        // Calls waiting for their results, by callback id; a busy page adds and removes many.
        var callbacks = new Map();
        var nextCallback = Math.floor(Math.random() * 1000000000);
        // The part of each service name that a callback id may hold, worked out once.
        var idPrefixes = Object.create(null);
        var handler = null;
        var STATUS_NO_RESULT = 0;
        var STATUS_OK = 1;

        // The engine's own Base64 conversions where it has them: a byte at a time in script
        // is many times slower for the bridge's large payloads.
        var nativeBase64 = typeof Uint8Array.fromBase64 === 'function' &&
            typeof Uint8Array.prototype.toBase64 === 'function';

        function bytesToBase64(buffer) {
            var bytes = new Uint8Array(buffer);
            if (nativeBase64) return bytes.toBase64();
            var text = '';
            for (var i = 0; i < bytes.length; i += 0x8000) {
                text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
            }
            return btoa(text);
        }

        function base64ToBytes(text) {
            if (nativeBase64) return Uint8Array.fromBase64(text).buffer;
            var raw = atob(text);
            var bytes = new Uint8Array(raw.length);
            for (var i = 0; i < raw.length; i++) bytes[i] = raw.charCodeAt(i);
            return bytes.buffer;
        }

        function encodeArgument(arg) {
            if (arg instanceof ArrayBuffer) {
                return { HYBType: 'ArrayBuffer', data: bytesToBase64(arg) };
            }
            if (ArrayBuffer.isView(arg)) {
                var view = new Uint8Array(arg.buffer, arg.byteOffset, arg.byteLength);
                return { HYBType: 'ArrayBuffer', data: bytesToBase64(view.slice().buffer) };
            }
            return arg;
        }

        // The arguments as they are, unless binary data among them needs its envelope.
        function encodeArguments(args) {
            args = args || [];
            for (var i = 0; i < args.length; i++) {
                if (args[i] instanceof ArrayBuffer || ArrayBuffer.isView(args[i])) {
                    return args.map(encodeArgument);
                }
            }
            return args;
        }

        function idPrefixOf(service) {
            var prefix = idPrefixes[service];
            if (prefix === undefined) {
                prefix = String(service).replace(/[^A-Za-z0-9._-]/g, '');
                idPrefixes[service] = prefix;
            }
            return prefix;
        }

        function decodeMessage(message) {
            if (message && message.HYBType === 'ArrayBuffer') return base64ToBytes(message.data);
            if (message && message.HYBType === 'MultiPart') return message.messages.map(decodeMessage);
            return message;
        }

        function exec(success, fail, service, action, args) {
            args = encodeArguments(args);
            // The host drops results for "INVALID" silently: nobody listens for them.
            var callbackId = 'INVALID';
            if (success || fail) {
                callbackId = idPrefixOf(service) + nextCallback++;
                callbacks.set(callbackId, { success: success, fail: fail });
            }
            // The handler is looked up once: the page keeps it for its life.
            if (!handler) handler = global.webkit.messageHandlers.hybrid;
            handler.postMessage([callbackId, service, action, args]);
        }

        // keepCallback set: more results for the same call follow (a stream of events).
        exec.nativeCallback = function (callbackId, status, message, keepCallback, debug) {
            var callback = callbacks.get(callbackId);
            if (!callback) return;
            if (!keepCallback) callbacks.delete(callbackId);
            var ok = status === STATUS_OK || status === STATUS_NO_RESULT;
            var handle = ok ? callback.success : callback.fail;
            if (typeof handle !== 'function') return;
            try {
                handle(typeof message === 'object' ? decodeMessage(message) : message);
            } catch (e) {
                console.log('Error in ' + (ok ? 'success' : 'error') + ' callback: ' + callbackId +
                            ' = ' + e);
            }
        };

        // Calls go straight to the message handler, so there is never a queue to hand back.
        exec.nativeFetchMessages = function () {
            return '';
        };

        // An exception from func reaches the host's wrapper, which writes it to the console.
        exec.nativeEvalAndFetch = function (func) {
            func();
            return exec.nativeFetchMessages();
        };

        module.exports = exec;
    });

    global.hybrid = {
        define: define,
        require: require,
        fireDocumentEvent: fireDocumentEvent,
        fireWindowEvent: fireWindowEvent
    };

    function deviceReady() {
        var event = createEvent('deviceready');
        stickyEvents.deviceready = event;
        document.dispatchEvent(event);
    }

    if (document.readyState === 'loading') {
        addDocumentListener.call(document, 'DOMContentLoaded', deviceReady);
    } else {
        setTimeout(deviceReady, 0);
    }
})(window);
