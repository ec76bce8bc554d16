// The spectrogram of a stretch of sound, computed for a picture of `columns` x `rows` pixels:
// its cost follows the picture, not the file. A sound at a very high sample rate is averaged
// down once to a working rate near 48 kHz (prepare), so the transform never grows with the
// rate; the window follows the stretch shown (20 ms on a long view, a few milliseconds on a
// 50 ms one), and the transform length is bounded.

export const maxFrequency = 10000; // the simulation's Nyquist frequency: both pictures to it
const workingRate = 48000;
const longestWindow = 0.02;
const shortestWindow = 0.0025;
const largestTransform = 4096;

// The window for a view of `seconds`: about a sixteenth of it, from 2.5 ms to 20 ms.
export function windowSeconds(seconds) {
  return Math.min(longestWindow, Math.max(shortestWindow, seconds / 16));
}

// Bit-reversal order and twiddle factors of an n-point transform (n a power of two).
function plan(n) {
  const reverse = new Uint32Array(n);
  for (let i = 1, j = 0; i < n; i++) {
    let bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    reverse[i] = j;
  }
  const cos = new Float64Array(n / 2), sin = new Float64Array(n / 2);
  for (let k = 0; k < n / 2; k++) {
    cos[k] = Math.cos((2 * Math.PI * k) / n);
    sin[k] = -Math.sin((2 * Math.PI * k) / n);
  }
  return { n, reverse, cos, sin };
}

// In-place radix-2 transform of re/im with a plan of their length.
function fft({ n, reverse, cos, sin }, re, im) {
  for (let i = 1; i < n; i++) {
    const j = reverse[i];
    if (i < j) {
      [re[i], re[j]] = [re[j], re[i]];
      [im[i], im[j]] = [im[j], im[i]];
    }
  }
  for (let size = 2; size <= n; size <<= 1) {
    const half = size >> 1, stride = n / size;
    for (let start = 0; start < n; start += size) {
      for (let k = 0; k < half; k++) {
        const wr = cos[k * stride], wi = sin[k * stride];
        const a = start + k, b = a + half;
        const tr = re[b] * wr - im[b] * wi, ti = re[b] * wi + im[b] * wr;
        re[b] = re[a] - tr;
        im[b] = im[a] - ti;
        re[a] += tr;
        im[a] += ti;
      }
    }
  }
}

// The samples averaged in groups of `factor` (a crude low-pass before taking every factor-th).
function averageDown(samples, factor) {
  if (factor === 1) return samples;
  const out = new Float64Array(Math.floor(samples.length / factor));
  for (let j = 0; j < out.length; j++) {
    let sum = 0;
    for (let i = j * factor; i < (j + 1) * factor; i++) sum += samples[i];
    out[j] = sum / factor;
  }
  return out;
}

// A sound ready for its spectrograms: {x, r (its rate), first (the time of x[0])}, its samples
// at `rate` Hz averaged down when the rate is far above the working rate.
export function prepare(samples, rate) {
  const factor = rate > 2 * workingRate ? Math.floor(rate / workingRate) : 1;
  // x[0] is the mean of the first group: its time is the group's centre.
  return { x: averageDown(samples, factor), r: rate / factor, first: (factor - 1) / 2 / rate };
}

// Levels in dB re a full-scale sine (a sine of amplitude 1 reads 0 dB), columns x rows (row 0
// at 0 Hz, -Infinity above the sound's Nyquist frequency), of a prepared sound from `start` to
// `end` seconds. {db, window (seconds), transform (its length)}.
export function spectrogram({ x, r, first }, { start, end, columns, rows }) {
  const length = Math.max(4, Math.round(windowSeconds(end - start) * r));
  let n = 16;
  while (n < largestTransform && (n < length || n < (r * rows) / maxFrequency)) n *= 2;
  const used = Math.min(length, n);
  const window = new Float64Array(used);
  let windowSum = 0;
  for (let i = 0; i < used; i++) {
    window[i] = 0.5 - 0.5 * Math.cos((2 * Math.PI * (i + 0.5)) / used);
    windowSum += window[i];
  }
  // A sine of amplitude 1 peaks at windowSum / 2 in its bin.
  const reference = 20 * Math.log10(windowSum / 2);
  const transform = plan(n);
  const re = new Float64Array(n), im = new Float64Array(n);
  const db = new Float32Array(columns * rows).fill(-Infinity);
  const span = end - start;
  for (let c = 0; c < columns; c++) {
    const centre = Math.round((start + ((c + 0.5) / columns) * span - first) * r);
    const from = centre - Math.floor(used / 2);
    re.fill(0);
    im.fill(0);
    for (let i = 0; i < used; i++) {
      const k = from + i;
      if (k >= 0 && k < x.length) re[i] = x[k] * window[i];
    }
    fft(transform, re, im);
    levels(re, im, n, r, rows, reference, db.subarray(c * rows, (c + 1) * rows));
  }
  return { db, window: used / r, transform: n };
}

// Each row the loudest bin of its stretch of frequencies, in dB less `reference`.
function levels(re, im, n, r, rows, reference, out) {
  for (let row = 0; row < rows; row++) {
    const low = Math.round(((row * maxFrequency) / rows) * (n / r));
    const high = Math.max(low, Math.round((((row + 1) * maxFrequency) / rows) * (n / r)) - 1);
    let power = -1;
    for (let bin = low; bin <= high && bin <= n / 2; bin++) {
      power = Math.max(power, re[bin] * re[bin] + im[bin] * im[bin]);
    }
    if (power >= 0) out[row] = 10 * Math.log10(power + 1e-30) - reference;
  }
}
