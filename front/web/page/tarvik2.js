// The page around the instrument: canvas, keypad, PC keys, storage of the
// archive (IndexedDB), downloads, recorded signals and the step API.
"use strict";
(() => {
const params = new URLSearchParams(location.search);
const $ = (id) => document.getElementById(id);
const LCD_W = 320, LCD_H = 240;
const PAGE_BYTES = 2112, PAGES = 131072, FLASH_BYTES = PAGE_BYTES * PAGES, FRAM_BYTES = 32768;
const REDRAW_MS = 100;          // the window's redraw timer
const FRAM_CHECK_MS = 1000;     // how often the parameter memory is stored when it changed
const STEPS_POLL_MS = 10;
const DATA = "/data", SIGNALS = "/signals", PLANTS = "/plants";
const KEY = { MOD: 1, ESC: 2, ENTER: 3, UP: 4, DOWN: 5, LEFT: 6, RIGHT: 7, SHIFT: 128, NONE: 65535 };
const REPEAT_SHIFT = 16, REPEAT_COUNT_MAX = 0x7FFF;
// A held keypad button repeats after this pause, then at a keyboard's usual
// rate (30 a second), as a held PC key does.
const BUTTON_REPEAT_DELAY_MS = 500, BUTTON_REPEAT_EVERY_MS = 33;
let heldKey = "", repeatCount = 0;
// The window's PC keys (the window's built-in key map).
const PC_KEYS = { Enter: KEY.ENTER, NumpadEnter: KEY.ENTER, Escape: KEY.ESC, ArrowUp: KEY.UP, ArrowDown: KEY.DOWN,
  ArrowLeft: KEY.LEFT, ArrowRight: KEY.RIGHT };

const virtualTime = params.has("clock") || params.has("seed") || params.has("steps") || params.get("virtual") === "1";
const persist = params.get("store") !== "0";
let lang = params.get("lang") || localStorage.getItem("tarvik2-lang") ||
  ((navigator.language || "en").toLowerCase().startsWith("ru") ? "ru" : "en");
lang = lang === "ru" ? "ru" : "en";
const t = (key, ...args) => {
  const s = (TARVIK2_TEXTS[lang] && TARVIK2_TEXTS[lang][key]) || TARVIK2_TEXTS.en[key] || key;
  return s.replace(/\{(\d)\}/g, (_, i) => String(args[+i]));
};

let M = null;                   // the module
let running = false;
let temperature = 35;
let statusTimer = 0;
const canvas = $("lcd");
const ctx2d = canvas.getContext("2d", { alpha: false });
const image = ctx2d.createImageData(LCD_W, LCD_H);

function status(text, sticky) {
  $("status").textContent = text;
  clearTimeout(statusTimer);
  if (!sticky) statusTimer = setTimeout(() => { $("status").textContent = signalText(); }, 4000);
}
function signalText() {
  return currentSignal ? t("signal_in_use", currentSignal) : "";
}
function overlay(text, onClick) {
  const o = $("overlay");
  o.textContent = text || "";
  o.hidden = !text;
  o.onclick = onClick || null;
}

// Calls an exported function with strings and numbers; a string result
// comes back as a string. (ccall would hand back a promise while the run
// sleeps in Asyncify.)
function call(name, ...args) {
  const heap = [];
  const conv = args.map((a) => {
    if (typeof a !== "string") return a;
    const n = M.lengthBytesUTF8(a) + 1, p = M._malloc(n);
    M.stringToUTF8(a, p, n);
    heap.push(p);
    return p;
  });
  const r = M["_" + name](...conv);
  for (const p of heap) M._free(p);
  return r;
}
function callText(name, ...args) { return M.UTF8ToString(call(name, ...args)); }

// ---- texts ----
function applyTexts() {
  document.documentElement.lang = lang;
  for (const el of document.querySelectorAll("[data-t]")) el.textContent = t(el.dataset.t);
  $("b-signal").title = t("signal_title");
  $("b-plant").title = t("plant_title");
  if (M) showPlant();
  if (!$("help").hidden) showHelp();
}

// ---- layout: the LCD at the largest whole number of device pixels ----
function layout() {
  const app = $("app");
  const w = window.innerWidth, h = window.innerHeight;
  const side = w / h > 1.3 && h < 600;
  app.classList.toggle("side", side);
  app.classList.toggle("compact", side || w < 720);
  const pad = $("pad").getBoundingClientRect();
  const status = $("plant-line").hidden ? 20 : 40, margin = 16;
  // Sideways the status line lies under the keypad.
  const availW = side ? w - pad.width - 20 : w - margin;
  const availH = side ? h - 12 : h - pad.height - status - margin - 10;
  const dpr = window.devicePixelRatio || 1;
  const k = Math.max(1, Math.floor(Math.min(availW * dpr / LCD_W, availH * dpr / LCD_H)));
  canvas.style.width = (LCD_W * k / dpr) + "px";
  canvas.style.height = (LCD_H * k / dpr) + "px";
}

// ---- the screen ----
function paint(force) {
  if (!M) return;
  const p = M._web_screen_rgba(force ? 1 : 0);
  if (!p) return;
  image.data.set(M.HEAPU8.subarray(p, p + LCD_W * LCD_H * 4));
  ctx2d.putImageData(image, 0, 0);
}

// The screen and the "Input clipped" mark.
function refresh() {
  paint(false);
  const clip = M._web_clip_percent();
  $("clip").hidden = clip < 0;
  if (clip >= 0) $("clip").textContent = t("clipped", clip.toFixed(1));
}

// ---- storage: IndexedDB keeps the chip's written pages and fram.dat ----
let db = null;
const ops = [];
let flushScheduled = false;
function openDb() {
  return new Promise((resolve) => {
    if (!persist || !window.indexedDB) return resolve(null);
    const req = indexedDB.open("tarvik2", 1);
    req.onupgradeneeded = () => {
      req.result.createObjectStore("pages");
      req.result.createObjectStore("files");
    };
    req.onsuccess = () => resolve(req.result);
    req.onerror = () => resolve(null);
  });
}
function idb(store, mode, fn) {
  return new Promise((resolve, reject) => {
    const tx = db.transaction(store, mode);
    const result = fn(tx.objectStore(store));
    tx.oncomplete = () => resolve(result && result.result);
    tx.onerror = () => reject(tx.error);
    tx.onabort = () => reject(tx.error);
  });
}
function scheduleFlush() {
  if (flushScheduled || !db) return;
  flushScheduled = true;
  setTimeout(flush, 0);
}
let flushing = Promise.resolve();
function flush() {
  flushScheduled = false;
  if (!db || !ops.length) return flushing;
  const batch = ops.splice(0);
  flushing = flushing.then(() => idb("pages", "readwrite", (s) => {
    for (const op of batch) {
      if (op.bytes) s.put(op.bytes, op.page);
      else s.delete(IDBKeyRange.bound(op.page, op.page + op.count - 1));
    }
  })).catch((e) => console.error("tarvik2: storing pages failed", e));
  return flushing;
}
const hooks = {
  wake: null,                   // set while the instrument rests: wakes it
  paint() { refresh(); },
  pageWritten(page, bytes) { if (db) { ops.push({ page, bytes }); scheduleFlush(); } },
  pagesErased(first, count) { if (db) { ops.push({ page: first, count }); scheduleFlush(); } },
};
let framStored = null;
function storeFram() {
  if (!db || !M) return Promise.resolve();
  let now;
  try { now = M.FS.readFile(DATA + "/fram.dat"); } catch (e) { return Promise.resolve(); }
  if (framStored && framStored.length === now.length && framStored.every((v, i) => v === now[i]))
    return Promise.resolve();
  framStored = now;
  return idb("files", "readwrite", (s) => s.put(now, "fram.dat"))
    .catch((e) => console.error("tarvik2: storing fram.dat failed", e));
}
async function restoreStored() {
  M.FS.mkdirTree(DATA);
  M.FS.mkdirTree(SIGNALS);
  if (!db) return;
  const fram = await idb("files", "readonly", (s) => s.get("fram.dat"));
  if (fram) { M.FS.writeFile(DATA + "/fram.dat", fram); framStored = fram; }
  await new Promise((resolve, reject) => {
    const tx = db.transaction("pages", "readonly");
    const buf = M._malloc(PAGE_BYTES);
    tx.objectStore("pages").openCursor().onsuccess = (e) => {
      const c = e.target.result;
      if (!c) return;
      const bytes = c.value;
      M.HEAPU8.set(bytes.subarray(0, PAGE_BYTES), buf);
      M._web_restore_page(c.key, buf, Math.min(bytes.length, PAGE_BYTES));
      c.continue();
    };
    tx.oncomplete = () => { M._free(buf); resolve(); };
    tx.onerror = () => { M._free(buf); reject(tx.error); };
  });
}

// ---- "Download archive": flash.dat built from parts, fram.dat ----
function download(blob, name) {
  const a = document.createElement("a");
  a.href = URL.createObjectURL(blob);
  a.download = name;
  document.body.appendChild(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 60000);
}
function flashBlob() {
  const CHUNK = 4096;           // erased pages in one shared part
  const erased = new Blob([new Uint8Array(PAGE_BYTES * CHUNK).fill(0xFF)]);
  const parts = [];
  const pushErased = (n) => {
    while (n > 0) { const k = Math.min(n, CHUNK); parts.push(k === CHUNK ? erased : erased.slice(0, k * PAGE_BYTES)); n -= k; }
  };
  const count = M._web_page_count();
  const nums = M.HEAPU32.slice(M._web_page_numbers() >> 2, (M._web_page_numbers() >> 2) + count);
  const bytes = M._web_page_bytes() || PAGE_BYTES;
  let next = 0;
  for (const page of nums) {
    pushErased(page - next);
    const p = M._web_page(page);
    parts.push(M.HEAPU8.slice(p, p + bytes));
    next = page + 1;
  }
  pushErased(PAGES - next);
  return new Blob(parts, { type: "application/octet-stream" });
}
function framBytes() {
  try { return M.FS.readFile(DATA + "/fram.dat"); } catch (e) { return new Uint8Array(FRAM_BYTES).fill(0xFF); }
}
function downloadArchive() {
  download(flashBlob(), "flash.dat");
  setTimeout(() => download(new Blob([framBytes()]), "fram.dat"), 300);
}

// ---- "Open archive": flash.dat and/or fram.dat from the desktop ----
async function openArchive(files) {
  let flash = null, fram = null;
  for (const f of files) {
    if (f.size === FLASH_BYTES) flash = f;
    else if (f.size === FRAM_BYTES) fram = f;
    else return status(t("bad_archive", f.name), true);
  }
  if (!flash && !fram) return;
  await switchOff();
  overlay(t("storing"));
  if (!db) db = await openDb();
  if (flash) {
    await idb("pages", "readwrite", (s) => s.clear());
    const STEP = PAGE_BYTES * 2048;
    for (let at = 0; at < FLASH_BYTES; at += STEP) {
      const buf = new Uint8Array(await flash.slice(at, Math.min(FLASH_BYTES, at + STEP)).arrayBuffer());
      const words = new Uint32Array(buf.buffer, 0, buf.length >> 2);
      const keep = [];
      for (let o = 0; o < buf.length; o += PAGE_BYTES) {
        // Only pages that are not erased are kept.
        let erased = true;
        for (let w = o >> 2, end = (o + PAGE_BYTES) >> 2; w < end; ++w) if (words[w] !== 0xFFFFFFFF) { erased = false; break; }
        if (!erased) keep.push([(at + o) / PAGE_BYTES, buf.slice(o, o + PAGE_BYTES)]);
      }
      if (keep.length) await idb("pages", "readwrite", (s) => { for (const [n, b] of keep) s.put(b, n); });
      overlay(t("opening", flash.name, Math.round(100 * (at + STEP) / FLASH_BYTES)));
    }
  }
  if (fram) {
    // Read before the transaction opens: it would end while waiting.
    const bytes = new Uint8Array(await fram.arrayBuffer());
    await idb("files", "readwrite", (s) => s.put(bytes, "fram.dat"));
  }
  location.reload();
}

// ---- recorded signals ----
let currentSignal = "";
const NATIVE = /\.(wav|aif|aiff|aifc|au|snd|w64|caf|csv|txt|rf64)$/i;
function floatWav(buffer) {
  const ch = buffer.numberOfChannels, n = buffer.length, rate = buffer.sampleRate;
  const data = new DataView(new ArrayBuffer(44 + n * ch * 4));
  const str = (o, s) => { for (let i = 0; i < s.length; ++i) data.setUint8(o + i, s.charCodeAt(i)); };
  str(0, "RIFF"); data.setUint32(4, 36 + n * ch * 4, true); str(8, "WAVE"); str(12, "fmt ");
  data.setUint32(16, 16, true); data.setUint16(20, 3, true); data.setUint16(22, ch, true);
  data.setUint32(24, rate, true); data.setUint32(28, rate * ch * 4, true); data.setUint16(32, ch * 4, true);
  data.setUint16(34, 32, true); str(36, "data"); data.setUint32(40, n * ch * 4, true);
  const chans = [];
  for (let c = 0; c < ch; ++c) chans.push(buffer.getChannelData(c));
  let o = 44;
  for (let i = 0; i < n; ++i) for (let c = 0; c < ch; ++c) { data.setFloat32(o, chans[c][i], true); o += 4; }
  return new Uint8Array(data.buffer);
}
async function openSignal(name, bytes) {
  const safe = name.replace(/[\/\\]/g, "_");
  let path = SIGNALS + "/" + safe;
  let error = "";
  if (NATIVE.test(safe)) {
    M.FS.writeFile(path, bytes);
    error = callText("web_signal_open", path, 0, temperature);
  }
  if (!NATIVE.test(safe) || (error && !/\.(csv|txt)$/i.test(safe))) {
    // What libsndfile does not read here (FLAC, Ogg, MP3, …): the browser's
    // decoder, at the rate it decodes to, handed on as a float WAV.
    try {
      const ac = new OfflineAudioContext(1, 1, 48000);
      const decoded = await ac.decodeAudioData(bytes.slice().buffer);
      path = SIGNALS + "/" + safe + ".decoded.wav";
      M.FS.writeFile(path, floatWav(decoded));
      error = callText("web_signal_open", path, 0, temperature);
      if (error) error = error.replace(path, safe);
    } catch (e) {
      if (!error) error = safe + ": cannot be read as a recording (" + (e && e.message || e) + ")";
    }
  }
  if (error) { status(error.replace(SIGNALS + "/", ""), true); return false; }
  currentSignal = name;
  forgetPlant();
  showPlant();
  status(signalText(), true);
  return true;
}
async function openSignalFile(file) {
  return openSignal(file.name, new Uint8Array(await file.arrayBuffer()));
}
function synthesis() {
  M._web_signal_close();
  M._web_plant_close();
  forgetPlant();
  showPlant();
  currentSignal = "";
  status(t("synthesis"));
}
async function loadDemoList() {
  try {
    const list = await (await fetch("demo/list.json")).json();
    for (const name of list) {
      const o = document.createElement("option");
      o.value = name; o.textContent = name;
      $("demo").appendChild(o);
    }
  } catch (e) { $("demo").hidden = true; }
}


// ---- virtual plants: a plant file gives the signal of the point the probe
// is on, and of the route's point during a route walk ----
const PLANT_STORE = "tarvik2-plant";
const CLOSE_PLANT = "\u0001close";
// A plant file (its bytes) taken in use, the probe on `point` ("" on none;
// null keeps the point when the new plant has it). `name` names the file in
// what goes wrong. False, with the one line on the status line, when the
// plant cannot be used: then the plant or signal in use stays.
function openPlant(name, bytes, point) {
  const base = name.split(/[\/\\]/).pop() || "plant.json";
  const path = PLANTS + "/" + base;
  M.FS.mkdirTree(PLANTS);
  M.FS.writeFile(path, bytes);
  if (point === null || point === undefined) {
    const before = callText("web_plant_point");
    point = before;
  }
  let err = callText("web_plant_open", path, point);
  // The point the probe was on is not in the new plant: on none.
  if (err && point && callText("web_plant_open", path, "") === "") err = "";
  if (err) { status(err.split(path).join(name), true); return false; }
  currentSignal = "";
  rememberPlant(name, bytes);
  showPlant();
  status(t("plant_in_use", name), true);
  return true;
}
async function openPlantFile(file) {
  return openPlant(file.name, new Uint8Array(await file.arrayBuffer()), null);
}
// plant=URL: a plant on the same site (the example plants lie in plants/).
async function openPlantUrl(url, point) {
  try {
    const u = new URL(url, location.href);
    if (u.origin !== location.origin) throw new Error("not on this site");
    const r = await fetch(u);
    if (!r.ok) throw new Error(`HTTP ${r.status}`);
    return openPlant(url, new Uint8Array(await r.arrayBuffer()), point || "");
  } catch (e) {
    status(`${url}: cannot be fetched (${e && e.message || e})`, true);
    return false;
  }
}
function choosePoint(point) {
  const err = callText("web_plant_choose", point);
  if (err) status(err, true);
  rememberPlant();
  showPlant();
}
function closePlant() {
  M._web_plant_close();
  forgetPlant();
  showPlant();
  status(t("synthesis"));
}
function nextPoint() {
  const paths = [...$("plant").querySelectorAll("optgroup option")].map((o) => o.value);
  if (!paths.length) return;
  const i = paths.indexOf(callText("web_plant_point"));
  choosePoint(paths[i < 0 ? 0 : (i + 1) % paths.length]);
}
// The chosen plant (and point) stays for the next visit, as the language
// does, while the page keeps the archive (not with store=0).
let storedPlant = null;
function rememberPlant(name, bytes) {
  if (name !== undefined) storedPlant = { name, text: new TextDecoder().decode(bytes) };
  if (!persist || !storedPlant) return;
  storedPlant.point = callText("web_plant_point");
  try { localStorage.setItem(PLANT_STORE, JSON.stringify(storedPlant)); } catch (e) { /* too big: not kept */ }
}
function forgetPlant() {
  storedPlant = null;
  if (persist) localStorage.removeItem(PLANT_STORE);
}
function keptPlant() {
  try {
    const kept = persist && JSON.parse(localStorage.getItem(PLANT_STORE) || "null");
    return kept && kept.name && typeof kept.text === "string" ? kept : null;
  } catch (e) { return null; }
}
// The plant of the last visit, or the one plant=URL names (on the point of
// the last visit when it was the same).
async function restorePlant(url) {
  const kept = keptPlant();
  if (url) return openPlantUrl(url, kept && kept.name === url ? kept.point : "");
  if (kept) openPlant(kept.name, new TextEncoder().encode(kept.text), kept.point || "");
}
// The page's plant list (groups and machines, their points, the point the
// probe is on selected) and the line saying where the probe is.
let plantListOf = null;
function showPlant() {
  const sel = $("plant");
  const list = callText("web_plant_points");
  if (list !== plantListOf || sel.dataset.lang !== lang) {
    plantListOf = list;
    sel.dataset.lang = lang;
    sel.textContent = "";
    const add = (parent, value, text) => {
      const o = document.createElement("option");
      o.value = value; o.textContent = text;
      parent.appendChild(o);
    };
    add(sel, "", t("no_point"));
    const groups = new Map();
    for (const line of list.split("\n")) {
      if (!line) continue;
      const [group, machine, point, path] = line.split("\t");
      const label = `${group} › ${machine}`;
      if (!groups.has(label)) {
        const g = document.createElement("optgroup");
        g.label = label;
        sel.appendChild(g);
        groups.set(label, g);
      }
      add(groups.get(label), path, point);
    }
    add(sel, CLOSE_PLANT, t("close_plant"));
  }
  sel.hidden = !list;
  sel.value = callText("web_plant_point");
  const line = callText("web_plant_text");
  if ($("plant-line").textContent !== line || $("plant-line").hidden !== !line) {
    $("plant-line").textContent = line;
    if ($("plant-line").hidden !== !line) { $("plant-line").hidden = !line; layout(); }
  }
}

// ---- pictures and recordings through the window's writers ----
function stamp() {
  const d = new Date(), p = (n) => String(n).padStart(2, "0");
  return `${d.getFullYear()}${p(d.getMonth() + 1)}${p(d.getDate())}-${p(d.getHours())}${p(d.getMinutes())}${p(d.getSeconds())}`;
}
function picturePng() {
  const err = callText("web_save_picture", "/tmp/picture.png");
  if (err) { status(err, true); return null; }
  return M.FS.readFile("/tmp/picture.png");
}
function savePicture() {
  const png = picturePng();
  if (!png) return;
  const name = `tarvik2-${stamp()}.png`;
  download(new Blob([png], { type: "image/png" }), name);
  status(t("saved", name));
}
async function copyPicture() {
  const png = picturePng();
  if (!png) return;
  try {
    await navigator.clipboard.write([new ClipboardItem({ "image/png": new Blob([png], { type: "image/png" }) })]);
    status(t("copied"));
  } catch (e) { status(String(e && e.message || e), true); }
}
let recording = null;
function toggleRecording() {
  const now = () => performance.now();
  if (!recording) {
    const err = callText("web_record_start", "/tmp/recording.png", now());
    if (err) return status(err, true);
    recording = { start: now(), timer: setInterval(() => {
      M._web_record_frame(now());
      status(t("recording", ((now() - recording.start) / 1000).toFixed(0)), true);
    }, REDRAW_MS) };
    $("b-record").setAttribute("aria-pressed", "true");
  } else {
    clearInterval(recording.timer);
    recording = null;
    $("b-record").setAttribute("aria-pressed", "false");
    const err = callText("web_record_stop", now());
    if (err) return status(err, true);
    const name = `tarvik2-rec-${stamp()}.png`;
    download(new Blob([M.FS.readFile("/tmp/recording.png")], { type: "image/apng" }), name);
    status(t("saved", name));
  }
}

// ---- keys ----
let modDown = false;
function setMod(down) {
  modDown = down;
  $("k-mod").setAttribute("aria-pressed", down ? "true" : "false");
  if (virtualTime) api.steps(down ? "hold" : "release").catch(() => {});
  else M && M._web_set_mod(down ? 1 : 0);
}
function wake() { if (hooks.wake) hooks.wake(); }
// The key word of a key or keypad button (`source`), with the count of its
// repeats while held in bits 16-30 (0 on the first press).
function held(source, code, repeat) {
  if (repeat && source === heldKey) repeatCount = Math.min(repeatCount + 1, REPEAT_COUNT_MAX);
  else { heldKey = source; repeatCount = 0; }
  return (code | (repeatCount << REPEAT_SHIFT)) >>> 0;
}
const posted = [];               // the key words posted, for the browser tests
function press(code, shifted) {
  if (!running) return switchOn();
  wake();
  if (virtualTime) {
    const base = code & 0xFFFF & ~KEY.SHIFT;
    const step = (shifted && base !== KEY.MOD ? "shift+" : "") + M.UTF8ToString(M._web_key_name(base));
    api.steps(step).catch((e) => status(String(e.message || e), true));
  } else {
    M._web_key(code, shifted ? 1 : 0);
    if (posted.length < 1000) posted.push(code);
  }
}
function hotkey(e) {
  const k = e.key.toLowerCase();
  if (e.key === "F1") return toggleHelp(), true;
  if (e.key === "F12") return savePicture(), true;
  if (!e.ctrlKey || e.altKey) return false;
  const map = { r: toggleRecording, m: () => setMod(!modDown), s: savePicture, c: copyPicture,
    l: () => $("f-signal").click(), q: powerButton, o: () => $("f-plant").click(), p: nextPoint };
  if (!map[k]) return false;
  map[k]();
  return true;
}
document.addEventListener("keydown", (e) => {
  if (!$("help").hidden) { $("help").hidden = true; e.preventDefault(); return; }
  if (e.key === "Shift") { M && M._web_set_shift(1); return; }
  if (hotkey(e)) { e.preventDefault(); return; }
  if (e.ctrlKey || e.altKey || e.metaKey) return;
  if (e.target && e.target.tagName === "SELECT") return;
  const code = PC_KEYS[e.key];
  // A held key repeats with its count in bits 16-30, as on the keypad.
  const word = held(e.code, code || 0, e.repeat);
  if (code === undefined) {
    // As in the window: another key cancels a key not yet taken.
    if (M && running && !virtualTime) { M._web_key(KEY.NONE, 1); wake(); }
    return;
  }
  e.preventDefault();
  press(e.shiftKey ? (word | KEY.SHIFT) >>> 0 : word, e.shiftKey);
});
document.addEventListener("keyup", (e) => { if (e.key === "Shift" && M) M._web_set_shift(0); });
window.addEventListener("blur", () => {
  if (M) M._web_set_shift(0);
  for (const b of document.querySelectorAll("button[data-key]")) buttonUp(b);
});

// Buttons act on pointer down (mouse, pen and touch alike), as a keypad
// does, and repeat while held as PC keys do, until the pointer is lifted,
// cancelled or leaves the button.
let buttonTimer = 0;
function buttonDown(b, repeat) {
  if (!running) return switchOn();
  press(held("button-" + b.id, +b.dataset.key, repeat), false);
  buttonTimer = setTimeout(() => buttonDown(b, true), repeat ? BUTTON_REPEAT_EVERY_MS : BUTTON_REPEAT_DELAY_MS);
}
function buttonUp(b) {
  b.classList.remove("pressed");
  clearTimeout(buttonTimer);
  buttonTimer = 0;
}
for (const b of document.querySelectorAll("button[data-key]")) {
  b.addEventListener("pointerdown", (e) => {
    e.preventDefault();
    b.classList.add("pressed");
    clearTimeout(buttonTimer);
    buttonDown(b, false);
  });
  const up = () => buttonUp(b);
  b.addEventListener("pointerup", up);
  b.addEventListener("pointercancel", up);
  b.addEventListener("pointerleave", up);
  b.addEventListener("click", (e) => { if (e.detail === 0) press(+b.dataset.key, false); });
}
$("k-mod").addEventListener("pointerdown", (e) => { e.preventDefault(); if (!running) return switchOn(); setMod(!modDown); });
$("k-mod").addEventListener("click", (e) => { if (e.detail === 0) setMod(!modDown); });

// ---- power ----
let runPromise = null;
function switchOn() {
  if (running || !M) return;
  overlay("");
  running = true;
  runPromise = M.ccall("web_run", "number", [], [], { async: true }).then(() => {
    running = false;
    paint(true);
    storeFram();
    flush();
    overlay(t("off"), switchOn);
  });
}
async function switchOff() {
  if (!running) return;
  M._web_power_off();
  await runPromise;
  await flush();
  await storeFram();
}
function powerButton() {
  if (running) switchOff(); else switchOn();
}

// ---- help ----
function showHelp() {
  const row = (a, b) => `<tr><td><b>${a}</b></td><td>${b}</td></tr>`;
  $("help").innerHTML = `<h2>${t("help_title")}</h2><table>` +
    row(t("k_enter"), `Enter, ${t("code")} 3`) + row(t("k_esc"), `Esc, ${t("code")} 2`) +
    row(t("k_arrows"), t("i_arrows")) + row(t("k_shift"), t("i_shifted")) +
    `</table><p>${t("help_shift")}</p><h2>${t("help_window")}</h2><table>` +
    row("F1", t("h_f1")) + row("F12", t("h_f12")) + row("Ctrl+R", t("h_ctrl_r")) + row("Ctrl+M", t("h_ctrl_m")) +
    row("Ctrl+S", t("h_ctrl_s")) + row("Ctrl+C", t("h_ctrl_c")) + row("Ctrl+L", t("h_ctrl_l")) +
    row("Ctrl+Q", t("h_ctrl_q")) + row("Ctrl+O", t("h_ctrl_o")) + row("Ctrl+P", t("h_ctrl_p")) + `</table><p><i>${t("help_close")}</i></p>`;
  $("help").hidden = false;
}
function toggleHelp() { if ($("help").hidden) showHelp(); else $("help").hidden = true; }
$("help").addEventListener("pointerdown", () => { $("help").hidden = true; });

// ---- the page's other controls ----
$("b-power").addEventListener("click", powerButton);
$("b-save").addEventListener("click", savePicture);
$("b-copy").addEventListener("click", copyPicture);
$("b-record").addEventListener("click", toggleRecording);
$("b-help").addEventListener("click", toggleHelp);
$("b-signal").addEventListener("click", () => $("f-signal").click());
$("b-plant").addEventListener("click", () => $("f-plant").click());
$("f-plant").addEventListener("change", (e) => { const f = e.target.files[0]; e.target.value = ""; if (f) openPlantFile(f); });
$("plant").addEventListener("change", (e) => {
  if (e.target.value === CLOSE_PLANT) closePlant();
  else choosePoint(e.target.value);
});
$("f-signal").addEventListener("change", (e) => { const f = e.target.files[0]; e.target.value = ""; if (f) openSignalFile(f); });
$("demo").addEventListener("change", async (e) => {
  const name = e.target.value;
  e.target.value = "";
  if (!name) return;
  const bytes = new Uint8Array(await (await fetch("demo/" + name)).arrayBuffer());
  openSignal(name, bytes);
});
$("b-archive").addEventListener("click", (e) => {
  const m = $("menu");
  if (!m.hidden) { m.hidden = true; return; }
  m.hidden = false;
  const r = $("b-archive").getBoundingClientRect();
  const mr = m.getBoundingClientRect();
  m.style.left = Math.max(4, Math.min(r.left, innerWidth - mr.width - 4)) + "px";
  m.style.top = (r.bottom + mr.height < innerHeight ? r.bottom + 2 : Math.max(4, r.top - mr.height - 2)) + "px";
  e.stopPropagation();
});
document.addEventListener("click", (e) => { if (!$("menu").contains(e.target)) $("menu").hidden = true; });
$("m-download").addEventListener("click", () => { $("menu").hidden = true; downloadArchive(); });
$("m-open").addEventListener("click", () => { $("menu").hidden = true; $("f-archive").click(); });
$("m-synth").addEventListener("click", () => { $("menu").hidden = true; synthesis(); });
$("m-lang").addEventListener("click", () => {
  $("menu").hidden = true;
  lang = lang === "ru" ? "en" : "ru";
  localStorage.setItem("tarvik2-lang", lang);
  applyTexts();
});
$("f-archive").addEventListener("change", async (e) => {
  const files = [...e.target.files];
  e.target.value = "";
  openArchive(files);
});
// A file dropped onto the page: a plant file (.json) or a recording to
// measure.
document.addEventListener("dragover", (e) => { e.preventDefault(); $("app").classList.add("dragging"); });
document.addEventListener("dragleave", () => $("app").classList.remove("dragging"));
document.addEventListener("drop", (e) => {
  e.preventDefault();
  $("app").classList.remove("dragging");
  const f = e.dataTransfer && e.dataTransfer.files[0];
  if (f && /\.json$/i.test(f.name)) openPlantFile(f);
  else if (f) openSignalFile(f);
});
window.addEventListener("resize", layout);
document.addEventListener("visibilitychange", () => { if (document.hidden) { flush(); storeFram(); } });
window.addEventListener("pagehide", () => { flush(); storeFram(); });

// ---- the step API: the runner's step language in virtual time ----
let stepsChain = Promise.resolve();
const api = {
  ready: null,
  virtual: virtualTime,
  // Runs steps (as tarvik2-run --keys does) after those already given;
  // resolves when they are done, with the virtual milliseconds passed.
  steps(text) {
    const run = () => new Promise((resolve, reject) => {
      const err = callText("web_steps", String(text), "steps");
      if (err) return reject(new Error(err));
      const poll = () => {
        const s = M._web_steps_state();
        if (s === 0) return setTimeout(poll, STEPS_POLL_MS);
        paint(true);
        if (s === 2) reject(new Error("a step failed (see the console)"));
        else resolve(M._web_virtual_ms());
      };
      poll();
    });
    stepsChain = stepsChain.then(run, run);
    return stepsChain;
  },
  // The canvas as RGBA bytes.
  pixels() { return Array.from(ctx2d.getImageData(0, 0, LCD_W, LCD_H).data); },
  virtualMs() { return M ? M._web_virtual_ms() : 0; },
  openSignal(name, bytes) { return openSignal(name, new Uint8Array(bytes)); },
  synthesis() { synthesis(); },
  // The key words the page posted in real time since the last call.
  keysPosted() { return posted.splice(0); },
  // What gives the signal: the recording's name and the plant's line.
  source() { return { signal: currentSignal, plant: callText("web_plant_text"), point: callText("web_plant_point") }; },
  flush() { return flush().then(storeFram); },
  switchOff, switchOn() { switchOn(); },
  running() { return running; },
  flashBlob() { return flashBlob(); },
  framBytes() { return framBytes(); },
  openArchive(files) { return openArchive(files); },
};
window.tarvik2 = api;

// ---- start ----
async function start() {
  applyTexts();
  layout();
  overlay(t("loading"));
  const t0 = performance.now();
  const [module, database] = await Promise.all([createTarvik2({ tarvik2: hooks }), openDb()]);
  M = module;
  db = database;
  if (persist && !db) status(t("no_storage"), true);
  await restoreStored();
  if (params.has("temperature")) {
    const err = callText("web_check_temperature", params.get("temperature"));
    if (err) status(err.replace("--temperature", "temperature"), true);
    else temperature = parseFloat(params.get("temperature"));
  }
  if (virtualTime) {
    const seed = params.get("seed");
    const err = callText("web_set_virtual", params.get("clock") || "", seed ? Number(seed) >>> 0 : 0, seed ? 1 : 0);
    if (err) status(err, true);
  }
  // In real time the instrument's passes paint (hooks.paint); in virtual
  // time the page looks every 100 ms.
  if (virtualTime) setInterval(refresh, REDRAW_MS);
  // A route walk moves the probe: the plant line follows.
  setInterval(showPlant, REDRAW_MS);
  await restorePlant(params.get("plant"));
  showPlant();
  setInterval(storeFram, FRAM_CHECK_MS);
  loadDemoList();
  switchOn();
  api.loadMs = performance.now() - t0;
  if (params.get("steps")) await api.steps(params.get("steps")).catch((e) => status(String(e.message || e), true));
}
api.ready = start();
})();
