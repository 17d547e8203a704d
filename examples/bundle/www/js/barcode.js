// Encodes a text as a QR code picture and scans it back with the camera. The camera that
// tools/dev run gives the host (--camera page:CLIP) shows the newest picture in the
// application's temporary folder, where the encoder writes: the code just made is what it sees.
// With "#barcode-demo" in the start page's address, the page runs this once at start.
(function () {
    'use strict';

    var exec = hybrid.require('hybrid/exec');

    function show(text) {
        document.getElementById('barcode-result').textContent = text;
        console.log('barcode: ' + text);
    }

    function scanBack(expected) {
        exec(function (read) {
            if (read.cancelled) {
                show('Scan cancelled');
            } else {
                show('Scanned back: ' + read.text + ' (' + read.format + ')' +
                     (read.text === expected ? ', as encoded' : ', not what was encoded'));
            }
        }, function (error) {
            show('Scan failed: ' + error +
                 ' (is the camera pointed at the temporary folder? See js/barcode.js.)');
        }, 'BarcodeScanner', 'scan', [{ formats: 'QR_CODE', showFlipCameraButton: true,
                                        showTorchButton: true }]);
    }

    function encodeAndScan() {
        var text = document.getElementById('barcode-text').value;
        show('Encoding…');
        exec(function (made) {
            document.getElementById('barcode-file').textContent = 'Written to ' + made.file;
            show('Encoded as ' + made.format + '; scanning it back…');
            scanBack(text);
        }, function (error) {
            show('Encoding failed: ' + error);
        }, 'BarcodeScanner', 'encode', [{ data: text }]);
    }

    document.getElementById('barcode').addEventListener('click', encodeAndScan);
    document.addEventListener('deviceready', function () {
        if (location.hash === '#barcode-demo') encodeAndScan();
    });
})();
