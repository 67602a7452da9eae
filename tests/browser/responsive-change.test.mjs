// Changes a share through the responsive pages of a headless Tessaly in Chromium on a phone and
// on a desktop: uploads of two files, of a folder and by drag and drop, an upload cancelled, a
// new folder, deleting; the same without JavaScript; and requests that other pages make, or that
// lack the page's token, refused without a change.

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { Screens, bytes, launchBrowser, startServer, workFolder } from './support.mjs';

const work = workFolder('change');
let server;
let browser;
// Another site, on another name of this machine.
let other;

const names = (page) => page.$$eval('#files .nm', (all) => all.map((n) => n.textContent));
const inShare = (...parts) => path.join(work.share, ...parts);
// Names in a folder of the share, hidden ones too.
const listed = (folder) => fs.readdirSync(inShare(folder)).sort();

before(async () => {
    const local = path.join(work.root, 'local');
    fs.mkdirSync(path.join(local, 'Album', 'inner'), { recursive: true });
    fs.writeFileSync(path.join(local, 'one.txt'), 'the first file\n');
    fs.writeFileSync(path.join(local, 'two.bin'), bytes(300000, 2));
    fs.writeFileSync(path.join(local, 'Album', 'cover.txt'), 'cover\n');
    fs.writeFileSync(path.join(local, 'Album', 'inner', 'track.bin'), bytes(5000, 3));
    fs.writeFileSync(path.join(local, 'large.bin'), bytes(3000000, 4));
    for (const screen of [...Screens.map((s) => s.name), 'nojs'])
        fs.mkdirSync(inShare(screen));
    browser = await launchBrowser();
    server = await startServer(work, ['--pages', 'responsive']);
    other = http.createServer((request, response) => {
        // A page that posts to the share as soon as it is opened.
        const target = new URL(request.url, 'http://x').searchParams.get('to');
        response.setHeader('Content-Type', 'text/html');
        response.end(`<form method="post" action="${target}"><input name="a" value="del"><input name="n" value="keep.txt">`
                      + '</form><script>document.forms[0].submit()</script>');
    });
    await new Promise((done) => other.listen(0, '127.0.0.1', done));
});

after(async () => {
    await browser?.close();
    await server?.stop();
    other?.close();
    work.remove();
});

const local = (...parts) => path.join(work.root, 'local', ...parts);

for (const screen of Screens) {
    test(`changing the share on a ${screen.name}`, async (t) => {
        const context = await browser.newContext(screen);
        const page = await context.newPage();
        page.setDefaultTimeout(20000);
        const folder = `${server.base}${screen.name}/`;
        await page.goto(folder);
        // The page reloads itself once every upload went well.
        const uploading = async (start) => {
            await Promise.all([page.waitForNavigation(), start()]);
        };

        await t.test('two files at once', async () => {
            await page.click('summary:has-text("Upload")');
            await uploading(() => page.setInputFiles('form.up input[multiple]', [local('one.txt'), local('two.bin')]));
            assert.deepEqual(await names(page), ['one.txt', 'two.bin']);
            assert.deepEqual(fs.readFileSync(inShare(screen.name, 'two.bin')), fs.readFileSync(local('two.bin')));
        });

        await t.test('a folder with everything in it', async () => {
            await page.click('summary:has-text("Upload")');
            await uploading(() => page.setInputFiles('form.up input[webkitdirectory]', local('Album')));
            assert.ok((await names(page)).includes('Album'));
            assert.equal(fs.readFileSync(inShare(screen.name, 'Album', 'cover.txt'), 'utf8'), 'cover\n');
            assert.deepEqual(fs.readFileSync(inShare(screen.name, 'Album', 'inner', 'track.bin')), bytes(5000, 3));
        });

        await t.test('files dropped onto the page', async () => {
            const drop = await page.evaluateHandle(() => {
                const transfer = new DataTransfer();
                transfer.items.add(new File(['dropped here\n'], 'dropped.txt', { type: 'text/plain' }));
                return transfer;
            });
            await page.dispatchEvent('main', 'dragenter', { dataTransfer: drop });
            assert.ok(await page.isVisible('.drop'));
            await uploading(() => page.dispatchEvent('main', 'drop', { dataTransfer: drop }));
            assert.equal(fs.readFileSync(inShare(screen.name, 'dropped.txt'), 'utf8'), 'dropped here\n');
        });

        await t.test('an upload cancelled leaves nothing', async () => {
            const cdp = await context.newCDPSession(page);
            await cdp.send('Network.emulateNetworkConditions',
                { offline: false, latency: 0, downloadThroughput: -1, uploadThroughput: 200 * 1024 });
            await page.click('summary:has-text("Upload")');
            await page.setInputFiles('form.up input[multiple]', local('large.bin'));
            await page.waitForFunction(() => document.querySelector('.ups li progress')?.value > 0);
            await page.click('.ups li button');
            await page.waitForSelector('.ups li.bad');
            await cdp.send('Network.emulateNetworkConditions',
                { offline: false, latency: 0, downloadThroughput: -1, uploadThroughput: -1 });
            // The server removes what came once it sees the connection end.
            await page.waitForFunction(async () => !(await (await fetch(location.href)).text()).includes('large.bin'));
            assert.ok(!listed(screen.name).some((n) => n.includes('large')), listed(screen.name).join());
            await page.reload();
        });

        await t.test('a new folder', async () => {
            await page.click('summary:has-text("New folder")');
            await page.fill('input[type=text][name=f]', 'Trip <photos>');
            await Promise.all([page.waitForNavigation(), page.click('form.pop button:has-text("Create")')]);
            assert.equal(await page.textContent('.msg'), 'New folder created');
            assert.ok(fs.statSync(inShare(screen.name, 'Trip <photos>')).isDirectory());
        });

        await t.test('two entries deleted after a question', async () => {
            const questions = [];
            page.once('dialog', (dialog) => { questions.push(dialog.message()); dialog.accept(); });
            await page.check('#files li:has-text("Album") input[type=checkbox]');
            await page.check('#files li:has-text("one.txt") input[type=checkbox]');
            await Promise.all([page.waitForNavigation(), page.click('.selbar button:has-text("Delete")')]);
            assert.equal(questions.length, 1);
            assert.match(questions[0], /2/);
            assert.match(await page.textContent('.msg'), /2 deleted/);
            assert.ok(!fs.existsSync(inShare(screen.name, 'Album')) && !fs.existsSync(inShare(screen.name, 'one.txt')));
        });

        // Each row: a request made in the visitor's browser, by a page of the share or another
        // one, that must change nothing.
        const refused = [
            ['a form of another site', () => page.goto(`http://localhost:${other.address().port}/?to=${encodeURIComponent(folder)}`)],
            ['a request without the token', () => page.evaluate(() => fetch(location.pathname, {
                method: 'POST', headers: { 'Content-Type': 'application/x-www-form-urlencoded' }, body: 'a=del&n=keep.txt',
            }))],
            ['a request with a wrong token', () => page.evaluate(() => fetch(location.pathname, {
                method: 'POST', headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
                body: 'a=del&n=keep.txt&t=' + 'f'.repeat(32),
            }))],
        ];
        for (const [who, send] of refused) {
            await t.test(`${who} is refused`, async () => {
                fs.writeFileSync(inShare(screen.name, 'keep.txt'), 'kept');
                await page.goto(folder);
                const answers = [];
                page.on('response', (r) => { if (r.request().method() === 'POST') answers.push(r.status()); });
                await send();
                await page.waitForTimeout(300);
                assert.ok(answers.length === 0 || answers.every((s) => s === 403), answers.join());
                assert.equal(fs.readFileSync(inShare(screen.name, 'keep.txt'), 'utf8'), 'kept');
                page.removeAllListeners('response');
            });
        }
        await context.close();
    });
}

test('without JavaScript', async (t) => {
    const context = await browser.newContext({ ...Screens[0], javaScriptEnabled: false });
    const page = await context.newPage();
    page.setDefaultTimeout(15000);
    const folder = `${server.base}nojs/`;
    const submitting = (action) => Promise.all([page.waitForNavigation(), action()]);

    await t.test('browse', async () => {
        fs.mkdirSync(inShare('nojs', 'Inside'));
        fs.writeFileSync(inShare('nojs', 'Inside', 'deep.txt'), 'deep');
        await page.goto(server.base);
        await submitting(() => page.click('#files a.o:has-text("nojs")'));
        await submitting(() => page.click('#files a.o:has-text("Inside")'));
        assert.deepEqual(await names(page), ['deep.txt']);
    });

    await t.test('upload two files', async () => {
        await page.goto(folder);
        await page.click('summary:has-text("Upload")');
        await page.setInputFiles('form.up input[multiple]', [local('one.txt'), local('two.bin')]);
        await submitting(() => page.click('form.up button'));
        assert.equal(await page.textContent('.msg'), 'File sent success.');
        assert.equal(new URL(page.url()).search, '');
        assert.deepEqual(fs.readFileSync(inShare('nojs', 'two.bin')), fs.readFileSync(local('two.bin')));
        assert.ok((await names(page)).includes('one.txt'));
    });

    await t.test('create a folder', async () => {
        await page.click('summary:has-text("New folder")');
        await page.fill('input[type=text][name=f]', 'Made');
        await submitting(() => page.click('form.pop button:has-text("Create")'));
        assert.ok(fs.statSync(inShare('nojs', 'Made')).isDirectory());
    });

    await t.test('delete', async () => {
        await page.check('#files li:has-text("Made") input[type=checkbox]');
        await page.check('#files li:has-text("one.txt") input[type=checkbox]');
        await submitting(() => page.click('.selbar button:has-text("Delete")'));
        assert.match(await page.textContent('.msg'), /2 deleted/);
        assert.ok(!fs.existsSync(inShare('nojs', 'Made')) && !fs.existsSync(inShare('nojs', 'one.txt')));
    });
    await context.close();
});
