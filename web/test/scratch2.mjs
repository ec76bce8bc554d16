import puppeteer from "puppeteer-core";
import { readFileSync } from "node:fs";
import { serve } from "./serve.mjs";
import { writeWav } from "./wavs.mjs";
const site = process.argv[2];
const mb = Number(process.argv[3]);
const example = readFileSync(`${site}/speech.wav`);
const speech = new Int16Array(example.buffer.slice(example.byteOffset + 44, example.byteOffset + example.length));
const n = Math.floor((mb * 1024 * 1024 - 44) / 2) - 1000;
const x = new Int16Array(n);
for (let i = 0; i < n; i++) x[i] = speech[i % speech.length];
writeWav("/tmp/scratch/limit.wav", 22050, [x]);
console.log("samples", n, "seconds", n / 22050);
const { server, url } = await serve(site);
const browser = await puppeteer.launch({ executablePath: "/usr/bin/chromium", headless: false, protocolTimeout: 1200000,
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--mute-audio"] });
const page = await browser.newPage();
page.on("console", (m) => console.log("console", m.type(), m.text()));
page.on("pageerror", (e) => console.log("pageerror", e.message));
await page.goto(url);
await page.waitForFunction(() => document.body.dataset.state === "ready");
const began = Date.now();
await (await page.$("#file")).uploadFile("/tmp/scratch/limit.wav");
let worst = 0, last = 0;
for (;;) {
  const asked = Date.now();
  const s = await page.evaluate(() => ({ state: document.body.dataset.state, error: document.getElementById("error").textContent,
    progress: document.getElementById("progress-text").textContent, ms: window.cihearPage.result?.milliseconds, expected: window.cihearPage.expected,
    drawn: ["spectrogram-in", "spectrogram-out"].map((id) => document.getElementById(id).dataset.drawn).join(","),
    heap: performance.memory ? Math.round(performance.memory.usedJSHeapSize / 1e6) : null }));
  worst = Math.max(worst, Date.now() - asked);
  if (Date.now() - last > 10000 || s.state === "error" || (s.ms && s.drawn === "yes,yes")) {
    last = Date.now();
    console.log(`${((Date.now() - began) / 1000).toFixed(1)} s (longest wait so far ${worst} ms)`, JSON.stringify(s));
  }
  if (s.state === "error" || (s.ms && s.drawn === "yes,yes")) break;
  await new Promise((r) => setTimeout(r, 100));
}
console.log("dbg measures", await page.evaluate(() => performance.getEntriesByType("measure").map((m) => `${m.name} ${m.duration.toFixed(0)}`).join("; ")));
await browser.close(); server.close();
