// A database and the device facts: opens a database, fills a table inside one transaction,
// reads it back and shows each answer the host gives.
(function () {
    'use strict';

    var exec = hybrid.require('hybrid/exec');
    var DB = 'example.db';

    function show(text) {
        var item = document.createElement('li');
        item.textContent = text;
        document.getElementById('storage-answers').appendChild(item);
    }

    function sql(text, params) {
        return { sql: text, params: params || [] };
    }

    function batch(statements, done) {
        exec(function (replies) {
            replies.forEach(function (reply, i) {
                show(statements[i].sql + ' → ' + reply.type + ' ' + JSON.stringify(reply.result));
            });
            if (done) done(replies);
        }, function (error) {
            show('batch failed: ' + JSON.stringify(error));
        }, 'SQLitePlugin', 'backgroundExecuteSqlBatch',
        [{ dbargs: { dbname: DB }, executes: statements }]);
    }

    function fill() {
        var names = ['apple', 'pear', 'plum'];
        var statements = [
            sql('CREATE TABLE IF NOT EXISTS fruit (id INTEGER PRIMARY KEY, name TEXT, weight REAL)'),
            sql('BEGIN')
        ];
        names.forEach(function (name, i) {
            statements.push(sql('INSERT INTO fruit (name, weight) VALUES (?, ?)', [name, 0.1 + i / 10]));
        });
        statements.push(sql('COMMIT'));
        batch(statements, function () {
            batch([sql('SELECT id, name, weight FROM fruit ORDER BY id DESC LIMIT 3')]);
        });
    }

    // The database is opened once for the page's life and shared by both buttons; it stays
    // open across reloads of the page, when the host answers that it is open already.
    var opened = false;
    function withDatabase(then, fail) {
        if (opened) return then();
        exec(function (message) {
            opened = true;
            show('open: ' + message);
            then();
        }, function (error) {
            if (/already open/.test(error)) {
                opened = true;
                then();
            } else {
                fail(error);
            }
        }, 'SQLitePlugin', 'open', [{ name: DB, dblocation: 'docs' }]);
    }

    function openDatabase() {
        withDatabase(fill, function (error) { show('open: ' + error); });
    }

    // A table of many rows read back by one statement: an answer this large reaches the page
    // in pieces while the host still reads the rows, and the callback gets it whole.
    function manyRows() {
        var started = performance.now();
        var fail = function (error) { show('many rows failed: ' + JSON.stringify(error)); };
        var select = function () {
            var asked = performance.now();
            exec(function (answer) {
                var last = answer.rows[answer.rows.length - 1];
                show('SELECT * FROM many → ' + answer.rows.length + ' rows in ' +
                     Math.round(performance.now() - asked) + ' ms, the last ' + JSON.stringify(last));
            }, fail, 'SQLitePlugin', 'executeSql',
            [{ dbargs: { dbname: DB }, ex: sql('SELECT * FROM many ORDER BY n') }]);
        };
        var fillMany = function () {
            exec(function () {
                show('filled 300000 rows in ' + Math.round(performance.now() - started) + ' ms');
                select();
            }, fail, 'SQLitePlugin', 'backgroundExecuteSqlBatch', [{ dbargs: { dbname: DB }, executes: [
                sql('DROP TABLE IF EXISTS many'),
                sql('CREATE TABLE many (n INTEGER, label TEXT, x REAL)'),
                sql('WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c LIMIT 300000) ' +
                    "INSERT INTO many SELECT i, 'row ' || i || ' – ✓', i / 4.0 FROM c")] }]);
        };
        withDatabase(fillMany, fail);
    }

    function deviceFacts() {
        exec(function (info) {
            show('device: ' + JSON.stringify(info));
        }, function (error) {
            show('device failed: ' + JSON.stringify(error));
        }, 'Device', 'getDeviceInfo', []);
    }

    document.getElementById('storage').addEventListener('click', openDatabase);
    document.getElementById('many-rows').addEventListener('click', manyRows);
    document.getElementById('device').addEventListener('click', deviceFacts);
})();
