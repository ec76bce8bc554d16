// How long a simulation will take, foretold from the ones this page has timed. A run costs a
// fixed part (the filters' design, the buffers) and a part proportional to its work, the
// seconds of sound times the channels: ms = b * (work + fixedWork). On this page the fixed
// part is about what 90 channel-seconds cost (0.25 s against 34 ms per second of sound with
// 12 channels, measured from 2 s to 139 s of speech in headless chromium on an AMD EPYC),
// which lets short runs foretell long ones. b is pooled over the runs kept, ms over work + fixedWork summed, so that the larger
// runs count for more and one run slowed by a busy moment does not decide alone.
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
    let ms = 0, units = 0;
    for (const run of this.runs) {
      ms += run.ms;
      units += run.work + fixedWork;
    }
    return (ms / units) * (work + fixedWork);
  }
}
