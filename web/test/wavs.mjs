// Test inputs written as 16-bit WAV files.
import { writeFileSync } from "node:fs";

// frames: an array of per-channel Int16Arrays of equal length. extraChunk: bytes of a chunk
// placed between "fmt " and "data" (the reader skips it).
export function writeWav(path, rate, channels, { extraChunk = null } = {}) {
  const n = channels[0].length, c = channels.length;
  const extra = extraChunk ? extraChunk.length : 0;
  const buffer = Buffer.alloc(44 + extra + n * c * 2);
  buffer.write("RIFF", 0);
  buffer.writeUInt32LE(36 + extra + n * c * 2, 4);
  buffer.write("WAVEfmt ", 8);
  buffer.writeUInt32LE(16, 16);
  buffer.writeUInt16LE(1, 20);
  buffer.writeUInt16LE(c, 22);
  buffer.writeUInt32LE(rate, 24);
  buffer.writeUInt32LE(Math.min(rate * c * 2, 0xffffffff), 28);
  buffer.writeUInt16LE(c * 2, 32);
  buffer.writeUInt16LE(16, 34);
  if (extraChunk) extraChunk.copy(buffer, 36);
  buffer.write("data", 36 + extra);
  buffer.writeUInt32LE(n * c * 2, 40 + extra);
  for (let i = 0; i < n; i++) {
    for (let k = 0; k < c; k++) buffer.writeInt16LE(channels[k][i], 44 + extra + 2 * (i * c + k));
  }
  writeFileSync(path, buffer);
  return buffer;
}

// A deterministic speech-like test sound: a gliding harmonic tone with syllable-rate amplitude
// and a little noise, different in each channel (odd sums exercise the stereo mix's rounding).
export function testSound(rate, seconds, channels) {
  const n = Math.round(rate * seconds);
  let state = 12345;
  const noise = () => {
    state = (state * 1103515245 + 12345) % 2147483648;
    return state / 2147483648 - 0.5;
  };
  return Array.from({ length: channels }, (_, k) => {
    const x = new Int16Array(n);
    let phase = 0;
    for (let i = 0; i < n; i++) {
      const t = i / rate;
      const f0 = 110 + 60 * Math.sin(2 * Math.PI * 0.7 * t) + 20 * k;
      phase += (2 * Math.PI * f0) / rate;
      let v = 0;
      for (let h = 1; h <= 12; h++) v += Math.sin(h * phase) / h;
      const envelope = 0.5 + 0.5 * Math.sin(2 * Math.PI * 3.1 * t + k);
      x[i] = Math.round(9000 * envelope * v + 1500 * noise());
    }
    return x;
  });
}
