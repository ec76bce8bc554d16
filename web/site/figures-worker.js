// The pictures' thread: spectrograms computed here, so that the page never waits on them.
// Message in: {id, samples, rate, offset, start, end, columns, rows}; answered with
// {id, db, window, transform} or {id, failure}.
import { spectrogram } from "./spectrogram.js";

self.onmessage = ({ data }) => {
  try {
    const result = spectrogram(data);
    self.postMessage({ id: data.id, ...result }, [result.db.buffer]);
  } catch (error) {
    self.postMessage({ id: data.id, failure: String(error && error.message ? error.message : error) });
  }
};
