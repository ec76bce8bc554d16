// The time to simulate 10 s and 60 s of speech in the page (headless chromium) against the
// executable, at the default settings. Not part of the test suite:
//   node web/test/bench.mjs --cihear build/cihear --site build-web/site [--runs 3]
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { parseArgs } from "node:util";
import puppeteer from "puppeteer-core";
import { serve } from "./serve.mjs";
import { writeWav } from "./wavs.mjs";

const { values: args } = parseArgs({ options: { cihear: { type: "string" }, site: { type: "string" },
  chromium: { type: "string", default: "/usr/bin/chromium" }, runs: { type: "string", default: "3" } } });
const site = resolve(args.site);
const runs = Number(args.runs);
const work = mkdtempSync(join(tmpdir(), "cihear-bench-"));
const median = (v) => [...v].sort((a, b) => a - b)[Math.floor(v.length / 2)];

// The example repeated to the length asked for, at its own rate.
const example = readFileSync(join(site, "speech.wav"));
const rate = example.readUInt32LE(24);
const speech = new Int16Array(example.buffer.slice(example.byteOffset + 44, example.byteOffset + example.length));
function speechFile(seconds) {
  const x = new Int16Array(Math.round(seconds * rate));
  for (let i = 0; i < x.length; i++) x[i] = speech[i % speech.length];
  const path = join(work, `speech-${seconds}s.wav`);
  writeWav(path, rate, [x]);
  return path;
}

const { server, url } = await serve(site);
const browser = await puppeteer.launch({ executablePath: args.chromium, headless: false,
  userDataDir: join(work, "profile"), args: ["--headless", "--no-sandbox", "--disable-gpu",
    "--disable-quic", "--no-first-run", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--mute-audio"] });
const page = await browser.newPage();
await page.goto(url);
await page.waitForFunction(() => document.body.dataset.state === "ready");
await page.click("#auto");
for (const seconds of [10, 60]) {
  const path = speechFile(seconds);
  const worker = [], total = [], native = [];
  for (let r = 0; r < runs; r++) {
    await page.evaluate(() => { window.cihearPage.result = null; performance.clearMeasures(); });
    await page.$eval("#file", (e) => (e.value = ""));
    await (await page.$("#file")).uploadFile(path);
    await page.waitForFunction(() => window.cihearPage.result, { timeout: 300000 });
    const m = await page.evaluate(() => Object.fromEntries(performance.getEntriesByType("measure")
      .map((e) => [e.name.replace("cihear: ", ""), e.duration])));
    worker.push(await page.evaluate(() => window.cihearPage.result.milliseconds));
    total.push(m["show the sound"] + m["simulate"] + m["show the simulation"]);
    const began = process.hrtime.bigint();
    execFileSync(args.cihear, ["-i", path, "-o", join(work, "out.wav")], { stdio: "ignore" });
    native.push(Number(process.hrtime.bigint() - began) / 1e6);
  }
  console.log(`${seconds} s of speech, median of ${runs}: page ${median(worker).toFixed(0)} ms in ` +
    `the engine, ${median(total).toFixed(0)} ms from the file chosen to the pictures drawn; ` +
    `executable ${median(native).toFixed(0)} ms (whole process)`);
}
await browser.close();
server.close();
rmSync(work, { recursive: true, force: true });
