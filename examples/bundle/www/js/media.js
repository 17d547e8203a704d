// The media services: photos from the library, the camera, the microphone, a clip's thumbnail
// and format data. Every answer is shown as the service gave it, but for pictures, which show
// as pictures, and error codes, which come with their names.
(function () {
    'use strict';

    var exec = hybrid.require('hybrid/exec');
    var lastClip = null;  // the path of the last clip taken, for its format data
    var lastClipURL = null;  // its URL, for its thumbnail (a plain path names a bundle file)
    var lastFile = null;  // the path of the last file any service wrote

    // The capture service's error codes and what they mean.
    var captureErrors = {
        0: 'HYBCaptureErrorInternal: the capture failed',
        1: 'HYBCaptureErrorApplicationBusy: the recorder is already open',
        2: 'HYBCaptureErrorInvalidArgument: no media type is known for the file',
        3: 'HYBCaptureErrorNoMediaFiles: nothing was captured',
        20: 'HYBCaptureErrorNotSupported: this device cannot capture that'
    };

    function show(text) {
        document.getElementById('media-answer').textContent = text;
        console.log('media ' + text);
    }

    function answer(label, value) {
        show(label + ': ' + JSON.stringify(value, null, 1));
    }

    // An error answer, with the name of its code where it has one.
    function failed(label, error) {
        var name = error && typeof error === 'object' ? captureErrors[error.code] : undefined;
        show(label + ' failed: ' + JSON.stringify(error) + (name ? ' (' + name + ')' : ''));
    }

    // A file of the container as the page can show it: through the application's scheme.
    function shown(fileURL) {
        return location.origin + '/_app_file_' + fileURL.replace(/^file:\/\//, '');
    }

    function picture(src) {
        var img = document.createElement('img');
        img.src = src;
        img.className = 'media-picture';
        document.getElementById('media-pictures').appendChild(img);
        return img;
    }

    // `then` takes the answer; without `describe` it is shown as it came.
    function call(label, service, action, args, then, describe) {
        exec(function (value) {
            if (describe) describe(value); else answer(label, value);
            if (then) then(value);
        }, function (error) {
            failed(label, error);
        }, service, action, args);
    }

    // A picture answered as a data URL: shown, and described by its size rather than its text.
    function showDataPicture(label, url) {
        if (typeof url !== 'string' || url.indexOf('data:') !== 0) {
            answer(label, url);
            return;
        }
        var encoded = url.slice(url.indexOf(',') + 1);
        var bytes = Math.floor(encoded.length * 3 / 4) - (encoded.match(/=*$/)[0].length);
        var type = url.slice(5, url.search(/[;,]/));
        var img = picture(url);
        show(label + ': a ' + type + ' picture of ' + bytes + ' bytes, shown below');
        img.addEventListener('load', function () {
            show(label + ': a ' + img.naturalWidth + ' × ' + img.naturalHeight + ' ' + type +
                 ' picture of ' + bytes + ' bytes, shown below');
        });
    }

    function onClick(id, handler) {
        document.getElementById(id).addEventListener('click', handler);
    }

    // What each media file of a capture is: the picture shows, a clip is kept for later.
    function captured(files) {
        (files || []).forEach(function (file) {
            lastFile = file.fullPath;
            if (/^video\//.test(file.type || '')) {
                lastClip = file.fullPath;
                lastClipURL = file.localURL || 'file://' + encodeURI(file.fullPath);
            }
            if (/^image\//.test(file.type || '')) picture(shown('file://' + file.fullPath));
        });
    }

    onClick('media-pick', function () {
        call('Picked photos', 'ImagePicker', 'getPictures',
            [{ maximumImagesCount: 2, width: 400, height: 400, quality: 80 }], function (urls) {
                (urls || []).forEach(function (url) {
                    lastFile = decodeURIComponent(url.replace(/^file:\/\//, ''));
                    picture(shown(url));
                });
            });
    });
    onClick('media-photo', function () {
        call('Photo', 'Capture', 'captureImage', [{}], captured);
    });
    onClick('media-video', function () {
        call('Clip', 'Capture', 'captureVideo', [{ duration: 5 }], captured);
    });
    onClick('media-audio', function () {
        call('Sound', 'Capture', 'captureAudio', [{ duration: 5 }], captured);
    });
    onClick('media-thumbnail', function () {
        // The last clip taken, else the clip that comes with the application.
        call('Thumbnail', 'VideoThumbnail', 'createThumbnail',
            [lastClipURL || 'media/sample.mp4', null,
                { mode: 'data', position: 1.5, resize: { width: 160, height: 160 } }],
            null, function (url) { showDataPicture('Thumbnail', url); });
    });
    onClick('media-format', function () {
        var path = lastClip || lastFile;
        if (!path) {
            show('Format data: take a clip, a photo or a sound first');
            return;
        }
        call('Format data of ' + path, 'Capture', 'getFormatData', [path]);
    });
    onClick('media-modes', function () {
        // The capture service answers by calling this function of the page.
        navigator.device = navigator.device || {};
        navigator.device.capture = navigator.device.capture || {};
        navigator.device.capture.setSupportedModes = function (modes) {
            // Each kind with the types this host captures it in, or "none".
            show('Capture modes:' + ['image', 'video', 'audio'].map(function (kind) {
                var types = (modes && modes[kind] || []).map(function (mode) {
                    return mode.type;
                });
                return '\n ' + kind + ': ' + (types.length ? types.join(', ') : 'none');
            }).join(''));
        };
        exec(null, null, 'Capture', 'getMediaModes', []);
    });
})();
