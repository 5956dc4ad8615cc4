// web_test.mjs - the web build in headless Chromium: each program's canvas
// shows the desktop's frames (SCRSHOT of a headless run) for the same keys,
// from the keyboard and from the touch keypad; Esc ends it; the index links
// work. Fails, never skips, when the browser or the build is missing.
// Usage: node web_test.mjs WEB_DIR ASSET_DIR DESKTOP_PROGRAM...
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { launch, serve } from './web_page.mjs';

const [webDir, assetDir, ...programs] = process.argv.slice(2).map((a) => path.resolve(a));
let passed = 0, failed = 0;
const check = (ok, what) => (ok ? passed++ : (failed++, console.log('FAIL: ' + what)));

// The desktop frame for the keys, then Esc: SCRSHOT writes the last one shown.
let refDir;
function reference(program, keys) {
  const file = path.join(refDir, `${path.basename(program)}-${keys.length}.png`);
  const run = spawnSync(program, [], { cwd: assetDir, input: keys + '\x1b',
    env: { ...process.env, SCRBK: 'null', SCRSHOT: file } });
  if (run.status !== 0 || !fs.existsSync(file)) throw new Error(`${program} gave no frame`);
  return '/ref/' + path.basename(file);
}

// Whether the canvas comes to show the picture at `ref`, pixel for pixel,
// within 100 animation frames.
function shows(page, ref) {
  return page.evaluate(async (ref) => {
    const img = new Image();
    img.src = ref;
    await img.decode();
    const ctx = new OffscreenCanvas(img.width, img.height).getContext('2d');
    ctx.drawImage(img, 0, 0);
    const want = ctx.getImageData(0, 0, img.width, img.height).data;
    const screen = document.getElementById('screen');
    for (let i = 0; i < 100; ++i, await new Promise(requestAnimationFrame)) {
      if (screen.width !== img.width || screen.height !== img.height) continue;
      const got = screen.getContext('2d').getImageData(0, 0, img.width, img.height).data;
      if (got.every((v, j) => v === want[j])) return true;
    }
    return false;
  }, ref);
}

const browser = await launch(webDir);
refDir = fs.mkdtempSync(path.join(os.tmpdir(), 'web-test-'));
const { base, close: stopServer } = await serve(webDir, { '/ref/': refDir });
try {
  for (const program of programs) {
    const name = path.basename(program);
    const page = await browser.newPage();
    await page.goto(base + name + '.html');
    check(await shows(page, reference(program, ' ')), `${name}: first frame`);
    // Main-row digits walk; the keypad's 3 with Num Lock off (headless) is Page Down and does not.
    for (const key of ['6', 'Numpad3', '3']) await page.keyboard.press(key);
    check(await shows(page, reference(program, ' 63')), `${name}: frame after 6 3`);
    await page.$eval('#pad [data-code=Numpad2]', (b) => b.click());
    check(await shows(page, reference(program, ' 632')), `${name}: frame after the keypad's 2`);
    await page.keyboard.press('Escape');
    await page.waitForSelector('body.ended', { timeout: 5000 }).catch(() => {});
    const end = await page.$eval('#console', (e) => [getComputedStyle(e).color,
      getComputedStyle(e).backgroundColor, e.textContent, e.offsetHeight > 0]);
    check(end.join() === 'rgb(255, 255, 255),rgb(0, 0, 170),program ended\nplay again,true',
      `${name}: ended state ${JSON.stringify(end)}`);
    await page.close();
  }
  const page = await browser.newPage();
  await page.goto(base + 'index.html');
  const links = await page.$$eval('li a', (as) => as.map((a) => a.href));
  const shots = await page.$$eval('li img', (is) => is.map((i) => i.complete && i.naturalWidth > 0));
  check(links.length === programs.length && shots.every(Boolean), `index: ${links} ${shots}`);
  for (const link of links) {
    const response = await page.goto(link);
    check(response.ok() && (await page.$('canvas#screen')) !== null, `index link ${link}`);
  }
} finally {
  await browser.close();
  stopServer();
  fs.rmSync(refDir, { recursive: true, force: true });
}
console.log(`browser: ${passed} passed, ${failed} failed`);
process.exit(failed || passed === 0 ? 1 : 0);
