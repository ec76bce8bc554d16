// The three pictures together: the view they share (the whole sound, or a zoomed stretch), the
// playhead and the loop drawn over them, and the pointer on them (a click seeks, a drag chooses
// a loop, and a click on an electrode's number beside the electrodogram switches it off or on).
import { SpectrogramThread, drawElectrodogram, electrodeAt, margin, peakLevel } from "./figures.js";

const outputRate = 20000;
const shortestView = 0.02;

export class Pictures {
  // elements: {box, input, output, electrodogram, explain, playhead, selection, view}; seek(t)
  // and loop(a, b) are called for a click and a drag, electrode(e, off) for a click on the
  // number of electrode e (off: the electrodes switched off in the simulation shown).
  constructor(elements, { seek, loop, electrode }) {
    this.e = elements;
    this.thread = new SpectrogramThread();
    this.sound = false; // whether there is an original (its samples are in the thread)
    this.result = null; // the simulation, with .peak
    this.view = { start: 0, end: 1 };
    this.duration = 0;
    this.pointer(seek, loop);
    this.electrodeClicks(electrode);
  }

  setSound(samples, rate) {
    this.thread.sound("input", samples, rate);
    this.sound = true;
    this.result = null;
    this.duration = samples.length / rate;
    this.view = { start: 0, end: this.duration || 1 };
    this.e.box.hidden = false;
    return this.draw();
  }

  // The simulation, and its samples as floats (handed over to the pictures' thread).
  setResult(result, floats) {
    this.thread.sound("output", floats, outputRate);
    this.result = { ...result, peak: peakLevel(result) };
    this.duration = result.pcm.length / outputRate;
    if (this.view.end > this.duration) this.view = { start: 0, end: this.duration || 1 };
    return this.draw();
  }

  // Zoom by `factor` (below 1 zooms in) around `centre` seconds, kept within the sound.
  zoom(factor, centre = (this.view.start + this.view.end) / 2) {
    const span = Math.min(this.duration, Math.max(shortestView, (this.view.end - this.view.start) * factor));
    this.show(centre - span / 2, centre + span / 2);
  }

  // The view moved by `share` of its width.
  pan(share) {
    const span = this.view.end - this.view.start;
    this.show(this.view.start + share * span, this.view.end + share * span);
  }

  show(start, end) {
    const span = Math.min(this.duration, Math.max(shortestView, end - start));
    const from = Math.max(0, Math.min(start, this.duration - span));
    this.view = { start: from, end: from + span };
    return this.draw();
  }

  // While playing a zoomed view: the next page of it once the playhead runs past its end.
  follow(t) {
    const { start, end } = this.view;
    if (end - start < this.duration && (t < start || t > end)) this.show(t, t + (end - start));
  }

  // Every picture again for the current view; resolves when all are painted.
  draw() {
    const { start, end } = this.view;
    this.drawnWidth = this.e.box.clientWidth;
    this.e.view.textContent = `Showing ${start.toFixed(3)} to ${end.toFixed(3)} s of ${this.duration.toFixed(2)} s`;
    const bands = this.result ? this.result.bands : null;
    const drawn = [];
    if (this.sound) drawn.push(this.thread.draw(this.e.input, "input", this.view, bands));
    this.e.output.closest("figure").hidden = !this.result;
    this.e.electrodogram.closest("figure").hidden = !this.result;
    this.e.explain.hidden = !this.result;
    if (this.result) {
      drawn.push(this.thread.draw(this.e.output, "output", this.view, bands));
      drawElectrodogram(this.e.electrodogram, this.result, this.view, this.result.peak);
    }
    return Promise.all(drawn);
  }

  // Where the plots lie in the box: their left edge and width (the canvases' drawing area,
  // inside their borders).
  plot() {
    const canvas = this.e.input;
    const left = canvas.getBoundingClientRect().left - this.e.box.getBoundingClientRect().left + canvas.clientLeft;
    return { left: left + margin.left, width: canvas.clientWidth - margin.left - margin.right };
  }

  // The x of `seconds` in the box, and the time at a pointer's x (within the view).
  x(seconds) {
    const { left, width } = this.plot();
    return left + ((seconds - this.view.start) / (this.view.end - this.view.start)) * width;
  }

  timeAt(clientX) {
    const { left, width } = this.plot();
    const share = (clientX - this.e.box.getBoundingClientRect().left - left) / width;
    return this.view.start + Math.max(0, Math.min(1, share)) * (this.view.end - this.view.start);
  }

  // The playhead at `t` and the loop from a to b (or none), where the view shows them.
  overlay(t, loop) {
    const inView = (s) => s >= this.view.start && s <= this.view.end;
    this.e.playhead.hidden = !this.result || !inView(t);
    this.e.playhead.style.left = `${this.x(t)}px`;
    const box = this.e.selection;
    box.hidden = !loop || !this.result || loop.end < this.view.start || loop.start > this.view.end;
    if (!box.hidden) {
      const a = this.x(Math.max(loop.start, this.view.start)), b = this.x(Math.min(loop.end, this.view.end));
      box.style.left = `${a}px`;
      box.style.width = `${b - a}px`;
    }
  }

  // The zoom buttons ({in, out, earlier, later, loop, all}); position() gives the playhead's
  // time, loop() the loop or null, and after() is called once the pictures are drawn again.
  // They are also drawn again when the box's width changes (a resized window, a scroll bar
  // that comes or goes), a moment after the last change.
  wire(buttons, { position, loop, after }) {
    const redraw = (drawn) => drawn.then(after);
    buttons.in.addEventListener("click", () => {
      const t = position();
      redraw(this.zoom(0.25, t > this.view.start && t < this.view.end ? t : undefined));
    });
    buttons.out.addEventListener("click", () => redraw(this.zoom(4)));
    buttons.earlier.addEventListener("click", () => redraw(this.pan(-0.5)));
    buttons.later.addEventListener("click", () => redraw(this.pan(0.5)));
    buttons.all.addEventListener("click", () => redraw(this.show(0, this.duration)));
    buttons.loop.addEventListener("click", () => {
      const stretch = loop();
      if (stretch) redraw(this.show(stretch.start, stretch.end));
    });
    let timer = null;
    new ResizeObserver(() => {
      clearTimeout(timer);
      timer = setTimeout(() => {
        if (this.sound && this.e.box.clientWidth !== this.drawnWidth) redraw(this.draw());
      }, 200);
    }).observe(this.e.box);
  }

  // The electrode whose number is under the pointer, in the electrodogram's left margin, or null.
  electrodeUnder(event) {
    const canvas = this.e.electrodogram;
    if (event.target !== canvas || !this.result) return null;
    const box = canvas.getBoundingClientRect();
    const x = event.clientX - box.left - canvas.clientLeft;
    // The picture is drawn in canvas.height / ratio pixels, shown in the canvas's content box.
    const drawn = canvas.height / (window.devicePixelRatio || 1);
    const y = (event.clientY - box.top - canvas.clientTop) * (drawn / canvas.clientHeight);
    return x < margin.left ? electrodeAt(this.result, y) : null;
  }

  electrodeClicks(toggle) {
    const canvas = this.e.electrodogram;
    canvas.addEventListener("pointermove", (event) => {
      const electrode = this.electrodeUnder(event);
      canvas.style.cursor = electrode === null ? "" : "pointer";
      canvas.title = electrode === null ? "" : `Electrode ${electrode}: click to switch it ${this.result.off.includes(electrode) ? "on" : "off"}`;
    });
    canvas.addEventListener("click", (event) => {
      const electrode = this.electrodeUnder(event);
      if (electrode !== null) toggle(electrode, Array.from(this.result.off));
    });
  }

  pointer(seek, loop) {
    let from = null;
    this.e.box.addEventListener("pointerdown", (event) => {
      if (this.electrodeUnder(event) !== null) return; // an electrode's number, not the time axis
      if (event.target.tagName === "CANVAS" && this.result) from = { x: event.clientX, t: this.timeAt(event.clientX) };
    });
    window.addEventListener("pointerup", (event) => {
      if (!from) return;
      const t = this.timeAt(event.clientX);
      if (Math.abs(event.clientX - from.x) < 5) seek(t);
      else loop(Math.min(t, from.t), Math.max(t, from.t));
      from = null;
    });
  }
}
