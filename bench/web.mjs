// web.mjs (bench) - the web build against its targets, in headless Chromium
// from a local server:
//   bytes per program (page, script, wasm; the assets are inside the wasm), gzip  <= 200 KB
//   first frame, from navigation to the first picture on the canvas (median of 5)  <= 1 s
//   loop body per frame (median) in Chromium vs native (bench_web_loop)  <= 2x
// Both sides' frames are timed in the same seconds (the native loop runs while
// the page does), so that both see the same phase of the host: a paced native
// frame's median moved from 16 to 21 us, and mapwalk3's from 32 to 68 us,
// between runs a minute apart.
// Usage: node bench/web.mjs WEB_DIR BENCH_WEB_LOOP. Exit status 1 when a target is missed.
import { execFile } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import util from 'node:util';
import zlib from 'node:zlib';
import { launch, serve } from '../tests/browser/web_page.mjs';

const [webDir, nativeLoop] = process.argv.slice(2).map((a) => path.resolve(a));
const programs = ['mapwalk1', 'mapwalk2', 'mapwalk3'];
const run = util.promisify(execFile);
let ok = true;
const verdict = (pass) => ((ok &&= pass), pass ? 'ok' : 'MISSED');

// Times each loop body (between the main loop's pre and post hooks) and
// notes when the first frame has been drawn (after the first post hook).
function hooks() {
  const times = (window.benchTimes = []);
  let t0 = 0, present = null;
  let module;
  Object.defineProperty(window, 'Module', { get: () => module, set: (m) => {
    if (m === module) return;  // the script takes the page's Module over
    module = m;
    m.preMainLoop = () => { t0 = performance.now(); };
    Object.defineProperty(m, 'postMainLoop', { set: (f) => { present = f; }, get: () => present && (() => {
      times.push(performance.now() - t0);
      present();
      window.firstFrame ??= performance.now();
    }) });
  } });
}

// Cross-origin isolation only gives the page's clock its finer (5 us) steps;
// the pages need no such headers to run.
const { base, close } = await serve(webDir, {}, { 'Cross-Origin-Opener-Policy': 'same-origin',
  'Cross-Origin-Embedder-Policy': 'require-corp' });
const browser = await launch(webDir);
const page = await browser.newPage();
await page.evaluateOnNewDocument(hooks);
console.log('Web build (headless Chromium, local server):');
for (const name of programs) {
  const bytes = [`${name}.html`, `${name}.js`, `${name}.wasm`]
    .reduce((sum, f) => sum + zlib.gzipSync(fs.readFileSync(path.join(webDir, f))).length, 0);
  console.log(`  ${name} bytes (gzip)       ${(bytes / 1024).toFixed(1).padStart(8)} KB  <= 200 KB  ${verdict(bytes <= 200 * 1024)}`);
  const first = [];
  for (let i = 0; i < 5; ++i) {
    await page.goto(base + `${name}.html`);
    await page.waitForFunction(() => window.firstFrame !== undefined);
    first.push(await page.evaluate(() => window.firstFrame));
  }
  const firstMs = first.sort((a, b) => a - b)[2];
  console.log(`  ${name} first frame        ${firstMs.toFixed(0).padStart(8)} ms  <= 1000 ms ${verdict(firstMs <= 1000)}`);
  // 400 frames let the engine compile the hot code at its top tier; then the page's
  // frames while the native loop times 400 of its own.
  await page.waitForFunction(() => window.benchTimes.length >= 400, { timeout: 60000, polling: 1000 });
  const from = await page.evaluate(() => window.benchTimes.length);
  const native = (await run(nativeLoop, [name, '400'])).stdout.trim().split(' ').map(Number);
  const web = (await page.evaluate((n) => window.benchTimes.slice(n), from)).map((ms) => ms * 1000);
  const median = (v) => v.sort((a, b) => a - b)[v.length >> 1];
  const webUs = median(web), nativeUs = median(native), ratio = webUs / nativeUs;
  console.log(`  ${name} loop body          ${webUs.toFixed(1).padStart(8)} us  vs native ${nativeUs.toFixed(1)} us: ${ratio.toFixed(2)}x  <= 2x  ${verdict(ratio <= 2)}`);
}
await browser.close();
close();
process.exit(ok ? 0 : 1);
