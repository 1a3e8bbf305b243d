// Figures of the web page (not tests): cold load to the main menu, bytes
// transferred, main-thread load at the main menu and while measuring, and
// the live vibrometer's speed in virtual time. Run from tests/web (for
// playwright-core): node ../../bench/web/web_figures.js SITE
"use strict";
const path = require("path");
const { serve, launch, runnerShot, bmpRgb } = require(path.resolve("lib.js"));

// CPU time of the page's renderer process and of its main thread over
// `seconds` wall seconds, as shares of one core.
async function cpuShare(page, seconds) {
  const cdp = await page.context().newCDPSession(page);
  await cdp.send("Performance.enable");
  const metrics = async () => {
    const m = (await cdp.send("Performance.getMetrics")).metrics;
    const get = (n) => m.find((x) => x.name === n).value;
    return { process: get("ProcessTime"), thread: get("ThreadTime"), at: Date.now() };
  };
  const a = await metrics();
  await page.waitForTimeout(seconds * 1000);
  const b = await metrics();
  const wall = (b.at - a.at) / 1000;
  return `${(100 * (b.process - a.process) / wall).toFixed(2)} % of one core (renderer process; main thread ` +
    `${(100 * (b.thread - a.thread) / wall).toFixed(2)} %)`;
}

(async () => {
  const site = path.resolve(process.argv[2] || "../../build/web/site");
  const server = await serve(site);
  const { browser } = await launch();
  const menu = bmpRgb(runnerShot(process.env.TARVIK2_NATIVE_BIN || "../../build/test/front/headless", "wait 1500"));
  const ctx = await browser.newContext({ viewport: { width: 1366, height: 768 } });
  const page = await ctx.newPage();
  const t0 = Date.now();
  await page.goto(server.url + "index.html");
  await page.evaluate(() => window.tarvik2.ready);
  // The main menu is up when the rows below the title bar (whose clock is
  // the PC's) show what the runner shows there.
  // A checksum of those rows, the same in Node.js and in the page.
  const sum = (get, n) => { let h = 0; for (let i = 0; i < n; ++i) h = (Math.imul(h, 31) + get(i)) | 0; return h; };
  const want = sum((i) => menu.rgb[3 * 320 * 24 + i], 3 * 320 * 216);
  for (;;) {
    const got = await page.evaluate((src) => {
      const sum = eval(src);
      const p = document.getElementById("lcd").getContext("2d").getImageData(0, 24, 320, 216).data;
      return sum((i) => p[4 * Math.floor(i / 3) + (i % 3)], 3 * 320 * 216);
    }, sum.toString());
    if (got === want) break;
    await page.waitForTimeout(10);
  }
  console.log(`cold load to the main menu: ${Date.now() - t0} ms`);
  console.log(`transferred: ${(server.stats.bytes / 1e6).toFixed(2)} MB (page, script, WebAssembly)`);
  await page.waitForTimeout(3000);
  console.log(`at the main menu: ${await cpuShare(page, 10)}`);
  await page.keyboard.press("Enter");
  await page.waitForTimeout(500);
  await page.keyboard.press("Enter");
  await page.waitForTimeout(2000);
  console.log(`vibrometer measuring (real time): ${await cpuShare(page, 10)}`);
  await ctx.close();

  const vctx = await browser.newContext();
  const vpage = await vctx.newPage();
  await vpage.goto(server.url + "index.html?clock=2026-12-10T12:00:00&seed=1");
  await vpage.evaluate(() => window.tarvik2.ready);
  await vpage.evaluate(() => window.tarvik2.steps("wait 1500; enter; wait 300; enter; wait 2000"));
  const w0 = Date.now();
  const v0 = await vpage.evaluate(() => window.tarvik2.virtualMs());
  const v1 = await vpage.evaluate(() => window.tarvik2.steps("wait 30000"));
  const wall = Date.now() - w0;
  console.log(`live vibrometer in virtual time: ${v1 - v0} virtual ms in ${wall} ms: ${((v1 - v0) / wall).toFixed(1)}x real time`);
  await browser.close();
  await server.close();
})();
