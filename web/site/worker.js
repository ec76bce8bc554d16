// The simulation thread: the engine's WebAssembly module, so that the page never waits on it.
// Messages in: {id, type: "load", bytes} (a file for the WAV loader) and {id, type: "simulate",
// samples, rate, pairs, seed}, each answered with {id, result} or {id, failure}; and
// {type: "calibrate"}, answered with {type: "calibrated", work, milliseconds}.
import createCihear from "./cihear.js";

const ready = createCihear();

// Requests of the page's own (loads and simulations) received so far.
let requests = 0;

// A first, short simulation readies the module's code (the first run of a fresh module is
// slower); two more, of 2 s of a test sound with the defaults, are timed for the page's
// progress estimate (the faster of the two: a busy moment only slows one down). The page asks
// for it once it has started itself, so that the timing does not share the processor with the
// page's own start. Each run is a task of its own, and a request of the page's ends the
// calibration: it waits for one run at most, and its own time serves the estimate instead.
function calibrate(engine) {
  const rate = 20000;
  const sound = (seconds) => Float64Array.from({ length: seconds * rate }, (_, i) =>
    0.3 * Math.sin(i * 0.05 + 3 * Math.sin(i * 0.0007)) * Math.sin(i * 0.001));
  const runs = [0.25, 2, 2], before = requests;
  let fastest = Infinity, channels = 0;
  const step = (k) => {
    if (k === runs.length || requests !== before) {
      if (channels > 0) self.postMessage({ type: "calibrated", work: 2 * channels, milliseconds: fastest });
      return;
    }
    const samples = sound(runs[k]);
    const started = performance.now();
    const result = simulate(engine, { samples, rate, pairs: [], seed: null });
    if (k > 0 && result.ok) {
      fastest = Math.min(fastest, performance.now() - started);
      channels = result.channels;
    }
    setTimeout(() => step(k + 1), 0);
  };
  step(0);
}

// The file goes through the command line's own WAV reader, in the module's memory file system.
function load(engine, bytes) {
  const path = "/input.wav";
  engine.FS.writeFile(path, new Uint8Array(bytes));
  try {
    return engine.loadWav(path);
  } finally {
    engine.FS.unlink(path);
  }
}

function simulate(engine, { samples, rate, pairs, seed }) {
  const bytes = samples.length * 8;
  const address = engine._malloc(Math.max(bytes, 8));
  if (!address) {
    return { ok: false, message: "not enough memory" };
  }
  try {
    engine.HEAPF64.set(samples, address / 8);
    return engine.simulate(address, samples.length, rate, pairs, seed);
  } finally {
    engine._free(address);
  }
}

// The typed arrays of a result, handed over rather than copied.
function buffers(result) {
  return Object.values(result)
    .filter((v) => ArrayBuffer.isView(v))
    .map((v) => v.buffer);
}

self.onmessage = async ({ data }) => {
  if (data.type !== "calibrate") requests++;
  try {
    const engine = await ready;
    if (data.type === "calibrate") {
      calibrate(engine);
      return;
    }
    const started = performance.now();
    const result = data.type === "load" ? load(engine, data.bytes) : simulate(engine, data);
    result.milliseconds = performance.now() - started;
    self.postMessage({ id: data.id, result }, buffers(result));
  } catch (error) {
    const text = String(error && error.message ? error.message : error);
    // The module aborts when its memory cannot grow (a sound too long for the page); it is of
    // no use after that, and the page starts another.
    if (/^Aborted\(/.test(text)) {
      self.postMessage({ id: data.id, fatal: true,
        failure: "the page ran out of memory for this sound (the cihear command line has no such limit)" });
    } else {
      self.postMessage({ id: data.id, failure: text });
    }
  }
};
