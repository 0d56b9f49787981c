// From a Scratch 3 block to the robot and back, with the extension in
// scratch-vm (run as an editor runs it without sandbox) against the window on
// kobito-sim, over the Scratch 3 bridge:
//   - "play motion [Hop] and wait" starting -> Hop's row at the robot (goal:
//     median <= 70 ms, max <= 100 ms; the window sends one command per 50 ms
//     tick, so up to a tick of it is the pacing);
//   - the robot's "#QPT000" for the last row -> the block after the waiting
//     one runs (goal: median <= 50 ms).
// Both ends on the monotonic clock: node's hrtime and the simulator's record.
// Prints "median"/"max" lines; exits 1 when a goal is missed.
'use strict';

const path = require('node:path');
const scratch3 = path.join(__dirname, '..', '..', 'tests', 'scratch3');
const {Program, poseCommand, extensionSource, waitUntil} = require(path.join(scratch3, 'lib', 'program'));
const {Vm, B} = require(path.join(scratch3, 'lib', 'vm'));

const ROUNDS = Number(process.env.KOBITO_BENCH_ROUNDS || 30);
const hop = [31, 90, 90, 90, 90, 90, 90, 90, 90, 90, 90, 90, 0, 0, 255, 3];

const ms = ns => Number(ns) / 1e6;
const median = values => {
    const s = [...values].sort((a, b) => a - b);
    return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};

(async () => {
    const program = await Program.start({slots: {Hop: [hop]}});
    let vm = null;
    let failed = false;
    try {
        vm = await Vm.start({
            source: extensionSource(program.port),
            variables: ['after'],
            scripts: [[B.flag(), B.playAndWait('Hop'), B.set('after', 1)]]
        });
        await vm.until(() => vm.extension.ready, 'the extension to connect');
        // When the waiting block starts and when the block after it runs.
        const primitives = vm.vm.runtime._primitives;
        const play = primitives.kobitomotion_playAndWait;
        let startedNs = 0n;
        primitives.kobitomotion_playAndWait = (args, util) => {
            startedNs = process.hrtime.bigint();
            return play(args, util);
        };
        let resumedNs = 0n;
        vm.onSet('after', () => (resumedNs = process.hrtime.bigint()));

        const toRow = [];
        const toResume = [];
        const row = poseCommand(hop);
        for (let round = 0; round < ROUNDS; round++) {
            const before = program.record.lines().length;
            vm.stage().lookupVariableByNameAndType('after', '').value = 0;
            resumedNs = 0n;
            // Rounds start at varied points of the window's 50 ms tick.
            await new Promise(resolve => setTimeout(resolve, 20 + (round * 17) % 50));
            vm.greenFlag();
            await waitUntil(() => resumedNs !== 0n, 'the block after the motion');
            const lines = program.record.lines().slice(before);
            const first = lines.find(l => l.kind === 'RX' && l.text === row);
            const finished = lines.filter(l => l.kind === 'TX' && l.text === '#QPT000').pop();
            if (!first || !finished) throw new Error(`round ${round}: the robot did not play Hop through`);
            toRow.push(ms(first.ns - startedNs));
            toResume.push(ms(resumedNs - finished.ns));
        }
        const figures = [
            ['median', 'scratch3 block start -> first row', median(toRow), 70],
            ['max', 'scratch3 block start -> first row', Math.max(...toRow), 100],
            ['median', 'scratch3 last #QPT000 -> block resumes', median(toResume), 50],
            ['max', 'scratch3 last #QPT000 -> block resumes', Math.max(...toResume), null]
        ];
        for (const [kind, name, value, goal] of figures) {
            const met = goal === null || value <= goal;
            failed = failed || !met;
            console.log(`${kind.padEnd(7)} ${name.padEnd(60)} ${value.toFixed(1).padStart(8)} ms` +
                (goal === null ? '  (reported)' : `  (goal <= ${goal} ms: ${met ? 'met' : 'MISSED'})`));
        }
        console.log(`min     ${'scratch3 block start -> first row'.padEnd(60)} ${Math.min(...toRow).toFixed(1).padStart(8)} ms` +
            `  (${ROUNDS} rounds)`);
    } finally {
        if (vm) vm.stop();
        await program.stop();
    }
    process.exit(failed ? 1 : 0);
})().catch(e => {
    console.error(e);
    process.exit(1);
});
