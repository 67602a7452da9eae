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
export const Chromium = process.env.TESSALY_CHROMIUM || '/usr/bin/chromium';
const buildDir = process.env.TESSALY_BUILD_DIR;

function skip(reason) {
    console.log(`SKIPPED: ${reason}`);
    process.exit(77);
}

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

// The two screens every flow is run on: a phone held upright and a desktop window.
export const Screens = [
    { name: 'phone', viewport: { width: 390, height: 844 }, deviceScaleFactor: 3, isMobile: true, hasTouch: true },
    { name: 'desktop', viewport: { width: 1280, height: 800 } },
];

// A folder of its own for one flow: share/, home/ (the server's profile folder), downloads/.
export function workFolder(name) {
    const work = fs.mkdtempSync(path.join(os.tmpdir(), `tessaly-${name}-`));
    for (const sub of ['share', 'home', 'downloads'])
        fs.mkdirSync(path.join(work, sub));
    return {
        root: work,
        share: path.join(work, 'share'),
        home: path.join(work, 'home'),
        downloads: path.join(work, 'downloads'),
        remove: () => fs.rmSync(work, { recursive: true, force: true }),
    };
}

// Bytes that compress badly, the same for the same seed.
export function bytes(size, seed) {
    const data = Buffer.alloc(size);
    let x = seed;
    for (let i = 0; i < size; ++i) {
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
               '--disable-sync', '--no-first-run', '--autoplay-policy=no-user-gesture-required'],
    });
}

// The accessibility checker, for page.addScriptTag().
export const axeSource = () => fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');

// Pictures drawn by the browser: soft colours, a sun and hills, different for each seed.
export async function drawPicture(page, type, width, height, seed) {
    const data = await page.evaluate(([t, w, h, s]) => {
        const canvas = document.createElement('canvas');
        canvas.width = w;
        canvas.height = h;
        const g = canvas.getContext('2d');
        const hue = (s * 47) % 360;
        const sky = g.createLinearGradient(0, 0, 0, h);
        sky.addColorStop(0, `hsl(${hue} 70% 65%)`);
        sky.addColorStop(1, `hsl(${(hue + 40) % 360} 80% 85%)`);
        g.fillStyle = sky;
        g.fillRect(0, 0, w, h);
        g.fillStyle = `hsl(${(hue + 180) % 360} 90% 70%)`;
        g.beginPath();
        g.arc(w * (0.2 + (s % 5) / 8), h * 0.35, h * 0.12, 0, 7);
        g.fill();
        for (let i = 0; i < 3; ++i) {
            g.fillStyle = `hsl(${(hue + 100 + i * 20) % 360} 35% ${30 + i * 12}%)`;
            g.beginPath();
            g.moveTo(0, h);
            for (let x = 0; x <= w; x += w / 16)
                g.lineTo(x, h * (0.55 + i * 0.12) + Math.sin(x / w * 6 + s + i) * h * 0.06);
            g.lineTo(w, h);
            g.fill();
        }
        // Grain, so that a photo has the size of one.
        const pixels = g.getImageData(0, 0, w, h);
        for (let i = 0; i < pixels.data.length; i += 4) {
            const n = ((i * 7919 + s * 31) % 23) - 11;
            pixels.data[i] += n; pixels.data[i + 1] += n; pixels.data[i + 2] += n;
        }
        g.putImageData(pixels, 0, 0);
        return canvas.toDataURL(t, 0.92).split(',')[1];
    }, [type, width, height, seed]);
    return Buffer.from(data, 'base64');
}
