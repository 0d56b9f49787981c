// The real program for the Scratch 3 tests: kobito-sim on a pseudo-terminal,
// and the window (kobito_scratch3_host, offscreen) in a temporary folder of
// its own with a settings file the test writes, its port open on the
// simulator and the "Scratch 3" switch on, on a free port of 127.0.0.1.
'use strict';

const {spawn} = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');

const repo = path.resolve(__dirname, '..', '..', '..');
const build = process.env.KOBITO_BUILD || path.join(repo, 'build');
const hostBinary = path.join(build, 'tests', 'scratch3', 'kobito_scratch3_host');
const simBinary = path.join(build, 'tools', 'sim', 'kobito-sim');
const extensionFile = path.join(repo, 'extension', 'kobito-motion.js');

// The rows of a motion file as the robot gets them: "#P", S00A..S11A, R, G, B, T.
function poseCommand (values) {
    const three = v => (v < 0 ? '-' + String(-v).padStart(3, '0') : String(v).padStart(3, '0'));
    let text = '#P';
    for (let i = 0; i < 12; i++) text += 'S' + String(i).padStart(2, '0') + 'A' + three(values[i]);
    return text + 'R' + three(values[12]) + 'G' + three(values[13]) + 'B' + three(values[14]) +
        'T' + three(values[15]);
}

function kmf (rows) {
    return rows.map(row => row.join(',') + '\r\n').join('');
}

function freePort () {
    return new Promise((resolve, reject) => {
        const server = net.createServer();
        server.on('error', reject);
        server.listen(0, '127.0.0.1', () => {
            const {port} = server.address();
            server.close(() => resolve(port));
        });
    });
}

// The extension's text as the program saves it for a bridge on `port`.
function extensionSource (port) {
    const text = fs.readFileSync(extensionFile, 'utf8');
    const line = /^(\s*const PORT = )42002;/m;
    if (!line.test(text)) throw new Error('kobito-motion.js has no "const PORT = 42002;" line');
    return text.replace(line, `$1${port};`);
}

function waitUntil (predicate, what, timeoutMs = 10000) {
    return new Promise((resolve, reject) => {
        const started = Date.now();
        const poll = () => {
            let value;
            try {
                value = predicate();
            } catch (e) {
                reject(e);
                return;
            }
            if (value) {
                resolve(value);
            } else if (Date.now() - started > timeoutMs) {
                reject(new Error(`timed out waiting for ${what}`));
            } else {
                setTimeout(poll, 5);
            }
        };
        poll();
    });
}

class SimRecord {
    constructor (file) {
        this.file = file;
    }

    // [{ns, kind: 'RX'|'TX', text}], in order; RX is a command the board took.
    lines () {
        let text = '';
        try {
            text = fs.readFileSync(this.file, 'utf8');
        } catch (e) {
            return [];
        }
        return text.split('\n').filter(Boolean).map(line => {
            const a = line.indexOf(' ');
            const b = line.indexOf(' ', a + 1);
            return {ns: BigInt(line.slice(0, a)), kind: line.slice(a + 1, b), text: line.slice(b + 1)};
        });
    }

    // The pose commands the board took, in order.
    rows () {
        return this.lines().filter(l => l.kind === 'RX' && l.text.startsWith('#P')).map(l => l.text);
    }
}

class Program {
    // slots: {caption: rows}, assigned to the remote-controller buttons in order.
    static async start ({slots = {}, answer = 'yes', timeUnitMs = 10, origins = {}} = {}) {
        for (const binary of [hostBinary, simBinary]) {
            if (!fs.existsSync(binary)) {
                throw new Error(`${binary} is missing: build it (cmake --build build --target ` +
                    'kobito_scratch3_host kobito-sim) or run scripts/test-scratch3');
            }
        }
        const p = new Program();
        try {
            return await p.launch({slots, answer, timeUnitMs, origins});
        } catch (e) {
            // Nothing of a start that failed stays behind.
            await p.stop();
            throw e;
        }
    }

    async launch ({slots, answer, timeUnitMs, origins}) {
        const p = this;
        p.dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kobito-scratch3-'));
        p.port = await freePort();
        p.record = new SimRecord(path.join(p.dir, 'sim.rec'));

        p.sim = spawn(simBinary, ['--time-unit-ms', String(timeUnitMs), '--record', p.record.file],
            {stdio: ['ignore', 'pipe', 'pipe']});
        p.simErr = '';
        p.sim.stderr.on('data', d => (p.simErr += d));
        const device = await new Promise((resolve, reject) => {
            readline.createInterface({input: p.sim.stdout}).once('line', resolve);
            p.sim.once('exit', code => reject(new Error(`kobito-sim ended (${code}): ${p.simErr}`)));
        });

        // The settings file beside the program: the slots' motion files, the bridge's port,
        // the origins already answered.
        const host = path.join(p.dir, 'kobito_scratch3_host');
        fs.copyFileSync(hostBinary, host);
        fs.chmodSync(host, 0o755);
        let ini = '[REMOCON]\r\n';
        Object.entries(slots).forEach(([caption, rows], i) => {
            const file = path.join(p.dir, caption + '.kmf');
            fs.writeFileSync(file, kmf(rows));
            ini += `Button${i + 1}=${file}\r\n`;
        });
        ini += `[SCRATCH3]\r\nPort=${p.port}\r\n`;
        if (Object.keys(origins).length) {
            ini += '[SCRATCH3_ORIGINS]\r\n';
            for (const [origin, allowed] of Object.entries(origins)) ini += `${origin}=${allowed ? 1 : 0}\r\n`;
        }
        fs.writeFileSync(host + '.ini', ini);

        p.lines = [];
        p.host = spawn(host, ['--port', device, '--answer', answer], {
            stdio: ['pipe', 'pipe', 'pipe'],
            env: {...process.env, QT_QPA_PLATFORM: 'offscreen', XDG_RUNTIME_DIR: p.dir}
        });
        p.hostErr = '';
        p.host.stderr.on('data', d => (p.hostErr += d));
        p.exited = new Promise(resolve => p.host.once('exit', code => resolve(code)));
        readline.createInterface({input: p.host.stdout}).on('line', line => p.lines.push(line));
        const ready = await Promise.race([
            waitUntil(() => p.lines.find(l => l.startsWith('READY ')), 'the window', 30000),
            p.exited.then(code => {
                throw new Error(`the window ended (${code}): ${p.hostErr}`);
            })
        ]);
        p.label = ready.slice('READY '.length);
        return p;
    }

    // Lines of one kind the window printed ("LOG", "DIALOG", "LABEL").
    printed (kind) {
        return this.lines.filter(l => l.startsWith(kind + ' ')).map(l => l.slice(kind.length + 1));
    }

    async command (text) {
        const count = this.lines.filter(l => l === 'DONE ' + text).length;
        this.host.stdin.write(text + '\n');
        await waitUntil(() => this.lines.filter(l => l === 'DONE ' + text).length > count, text);
    }

    // What went wrong, for a failed test's message.
    describe () {
        return `window:\n  ${this.lines.join('\n  ')}\n${this.hostErr}\nsimulator: ${this.simErr}`;
    }

    // Closes the window as a person does; it writes its settings file then.
    async quitWindow () {
        if (this.host && this.host.exitCode === null) {
            this.host.stdin.end();
            const timer = setTimeout(() => this.host.kill('SIGKILL'), 10000);
            await this.exited;
            clearTimeout(timer);
        }
    }

    settingsText () {
        return fs.readFileSync(path.join(this.dir, 'kobito_scratch3_host.ini'), 'utf8');
    }

    async stop () {
        await this.quitWindow();
        if (this.sim && this.sim.exitCode === null) {
            const ended = new Promise(resolve => this.sim.once('exit', resolve));
            this.sim.kill('SIGTERM');
            await ended;
        }
        if (this.dir && !process.env.KOBITO_KEEP_TEMP) fs.rmSync(this.dir, {recursive: true, force: true});
    }
}

module.exports = {Program, SimRecord, poseCommand, kmf, freePort, extensionSource, waitUntil, repo, build};

// A WebSocket client of the bridge as a browser page would be one: it sends
// the page's Origin and keeps every message it gets.
class Client {
    static open (port, {origin = 'https://turbowarp.org', host, path = '/'} = {}) {
        const WebSocket = require('ws');
        const headers = host ? {Host: host} : {};
        const c = new Client();
        c.messages = [];
        c.ws = new WebSocket(`ws://127.0.0.1:${port}${path}`, {origin, headers});
        c.ws.on('message', data => c.messages.push(JSON.parse(String(data))));
        c.closed = new Promise(resolve => c.ws.once('close', (code, reason) => resolve({code, reason: String(reason)})));
        return new Promise((resolve, reject) => {
            c.ws.once('open', () => resolve(c));
            c.ws.once('unexpected-response', (req, res) => {
                let body = '';
                res.on('data', d => (body += d));
                res.on('end', () => {
                    const e = new Error(`refused: ${res.statusCode} ${body}`);
                    e.status = res.statusCode;
                    e.body = body;
                    reject(e);
                });
            });
            c.ws.once('error', reject);
        });
    }

    send (message) {
        this.ws.send(typeof message === 'string' ? message : JSON.stringify(message));
    }

    of (type) {
        return this.messages.filter(m => m.type === type);
    }

    until (predicate, what, timeoutMs) {
        return waitUntil(() => this.messages.find(predicate), what, timeoutMs);
    }

    close () {
        this.ws.close();
        return this.closed;
    }
}

module.exports.Client = Client;
