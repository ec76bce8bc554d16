// The page's labels and pictures as a first-time visitor meets them. Called by page.test.mjs
// with its group runner and page.
import assert from "node:assert/strict";

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
    assert.equal(fields.filter((f) => f.name !== "(seed)").length, 19);
    for (const f of fields) {
      assert.match(f.name, /^\([a-z_]+\)$/, `the option's name of ${f.label}`);
      assert.ok(f.label && !/_/.test(f.label), `the label of ${f.name} is "${f.label}"`);
      assert.ok(table.includes(f.name.slice(1, -1)) || f.name === "(seed)", `${f.name} has a control`);
    }
    const inserted = fields.find((f) => f.name === "(n_inserted_ch)");
    assert.equal(`${inserted.label} ${inserted.name}`, "Electrodes inserted (n_inserted_ch)");
    assert.deepEqual([...new Set(fields.map((f) => f.group))], ["Implant", "Coding strategy", "Sound processed"]);
    assert.ok(fields.some((f) => f.folded) && fields.some((f) => !f.folded), "some controls folded, not all");
    // A refusal in a folded part opens it.
    const opened = await page.evaluate(() => {
      for (const fold of document.querySelectorAll("#params details")) fold.open = false;
      const input = document.getElementById("p-interact_decay");
      input.value = "0";
      input.dispatchEvent(new Event("input"));
      const open = input.closest("details").open;
      input.value = "2";
      input.dispatchEvent(new Event("input"));
      return open;
    });
    assert.equal(opened, true, "the refusal of interact_decay = 0 is folded away");
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
    // Playing a zoomed view turns its pages.
    await page.evaluate(() => window.cihearPage.pictures.show(0, 0.3));
    await page.click("#play");
    await new Promise((r) => setTimeout(r, 800));
    const turned = await page.evaluate(() => window.cihearPage.pictures.view.start);
    await page.click("#play");
    assert.ok(turned >= 0.3, `the view starts at ${turned} s after 0.8 s of playing`);
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
    assert.ok(text.includes("electrode, 1 = apical, lowest band") && text.includes("100 %"), "the electrodogram's axis and scale");
  });
}
