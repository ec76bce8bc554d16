// A streaming rate converter for the Live control, where the browser does not take the
// microphone into a 20000 Hz AudioContext (or the page is asked to convert): between the
// device's rate and the stream's, in the AudioWorklet, allocation-free after construction.
//
// Band-limited interpolation with a Kaiser-windowed sinc (beta 8, about -80 dB), one exact
// polyphase table for the rational ratio: output sample m lies at m x from / to input samples,
// and is the sum over the 2 halfWidth input samples around it. The low-pass is at 10 kHz, the
// half-way point of a transition from 9 to 11 kHz, so the band the simulation uses (up to
// 9 kHz) passes flat (within 0.01 dB), and what would fold back into it lies below -75 dB. Its
// output m is the band-limited input at m from / to, known once halfWidth input samples more
// have come: the delay of the conversion.

const cutoff = 10000;
const transition = 2000;
const beta = 8;

function gcd(a, b) {
  return b ? gcd(b, a % b) : a;
}

// The zeroth-order modified Bessel function of the first kind (its series).
function bessel0(x) {
  let sum = 1, term = 1;
  for (let k = 1; k < 50; k++) {
    term *= (x / (2 * k)) ** 2;
    sum += term;
  }
  return sum;
}

export class Converter {
  constructor(from, to, capacity = 4096) {
    const g = gcd(from, to);
    this.a = from / g; // output m lies at m a / b input samples
    this.b = to / g;
    // A kernel spanning (A - 8) / (2.285 x 2 pi x transition / from) input samples.
    this.halfWidth = Math.ceil(((beta / 0.1102 + 8.7 - 8) * from) / (2.285 * 2 * Math.PI * transition) / 2);
    const H = this.halfWidth, taps = 2 * H;
    const wc = Math.min(cutoff, to / 2, from / 2) / from; // cycles per input sample
    this.table = new Float64Array(this.b * taps);
    for (let p = 0; p < this.b; p++) {
      let sum = 0;
      for (let k = 0; k < taps; k++) {
        const tau = k - (H - 1) - p / this.b; // input sample i - H + 1 + k against the output's time
        const s = tau === 0 ? 1 : Math.sin(2 * Math.PI * wc * tau) / (2 * Math.PI * wc * tau);
        const r = tau / H;
        const w = Math.abs(r) < 1 ? bessel0(beta * Math.sqrt(1 - r * r)) / bessel0(beta) : 0;
        this.table[p * taps + k] = s * w;
        sum += s * w;
      }
      for (let k = 0; k < taps; k++) this.table[p * taps + k] /= sum; // each phase passes 0 Hz at 1
    }
    this.capacity = capacity;
    this.history = new Float64Array(capacity + taps);
    this.reset();
  }

  reset() {
    this.history.fill(0);
    this.length = this.halfWidth - 1; // input samples held (the first are zeros before input 0)
    this.consumed = 0; // input samples dropped from the front
    this.m = 0; // the next output
  }

  // n input samples from x (at offset); then up to `max` outputs into y (at offset): how many.
  // Output m needs the input up to floor(m a / b) + halfWidth.
  process(x, offset, n, y, yOffset, max) {
    const H = this.halfWidth, taps = 2 * H, h = this.history, table = this.table;
    for (let j = 0; j < n; j++) h[this.length++] = x[offset + j];
    let count = 0;
    while (count < max) {
      const t = this.m * this.a;
      const i = Math.floor(t / this.b), p = t - i * this.b;
      const first = i - this.consumed; // the history's index of input i - H + 1
      if (first + taps > this.length) break;
      let v = 0;
      const row = p * taps;
      for (let k = 0; k < taps; k++) v += h[first + k] * table[row + k];
      y[yOffset + count++] = v;
      this.m++;
    }
    // Keep what the next outputs need.
    const keep = Math.floor((this.m * this.a) / this.b) - this.consumed;
    if (keep > this.capacity / 2) {
      h.copyWithin(0, keep, this.length);
      this.length -= keep;
      this.consumed += keep;
    }
    return count;
  }
}

// The worklet's pair, from `device` Hz to `rate` Hz and back: the way up is primed with the
// zeros that keep it from running dry as the way down's output per quantum varies (by one
// sample); the pair's delay is the priming's, prime / rate seconds.
export function converterPair(device, rate) {
  const down = new Converter(device, rate), up = new Converter(rate, device);
  const prime = Math.ceil((down.halfWidth * rate) / device) + up.halfWidth + 2;
  up.process(new Float64Array(prime), 0, prime, null, 0, 0);
  return { down, up, prime };
}

