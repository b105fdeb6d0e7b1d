// morph.mjs ASSET K SHOT0 SHOT1 -- ASSET in three.js in headless Chromium:
// pictures of morph target K at weight 0 and 1, and on standard output, as
// JSON, each primitive's positions at weight 1 and the KGX vertex of each.
import fs from 'node:fs';
import path from 'node:path';
import { chromium } from 'playwright-core';

const [asset, k, shot0, shot1] = process.argv.slice(2);
const three = path.join(import.meta.dirname, 'node_modules/three/');
// The page: three.js and its glTF loader on window, for load() below.  Its
// requests never reach a network: each is answered from three.js's files.
const html = `<body style="margin: 0"><script type="importmap">
{ "imports": { "three": "/build/three.module.js", "three/addons/": "/examples/jsm/" } }
</script><script type="module">
import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';
Object.assign(window, { THREE, GLTFLoader });
</script>`;
const serve = (route) => {
  const file = path.join(three, decodeURIComponent(new URL(route.request().url()).pathname));
  return route.fulfill(file === three ? { contentType: 'text/html', body: html }
    : file.startsWith(three) && fs.existsSync(file) ? { path: file } : { status: 404 });
};

// In the page: loads the asset (its bytes in base64) into a scene framed on
// every shape its targets make, one part per primitive in order, and puts on
// window show(k, w), which pictures weight w of target k, and seen(), per
// part the vertex positions as shown and the KGX vertex of each.
async function load(base64) {
  const { THREE, GLTFLoader } = window;
  const renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
  renderer.setSize(600, 400);
  document.body.appendChild(renderer.domElement);
  const scene = new THREE.Scene();
  scene.background = new THREE.Color(0xf2f2f2);
  const sun = new THREE.DirectionalLight(0xffffff, 2);
  sun.position.set(2, 3, 4);
  scene.add(new THREE.HemisphereLight(0xffffff, 0x555555, 2.5), sun);
  const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
  const gltf = await new GLTFLoader().parseAsync(bytes.buffer, ''), parts = [];
  scene.add(gltf.scene);
  // A geometry's bounds take in its morph targets at full weight.
  const sphere = new THREE.Box3().setFromObject(gltf.scene).getBoundingSphere(new THREE.Sphere());
  const r = Math.max(sphere.radius, 1e-6), d = 0.95 * r / Math.sin(THREE.MathUtils.degToRad(35 / 2));
  const camera = new THREE.PerspectiveCamera(35, 600 / 400, d / 100, 3 * d);
  camera.position.copy(sphere.center).addScaledVector(new THREE.Vector3(1.6, 0.8, 0.9).normalize(), d);
  camera.lookAt(sphere.center);
  // The loader's default material is a bare metal that shows only under an
  // environment map; a matt one shows the shape under plain lights.
  const matt = new THREE.MeshStandardMaterial({ color: 0x9fb4cc, metalness: 0, roughness: 0.7 });
  gltf.scene.traverse((o) => { if (o.isMesh) o.material = matt; if (o.isMesh || o.isPoints) parts.push(o); });
  parts.forEach((p) => { if (p.isPoints) p.material.size = r / 40; });
  window.show = (k, w) => {
    parts.forEach((p) => p.morphTargetInfluences?.fill(0).fill(w, k, k + 1));
    renderer.render(scene, camera);
  };
  // Points have no getVertexPosition of their own, but Mesh's reads only the
  // geometry and the influences.
  const vertex = (p, i) => THREE.Mesh.prototype.getVertexPosition.call(p, i, new THREE.Vector3()).toArray();
  const each = (p, f) => Array.from({ length: p.geometry.attributes.position.count }, (_, i) => f(i));
  window.seen = () => parts.map((p) => ({
    position: each(p, (i) => vertex(p, i)).flat(), vertex: each(p, (i) => p.geometry.attributes._kgx_corner.getX(i)) }));
}

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
  await page.goto('http://page.invalid/');
  await page.waitForFunction(() => window.GLTFLoader, null, { timeout: 60000 });
  await page.evaluate(load, fs.readFileSync(asset).toString('base64'));
  for (const [w, shot] of [[0, shot0], [1, shot1]]) {
    await page.evaluate(([t, weight]) => window.show(t, weight), [Number(k), w]);
    await page.locator('canvas').screenshot({ path: shot });
  }
  console.log(JSON.stringify(await page.evaluate(() => window.seen())));
} finally {
  await browser.close();
}
