// The extension in scratch-vm (headless) against the real program: the
// window on the simulator with its Scratch 3 bridge on. Each test starts its
// own program and VM; the cases that both editor modes share run in both.
'use strict';

const {test, describe, afterEach} = require('node:test');
const assert = require('node:assert/strict');
const {Program, Client, poseCommand, extensionSource} = require('./lib/program');
const {Vm, B} = require('./lib/vm');

const row = (first, time) => [first, 90, 90, 90, 90, 90, 90, 90, 90, 90, 90, 90, 0, 0, 255, time];
const SLOTS = {
    // 50 ms a row on the simulator's 10 ms unit.
    Walk: [row(11, 5), row(12, 5), row(13, 5)],
    // Three seconds a row: still playing when the test acts.
    Slow: [row(21, 300), row(22, 300)],
    Hop: [row(31, 10)]
};
const rowsOf = name => SLOTS[name].map(poseCommand);

let program = null;
let vm = null;
afterEach(async t => {
    if (vm) vm.stop();
    vm = null;
    if (program) {
        if (t.passed === false) t.diagnostic(program.describe());
        await program.stop();
    }
    program = null;
});

async function start ({scripts, variables = [], sandboxed = false, origin, slots = SLOTS, answer} = {}) {
    program = await Program.start({slots, answer});
    vm = await Vm.start({source: extensionSource(program.port), scripts, variables, sandboxed, origin});
    await vm.until(() => vm.extension.ready, 'the extension to connect');
    return {program, vm};
}

// The simulator's record as it was when a "set VARIABLE" block ran.
function recordWhenSet (v, p, variable) {
    const seen = [];
    v.onSet(variable, value => seen.push({value, lines: p.record.lines()}));
    return seen;
}

// After the last pose command of `rows`: the robot's "#QPT000", i.e. the list played through.
function playedThrough (lines, rows) {
    const last = lines.findLastIndex(l => l.kind === 'RX' && l.text === rows[rows.length - 1]);
    return last >= 0 && lines.slice(last).some(l => l.kind === 'TX' && l.text === '#QPT000');
}

for (const mode of [{name: 'unsandboxed', sandboxed: false}, {name: 'sandboxed', sandboxed: true}]) {
    describe(`${mode.name}:`, () => {
        test('green flag plays Walk through, then the next block runs', async () => {
            const {program: p, vm: v} = await start({
                sandboxed: mode.sandboxed,
                variables: ['after'],
                scripts: [[B.flag(), B.set('after', 0), B.playAndWait('Walk'), B.set('after', 1)]]
            });
            const seen = recordWhenSet(v, p, 'after');
            v.greenFlag();
            await v.until(() => v.number('after') === 1, 'the block after the motion');
            assert.deepEqual(p.record.rows(), rowsOf('Walk'));
            const atNext = seen.find(s => Number(s.value) === 1).lines;
            assert.ok(playedThrough(atNext, rowsOf('Walk')),
                'the next block ran before the robot reported the last row finished');
            assert.equal(v.running(), 0);
        });

        test('a reporter in the slot menu names the motion', async () => {
            for (const [what, slot] of [
                ['a variable', B.variable('name')],
                ['join', B.join('Wa', 'lk')]
            ]) {
                const {program: p, vm: v} = await start({
                    sandboxed: mode.sandboxed,
                    variables: ['after', 'name'],
                    scripts: [[B.flag(), B.set('after', 0), B.set('name', 'Walk'), B.playAndWait(slot),
                        B.set('after', 1)]]
                });
                v.greenFlag();
                await v.until(() => v.number('after') === 1, `the motion named by ${what}`);
                assert.deepEqual(p.record.rows(), rowsOf('Walk'), what);
                vm.stop();
                vm = null;
                await program.stop();
                program = null;
            }
        });

        test('"when motion done" runs once per list end', async () => {
            const {vm: v} = await start({
                sandboxed: mode.sandboxed,
                variables: ['after', 'dones'],
                scripts: [
                    [B.flag(), B.set('after', 0), B.playAndWait('Walk'), B.playAndWait('Hop'), B.set('after', 1)],
                    [B.whenDone(), B.change('dones', 1)]
                ]
            });
            const observer = await Client.open(program.port);
            v.greenFlag();
            await v.until(() => v.number('after') === 1, 'both motions');
            await v.until(() => v.number('dones') === 2, 'two runs of the hat');
            assert.equal(observer.of('done').length, 2);
            // No third run from the same list ends.
            await v.frames(10);
            assert.equal(v.number('dones'), 2);
            await observer.close();
        });

        test('losing the connection ends the wait; the extension connects again', async () => {
            const {program: p, vm: v} = await start({
                sandboxed: mode.sandboxed,
                variables: ['after', 'status'],
                scripts: [[B.flag(), B.set('after', 0), B.playAndWait('Slow'), B.set('status', B.status()),
                    B.set('after', 1)]]
            });
            v.greenFlag();
            await v.until(() => p.record.rows().length === 1, 'the first row of Slow');
            await p.command('switch off');
            await v.until(() => v.number('after') === 1, 'the waiting block to end');
            assert.match(String(v.variable('status')), /lost/);
            await p.command('switch on');
            await v.until(() => v.extension.ready, 'the extension to connect again', 15000);
        });
    });
}

test('the stop sign ends the wait and stops the robot', async () => {
    const {program: p, vm: v} = await start({
        variables: ['after'],
        scripts: [[B.flag(), B.set('after', 0), B.playAndWait('Slow'), B.set('after', 1)]]
    });
    const observer = await Client.open(p.port);
    v.greenFlag();
    await v.until(() => p.record.rows().length === 1, 'the first row of Slow');
    v.stopSign();
    await observer.until(m => m.type === 'status' && m.playing === false, 'the program to stop playing');
    assert.equal(v.running(), 0);
    assert.equal(v.number('after'), 0);
    // The robot gets the next motion at once, not Slow's second row.
    observer.send({type: 'play', id: 7, slot: 'Walk'});
    await observer.until(m => m.type === 'result' && m.id === 7, 'the observer\'s play');
    assert.deepEqual(p.record.rows(), [rowsOf('Slow')[0], ...rowsOf('Walk')]);
    await observer.close();
});

test('a green flag during a play waits for the new play, not the end of the old one', async () => {
    const {program: p, vm: v} = await start({
        variables: ['after', 'dones'],
        scripts: [
            [B.flag(), B.set('after', 0), B.playAndWait('Walk'), B.set('after', 1)],
            [B.whenDone(), B.change('dones', 1)]
        ]
    });
    const seen = recordWhenSet(v, p, 'after');
    v.greenFlag();
    await v.until(() => p.record.rows().length === 1, 'the first row of Walk');
    v.greenFlag();
    await v.until(() => v.number('after') === 1, 'the block after the second play');
    const atNext = seen.find(s => Number(s.value) === 1).lines;
    const rows = atNext.filter(l => l.kind === 'RX' && l.text.startsWith('#P')).map(l => l.text);
    assert.deepEqual(rows.slice(-3), rowsOf('Walk'), 'the second play went out whole');
    assert.ok(playedThrough(atNext, rowsOf('Walk')), 'the wait ended before the second play did');
    await v.until(() => v.number('dones') >= 1, 'the hat');
    await v.frames(10);
    assert.equal(v.number('dones'), 1, 'the stopped play has no list end');
});

test('start motion, motion playing?, stop motion and robot connected?', async () => {
    const {program: p, vm: v} = await start({
        variables: ['after', 'connected', 'playing'],
        scripts: [[B.flag(), B.set('after', 0), B.set('connected', B.connected()), B.start('Slow'),
            B.waitUntil(B.playing()), B.set('playing', 1), B.stop(), B.waitUntil(B.not(B.playing())),
            B.set('after', 1)]]
    });
    v.greenFlag();
    await v.until(() => v.number('after') === 1, 'the script to end');
    assert.equal(String(v.variable('connected')), 'true');
    // "playing" turns true as the list starts, before its first tick: the
    // stop may come before the first row or after it, never later.
    const sent = p.record.rows();
    assert.ok(sent.length <= 1, `rows after the stop: ${sent.length}`);
    assert.deepEqual(sent, rowsOf('Slow').slice(0, sent.length));
    await p.command('port close');
    await v.until(() => v.extension.isConnected() === false, '"robot connected?" to turn false');
    assert.match(v.extension.connectionStatus(), /port to the robot is closed/);
});

test('a name no slot has ends the wait at once and says why', async () => {
    const {program: p, vm: v} = await start({
        variables: ['after', 'status'],
        scripts: [[B.flag(), B.set('after', 0), B.playAndWait('Nope'), B.set('status', B.status()),
            B.set('after', 1)]]
    });
    v.greenFlag();
    await v.until(() => v.number('after') === 1, 'the block after the refused play');
    assert.match(String(v.variable('status')), /^"Nope": ./);
    assert.deepEqual(p.record.rows(), []);
});

test('without the program, a play ends at once and the status says why', async () => {
    const {freePort} = require('./lib/program');
    const port = await freePort();
    vm = await Vm.start({
        source: extensionSource(port),
        variables: ['after', 'status'],
        scripts: [[B.flag(), B.set('after', 0), B.playAndWait('Walk'), B.set('status', B.status()),
            B.set('after', 1)]]
    });
    vm.greenFlag();
    await vm.until(() => vm.number('after') === 1, 'the block after the play');
    assert.match(String(vm.variable('status')), /KOBITO Motion is not running, or its "Scratch 3" switch is off/);
});
