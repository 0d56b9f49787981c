// scratch-vm (headless, in node) with the extension loaded as an editor loads
// it: unsandboxed (with Scratch.vm, as TurboWarp runs a file loaded "without
// sandbox") or sandboxed (no Scratch.vm, getInfo asked for asynchronously, as
// in a worker or an iframe), and projects built from a small description.
'use strict';

const VirtualMachine = require('scratch-vm');
const WsWebSocket = require('ws');
const {waitUntil} = require('./program');

const ArgumentType = {
    ANGLE: 'angle', BOOLEAN: 'Boolean', COLOR: 'color', NUMBER: 'number', STRING: 'string',
    MATRIX: 'matrix', NOTE: 'note', IMAGE: 'image'
};
const BlockType = {
    BOOLEAN: 'Boolean', BUTTON: 'button', COMMAND: 'command', CONDITIONAL: 'conditional',
    EVENT: 'event', HAT: 'hat', LOOP: 'loop', REPORTER: 'reporter'
};
const TargetType = {SPRITE: 'sprite', STAGE: 'stage'};

// A browser's WebSocket sends its page's Origin; node's test client does the same.
function webSocketFrom (origin) {
    return class extends WsWebSocket {
        constructor (url) {
            super(url, origin ? {origin} : {});
        }
    };
}

async function loadExtension (vm, source, {sandboxed = false, origin = 'https://turbowarp.org'} = {}) {
    let registered = null;
    const Scratch = {
        ArgumentType,
        BlockType,
        TargetType,
        extensions: {
            unsandboxed: !sandboxed,
            register: extension => {
                registered = extension;
            }
        }
    };
    if (!sandboxed) Scratch.vm = vm;
    // The file's own text, run with this Scratch object and this WebSocket.
    // eslint-disable-next-line no-new-func
    new Function('Scratch', 'WebSocket', source)(Scratch, webSocketFrom(origin));
    if (!registered) throw new Error('the extension registered nothing');
    // Sandboxed editors ask for the blocks through a message and wait for the answer.
    const info = await registered.getInfo();
    const own = Object.prototype.hasOwnProperty.call(registered, 'getInfo');
    if (sandboxed) registered.getInfo = () => info;
    const serviceName = vm.extensionManager._registerInternalExtension(registered);
    if (sandboxed && !own) delete registered.getInfo;
    vm.extensionManager._loadedExtensions.set(info.id, serviceName);
    return {extension: registered, info};
}

// Projects: a script is a list of blocks, the first its hat. A block is
// {opcode, inputs: {NAME: value}, fields: {NAME: value}}; an input's value is
// text, a number, or a reporter block. Slot inputs take the menu's shadow.
const block = (opcode, inputs = {}, fields = {}) => ({opcode, inputs, fields});
const ext = name => 'kobitomotion_' + name;
const B = {
    flag: () => block('event_whenflagclicked'),
    whenDone: () => block(ext('whenMotionDone')),
    playAndWait: slot => block(ext('playAndWait'), {SLOT: {slot}}),
    start: slot => block(ext('startMotion'), {SLOT: {slot}}),
    stop: () => block(ext('stopMotion')),
    playing: () => block(ext('isPlaying')),
    connected: () => block(ext('isConnected')),
    status: () => block(ext('connectionStatus')),
    set: (variable, value) => block('data_setvariableto', {VALUE: value}, {VARIABLE: variable}),
    change: (variable, by) => block('data_changevariableby', {VALUE: by}, {VARIABLE: variable}),
    variable: name => ({variable: name}),
    join: (a, b) => block('operator_join', {STRING1: a, STRING2: b}),
    not: operand => block('operator_not', {OPERAND: operand}),
    waitUntil: condition => block('control_wait_until', {CONDITION: condition}),
    wait: seconds => block('control_wait', {DURATION: seconds}),
    forever: body => block('control_forever', {SUBSTACK: {stack: body}})
};

function buildProject (scripts, variableNames) {
    const blocks = {};
    const variables = {};
    let nextId = 0;
    const newId = () => 'b' + (nextId++);
    for (const name of variableNames) variables['v_' + name] = [name, 0];

    const literal = value => (typeof value === 'number' ? [4, String(value)] : [10, String(value)]);

    function addBlock (node, parent) {
        const id = newId();
        const b = {opcode: node.opcode, next: null, parent, inputs: {}, fields: {}, shadow: false, topLevel: !parent};
        if (!parent) {
            b.x = 0;
            b.y = 0;
        }
        blocks[id] = b;
        for (const [name, value] of Object.entries(node.fields)) b.fields[name] = [value, 'v_' + value];
        for (const [name, value] of Object.entries(node.inputs)) {
            if (value && value.slot !== undefined) {
                // The menu's shadow, with a reporter over it where one was dropped in.
                const menu = newId();
                const text = typeof value.slot === 'string' ? value.slot : 'Walk';
                blocks[menu] = {
                    opcode: ext('menu_slots'), next: null, parent: id, inputs: {},
                    fields: {slots: [text, null]}, shadow: true, topLevel: false
                };
                b.inputs[name] = typeof value.slot === 'string' ?
                    [1, menu] : [3, reporter(value.slot, id), menu];
            } else if (value && value.stack) {
                b.inputs[name] = [2, addStack(value.stack, id)];
            } else if (value && (value.opcode || value.variable)) {
                b.inputs[name] = name === 'CONDITION' || name === 'OPERAND' ?
                    [2, reporter(value, id)] : [3, reporter(value, id), literal('')];
            } else {
                b.inputs[name] = [1, literal(value)];
            }
        }
        return id;
    }
    function reporter (node, parent) {
        if (node.variable) return [12, node.variable, 'v_' + node.variable];
        return addBlock(node, parent);
    }
    function addStack (nodes, parent) {
        let first = null;
        let previous = null;
        for (const node of nodes) {
            const id = addBlock(node, previous || parent);
            if (previous) {
                blocks[previous].next = id;
                blocks[id].topLevel = false;
            } else {
                first = id;
            }
            previous = id;
        }
        return first;
    }
    for (const script of scripts) addStack(script, null);

    return {
        targets: [{
            isStage: true, name: 'Stage', variables, lists: {}, broadcasts: {}, blocks, comments: {},
            currentCostume: 0,
            // No storage: the backdrop is named, never drawn.
            costumes: [{
                name: 'backdrop1', dataFormat: 'svg', assetId: 'cd21514d0531fdffb22204e0ec5ed84a',
                md5ext: 'cd21514d0531fdffb22204e0ec5ed84a.svg', rotationCenterX: 240, rotationCenterY: 180
            }],
            sounds: [], volume: 100, layerOrder: 0, tempo: 60,
            videoTransparency: 50, videoState: 'on', textToSpeechLanguage: null
        }],
        monitors: [],
        extensions: ['kobitomotion'],
        meta: {semver: '3.0.0', vm: '5.0.300', agent: 'kobito-motion tests'}
    };
}

class Vm {
    // A running VM with the extension and a project loaded.
    static async start ({source, scripts, variables = [], sandboxed = false, origin}) {
        const v = new Vm();
        v.vm = new VirtualMachine();
        v.vm.runtime.on('RUNTIME_ERROR', e => console.error('scratch-vm:', e));
        const {extension} = await loadExtension(v.vm, source, {sandboxed, origin});
        v.extension = extension;
        await v.vm.loadProject(buildProject(scripts, variables));
        v.vm.start();
        return v;
    }

    stage () {
        return this.vm.runtime.getTargetForStage();
    }

    variable (name) {
        const found = this.stage().lookupVariableByNameAndType(name, '');
        return found ? found.value : undefined;
    }

    // A variable's value as a number (blocks store "1" for 1).
    number (name) {
        return Number(this.variable(name));
    }

    // Calls fn(value) each time a "set VARIABLE to" block runs, as it runs.
    onSet (variable, fn) {
        if (!this.setListeners) {
            this.setListeners = [];
            const primitives = this.vm.runtime._primitives;
            const original = primitives.data_setvariableto;
            primitives.data_setvariableto = (args, util) => {
                for (const l of this.setListeners) if (l.variable === args.VARIABLE.name) l.fn(args.VALUE);
                return original(args, util);
            };
        }
        this.setListeners.push({variable, fn});
    }

    // Resolves after the VM has stepped n more frames.
    frames (n) {
        const runtime = this.vm.runtime;
        const original = runtime._step;
        let left = n;
        return new Promise(resolve => {
            runtime._step = function () {
                original.call(this);
                if (--left === 0) {
                    runtime._step = original;
                    resolve();
                }
            };
        });
    }

    greenFlag () {
        this.vm.greenFlag();
    }

    stopSign () {
        this.vm.stopAll();
    }

    running () {
        return this.vm.runtime.threads.filter(t => !t.isKilled).length;
    }

    until (predicate, what, timeoutMs) {
        return waitUntil(predicate, what, timeoutMs);
    }

    stop () {
        this.vm.stopAll();
        this.vm.quit();
        if (this.extension.ws) this.extension.ws.close();
        clearTimeout(this.extension.retryTimer);
        this.extension.retryTimer = null;
        // No reconnecting after the test.
        this.extension.editorDenied = true;
    }
}

module.exports = {Vm, B, buildProject, loadExtension, webSocketFrom};
