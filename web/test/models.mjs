// The implant models on the page: a value the library refuses shows the executable's own
// message once, beside its control; a click on an electrode's number beside the electrodogram
// switches it off (an empty row labelled "off") and on again; the report's command line gives
// the page's file. Called by page.test.mjs with its group runner and helpers.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { readFileSync } from "node:fs";
import { join } from "node:path";

// The executable's one line for a refused value, without its "error: ", and its status.
function refusal(cihear, input, values, work) {
  const options = Object.entries(values).flatMap(([k, v]) => [`--${k}`, String(v)]);
  try {
    execFileSync(cihear, ["-i", input, "-o", join(work, "refused.wav"), ...options], { stdio: "pipe" });
  } catch (error) {
    return { status: error.status, lines: error.stderr.toString().trim().split("\n").map((l) => l.replace(/^error: /, "")) };
  }
  return { status: 0, lines: [] };
}

// Where the middle of electrode e's row lies on the electrodogram, in CSS pixels from the top of
// its border box (the picture is drawn in canvas.height / devicePixelRatio pixels and shown in
// the canvas's content box).
async function rowMiddle(page, electrode) {
  return page.evaluate(async (e) => {
    const { margin } = await import("./figures.js");
    const canvas = document.getElementById("electrodogram");
    const drawn = canvas.height / (window.devicePixelRatio || 1);
    const plot = drawn - margin.top - margin.bottom;
    const spacing = plot / window.cihearPage.pictures.result.electrodeCount;
    return canvas.clientTop + (margin.top + plot - (e - 0.5) * spacing) * (canvas.clientHeight / drawn);
  }, electrode);
}

// Clicks electrode e's number, left of the electrodogram's plot.
async function clickElectrode(page, electrode) {
  const y = await rowMiddle(page, electrode);
  await (await page.$("#electrodogram")).click({ offset: { x: 40, y } });
}

// The dark pixels inside the plot in each electrode's row (index 0: electrode 1).
async function darkPerRow(page) {
  return page.evaluate(async () => {
    const { margin } = await import("./figures.js");
    const canvas = document.getElementById("electrodogram");
    const n = window.cihearPage.pictures.result.electrodeCount;
    const ratio = window.devicePixelRatio || 1;
    const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
    const top = margin.top * ratio, bottom = canvas.height - margin.bottom * ratio, spacing = (bottom - top) / n;
    const left = Math.ceil(margin.left * ratio) + 1, right = canvas.width - Math.ceil(margin.right * ratio);
    return Array.from({ length: n }, (_, row) => {
      let dark = 0;
      for (let y = Math.ceil(bottom - (row + 1) * spacing) + 1; y < bottom - row * spacing - 1; y++) {
        for (let x = left; x < right; x++) if (data[4 * (y * canvas.width + x)] < 128) dark++;
      }
      return dark;
    });
  });
}

// The texts the electrodogram writes when drawn again.
async function electrodogramTexts(page) {
  return page.evaluate(() => {
    const drawn = [];
    const original = CanvasRenderingContext2D.prototype.fillText;
    CanvasRenderingContext2D.prototype.fillText = function (t, ...rest) {
      if (this.canvas.id === "electrodogram") drawn.push(t);
      return original.call(this, t, ...rest);
    };
    return window.cihearPage.pictures.draw().then(() => {
      CanvasRenderingContext2D.prototype.fillText = original;
      return drawn;
    });
  });
}

export async function modelGroups(group, page, { work, cihear, example, setParams, simulation, message }) {
  await group("a model value the library refuses: the executable's message, once, beside its control", async () => {
    const cases = [
      [{ band_edges: "300,200,4000" }, "band_edges"],
      [{ band_edges: "300,abc" }, "band_edges"],
      [{ off: "13" }, "off"],
      [{ off: "1,2,3,4,5,6,7,8,9,10,11,12" }, "off"],
      [{ off: "2.5" }, "off"],
      [{ map: "nucleus22", band_edges: "300,600,1200" }, "map"],
    ];
    for (const [values, control] of cases) {
      const exe = refusal(cihear, example, values, work);
      assert.equal(exe.status, 255, `${JSON.stringify(values)}: the executable's status`);
      assert.equal(exe.lines.length, 1, `${JSON.stringify(values)}: ${exe.lines}`);
      await setParams(page, values);
      const shown = await page.$$eval(".message", (list) => list.filter((e) => e.textContent).map((e) => [e.id, e.textContent]));
      assert.deepEqual(shown, [[`p-${control}-message`, `Refused: ${exe.lines[0]}`]], JSON.stringify(values));
      assert.equal(await page.$eval(`#p-${control}`, (e) => e.getAttribute("aria-invalid")), "true");
    }
    // No simulation with a refused value: the page says where to look and goes there.
    await page.click("#run");
    assert.match(await page.$eval("#error", (e) => (e.hidden ? "" : e.textContent)), /Some settings are refused/);
    assert.equal(await page.evaluate(() => document.activeElement.id), "p-map");
    // A map's edges are shown in the empty edges box; what the map sets, beside what it sets.
    // A layout the map overrides is a note, not an adjustment.
    await setParams(page, { map: "ab16", bands: "erb" });
    assert.match(await page.$eval("#p-band_edges", (e) => e.placeholder), /^the map's: 250,416,494,.*,4630,8700$/);
    assert.match(await message(page, "n_inserted_ch"), /^Adjusted: n_inserted_ch set to 16 by map ab16$/);
    assert.equal(await message(page, "bands"), "Note: bands is not used: map ab16 sets the edges");
    await setParams(page, {});
  });

  await group("a click on an electrode's number switches it off (an empty row) and on again", async () => {
    await setParams(page, { map: "nucleus22" });
    await simulation(page, () => page.click("#example")); // at other settings than the defaults, it keeps them
    const before = await darkPerRow(page);
    assert.equal(before.length, 22);
    assert.ok(before[4] > 0, "electrode 5 is stimulated before");
    await clickElectrode(page, 5);
    assert.equal(await page.$eval("#p-off", (e) => e.value), "5");
    const result = await simulation(page, () => page.click("#run"));
    const state = await page.evaluate(() => {
      const r = window.cihearPage.result;
      return { electrodes: r.electrodes, off: r.off, channels: r.channels, count: r.electrodeCount };
    });
    assert.deepEqual(state.off, [5]);
    assert.equal(state.count, 22);
    assert.equal(state.channels, 21);
    assert.deepEqual(state.electrodes, [1, 2, 3, 4, ...Array.from({ length: 17 }, (_, i) => i + 6)]);
    const after = await darkPerRow(page);
    assert.equal(after[4], 0, "the row of the switched-off electrode is empty");
    assert.ok(after[3] > 0 && after[5] > 0, `its neighbours' rows: ${after[3]} and ${after[5]} dark pixels`);
    const texts = await electrodogramTexts(page);
    assert.ok(texts.includes("5 · off"), `the row is labelled off: ${texts.filter((t) => / · /.test(t))}`);
    assert.ok(texts.includes("electrode, 1 = apical, lowest band"), "the figure says which electrode is 1");
    assert.match(await page.$eval("#electrodogram-title", (e) => e.textContent), /map nucleus22, 22 electrodes, 1 switched off \(5\)/);
    // The report's command line writes the page's file.
    const text = await page.$eval("#report", (e) => e.value);
    assert.match(text, /Electrodes switched off: 5; the range is reallocated over the 21 active ones/);
    assert.match(text, /Frequency allocation: the nucleus22 map, the default frequency allocation table of 22-electrode Nucleus implants/);
    const line = text.match(/The same simulation from the command line: (.*)$/)[1];
    assert.equal(line, "cihear -i speech.wav -o output.wav --map nucleus22 --off 5");
    const options = line.split(" ").slice(5);
    execFileSync(cihear, ["-i", example, "-o", join(work, "report.wav"), ...options], { stdio: "ignore" });
    assert.ok(Buffer.from(result.wav, "base64").equals(readFileSync(join(work, "report.wav"))),
      "the page's file differs from the report's command line's");
    // A second electrode, then both on again.
    await clickElectrode(page, 9);
    assert.equal(await page.$eval("#p-off", (e) => e.value), "5,9");
    await clickElectrode(page, 5);
    await clickElectrode(page, 9);
    assert.equal(await page.$eval("#p-off", (e) => e.value), "");
    await setParams(page, {});
  });
}
