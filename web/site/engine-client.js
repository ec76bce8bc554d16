// The page's side of the simulation worker: requests as promises, a cancel that ends the worker
// (a new one starts for the next request), and an estimate of how long a simulation takes.
import { TimeModel } from "./estimate.js";

export class EngineClient {
  constructor() {
    this.pending = new Map();
    this.nextId = 1;
    // The simulations timed in this page (the worker's own calibration first).
    this.times = new TimeModel();
    this.start();
  }

  start() {
    this.worker = new Worker(new URL("./worker.js", import.meta.url), { type: "module" });
    this.worker.onmessage = ({ data }) => {
      if (data.type === "calibrated") {
        this.times.add(data.work, data.milliseconds);
        return;
      }
      const request = this.pending.get(data.id);
      if (!request) return;
      this.pending.delete(data.id);
      if (data.fatal) this.restart();
      if (data.failure) request.reject(new Error(data.failure));
      else request.resolve(data.result);
    };
    this.worker.onerror = (event) => {
      event.preventDefault();
      this.failAll(new Error(event.message || "the simulation thread could not start"));
    };
  }

  failAll(error) {
    for (const request of this.pending.values()) request.reject(error);
    this.pending.clear();
  }

  request(message, transfer = []) {
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject });
      this.worker.postMessage({ id, ...message }, transfer);
    });
  }

  // Times the worker's own simulations for the estimate (a worker started anew keeps the
  // estimate it had).
  calibrate() {
    this.worker.postMessage({ type: "calibrate" });
  }

  // A file through the command line's WAV reader: {wav, ok, message, bits, rate, samples}.
  loadWav(bytes) {
    return this.request({ type: "load", bytes }, [bytes]);
  }

  async simulate(samples, rate, pairs, seed) {
    const copy = samples.slice(); // handed over to the worker; the page keeps its own
    const result = await this.request(
      { type: "simulate", samples: copy, rate, pairs, seed },
      [copy.buffer],
    );
    if (result.ok) this.times.add((samples.length / rate) * result.channels, result.milliseconds);
    return result;
  }

  // Expected milliseconds for a simulation of `seconds` with `channels`, or null before any
  // simulation was timed.
  estimate(seconds, channels) {
    return this.times.predict(seconds * channels);
  }

  cancel() {
    this.restart(new CancelledError());
  }

  // A new worker, the old one's requests failed with `error` (if any are left).
  restart(error = new Error("the simulation thread stopped")) {
    this.worker.terminate();
    this.failAll(error);
    this.start();
  }
}

export class CancelledError extends Error {
  constructor() {
    super("cancelled");
    this.name = "CancelledError";
  }
}
