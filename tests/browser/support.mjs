// What the browser flows share: a headless Tessaly on 127.0.0.1 over a folder of their own, and
// Chromium driven by playwright-core. Everything talks to 127.0.0.1 only.
//
// Needs TESSALY_BUILD_DIR (the build folder holding the tessaly executable), /usr/bin/chromium
// and playwright-core (npm ci in this folder). A flow exits with 77 (skipped) when one is missing.

import { spawn } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';

const require = createRequire(import.meta.url);
const Chromium = process.env.TESSALY_CHROMIUM || '/usr/bin/chromium';
const buildDir = process.env.TESSALY_BUILD_DIR;

const skip = (reason) => { console.log(`SKIPPED: ${reason}`); process.exit(77); };

if (!buildDir || !fs.existsSync(path.join(buildDir, 'tessaly')))
    skip('TESSALY_BUILD_DIR does not name a build with the tessaly executable');
if (!fs.existsSync(Chromium))
    skip(`${Chromium} is missing (apt-get install chromium)`);
let playwright;
try {
    playwright = require('playwright-core');
} catch {
    skip('playwright-core is missing (run npm ci in tests/browser)');
}

// The two screens every responsive flow is run on: a phone held upright and a desktop window.
export const Screens = [
    { name: 'phone', viewport: { width: 390, height: 844 }, deviceScaleFactor: 3, isMobile: true, hasTouch: true },
    { name: 'desktop', viewport: { width: 1280, height: 800 } },
];

// A folder of its own for one flow, with the share in it; remove() takes it away.
export function workFolder(name) {
    const root = fs.mkdtempSync(path.join(os.tmpdir(), `tessaly-${name}-`));
    const share = path.join(root, 'share');
    fs.mkdirSync(share);
    fs.mkdirSync(path.join(root, 'home'));
    return { root, share, home: path.join(root, 'home'), remove: () => fs.rmSync(root, { recursive: true, force: true }) };
}

// Bytes that compress badly, the same for the same seed.
export function bytes(size, seed) {
    const data = Buffer.alloc(size);
    for (let i = 0, x = seed; i < size; ++i) {
        x = (x * 1103515245 + 12345) & 0x7fffffff;
        data[i] = x >> 16;
    }
    return data;
}

// Starts `tessaly --headless` on the share of `work` with more `options`; resolves to the base
// URL it prints. stop() ends it.
export function startServer(work, options = []) {
    return new Promise((resolve, reject) => {
        const server = spawn(path.join(buildDir, 'tessaly'),
            ['--headless', '--share', work.share, '--address', '127.0.0.1', '--port', '0', ...options],
            { env: { ...process.env, HOME: work.home, QT_QPA_PLATFORM: 'offscreen' }, stdio: ['ignore', 'pipe', 'inherit'] });
        server.on('error', reject);
        server.on('exit', (code) => reject(new Error(`tessaly ended early with ${code}`)));
        readline.createInterface({ input: server.stdout }).once('line', (line) => resolve({
            base: line.trim(),
            stop: () => {
                server.removeAllListeners('exit');
                const ended = new Promise((done) => server.once('exit', done));
                server.kill('SIGTERM');
                return ended;
            },
        }));
    });
}

export function launchBrowser() {
    return playwright.chromium.launch({
        executablePath: Chromium,
        headless: true,
        args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
               '--disable-sync', '--no-first-run'],
    });
}

// The accessibility checker, for page.addScriptTag().
export const axePath = require.resolve('axe-core/axe.min.js');

// A noisy picture of `type` drawn by the browser, different for each seed.
export async function drawPicture(page, type, width, height, seed) {
    const data = await page.evaluate(([t, w, h, s]) => {
        const canvas = Object.assign(document.createElement('canvas'), { width: w, height: h });
        const g = canvas.getContext('2d');
        const pixels = g.createImageData(w, h);
        for (let i = 0; i < pixels.data.length; ++i)
            pixels.data[i] = (i % 4 === 3) ? 255 : (i * 7919 + (i >> 5) * 31 + s * 97) % 251;
        g.putImageData(pixels, 0, 0);
        return canvas.toDataURL(t, 0.92).split(',')[1];
    }, [type, width, height, seed]);
    return Buffer.from(data, 'base64');
}
