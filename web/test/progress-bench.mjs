// How well the page's progress estimate foretells a simulation's time: the example, then
// speech of 10 s and 139 s (and again), each with the estimate shown when it began and the
// time it took. Not part of the test suite:
//   node web/test/progress-bench.mjs --site build-web/site [--chromium /usr/bin/chromium]
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { parseArgs } from "node:util";
import { openPage, speechMaker } from "./bench-page.mjs";

const { values: args } = parseArgs({ options: { site: { type: "string" },
  chromium: { type: "string", default: "/usr/bin/chromium" },
  order: { type: "string", default: "example,10,139,10,139" } } });
const site = resolve(args.site);
const work = mkdtempSync(join(tmpdir(), "cihear-progress-"));

const speechFile = speechMaker(site, work);
const { page, close } = await openPage(site, args.chromium, work);
for (const what of args.order.split(",")) {
  await page.evaluate(() => { window.cihearPage.result = null; window.cihearPage.expected = undefined; });
  const began = Date.now();
  if (what === "example") {
    await page.click("#example");
  } else {
    await page.$eval("#file", (e) => (e.value = ""));
    await (await page.$("#file")).uploadFile(speechFile(Number(what)));
  }
  await page.waitForFunction(() => window.cihearPage.result || document.body.dataset.state === "error", { timeout: 600000 });
  const error = await page.$eval("#error", (e) => (e.hidden ? "" : e.textContent));
  if (error) throw new Error(error);
  const { expected, milliseconds } = await page.evaluate(() =>
    ({ expected: window.cihearPage.expected, milliseconds: window.cihearPage.result.milliseconds }));
  const ratio = expected ? (expected / milliseconds).toFixed(2) : "-";
  console.log(`${what === "example" ? "example (7.45 s)" : `${what} s of speech`}: estimated ` +
    `${expected ? (expected / 1000).toFixed(1) : "nothing"} s, took ${(milliseconds / 1000).toFixed(1)} s ` +
    `in the engine, ${((Date.now() - began) / 1000).toFixed(1)} s in all (estimate / time ${ratio})`);
}
await close();
rmSync(work, { recursive: true, force: true });
