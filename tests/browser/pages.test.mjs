// The folder pages of a headless Tessaly in Chromium, clicked through as a person would. The
// responsive pages on a phone and on a desktop: browsing (paging, sorting, escaped names,
// thumbnails, touch targets, dark colours and accessibility), a page of the share kept from
// acting for the visitor, changes (uploads, a folder, deleting), and requests of other pages or
// without the page's token refused without a change.
// The classic pages: sorting, an upload onto a name that exists, a folder made and deleted with
// the confirm dialog; its plain forms are what the responsive pages fall back to without
// JavaScript. (Paging, thumbnails and downloads of the classic pages are the C++ tests'.)

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { Screens, axePath, bytes, drawPicture, launchBrowser, startServer, workFolder } from './support.mjs';

const work = workFolder('responsive');
const classic = workFolder('classic');
// Waits for the navigation that `action` starts.
const submitting = (page, action) => Promise.all([page.waitForNavigation(), action()]);
const inShare = (...parts) => path.join(work.share, ...parts);
const local = (...parts) => path.join(work.root, 'local', ...parts);
const names = (page) => page.$$eval('#files .nm', (all) => all.map((n) => n.textContent));
let server;
let classicServer;
let browser;
let other; // another site, on another name of this machine: a form posting to the share at once

before(async () => {
    // The share: Photos, up (one folder per flow that changes it), trap.html and 27 notes of
    // growing size.
    fs.mkdirSync(inShare('Photos', 'Summer <2024>'), { recursive: true });
    for (const flow of Screens.map((s) => s.name))
        fs.mkdirSync(inShare('up', flow), { recursive: true });
    for (let i = 0; i < 27; ++i)
        fs.writeFileSync(inShare(`note ${String(i).padStart(2, '0')}.txt`), bytes(100 * (i + 1), i));
    fs.writeFileSync(inShare('trap.html'), '<title>trap</title><script>document.title = "ran " + document.cookie</script>');
    fs.mkdirSync(local('Album', 'inner'), { recursive: true });
    fs.writeFileSync(local('one.txt'), 'the first file\n');
    fs.writeFileSync(local('two.bin'), bytes(300000, 2));
    fs.writeFileSync(local('Album', 'inner', 'track.bin'), bytes(5000, 3));
    fs.writeFileSync(local('large.bin'), bytes(3000000, 4));
    browser = await launchBrowser();
    const page = await browser.newPage();
    fs.writeFileSync(inShare('Photos', 'a.jpg'), await drawPicture(page, 'image/jpeg', 1600, 1200, 1));
    fs.writeFileSync(inShare('Photos', 'b.png'), await drawPicture(page, 'image/png', 64, 48, 2));
    fs.writeFileSync(inShare('Photos', 'c.webp'), await drawPicture(page, 'image/webp', 300, 300, 3));
    await page.close();
    server = await startServer(work, ['--pages', 'responsive']);
    for (let i = 0; i < 24; ++i)
        fs.writeFileSync(path.join(classic.share, `file${String(i).padStart(2, '0')}.txt`), `entry ${i}\n`);
    fs.writeFileSync(path.join(classic.share, 'big.bin'), bytes(300000, 1));
    fs.writeFileSync(path.join(classic.share, 'middle.bin'), bytes(50000, 2));
    classicServer = await startServer(classic);
    other = http.createServer((request, response) => {
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
    await classicServer?.stop();
    other?.close();
    work.remove();
    classic.remove();
});

for (const screen of Screens) {
    test(`on a ${screen.name}`, async (t) => {
        const context = await browser.newContext(screen);
        const page = await context.newPage();
        page.setDefaultTimeout(20000);
        const submit = (action) => submitting(page, action);

        await t.test('a page of cards, the next page, sorted by size', async () => {
            assert.equal((await page.goto(server.base)).status(), 200);
            assert.equal((await names(page)).length, 24);
            await submit(() => page.click('.pager a[rel=next]'));
            assert.equal((await names(page)).length, 6);
            await submit(() => page.click('nav.seg a:has-text("Size")'));
            assert.deepEqual((await names(page)).filter((n) => n.startsWith('note')).slice(0, 2), ['note 26.txt', 'note 25.txt']);
        });

        await t.test('thumbnails for every picture, touch targets of 44 pixels', async () => {
            await page.goto(server.base + 'Photos/');
            for (const name of ['a.jpg', 'b.png', 'c.webp']) {
                const img = page.locator(`#files li:has-text("${name}") .p img`);
                await page.waitForFunction((el) => el.complete && el.naturalWidth > 0, await img.elementHandle());
                const size = await img.evaluate((el) => Math.max(el.naturalWidth, el.naturalHeight));
                assert.ok(size <= 360 && size >= 48, `${name}: ${size}`);
            }
            const small = await page.$$eval('.crumbs a, .bar summary, .bar .b, .seg a, .ck, a.dl, .pager a, .find button',
                (all) => all.filter((e) => e.offsetParent).map((e) => [e.outerHTML.slice(0, 60), e.getBoundingClientRect()])
                    .filter(([, r]) => r.width < 44 || r.height < 44).map(([h]) => h));
            assert.deepEqual(small, []);
            assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth));
        });

        await t.test('dark colours, and no serious accessibility fault', async () => {
            await page.emulateMedia({ colorScheme: 'dark' });
            await page.goto(server.base + 'Photos/');
            const [r, g, b] = (await page.evaluate(() => getComputedStyle(document.body).backgroundColor)).match(/\d+/g);
            assert.ok(+r + +g + +b < 384);
            await page.addScriptTag({ path: axePath });
            const found = await page.evaluate(async () => (await window.axe.run()).violations
                .filter((v) => v.impact === 'serious' || v.impact === 'critical').map((v) => v.id));
            assert.deepEqual(found, []);
            await page.emulateMedia({ colorScheme: 'light' });
        });

        await t.test('a page of the share runs without the visitor\'s session', async () => {
            const response = await page.goto(server.base + 'trap.html');
            assert.equal(response.headers()['content-security-policy'], 'sandbox');
            assert.equal(await page.title(), 'trap');
        });

        const folder = `${server.base}up/${screen.name}/`;
        const mine = (...parts) => inShare('up', screen.name, ...parts);
        await t.test('uploads: two files, a folder, files dropped', async () => {
            await page.goto(folder);
            await page.click('summary:has-text("Upload")');
            await submit(() => page.setInputFiles('form.up input[multiple]', [local('one.txt'), local('two.bin')]));
            assert.deepEqual(fs.readFileSync(mine('two.bin')), bytes(300000, 2));
            await page.click('summary:has-text("Upload")');
            await submit(() => page.setInputFiles('form.up input[webkitdirectory]', local('Album')));
            assert.deepEqual(fs.readFileSync(mine('Album', 'inner', 'track.bin')), bytes(5000, 3));
            const drop = await page.evaluateHandle(() => {
                const transfer = new DataTransfer();
                transfer.items.add(new File(['dropped here\n'], 'dropped.txt', { type: 'text/plain' }));
                return transfer;
            });
            await page.dispatchEvent('main', 'dragenter', { dataTransfer: drop });
            await submit(() => page.dispatchEvent('main', 'drop', { dataTransfer: drop }));
            assert.equal(fs.readFileSync(mine('dropped.txt'), 'utf8'), 'dropped here\n');
            assert.deepEqual((await names(page)).sort(), ['Album', 'dropped.txt', 'one.txt', 'two.bin']);
        });

        await t.test('an upload cancelled leaves nothing', async () => {
            const cdp = await context.newCDPSession(page);
            const throttle = (uploadThroughput) => cdp.send('Network.emulateNetworkConditions',
                { offline: false, latency: 0, downloadThroughput: -1, uploadThroughput });
            await throttle(200 * 1024);
            await page.click('summary:has-text("Upload")');
            await page.setInputFiles('form.up input[multiple]', local('large.bin'));
            await page.waitForFunction(() => document.querySelector('.ups li progress')?.value > 0);
            await page.click('.ups li button');
            await page.waitForSelector('.ups li.bad');
            await throttle(-1);
            // The server removes what came once it sees the connection end.
            await page.waitForFunction(async () => !(await (await fetch(location.href)).text()).includes('large.bin'));
            assert.ok(!fs.readdirSync(mine()).some((n) => n.includes('large')));
        });

        await t.test('a new folder, then two entries deleted after a question', async () => {
            await page.goto(folder);
            await page.click('summary:has-text("New folder")');
            await page.fill('input[type=text][name=f]', 'Trip <photos>');
            await submit(() => page.click('form.pop button:has-text("Create")'));
            assert.ok(fs.statSync(mine('Trip <photos>')).isDirectory());
            page.once('dialog', (dialog) => dialog.accept());
            await page.check('#files li:has-text("Album") input[type=checkbox]');
            await page.check('#files li:has-text("one.txt") input[type=checkbox]');
            await submit(() => page.click('.selbar button:has-text("Delete")'));
            assert.match(await page.textContent('.msg'), /2 deleted/);
            assert.ok(!fs.existsSync(mine('Album')) && !fs.existsSync(mine('one.txt')));
        });

        // Each row: a request made in the visitor's browser that must change nothing.
        const post = (body) => page.evaluate((b) => fetch(location.pathname, {
            method: 'POST', headers: { 'Content-Type': 'application/x-www-form-urlencoded' }, body: b }), body);
        const refused = [
            ['a form of another site', () => page.goto(`http://localhost:${other.address().port}/?to=${encodeURIComponent(folder)}`)],
            ['a request without the token', () => post('a=del&n=keep.txt')],
            ['a request with a wrong token', () => post('a=del&n=keep.txt&t=' + 'f'.repeat(32))],
        ];
        for (const [who, send] of refused) {
            await t.test(`${who} is refused`, async () => {
                fs.writeFileSync(mine('keep.txt'), 'kept');
                await page.goto(folder);
                const answers = [];
                page.on('response', (r) => { if (r.request().method() === 'POST') answers.push(r.status()); });
                await send();
                await page.waitForTimeout(300);
                assert.ok(answers.every((s) => s === 403), answers.join());
                assert.equal(fs.readFileSync(mine('keep.txt'), 'utf8'), 'kept');
                page.removeAllListeners('response');
            });
        }
        await context.close();
    });
}

test('the classic pages', async () => {
    const page = await browser.newPage();
    page.setDefaultTimeout(15000);
    const submit = (action) => submitting(page, action);
    const entryNames = () => page.$$eval('td[width="200"] a', (all) => all.map((a) => a.innerHTML.split('<br>')[1]));
    assert.equal((await page.goto(classicServer.base)).status(), 200);
    await submit(() => page.selectOption('select:has(option[value="s"])', 's'));
    assert.deepEqual((await entryNames()).slice(0, 2), ['big.bin', 'middle.bin']);
    await page.fill('input[name="cv"]', '100');
    await submit(() => page.click('input[value="Set Item/Page:"]'));
    assert.equal((await entryNames()).length, 26);

    // The answer onto a name that exists comes before the browser has sent the file: had the
    // server closed at once, the browser would show a reset connection instead of the page.
    fs.writeFileSync(path.join(classic.root, 'big.bin'), bytes(4000000, 4));
    await submit(() => page.selectOption('select:has(option[value="up"])', 'up'));
    await page.setInputFiles('input[type="file"]', path.join(classic.root, 'big.bin'));
    await submit(() => page.click('input[value="Send"]'));
    assert.ok(await page.isVisible('text=File send failed: File exists'));
    assert.deepEqual(fs.readFileSync(path.join(classic.share, 'big.bin')), bytes(300000, 1));

    await submit(() => page.selectOption('select:has(option[value="cf"])', 'cf'));
    await page.fill('input[name="f"]', 'Trip photos');
    await submit(() => page.click('input[value="Create"]'));
    fs.writeFileSync(path.join(classic.share, 'Trip photos', 'inside.txt'), 'x');
    await page.reload();
    const questions = [];
    page.once('dialog', (dialog) => { questions.push(dialog.message()); dialog.accept(); });
    await page.check('input[type="checkbox"][value="Trip photos"]');
    await page.check('input[type="checkbox"][value="file03.txt"]');
    await submit(() => page.click('input[value="Delete selected items"]'));
    assert.deepEqual(questions, ['Delete all files in folder Trip photos?']);
    assert.ok(await page.isVisible('text=2 file removed.'));
    assert.ok(!fs.existsSync(path.join(classic.share, 'Trip photos')) && !fs.existsSync(path.join(classic.share, 'file03.txt')));
});
