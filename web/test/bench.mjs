// The time to simulate 10 s and 60 s of speech in the page (headless chromium) against the
// executable, at the default settings. Not part of the test suite:
//   node web/test/bench.mjs --cihear build/cihear --site build-web/site [--runs 3]
import { execFileSync } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { parseArgs } from "node:util";
import { openPage, speechMaker } from "./bench-page.mjs";

const { values: args } = parseArgs({ options: { cihear: { type: "string" }, site: { type: "string" },
  chromium: { type: "string", default: "/usr/bin/chromium" }, runs: { type: "string", default: "3" } } });
const site = resolve(args.site);
const runs = Number(args.runs);
const work = mkdtempSync(join(tmpdir(), "cihear-bench-"));
const median = (v) => [...v].sort((a, b) => a - b)[Math.floor(v.length / 2)];

const speechFile = speechMaker(site, work);
const { page, close } = await openPage(site, args.chromium, work);
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
await close();
rmSync(work, { recursive: true, force: true });
