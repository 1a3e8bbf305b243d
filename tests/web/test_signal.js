// A recording opened in the page feeds the measuring chain as --signal does
// on the desktop: a sine of 10 mm/s RMS read from a WAV file shows 10.0 on
// the vibrometer, the same pixels as the runner's, and saved it reads 10.0
// in the archive tool too.
"use strict";
const fs = require("fs");
const path = require("path");
const { spawnSync } = require("child_process");
const { run, runnerShot, bmpRgb, differingPixels, tmpdir, downloadArchive, CLOCK, SEED } = require("./lib.js");

// A float WAV of acceleration in m/s²: a sine whose velocity is `rms` mm/s
// RMS at `hz`.
function sineWav(file, hz, rms, rate = 25600, seconds = 4) {
  const n = rate * seconds;
  const b = Buffer.alloc(44 + 4 * n);
  b.write("RIFF", 0); b.writeUInt32LE(36 + 4 * n, 4); b.write("WAVE", 8); b.write("fmt ", 12);
  b.writeUInt32LE(16, 16); b.writeUInt16LE(3, 20); b.writeUInt16LE(1, 22); b.writeUInt32LE(rate, 24);
  b.writeUInt32LE(rate * 4, 28); b.writeUInt16LE(4, 32); b.writeUInt16LE(32, 34); b.write("data", 36);
  b.writeUInt32LE(4 * n, 40);
  const peak = rms * Math.SQRT2 / 1000 * 2 * Math.PI * hz;   // m/s² peak
  for (let i = 0; i < n; ++i) b.writeFloatLE(peak * Math.sin(2 * Math.PI * hz * i / rate), 44 + 4 * i);
  fs.writeFileSync(file, b);
}

// Download archive, then the archive tool's list of it.
async function savedList(page) {
  const { out } = await downloadArchive(page);
  return spawnSync(process.env.TARVIK2_ARCHIVE, ["--data", out, "ls"], { encoding: "utf8" }).stdout || "";
}

const MEASURE = "wait 1500; enter; wait 300; enter; wait 3000";
const SAVE = "shift+enter; wait 1500; enter; wait 500";

run("signal", async (t) => {
  const dir = tmpdir("signal");
  const wav = path.join(dir, "sine_80hz_10mms.wav");
  sineWav(wav, 80, 10);
  const data = tmpdir("runner-data");
  const shot = bmpRgb(runnerShot(t.bin, MEASURE, { data, args: ["--signal", wav] }));

  const page = await t.page(`?clock=${CLOCK}&seed=${SEED}`);
  await page.setInputFiles("#f-signal", wav);
  await page.waitForFunction(() => /sine_80hz_10mms/.test(document.getElementById("status").textContent));
  await page.evaluate((s) => window.tarvik2.steps(s), MEASURE);
  const differ = differingPixels(await page.evaluate(() => window.tarvik2.pixels()), shot);
  t.check(differ === 0, `the vibrometer measures the opened WAV file as the runner's --signal does (${differ} pixels differ)`);

  // The temperature parameter, as --temperature C.
  const warm = bmpRgb(runnerShot(t.bin, MEASURE, { args: ["--signal", wav, "--temperature", "71.5"] }));
  t.check(differingPixels(await page.evaluate(() => window.tarvik2.pixels()), warm) > 0,
    "the runner's screen shows the temperature given");
  const page2 = await t.page(`?clock=${CLOCK}&seed=${SEED}&temperature=71.5`);
  await page2.setInputFiles("#f-signal", wav);
  await page2.waitForFunction(() => /sine_80hz_10mms/.test(document.getElementById("status").textContent));
  await page2.evaluate((s) => window.tarvik2.steps(s), MEASURE);
  const differWarm = differingPixels(await page2.evaluate(() => window.tarvik2.pixels()), warm);
  t.check(differWarm === 0, `?temperature=71.5 shows what --temperature 71.5 shows (${differWarm} pixels differ)`);
  await page2.context().close();

  // A demonstration recording from the page's menu, as --signal FILE of
  // the site's copy.
  const demo = bmpRgb(runnerShot(t.bin, MEASURE, { args: ["--signal", path.join(t.site, "demo", "unbalance.wav")] }));
  const page3 = await t.page(`?clock=${CLOCK}&seed=${SEED}`);
  await page3.waitForFunction(() => document.querySelectorAll("#demo option").length > 1);
  await page3.selectOption("#demo", "unbalance.wav");
  await page3.waitForFunction(() => /unbalance\.wav/.test(document.getElementById("status").textContent));
  await page3.evaluate((s) => window.tarvik2.steps(s), MEASURE);
  const differDemo = differingPixels(await page3.evaluate(() => window.tarvik2.pixels()), demo);
  t.check(differDemo === 0, `the demonstration menu's unbalance.wav measures as the runner's --signal (${differDemo} pixels differ)`);
  await page3.context().close();

  // The reading, saved and read back by the archive tool.
  await page.evaluate((s) => window.tarvik2.steps(s), SAVE);
  let ls = await savedList(page);
  t.check(/vibrometer: +10\.0 /.test(ls), "the saved reading is 10.0 mm/s:\n" + ls);

  // A format left to the browser's decoder (here the same samples under a
  // name libsndfile is not given): decoded at the browser's rate, whose
  // value goes on with the samples, so the reading stays 10.0.
  const ogg = path.join(dir, "sine.ogg");
  fs.copyFileSync(wav, ogg);
  const page4 = await t.page(`?clock=${CLOCK}&seed=${SEED}`);
  await page4.setInputFiles("#f-signal", ogg);
  await page4.waitForFunction(() => /sine\.ogg/.test(document.getElementById("status").textContent));
  await page4.evaluate((s) => window.tarvik2.steps(s), MEASURE + "; " + SAVE);
  ls = await savedList(page4);
  t.check(/vibrometer: +10\.0 /.test(ls), "decoded by the browser, the reading is 10.0 mm/s too:\n" + ls);
  await page4.context().close();

  // A file that is no recording: one line naming it, the instrument goes on.
  const bad = path.join(dir, "notes.wav");
  fs.writeFileSync(bad, "not a sound file");
  await page.setInputFiles("#f-signal", bad);
  await page.waitForFunction(() => /notes\.wav/.test(document.getElementById("status").textContent));
  const status = await page.textContent("#status");
  t.check(/notes\.wav/.test(status) && !/\/signals\//.test(status) && await page.evaluate(() => window.tarvik2.running()),
    `a file that is no recording gets one line naming it and the instrument runs on: ${status}`);
});
