// The 16-bit mono WAV file the command line writes: the canonical 44-byte header, then the
// samples in little-endian order.
export function encodeWav16(samples, rate) {
  const dataBytes = samples.length * 2;
  // On a little-endian machine (nearly every one) an Int16Array's bytes are the file's: the
  // blob takes them as they are, behind the header, without a copy made for it.
  const little = new Uint8Array(Uint16Array.of(1).buffer)[0] === 1;
  const view = new DataView(new ArrayBuffer(44 + (little ? 0 : dataBytes)));
  const id = (offset, text) => {
    for (let i = 0; i < 4; i++) view.setUint8(offset + i, text.charCodeAt(i));
  };
  id(0, "RIFF");
  view.setUint32(4, 36 + dataBytes, true);
  id(8, "WAVE");
  id(12, "fmt ");
  view.setUint32(16, 16, true);
  view.setUint16(20, 1, true); // PCM
  view.setUint16(22, 1, true); // mono
  view.setUint32(24, rate, true);
  view.setUint32(28, rate * 2, true);
  view.setUint16(32, 2, true);
  view.setUint16(34, 16, true);
  id(36, "data");
  view.setUint32(40, dataBytes, true);
  if (little) {
    const pcm = samples instanceof Int16Array ? samples : new Int16Array(samples);
    return new Blob([view.buffer, pcm], { type: "audio/wav" });
  }
  for (let i = 0; i < samples.length; i++) view.setInt16(44 + 2 * i, samples[i], true);
  return new Blob([view.buffer], { type: "audio/wav" });
}
