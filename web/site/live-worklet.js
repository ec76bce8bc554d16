// The Live control's audio thread: the engine's WebAssembly module (compiled by the page and
// handed over, as an AudioWorkletGlobalScope cannot fetch it) runs the simulation's stream on
// each 128-frame render quantum, from the microphone to the output: in a 20000 Hz AudioContext
// as it comes, or at the device's rate through the page's converters (resample.js).
//
// process() allocates nothing: the microphone's samples are written into the module's memory,
// run through the stream, and faded between the original and the simulation; the electrodogram
// columns, the timing and (for tests) the recording go into arrays made beforehand. Everything
// that allocates (building a stream, answering the page) happens in the port's message handler,
// which the browser runs on this thread between two quanta:
//   {type: "settings", pairs, seed}  a new stream; the old one is faded out once the new one's
//                                    output has begun (no click)
//   {type: "which", value}           "original" or "simulation", faded over fadeSamples
//   {type: "measure"}                the impulse test, on a copy of the chain (startMeasure)
//   {type: "poll"}                   answered with {type: "status", columns, ...}
//   {type: "recording"}              answered with {type: "recording", fed, out, heard,
//                                    rebuiltAt} (tests)
import createCihear from "./cihear.js";
import { converterPair } from "./resample.js";

const quantum = 128;
const liveRate = 20000;
const fadeSamples = 256; // 12.8 ms at 20000 Hz
const columnCapacity = 2048; // electrodogram columns (one per quantum) kept for the page
const maxChannels = 50;
const impulseAt = 128;
const room = 1024; // doubles per buffer in the module: a quantum at 20000 Hz from any device rate above 2500 Hz

class LiveProcessor extends AudioWorkletProcessor {
  constructor({ processorOptions }) {
    super();
    const { module, pairs, seed, recordSeconds } = processorOptions;
    this.ready = false;
    this.retired = [];
    this.which = 1; // the simulation's share of the output, now and as asked
    this.target = 1;
    this.columns = new Float32Array(columnCapacity * maxChannels);
    this.columnChannels = new Uint8Array(columnCapacity);
    this.written = 0;
    this.read = 0;
    this.held = new Float32Array(maxChannels);
    this.mono = new Float64Array(quantum);
    this.converted = new Float64Array(quantum);
    this.starved = 0; // quanta the up converter could not fill (none, by its priming)
    Object.assign(this, this.converters());
    this.busy = 0; // milliseconds inside process(), and quanta timed
    this.timed = 0;
    this.quanta = 0;
    const samples = Math.round((recordSeconds || 0) * sampleRate);
    // fed: what the first stream was fed; out: what it gave (until rebuiltAt, where another
    // stream took over); heard: what went to the output.
    this.recording = samples > 0 ? { fed: new Float64Array(samples), out: new Float64Array(samples),
      heard: new Float64Array(samples), length: 0, rebuiltAt: null } : null;
    this.port.onmessage = ({ data }) => this.message(data);
    // No URL here: locateFile keeps the module from making one (instantiateWasm fetches nothing).
    createCihear({
      locateFile: (path) => path,
      instantiateWasm: (imports, receive) => {
        WebAssembly.instantiate(module, imports).then((instance) => receive(instance, module));
        return {};
      },
    }).then((engine) => {
      this.engine = engine;
      this.buffers = [0, 1, 2, 3].map(() => engine._malloc(room * 8));
      const stream = this.build(pairs, seed);
      if (!stream) return;
      this.current = stream;
      this.ready = true;
      this.port.postMessage({ type: "ready", latency: stream.latency(), rate: sampleRate, milliseconds: this.lastBuild });
    }, (error) => this.port.postMessage({ type: "failed", message: String(error && error.message || error) }));
  }

  // A stream for the settings, or null (the page is told why).
  build(pairs, seed) {
    const started = Date.now();
    const stream = new this.engine.LiveStream(pairs, seed, 1, this.engine.streamOutputGain);
    if (!stream.ok()) {
      this.port.postMessage({ type: "refused", message: stream.message() });
      stream.delete();
      return null;
    }
    stream.levelsIndex = stream.levelsAddress() / 8;
    stream.channelCount = stream.channels();
    stream.age = 0;
    this.pairs = pairs;
    this.seed = seed;
    this.lastBuild = Date.now() - started;
    this.port.postMessage({ type: "built", milliseconds: this.lastBuild, latency: stream.latency() });
    return stream;
  }

  message(data) {
    for (const stream of this.retired.splice(0)) stream.delete();
    if (!this.ready) return;
    if (data.type === "settings") {
      const stream = this.build(data.pairs, data.seed);
      if (!stream) return;
      if (this.next) this.retired.push(this.next);
      this.next = stream;
      if (this.recording && this.recording.rebuiltAt === null) this.recording.rebuiltAt = this.recording.length;
    } else if (data.type === "which") {
      this.target = data.value === "original" ? 0 : 1;
    } else if (data.type === "measure") {
      this.startMeasure();
    } else if (data.type === "poll") {
      this.poll();
    } else if (data.type === "recording" && this.recording) {
      const { fed, out, heard, length, rebuiltAt } = this.recording;
      this.port.postMessage({ type: "recording", fed: fed.slice(0, length), out: out.slice(0, length),
        heard: heard.slice(0, length), rebuiltAt });
    }
  }

  poll() {
    if (this.measured) this.port.postMessage(this.measured); // made in process(), sent from here
    this.measured = null;
    const first = Math.max(this.read, this.written - columnCapacity);
    const columns = [];
    for (let c = first; c < this.written; c++) {
      const slot = c % columnCapacity;
      const n = this.columnChannels[slot];
      columns.push(this.columns.slice(slot * maxChannels, slot * maxChannels + n));
    }
    this.read = this.written;
    const stream = this.current;
    this.port.postMessage({
      type: "status", columns, quanta: this.quanta, busy: this.busy, timed: this.timed,
      clipped: stream.clipped(), latency: stream.latency(), starved: this.starved, recorded: this.recording ? this.recording.length : 0,
    });
  }

  process(inputs, outputs) {
    const began = Date.now();
    const output = outputs[0];
    if (!this.ready) {
      for (const channel of output) channel.fill(0);
      return true;
    }
    const heap = this.engine.HEAPF64;
    const [inAt, outAt, nextAt, measureAt] = this.buffers;
    const x = inAt / 8, y = outAt / 8, z = nextAt / 8;
    const input = inputs[0] || [];
    const frames = output[0].length;
    const mono = this.mono;
    for (let j = 0; j < frames; j++) {
      let v = 0;
      for (let c = 0; c < input.length; c++) v += input[c][j];
      mono[j] = input.length > 1 ? v / input.length : v;
    }
    // The stream's input at 20000 Hz: the microphone's samples, or converted to it.
    let n = frames;
    if (this.down) n = this.down.process(mono, 0, frames, heap, x, room);
    else heap.set(mono, x);
    this.current.process(inAt, outAt, n);
    this.current.age += n;
    this.column(this.current);
    const r = this.recording && this.recording.length + n <= this.recording.fed.length ? this.recording : null;
    if (r) {
      for (let j = 0; j < n; j++) {
        r.fed[r.length + j] = heap[x + j];
        r.out[r.length + j] = heap[y + j];
      }
    }
    if (this.next) this.fade(heap, inAt, nextAt, y, z, n);
    if (this.measuring) this.measureStep(heap, measureAt, frames);
    // The simulation at the output's rate.
    let simulation = heap, at = y;
    if (this.up) {
      const got = this.up.process(heap, y, n, this.converted, 0, frames);
      if (got < frames) {
        this.converted.fill(0, got);
        this.starved++;
      }
      simulation = this.converted;
      at = 0;
    }
    // The original or the simulation, or a fade between them.
    const step = 1 / fadeSamples;
    const left = output[0];
    for (let j = 0; j < frames; j++) {
      if (this.which < this.target) this.which = Math.min(this.target, this.which + step);
      else if (this.which > this.target) this.which = Math.max(this.target, this.which - step);
      left[j] = this.which * simulation[at + j] + (1 - this.which) * mono[j];
    }
    for (let c = 1; c < output.length; c++) output[c].set(left);
    if (r) {
      if (!this.up) for (let j = 0; j < n; j++) r.heard[r.length + j] = left[j];
      r.length += n;
    }
    this.quanta++;
    this.busy += Date.now() - began;
    this.timed++;
    return true;
  }

  // The new stream runs beside the old one; once its output has begun (its latency and a
  // quantum more), the output fades from the old one's to the new one's, and the old one is
  // retired.
  fade(heap, inAt, nextAt, y, z, n) {
    const next = this.next;
    next.process(inAt, nextAt, n);
    const start = next.latency() + quantum;
    for (let j = 0; j < n; j++) {
      const w = Math.min(1, Math.max(0, (next.age + j - start) / fadeSamples));
      heap[y + j] = (1 - w) * heap[y + j] + w * heap[z + j];
    }
    next.age += n;
    if (next.age >= start + fadeSamples) {
      this.retired.push(this.current);
      this.current = next;
      this.next = null;
    }
  }

  // One electrodogram column per quantum: each channel's largest level among the frames the
  // stream chose in it (held from the column before when no frame began).
  column(stream) {
    const heap = this.engine.HEAPF64;
    const n = Math.min(maxChannels, stream.channelCount);
    const slot = this.written % columnCapacity;
    if (stream.frames() > 0) {
      for (let ch = 0; ch < n; ch++) this.held[ch] = heap[stream.levelsIndex + ch];
    }
    for (let ch = 0; ch < n; ch++) this.columns[slot * maxChannels + ch] = this.held[ch];
    this.columnChannels[slot] = n;
    this.written++;
  }

  // The converters, when the context runs at the device's rate: down to 20000 Hz and up.
  converters() {
    if (sampleRate === liveRate) return { down: null, up: null };
    const { down, up } = converterPair(sampleRate, liveRate);
    return { down, up };
  }

  // The impulse test: a copy of the stream with the same settings (and of the converters) is
  // fed silence with one impulse (0.5 at frame impulseAt), a quantum at a time; the delay is
  // where its response first reaches -20 dB of the response's peak, in frames.
  startMeasure() {
    if (this.measuring) this.retired.push(this.measuring.stream);
    const stream = this.build(this.pairs, this.seed);
    if (!stream) return;
    this.measuring = { stream, ...this.converters(), out: new Float64Array(Math.round(0.2 * sampleRate)),
      impulse: new Float64Array(quantum), fed: 0, length: 0,
      result: { type: "measured", samples: null, rate: sampleRate } };
  }

  measureStep(heap, at, frames) {
    const m = this.measuring;
    const k = at / 8;
    for (let j = 0; j < frames; j++) m.impulse[j] = m.fed + j === impulseAt ? 0.5 : 0;
    m.fed += frames;
    let n = frames;
    if (m.down) n = m.down.process(m.impulse, 0, frames, heap, k, room);
    else heap.set(m.impulse, k);
    m.stream.process(at, at, n);
    const left = m.out.length - m.length;
    if (m.up) m.length += m.up.process(heap, k, n, m.out, m.length, Math.min(frames, left));
    else for (let j = 0; j < Math.min(n, left); j++) m.out[m.length++] = heap[k + j];
    if (m.length < m.out.length) return;
    let peak = 0, onset = 0;
    for (let j = 0; j < m.out.length; j++) peak = Math.max(peak, Math.abs(m.out[j]));
    while (Math.abs(m.out[onset]) < 0.1 * peak) onset++;
    this.retired.push(m.stream);
    this.measuring = null;
    m.result.samples = peak > 0 ? onset - impulseAt : null;
    this.measured = m.result;
  }
}

registerProcessor("cihear-live", LiveProcessor);
