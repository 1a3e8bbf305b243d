// A keypad button held in the page (real time) repeats as a held PC key
// does: the first key word at once, then after a pause repeated ones with
// their count rising in bits 16-30, until the button is let go.
"use strict";
const { run } = require("./lib.js");

const REPEAT_SHIFT = 16, KEY_DOWN = 5;

run("held", async (t) => {
  const page = await t.page("?store=0");
  await page.waitForTimeout(2000);
  await page.evaluate(() => window.tarvik2.keysPosted());
  const box = await page.locator("#k-down").boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.down();
  await page.waitForTimeout(1500);
  await page.mouse.up();
  const held = await page.evaluate(() => window.tarvik2.keysPosted());
  const counts = held.map((w) => w >>> REPEAT_SHIFT);
  t.check(held.length > 3 && held.every((w) => (w & 0xFFFF) === KEY_DOWN) &&
    counts.every((c, i) => c === i),
    `a held Down button posts Down with the repeat count rising 0, 1, 2, … (${held.length} words: ${counts.join(" ")})`);
  await page.waitForTimeout(500);
  const after = await page.evaluate(() => window.tarvik2.keysPosted());
  t.check(after.length === 0, `the repeats stop when the button is let go (${after.length} after)`);

  // A finger taken off the button (touch: pointercancel) or moved off it.
  await page.mouse.down();
  await page.waitForTimeout(800);
  await page.mouse.move(box.x - 200, box.y - 200);
  const moved = await page.evaluate(() => window.tarvik2.keysPosted());
  await page.waitForTimeout(500);
  await page.mouse.up();
  const afterLeave = await page.evaluate(() => window.tarvik2.keysPosted());
  t.check(moved.length > 1 && afterLeave.length === 0,
    `moving off the held button stops its repeats (${moved.length} while held, ${afterLeave.length} after)`);

  // The Mod toggle never repeats: held, it flips once.
  const mod = await page.locator("#k-mod").boundingBox();
  await page.mouse.move(mod.x + mod.width / 2, mod.y + mod.height / 2);
  await page.mouse.down();
  await page.waitForTimeout(1200);
  await page.mouse.up();
  t.check(await page.getAttribute("#k-mod", "aria-pressed") === "true" &&
    (await page.evaluate(() => window.tarvik2.keysPosted())).length === 0, "a held Mod button flips once and posts no repeats");
});
