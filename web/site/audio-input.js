// Turning a file, a microphone recording or the bundled example into mono samples for the
// engine. A 16-bit WAV goes through the command line's own reader (in the worker), so its
// samples are exactly the program's; anything else is decoded by the browser.

// The rate the browser's decoder converts other formats to.
const decodeRate = 48000;

// The largest file the page reads, and the longest sound: the samples are held several times
// over (as read, as played, as simulated, and the electrodogram), which a browser tab cannot
// afford for hours of sound. 64 MiB is 25 minutes of 16-bit mono at 22.05 kHz, 12.7 at
// 44.1 kHz: such a file was simulated in 57 s with 1.6 GB of the tab's memory, where one of
// 128 MiB left the page unanswering for minutes.
export const maxFileBytes = 64 * 1024 * 1024;
const maxSamples = maxFileBytes / 2;

export class InputError extends Error {}

function megabytes(bytes) {
  return `${(bytes / (1024 * 1024)).toFixed(bytes < 10 * 1024 * 1024 ? 1 : 0)} MB`;
}

function tooLarge(name, what) {
  return new InputError(`${name} is too large for the page: ${what}; the page reads files up to ` +
    `${megabytes(maxFileBytes)} (the cihear command line reads larger ones).`);
}

// A chosen file, refused by its size before it is read.
export async function readFile(engine, file) {
  if (file.size > maxFileBytes) throw tooLarge(file.name, megabytes(file.size));
  return readAudio(engine, await file.arrayBuffer(), file.name);
}

// Whether the bytes begin as a WAV file does (RIFF or RIFX, then WAVE): such a file is read by
// the program's own reader alone, as the command line reads it.
function isWav(bytes) {
  const head = new Uint8Array(bytes, 0, Math.min(12, bytes.byteLength));
  const text = String.fromCharCode(...head);
  return /^RIF[FX]....WAVE$/s.test(text);
}

// {samples (Float64Array), rate, exact, description} from the bytes of a file.
export async function readAudio(engine, bytes, name) {
  const loaded = await engine.loadWav(bytes.slice(0));
  if (loaded.ok) {
    if (loaded.samples.length === 0) throw new InputError(`${name} holds no samples.`);
    const kind = loaded.channels === 2 ? "stereo, mixed to mono as the program does" : "mono";
    return {
      samples: loaded.samples,
      rate: loaded.rate,
      exact: true,
      description: `${name}: 16-bit WAV, ${loaded.rate} Hz, ${kind}`,
    };
  }
  // A WAV file that the program refuses is refused here with its words, unless the program's
  // reader found samples of another kind than 16-bit (8-bit, 24-bit, floating point): those,
  // and other formats, are left to the browser.
  const why = `${name} cannot be read: ${loaded.message}.`;
  const wav = isWav(bytes); // the decoder takes the bytes over
  if (wav && !(loaded.wav && loaded.bits !== 16)) throw new InputError(why);
  return decode(bytes, name).catch((error) => {
    throw wav ? new InputError(why) : error;
  });
}

async function decode(bytes, name) {
  let buffer;
  try {
    const context = new OfflineAudioContext(1, 1, decodeRate);
    buffer = await context.decodeAudioData(bytes);
  } catch (error) {
    throw new InputError(
      `${name} cannot be read: it is not a sound file this browser can decode.`,
    );
  }
  if (buffer.length > maxSamples) {
    throw tooLarge(name, `${(buffer.length / buffer.sampleRate / 60).toFixed(0)} minutes of sound`);
  }
  const samples = mixDown(buffer);
  if (samples.length === 0) throw new InputError(`${name} holds no samples.`);
  return {
    samples,
    rate: buffer.sampleRate,
    exact: false,
    description:
      `${name}: decoded by the browser at ${buffer.sampleRate} Hz` +
      (buffer.numberOfChannels > 1 ? `, ${buffer.numberOfChannels} channels averaged` : ""),
  };
}

function mixDown(buffer) {
  const mono = new Float64Array(buffer.length);
  for (let c = 0; c < buffer.numberOfChannels; c++) {
    const data = buffer.getChannelData(c);
    for (let i = 0; i < data.length; i++) mono[i] += data[i] / buffer.numberOfChannels;
  }
  return mono;
}

// A microphone recording: start() asks for the microphone, stop() resolves to the samples.
export class Recorder {
  async start() {
    if (!navigator.mediaDevices || !window.MediaRecorder) {
      throw new InputError("This browser cannot record from a microphone here (a page served " +
        "over http:// from another machine is not allowed to: use https:// or localhost).");
    }
    try {
      this.stream = await navigator.mediaDevices.getUserMedia({ audio: true });
    } catch (error) {
      throw new InputError(`The microphone is not available: ${error.message || error.name}.`);
    }
    this.chunks = [];
    this.recorder = new MediaRecorder(this.stream);
    this.recorder.ondataavailable = (event) => this.chunks.push(event.data);
    this.stopped = new Promise((resolve) => (this.recorder.onstop = resolve));
    this.recorder.start();
  }

  async stop() {
    this.recorder.stop();
    await this.stopped;
    for (const track of this.stream.getTracks()) track.stop();
    const blob = new Blob(this.chunks);
    if (blob.size === 0) throw new InputError("The recording is empty: nothing was captured.");
    const result = await decode(await blob.arrayBuffer(), "Recording").catch(() => {
      throw new InputError("The recording is empty or could not be decoded.");
    });
    return { ...result, description: result.description.replace("decoded by the browser", "microphone") };
  }
}
