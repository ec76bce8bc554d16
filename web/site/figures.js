// The pictures of a simulation: the spectrograms of the original and of the simulation, and the
// electrodogram, on canvases sharing one time axis (the view, from `start` to `end` seconds);
// black on white. The spectrograms are computed in their own thread (figures-worker.js), at the
// size of the picture; only the painting is done here.
import { maxFrequency } from "./spectrogram.js";

export const margin = { left: 108, right: 70, top: 8, bottom: 22 };
const font = "11px system-ui, sans-serif";
const range = 70; // dB shown below the loudest point of the view
const edgeColour = "rgba(214, 84, 0, 0.9)";
const offShade = "#eee"; // the row of an electrode switched off

// A canvas sized for its CSS box at the screen's resolution; the context draws in CSS pixels.
function prepare(canvas, cssHeight) {
  const ratio = window.devicePixelRatio || 1;
  const width = canvas.clientWidth;
  canvas.style.height = `${cssHeight}px`;
  canvas.width = Math.round(width * ratio);
  canvas.height = Math.round(cssHeight * ratio);
  const ctx = canvas.getContext("2d");
  ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
  ctx.fillStyle = "#fff";
  ctx.fillRect(0, 0, width, cssHeight);
  ctx.font = font;
  ctx.fillStyle = "#000";
  ctx.strokeStyle = "#000";
  return { ctx, width, height: cssHeight, ratio, plotWidth: width - margin.left - margin.right,
    plotHeight: cssHeight - margin.top - margin.bottom };
}

// Tick labels with as many decimals as the step needs.
function timeAxis({ ctx, plotWidth, height }, { start, end }) {
  const steps = [0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 30, 60, 120, 300, 600];
  const span = end - start;
  const step = steps.find((s) => (s / span) * plotWidth >= 60) || 1200;
  const decimals = Math.max(0, -Math.floor(Math.log10(step) + 1e-9));
  const y = height - margin.bottom;
  ctx.textAlign = "center";
  ctx.textBaseline = "top";
  ctx.beginPath();
  ctx.moveTo(margin.left, y + 0.5);
  ctx.lineTo(margin.left + plotWidth, y + 0.5);
  for (let k = Math.ceil(start / step - 1e-9); k * step <= end + 1e-9; k++) {
    const t = k * step;
    const x = Math.round(margin.left + ((t - start) / span) * plotWidth) + 0.5;
    ctx.moveTo(x, y);
    ctx.lineTo(x, y + 4);
    ctx.fillText(`${t.toFixed(decimals)} s`, x, y + 6);
  }
  ctx.stroke();
}

// A label written upwards along the left edge, centred on the plot.
function verticalLabel({ ctx, plotHeight }, text) {
  ctx.save();
  ctx.translate(10, margin.top + plotHeight / 2);
  ctx.rotate(-Math.PI / 2);
  ctx.textAlign = "center";
  ctx.textBaseline = "middle";
  ctx.fillText(text, 0, 0);
  ctx.restore();
}

// Spectrograms computed in a worker, which holds the sounds they are of (one per key); a
// canvas shows only the answer to its latest request.
export class SpectrogramThread {
  constructor() {
    this.worker = new Worker(new URL("./figures-worker.js", import.meta.url), { type: "module" });
    this.pending = new Map();
    this.nextId = 1;
    this.latest = new WeakMap();
    this.worker.onmessage = ({ data }) => {
      const done = this.pending.get(data.id);
      this.pending.delete(data.id);
      if (done) done(data);
    };
  }

  // `samples` at `rate` Hz as the sound `key`, replacing the one before. A Float32Array is
  // handed over (its buffer is the thread's afterwards); other arrays are copied.
  sound(key, samples, rate) {
    const floats = samples instanceof Float32Array ? samples : new Float32Array(samples);
    this.worker.postMessage({ type: "sound", key, samples: floats, rate }, [floats.buffer]);
  }

  // Draws the spectrogram of the sound `key` over `view` on `canvas`, with the band edges of
  // `bands` (or none). Resolves when painted, or when a newer request replaced it.
  draw(canvas, key, view, bands) {
    const picture = prepare(canvas, 180);
    const columns = Math.max(1, Math.round(picture.plotWidth * picture.ratio));
    const rows = Math.max(1, Math.round(picture.plotHeight * picture.ratio));
    const id = this.nextId++;
    this.latest.set(canvas, id);
    canvas.dataset.drawn = "no";
    const message = { type: "spectrogram", id, key, start: view.start, end: view.end, columns, rows };
    return new Promise((resolve) => {
      this.pending.set(id, (answer) => {
        if (this.latest.get(canvas) === id && !answer.failure) {
          paintSpectrogram(picture, answer.db, columns, rows, view, bands);
          canvas.dataset.drawn = "yes";
          canvas.dataset.window = String(answer.window);
        }
        resolve(answer);
      });
      this.worker.postMessage(message);
    });
  }
}

function paintSpectrogram(picture, db, columns, rows, view, bands) {
  const { ctx, plotWidth, plotHeight } = picture;
  let loudest = -Infinity;
  for (const v of db) if (v > loudest) loudest = v;
  // The scale's top: the loudest point rounded up to 10 dB (0 dB for silence).
  const top = loudest > -150 ? Math.ceil(loudest / 10) * 10 : 0;
  const image = new ImageData(columns, rows);
  for (let c = 0; c < columns; c++) {
    for (let r = 0; r < rows; r++) {
      const v = db[c * rows + r];
      const p = 4 * ((rows - 1 - r) * columns + c);
      const level = Math.min(1, Math.max(0, (v - top + range) / range));
      image.data[p] = image.data[p + 1] = image.data[p + 2] = Math.round(255 * (1 - level));
      image.data[p + 3] = v === -Infinity ? 0 : 255;
    }
  }
  const scratch = document.createElement("canvas");
  scratch.width = columns;
  scratch.height = rows;
  scratch.getContext("2d").putImageData(image, 0, 0);
  ctx.imageSmoothingEnabled = false;
  ctx.drawImage(scratch, margin.left, margin.top, plotWidth, plotHeight);
  ctx.strokeStyle = "#999";
  ctx.strokeRect(margin.left - 0.5, margin.top - 0.5, plotWidth + 1, plotHeight + 1);
  ctx.strokeStyle = "#000";
  const y = (f) => margin.top + plotHeight * (1 - f / maxFrequency);
  ctx.textAlign = "right";
  ctx.textBaseline = "middle";
  for (let f = 0; f <= maxFrequency; f += 2000) {
    ctx.fillText(`${f / 1000} kHz`, margin.left - 6, Math.min(Math.max(y(f), margin.top + 5), margin.top + plotHeight - 5));
  }
  verticalLabel(picture, "frequency");
  if (bands) bandEdges(picture, bands, y);
  colourBar(picture, top);
  timeAxis(picture, view);
}

// The analysis bands' edges as dashed lines across the picture, ticked in the right margin.
function bandEdges({ ctx, plotWidth }, bands, y) {
  const edges = new Set(bands.flatMap((b) => [b.low, b.high]));
  ctx.save();
  ctx.strokeStyle = edgeColour;
  ctx.lineWidth = 1;
  ctx.setLineDash([5, 4]);
  ctx.beginPath();
  for (const f of edges) {
    if (f > maxFrequency) continue;
    const at = Math.round(y(f)) + 0.5;
    ctx.moveTo(margin.left, at);
    ctx.lineTo(margin.left + plotWidth, at);
  }
  ctx.stroke();
  ctx.restore();
}

// The grey scale in dB re full scale (a full-scale sine reads 0 dB), beside the picture.
function colourBar({ ctx, width, plotHeight }, top) {
  const x = width - margin.right + 8, barWidth = 10;
  const gradient = ctx.createLinearGradient(0, margin.top, 0, margin.top + plotHeight);
  gradient.addColorStop(0, "#000");
  gradient.addColorStop(1, "#fff");
  ctx.fillStyle = gradient;
  ctx.fillRect(x, margin.top, barWidth, plotHeight);
  ctx.strokeRect(x + 0.5, margin.top + 0.5, barWidth - 1, plotHeight - 1);
  ctx.fillStyle = "#000";
  ctx.textAlign = "left";
  ctx.textBaseline = "middle";
  for (let db = 0; db <= range; db += 20) {
    const at = margin.top + (db / range) * plotHeight;
    ctx.fillText(`${top - db} dB`, x + barWidth + 4, Math.min(Math.max(at, margin.top + 5), margin.top + plotHeight - 5));
  }
}

// The loudest selected level of a simulation, which every line's height is relative to.
export function peakLevel(result) {
  let peak = 0;
  const n = result.channels * result.frames;
  for (let i = 0; i < n; i++) {
    if (result.selected[i] && result.electrodogram[i] > peak) peak = result.electrodogram[i];
  }
  return peak;
}

// The electrodogram's rows, bottom to top: every inserted electrode, 1 (the most apical, the
// lowest band) first, with the channel driving it, or -1 when it is switched off.
export function electrodeRows(result) {
  const channelOf = new Map(Array.from(result.electrodes, (e, c) => [e, c]));
  return Array.from({ length: result.electrodeCount }, (_, i) => {
    const electrode = i + 1;
    return { electrode, channel: channelOf.has(electrode) ? channelOf.get(electrode) : -1 };
  });
}

// The plot's height in CSS pixels for `rows` rows.
function plotHeightFor(rows) {
  return Math.min(600, Math.max(200, rows * 22));
}

// The electrode whose row is at `y` CSS pixels from the canvas's top, or null outside the rows.
export function electrodeAt(result, y) {
  const rows = electrodeRows(result);
  const spacing = plotHeightFor(rows.length) / rows.length;
  const row = Math.floor((margin.top + plotHeightFor(rows.length) - y) / spacing);
  return row >= 0 && row < rows.length ? rows[row].electrode : null;
}

// One row per inserted electrode, electrode 1 (the lowest band) at the bottom, labelled with
// its number and its band's centre, or "off" over an empty, shaded row; each selected frame a
// vertical line from the row's baseline, its height the level over the largest level of the
// whole simulation, at most 0.75 of the row spacing (the scale at the right). Lines closer than
// a pixel share it, the tallest showing. Only the frames in the view are looked at.
export function drawElectrodogram(canvas, result, view, peak) {
  const frames = result.frames;
  const rows = electrodeRows(result);
  const picture = prepare(canvas, plotHeightFor(rows.length) + margin.top + margin.bottom);
  const { ctx, plotWidth, plotHeight, ratio } = picture;
  const spacing = plotHeight / rows.length;
  const columns = Math.max(1, Math.round(plotWidth * ratio));
  const span = view.end - view.start;
  // The column of each frame in the view, the same for every channel.
  const first = firstFrameAt(result.frameStarts, view.start * 20000);
  const last = firstFrameAt(result.frameStarts, view.end * 20000);
  const column = new Int32Array(last - first);
  for (let f = first; f < last; f++) {
    column[f - first] = Math.min(columns - 1, Math.floor(((result.frameStarts[f] / 20000 - view.start) / span) * columns));
  }
  const labelEvery = Math.ceil(13 / spacing);
  ctx.textAlign = "right";
  ctx.textBaseline = "middle";
  ctx.lineWidth = 1 / ratio;
  rows.forEach(({ electrode, channel: ch }, row) => {
    const baseline = margin.top + plotHeight - row * spacing;
    if (ch < 0) {
      ctx.fillStyle = offShade;
      ctx.fillRect(margin.left, baseline - spacing, plotWidth, spacing);
      ctx.fillStyle = "#000";
      ctx.fillText(`${electrode} · off`, margin.left - 6, baseline - spacing * 0.35);
      return;
    }
    if (row % labelEvery === 0) {
      const hz = result.bands[ch].center;
      const label = hz >= 1000 ? `${(hz / 1000).toFixed(1)} kHz` : `${Math.round(hz)} Hz`;
      ctx.fillText(`${electrode} · ${label}`, margin.left - 6, baseline - spacing * 0.35);
    }
    const tallest = new Float64Array(columns);
    for (let f = first, i = ch * frames + first; f < last; f++, i++) {
      if (!result.selected[i]) continue;
      const c = column[f - first];
      const v = peak > 0 ? result.electrodogram[i] / peak : 0;
      if (v > tallest[c]) tallest[c] = v;
    }
    ctx.beginPath();
    for (let c = 0; c < columns; c++) {
      if (tallest[c] <= 0) continue;
      const x = margin.left + (c + 0.5) / ratio;
      ctx.moveTo(x, baseline);
      ctx.lineTo(x, baseline - Math.max(tallest[c] * 0.75 * spacing, 1 / ratio));
    }
    ctx.stroke();
  });
  ctx.lineWidth = 1;
  verticalLabel(picture, "electrode, 1 = apical, lowest band");
  levelScale(picture, spacing);
  timeAxis(picture, view);
}

// The index of the first frame starting at or after `sample`.
function firstFrameAt(starts, sample) {
  let low = 0, high = starts.length;
  while (low < high) {
    const mid = (low + high) >> 1;
    if (starts[mid] < sample) low = mid + 1;
    else high = mid;
  }
  return low;
}

// The height of a line against its level: a bracket as tall as the loudest pulse's line, at the
// top row, marked 100 % and 50 % of the loudest pulse.
function levelScale({ ctx, width }, spacing) {
  const x = width - margin.right + 10;
  const baseline = margin.top + spacing;
  const full = 0.75 * spacing;
  ctx.beginPath();
  ctx.moveTo(x + 0.5, baseline);
  ctx.lineTo(x + 0.5, baseline - full);
  for (const share of [0, 0.5, 1]) {
    const y = Math.round(baseline - share * full) + 0.5;
    ctx.moveTo(x - 3, y);
    ctx.lineTo(x + 4, y);
  }
  ctx.stroke();
  ctx.textAlign = "left";
  ctx.textBaseline = "middle";
  ctx.fillText("100 %", x + 7, baseline - full);
  ctx.fillText("0 %", x + 7, baseline);
}
