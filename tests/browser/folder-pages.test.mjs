// Clicks through the classic folder pages of a headless Tessaly in Chromium, as a person would:
// sort, upload (also onto a name that exists), create a folder and delete with the confirm
// dialog. (Paging, thumbnails and downloads are the C++ tests'.)

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { bytes, launchBrowser, startServer, submitting, workFolder } from './support.mjs';

const work = workFolder('classic');
const inShare = (...parts) => path.join(work.share, ...parts);
let server;
let browser;
let page;

// The entry names of the folder page shown, in order.
const entryNames = () => page.$$eval('td[width="200"] a', (all) => all.map((a) => a.innerHTML.split('<br>')[1]));
const submit = (action) => submitting(page, action);

before(async () => {
    // 24 small files, one big, one middling: 26 entries.
    for (let i = 0; i < 24; ++i)
        fs.writeFileSync(inShare(`file${String(i).padStart(2, '0')}.txt`), `entry ${i}\n`);
    fs.writeFileSync(inShare('big.bin'), bytes(300000, 1));
    fs.writeFileSync(inShare('middle.bin'), bytes(50000, 2));
    server = await startServer(work);
    browser = await launchBrowser();
    page = await (await browser.newContext({ acceptDownloads: true })).newPage();
    page.setDefaultTimeout(15000);
});

after(async () => {
    await browser?.close();
    await server?.stop();
    work.remove();
});

test('folder pages in a browser', async (t) => {
    await t.test('sort by size, all on one page', async () => {
        assert.equal((await page.goto(server.base)).status(), 200);
        await submit(() => page.selectOption('select:has(option[value="s"])', 's'));
        assert.deepEqual((await entryNames()).slice(0, 2), ['big.bin', 'middle.bin']);
        await page.fill('input[name="cv"]', '100');
        await submit(() => page.click('input[value="Set Item/Page:"]'));
        assert.equal((await entryNames()).length, 26);
    });

    // Each row: the file sent, the message, what the share then holds under its name. The answer
    // onto a name that exists comes before the browser has sent the file: had the server closed
    // at once, the browser would show a reset connection instead of the page.
    const uploads = [
        ['holiday notes.bin', bytes(123457, 3), 'File sent success.', bytes(123457, 3)],
        ['big.bin', bytes(4000000, 4), 'File send failed: File exists', bytes(300000, 1)],
    ];
    for (const [name, data, message, kept] of uploads) {
        await t.test(`upload ${name}`, async () => {
            const local = path.join(work.root, name);
            fs.writeFileSync(local, data);
            await submit(() => page.selectOption('select:has(option[value="up"])', 'up'));
            await page.setInputFiles('input[type="file"]', local);
            await submit(() => page.click('input[value="Send"]'));
            assert.ok(await page.isVisible(`text=${message}`));
            assert.deepEqual(fs.readFileSync(inShare(name)), kept);
        });
    }

    await t.test('create a folder, then delete it and a file after the question', async () => {
        await submit(() => page.selectOption('select:has(option[value="cf"])', 'cf'));
        await page.fill('input[name="f"]', 'Trip photos');
        await submit(() => page.click('input[value="Create"]'));
        assert.ok(fs.statSync(inShare('Trip photos')).isDirectory());
        fs.writeFileSync(inShare('Trip photos', 'inside.txt'), 'x');
        await page.reload();
        const questions = [];
        page.once('dialog', (dialog) => { questions.push(dialog.message()); dialog.accept(); });
        await page.check('input[type="checkbox"][value="Trip photos"]');
        await page.check('input[type="checkbox"][value="file03.txt"]');
        await submit(() => page.click('input[value="Delete selected items"]'));
        assert.deepEqual(questions, ['Delete all files in folder Trip photos?']);
        assert.ok(await page.isVisible('text=2 file removed.'));
        assert.ok(!fs.existsSync(inShare('Trip photos')) && !fs.existsSync(inShare('file03.txt')));
    });
});
