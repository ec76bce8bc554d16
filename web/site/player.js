// Playing the original and the simulation: one of the two at a time, switching at the same
// position, optionally looping a selection.

export class Player {
  constructor(onState) {
    this.onState = onState; // called when playing starts or stops
    this.buffers = { original: null, simulation: null };
    this.which = "simulation";
    this.source = null;
    this.offset = 0; // seconds, where the next start begins (or began)
    this.startedAt = 0; // context time of that start
    this.loop = null; // {start, end} in seconds, or null
  }

  context() {
    if (!this.audio) this.audio = new AudioContext();
    return this.audio;
  }

  // Float samples at `rate` Hz as the buffer for "original" or "simulation".
  setBuffer(which, samples, rate) {
    const buffer = this.context().createBuffer(1, Math.max(samples.length, 1), rate);
    // Copied whole (a loop over the samples takes most of a second for 25 minutes of sound).
    buffer.copyToChannel(samples instanceof Float32Array ? samples : new Float32Array(samples), 0);
    this.buffers[which] = buffer;
    if (this.playing && which === this.which) this.restart();
  }

  clear() {
    this.stop();
    this.buffers = { original: null, simulation: null };
    this.offset = 0;
  }

  get duration() {
    const b = this.buffers[this.which] || this.buffers.original;
    return b ? b.duration : 0;
  }

  get playing() {
    return this.source !== null;
  }

  // The position in seconds, running while playing.
  position() {
    if (!this.playing) return this.offset;
    let t = this.offset + (this.audio.currentTime - this.startedAt);
    if (this.loop && t >= this.loop.end) {
      const length = this.loop.end - this.loop.start;
      t = this.loop.start + ((t - this.loop.start) % length);
    }
    return Math.min(t, this.duration);
  }

  play() {
    const buffer = this.buffers[this.which];
    if (!buffer) return;
    this.context().resume();
    if (this.offset >= buffer.duration - 0.01) this.offset = this.loop ? this.loop.start : 0;
    const source = this.audio.createBufferSource();
    source.buffer = buffer;
    if (this.loop) {
      source.loop = true;
      source.loopStart = this.loop.start;
      source.loopEnd = this.loop.end;
      if (this.offset < this.loop.start || this.offset >= this.loop.end) this.offset = this.loop.start;
    }
    source.connect(this.audio.destination);
    source.onended = () => {
      if (this.source === source) {
        this.source = null;
        this.offset = buffer.duration;
        this.onState(false);
      }
    };
    source.start(0, this.offset);
    this.startedAt = this.audio.currentTime;
    this.source = source;
    this.onState(true);
  }

  stop() {
    if (!this.playing) return;
    this.offset = this.position();
    const source = this.source;
    this.source = null;
    source.stop();
    this.onState(false);
  }

  restart() {
    const t = this.position();
    this.stop();
    this.offset = t;
    this.play();
  }

  // A/B: the other sound from the same position.
  choose(which) {
    this.which = which;
    if (this.playing) this.restart();
  }

  seek(seconds) {
    this.offset = Math.max(0, Math.min(seconds, this.duration));
    if (this.playing) {
      this.stop();
      this.play();
    }
  }

  setLoop(loop) {
    this.loop = loop && loop.end - loop.start > 0.02 ? loop : null;
    if (this.playing) this.restart();
  }
}
