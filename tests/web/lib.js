// Helpers of the browser tests: a static server for the site, Debian's
// Chromium driven headless by playwright-core, and the native runner and
// archive tool to compare with.
"use strict";
const http = require("http");
const fs = require("fs");
const os = require("os");
const path = require("path");
let chromium;
try {
  ({ chromium } = require("playwright-core"));
} catch (e) {
  console.error("tests/web: playwright-core is missing: run 'bash scripts/setup.sh web' (npm ci in tests/web)");
  process.exit(1);
}

const TYPES = { ".html": "text/html; charset=utf-8", ".js": "text/javascript", ".css": "text/css",
  ".wasm": "application/wasm", ".json": "application/json", ".wav": "audio/wav" };

// Serves `root` on a free localhost port; resolves to { url, close, bytes }.
function serve(root) {
  return new Promise((resolve) => {
    const stats = { bytes: 0 };
    const server = http.createServer((req, res) => {
      const rel = decodeURIComponent(new URL(req.url, "http://x").pathname);
      const file = path.join(root, rel.endsWith("/") ? rel + "index.html" : rel);
      if (!file.startsWith(root) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
        res.writeHead(404); res.end(); return;
      }
      const body = fs.readFileSync(file);
      stats.bytes += body.length;
      res.writeHead(200, { "Content-Type": TYPES[path.extname(file)] || "application/octet-stream" });
      res.end(body);
    });
    server.listen(0, "127.0.0.1", () => {
      resolve({ url: `http://127.0.0.1:${server.address().port}/`, stats,
        close: () => new Promise((r) => server.close(r)) });
    });
  });
}

// The native runner with the same clock, seed and steps, in UTC like the
// page's browser: its BMP screenshot after the steps.
function runnerShot(bin, steps, opts = {}) {
  const { execFileSync } = require("child_process");
  const data = opts.data || tmpdir("runner");
  const shot = path.join(tmpdir("shot"), "shot.bmp");
  const args = ["--data", data, "--clock", opts.clock || CLOCK, "--seed", String(opts.seed ?? SEED),
    "--keys", `${steps}; shot ${shot}`, ...(opts.args || [])];
  execFileSync(path.join(bin, "tarvik2-run"), args, { env: { ...process.env, TZ: "UTC" }, stdio: ["ignore", "ignore", "inherit"] });
  return shot;
}
const CLOCK = "2026-12-10T12:00:00", SEED = 1;

// Temporary folders (runner data folders and downloads hold 276 MB images):
// all removed when the test ends, unless TARVIK2_KEEP is set.
const made = [];
function tmpdir(name) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), `tarvik2-web-${name}-`));
  made.push(dir);
  return dir;
}
function removeTmpdirs() {
  if (process.env.TARVIK2_KEEP) return;
  for (const dir of made.splice(0)) fs.rmSync(dir, { recursive: true, force: true });
}
process.on("exit", removeTmpdirs);

async function launch() {
  // playwright-core starts Chromium on a fresh profile folder of its own
  // (it refuses --user-data-dir) and removes it afterwards.
  const browser = await chromium.launch({
    executablePath: process.env.TARVIK2_CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
      "--disable-component-update", "--disable-sync"],
  });
  return { browser };
}

// Runs `fn(t)` with a fresh browser and the served site; `t` has page(),
// check() and the paths. Exits non-zero on the first failure.
async function run(name, fn) {
  const site = process.env.TARVIK2_SITE;
  const bin = process.env.TARVIK2_NATIVE_BIN;
  if (!site || !fs.existsSync(path.join(site, "index.html"))) {
    console.error(`${name}: skipped: no web site at ${site} (build it with make web; make test does)`);
    process.exit(77);
  }
  const server = await serve(path.resolve(site));
  const { browser } = await launch();
  let failed = false;
  const t = {
    url: server.url, site, bin, server, browser,
    async page(query = "", options = {}) {
      const context = options.context || await browser.newContext(
        { viewport: options.viewport || { width: 1366, height: 768 }, acceptDownloads: true, timezoneId: "UTC",
          hasTouch: !!options.touch, deviceScaleFactor: options.scale || 1 });
      const page = await context.newPage();
      page.on("console", (m) => { if (process.env.TARVIK2_VERBOSE) console.log(`[page] ${m.text()}`); });
      page.on("pageerror", (e) => { console.error(`[page error] ${e.message}`); failed = true; });
      await page.goto(server.url + "index.html" + query);
      await page.evaluate(() => window.tarvik2.ready);
      return page;
    },
    check(ok, what) {
      if (ok) { console.log(`ok: ${what}`); return; }
      console.error(`FAILED: ${what}`);
      failed = true;
    },
    tmpdir,
  };
  try {
    await fn(t);
  } catch (e) {
    console.error(`FAILED: ${name}: ${e && e.stack || e}`);
    failed = true;
  } finally {
    await browser.close();
    await server.close();
    removeTmpdirs();
  }
  process.exit(failed ? 1 : 0);
}

// 16-bit BMP of the runner (RGB565, bottom-up or top-down rows) as RGB
// triples, each channel widened as the picture files widen it.
function bmpRgb(file) {
  const b = fs.readFileSync(file);
  const offset = b.readUInt32LE(10), width = b.readInt32LE(18), h = b.readInt32LE(22), bpp = b.readUInt16LE(28);
  if (bpp !== 16) throw new Error(`${file}: ${bpp} bits per pixel, not 16`);
  const height = Math.abs(h), stride = Math.ceil(width * 2 / 4) * 4;
  const rgb = new Uint8Array(width * height * 3);
  for (let y = 0; y < height; ++y) {
    const row = h > 0 ? height - 1 - y : y;
    for (let x = 0; x < width; ++x) {
      const v = b.readUInt16LE(offset + row * stride + 2 * x);
      const r = (v >> 11) & 31, g = (v >> 5) & 63, bl = v & 31;
      const o = 3 * (y * width + x);
      rgb[o] = (r << 3) | (r >> 2); rgb[o + 1] = (g << 2) | (g >> 4); rgb[o + 2] = (bl << 3) | (bl >> 2);
    }
  }
  return { width, height, rgb };
}

// Pixels that differ between the canvas (RGBA) and a BMP's RGB.
function differingPixels(rgba, bmp) {
  let n = 0;
  for (let i = 0; i < bmp.width * bmp.height; ++i)
    if (rgba[4 * i] !== bmp.rgb[3 * i] || rgba[4 * i + 1] !== bmp.rgb[3 * i + 1] || rgba[4 * i + 2] !== bmp.rgb[3 * i + 2]) ++n;
  return n;
}

// Download archive through the page's menu into a new folder: the folder
// and the downloads it got (flash.dat and fram.dat when all went well).
async function downloadArchive(page) {
  const out = tmpdir("download");
  const downloads = [];
  page.on("download", (d) => downloads.push(d));
  await page.click("#b-archive");
  await page.click("#m-download");
  for (let i = 0; i < 100 && downloads.length < 2; ++i) await page.waitForTimeout(100);
  for (const d of downloads) await d.saveAs(path.join(out, d.suggestedFilename()));
  return { out, downloads };
}

module.exports = { run, serve, launch, bmpRgb, differingPixels, tmpdir, runnerShot, downloadArchive, CLOCK, SEED };
