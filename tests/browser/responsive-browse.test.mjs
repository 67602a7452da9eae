// Browses the responsive pages of a headless Tessaly in Chromium on a phone and on a desktop:
// the way to a folder, sorting, paging, cards and list, thumbnails, touch targets, the keyboard,
// dark colours, and no serious accessibility fault found by axe-core in either colour scheme.

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { Screens, axeSource, bytes, drawPicture, launchBrowser, startServer, workFolder } from './support.mjs';

const work = workFolder('browse');
let server;
let browser;

// The names of the entries on the page shown, in order.
const names = (page) => page.$$eval('#files .nm', (all) => all.map((n) => n.textContent));

before(async () => {
    // 30 entries: a folder, 27 notes of growing size and age, two photos.
    fs.mkdirSync(path.join(work.share, 'Photos', 'Summer <2024>'), { recursive: true });
    for (let i = 0; i < 27; ++i) {
        const file = path.join(work.share, `note ${String(i).padStart(2, '0')}.txt`);
        fs.writeFileSync(file, bytes(100 * (i + 1), i));
        const when = new Date(Date.UTC(2023, 0, 1 + i));
        fs.utimesSync(file, when, when);
    }
    browser = await launchBrowser();
    const page = await browser.newPage();
    fs.writeFileSync(path.join(work.share, 'Photos', 'beach.jpg'), await drawPicture(page, 'image/jpeg', 1600, 1200, 3));
    fs.writeFileSync(path.join(work.share, 'Photos', 'small.png'), await drawPicture(page, 'image/png', 64, 48, 4));
    fs.writeFileSync(path.join(work.share, 'Photos', 'icon.webp'), await drawPicture(page, 'image/webp', 300, 300, 5));
    await page.close();
    server = await startServer(work, ['--pages', 'responsive']);
});

after(async () => {
    await browser?.close();
    await server?.stop();
    work.remove();
});

for (const screen of Screens) {
    test(`browsing on a ${screen.name}`, async (t) => {
        const context = await browser.newContext(screen);
        const page = await context.newPage();
        page.setDefaultTimeout(15000);

        await t.test('the share: a page of cards, then the next page', async () => {
            const response = await page.goto(server.base);
            assert.equal(response.status(), 200);
            assert.match(await page.getAttribute('meta[name=viewport]', 'content'), /width=device-width/);
            assert.equal(await page.textContent('h1'), 'share');
            const shown = await names(page);
            assert.equal(shown.length, 24);
            assert.deepEqual(shown.slice(0, 2), ['Photos', 'note 00.txt']);
            assert.ok(await page.isVisible('#files.grid'));
            await Promise.all([page.waitForNavigation(), page.click('.pager a[rel=next]')]);
            assert.deepEqual(await names(page), ['note 23.txt', 'note 24.txt', 'note 25.txt', 'note 26.txt']);
            assert.equal(await page.textContent('.pager [aria-current=page]'), '2');
        });

        // Each row: the sort link pressed, the first entries after it, the order it says.
        const sorts = [
            ['Size', ['Photos', 'note 26.txt', 'note 25.txt'], 'descending'],
            ['Size', ['Photos', 'note 00.txt', 'note 01.txt'], 'ascending'],
            ['Date', ['Photos', 'note 26.txt', 'note 25.txt'], 'descending'],
            ['Name', ['Photos', 'note 00.txt', 'note 01.txt'], 'ascending'],
            ['Name', ['Photos', 'note 26.txt', 'note 25.txt'], 'descending'],
        ];
        for (const [key, first, order] of sorts) {
            await t.test(`sort by ${key}, ${order}`, async () => {
                await Promise.all([page.waitForNavigation(), page.click(`nav.seg a:has-text("${key}")`)]);
                assert.deepEqual((await names(page)).slice(0, 3), first);
                assert.match(await page.textContent('nav.seg [aria-current=true]'), new RegExp(`${key}.*${order}`));
            });
        }

        await t.test('a list instead of cards, kept by the session', async () => {
            await Promise.all([page.waitForNavigation(), page.click('nav.seg a[href="?v=l"]')]);
            assert.ok(await page.isVisible('#files.list'));
            await page.goto(server.base);
            assert.ok(await page.isVisible('#files.list'));
            await Promise.all([page.waitForNavigation(), page.click('nav.seg a[href="?v=g"]')]);
            assert.ok(await page.isVisible('#files.grid'));
        });

        await t.test('the way down and back up', async () => {
            await Promise.all([page.waitForNavigation(), page.click('#files a.o:has-text("Photos")')]);
            await Promise.all([page.waitForNavigation(), page.click('#files a.o:has-text("Summer")')]);
            assert.equal(await page.textContent('h1'), 'Summer <2024>');
            assert.deepEqual(await page.$$eval('.crumbs a', (all) => all.map((a) => [a.textContent, a.getAttribute('href')])),
                [['share', '/'], ['Photos', '/Photos/'], ['Summer <2024>', '/Photos/Summer%20%3C2024%3E/']]);
            assert.ok(await page.isVisible('.empty'));
            await Promise.all([page.waitForNavigation(), page.click('.crumbs a:has-text("Photos")')]);
            assert.equal(new URL(page.url()).pathname, '/Photos/');
        });

        await t.test('thumbnails for every picture, made while the page waits', async () => {
            // A JPEG, a PNG below the classic pages' threshold and a WebP all get one.
            for (const name of ['beach.jpg', 'small.png', 'icon.webp']) {
                const img = page.locator(`#files li:has-text("${name}") .p img`);
                assert.equal(await img.getAttribute('loading'), 'lazy');
                await page.waitForFunction((el) => el.complete && el.naturalWidth > 0, await img.elementHandle());
                const [w, h] = await img.evaluate((el) => [el.naturalWidth, el.naturalHeight]);
                assert.ok(Math.max(w, h) <= 360 && Math.max(w, h) >= 48, `${name}: ${w}x${h}`);
            }
        });

        await t.test('touch targets of 44 pixels, nothing wider than the screen', async () => {
            await page.goto(server.base);
            const small = await page.$$eval('.crumbs a, .bar summary, .bar .b, .seg a, .ck, a.dl, .pager a, .find button',
                (all) => all.filter((e) => e.offsetParent).map((e) => [e.outerHTML.slice(0, 60), e.getBoundingClientRect()])
                    .filter(([, r]) => r.width < 44 || r.height < 44).map(([h]) => h));
            assert.deepEqual(small, []);
            assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth));
        });

        await t.test('the keyboard: the first Tab offers to skip to the files', async () => {
            await page.keyboard.press('Tab');
            assert.equal(await page.evaluate(() => document.activeElement.getAttribute('href')), '#files');
            await page.keyboard.press('Enter');
            await page.keyboard.press('Tab');
            assert.ok(await page.evaluate(() => document.activeElement.closest('#files') !== null));
        });

        for (const colorScheme of ['light', 'dark']) {
            await t.test(`${colorScheme} colours, and no serious accessibility fault`, async () => {
                await page.emulateMedia({ colorScheme });
                await page.goto(server.base + 'Photos/');
                const background = await page.evaluate(() => getComputedStyle(document.body).backgroundColor);
                const [r, g, b] = background.match(/\d+/g).map(Number);
                assert.equal((r + g + b) / 3 < 128, colorScheme === 'dark', background);
                await page.addScriptTag({ content: axeSource() });
                const found = await page.evaluate(async () => (await window.axe.run()).violations
                    .filter((v) => v.impact === 'serious' || v.impact === 'critical')
                    .map((v) => `${v.id}: ${v.nodes.map((n) => n.target).join(' ')}`));
                assert.deepEqual(found, []);
            });
        }
        await context.close();
    });
}
