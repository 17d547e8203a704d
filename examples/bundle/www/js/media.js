// The media services: photos from the library, the camera, the microphone, a clip's thumbnail
// and format data. Every answer is shown as the service gave it.
(function () {
    'use strict';

    var exec = hybrid.require('hybrid/exec');
    var lastClip = null;  // the path of the last clip taken, for its thumbnail and format data
    var lastFile = null;  // the path of the last file any service wrote

    function answer(label, value) {
        document.getElementById('media-answer').textContent =
            label + ': ' + JSON.stringify(value, null, 1);
        console.log('media ' + label + ': ' + JSON.stringify(value));
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
    }

    function call(label, service, action, args, then) {
        exec(function (value) {
            answer(label, value);
            if (then) then(value);
        }, function (error) {
            answer(label + ' failed', error);
        }, service, action, args);
    }

    function onClick(id, handler) {
        document.getElementById(id).addEventListener('click', handler);
    }

    // What each media file of a capture is: the picture shows, a clip is kept for later.
    function captured(files) {
        (files || []).forEach(function (file) {
            lastFile = file.fullPath;
            if (/^video\//.test(file.type || '')) lastClip = file.fullPath;
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
            [lastClip || 'media/sample.mp4', null,
                { mode: 'data', position: 1.5, resize: { width: 160, height: 160 } }],
            function (url) {
                if (typeof url === 'string') picture(url);
            });
    });
    onClick('media-format', function () {
        var path = lastClip || lastFile;
        if (!path) {
            answer('Format data', 'take a clip, a photo or a sound first');
            return;
        }
        call('Format data of ' + path, 'Capture', 'getFormatData', [path]);
    });
    onClick('media-modes', function () {
        // The capture service answers by calling this function of the page.
        navigator.device = navigator.device || {};
        navigator.device.capture = navigator.device.capture || {};
        navigator.device.capture.setSupportedModes = function (modes) {
            answer('Capture modes', modes);
        };
        exec(null, null, 'Capture', 'getMediaModes', []);
    });
})();
