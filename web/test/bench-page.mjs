// What the page's benchmarks share: speech files of any length made from the example, and the
// page opened in headless chromium with the simulation set to run as soon as a sound is chosen.
import { readFileSync } from "node:fs";
import { join } from "node:path";
import puppeteer from "puppeteer-core";
import { serve } from "./serve.mjs";
import { writeWav } from "./wavs.mjs";

// A function making WAV files in `work` of the site's example repeated to `seconds`, at its rate.
export function speechMaker(site, work) {
  const example = readFileSync(join(site, "speech.wav"));
  const rate = example.readUInt32LE(24);
  const speech = new Int16Array(
    example.buffer.slice(example.byteOffset + 44, example.byteOffset + example.length));
  return (seconds) => {
    const x = new Int16Array(Math.round(seconds * rate));
    for (let i = 0; i < x.length; i++) x[i] = speech[i % speech.length];
    const path = join(work, `speech-${seconds}s.wav`);
    writeWav(path, rate, [x]);
    return path;
  };
}

// The page served from `site`, ready, with "simulate again after every change" on.
export async function openPage(site, chromium, work) {
  const { server, url } = await serve(site);
  const browser = await puppeteer.launch({ executablePath: chromium, headless: false,
    userDataDir: join(work, "profile"), args: ["--headless", "--no-sandbox", "--disable-gpu",
      "--disable-quic", "--no-first-run", "--disable-background-networking",
      "--disable-component-update", "--disable-sync", "--mute-audio"] });
  const page = await browser.newPage();
  await page.goto(url);
  await page.waitForFunction(() => document.body.dataset.state === "ready");
  await page.click("#auto");
  const close = async () => { await browser.close(); server.close(); };
  return { page, close };
}
