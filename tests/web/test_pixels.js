// In deterministic mode (start clock, seed, virtual time) the page shows
// exactly the pixels the headless runner saves for the same steps.
"use strict";
const { run, runnerShot, bmpRgb, differingPixels, CLOCK, SEED } = require("./lib.js");

const CASES = [
  ["main menu", "wait 1500"],
  ["vibrometer measuring", "wait 1500; enter; wait 300; enter; wait 3000"],
  ["spectra screen", "wait 1500; right; enter; wait 300; enter; wait 4000"],
];

run("pixels", async (t) => {
  for (const [what, steps] of CASES) {
    const bmp = bmpRgb(runnerShot(t.bin, steps));
    const page = await t.page(`?clock=${CLOCK}&seed=${SEED}`);
    const t0 = Date.now();
    const virtualMs = await page.evaluate((s) => window.tarvik2.steps(s), steps);
    const wallMs = Date.now() - t0;
    const rgba = await page.evaluate(() => window.tarvik2.pixels());
    const differ = differingPixels(rgba, bmp);
    t.check(bmp.width === 320 && bmp.height === 240 && differ === 0,
      `${what}: the canvas equals the runner's screenshot (${differ} pixels differ)`);
    console.log(`figure: ${what}: ${virtualMs} virtual ms in ${wallMs} wall ms ` +
      `(${(virtualMs / wallMs).toFixed(1)}x real time)`);
    await page.context().close();
  }

  // In virtual time the page's buttons and the PC keys run as steps: the
  // spectra screen reached by them equals the runner's.
  const [what, steps] = CASES[2];
  const bmp = bmpRgb(runnerShot(t.bin, steps));
  const page = await t.page(`?clock=${CLOCK}&seed=${SEED}`);
  await page.evaluate(() => window.tarvik2.steps("wait 1500"));
  await page.click("#k-right");
  await page.click("#k-enter");
  await page.evaluate(() => window.tarvik2.steps("wait 300"));
  await page.keyboard.press("Enter");
  await page.evaluate(() => window.tarvik2.steps("wait 4000"));
  const differ = differingPixels(await page.evaluate(() => window.tarvik2.pixels()), bmp);
  t.check(differ === 0, `${what} by the page's buttons and the PC's Enter in virtual time (${differ} pixels differ)`);
});
