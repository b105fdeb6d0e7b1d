// morph.mjs ASSET K SHOT0 SHOT1 -- loads ASSET (.glb or .gltf) with three.js
// in headless Chromium ($CHROMIUM or /usr/bin/chromium), saves a picture at
// weight 0 of morph target K in SHOT0 and at weight 1 in SHOT1, and prints
// what the page sees at weight 1 as JSON: per primitive, the positions (x y
// z per vertex) and the KGX vertex each glTF vertex stands for.  Any failure
// ends it with a non-zero status.
import fs from 'node:fs';
import path from 'node:path';
import { chromium } from 'playwright-core';

const [asset, k, shot0, shot1] = process.argv.slice(2);
const here = import.meta.dirname;
const roots = { '/three/': path.join(here, 'node_modules/three/'), '/asset/': path.dirname(path.resolve(asset)) + '/' };
// The page's requests never reach a network: each is answered from a file.
const serve = (route) => {
  const url = decodeURIComponent(new URL(route.request().url()).pathname);
  const root = Object.keys(roots).find((r) => url.startsWith(r));
  const file = url === '/' ? path.join(here, 'morph.html') : root && path.join(roots[root], url.slice(root.length));
  const found = file && (!root || file.startsWith(roots[root])) && fs.existsSync(file);
  return route.fulfill(found ? { path: file } : { status: 404 });
};

// As root Chromium runs only without its sandbox; the background services
// would try the network, which this machine does not have.
const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--enable-unsafe-swiftshader', '--disable-quic',
         '--no-first-run', '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
try {
  const page = await browser.newPage({ viewport: { width: 600, height: 400 } });
  page.on('pageerror', (e) => console.error(`page: ${e}`));
  await page.route('http://page.invalid/**', serve);
  await page.goto(`http://page.invalid/?asset=${encodeURIComponent(path.basename(asset))}`);
  await page.waitForFunction(() => window.ready || window.failed, null, { timeout: 60000 });
  const failed = await page.evaluate(() => window.failed);
  if (failed) throw new Error(`${asset}: ${failed}`);
  for (const [w, shot] of [[0, shot0], [1, shot1]]) {
    await page.evaluate(([t, weight]) => window.show(t, weight), [Number(k), w]);
    await page.locator('canvas').screenshot({ path: shot });
  }
  console.log(JSON.stringify(await page.evaluate(() => window.seen())));
} finally {
  await browser.close();
}
