// Headless Chromium driven over its DevTools protocol (a small client over
// `ws`), and a static server on 127.0.0.1 for the prebuilt Scratch 3 editor,
// which must sit at the site root: it loads /chunks and /static.
'use strict';

const {spawn, spawnSync} = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const WebSocket = require('ws');

const editorDist = path.join(__dirname, '..', 'node_modules', '@scratch', 'scratch-gui-standalone', 'dist');
const pageFile = path.join(__dirname, '..', 'editor', 'index.html');

const TYPES = {
    '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8', '.css': 'text/css',
    '.svg': 'image/svg+xml', '.png': 'image/png', '.wav': 'audio/wav', '.mp3': 'audio/mpeg',
    '.json': 'application/json', '.hex': 'text/plain', '.woff2': 'font/woff2', '.ttf': 'font/ttf'
};

// Serves the editor's files, the test page at / and extra files by path ({'/kobito-motion.js': text}).
function serveEditor (extra = {}) {
    const server = http.createServer((req, res) => {
        const url = new URL(req.url, 'http://127.0.0.1');
        let body = null;
        let file = null;
        if (url.pathname === '/' || url.pathname === '/index.html') file = pageFile;
        else if (Object.prototype.hasOwnProperty.call(extra, url.pathname)) body = extra[url.pathname];
        else file = path.join(editorDist, path.normalize(decodeURIComponent(url.pathname)).replace(/^(\.\.[/\\])+/, ''));
        if (file && (!file.startsWith(editorDist) && file !== pageFile || !fs.existsSync(file) || !fs.statSync(file).isFile())) {
            res.writeHead(404);
            res.end();
            return;
        }
        res.writeHead(200, {
            'Content-Type': TYPES[path.extname(file || url.pathname)] || 'application/octet-stream',
            'Cache-Control': 'no-store'
        });
        if (body !== null) res.end(body);
        else fs.createReadStream(file).pipe(res);
    });
    return new Promise(resolve => server.listen(0, '127.0.0.1', () => resolve(server)));
}

function chromiumPath () {
    for (const name of ['chromium', 'chromium-browser', 'google-chrome']) {
        const found = spawnSync('sh', ['-c', `command -v ${name}`], {encoding: 'utf8'}).stdout.trim();
        if (found) return found;
    }
    return null;
}

class Browser {
    static async launch ({width = 1280, height = 800} = {}) {
        const executable = chromiumPath();
        if (!executable) throw new Error('no chromium');
        const b = new Browser();
        b.profile = fs.mkdtempSync(path.join(os.tmpdir(), 'kobito-chromium-'));
        b.process = spawn(executable, [
            '--headless=new', '--no-sandbox', '--disable-gpu', '--no-first-run', '--no-default-browser-check',
            '--disable-extensions', '--disable-background-networking', '--disable-component-update',
            '--disable-sync', '--metrics-recording-only', '--mute-audio', '--use-fake-ui-for-media-stream',
            `--window-size=${width},${height}`, `--user-data-dir=${b.profile}`,
            '--remote-debugging-port=0', '--remote-debugging-address=127.0.0.1', 'about:blank'
        ], {stdio: ['ignore', 'ignore', 'pipe']});
        b.stderr = '';
        const endpoint = await new Promise((resolve, reject) => {
            const timer = setTimeout(() => reject(new Error('chromium did not start: ' + b.stderr)), 30000);
            b.process.stderr.on('data', d => {
                b.stderr += d;
                const m = /DevTools listening on (ws:\/\/\S+)/.exec(b.stderr);
                if (m) {
                    clearTimeout(timer);
                    resolve(m[1]);
                }
            });
            b.process.once('exit', code => reject(new Error(`chromium ended (${code}): ${b.stderr}`)));
        });
        b.ws = new WebSocket(endpoint, {perMessageDeflate: false, maxPayload: 256 * 1024 * 1024});
        b.nextId = 1;
        b.calls = new Map();
        b.listeners = [];
        b.ws.on('message', data => {
            const m = JSON.parse(String(data));
            if (m.id && b.calls.has(m.id)) {
                const {resolve, reject} = b.calls.get(m.id);
                b.calls.delete(m.id);
                if (m.error) reject(new Error(`${m.error.message} ${m.error.data || ''}`));
                else resolve(m.result);
            } else if (m.method) {
                for (const l of b.listeners) l(m);
            }
        });
        await new Promise((resolve, reject) => {
            b.ws.once('open', resolve);
            b.ws.once('error', reject);
        });
        return b;
    }

    send (method, params = {}, sessionId) {
        const id = this.nextId++;
        const message = {id, method, params};
        if (sessionId) message.sessionId = sessionId;
        return new Promise((resolve, reject) => {
            this.calls.set(id, {resolve, reject});
            this.ws.send(JSON.stringify(message));
        });
    }

    async newPage (url, {width = 1280, height = 800} = {}) {
        const {targetId} = await this.send('Target.createTarget', {url: 'about:blank'});
        const {sessionId} = await this.send('Target.attachToTarget', {targetId, flatten: true});
        const page = new Page(this, sessionId);
        this.listeners.push(m => {
            if (m.sessionId !== sessionId) return;
            if (m.method === 'Runtime.consoleAPICalled') {
                page.console.push(`${m.params.type}: ${m.params.args.map(a => a.value ?? a.description).join(' ')}`);
            } else if (m.method === 'Runtime.exceptionThrown') {
                const d = m.params.exceptionDetails;
                page.console.push(`exception: ${d.exception ? d.exception.description : d.text}`);
            }
        });
        await this.send('Runtime.enable', {}, sessionId);
        await this.send('Page.enable', {}, sessionId);
        await this.send('Emulation.setDeviceMetricsOverride',
            {width, height, deviceScaleFactor: 1, mobile: false}, sessionId);
        await this.send('Page.navigate', {url}, sessionId);
        return page;
    }

    async close () {
        if (this.ws) this.ws.close();
        if (this.process && this.process.exitCode === null) {
            const ended = new Promise(resolve => this.process.once('exit', resolve));
            this.process.kill('SIGTERM');
            await ended;
        }
        try {
            // Chromium's helpers may still be writing into the profile for a moment.
            fs.rmSync(this.profile, {recursive: true, force: true, maxRetries: 10, retryDelay: 200});
        } catch (e) {
            console.warn(`left ${this.profile}: ${e.message}`);
        }
    }
}

class Page {
    constructor (browser, sessionId) {
        this.browser = browser;
        this.sessionId = sessionId;
        this.console = [];
    }

    // The value of an expression in the page (awaited when it is a promise).
    async eval (expression) {
        const r = await this.browser.send('Runtime.evaluate',
            {expression, awaitPromise: true, returnByValue: true}, this.sessionId);
        if (r.exceptionDetails) {
            const d = r.exceptionDetails;
            throw new Error(`in the page: ${d.exception ? d.exception.description : d.text}`);
        }
        return r.result.value;
    }

    async until (expression, what, timeoutMs = 20000) {
        const started = Date.now();
        for (;;) {
            let value;
            try {
                value = await this.eval(expression);
            } catch (e) {
                value = undefined;
            }
            if (value) return value;
            if (Date.now() - started > timeoutMs) {
                throw new Error(`timed out waiting for ${what}\npage console:\n  ${this.console.join('\n  ')}`);
            }
            await new Promise(resolve => setTimeout(resolve, 50));
        }
    }

    async screenshot (file, clip) {
        const params = {format: 'png'};
        if (clip) params.clip = {...clip, scale: 1};
        const {data} = await this.browser.send('Page.captureScreenshot', params, this.sessionId);
        fs.writeFileSync(file, Buffer.from(data, 'base64'));
    }
}

module.exports = {Browser, serveEditor, chromiumPath};
