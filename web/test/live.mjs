// The page's Live control: chromium's fake microphone plays a file made from the example; the
// worklet's record of what it fed the stream and what came out is checked against the stream
// offline (the library's Options::live) in the page, bit for bit, and natively; the live
// electrodogram against the offline selection; a rebuild and the original/simulation switch
// against the samples; the delay the page measures against the offline impulse response; and
// Live in firefox-esr. Called by page.test.mjs with its group runner.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { existsSync, readFileSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import puppeteer from "puppeteer-core";
import { Converter, converterPair } from "../site/resample.js";
import { writeWav } from "./wavs.mjs";

const rate = 20000;

// The fake microphone's file: the example at half its level (mono 16-bit, its own rate).
export function liveInput(example, path) {
  const b = readFileSync(example);
  let at = 12, samples = null, fileRate = 0;
  while (at + 8 <= b.length) {
    const id = b.toString("latin1", at, at + 4), size = b.readUInt32LE(at + 4);
    if (id === "fmt ") fileRate = b.readUInt32LE(at + 12);
    if (id === "data") samples = new Int16Array(b.buffer.slice(b.byteOffset + at + 8, b.byteOffset + at + 8 + size));
    at += 8 + size + (size & 1);
  }
  writeWav(path, fileRate, [samples.map((v) => v >> 1)]);
  return path;
}

function doubles(base64) {
  return new Float64Array(Buffer.from(base64, "base64").buffer.slice(0));
}

// Starts Live with the page's settings, recording `seconds`; `during(page)` runs while it
// records. Resolves to the recording and the last status.
async function liveRun(page, seconds, during = async () => {}, conversion = "auto") {
  await page.evaluate((s, conversion) => {
    window.cihearPage.live.recordSeconds = s;
    window.cihearPage.live.conversion = conversion;
    window.cihearPage.liveStatus = null;
  }, seconds, conversion);
  await page.click("#live");
  await page.waitForFunction(() => window.cihearPage.liveStatus || !document.getElementById("error").hidden, { timeout: 30000 });
  assert.equal(await page.$eval("#error", (e) => (e.hidden ? "" : e.textContent)), "");
  await during(page);
  const full = Math.floor((seconds * rate) / 128) * 128;
  await page.waitForFunction((n) => window.cihearPage.liveStatus.recorded >= n &&
    window.cihearPage.liveStatus.measured !== null, { timeout: 30000 }, full);
  const result = await page.evaluate(async () => {
    const base64 = (a) => {
      const bytes = new Uint8Array(a.buffer, a.byteOffset, a.byteLength);
      let text = "";
      for (let i = 0; i < bytes.length; i += 32768) text += String.fromCharCode(...bytes.subarray(i, i + 32768));
      return btoa(text);
    };
    const live = window.cihearPage.live;
    const r = await live.recording();
    const status = { ...window.cihearPage.liveStatus, columns: undefined };
    const columns = live.kept.map((c) => Array.from(c));
    return { fed: base64(r.fed), out: base64(r.out), heard: base64(r.heard), rebuiltAt: r.rebuiltAt, status, columns,
      pairs: live.pairs, text: document.getElementById("live-status").textContent };
  });
  await page.click("#live"); // stop
  return { ...result, fed: doubles(result.fed), out: doubles(result.out), heard: doubles(result.heard) };
}

// In the page's module: the stream offline over `fed`, the offline selection (electrodogram
// per frame) and the impulse response's onset (-20 dB of its peak), for the settings `pairs`.
async function offline(page, fed, pairs) {
  return page.evaluate(async (fedBase64, pairs) => {
    const bytes = Uint8Array.from(atob(fedBase64), (c) => c.charCodeAt(0));
    const fed = new Float64Array(bytes.buffer);
    const engine = await (await import("./cihear.js")).default();
    const run = (x, f) => {
      const at = engine._malloc(x.length * 8);
      engine.HEAPF64.set(x, at / 8);
      try {
        return f(at);
      } finally {
        engine._free(at);
      }
    };
    const live = run(fed, (at) => engine.simulateLive(at, fed.length, pairs, null));
    const inspected = run(fed, (at) => engine.simulate(at, fed.length, 20000, pairs, null));
    const impulse = new Float64Array(4096);
    impulse[128] = 0.5;
    const response = run(impulse, (at) => engine.simulateLive(at, impulse.length, pairs, null)).output;
    let peak = 0, onset = 0;
    for (const v of response) peak = Math.max(peak, Math.abs(v));
    while (Math.abs(response[onset]) < 0.1 * peak) onset++;
    return { output: Array.from(live.output), electrodogram: Array.from(inspected.electrodogram),
      frameStarts: Array.from(inspected.frameStarts), channels: inspected.channels, frames: inspected.frames,
      delay: onset - 128 };
  }, Buffer.from(fed.buffer).toString("base64"), pairs);
}

function differing(a, b, n) {
  let count = 0, worst = 0;
  for (let i = 0; i < n; i++) {
    if (!Object.is(a[i], b[i])) count++;
    worst = Math.max(worst, Math.abs(a[i] - b[i]));
  }
  return { count, worst };
}

// The columns the worklet showed, one per 128-sample quantum: each channel's largest level
// among the frames starting in it, held when none does; compared while every frame of the
// quantum is one the offline simulation ran. How many were compared.
function checkColumns(columns, o) {
  const held = new Float64Array(o.channels);
  let frame = 0, compared = 0;
  for (let q = 0; q < columns.length; q++) {
    const end = (q + 1) * 128;
    if (o.frames === 0 || o.frameStarts[o.frames - 1] < end) break;
    const level = new Float64Array(o.channels).fill(-1);
    while (frame < o.frames && o.frameStarts[frame] < end) {
      for (let ch = 0; ch < o.channels; ch++) level[ch] = Math.max(level[ch], o.electrodogram[ch * o.frames + frame]);
      frame++;
    }
    for (let ch = 0; ch < o.channels; ch++) if (level[ch] >= 0) held[ch] = level[ch];
    for (let ch = 0; ch < o.channels; ch++) {
      assert.equal(columns[q][ch], Math.fround(held[ch]), `column ${q}, channel ${ch + 1}`);
    }
    compared++;
  }
  return compared;
}

function native(work, doublesExe, fed, values) {
  const input = join(work, "live-fed.f64"), output = join(work, "live-native.f64");
  writeFileSync(input, Buffer.from(fed.buffer));
  execFileSync(doublesExe, ["--live", input, output, ...Object.entries(values).flat().map(String)]);
  const b = readFileSync(output);
  return new Float64Array(b.buffer, b.byteOffset, b.length / 8);
}

function compareRun(what, run, o, work, doublesExe, values, upto) {
  const n = upto ?? run.out.length;
  const inPage = differing(run.out, o.output, n);
  assert.equal(inPage.count, 0, `${what}: ${inPage.count} of ${n} samples differ from the stream offline in the page`);
  const theirs = native(work, doublesExe, run.fed, values);
  const natively = differing(run.out, theirs, n);
  console.log(`     ${what}: ${n} samples equal the page's offline stream; natively ${natively.count} differ, ` +
    `largest by ${natively.worst.toExponential(2)}`);
  assert.ok(natively.worst < 1e-12, `${what}: the native stream differs by ${natively.worst}`);
}

export async function liveGroups(group, page, { work, doubles: doublesExe, setParams, firefox, url }) {
  await group("Live: the worklet's stream equals the stream offline; its electrodogram the selection", async () => {
    await setParams(page, {});
    const run = await liveRun(page, 3);
    assert.ok(run.fed.some((v) => v !== 0), "the fake microphone gave only silence");
    assert.ok(run.out.some((v) => v !== 0), "the stream gave only silence");
    const o = await offline(page, run.fed, run.pairs);
    compareRun("defaults", run, o, work, doublesExe, {});
    const compared = checkColumns(run.columns, o);
    assert.ok(compared > 400, `${compared} electrodogram columns compared`);
    // The delay the page shows is the stream's impulse response, as offline.
    assert.equal(run.status.measured, (o.delay / rate) * 1000);
    const s = run.status;
    console.log(`     delay: ${s.measured.toFixed(1)} ms measured + reported microphone ${s.reported.input} ms, ` +
      `base ${s.reported.base.toFixed(1)} ms, output ${s.reported.output.toFixed(1)} ms = ${s.total.toFixed(1)} ms; ` +
      `load ${(100 * s.load).toFixed(1)} %; dropouts ${JSON.stringify(s.dropouts)}; a stream built in ${s.buildMilliseconds} ms`);
    assert.match(run.text, /Delay from the microphone to your ears about \d+\.\d ms/);
    // A loose bound on a shared machine: web/test/live-bench.mjs measures over 60 s.
    assert.ok(s.dropouts.seconds < 0.1 * s.seconds, `${s.dropouts.seconds} s of dropouts in ${s.seconds} s`);
  });

  await group("Live: a change of settings fades to a new stream; the original/simulation switch", async () => {
    const values = { n_chan_ci: 16, n_inserted_ch: 16, n_on: 6, eas: 1, cutoff_freq: 800 };
    await setParams(page, values);
    const run = await liveRun(page, 3, async () => {
      await new Promise((r) => setTimeout(r, 1000));
      await page.select("#p-envelope_detection", "1");
      await new Promise((r) => setTimeout(r, 1000));
      await page.click('input[name="live-which"][value="original"]');
    });
    assert.notEqual(run.rebuiltAt, null, "no rebuild");
    // The recorded stream is the first one until the rebuild.
    const first = await offline(page, run.fed, Object.entries(values));
    compareRun("16 of 6, eas", run, first, work, doublesExe, values, run.rebuiltAt);
    // The old stream is heard alone until the new one's output has begun.
    const r = run.rebuiltAt;
    for (let j = r; j < r + 251; j++) assert.equal(run.heard[j], Math.fround(run.out[j]), `sample ${j} after the rebuild`);
    // At the end, the original: the microphone's samples themselves.
    const end = run.fed.length;
    for (let j = end - 4000; j < end; j++) assert.equal(run.heard[j], Math.fround(run.fed[j]), `sample ${j}, original`);
    await page.$eval('input[name="live-which"][value="simulation"]', (e) => (e.checked = true));
  });

  await group("Live with the page's own rate conversion: the stream's samples as offline; the delay", async () => {
    await setParams(page, { n_chan_ci: 22, n_inserted_ch: 22, n_on: 8 });
    const run = await liveRun(page, 2, async () => {}, "page");
    const s = run.status;
    assert.equal(s.convertedBy, "page");
    assert.notEqual(s.rate, rate);
    assert.equal(s.starved, 0, "the converter to the output's rate ran dry");
    const o = await offline(page, run.fed, run.pairs);
    compareRun("22 of 8, converted by the page", run, o, work, doublesExe, { n_chan_ci: 22, n_inserted_ch: 22, n_on: 8 });
    // The chain's delay: the stream's own, plus the two conversions (2.7 ms at 44100 Hz), plus a
    // few ms: the stream's response to the band-limited impulse begins a little later.
    const stream = (o.delay / rate) * 1000;
    assert.ok(s.measured > stream + 1.5 && s.measured < stream + 8, `measured ${s.measured} ms, the stream alone ${stream} ms`);
    console.log(`     at ${s.rate} Hz: delay ${s.total.toFixed(1)} ms (chain ${s.measured.toFixed(1)} ms measured, the stream ` +
      `alone ${stream.toFixed(1)} ms; reported microphone ${s.reported.input} ms, base ${s.reported.base.toFixed(1)} ms, ` +
      `output ${s.reported.output.toFixed(1)} ms); load ${(100 * s.load).toFixed(1)} %`);
  });

  // Firefox with its fake microphone; with its test audio back end (which plays in real time)
  // or without (no sound device here: its context never starts).
  const fox = async (device, body) => {
    const browser = await puppeteer.launch({
      browser: "firefox", executablePath: firefox, headless: true,
      extraPrefsFirefox: { "media.navigator.streams.fake": true, "media.navigator.permission.disabled": true,
        "media.cubeb.force_mock_context": device },
    });
    try {
      const page = await browser.newPage();
      await page.goto(url);
      await page.waitForFunction(() => ["ready", "error"].includes(document.body.dataset.state), { timeout: 60000 });
      await body(page);
    } finally {
      await browser.close();
    }
  };
  await group("Live in firefox-esr: it starts and gives the stream's output; without a sound device it says so", async () => {
    if (!firefox || !existsSync(firefox)) {
      console.log("     skipped: firefox-esr is not installed");
      return;
    }
    await fox(false, async (page) => {
      await page.click("#live");
      await page.waitForFunction(() => !document.getElementById("error").hidden, { timeout: 20000 });
      assert.match(await page.$eval("#error", (e) => e.textContent), /sound output did not start within 10 s, so Live cannot run/);
      assert.equal(await page.$eval("#live", (e) => e.textContent), "Live: from the microphone to your headphones");
    });
    await fox(true, async (page) => {
      const run = await liveRun(page, 1.5);
      assert.ok(run.fed.some((v) => v !== 0), "the fake microphone gave only silence");
      assert.ok(run.out.some((v) => v !== 0), "the stream gave only silence");
      const o = await offline(page, run.fed, run.pairs);
      const d = differing(run.out, o.output, run.out.length);
      assert.equal(d.count, 0, `${d.count} samples differ from the stream offline`);
      console.log(`     firefox: ${run.out.length} samples equal the stream offline; ${run.text}`);
    });
  });
}

// x through c a quantum of `q` at a time, into at most `room` outputs.
function convert(c, x, room, q = 128) {
  const y = new Float64Array(room);
  let got = 0;
  for (let i = 0; i < x.length; i += q) got += c.process(x, i, Math.min(q, x.length - i), y, got, room - got);
  return y.subarray(0, got);
}

function tone(rate, seconds, hz) {
  return Float64Array.from({ length: Math.round(rate * seconds) }, (_, i) => 0.5 * Math.sin((2 * Math.PI * hz * i) / rate));
}

// The page's rate converter in node: flat and exact in the band, aliases and images away, and
// the worklet's chain (down, up primed) never running dry, its delay the priming's.
export async function converterGroups(group) {
  await group("Live's rate converter: the band passes, aliases and images stay out, the chain keeps time", async () => {
    for (const device of [44100, 48000]) {
      for (const hz of [1000, 8500, 9000, 11000, 15000]) {
        const c = new Converter(device, rate);
        const y = convert(c, tone(device, 0.5, hz), rate);
        // Output m, at m a / b input samples, once the input reaches halfWidth beyond it.
        assert.equal(y.length, Math.ceil(((device / 2 - c.halfWidth) * c.b) / c.a), `${device} Hz: outputs`);
        let worst = 0, power = 0;
        for (let m = 500; m < y.length; m++) {
          worst = Math.max(worst, Math.abs(y[m] - 0.5 * Math.sin((2 * Math.PI * hz * m) / rate)));
          power += y[m] * y[m];
        }
        const db = 10 * Math.log10(power / (y.length - 500) / 0.125);
        if (hz <= 9000) assert.ok(worst < 1e-4, `${device} to 20000 Hz: a ${hz} Hz tone off by ${worst}`);
        else assert.ok(db < -75, `${device} to 20000 Hz: a ${hz} Hz tone folds back at ${db} dB`);
      }
      for (const hz of [1000, 9000]) {
        const y = convert(new Converter(rate, device), tone(rate, 0.5, hz), device);
        let worst = 0;
        for (let m = 1000; m < y.length; m++) worst = Math.max(worst, Math.abs(y[m] - 0.5 * Math.sin((2 * Math.PI * hz * m) / device)));
        assert.ok(worst < 2e-4, `20000 to ${device} Hz: a ${hz} Hz tone (with its images) off by ${worst}`);
      }
      // The chain as the worklet runs it: 10 s of quanta, an impulse at frame 128.
      const { down, up, prime } = converterPair(device, rate);
      const mid = new Float64Array(1024), x = new Float64Array(128), out = new Float64Array(128);
      let peak = 0, at = -1;
      for (let q = 0; q < (10 * device) / 128; q++) {
        x.fill(0);
        if (q === 1) x[0] = 1;
        const n = down.process(x, 0, 128, mid, 0, 1024);
        assert.equal(up.process(mid, 0, n, out, 0, 128), 128, `${device} Hz: quantum ${q} ran dry`);
        for (let j = 0; j < 128; j++) if (Math.abs(out[j]) > peak) [peak, at] = [Math.abs(out[j]), q * 128 + j - 128];
      }
      assert.ok(Math.abs(at / device - prime / rate) <= 1 / device, `${device} Hz: the chain's peak after ${at} frames`);
    }
  });
}

