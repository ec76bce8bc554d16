// The page's arithmetic on its own, in node: the spectrogram and the time estimate. Called by
// page.test.mjs with its group runner.
import assert from "node:assert/strict";
import { TimeModel } from "../site/estimate.js";
import { maxFrequency, prepare, spectrogram } from "../site/spectrogram.js";

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

export async function unitGroups(group) {
  await group("the spectrogram: a tone in its row at its level, its cost bounded at any sample rate", async () => {
    const rows = 200, columns = 50;
    for (const rate of [8000, 22050, 44100, 10000000]) {
      const x = sine(rate, 0.2, 3000, 0.5);
      const { db, window, transform } = spectrogram(prepare(x, rate), { start: 0, end: 0.2, columns, rows });
      const { row, level } = loudest(db, rows, columns / 2);
      const hz = ((row + 0.5) / rows) * maxFrequency;
      assert.ok(Math.abs(hz - 3000) <= 100, `${rate} Hz: the 3 kHz tone peaks at ${hz} Hz`);
      // Amplitude 0.5 is 6 dB below full scale; the Hann window loses at most 1.5 dB between bins.
      assert.ok(level > -7.6 && level < -5.5, `${rate} Hz: the tone reads ${level} dB`);
      assert.ok(transform <= 4096 && Math.abs(window - 0.0125) < 0.001, `${rate} Hz: window ${window} s, ${transform} points`);
    }
    // A burst from 0.1 to 0.2 s, at an ordinary and at a very high rate: seen where it is.
    for (const rate of [44100, 10000000]) {
      const x = sine(rate, 0.3, 2000, 1).map((v, i) => (i >= 0.1 * rate && i < 0.2 * rate ? v : 0));
      const { db } = spectrogram(prepare(x, rate), { start: 0, end: 0.3, columns: 30, rows });
      const levels = [5, 9, 10, 15, 19, 20, 25].map((c) => Math.round(loudest(db, rows, c).level));
      assert.ok(levels[0] < -100 && levels[6] < -100 && levels[3] > -3, `${rate} Hz: ${levels}`);
      // Column 9 ends at 0.1 s, column 20 begins at 0.2 s: half a window reaches into each.
      assert.ok(levels[1] < levels[2] && levels[4] > levels[5], `${rate} Hz, the edges: ${levels}`);
    }
    // A 50 ms view gets short windows; a header claiming 4 GHz costs no more than any other.
    const short = spectrogram(prepare(sine(44100, 1, 1000, 1), 44100), { start: 0.5, end: 0.55, columns, rows });
    assert.ok(short.window < 0.004, `a 50 ms view: window ${short.window} s`);
    const began = performance.now();
    const huge = spectrogram(prepare(sine(44100, 1, 1000, 1), 4e9), { start: 0, end: 44100 / 4e9, columns: 1200, rows: 200 });
    assert.ok(performance.now() - began < 2000 && huge.transform <= 4096, `4 GHz: ${performance.now() - began} ms`);
  });

  await group("the time estimate: short runs foretell long ones; one slow run does not decide alone", async () => {
    const model = new TimeModel();
    assert.equal(model.predict(100), null);
    model.add(0, 5); // nothing timed: ignored
    assert.equal(model.predict(100), null);
    // A machine where a run costs 300 ms plus 3 ms per channel-second (this page's machine:
    // 250 ms and 2.8 ms); the worker's calibration is 24 channel-seconds, 139 s of sound with
    // 12 channels 1668.
    const cost = (work) => 300 + 3 * work;
    const within = (got, want) => got / want > 1 / 1.5 && got / want < 1.5;
    model.add(24, cost(24));
    assert.ok(within(model.predict(1668), cost(1668)), `one run: ${model.predict(1668)} ms for ${cost(1668)}`);
    // A run of 10 s at the usual speed, then one at a busy moment (twice as slow), which alone
    // would foretell twice the time.
    model.add(120, cost(120));
    model.add(120, 2 * cost(120));
    assert.ok(within(model.predict(1668), cost(1668)), `after a slow run: ${model.predict(1668)} ms for ${cost(1668)}`);
    // Only the latest runs count: a machine that became twice as fast is followed.
    for (let i = 0; i < 8; i++) model.add(1668, cost(1668) / 2);
    assert.ok(Math.abs(model.predict(1668) - cost(1668) / 2) < 1e-6 * cost(1668));
  });
}
