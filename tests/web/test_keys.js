// Keys reach the instrument, in real time, by mouse click on the keypad's
// buttons, by touch and by the PC keyboard: the main menu's selection moves
// as in the runner's screenshots of the same keys (the rows below the title
// bar, whose clock is the PC's).
"use strict";
const { run, runnerShot, bmpRgb } = require("./lib.js");

const FIRST_ROW = 24;   // below the title bar with its clock and battery
const WAIT_MS = 20000;

function sameBody(rgba, bmp) {
  for (let y = FIRST_ROW; y < bmp.height; ++y)
    for (let x = 0; x < bmp.width; ++x) {
      const i = y * bmp.width + x;
      if (rgba[4 * i] !== bmp.rgb[3 * i] || rgba[4 * i + 1] !== bmp.rgb[3 * i + 1] || rgba[4 * i + 2] !== bmp.rgb[3 * i + 2])
        return false;
    }
  return true;
}

async function shows(page, bmp) {
  for (let waited = 0; waited < WAIT_MS; waited += 100) {
    if (sameBody(await page.evaluate(() => window.tarvik2.pixels()), bmp)) return true;
    await page.waitForTimeout(100);
  }
  return false;
}

run("keys", async (t) => {
  const steps = ["wait 1500", "right", "down", "left", "enter", "esc"];
  const shots = [];
  for (let i = 1; i <= steps.length; ++i) shots.push(bmpRgb(runnerShot(t.bin, steps.slice(0, i).join("; "))));
  // Each key changes what the test looks at.
  for (let i = 1; i < shots.length; ++i) {
    const rgba = [];
    for (let k = 0; k < shots[i].rgb.length; k += 3) rgba.push(shots[i].rgb[k], shots[i].rgb[k + 1], shots[i].rgb[k + 2], 255);
    t.check(!sameBody(rgba, shots[i - 1]), `the runner's screen changes with '${steps[i]}'`);
  }
  const page = await t.page("", { touch: true });
  t.check(await shows(page, shots[0]), "the page starts in real time into the main menu");
  await page.click("#k-right");
  t.check(await shows(page, shots[1]), "a mouse click on the Right button moves the selection right");
  await page.tap("#k-down");
  t.check(await shows(page, shots[2]), "a touch on the Down button moves it down");
  await page.keyboard.press("ArrowLeft");
  t.check(await shows(page, shots[3]), "the PC's Left arrow moves it left");
  await page.keyboard.press("Enter");
  t.check(await shows(page, shots[4]), "the PC's Enter opens the item chosen");
  await page.keyboard.press("Escape");
  t.check(await shows(page, shots[5]), "the PC's Esc goes back to the main menu");
});
