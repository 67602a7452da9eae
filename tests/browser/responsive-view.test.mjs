// Views files of a headless Tessaly's responsive pages in Chromium on a phone and on a desktop:
// the picture viewer stepping through a folder's pictures (buttons, arrow keys, a swipe), a video
// played and sought (by ranges), text and a PDF shown by the browser, a page of the share kept
// from acting for the visitor, and a file's own download link.

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { Screens, drawPicture, launchBrowser, startServer, workFolder } from './support.mjs';

const work = workFolder('view');
const clip = fs.readFileSync(new URL('./data/clip.webm', import.meta.url));
let server;
let browser;

// A PDF of one page that says `text`.
function pdf(text) {
    const objects = [
        '<< /Type /Catalog /Pages 2 0 R >>',
        '<< /Type /Pages /Kids [3 0 R] /Count 1 >>',
        '<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>',
        null,
        '<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>',
    ];
    const stream = `BT /F1 18 Tf 20 100 Td (${text}) Tj ET`;
    objects[3] = `<< /Length ${stream.length} >>\nstream\n${stream}\nendstream`;
    let out = '%PDF-1.4\n';
    const offsets = objects.map((body, i) => {
        const at = out.length;
        out += `${i + 1} 0 obj\n${body}\nendobj\n`;
        return at;
    });
    const xref = out.length;
    out += `xref\n0 ${objects.length + 1}\n0000000000 65535 f \n`;
    out += offsets.map((o) => `${String(o).padStart(10, '0')} 00000 n \n`).join('');
    out += `trailer\n<< /Size ${objects.length + 1} /Root 1 0 R >>\nstartxref\n${xref}\n%%EOF\n`;
    return Buffer.from(out, 'latin1');
}

before(async () => {
    const photos = path.join(work.share, 'Photos');
    fs.mkdirSync(photos);
    browser = await launchBrowser();
    const page = await browser.newPage();
    fs.writeFileSync(path.join(photos, 'a.jpg'), await drawPicture(page, 'image/jpeg', 1200, 900, 1));
    fs.writeFileSync(path.join(photos, 'b.png'), await drawPicture(page, 'image/png', 400, 300, 2));
    fs.writeFileSync(path.join(photos, 'c.webp'), await drawPicture(page, 'image/webp', 800, 600, 3));
    await page.close();
    fs.writeFileSync(path.join(photos, 'clip.webm'), clip);
    fs.writeFileSync(path.join(work.share, 'notes.txt'), 'Plain words, shown as they are.\n');
    fs.writeFileSync(path.join(work.share, 'leaflet.pdf'), pdf('A leaflet'));
    fs.writeFileSync(path.join(work.share, 'trap.html'), '<title>trap</title><script>document.title = "ran " + document.cookie</script>');
    server = await startServer(work, ['--pages', 'responsive']);
});

after(async () => {
    await browser?.close();
    await server?.stop();
    work.remove();
});

const shown = (page) => page.$eval('dialog.viewer .st > *', (m) => new URL(m.src).pathname);

for (const screen of Screens) {
    test(`viewing on a ${screen.name}`, async (t) => {
        const context = await browser.newContext({ ...screen, acceptDownloads: true });
        const page = await context.newPage();
        page.setDefaultTimeout(15000);
        await page.goto(server.base + 'Photos/');

        await t.test('a picture opens in the viewer, shown by the browser', async () => {
            const [answer] = await Promise.all([
                page.waitForResponse((r) => r.url().endsWith('/Photos/a.jpg')),
                page.click('#files a.o:has-text("a.jpg")'),
            ]);
            assert.ok(await page.isVisible('dialog.viewer[open]'));
            assert.equal(await page.textContent('dialog.viewer .tt'), 'a.jpg');
            assert.equal(answer.headers()['content-type'], 'image/jpeg');
            assert.match(answer.headers()['content-disposition'], /^inline/);
        });

        // Each row: how to step, the picture shown after it, whether "previous" and "next" show.
        const steps = [
            ['the next button', (p) => p.click('dialog.viewer .nx'), '/Photos/b.png', true, true],
            ['the right arrow key', (p) => p.keyboard.press('ArrowRight'), '/Photos/c.webp', true, false],
            ['the right arrow key at the end', (p) => p.keyboard.press('ArrowRight'), '/Photos/c.webp', true, false],
            ['the left arrow key', (p) => p.keyboard.press('ArrowLeft'), '/Photos/b.png', true, true],
            ['a swipe to the right', (p) => p.$eval('dialog.viewer .st', (st) => {
                st.dispatchEvent(new PointerEvent('pointerdown', { clientX: 100, bubbles: true }));
                st.dispatchEvent(new PointerEvent('pointerup', { clientX: 300, bubbles: true }));
            }), '/Photos/a.jpg', false, true],
            ['a swipe to the left', (p) => p.$eval('dialog.viewer .st', (st) => {
                st.dispatchEvent(new PointerEvent('pointerdown', { clientX: 300, bubbles: true }));
                st.dispatchEvent(new PointerEvent('pointerup', { clientX: 100, bubbles: true }));
            }), '/Photos/b.png', true, true],
            ['the previous button', (p) => p.click('dialog.viewer .pv'), '/Photos/a.jpg', false, true],
        ];
        for (const [how, step, picture, previous, next] of steps) {
            await t.test(`stepping by ${how}`, async () => {
                await step(page);
                assert.equal(await shown(page), picture);
                assert.equal(await page.isVisible('dialog.viewer .pv'), previous);
                assert.equal(await page.isVisible('dialog.viewer .nx'), next);
            });
        }

        await t.test('Escape closes the viewer', async () => {
            await page.keyboard.press('Escape');
            assert.ok(!(await page.isVisible('dialog.viewer[open]')));
        });

        await t.test('a video plays in the page and is sought by ranges', async () => {
            const ranges = [];
            page.on('response', (r) => {
                if (r.url().endsWith('/clip.webm'))
                    ranges.push([r.request().headers().range, r.status(), r.headers()['content-type']]);
            });
            await page.click('#files a.o:has-text("clip.webm")');
            const sought = await page.$eval('dialog.viewer video', (v) => new Promise((done, fail) => {
                const seek = () => {
                    v.pause();
                    v.addEventListener('seeked', () => done([v.duration, v.currentTime]), { once: true });
                    v.currentTime = 1.5;
                };
                v.addEventListener('error', () => fail(new Error('the video does not play')));
                if (v.readyState >= 1) seek(); else v.addEventListener('loadedmetadata', seek, { once: true });
            }));
            assert.ok(sought[0] > 2.5 && sought[0] < 3.5, `duration ${sought[0]}`);
            assert.ok(Math.abs(sought[1] - 1.5) < 0.2, `at ${sought[1]}`);
            // Chromium asks "bytes=0-" first, which the server answers whole (200): a small clip
            // is then sought in what came. A later piece is a range of it.
            assert.deepEqual(ranges[0].slice(1), [200, 'video/webm'], JSON.stringify(ranges));
            const piece = await page.evaluate(async () => {
                const r = await fetch(`${location.pathname}clip.webm`, { headers: { Range: 'bytes=1000-' } });
                return [r.status, r.headers.get('content-type'), r.headers.get('content-range')];
            });
            assert.equal(piece[0], 206);
            assert.equal(piece[1], 'video/webm');
            assert.match(piece[2], /^bytes 1000-/);
            await page.keyboard.press('Escape');
        });

        // Each row: the file, its type, what the browser shows of it.
        const shownByTheBrowser = [
            ['notes.txt', 'text/plain; charset=utf-8', (p) => p.textContent('body'), /Plain words/],
            ['leaflet.pdf', 'application/pdf', (p) => p.evaluate(() => document.contentType), /application\/pdf/],
        ];
        for (const [name, type, read, expected] of shownByTheBrowser) {
            await t.test(`${name} opens in the browser`, async () => {
                let downloaded = false;
                page.once('download', () => { downloaded = true; });
                const response = await page.goto(server.base + name);
                assert.equal(response.headers()['content-type'], type);
                assert.match(response.headers()['content-disposition'], /^inline/);
                assert.match(await read(page), expected);
                assert.ok(!downloaded);
            });
        }

        await t.test('a page of the share runs without the visitor\'s session', async () => {
            const response = await page.goto(server.base + 'trap.html');
            assert.equal(response.headers()['content-security-policy'], 'sandbox');
            assert.equal(await page.title(), 'trap');
        });

        await t.test('every file keeps its download link', async () => {
            await page.goto(server.base + 'Photos/');
            const [download] = await Promise.all([
                page.waitForEvent('download'),
                page.click('#files li:has-text("b.png") a.dl'),
            ]);
            assert.equal(download.suggestedFilename(), 'b.png');
            const saved = path.join(work.downloads, `${screen.name}-b.png`);
            await download.saveAs(saved);
            assert.deepEqual(fs.readFileSync(saved), fs.readFileSync(path.join(work.share, 'Photos', 'b.png')));
        });
        await context.close();
    });
}
