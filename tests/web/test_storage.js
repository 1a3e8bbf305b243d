// The archive and the settings live in the browser's storage: a saved
// reading survives a reload and shows in the archive browser; "Download
// archive" gives a flash.dat and fram.dat that the archive tool reads as
// the runner's own; an archive made by the runner opens in the page.
"use strict";
const fs = require("fs");
const path = require("path");
const { execFileSync, spawnSync } = require("child_process");
const { run, runnerShot, bmpRgb, differingPixels, tmpdir, downloadArchive, CLOCK, SEED } = require("./lib.js");

// A vibrometer reading saved (Shift+Enter), then, at the next start, the
// archive browser.
const SAVE = "wait 1500; enter; wait 300; enter; wait 3000; shift+enter; wait 1500; enter; wait 500";
const BROWSE = "wait 1500; esc; wait 300; down; right; enter; wait 1500";

function archive(args) {
  const r = spawnSync(process.env.TARVIK2_ARCHIVE, args, { encoding: "utf8" });
  return { status: r.status, out: r.stdout + r.stderr };
}

run("storage", async (t) => {
  // The runner: save, keep a copy of the archive, browse.
  const data = tmpdir("runner-data");
  runnerShot(t.bin, SAVE, { data });
  const saved = tmpdir("saved");
  for (const f of ["flash.dat", "fram.dat"]) fs.copyFileSync(path.join(data, f), path.join(saved, f));
  const browsed = bmpRgb(runnerShot(t.bin, BROWSE, { data }));
  const lsRunner = archive(["--data", data, "ls"]);
  t.check(/vibrometer:/.test(lsRunner.out), "the runner's archive holds the vibrometer reading");

  // The page: save, switch off, reload, browse.
  const query = `?clock=${CLOCK}&seed=${SEED}`;
  const page = await t.page(query);
  await page.evaluate((s) => window.tarvik2.steps(s), SAVE);
  await page.evaluate(() => window.tarvik2.switchOff());
  await page.reload();
  await page.evaluate(() => window.tarvik2.ready);
  await page.evaluate((s) => window.tarvik2.steps(s), BROWSE);
  let differ = differingPixels(await page.evaluate(() => window.tarvik2.pixels()), browsed);
  t.check(differ === 0, `after a reload the archive browser shows the saved reading as the runner does (${differ} pixels differ)`);

  // Download archive (the page's menu), then the archive tool on it.
  const { out, downloads } = await downloadArchive(page);
  const flash = path.join(out, "flash.dat");
  t.check(downloads.length === 2 && fs.existsSync(flash) && fs.statSync(flash).size === 276824064 &&
    fs.statSync(path.join(out, "fram.dat")).size === 32768, "the download gives flash.dat (276,824,064 bytes) and fram.dat (32,768)");
  const verify = archive(["--data", out, "verify"]);
  t.check(verify.status === 0, `tarvik2-archive verify passes the downloaded archive (status ${verify.status})`);
  const ls = archive(["--data", out, "ls"]);
  t.check(ls.status === 0 && ls.out === lsRunner.out, "tarvik2-archive ls of the download equals that of the runner's archive:\n" + ls.out);
  await page.context().close();

  // Open archive: the runner's saved archive in a fresh browser profile.
  const page2 = await t.page(query);
  await Promise.all([page2.waitForNavigation({ timeout: 120000 }),
    page2.setInputFiles("#f-archive", [path.join(saved, "flash.dat"), path.join(saved, "fram.dat")])]);
  await page2.evaluate(() => window.tarvik2.ready);
  await page2.evaluate((s) => window.tarvik2.steps(s), BROWSE);
  differ = differingPixels(await page2.evaluate(() => window.tarvik2.pixels()), browsed);
  t.check(differ === 0, `an archive made by the runner opens in the page and shows in the archive browser (${differ} pixels differ)`);
  await page2.context().close();
});
