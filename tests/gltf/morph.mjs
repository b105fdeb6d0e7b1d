// morph.mjs ASSET K SHOT0 SHOT1 -- loads ASSET (.glb or .gltf) with three.js
// in headless Chromium, saves a picture at weight 0 of morph target K in
// SHOT0, sets that weight to 1, saves SHOT1 and prints the morphed vertex
// positions as JSON: one array per primitive, x y z per vertex.  The page
// is served from 127.0.0.1; Chromium is /usr/bin/chromium or $CHROMIUM.
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const [asset, k, shot0, shot1] = process.argv.slice(2);
const here = path.dirname(fileURLToPath(import.meta.url));
const roots = { '/three/': path.join(here, 'node_modules/three/'), '/asset/': path.dirname(path.resolve(asset)) + '/' };
const types = { '.html': 'text/html', '.js': 'text/javascript', '.glb': 'model/gltf-binary', '.gltf': 'model/gltf+json' };

const server = http.createServer((req, res) => {
  const url = decodeURIComponent(new URL(req.url, 'http://x').pathname);
  const root = Object.keys(roots).find((r) => url.startsWith(r));
  const file = url === '/' ? path.join(here, 'morph.html') : root && path.join(roots[root], url.slice(root.length));
  if (!file || (root && !file.startsWith(roots[root])) || !fs.existsSync(file)) return res.writeHead(404).end();
  res.writeHead(200, { 'content-type': types[path.extname(file)] ?? 'application/octet-stream' });
  fs.createReadStream(file).pipe(res);
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  chromiumSandbox: false,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--enable-unsafe-swiftshader', '--disable-quic',
         '--no-first-run', '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
let status = 0;
try {
  const page = await browser.newPage({ viewport: { width: 800, height: 600 } });
  page.on('pageerror', (e) => console.error(`page: ${e}`));
  await page.goto(`http://127.0.0.1:${server.address().port}/?asset=${encodeURIComponent(path.basename(asset))}`);
  await page.waitForFunction(() => window.ready || window.failed, null, { timeout: 60000 });
  const failed = await page.evaluate(() => window.failed);
  if (failed) throw new Error(failed);
  const canvas = page.locator('canvas');
  await page.evaluate((t) => { window.frame(t); window.morph(t, 0); }, Number(k));
  await canvas.screenshot({ path: shot0 });
  const positions = await page.evaluate((t) => { window.morph(t, 1); return window.positions(); }, Number(k));
  await canvas.screenshot({ path: shot1 });
  console.log(JSON.stringify(positions));
} catch (e) {
  console.error(`${asset}: ${e.message}`);
  status = 2;
} finally {
  await browser.close();
  server.close();
}
process.exit(status);
