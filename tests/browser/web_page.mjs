// web_page.mjs - what the browser tests and benchmarks share: a static
// server for build/web/ on 127.0.0.1 (a free port of its own) and the
// system's headless Chromium.
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

export const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.png': 'image/png' };

// Serves `dir`, and each extra prefix from a folder of its own, with `headers` on every answer.
export async function serve(dir, extra = {}, headers = {}) {
  const server = http.createServer((req, res) => {
    const url = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    const prefix = Object.keys(extra).find((p) => url.startsWith(p));
    const file = prefix ? path.join(extra[prefix], path.basename(url)) : path.join(dir, path.normalize(url));
    fs.readFile(file, (err, data) => {
      const type = types[path.extname(file)] || 'application/octet-stream';
      res.writeHead(err ? 404 : 200, { ...headers, 'content-type': type });
      res.end(err ? '' : data);
    });
  });
  await new Promise((done) => server.listen(0, '127.0.0.1', done));
  return { base: `http://127.0.0.1:${server.address().port}/`, close: () => server.close() };
}

// Chromium, after checking that it and the build are there.
export function launch(webDir) {
  for (const f of [chromium, ...['index.html', 'mapwalk1.js', 'mapwalk3.wasm'].map((f) => path.join(webDir, f))])
    if (!fs.existsSync(f)) throw new Error(`missing: ${f} (make web, scripts/install-deps)`);
  return puppeteer.launch({ executablePath: chromium, args: ['--no-sandbox'] });
}
