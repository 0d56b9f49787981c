// The bridge's handshake as a browser meets it: the page's Origin and the
// Host it names. Each case starts the program with its own settings file; a
// question is answered as the case says, and nothing reaches the robot from a
// connection that was refused.
'use strict';

const {test, afterEach} = require('node:test');
const assert = require('node:assert/strict');
const {Program, Client, waitUntil} = require('./lib/program');

// Tries until check() holds: the answer to a question reaches the bridge a moment after it is given.
async function eventually (check, what, timeoutMs = 10000) {
    const started = Date.now();
    while (!(await check())) {
        if (Date.now() - started > timeoutMs) throw new Error(`timed out waiting for ${what}`);
        await new Promise(resolve => setTimeout(resolve, 50));
    }
}

const row = [11, 90, 90, 90, 90, 90, 90, 90, 90, 90, 90, 90, 0, 0, 255, 5];
let program = null;
afterEach(async t => {
    if (program) {
        if (t.passed === false) t.diagnostic(program.describe());
        await program.stop();
    }
    program = null;
});

const question = origin => `Allow Scratch from ${origin}?`;
const questions = p => p.printed('DIALOG yes').concat(p.printed('DIALOG no'));

async function refused (port, options) {
    try {
        const c = await Client.open(port, options);
        await c.close();
    } catch (e) {
        return e;
    }
    return null;
}

// An open connection plays a slot: the refused ones must not have.
async function playsThrough (port, origin) {
    const c = await Client.open(port, {origin});
    c.send({type: 'play', id: 1, slot: 'Walk'});
    const result = await c.until(m => m.type === 'result' && m.id === 1, 'the result');
    await c.close();
    return result.result;
}

for (const c of [
    {origin: 'https://turbowarp.org', answer: 'no', opens: true, asked: false},
    {origin: 'https://evil.example', answer: 'no', opens: false, asked: true, remembered: '0'},
    {origin: 'https://friendly.example', answer: 'yes', opens: true, asked: true, remembered: '1'},
    {origin: 'null', answer: 'yes', opens: true, asked: true, remembered: '1'}
]) {
    test(`Origin ${c.origin}: ${c.opens ? 'connects' : 'refused'}${c.asked ? ', asked once' : ''}`, async () => {
        program = await Program.start({slots: {Walk: [row]}, answer: c.answer});
        const first = await refused(program.port, {origin: c.origin});
        if (c.asked) {
            // Refused while the program asks; the page's next try meets the answer.
            assert.equal(first && first.status, 403, first && first.message);
            await waitUntil(() => questions(program).length > 0, 'the question');
        } else {
            assert.equal(first, null);
        }
        if (c.opens) {
            await eventually(async () => (await refused(program.port, {origin: c.origin})) === null,
                'a connection after Yes');
        } else {
            await eventually(async () => /was refused/.test(String(
                (await refused(program.port, {origin: c.origin})).body)), 'the refusal after No');
            const again = await refused(program.port, {origin: c.origin});
            assert.equal(again && again.status, 403);
        }
        assert.deepEqual(questions(program), c.asked ? [question(c.origin)] : []);
        if (c.opens) assert.equal(await playsThrough(program.port, c.origin), 'done');
        else assert.deepEqual(program.record.rows(), []);
        await program.quitWindow();
        const line = new RegExp(`^${c.origin.replace(/[.*+?^${}()|[\]\\/]/g, '\\$&')}=(\\d)\\r?$`, 'm');
        const remembered = line.exec(program.settingsText());
        assert.equal(remembered ? remembered[1] : undefined, c.remembered);
    });
}

test('an answer in the settings file is not asked again', async () => {
    program = await Program.start({
        slots: {Walk: [row]},
        origins: {'https://evil.example': false, 'https://friendly.example': true}
    });
    assert.equal((await refused(program.port, {origin: 'https://evil.example'})).status, 403);
    assert.equal(await refused(program.port, {origin: 'https://friendly.example'}), null);
    assert.deepEqual(questions(program), []);
});

test('Host must name this computer and the port (DNS rebinding)', async () => {
    program = await Program.start({slots: {Walk: [row]}});
    const port = program.port;
    for (const [host, opens] of [
        [`127.0.0.1:${port}`, true],
        [`localhost:${port}`, true],
        [`evil.example:${port}`, false],
        [`127.0.0.1:${port + 1}`, false],
        ['127.0.0.1', false]
    ]) {
        const e = await refused(port, {origin: 'https://turbowarp.org', host});
        if (opens) assert.equal(e, null, host);
        else assert.equal(e && e.status, 403, `${host}: ${e && e.message}`);
    }
    assert.deepEqual(program.record.rows(), []);
});
