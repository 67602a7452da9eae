// Clicks through the folder pages of a headless Tessaly in Chromium, as a person would:
// browse, sort, page, upload (also onto a name that exists), create a folder, delete with the
// confirm dialog, watch a thumbnail appear and download a file. Everything talks to 127.0.0.1 only.
//
// Needs TESSALY_BUILD_DIR (the build folder holding the tessaly executable), /usr/bin/chromium
// and playwright-core (npm ci in this folder). Exits with 77 (skipped) when one is missing.

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';

const Chromium = process.env.TESSALY_CHROMIUM || '/usr/bin/chromium';
const buildDir = process.env.TESSALY_BUILD_DIR;
const require = createRequire(import.meta.url);

function skip(reason) {
    console.log(`SKIPPED: ${reason}`);
    process.exit(77);
}

if (!buildDir || !fs.existsSync(path.join(buildDir, 'tessaly')))
    skip('TESSALY_BUILD_DIR does not name a build with the tessaly executable');
if (!fs.existsSync(Chromium))
    skip(`${Chromium} is missing (apt-get install chromium)`);
let chromium;
try {
    ({ chromium } = require('playwright-core'));
} catch {
    skip('playwright-core is missing (run npm ci in tests/browser)');
}

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tessaly-browser-'));
const share = path.join(work, 'share');
const home = path.join(work, 'home');
const profile = path.join(work, 'chromium-profile');
const downloads = path.join(work, 'downloads');
let server;
let base;
let context;
let page;

function bytes(size, seed) {
    const data = Buffer.alloc(size);
    let x = seed;
    for (let i = 0; i < size; ++i) {
        x = (x * 1103515245 + 12345) & 0x7fffffff;
        data[i] = x >> 16;
    }
    return data;
}

function startServer() {
    return new Promise((resolve, reject) => {
        server = spawn(path.join(buildDir, 'tessaly'),
            ['--headless', '--share', share, '--address', '127.0.0.1', '--port', '0'],
            { env: { ...process.env, HOME: home, QT_QPA_PLATFORM: 'offscreen' }, stdio: ['ignore', 'pipe', 'inherit'] });
        server.on('error', reject);
        server.on('exit', (code) => reject(new Error(`tessaly ended early with ${code}`)));
        readline.createInterface({ input: server.stdout }).once('line', (line) => resolve(line.trim()));
    });
}

// The entry names of the folder page shown, in order.
function entryNames() {
    return page.$$eval('td[width="200"]', (cells) => cells.map((cell) => {
        const link = cell.querySelector('a');
        const text = link.innerHTML.split('<br>');
        return text[1];
    }));
}

async function submitting(action) {
    await Promise.all([page.waitForNavigation(), action()]);
}

before(async () => {
    fs.mkdirSync(share);
    fs.mkdirSync(home);
    fs.mkdirSync(downloads);
    // 24 small files, one big, one middling: 26 entries.
    for (let i = 0; i < 24; ++i)
        fs.writeFileSync(path.join(share, `file${String(i).padStart(2, '0')}.txt`), `entry ${i}\n`);
    fs.writeFileSync(path.join(share, 'big.bin'), bytes(300000, 1));
    fs.writeFileSync(path.join(share, 'middle.bin'), bytes(50000, 2));
    base = await startServer();
    context = await chromium.launchPersistentContext(profile, {
        executablePath: Chromium,
        headless: true,
        acceptDownloads: true,
        downloadsPath: downloads,
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
               '--disable-component-update', '--disable-sync', '--no-first-run'],
    });
    page = context.pages()[0] || await context.newPage();
    page.setDefaultTimeout(15000);
});

after(async () => {
    if (context)
        await context.close();
    if (server) {
        server.removeAllListeners('exit');
        const ended = new Promise((resolve) => server.once('exit', resolve));
        server.kill('SIGTERM');
        await ended;
    }
    fs.rmSync(work, { recursive: true, force: true });
});

test('folder pages in a browser', async (t) => {
    await t.test('open the share', async () => {
        const response = await page.goto(base);
        assert.equal(response.status(), 200);
        assert.equal(await page.title(), 'Tessaly');
        const names = await entryNames();
        assert.equal(names.length, 24);
        assert.equal(names[0], 'big.bin');
        assert.ok(await page.isVisible('text=Pages:'));
    });

    await t.test('sort by size', async () => {
        await submitting(() => page.selectOption('select:has(option[value="s"])', 's'));
        const names = await entryNames();
        assert.deepEqual(names.slice(0, 2), ['big.bin', 'middle.bin']);
        assert.equal(await page.$eval('select:has(option[value="s"])', (s) => s.value), 's');
    });

    await t.test('ten items a page, then the next page', async () => {
        await page.fill('input[name="cv"]', '10');
        await submitting(() => page.click('input[value="Set Item/Page:"]'));
        assert.equal((await entryNames()).length, 10);
        assert.equal(await page.inputValue('input[name="cv"]'), '10');
        await submitting(() => page.click('a[href="?a=p&p=1"]'));
        assert.equal((await entryNames()).length, 10);
        assert.equal(await page.textContent('td:has-text("Pages:") b'), '2');
        await submitting(() => page.click('a[href="?a=p&p=2"]'));
        assert.equal((await entryNames()).length, 6);
        // Back to one page holding everything for what follows.
        await page.fill('input[name="cv"]', '100');
        await submitting(() => page.click('input[value="Set Item/Page:"]'));
        await submitting(() => page.selectOption('select:has(option[value="s"])', 'n'));
        assert.equal((await entryNames()).length, 26);
    });

    await t.test('upload a file through the file input', async () => {
        const local = path.join(work, 'holiday notes.bin');
        const data = bytes(123457, 3);
        fs.writeFileSync(local, data);
        await submitting(() => page.selectOption('select:has(option[value="up"])', 'up'));
        assert.ok(await page.isVisible('text=Send file'));
        await page.setInputFiles('input[type="file"]', local);
        await submitting(() => page.click('input[value="Send"]'));
        assert.ok(await page.isVisible('text=File sent success.'));
        assert.ok((await entryNames()).includes('holiday notes.bin'));
        assert.deepEqual(fs.readFileSync(path.join(share, 'holiday notes.bin')), data);
    });

    await t.test('an upload onto a name that exists shows why it failed', async () => {
        // The answer comes before the browser has sent the file: had the server closed at once,
        // the browser would show a reset connection instead of the page.
        const local = path.join(work, 'big.bin');
        const data = bytes(4 * 1000 * 1000, 4);
        fs.writeFileSync(local, data);
        await submitting(() => page.selectOption('select:has(option[value="up"])', 'up'));
        await page.setInputFiles('input[type="file"]', local);
        await submitting(() => page.click('input[value="Send"]'));
        assert.ok(await page.isVisible('text=File send failed: File exists'));
        assert.deepEqual(fs.readFileSync(path.join(share, 'big.bin')), bytes(300000, 1));
    });

    await t.test('create a folder', async () => {
        await submitting(() => page.selectOption('select:has(option[value="cf"])', 'cf'));
        await page.fill('input[name="f"]', 'Trip photos');
        await submitting(() => page.click('input[value="Create"]'));
        assert.ok(await page.isVisible('text=New folder created'));
        assert.ok(fs.statSync(path.join(share, 'Trip photos')).isDirectory());
        assert.ok((await entryNames()).includes('Trip photos'));
    });

    await t.test('tick two items and delete them', async () => {
        fs.writeFileSync(path.join(share, 'Trip photos', 'inside.txt'), 'x');
        await page.reload();
        const questions = [];
        page.once('dialog', async (dialog) => {
            questions.push(dialog.message());
            await dialog.accept();
        });
        await page.check('input[type="checkbox"][value="Trip photos"]');
        await page.check('input[type="checkbox"][value="file03.txt"]');
        await submitting(() => page.click('input[value="Delete selected items"]'));
        assert.deepEqual(questions, ['Delete all files in folder Trip photos?']);
        assert.ok(await page.isVisible('text=2 file removed.'));
        assert.ok(!fs.existsSync(path.join(share, 'Trip photos')));
        assert.ok(!fs.existsSync(path.join(share, 'file03.txt')));
        const names = await entryNames();
        assert.ok(!names.includes('file03.txt') && !names.includes('Trip photos'));
    });

    await t.test('a large photo shows its placeholder, then its thumbnail', async () => {
        // A noisy JPEG drawn by the browser itself, far above the thumbnail threshold.
        const jpeg = await page.evaluate(() => {
            const canvas = document.createElement('canvas');
            canvas.width = 1200;
            canvas.height = 800;
            const g = canvas.getContext('2d');
            const pixels = g.createImageData(1200, 800);
            for (let i = 0; i < pixels.data.length; ++i)
                pixels.data[i] = (i * 7919 + (i >> 5) * 31) % 251;
            g.putImageData(pixels, 0, 0);
            return canvas.toDataURL('image/jpeg', 0.95).split(',')[1];
        });
        fs.mkdirSync(path.join(share, 'Pictures'));
        fs.writeFileSync(path.join(share, 'Pictures', 'beach.jpg'), Buffer.from(jpeg, 'base64'));
        assert.ok(fs.statSync(path.join(share, 'Pictures', 'beach.jpg')).size >= 20000);

        const response = await page.goto(base + 'Pictures');
        assert.equal(response.status(), 202);
        assert.equal(await page.getAttribute('td[width="200"] img', 'src'), '/_i/image.png');
        // The page reloads itself every two seconds until the thumbnail is there.
        await page.waitForSelector('td[width="200"] img[src^="/_t/"]', { timeout: 15000 });
        const size = await page.$eval('td[width="200"] img', (img) => new Promise((resolve) => {
            const done = () => resolve([img.naturalWidth, img.naturalHeight]);
            if (img.complete) done(); else img.onload = done;
        }));
        assert.deepEqual(size, [124, 82]);
    });

    await t.test('download a file', async () => {
        await page.goto(base);
        const [download] = await Promise.all([
            page.waitForEvent('download'),
            page.click('a[href="/middle.bin"]'),
        ]);
        assert.equal(download.suggestedFilename(), 'middle.bin');
        const saved = path.join(downloads, 'middle.bin');
        await download.saveAs(saved);
        assert.deepEqual(fs.readFileSync(saved), fs.readFileSync(path.join(share, 'middle.bin')));
    });
});
