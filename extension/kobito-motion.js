// KOBITO Motion blocks for Scratch 3 editors: plays the program's motions over
// a WebSocket on this computer (127.0.0.1). Load it "without sandbox" where the
// editor offers that: then the stop sign stops the robot too, and "when motion
// done" starts its scripts at every list end, as "when I receive" does.
(function (Scratch) {
    'use strict';

    // KOBITO Motion's [SCRATCH3] Port; the program writes its own when it saves this file.
    const PORT = 42002;
    const HOST = '127.0.0.1';
    const WS_URL = 'ws://' + HOST + ':' + PORT + '/';
    const PROTOCOL = 1;
    const ID = 'kobitomotion';
    const DONE_HAT = ID + '_whenMotionDone';

    // Reconnecting: soon after the program starts, never a busy loop.
    const RETRY_MS = [500, 1000, 2000, 4000, 5000];
    // A block waits this long for a connection before it gives up with the reason.
    const CONNECT_WAIT_MS = 2000;
    // A connection that neither opens nor fails (the program busy with a question) is dropped.
    const HANDSHAKE_MS = 15000;
    // Sandboxed, the hat is polled each frame: it reads true this long after a list end.
    const DONE_PULSE_MS = 100;
    // Sandboxed, the menu is fixed when the editor first asks for the blocks: wait that
    // long for the program's slot captions.
    const FIRST_SLOTS_MS = 1500;

    const TEXT = {
        connecting: 'connecting to KOBITO Motion…',
        connected: 'connected',
        portClosed: "connected, but KOBITO Motion's port to the robot is closed",
        notRunning: 'not connected: KOBITO Motion is not running, or its "Scratch 3" switch is off',
        refused:
            'not connected: KOBITO Motion refused this editor. If it asks "Allow Scratch from …?", ' +
            'answer Yes; its log says why',
        slow: 'not connected yet: KOBITO Motion does not answer. If it asks "Allow Scratch from …?", answer Yes',
        editorDenied:
            'not connected: the editor was not allowed to connect to ' + WS_URL +
            '. Use a KOBITO block to be asked again',
        browserDenied:
            'not connected: the browser does not let this page reach this computer. ' +
            'Allow "local network" (loopback) access for this site in its settings',
        noWebSocket: 'not connected: this editor cannot open connections',
        protocol:
            'not connected: this kobito-motion.js does not fit this KOBITO Motion. ' +
            'Save the file again from the program and load it',
        noName: 'no motion name given',
        lost: 'the connection to KOBITO Motion was lost'
    };

    const toText = value => (value === undefined || value === null ? '' : String(value));
    const scratchVm = Scratch.vm;
    const unsandboxed = !!scratchVm || !!(Scratch.extensions && Scratch.extensions.unsandboxed);

    class KobitoMotion {
        constructor () {
            this.ws = null;
            this.ready = false; // open and greeted
            this.slots = [];
            this.playing = false;
            this.portOpen = false;
            this.status = TEXT.connecting;
            this.nextId = 1;
            this.pending = new Map(); // play id -> {slot, resolve}
            this.readyWaiters = [];
            this.retry = 0;
            this.retryTimer = null;
            this.handshakeTimer = null;
            this.editorDenied = false;
            // After a stop of ours: list ends reported before the program took the stop are
            // skipped, until the answer to the "hello" sent after it.
            this.skipDonesUntilHello = 0;
            this.doneUntil = 0;
            this.slotWaiters = [];

            if (scratchVm && scratchVm.runtime) {
                // The stop sign (and the green flag, which stops all first) ends the waits and
                // the motion this project started.
                scratchVm.runtime.on('PROJECT_STOP_ALL', () => this.cancel(false));
            }
            this.connect();
        }

        getInfo () {
            if (unsandboxed) return this.info('slotMenu');
            // Sandboxed, the menu cannot be asked later: wait briefly for the captions.
            return new Promise(resolve => {
                const done = () => resolve(this.info(this.slotMenu()));
                if (this.ready) return done();
                const timer = setTimeout(done, FIRST_SLOTS_MS);
                this.slotWaiters.push(() => {
                    clearTimeout(timer);
                    done();
                });
            });
        }

        info (slotItems) {
            const slotArg = {
                type: Scratch.ArgumentType.STRING,
                menu: 'slots',
                defaultValue: this.firstSlot()
            };
            return {
                id: ID,
                name: 'KOBITO Motion',
                color1: '#0f9d8a',
                color2: '#0c8576',
                color3: '#096b5f',
                menuIconURI: ICON,
                blocks: [
                    {
                        opcode: 'playAndWait',
                        blockType: Scratch.BlockType.COMMAND,
                        text: 'play motion [SLOT] and wait',
                        arguments: {SLOT: slotArg}
                    },
                    {
                        opcode: 'startMotion',
                        blockType: Scratch.BlockType.COMMAND,
                        text: 'start motion [SLOT]',
                        arguments: {SLOT: slotArg}
                    },
                    {
                        opcode: 'stopMotion',
                        blockType: Scratch.BlockType.COMMAND,
                        text: 'stop motion'
                    },
                    '---',
                    {
                        opcode: 'whenMotionDone',
                        blockType: Scratch.BlockType.HAT,
                        text: 'when motion done',
                        // Unsandboxed it is started at each list end; sandboxed it is polled.
                        isEdgeActivated: !unsandboxed,
                        shouldRestartExistingThreads: true
                    },
                    '---',
                    {
                        opcode: 'isPlaying',
                        blockType: Scratch.BlockType.BOOLEAN,
                        text: 'motion playing?'
                    },
                    {
                        opcode: 'isConnected',
                        blockType: Scratch.BlockType.BOOLEAN,
                        text: 'robot connected?'
                    },
                    {
                        opcode: 'connectionStatus',
                        blockType: Scratch.BlockType.REPORTER,
                        text: 'KOBITO status'
                    }
                ],
                menus: {
                    slots: {acceptReporters: true, items: slotItems}
                }
            };
        }

        // The captions of the program's remote-controller slots, each once.
        slotMenu () {
            const seen = new Set();
            const items = [];
            for (const caption of this.slots) {
                if (caption !== '' && !seen.has(caption)) {
                    seen.add(caption);
                    items.push({text: caption, value: caption});
                }
            }
            return items.length ? items : [{text: '(no motions)', value: ''}];
        }

        firstSlot () {
            const first = this.slots.find(caption => caption !== '');
            return first === undefined ? '' : first;
        }

        // Blocks

        playAndWait (args) {
            return this.play(args.SLOT, true);
        }

        startMotion (args) {
            return this.play(args.SLOT, false);
        }

        stopMotion () {
            return this.whenReady().then(ok => {
                if (ok) this.cancel(true);
            });
        }

        whenMotionDone () {
            return unsandboxed || Date.now() < this.doneUntil;
        }

        isPlaying () {
            return this.ready && this.playing;
        }

        isConnected () {
            return this.ready && this.portOpen;
        }

        connectionStatus () {
            return this.status;
        }

        // Playing

        play (slotValue, wait) {
            const slot = toText(slotValue);
            if (slot === '') {
                this.setStatus(TEXT.noName);
                return Promise.resolve();
            }
            return this.whenReady().then(ok => {
                if (!ok) return;
                const id = this.nextId++;
                const finished = new Promise(resolve => {
                    this.pending.set(id, {slot, resolve});
                });
                this.send({type: 'play', id, slot});
                if (wait) return finished;
            });
        }

        // Ends every play of ours: the waiting blocks go on at once, and the robot stops when
        // one was still going (always, for the "stop motion" block).
        cancel (always) {
            const ours = this.pending.size > 0;
            this.endPending();
            if (!this.ready || !(always || ours)) return;
            this.send({type: 'stop'});
            this.skipDonesUntilHello++;
            this.send({type: 'hello'});
        }

        endPending () {
            const waits = Array.from(this.pending.values());
            this.pending.clear();
            for (const entry of waits) entry.resolve();
        }

        onMessage (message) {
            switch (message.type) {
            case 'hello':
                if (message.protocol !== PROTOCOL) {
                    this.setStatus(TEXT.protocol);
                    this.close();
                    return;
                }
                this.takeSlots(message.slots);
                this.setState(message);
                if (this.skipDonesUntilHello > 0) this.skipDonesUntilHello--;
                if (!this.ready) {
                    this.ready = true;
                    this.retry = 0;
                    this.updateStatus();
                    const waiters = this.readyWaiters.splice(0);
                    for (const waiter of waiters) waiter(true);
                    const slotWaiters = this.slotWaiters.splice(0);
                    for (const waiter of slotWaiters) waiter();
                }
                break;
            case 'slots':
                this.takeSlots(message.slots);
                break;
            case 'status':
                this.setState(message);
                break;
            case 'done':
                if (this.skipDonesUntilHello === 0) this.fireDone();
                break;
            case 'result': {
                const entry = this.pending.get(message.id);
                // A play we have ended already (stop sign, stop block) is not reported.
                if (!entry) return;
                this.pending.delete(message.id);
                if (message.result === 'error') {
                    this.setStatus('"' + entry.slot + '": ' + toText(message.message || message.reason));
                } else {
                    this.updateStatus();
                }
                entry.resolve();
                break;
            }
            case 'error':
                this.setStatus('KOBITO Motion: ' + toText(message.message || message.reason));
                break;
            }
        }

        fireDone () {
            if (scratchVm && scratchVm.runtime) {
                scratchVm.runtime.startHats(DONE_HAT);
            } else {
                this.doneUntil = Date.now() + DONE_PULSE_MS;
            }
        }

        takeSlots (slots) {
            if (!Array.isArray(slots)) return;
            const next = slots.map(toText);
            const changed = next.join('\n') !== this.slots.join('\n');
            this.slots = next;
            // The palette's default captions follow the program's.
            if (changed && scratchVm && scratchVm.extensionManager &&
                typeof scratchVm.extensionManager.refreshBlocks === 'function') {
                try {
                    scratchVm.extensionManager.refreshBlocks();
                } catch (e) {
                    // An editor without a palette to refresh.
                }
            }
        }

        setState (message) {
            if (typeof message.playing === 'boolean') this.playing = message.playing;
            if (typeof message.portOpen === 'boolean') {
                const changed = message.portOpen !== this.portOpen;
                this.portOpen = message.portOpen;
                if (changed && this.ready) this.updateStatus();
            }
        }

        updateStatus () {
            this.setStatus(this.portOpen ? TEXT.connected : TEXT.portClosed);
        }

        setStatus (text) {
            if (text !== this.status && text !== TEXT.connected) {
                // The editor's developer console keeps the history.
                console.warn('KOBITO Motion: ' + text);
            }
            this.status = text;
        }

        // The connection

        // Resolves true once connected and greeted; false, with the reason in the status,
        // when that does not happen soon.
        whenReady () {
            if (this.ready) return Promise.resolve(true);
            if (this.editorDenied) {
                // A block is a person's action: the editor may ask again.
                this.editorDenied = false;
            }
            if (!this.ws && !this.asking) this.connectNow();
            return new Promise(resolve => {
                const timer = setTimeout(() => {
                    const i = this.readyWaiters.indexOf(settle);
                    if (i >= 0) this.readyWaiters.splice(i, 1);
                    if (this.status === TEXT.connecting) this.setStatus(TEXT.slow);
                    resolve(false);
                }, CONNECT_WAIT_MS);
                const settle = ok => {
                    clearTimeout(timer);
                    resolve(ok);
                };
                this.readyWaiters.push(settle);
            });
        }

        connectNow () {
            clearTimeout(this.retryTimer);
            this.retryTimer = null;
            this.retry = 0;
            this.connect();
        }

        async connect () {
            if (this.ws || this.asking || this.editorDenied) return;
            if (typeof WebSocket !== 'function') {
                this.failWaiters(TEXT.noWebSocket);
                return;
            }
            if (typeof Scratch.canFetch === 'function') {
                // Editors with their own permission for connections ask the person here.
                let allowed = false;
                this.asking = true;
                try {
                    allowed = await Scratch.canFetch(WS_URL);
                } catch (e) {
                    allowed = false;
                }
                this.asking = false;
                if (!allowed) {
                    this.editorDenied = true;
                    this.failWaiters(TEXT.editorDenied);
                    return;
                }
                if (this.ws) return;
            }
            let ws;
            try {
                ws = new WebSocket(WS_URL);
            } catch (e) {
                this.failWaiters(TEXT.browserDenied);
                this.scheduleRetry();
                return;
            }
            this.ws = ws;
            let opened = false;
            this.handshakeTimer = setTimeout(() => {
                if (this.ws === ws && !opened) ws.close();
            }, HANDSHAKE_MS);
            ws.onopen = () => {
                if (this.ws !== ws) return;
                opened = true;
                clearTimeout(this.handshakeTimer);
                this.send({type: 'hello'});
            };
            ws.onmessage = event => {
                if (this.ws !== ws) return;
                let message;
                try {
                    message = JSON.parse(event.data);
                } catch (e) {
                    return;
                }
                if (message && typeof message === 'object') this.onMessage(message);
            };
            ws.onerror = () => {
                // onclose follows and says why.
            };
            ws.onclose = () => {
                if (this.ws !== ws) return;
                clearTimeout(this.handshakeTimer);
                this.ws = null;
                const wasReady = this.ready;
                this.ready = false;
                this.playing = false;
                this.skipDonesUntilHello = 0;
                // No script waits on a connection that is gone.
                this.endPending();
                if (wasReady) {
                    this.setStatus(TEXT.lost);
                    this.scheduleRetry();
                    return;
                }
                if (this.status === TEXT.protocol) return;
                this.diagnose().then(reason => {
                    this.failWaiters(reason);
                    this.scheduleRetry();
                });
            };
        }

        close () {
            if (this.ws) this.ws.close();
        }

        // Why a connection failed before it opened, as far as a page can tell.
        async diagnose () {
            if (typeof navigator !== 'undefined' && navigator.permissions &&
                typeof navigator.permissions.query === 'function') {
                for (const name of ['loopback-network', 'local-network-access']) {
                    try {
                        const state = await navigator.permissions.query({name});
                        if (state.state === 'denied') return TEXT.browserDenied;
                        break;
                    } catch (e) {
                        // A browser without this permission.
                    }
                }
            }
            if (typeof fetch !== 'function') return TEXT.notRunning;
            try {
                // Any answer means the program listens and turned the connection down.
                await fetch('http://' + HOST + ':' + PORT + '/', {mode: 'no-cors', cache: 'no-store'});
                return TEXT.refused;
            } catch (e) {
                return TEXT.notRunning;
            }
        }

        failWaiters (reason) {
            this.setStatus(reason);
            const waiters = this.readyWaiters.splice(0);
            for (const waiter of waiters) waiter(false);
            // The blocks need not wait for captions that will not come.
            const slotWaiters = this.slotWaiters.splice(0);
            for (const waiter of slotWaiters) waiter();
        }

        scheduleRetry () {
            if (this.retryTimer || this.editorDenied || this.status === TEXT.protocol) return;
            const delay = RETRY_MS[Math.min(this.retry, RETRY_MS.length - 1)];
            this.retry++;
            this.retryTimer = setTimeout(() => {
                this.retryTimer = null;
                this.connect();
            }, delay);
        }

        send (message) {
            if (this.ws && this.ws.readyState === 1) this.ws.send(JSON.stringify(message));
        }
    }

    const ICON =
        'data:image/svg+xml;base64,' +
        btoa(
            '<svg xmlns="http://www.w3.org/2000/svg" width="40" height="40" viewBox="0 0 40 40">' +
            '<circle cx="20" cy="20" r="19" fill="#0f9d8a" stroke="#096b5f" stroke-width="2"/>' +
            '<rect x="10" y="9" width="20" height="16" rx="4" fill="#fff"/>' +
            '<circle cx="16" cy="17" r="2.6" fill="#1e88e5"/><circle cx="24" cy="17" r="2.6" fill="#1e88e5"/>' +
            '<rect x="14" y="26" width="12" height="7" rx="2" fill="#fff"/>' +
            '<line x1="20" y1="4" x2="20" y2="9" stroke="#fff" stroke-width="2"/></svg>'
        );

    Scratch.extensions.register(new KobitoMotion());
})(Scratch);
