// The page's labels and pictures as a first-time visitor meets them, and the spectrogram's
// arithmetic on its own (in node). Called by page.test.mjs with its group runner and page.
import assert from "node:assert/strict";
import { maxFrequency, spectrogram } from "../site/spectrogram.js";

// A sine of `amplitude` at `hz`, `seconds` long at `rate` Hz.
function sine(rate, seconds, hz, amplitude) {
  return Float64Array.from({ length: Math.round(rate * seconds) }, (_, i) => amplitude * Math.sin((2 * Math.PI * hz * i) / rate));
}

// The row of the loudest level in column c, and that level.
function loudest(db, rows, c) {
  let row = 0;
  for (let r = 1; r < rows; r++) if (db[c * rows + r] > db[c * rows + row]) row = r;
  return { row, level: db[c * rows + row] };
}

export function spectrogramGroups(group) {
  return group("the spectrogram: a tone in its row at its level, its cost bounded at any sample rate", async () => {
    const rows = 200, columns = 50;
    for (const rate of [8000, 22050, 44100, 10000000]) {
      const x = sine(rate, 0.2, 3000, 0.5);
      const { db, window, transform } = spectrogram({ samples: x, rate, start: 0, end: 0.2, columns, rows });
      const { row, level } = loudest(db, rows, columns / 2);
      const hz = ((row + 0.5) / rows) * maxFrequency;
      assert.ok(Math.abs(hz - 3000) <= 100, `${rate} Hz: the 3 kHz tone peaks at ${hz} Hz`);
      // Amplitude 0.5 is 6 dB below full scale; the Hann window loses at most 1.5 dB between bins.
      assert.ok(level > -7.6 && level < -5.5, `${rate} Hz: the tone reads ${level} dB`);
      assert.ok(transform <= 4096 && Math.abs(window - 0.0125) < 0.001, `${rate} Hz: window ${window} s, ${transform} points`);
    }
    // A 50 ms view gets short windows; a header claiming 4 GHz costs no more than any other.
    const short = spectrogram({ samples: sine(44100, 1, 1000, 1), rate: 44100, start: 0.5, end: 0.55, columns, rows });
    assert.ok(short.window < 0.004, `a 50 ms view: window ${short.window} s`);
    const began = performance.now();
    const huge = spectrogram({ samples: sine(44100, 1, 1000, 1), rate: 4e9, start: 0, end: 44100 / 4e9, columns: 1200, rows: 200 });
    assert.ok(performance.now() - began < 2000 && huge.transform <= 4096, `4 GHz: ${performance.now() - began} ms`);
  });
}

export async function pageGroups(group, page) {
  await group("labels: plain words with the option's name beside them, in three groups", async () => {
    const fields = await page.$$eval("#params .field", (list) => list.map((f) => ({
      label: f.querySelector(".label")?.textContent ?? "",
      name: f.querySelector(".name")?.textContent ?? "",
      group: f.closest("fieldset")?.querySelector("legend")?.textContent ?? "",
      folded: Boolean(f.closest("details")),
    })));
    const table = await page.evaluate(() => [...document.querySelectorAll("#params input, #params select")]
      .map((e) => e.id.replace(/^p-/, "")).filter((id) => id && id !== "seed"));
    assert.equal(fields.filter((f) => f.name !== "(seed)").length, 13);
    for (const f of fields) {
      assert.match(f.name, /^\([a-z_]+\)$/, `the option's name of ${f.label}`);
      assert.ok(f.label && !/_/.test(f.label), `the label of ${f.name} is "${f.label}"`);
      assert.ok(table.includes(f.name.slice(1, -1)) || f.name === "(seed)", `${f.name} has a control`);
    }
    const inserted = fields.find((f) => f.name === "(n_inserted_ch)");
    assert.equal(`${inserted.label} ${inserted.name}`, "Electrodes inserted (n_inserted_ch)");
    assert.deepEqual([...new Set(fields.map((f) => f.group))], ["Implant", "Coding strategy", "Sound processed"]);
    assert.ok(fields.some((f) => f.folded) && fields.some((f) => !f.folded), "some controls folded, not all");
    const intro = await page.$eval("header", (e) => e.textContent);
    assert.doesNotMatch(intro, /README/);
    assert.match(intro, /cihear/);
    // What cutoff_freq does to f_max, with eas off too.
    assert.match(await page.$eval("#p-f_max-hint", (e) => e.textContent), /raised to cutoff_freq when below it, whether eas is on or off/);
  });

  await group("the example shows the selection; titles, scales, and windows that follow the zoom", async () => {
    await page.evaluate(() => [...document.querySelectorAll("#presets button")].find((b) => b.textContent === "Defaults").click());
    await page.evaluate(() => (window.cihearPage.result = null));
    await page.click("#example");
    await page.waitForFunction(() => window.cihearPage.result && document.getElementById("spectrogram-out").dataset.drawn === "yes",
      { timeout: 60000 });
    assert.equal(await page.$eval("#electrodogram-title", (e) => e.textContent),
      "Electrodogram: 12 electrodes, 8 stimulated per cycle, 1800 pulses/s each");
    const unselected = await page.evaluate(() => window.cihearPage.result.selected.filter((v) => v === 0).length);
    const total = await page.evaluate(() => window.cihearPage.result.selected.length);
    assert.ok(unselected >= total / 3 - 1, `${unselected} of ${total} unselected: 8 of 12 leaves a third`);
    const whole = await page.$eval("#spectrogram-in", (e) => Number(e.dataset.window));
    await page.evaluate(() => window.cihearPage.pictures.show(1, 1.05));
    await page.waitForFunction(() => document.getElementById("spectrogram-in").dataset.drawn === "yes");
    const zoomed = await page.$eval("#spectrogram-in", (e) => Number(e.dataset.window));
    assert.ok(whole >= 0.019 && zoomed < 0.004, `windows: ${whole} s for the whole sound, ${zoomed} s for 50 ms`);
    assert.match(await page.$eval("#view", (e) => e.textContent), /Showing 1\.000 to 1\.050 s/);
    await page.click("#zoom-all");
    await page.waitForFunction(() => document.getElementById("spectrogram-in").dataset.drawn === "yes");
    // The colour bar's labels and the electrodogram's axis are drawn beside the plots.
    const text = await page.evaluate(() => {
      const drawn = [];
      const original = CanvasRenderingContext2D.prototype.fillText;
      CanvasRenderingContext2D.prototype.fillText = function (t, ...rest) {
        drawn.push(t);
        return original.call(this, t, ...rest);
      };
      return window.cihearPage.pictures.draw().then(() => {
        CanvasRenderingContext2D.prototype.fillText = original;
        return drawn;
      });
    });
    assert.ok(text.filter((t) => / dB$/.test(t)).length >= 8, `colour bar labels: ${text.filter((t) => /dB/.test(t))}`);
    assert.ok(text.includes("channel 1 = most apical (lowest band)") && text.includes("100 %"), "the electrodogram's axis and scale");
  });
}
