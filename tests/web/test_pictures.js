// Save Picture gives the PNG the runner's `shot` writes (the same writer);
// Record gives an animated PNG of what the screen showed; the page's own
// controls switch between English and Russian.
"use strict";
const fs = require("fs");
const path = require("path");
const { run, tmpdir, CLOCK, SEED } = require("./lib.js");

async function downloadOf(page, action) {
  const [d] = await Promise.all([page.waitForEvent("download"), action()]);
  const file = path.join(tmpdir("download"), d.suggestedFilename());
  await d.saveAs(file);
  return file;
}

// The chunks of a PNG file: [{ type, data }].
function chunks(buf) {
  const out = [];
  for (let at = 8; at + 12 <= buf.length;) {
    const len = buf.readUInt32BE(at);
    out.push({ type: buf.toString("latin1", at + 4, at + 8), data: buf.subarray(at + 8, at + 8 + len) });
    at += 12 + len;
  }
  return out;
}

run("pictures", async (t) => {
  const steps = "wait 1500; right; down";
  const runnerPng = path.join(tmpdir("shot"), "shot.png");
  const { execFileSync } = require("child_process");
  execFileSync(path.join(t.bin, "tarvik2-run"), ["--data", tmpdir("runner"), "--clock", CLOCK, "--seed", String(SEED),
    "--keys", `${steps}; shot ${runnerPng}`], { env: { ...process.env, TZ: "UTC" } });

  const page = await t.page(`?clock=${CLOCK}&seed=${SEED}`);
  await page.evaluate((s) => window.tarvik2.steps(s), steps);
  const png = await downloadOf(page, () => page.click("#b-save"));
  t.check(/^tarvik2-.*\.png$/.test(path.basename(png)) && fs.readFileSync(png).equals(fs.readFileSync(runnerPng)),
    `Save Picture downloads ${path.basename(png)}, byte for byte the runner's PNG of the same screen`);
  await page.context().close();

  // A recording in real time: the menu's selection moves twice.
  const live = await t.page("");
  await live.waitForTimeout(2500);
  await live.click("#b-record");
  await live.click("#k-right");
  await live.waitForTimeout(600);
  await live.click("#k-left");
  await live.waitForTimeout(600);
  const apng = fs.readFileSync(await downloadOf(live, () => live.click("#b-record")));
  const c = chunks(apng);
  const actl = c.find((x) => x.type === "acTL");
  const frames = c.filter((x) => x.type === "fcTL").length;
  t.check(apng.subarray(0, 8).equals(Buffer.from([137, 80, 78, 71, 13, 10, 26, 10])) && actl &&
    actl.data.readUInt32BE(0) === frames && frames >= 3 && c[c.length - 1].type === "IEND",
    `Record downloads an animated PNG with a frame for each change (${frames} frames)`);

  // English and Russian.
  const before = await live.textContent("#b-save");
  await live.click("#b-archive");
  await live.click("#m-lang");
  const after = await live.textContent("#b-save");
  await live.reload();
  await live.evaluate(() => window.tarvik2.ready);
  const kept = await live.textContent("#b-save");
  t.check(before === "Save Picture" && after === "Сохранить снимок" && kept === after,
    `the language switch turns the page's controls Russian and keeps the choice (${before} → ${after} → ${kept})`);
});
