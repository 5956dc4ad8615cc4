// web_test.mjs - the web build in headless Chromium on a phone (upright and on its side), a
// HiDPI laptop and a laptop at ratio 1.25: each program's canvas shows the desktop's frames
// (walkshot's, flame clock held as the page's is here), on the phone frame by frame for the
// same keys from the keyboard and each keypad button, in the colours of
// tests/support/colours.h, at a whole number of device pixels per page pixel; F10 posts
// nothing; Esc ends it. A headless recording plays. The index shows
// real thumbnails; no page asks for anything missing. Fails, never skips, when the browser or
// the build is missing.
// Usage: node web_test.mjs WEB_DIR ASSET_DIR WALKSHOT COLOURS_H
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { launch, serve } from './web_page.mjs';

const [webDir, assetDir, walkshot, coloursFile] = process.argv.slice(2).map((a) => path.resolve(a));
const programs = ['mapwalk1', 'mapwalk2', 'mapwalk3'];
let passed = 0, failed = 0;
const check = (ok, what) => (ok ? passed++ : (failed++, console.log('FAIL: ' + what)));

// Screens, and the device pixels per page pixel each program gets there: the largest whole
// number that fits beside the keypad and help.
const screens = [
  { name: 'phone', width: 390, height: 844, deviceScaleFactor: 3, isMobile: true, hasTouch: true, scales: [3, 1, 1] },
  { name: 'phone on its side', width: 844, height: 390, deviceScaleFactor: 3, isMobile: true, hasTouch: true,
    isLandscape: true, scales: [5, 2, 2] },
  { name: 'HiDPI laptop', width: 1440, height: 900, deviceScaleFactor: 2, scales: [8, 3, 3] },
  { name: 'laptop at 1.25', width: 1536, height: 864, deviceScaleFactor: 1.25, scales: [5, 2, 2] },
];
// The keypad's directions in an order that moves at every press in all three programs.
const padWalk = '93147862';

// The shown colours as "r,g,b", as typed in colours.h.
const shown = new Set([...fs.readFileSync(coloursFile, 'utf8').split('kShownColours')[1]
  .matchAll(/\{(\d+), (\d+), (\d+)\}/g)].map((m) => m.slice(1).join()));
check(shown.size === 16, `colours.h gives ${shown.size} colours`);

// The desktop frame after the keys (one per frame), then Esc: SCRSHOT writes the last one shown.
const refDir = fs.mkdtempSync(path.join(os.tmpdir(), 'web-test-'));
function reference(program, keys) {
  const file = `${program}-${keys.replaceAll(' ', '_')}.png`;
  if (!fs.existsSync(path.join(refDir, file)) && spawnSync(walkshot, [program], { cwd: assetDir,
    input: keys + '\x1b', env: { ...process.env, SCRSHOT: path.join(refDir, file) } }).status !== 0)
    throw new Error(`walkshot ${program} gave no frame`);
  return '/ref/' + file;
}

// In the page: the clock stands still, and an animation frame comes only when the test steps one.
function stillClock() {
  performance.now = () => 0;
  const waiting = [];
  window.requestAnimationFrame = (f) => waiting.push(f);
  window.stepFrame = () => { for (const f of waiting.splice(0)) f(0); };
  window.looping = () => waiting.length > 0;
}

// One frame of the page; then whether the canvas equals the picture at `url` pixel for
// pixel, and the colours it shows.
function frameShows(page, url) {
  return page.evaluate(async (url) => {
    window.stepFrame();
    const img = new Image();
    img.src = url;
    await img.decode();
    const ctx = new OffscreenCanvas(img.width, img.height).getContext('2d');
    ctx.drawImage(img, 0, 0);
    const want = new Uint32Array(ctx.getImageData(0, 0, img.width, img.height).data.buffer);
    const screen = document.getElementById('screen');
    if (screen.width !== img.width || screen.height !== img.height) return [false, []];
    const got = new Uint32Array(screen.getContext('2d').getImageData(0, 0, img.width, img.height).data.buffer);
    const rgb = (v) => [v & 255, (v >> 8) & 255, (v >> 16) & 255].join();
    return [got.every((v, j) => v === want[j]), [...new Set(got)].map(rgb)];
  }, url);
}

// The canvas's size in device pixels (its edges snapped to them) per page pixel, across and
// down; whether it lies inside the window, and whether the keypad is beside it.
function layout() {
  const c = document.getElementById('screen'), r = c.getBoundingClientRect();
  const device = (from, to) => Math.round(to * devicePixelRatio) - Math.round(from * devicePixelRatio);
  return [device(r.left, r.right) / c.width, device(r.top, r.bottom) / c.height,
    r.left >= 0 && r.right <= innerWidth && r.bottom <= innerHeight,
    document.getElementById('pad').getBoundingClientRect().left >= r.right];
}

const browser = await launch(webDir);
const { base, close: stopServer } = await serve(webDir, { '/ref/': refDir });
const missing = [];
async function open(screen, file) {
  const page = await browser.newPage();
  page.on('response', (r) => r.status() >= 400 && missing.push(r.url()));
  await page.setViewport(screen);
  await page.evaluateOnNewDocument(stillClock);
  await page.goto(base + file);
  return page;
}
try {
  for (const screen of screens) {
    for (const [n, name] of programs.entries()) {
      const at = `${name} on a ${screen.name}`;
      const page = await open(screen, name + '.html');
      await page.waitForFunction(() => window.looping(), { polling: 20 });
      const [first, colours] = await frameShows(page, reference(name, ' '));
      check(first, `${at}: first frame`);
      check(colours.length >= 5 && colours.every((c) => shown.has(c)), `${at}: colours ${colours}`);
      const [across, down, inside, beside] = await page.evaluate(layout);
      check(across === screen.scales[n] && down === across && inside && (beside || !screen.isLandscape),
        `${at}: ${across} x ${down} device pixels per page pixel, inside ${inside}, keypad beside ${beside}`);
      // Main-row digits walk; the keypad's 3 with Num Lock off (headless) is Page Down and does
      // not; F10 posts nothing, so the 3 after it is this frame's key. The keys reach the program
      // the same way on every screen, so they are pressed on the first.
      const onPhone = screen === screens[0];
      let keys = ' ';
      for (const [presses, key] of onPhone ? [[['6'], '6'], [['Numpad3'], ' '], [['F10', '3'], '3']] : []) {
        for (const press of presses) await page.keyboard.press(press);
        check((await frameShows(page, reference(name, (keys += key))))[0], `${at}: frame after ${presses}`);
      }
      for (const digit of onPhone ? padWalk : '') {
        await page.$eval(`#pad [data-code=Numpad${digit}]`, (b) => b.click());
        check((await frameShows(page, reference(name, (keys += digit))))[0], `${at}: frame after keypad ${digit}`);
      }
      await page.$eval('#pad [data-code=Escape]', (b) => b.click());
      await page.evaluate(() => window.stepFrame());
      await page.waitForSelector('body.ended', { timeout: 5000 }).catch(() => {});
      const end = await page.$eval('#console', (e) => [getComputedStyle(e).color,
        getComputedStyle(e).backgroundColor, e.textContent, e.offsetHeight > 0,
        ...[...e.querySelectorAll('a')].map((a) => a.getAttribute('href'))]);
      const ended = ['rgb(255, 255, 255)', 'rgb(0, 0, 170)', 'program ended\nplay again\nall programs\n', true,
        `/${name}.html`, 'index.html'];
      check(end.join() === ended.join(), `${at}: ended state ${JSON.stringify(end)}`);
      await page.close();
    }
    // The index: each thumbnail shows the walker's view (much of it lit, not the black rest of
    // the screen); on the first screen, each link opens its program.
    const page = await open(screen, 'index.html');
    const lit = await page.$$eval('.shot img', (imgs) => imgs.map((img) => {
      const box = img.parentElement.getBoundingClientRect(), r = img.getBoundingClientRect();
      const ctx = new OffscreenCanvas(box.width, box.height).getContext('2d');
      ctx.drawImage(img, r.left - box.left, r.top - box.top, r.width, r.height);
      const px = ctx.getImageData(0, 0, box.width, box.height).data;
      let on = 0;
      for (let j = 0; j < px.length; j += 4) on += px[j] + px[j + 1] + px[j + 2] > 0;
      return (on * 4) / px.length;
    }));
    check(lit.length === programs.length && lit.every((f) => f > 0.25),
      `index on a ${screen.name}: thumbnails lit ${lit}`);
    for (const link of screen === screens[0] ? await page.$$eval('li a', (as) => as.map((a) => a.href)) : []) {
      const response = await page.goto(link);
      check(response.ok() && (await page.$('canvas#screen')) !== null, `index link ${link}`);
    }
    await page.close();
  }
  // The text example: its title in yellow on black, then after a key the playfield under its
  // cyan heading; Esc ends it.
  const page = await open(screens[2], 'text.html');
  await page.waitForFunction(() => window.looping(), { polling: 20 });
  const colours = () => page.evaluate(() => {
    window.stepFrame();
    const c = document.getElementById('screen');
    const px = new Uint32Array(c.getContext('2d').getImageData(0, 0, c.width, c.height).data.buffer);
    const rgb = (v) => [v & 255, (v >> 8) & 255, (v >> 16) & 255].join();
    return [`${c.width}x${c.height}`, ...[...new Set(px)].map(rgb)];
  });
  const title = await colours();
  check(title.join(' ') === '640x480 0,0,0 255,255,85 170,170,170', `text: title colours ${title}`);
  await page.keyboard.press('Enter');
  const playfield = await colours();
  check(playfield.includes('0,170,170') && playfield.includes('85,255,85'), `text: playfield colours ${playfield}`);
  const titles = [await page.title()];
  await page.keyboard.press('Enter');  // "Say hello" retitles the page
  await colours();
  titles.push(await page.title());
  check(titles.join('|') === 'Text demo|Text demo: hello \u00d7 1', `text: titles ${titles}`);
  // A click and a touch on "Say hello" (page pixel 100, 104 through the canvas's CSS scale) say it again.
  const [x, y] = await page.$eval('#screen', (c, r = c.getBoundingClientRect()) =>
    [r.left + 100.5 * r.width / c.width, r.top + 104.5 * r.height / c.height]);
  for (const [press, lift] of [[() => page.mouse.down(), () => page.mouse.up()],
    [() => page.touchscreen.touchStart(x, y), () => page.touchscreen.touchEnd()]]) {
    for (const step of [() => page.mouse.move(x, y), press, colours, lift, colours]) await step();  // a frame each
    titles.push(await page.title());
  }
  check(titles.slice(2).join('|') === 'Text demo: hello \u00d7 2|Text demo: hello \u00d7 3', `text: clicks ${titles}`);
  await page.keyboard.press('Escape');
  await page.evaluate(() => window.stepFrame());
  check(await page.waitForSelector('body.ended', { timeout: 5000 }).then(() => true, () => false), 'text: Esc ends');
  await page.close();
  // A recording made headless plays in Chromium: its own decoder gives every picture (the page before the
  // first frame, then one per step), the last the frame SCRSHOT wrote.
  const env = { ...process.env, SCRREC: path.join(refDir, 'walk.gif'), SCRSHOT: path.join(refDir, 'walk.png') };
  spawnSync(walkshot, ['mapwalk1'], { cwd: assetDir, input: '2266\x1b', env });
  const played = await (await open(screens[2], 'index.html')).evaluate(async () => {
    const decoder = new ImageDecoder({ data: await (await fetch('/ref/walk.gif')).arrayBuffer(), type: 'image/gif' });
    await decoder.tracks.ready;
    const frames = decoder.tracks.selectedTrack.frameCount;
    const pixels = (image) => {
      const ctx = new OffscreenCanvas(320, 200).getContext('2d');
      ctx.drawImage(image, 0, 0);
      return new Uint32Array(ctx.getImageData(0, 0, 320, 200).data.buffer);
    };
    const last = pixels((await decoder.decode({ frameIndex: frames - 1 })).image);
    const shot = pixels(await createImageBitmap(await (await fetch('/ref/walk.png')).blob()));
    return [frames, last.every((v, i) => v === shot[i])];
  });
  check(played.join() === '5,true', `recording in Chromium: ${played} (pictures, last as SCRSHOT)`);
  check(missing.length === 0, `missing: ${missing}`);
} finally {
  await browser.close();
  stopServer();
  fs.rmSync(refDir, { recursive: true, force: true });
}
console.log(`browser: ${passed} passed, ${failed} failed`);
process.exit(failed || passed === 0 ? 1 : 0);
