// How long a simulation will take, foretold from the ones this page has timed. A run costs a
// fixed part (the filters' design, the buffers) and a part proportional to its work, the
// seconds of sound times the channels: ms = b * (work + fixedWork). On this page the fixed
// part is about what 90 channel-seconds cost (0.25 s against 34 ms per second of sound with
// 12 channels, measured from 2 s to 139 s of speech), which lets one timed run foretell any
// other; runs of sizes far enough apart give both parts by least squares instead.
const fixedWork = 90;
const kept = 8;

export class TimeModel {
  constructor() {
    this.runs = []; // {work, ms}, the latest last
  }

  add(work, ms) {
    if (!(work > 0 && ms > 0)) return;
    this.runs.push({ work, ms });
    if (this.runs.length > kept) this.runs.shift();
  }

  // Expected milliseconds for `work` channel-seconds, or null before any run.
  predict(work) {
    if (this.runs.length === 0) return null;
    const fit = this.fit();
    if (fit) return fit.a + fit.b * work;
    const last = this.runs[this.runs.length - 1];
    return (last.ms / (last.work + fixedWork)) * (work + fixedWork);
  }

  // ms = a + b * work over the runs kept, when their sizes differ by a factor of 4 or more
  // and the fit makes sense (both parts positive); null otherwise.
  fit() {
    const works = this.runs.map((r) => r.work);
    if (Math.max(...works) < 4 * Math.min(...works)) return null;
    const n = this.runs.length;
    const mw = works.reduce((s, w) => s + w, 0) / n;
    const mt = this.runs.reduce((s, r) => s + r.ms, 0) / n;
    let sww = 0, swt = 0;
    for (const r of this.runs) {
      sww += (r.work - mw) ** 2;
      swt += (r.work - mw) * (r.ms - mt);
    }
    const b = swt / sww, a = mt - b * mw;
    return b > 0 && a >= 0 ? { a, b } : null;
  }
}
