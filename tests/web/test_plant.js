// A virtual plant in the page, as --plant FILE on the desktop: the example
// plant from the site (plant=URL), the probe put on a point through the
// page's plant list, shows on the vibrometer the pixels the runner shows
// with --plant and --plant-point; a faulty plant file gets one line naming
// the file, the JSON path and the fault, and the source in use stays.
"use strict";
const fs = require("fs");
const path = require("path");
const { run, runnerShot, bmpRgb, differingPixels, tmpdir, CLOCK, SEED } = require("./lib.js");

const MEASURE = "wait 1500; enter; wait 300; enter; wait 3000";
const POINT = "Pump set/Pump/P1 H";

run("plant", async (t) => {
  const example = path.join(__dirname, "..", "..", "examples", "plants", "pump_set.json");
  const shot = bmpRgb(runnerShot(t.bin, MEASURE, { args: ["--plant", example, "--plant-point", POINT] }));
  const synthesised = bmpRgb(runnerShot(t.bin, MEASURE));
  t.check(differingPixels(Array.from(synthesised.rgb.reduce((a, v, i) => { a.push(v); if (i % 3 === 2) a.push(255); return a; }, [])),
    shot) > 0, "the runner's vibrometer on the plant point differs from the synthesised signal's");

  const page = await t.page(`?clock=${CLOCK}&seed=${SEED}&plant=plants/pump_set.json`);
  await page.waitForFunction(() => document.querySelectorAll("#plant option").length > 2);
  const options = await page.$$eval("#plant optgroup", (gs) => gs.map((g) => g.label + ": " +
    [...g.querySelectorAll("option")].map((o) => o.textContent).join(", ")));
  t.check(options.includes("Pump set › Pump: P1 V, P1 H") && !(await page.isHidden("#plant")),
    `the plant list shows the groups, machines and points: ${options.join("; ")}`);
  t.check(await page.$eval("#plant", (s) => s.value) === "", "the plant from the URL starts with the probe on no point");
  await page.selectOption("#plant", POINT);
  const line = await page.textContent("#plant-line");
  t.check(line === `plant: Pump set walk-through, probe on ${POINT}`, `the plant line says where the probe is: ${line}`);
  await page.evaluate((s) => window.tarvik2.steps(s), MEASURE);
  const differ = differingPixels(await page.evaluate(() => window.tarvik2.pixels()), shot);
  t.check(differ === 0, `the vibrometer on ${POINT} equals the runner's --plant-point screenshot (${differ} pixels differ)`);

  // A faulty plant file: one line naming it, the JSON path and the fault;
  // the plant and point in use stay.
  const dir = tmpdir("plant");
  const bad = path.join(dir, "bad_plant.json");
  fs.writeFileSync(bad, fs.readFileSync(example, "utf8").replace("\"rpm\": 1480", "\"rpm\": 0"));
  const before = await page.evaluate(() => window.tarvik2.source());
  await page.setInputFiles("#f-plant", bad);
  await page.waitForFunction(() => /bad_plant\.json/.test(document.getElementById("status").textContent));
  let status = await page.textContent("#status");
  let after = await page.evaluate(() => window.tarvik2.source());
  t.check(/^bad_plant\.json: \$\.groups\[0\]\.machines\[0\]\.rpm: must be above 0/.test(status) && !/\n|\/plants\//.test(status),
    `a faulty plant gets one line with the file, the JSON path and the fault: ${status}`);
  t.check(JSON.stringify(after) === JSON.stringify(before) && await page.textContent("#plant-line") === line,
    `the plant in use stays on its point: ${JSON.stringify(after)}`);

  // The same with a recorded signal in use: it stays the source.
  const wav = path.join(dir, "signal.wav");
  fs.copyFileSync(path.join(t.site, "demo", "unbalance.wav"), wav);
  const page2 = await t.page(`?clock=${CLOCK}&seed=${SEED}`);
  await page2.setInputFiles("#f-signal", wav);
  await page2.waitForFunction(() => /signal\.wav/.test(document.getElementById("status").textContent));
  await page2.setInputFiles("#f-plant", bad);
  await page2.waitForFunction(() => /bad_plant\.json/.test(document.getElementById("status").textContent));
  after = await page2.evaluate(() => window.tarvik2.source());
  t.check(after.signal === "signal.wav" && after.plant === "" && await page2.isHidden("#plant"),
    `the recorded signal stays when a plant file is faulty: ${JSON.stringify(after)}`);
  // A good plant then replaces the recording, and a recording the plant.
  await page2.setInputFiles("#f-plant", example);
  await page2.waitForFunction(() => window.tarvik2.source().plant !== "");
  after = await page2.evaluate(() => window.tarvik2.source());
  t.check(after.signal === "" && /^plant: Pump set walk-through, probe on no point/.test(after.plant),
    `a plant replaces the recording: ${JSON.stringify(after)}`);
  await page2.setInputFiles("#f-signal", wav);
  await page2.waitForFunction(() => window.tarvik2.source().signal === "signal.wav");
  after = await page2.evaluate(() => window.tarvik2.source());
  t.check(after.plant === "" && await page2.isHidden("#plant") && await page2.isHidden("#plant-line"),
    `a recording replaces the plant: ${JSON.stringify(after)}`);
  await page2.context().close();

  // The plant chosen stays for the next visit with its point.
  const context = await t.browser.newContext({ timezoneId: "UTC" });
  const page3 = await t.page(`?clock=${CLOCK}&seed=${SEED}&plant=plants/course.json`, { context });
  await page3.waitForFunction(() => document.querySelectorAll("#plant optgroup option").length > 1);
  const second = await page3.$eval("#plant optgroup option:nth-child(2)", (o) => o.value);
  await page3.selectOption("#plant", second);
  await page3.reload();
  await page3.evaluate(() => window.tarvik2.ready);
  after = await page3.evaluate(() => window.tarvik2.source());
  t.check(after.point === second, `after a reload the plant and its point stay: ${JSON.stringify(after)}`);
  await context.close();
});
