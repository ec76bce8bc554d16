// The pictures' thread: spectrograms computed here, so that the page never waits on them.
// Messages in: {type: "sound", key, samples, rate}, a sound kept (averaged down if its rate is
// very high) under `key` until another replaces it; {type: "spectrogram", id, key, start, end,
// columns, rows}, answered with {id, db, window, transform} or {id, failure}.
import { prepare, spectrogram } from "./spectrogram.js";

const sounds = new Map();

self.onmessage = ({ data }) => {
  if (data.type === "sound") {
    sounds.set(data.key, prepare(data.samples, data.rate));
    return;
  }
  try {
    const sound = sounds.get(data.key);
    if (!sound) throw new Error(`no sound "${data.key}"`);
    const result = spectrogram(sound, data);
    self.postMessage({ id: data.id, ...result }, [result.db.buffer]);
  } catch (error) {
    self.postMessage({ id: data.id, failure: String(error && error.message ? error.message : error) });
  }
};
