// The extension in the real Scratch 3 editor (the prebuilt scratch-gui,
// served from 127.0.0.1) in headless Chromium, against the real program on
// the simulator: it loads, its blocks are in the palette, and the green flag
// plays a motion. With KOBITO_SCRATCH3_SHOTS=DIR it also leaves pictures of
// the palette there for the user guide.
'use strict';

const {test, after} = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const {Program, poseCommand, extensionSource} = require('./lib/program');
const {B, buildProject} = require('./lib/vm');
const {Browser, serveEditor, chromiumPath} = require('./lib/browser');

const row = (first, time) => [first, 90, 90, 90, 90, 90, 90, 90, 90, 90, 90, 90, 0, 0, 255, time];
const SLOTS = {Walk: [row(11, 5), row(12, 5), row(13, 5)], Wave: [row(41, 5)], Bow: [row(51, 5)]};
const shots = process.env.KOBITO_SCRATCH3_SHOTS;

const skip = chromiumPath() ? false : 'no chromium on this machine';
let browser = null;
after(async () => {
    if (browser) await browser.close();
});

for (const mode of ['unsandboxed', 'sandboxed']) {
    test(`${mode}: the extension loads into the editor and the green flag plays Walk`, {skip}, async t => {
        const program = await Program.start({slots: SLOTS});
        const server = await serveEditor({'/kobito-motion.js': extensionSource(program.port)});
        const base = `http://127.0.0.1:${server.address().port}`;
        try {
            browser = browser || await Browser.launch();
            const page = await browser.newPage(base + '/');
            await page.until('typeof editorVm === "function" && editorVm().runtime.targets.length > 1',
                'the editor with its default project');

            const load = mode === 'unsandboxed' ? 'loadUnsandboxed' : 'loadSandboxed';
            await page.eval(`${load}(${JSON.stringify(base + '/kobito-motion.js')}).then(() => true)`);
            await page.until('editorVm().runtime._blockInfo.some(c => c.id === "kobitomotion")',
                'the extension\'s blocks');

            const project = buildProject([
                [B.flag(), B.set('after', 0), B.waitUntil(B.connected()), B.playAndWait('Walk'),
                    B.set('status', B.status()), B.set('after', 1)]
            ], ['after', 'status']);
            await page.eval(`editorVm().loadProject(${JSON.stringify(JSON.stringify(project))}).then(() => true)`);
            // The green flag above the stage, clicked as a person clicks it.
            const flag = await page.eval(`(() => {
                const r = document.querySelector('img[title="Go"]').getBoundingClientRect();
                return {x: r.x + r.width / 2, y: r.y + r.height / 2};
            })()`);
            for (const type of ['mousePressed', 'mouseReleased']) {
                await browser.send('Input.dispatchMouseEvent',
                    {type, x: flag.x, y: flag.y, button: 'left', clickCount: 1}, page.sessionId);
            }
            const variable = name => `editorVm().runtime.getTargetForStage().lookupVariableByNameAndType("${name}", "").value`;
            await page.until(`String(${variable('after')}) === "1"`, 'the block after "play motion [Walk] and wait"');
            assert.deepEqual(program.record.rows(), SLOTS.Walk.map(poseCommand));
            assert.equal(await page.eval(variable('status')), 'connected');

            if (shots && mode === 'unsandboxed') await palettePictures(page, browser);
        } catch (e) {
            t.diagnostic(program.describe());
            throw e;
        } finally {
            server.close();
            await program.stop();
        }
    });
}

// The KOBITO Motion category of the palette, with the slot menu open.
async function palettePictures (page, b) {
    fs.mkdirSync(shots, {recursive: true});
    const click = async expression => {
        const p = await page.eval(`(() => {
            const r = (${expression}).getBoundingClientRect();
            return {x: r.x + r.width / 2, y: r.y + r.height / 2};
        })()`);
        for (const type of ['mousePressed', 'mouseReleased']) {
            await b.send('Input.dispatchMouseEvent', {type, x: p.x, y: p.y, button: 'left', clickCount: 1},
                page.sessionId);
        }
    };
    await click('[...document.querySelectorAll(".blocklyToolboxCategory")].find(e => /KOBITO/.test(e.textContent))');
    // The flyout scrolls to the category.
    await new Promise(resolve => setTimeout(resolve, 1500));
    await page.screenshot(path.join(shots, 'scratch3-blocks.png'), {x: 0, y: 92, width: 312, height: 360});
    await click('[...document.querySelectorAll(".blocklyFlyout text")].find(e => e.textContent.trim() === "Walk")');
    await new Promise(resolve => setTimeout(resolve, 800));
    await page.screenshot(path.join(shots, 'scratch3-slot-menu.png'), {x: 0, y: 92, width: 312, height: 260});
}
