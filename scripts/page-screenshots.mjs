// Takes the README's pictures of the folder pages: the responsive pages on a phone and on a
// desktop, light and dark, the picture viewer, and the classic pages, of a share made up here.
//   node scripts/page-screenshots.mjs [BUILD [FOLDER]]     (default: build, docs)
// Needs what the browser tests need (chromium, npm ci in tests/browser). Talks to 127.0.0.1 only.

import fs from 'node:fs';
import path from 'node:path';

const top = path.resolve(path.dirname(new URL(import.meta.url).pathname), '..');
process.env.TESSALY_BUILD_DIR = path.resolve(process.argv[2] || path.join(top, 'build'));
const out = path.resolve(process.argv[3] || path.join(top, 'docs'));
const { Screens, bytes, drawPicture, launchBrowser, startServer, workFolder } =
    await import(path.join(top, 'tests/browser/support.mjs'));

const work = workFolder('screenshots');
const share = (...parts) => path.join(work.share, ...parts);
const browser = await launchBrowser();
const draw = await browser.newPage();
// A holiday: folders, photos, a clip, music, papers.
for (const folder of ['Beach days', 'Mountains', 'Recipes'])
    fs.mkdirSync(share(folder));
const photos = ['Lagoon', 'Harbour at dusk', 'Old town', 'Ridge walk', 'Market', 'Sunrise', 'Cliffs', 'Night sky'];
for (let i = 0; i < photos.length; ++i)
    fs.writeFileSync(share(`${photos[i]}.jpg`), await drawPicture(draw, 'image/jpeg', 1600, 1200, i * 3 + 1));
await draw.close();
fs.copyFileSync(path.join(top, 'tests/browser/data/clip.webm'), share('Boat trip.webm'));
fs.writeFileSync(share('Tickets.pdf'), bytes(182000, 1));
fs.writeFileSync(share('Packing list.txt'), 'Hat\nSun cream\nBooks\n');
fs.writeFileSync(share('Playlist.mp3'), bytes(4200000, 2));
let day = Date.UTC(2024, 6, 3, 9, 30);
for (const name of fs.readdirSync(work.share).sort()) {
    const when = new Date(day += 86400000 * 0.7);
    fs.utimesSync(share(name), when, when);
}

const shots = [
    // name, screen, colour scheme, what is done before the picture
    ['pages-phone-light', Screens[0], 'light', null],
    ['pages-phone-dark', Screens[0], 'dark', null],
    ['pages-desktop-light', Screens[1], 'light', null],
    ['pages-desktop-dark', Screens[1], 'dark', async (page) => {
        await page.click('nav.seg a[href="?v=l"]');
        await page.waitForLoadState();
    }],
    ['pages-phone-viewer', Screens[0], 'dark', async (page) => {
        await page.click('#files a.o:has-text("Harbour")');
        await page.waitForFunction(() => document.querySelector('dialog.viewer img')?.complete);
    }],
];
fs.mkdirSync(out, { recursive: true });
let server = await startServer(work, ['--pages', 'responsive']);
for (const [name, screen, colorScheme, prepare] of shots) {
    // Pictures of a phone at twice, not three times, its size: enough for a README.
    const context = await browser.newContext({ ...screen, deviceScaleFactor: Math.min(2, screen.deviceScaleFactor || 1), colorScheme });
    const page = await context.newPage();
    await page.goto(server.base);
    // Every thumbnail made and shown.
    await page.waitForFunction(() => [...document.images].every((i) => i.complete && i.naturalWidth > 0), null,
        { timeout: 60000, polling: 500 }).catch(() => page.reload());
    await page.waitForFunction(() => [...document.images].every((i) => i.complete && i.naturalWidth > 0), null,
        { timeout: 60000, polling: 500 });
    if (prepare)
        await prepare(page);
    await page.screenshot({ path: path.join(out, `${name}.png`) });
    await context.close();
    console.log(path.join(out, `${name}.png`));
}
await server.stop();
server = await startServer(work, ['--pages', 'classic']);
{
    const context = await browser.newContext({ viewport: { width: 1000, height: 640 } });
    const page = await context.newPage();
    await page.goto(server.base);
    await page.waitForFunction(() => !document.querySelector('img[src="/_i/image.png"]'), null, { timeout: 60000, polling: 500 })
        .catch(() => {});
    await page.reload();
    await page.screenshot({ path: path.join(out, 'pages-classic.png') });
    await context.close();
    console.log(path.join(out, 'pages-classic.png'));
}
await server.stop();
await browser.close();
work.remove();
