// The pictures of a simulation: the spectrograms of the original and of the simulation, and the
// electrodogram, on canvases sharing one time axis; black on white.

export const margin = { left: 92, right: 12, top: 6, bottom: 22 };
const font = "11px system-ui, sans-serif";
const maxFrequency = 10000; // the simulation's Nyquist frequency: both spectrograms to it
const range = 70; // dB below the loudest point that still shows

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

function timeAxis({ ctx, plotWidth, height }, seconds) {
  const steps = [0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 30, 60, 120, 300];
  const step = steps.find((s) => (s / seconds) * plotWidth >= 56) || 600;
  const y = height - margin.bottom;
  ctx.textAlign = "center";
  ctx.textBaseline = "top";
  ctx.beginPath();
  ctx.moveTo(margin.left, y + 0.5);
  ctx.lineTo(margin.left + plotWidth, y + 0.5);
  for (let t = 0; t <= seconds + 1e-9; t += step) {
    const x = Math.round(margin.left + (t / seconds) * plotWidth) + 0.5;
    ctx.moveTo(x, y);
    ctx.lineTo(x, y + 4);
    ctx.fillText(`${Number(t.toFixed(1))} s`, x, y + 6);
  }
  ctx.stroke();
}

// In-place radix-2 FFT of re/im (length a power of two).
function fft(re, im) {
  const n = re.length;
  for (let i = 1, j = 0; i < n; i++) {
    let bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) {
      [re[i], re[j]] = [re[j], re[i]];
      [im[i], im[j]] = [im[j], im[i]];
    }
  }
  for (let size = 2; size <= n; size <<= 1) {
    const angle = (-2 * Math.PI) / size;
    for (let start = 0; start < n; start += size) {
      for (let k = 0; k < size / 2; k++) {
        const wr = Math.cos(angle * k), wi = Math.sin(angle * k);
        const a = start + k, b = a + size / 2;
        const tr = re[b] * wr - im[b] * wi, ti = re[b] * wi + im[b] * wr;
        re[b] = re[a] - tr; im[b] = im[a] - ti;
        re[a] += tr; im[a] += ti;
      }
    }
  }
}

// Power in dB, columns x rows (row 0 at 0 Hz), one column per device pixel of the plot.
export function spectrogram(samples, rate, columns, rows) {
  let size = 256;
  while (size < rate * 0.02) size *= 2;
  const window = Float64Array.from({ length: size }, (_, i) => 0.5 - 0.5 * Math.cos((2 * Math.PI * i) / size));
  const db = new Float32Array(columns * rows).fill(-Infinity);
  const re = new Float64Array(size), im = new Float64Array(size);
  for (let c = 0; c < columns; c++) {
    const center = Math.floor(((c + 0.5) / columns) * samples.length);
    for (let i = 0; i < size; i++) {
      const k = center - size / 2 + i;
      re[i] = k >= 0 && k < samples.length ? samples[k] * window[i] : 0;
      im[i] = 0;
    }
    fft(re, im);
    for (let r = 0; r < rows; r++) {
      const bin = Math.round((((r + 0.5) / rows) * maxFrequency * size) / rate);
      if (bin <= size / 2) db[c * rows + r] = 10 * Math.log10(re[bin] ** 2 + im[bin] ** 2 + 1e-30);
    }
  }
  return db;
}

export function drawSpectrogram(canvas, samples, rate) {
  const view = prepare(canvas, 170);
  const { ctx, plotWidth, plotHeight, ratio } = view;
  const columns = Math.max(1, Math.round(plotWidth * ratio));
  const rows = Math.max(1, Math.round(plotHeight * ratio));
  const db = spectrogram(samples, rate, columns, rows);
  let top = -Infinity;
  for (const v of db) if (v > top) top = v;
  const image = new ImageData(columns, rows);
  for (let c = 0; c < columns; c++) {
    for (let r = 0; r < rows; r++) {
      const level = Math.min(1, Math.max(0, (db[c * rows + r] - top + range) / range));
      const p = 4 * ((rows - 1 - r) * columns + c);
      image.data[p] = image.data[p + 1] = image.data[p + 2] = Math.round(255 * (1 - level));
      image.data[p + 3] = 255;
    }
  }
  const scratch = document.createElement("canvas");
  scratch.width = columns;
  scratch.height = rows;
  scratch.getContext("2d").putImageData(image, 0, 0);
  ctx.drawImage(scratch, margin.left, margin.top, plotWidth, plotHeight);
  ctx.textAlign = "right";
  ctx.textBaseline = "middle";
  for (let f = 0; f <= maxFrequency; f += 2000) {
    const y = margin.top + plotHeight * (1 - f / maxFrequency);
    ctx.fillText(`${f / 1000} kHz`, margin.left - 6, Math.min(Math.max(y, margin.top + 5), margin.top + plotHeight - 5));
  }
  timeAxis(view, samples.length / rate);
}

// One row per channel, the lowest band at the bottom; each selected frame a vertical line from
// the row's baseline, its height the level over the largest level of the whole simulation, at
// most 0.75 of the row spacing. Lines closer than a pixel share it, the tallest showing.
export function drawElectrodogram(canvas, result, seconds) {
  const n = result.channels, frames = result.frames;
  const view = prepare(canvas, Math.min(560, Math.max(180, n * 18)) + margin.top + margin.bottom);
  const { ctx, plotWidth, plotHeight, ratio } = view;
  const order = [...Array(n).keys()].sort((a, b) => result.bands[a].center - result.bands[b].center);
  const spacing = plotHeight / n;
  let peak = 0;
  for (let i = 0; i < n * frames; i++) {
    if (result.selected[i] && result.electrodogram[i] > peak) peak = result.electrodogram[i];
  }
  const columns = Math.max(1, Math.round(plotWidth * ratio));
  const total = seconds * 20000;
  const labelEvery = Math.ceil(13 / spacing);
  ctx.textAlign = "right";
  ctx.textBaseline = "middle";
  ctx.lineWidth = 1 / ratio;
  order.forEach((ch, row) => {
    const baseline = margin.top + plotHeight - row * spacing;
    if (row % labelEvery === 0) {
      const hz = result.bands[ch].center;
      const label = hz >= 1000 ? `${(hz / 1000).toFixed(1)} kHz` : `${Math.round(hz)} Hz`;
      ctx.fillText(`${ch + 1} · ${label}`, margin.left - 6, baseline - spacing * 0.35);
    }
    const tallest = new Float64Array(columns);
    for (let f = 0; f < frames; f++) {
      const i = ch * frames + f;
      if (!result.selected[i]) continue;
      const c = Math.min(columns - 1, Math.floor((result.frameStarts[f] / total) * columns));
      tallest[c] = Math.max(tallest[c], peak > 0 ? result.electrodogram[i] / peak : 0);
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
  timeAxis(view, seconds);
}
