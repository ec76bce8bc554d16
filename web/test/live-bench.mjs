// The page's Live control over a long run: the worklet's processing time per 128-sample quantum
// as a share of the time a quantum lasts (6.4 ms at 20000 Hz), the dropouts, and the delay from
// the microphone to the output as the page measures and shows it. Chromium's fake microphone
// plays the example at half its level; firefox-esr (when given) its own fake tone.
//
//   node web/test/live-bench.mjs --site build-web/site --chromium /usr/bin/chromium \
//     [--firefox /usr/bin/firefox-esr] [--seconds 60]
import { execFileSync } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { parseArgs } from "node:util";
import puppeteer from "puppeteer-core";
import { liveInput } from "./live.mjs";
import { serve } from "./serve.mjs";

const { values: args } = parseArgs({
  options: { site: { type: "string" }, chromium: { type: "string" }, firefox: { type: "string" },
    seconds: { type: "string", default: "60" } },
});
const site = resolve(args.site);
const seconds = Number(args.seconds);
const work = mkdtempSync(join(tmpdir(), "cihear-live-bench-"));
const microphone = liveInput(join(site, "speech.wav"), join(work, "microphone.wav"));
const { server, url } = await serve(site);

function launch(browser) {
  if (browser === "firefox") {
    return puppeteer.launch({ browser: "firefox", executablePath: args.firefox, headless: true,
      extraPrefsFirefox: { "media.navigator.streams.fake": true, "media.navigator.permission.disabled": true,
        "media.cubeb.force_mock_context": true } });
  }
  return puppeteer.launch({ executablePath: args.chromium, headless: false, userDataDir: join(work, "profile"),
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--mute-audio",
      "--use-fake-ui-for-media-stream", "--use-fake-device-for-media-stream",
      `--use-file-for-fake-audio-capture=${microphone}`] });
}

async function run(browserName, label, values, conversion = "auto") {
  const browser = await launch(browserName);
  try {
    const page = await browser.newPage();
    await page.goto(url);
    await page.waitForFunction(() => document.body.dataset.state === "ready", { timeout: 60000 });
    await page.evaluate((values) => {
      for (const [name, v] of Object.entries(values)) {
        const input = document.getElementById(`p-${name}`);
        input.value = v;
        input.dispatchEvent(new Event("change"));
      }
    }, values);
    await page.evaluate((c) => (window.cihearPage.live.conversion = c), conversion);
    await page.click("#live");
    await page.waitForFunction(() => window.cihearPage.liveStatus, { timeout: 30000 });
    await new Promise((r) => setTimeout(r, seconds * 1000));
    const s = await page.evaluate(() => ({ ...window.cihearPage.liveStatus, columns: undefined, settings: undefined }));
    const input = s.reported.input === null ? "not reported" : `${s.reported.input.toFixed(1)} ms`;
    const drops = s.dropouts.counted ? `${s.dropouts.events} dropouts (${(1000 * s.dropouts.seconds).toFixed(1)} ms), as the browser counts them`
      : `audio clock ${(1000 * s.dropouts.seconds).toFixed(1)} ms behind the page's (no count from this browser)`;
    const where = s.convertedBy === "page" ? `${s.rate} Hz, converted by the page` : "20000 Hz, converted by the browser";
    console.log(`${browserName}, ${label}, ${where}, ${s.seconds.toFixed(0)} s: load ${(100 * s.load).toFixed(2)} % of the quantum ` +
      `(${s.quanta} quanta); ${drops}; delay ${s.total.toFixed(1)} ms = stream ${s.measured.toFixed(2)} ms measured + ` +
      `microphone ${input} + baseLatency ${s.reported.base.toFixed(1)} ms + outputLatency ${s.reported.output.toFixed(1)} ms; ` +
      `${s.clipped} samples clipped; a stream built in ${s.buildMilliseconds} ms`);
  } finally {
    await browser.close();
  }
}

const model = execFileSync("lscpu", { encoding: "utf8" }).match(/Model name:\s*(.*)/)[1];
console.log(`processor: ${model}, ${execFileSync("nproc", { encoding: "utf8" }).trim()} cores`);
await run("chromium", "defaults", {});
await run("chromium", "defaults", {}, "page");
await run("chromium", "22 channels, 8 stimulated", { n_chan_ci: 22, n_inserted_ch: 22, n_on: 8 });
if (args.firefox) await run("firefox", "defaults", {});
server.close();
rmSync(work, { recursive: true, force: true });
