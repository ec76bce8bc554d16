// The Live control: the microphone through the simulation's stream to the headphones, in an
// AudioWorklet (live-worklet.js). The stream runs at 20000 Hz; the rates are converted either
// by the browser, in an AudioContext at 20000 Hz, or in the worklet (resample.js), in an
// AudioContext at the device's rate: `conversion` "browser", "page", or "auto" (the browser's
// where it takes the microphone into a 20000 Hz context, the page's otherwise). The
// microphone is asked for without echo cancellation, noise suppression or automatic gain
// control.
//
// The delay shown is the impulse test on the page's own chain (the stream and the page's
// converters, measured in the worklet) plus what the browser reports of its own: the
// microphone track's latency, the context's baseLatency and outputLatency (a conversion the
// browser makes is counted only as far as its reports count it).

export const liveRate = 20000;

export class LiveError extends Error {}

// Why this browser cannot run Live, or "".
export function liveUnsupported() {
  if (!window.isSecureContext) {
    return "Live needs the page served over https:// or from localhost: browsers give the " +
      "microphone and audio processing to such pages only.";
  }
  if (!navigator.mediaDevices || !navigator.mediaDevices.getUserMedia) {
    return "This browser gives this page no microphone (a page served over http:// from another " +
      "machine is not allowed one: use https:// or localhost).";
  }
  if (!window.AudioContext || !window.AudioWorkletNode) {
    return "This browser has no AudioWorklet, which Live needs to process the sound as it comes.";
  }
  return "";
}

export class Live {
  // onStatus(status) about 10 times a second while running (or {refused} when a change of
  // settings is refused).
  constructor({ onStatus, recordSeconds = 0, conversion = "auto" }) {
    this.onStatus = onStatus;
    this.conversion = conversion;
    this.recordSeconds = recordSeconds;
    this.running = false;
  }

  async start(pairs, seed, which) {
    const unsupported = liveUnsupported();
    if (unsupported) throw new LiveError(unsupported);
    const module = await WebAssembly.compileStreaming(fetch(new URL("./cihear.wasm", import.meta.url)));
    try {
      this.media = await navigator.mediaDevices.getUserMedia({
        audio: { echoCancellation: false, noiseSuppression: false, autoGainControl: false, channelCount: 1 },
      });
    } catch (error) {
      throw new LiveError(`The microphone is not available: ${error.message || error.name}.`);
    }
    let why = "";
    if (this.conversion !== "page") why = await this.open(liveRate);
    if (this.conversion === "page" || (why && this.conversion === "auto")) why = await this.open(undefined);
    if (why) {
      this.stop();
      throw new LiveError(`This browser cannot take the microphone into audio processing (${why}), so Live cannot run here.`);
    }
    this.node = new AudioWorkletNode(this.context, "cihear-live", {
      numberOfInputs: 1, numberOfOutputs: 1, outputChannelCount: [2],
      processorOptions: { module, pairs, seed, recordSeconds: this.recordSeconds },
    });
    const ready = new Promise((resolve, reject) => {
      this.node.port.onmessage = ({ data }) => {
        if (data.type === "ready") resolve(data);
        else if (data.type === "failed" || data.type === "refused") reject(new LiveError(data.message));
      };
      this.node.onprocessorerror = () => reject(new LiveError("The simulation could not start in " +
        "this browser's audio thread."));
    });
    this.source.connect(this.node).connect(this.context.destination);
    let started, timer;
    ready.catch(() => {});
    try {
      // A browser without a sound output never starts its context: say so rather than wait.
      const silent = new Promise((resolve, reject) => {
        timer = setTimeout(() => reject(new LiveError("The browser's sound output did not start " +
          "within 10 s, so Live cannot run (is there an output device?).")), 10000);
      });
      await Promise.race([this.context.resume(), silent]);
      started = await Promise.race([ready, silent]);
    } catch (error) {
      this.stop();
      throw error;
    } finally {
      clearTimeout(timer);
    }
    this.node.port.onmessage = ({ data }) => this.message(data);
    this.running = true;
    this.pairs = pairs;
    this.startedAt = { wall: performance.now(), audio: this.context.currentTime };
    // Dropouts count from here: the module's start in the audio thread may cost one or two.
    const p = this.context.playbackStats;
    this.dropoutsBefore = p ? { events: p.underrunEvents, seconds: p.underrunDuration } : null;
    this.buildMilliseconds = started.milliseconds;
    this.latency = started.latency;
    this.delay = null;
    this.kept = []; // every electrodogram column, when recording (tests)
    this.choose(which);
    this.timer = setInterval(() => this.node.port.postMessage({ type: "poll" }), 100);
    this.node.port.postMessage({ type: "measure" });
  }

  // The context at `rate` (undefined: the device's) with the worklet and the microphone in it,
  // or why not.
  async open(rate) {
    if (this.context) this.context.close().catch(() => {});
    try {
      this.context = new AudioContext({ sampleRate: rate, latencyHint: 0 });
      await this.context.audioWorklet.addModule(new URL("./live-worklet.js", import.meta.url));
      this.source = this.context.createMediaStreamSource(this.media);
      return "";
    } catch (error) {
      return error.message || error.name;
    }
  }

  message(data) {
    if (data.type === "status") {
      if (this.recordSeconds > 0) this.kept.push(...data.columns);
      this.onStatus(this.status(data));
    } else if (data.type === "measured") {
      this.delay = data.samples === null ? null : data.samples / data.rate;
    } else if (data.type === "built") {
      this.latency = data.latency;
      this.buildMilliseconds = data.milliseconds;
    } else if (data.type === "refused") {
      this.onStatus({ refused: data.message });
    } else if (data.type === "recording" && this.recordingWanted) {
      this.recordingWanted(data);
    }
  }

  // What the page shows: the delays (ms), the load, the columns, the time the audio fell behind.
  status(data) {
    const context = this.context;
    const track = this.media.getAudioTracks()[0];
    const settings = track && track.getSettings ? track.getSettings() : {};
    const reported = {
      input: typeof settings.latency === "number" ? settings.latency * 1000 : null,
      base: (context.baseLatency || 0) * 1000,
      output: (context.outputLatency || 0) * 1000,
    };
    const measured = this.delay === null ? null : this.delay * 1000;
    const total = measured === null ? null : measured + (reported.input || 0) + reported.base + reported.output;
    const budget = (128 / context.sampleRate) * 1000;
    const wall = (performance.now() - this.startedAt.wall) / 1000;
    const audio = context.currentTime - this.startedAt.audio;
    // Dropouts: the browser's own count where it keeps one (playbackStats), otherwise how far
    // the audio clock fell behind the page's since the first second.
    let dropouts;
    if (context.playbackStats) {
      const p = context.playbackStats;
      const before = this.dropoutsBefore;
      dropouts = { events: p.underrunEvents - before.events, seconds: p.underrunDuration - before.seconds, counted: true };
    } else {
      if (this.lag === undefined && wall > 1) this.lag = wall - audio;
      dropouts = { events: null, seconds: this.lag === undefined ? 0 : Math.max(0, wall - audio - this.lag), counted: false };
    }
    return {
      measured, reported, total, columns: data.columns, clipped: data.clipped,
      load: data.timed ? data.busy / data.timed / budget : null, quanta: data.quanta,
      dropouts, seconds: wall, buildMilliseconds: this.buildMilliseconds, starved: data.starved,
      convertedBy: context.sampleRate === liveRate ? "browser" : "page", recorded: data.recorded, rate: context.sampleRate, settings,
    };
  }

  update(pairs, seed) {
    if (!this.running) return;
    this.pairs = pairs;
    this.node.port.postMessage({ type: "settings", pairs, seed });
  }

  choose(which) {
    if (this.running) this.node.port.postMessage({ type: "which", value: which });
  }

  measure() {
    if (this.running) this.node.port.postMessage({ type: "measure" });
  }

  // What the stream was fed and gave (tests): {fed, out} as Float64Arrays.
  recording() {
    return new Promise((resolve) => {
      this.recordingWanted = resolve;
      this.node.port.postMessage({ type: "recording" });
    });
  }

  stop() {
    clearInterval(this.timer);
    this.running = false;
    this.lag = undefined;
    if (this.media) for (const track of this.media.getTracks()) track.stop();
    if (this.context) this.context.close().catch(() => {});
    this.media = this.context = this.node = this.source = null;
  }
}
