// The listening page: a sound in, the settings checked, the simulation run in the worker, and
// the two sounds, pictures and report out.
import createCihear from "./cihear.js";
import { readAudio, readFile, Recorder, InputError } from "./audio-input.js";
import { Controls } from "./controls.js";
import { EngineClient, CancelledError } from "./engine-client.js";
import { Live, LiveError } from "./live.js";
import { LiveView } from "./live-view.js";
import { Pictures } from "./pictures.js";
import { Player } from "./player.js";
import { report } from "./report.js";
import { encodeWav16 } from "./wav.js";

const $ = (id) => document.getElementById(id);
const outputRate = 20000;
// For the console: the page's current input, last result and player.
const state = { input: null, result: null, running: false, again: false, recorder: null };
window.cihearPage = state;

// "12 electrodes, 8 stimulated per cycle, 1800 pulses/s each", of the effective settings and
// the electrodes switched off ("map nucleus22, 22 electrodes, 2 switched off (3, 7), ...").
function electrodes(s, off) {
  const map = s.map !== "none" ? `map ${s.map}, ` : "";
  const implant = s.n_chan_ci > s.n_inserted_ch ? ` (of ${s.n_chan_ci} on the array)` : "";
  const switched = off.length ? `, ${off.length} switched off (${off.join(", ")})` : "";
  return `${map}${s.n_inserted_ch} electrodes${implant}${switched}, ${s.n_on} stimulated per cycle, ${s.rate} pulses/s each`;
}

function setState(name) {
  document.body.dataset.state = name;
}

function showError(text) {
  $("error").textContent = text;
  $("error").hidden = !text;
  if (text) setState("error");
}

async function start() {
  let engine;
  try {
    engine = await createCihear();
  } catch (error) {
    showError(`The simulator could not start in this browser: ${error.message || error}.`);
    return;
  }
  $("version").textContent = engine.version();
  const client = new EngineClient();
  const player = new Player((playing) => {
    $("play").textContent = playing ? "Pause" : "Play";
    if (playing) requestAnimationFrame(follow);
  });
  state.player = player;
  const pictures = new Pictures({
    box: $("figures"), input: $("spectrogram-in"), output: $("spectrogram-out"),
    electrodogram: $("electrodogram"), explain: $("electrodogram-explain"), playhead: $("playhead"), selection: $("selection"), view: $("view"),
  }, {
    seek: (t) => {
      player.seek(t);
      follow();
    },
    loop: (a, b) => {
      $("loop-start").value = a.toFixed(2);
      $("loop-end").value = b.toFixed(2);
      $("loop").checked = true;
      updateLoop();
    },
    electrode: (e, off) => controls.toggleElectrode(e, off),
  });
  state.pictures = pictures;
  // Live: the microphone through the stream, with the settings as they change.
  const liveView = new LiveView($("live-electrodogram"), $("live-status"));
  const live = new Live({
    onStatus: (status) => {
      state.liveStatus = status;
      if (status.refused) showError(`Live kept its settings: ${status.refused}.`);
      else {
        liveView.add(status.columns);
        liveView.show(status);
      }
    },
  });
  state.live = live;
  let timer = null;
  const controls = new Controls(engine, $("params"), $("presets"), $("seed"), (valid) => {
    clearTimeout(timer);
    if (valid) live.update(controls.pairs, controls.seed());
    if (valid && $("auto").checked && state.input) timer = setTimeout(run, 400);
  });

  async function useInput(promise) {
    showError("");
    $("input-status").textContent = "Reading the sound…";
    try {
      const began = performance.now();
      const input = await promise;
      performance.measure("cihear: read the sound", { start: began });
      state.input = input;
      state.result = null;
      player.clear();
      follow(); // the position and the playhead back at the start
      $("input-status").textContent = input.description +
        (input.exact ? "" : " (not a 16-bit WAV: the command line cannot read it, so there is no file to compare with)");
      try {
        player.setBuffer("original", input.samples, input.rate);
      } catch {
        $("input-status").textContent += `; this browser cannot play sound at ${input.rate} Hz`;
      }
      $("zoom").hidden = false;
      pictures.setSound(input.samples, input.rate);
      performance.measure("cihear: show the sound", { start: began });
      run();
    } catch (error) {
      $("input-status").textContent = "No sound.";
      showError(error instanceof InputError ? error.message : `The sound could not be read: ${error.message || error}.`);
    }
  }

  $("file").addEventListener("change", () => {
    const file = $("file").files[0];
    if (file) useInput(readFile(client, file).then((i) => ({ ...i, name: file.name })));
  });
  $("example").addEventListener("click", () => {
    $("file").value = "";
    // At the defaults every channel is stimulated in every cycle; the example shows the
    // selection of 8 of the 12 instead, unless the settings were changed.
    if (controls.atDefaults()) {
      controls.set({ n_on: 8 });
      clearTimeout(timer);
      $("example-note").hidden = false;
    }
    useInput(fetch("speech.wav").then((r) => {
      if (!r.ok) throw new InputError("The example is missing from this site.");
      return r.arrayBuffer();
    }).then((bytes) => readAudio(client, bytes, "speech.wav")).then((i) => ({ ...i, name: "speech.wav" })));
  });
  $("record").addEventListener("click", async () => {
    if (state.recorder) {
      const recorder = state.recorder;
      state.recorder = null;
      $("record").textContent = "Record from the microphone";
      useInput(recorder.stop().then((i) => ({ ...i, name: "recording" })));
      return;
    }
    showError("");
    $("file").value = "";
    const recorder = new Recorder();
    try {
      await recorder.start();
    } catch (error) {
      showError(error.message);
      return;
    }
    state.recorder = recorder;
    $("record").textContent = "Stop recording";
    $("input-status").textContent = "Recording… press Stop recording when done.";
  });

  // The simulation, with an indication of progress while it runs.
  async function run() {
    if (!state.input) {
      showError("Choose a sound first: open a file, record, or use the example.");
      return;
    }
    if (!controls.check()) {
      showError("Some settings are refused (see the messages beside them).");
      controls.focusFirstInvalid();
      return;
    }
    if (state.running) {
      state.again = true;
      return;
    }
    showError("");
    state.running = true;
    setState("running");
    const input = state.input;
    const seconds = input.samples.length / input.rate;
    const channels = controls.settings.n_inserted_ch;
    const began = performance.now();
    $("progress-box").hidden = false;
    $("cancel").hidden = false;
    const tick = () => {
      const elapsed = (performance.now() - began) / 1000;
      const expected = client.estimate(seconds, channels);
      state.expected = expected;
      const what = `Simulating ${seconds.toFixed(1)} s of sound`;
      if (expected === null) {
        $("progress").removeAttribute("value");
        $("progress-text").textContent = `${what}… ${elapsed.toFixed(0)} s`;
      } else {
        $("progress").value = Math.min(0.99, (elapsed * 1000) / expected);
        const left = expected / 1000 - elapsed;
        $("progress-text").textContent = left >= 0.5 ? `${what}: about ${left.toFixed(0)} s left`
          : `${what}: nearly done, ${elapsed.toFixed(0)} s so far (longer than foreseen)`;
      }
    };
    tick();
    const ticker = setInterval(tick, 250);
    const seed = controls.seed();
    const settingsPairs = controls.pairs;
    try {
      const result = await client.simulate(input.samples, input.rate, settingsPairs, seed);
      if (state.input !== input) return;
      if (!result.ok) {
        showError(`The simulation was refused: ${result.message}.`);
        return;
      }
      if (result.pcm.length === 0) {
        // The command line writes an empty file here; the page says why there is nothing.
        showError(`The simulation holds no samples: ${input.samples.length} samples at ${input.rate} Hz ` +
          `last less than one sample at ${outputRate} Hz.`);
        return;
      }
      performance.measure("cihear: simulate", { start: began });
      const shown = performance.now();
      show(result, seed, settingsPairs, (performance.now() - began) / 1000);
      performance.measure("cihear: show the simulation", { start: shown });
      setState("done");
    } catch (error) {
      if (error instanceof CancelledError) {
        $("input-status").textContent = `${input.description}. Simulation cancelled.`;
        setState("cancelled");
      } else {
        showError(`The simulation failed: ${error.message || error}.`);
      }
    } finally {
      clearInterval(ticker);
      state.running = false;
      $("progress-box").hidden = true;
      $("cancel").hidden = true;
      if (state.again) {
        state.again = false;
        run();
      }
    }
  }

  function show(result, seed, pairs, seconds) {
    state.result = result;
    const input = state.input;
    // A plain loop: Float32Array.from with a function takes about 100 times longer.
    const floats = new Float32Array(result.pcm.length);
    for (let i = 0; i < floats.length; i++) floats[i] = result.pcm[i] / 32768;
    player.setBuffer("simulation", floats, outputRate);
    $("play").disabled = false;
    $("position").disabled = false;
    $("position").max = player.duration.toFixed(2);
    if (Number($("loop-end").value) === 0) $("loop-end").value = player.duration.toFixed(2);
    pictures.setResult(result, floats);
    $("electrodogram-title").textContent = `Electrodogram: ${electrodes(result.settings, result.off)}`;
    $("electrodogram").setAttribute("aria-label",
      `Electrodogram of ${result.electrodeCount} electrodes over ${(result.pcm.length / outputRate).toFixed(1)} s`);
    const link = $("download");
    if (link.href) URL.revokeObjectURL(link.href);
    link.href = URL.createObjectURL(encodeWav16(result.pcm, outputRate));
    link.download = `${input.name.replace(/\.[^.]*$/, "")}-cihear.wav`;
    link.removeAttribute("aria-disabled");
    $("report").value = report({ table: controls.table, settings: result.settings, pairs, result, input,
      seed, version: engine.version(), mapSource: engine.mapSource });
    $("copy").disabled = false;
    $("input-status").textContent = `${input.description}. Simulated in ${seconds.toFixed(1)} s.`;
    follow();
  }

  const liveWhich = () => document.querySelector('input[name="live-which"]:checked').value;
  const stopLive = () => {
    live.stop();
    $("live").textContent = "Live: from the microphone to your headphones";
    $("live-panel").hidden = true;
  };
  $("live-convert").addEventListener("change", () => {
    live.conversion = $("live-convert").checked ? "page" : "auto";
    if (live.running) {
      stopLive();
      $("live").click();
    }
  });
  $("live").addEventListener("click", async () => {
    if (live.running) {
      stopLive();
      return;
    }
    showError("");
    if (!controls.check()) {
      showError("Some settings are refused (see the messages beside them).");
      return;
    }
    $("live").disabled = true;
    try {
      await live.start(controls.pairs, controls.seed(), liveWhich());
      $("live").textContent = "Stop live";
      $("live-panel").hidden = false;
      $("live-status").textContent = "Starting…";
    } catch (error) {
      showError(error instanceof LiveError ? error.message : `Live could not start: ${error.message || error}.`);
    } finally {
      $("live").disabled = false;
    }
  });
  for (const radio of document.querySelectorAll('input[name="live-which"]')) {
    radio.addEventListener("change", () => live.choose(radio.value));
  }

  $("run").addEventListener("click", run);
  $("cancel").addEventListener("click", () => client.cancel());
  $("copy").addEventListener("click", async () => {
    try {
      await navigator.clipboard.writeText($("report").value);
      $("copy-status").textContent = "Copied.";
    } catch {
      $("report").select();
      $("copy-status").textContent = "Selected: copy it with Ctrl+C.";
    }
  });

  // Playing, A/B, position and loop.
  $("play").addEventListener("click", () => (player.playing ? player.stop() : player.play()));
  for (const radio of document.querySelectorAll('input[name="which"]')) {
    radio.addEventListener("change", () => player.choose(radio.value));
  }
  $("position").addEventListener("input", () => player.seek(Number($("position").value)));
  const loopShown = () => {
    const a = Number($("loop-start").value), b = Number($("loop-end").value);
    return $("loop").checked && b > a ? { start: a, end: Math.min(b, player.duration) } : null;
  };
  function updateLoop() {
    player.setLoop(loopShown());
    follow();
  }
  for (const id of ["loop", "loop-start", "loop-end"]) $(id).addEventListener("change", updateLoop);

  function follow() {
    const t = player.position();
    $("position").value = t;
    $("time").textContent = `${t.toFixed(2)} s`;
    if (player.playing) pictures.follow(t);
    pictures.overlay(t, loopShown());
    if (player.playing) requestAnimationFrame(follow);
  }
  pictures.wire({ in: $("zoom-in"), out: $("zoom-out"), earlier: $("earlier"), later: $("later"),
    loop: $("zoom-loop"), all: $("zoom-all") }, { position: () => player.position(), loop: loopShown, after: follow });
  setState("ready");
  client.calibrate();
}

start();
