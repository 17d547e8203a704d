// The file service: makes a file in the temporary file system, writes and reads it, copies and
// moves it into a folder, lists the folder and removes it, showing each answer as it comes.
(function () {
    'use strict';

    var exec = hybrid.require('hybrid/exec');
    var root = 'hybfile://localhost/temporary/';
    var output = document.getElementById('files-log');

    function show(step, answer) {
        output.textContent += step + ': ' + JSON.stringify(answer) + '\n';
    }

    // One call of the file service; the next step starts when it has answered.
    function call(action, args) {
        return new Promise(function (resolve, reject) {
            exec(function (answer) {
                show(action, answer);
                resolve(answer);
            }, function (error) {
                show(action + ' failed', error);
                reject(error);
            }, 'File', action, args);
        });
    }

    document.getElementById('files').addEventListener('click', function () {
        output.textContent = '';
        var file = root + 'demo.txt';
        var folder = root + 'copies';
        call('getFile', [root, 'demo.txt', { create: true }])
            .then(function () {
                return call('write', [file, 'Written by the page at ' + new Date().toISOString(), 0]);
            })
            .then(function () { return call('readAsText', [file, 'UTF-8', 0, -1]); })
            .then(function () { return call('getDirectory', [root, 'copies', { create: true }]); })
            .then(function () { return call('copyTo', [file, folder, 'copy.txt']); })
            .then(function () { return call('moveTo', [file, folder, 'moved.txt']); })
            .then(function () { return call('readEntries', [folder]); })
            .then(function () { return call('removeRecursively', [folder]); })
            .catch(function () { /* the failure is shown already */ });
    });
})();
