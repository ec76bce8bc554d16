// The listening page: a sound in, the settings checked, the simulation run in the worker, and
// the two sounds, pictures and report out.
import createCihear from "./cihear.js";
import { readAudio, Recorder, InputError } from "./audio-input.js";
import { Controls } from "./controls.js";
import { EngineClient, CancelledError } from "./engine-client.js";
import { drawElectrodogram, drawSpectrogram, margin } from "./figures.js";
import { Player } from "./player.js";
import { report } from "./report.js";
import { encodeWav16 } from "./wav.js";

const $ = (id) => document.getElementById(id);
const outputRate = 20000;
// For the console: the page's current input, last result and player.
const state = { input: null, result: null, running: false, again: false, recorder: null };
window.cihearPage = state;

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
  let timer = null;
  const controls = new Controls(engine, $("params"), $("presets"), $("seed"), (valid) => {
    clearTimeout(timer);
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
      $("input-status").textContent = input.description +
        (input.exact ? "" : " (not a 16-bit WAV: the command line cannot read it, so there is no file to compare with)");
      try {
        player.setBuffer("original", input.samples, input.rate);
      } catch {
        $("input-status").textContent += `; this browser cannot play sound at ${input.rate} Hz`;
      }
      $("figures").hidden = false;
      drawSpectrogram($("spectrogram-in"), input.samples, input.rate);
      performance.measure("cihear: show the sound", { start: began });
      run();
    } catch (error) {
      $("input-status").textContent = "No sound.";
      showError(error instanceof InputError ? error.message : `The sound could not be read: ${error.message || error}.`);
    }
  }

  $("file").addEventListener("change", () => {
    const file = $("file").files[0];
    if (file) useInput(file.arrayBuffer().then((bytes) => readAudio(client, bytes, file.name)).then((i) => ({ ...i, name: file.name })));
  });
  $("example").addEventListener("click", () => {
    $("file").value = "";
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
      const what = `Simulating ${seconds.toFixed(1)} s of sound`;
      if (expected === null) {
        $("progress").removeAttribute("value");
        $("progress-text").textContent = `${what}… ${elapsed.toFixed(0)} s`;
      } else {
        $("progress").value = Math.min(0.99, (elapsed * 1000) / expected);
        const left = Math.max(0, expected / 1000 - elapsed);
        $("progress-text").textContent = `${what}: about ${left.toFixed(0)} s left`;
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
      performance.measure("cihear: simulate", { start: began });
      const shown = performance.now();
      show(result, seed, (performance.now() - began) / 1000);
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

  function show(result, seed, seconds) {
    state.result = result;
    const input = state.input;
    const floats = Float32Array.from(result.pcm, (v) => v / 32768);
    player.setBuffer("simulation", floats, outputRate);
    $("play").disabled = false;
    $("position").disabled = false;
    $("position").max = player.duration.toFixed(2);
    if (Number($("loop-end").value) === 0) $("loop-end").value = player.duration.toFixed(2);
    drawSpectrogram($("spectrogram-out"), floats, outputRate);
    drawElectrodogram($("electrodogram"), result, result.pcm.length / outputRate);
    $("electrodogram").setAttribute("aria-label",
      `Electrodogram of ${result.channels} channels over ${(result.pcm.length / outputRate).toFixed(1)} s`);
    const link = $("download");
    if (link.href) URL.revokeObjectURL(link.href);
    link.href = URL.createObjectURL(encodeWav16(result.pcm, outputRate));
    link.download = `${input.name.replace(/\.[^.]*$/, "")}-cihear.wav`;
    link.removeAttribute("aria-disabled");
    $("report").value = report({ table: controls.table, settings: result.settings, result, input,
      seed, version: engine.version() });
    $("copy").disabled = false;
    $("input-status").textContent = `${input.description}. Simulated in ${seconds.toFixed(1)} s.`;
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
  const updateLoop = () => {
    const a = Number($("loop-start").value), b = Number($("loop-end").value);
    player.setLoop($("loop").checked && b > a ? { start: a, end: Math.min(b, player.duration) } : null);
    drawSelection();
  };
  for (const id of ["loop", "loop-start", "loop-end"]) $(id).addEventListener("change", updateLoop);

  const plotX = (seconds) => {
    const width = $("figures").clientWidth - margin.left - margin.right;
    return margin.left + (seconds / (player.duration || 1)) * width;
  };
  function drawSelection() {
    const a = Number($("loop-start").value), b = Number($("loop-end").value);
    const box = $("selection");
    box.hidden = !$("loop").checked || !(b > a) || !state.result;
    box.style.left = `${plotX(a)}px`;
    box.style.width = `${plotX(b) - plotX(a)}px`;
  }
  function follow() {
    const t = player.position();
    $("position").value = t;
    $("time").textContent = `${t.toFixed(2)} s`;
    $("playhead").hidden = !state.result;
    $("playhead").style.left = `${plotX(t)}px`;
    if (player.playing) requestAnimationFrame(follow);
  }
  // Click: jump there; drag: choose the loop.
  let dragFrom = null;
  const timeAt = (event) => {
    const width = $("figures").clientWidth - margin.left - margin.right;
    const x = event.clientX - $("figures").getBoundingClientRect().left - margin.left;
    return Math.max(0, Math.min(1, x / width)) * player.duration;
  };
  $("figures").addEventListener("pointerdown", (event) => {
    if (event.target.tagName === "CANVAS" && state.result) dragFrom = { x: event.clientX, t: timeAt(event) };
  });
  window.addEventListener("pointerup", (event) => {
    if (!dragFrom) return;
    const t = timeAt(event);
    if (Math.abs(event.clientX - dragFrom.x) < 5) {
      player.seek(t);
    } else {
      $("loop-start").value = Math.min(t, dragFrom.t).toFixed(2);
      $("loop-end").value = Math.max(t, dragFrom.t).toFixed(2);
      $("loop").checked = true;
      updateLoop();
    }
    dragFrom = null;
    follow();
  });

  let resizeTimer = null;
  window.addEventListener("resize", () => {
    clearTimeout(resizeTimer);
    resizeTimer = setTimeout(() => {
      if (state.input) drawSpectrogram($("spectrogram-in"), state.input.samples, state.input.rate);
      if (state.result) {
        const floats = Float32Array.from(state.result.pcm, (v) => v / 32768);
        drawSpectrogram($("spectrogram-out"), floats, outputRate);
        drawElectrodogram($("electrodogram"), state.result, state.result.pcm.length / outputRate);
      }
      drawSelection();
      follow();
    }, 200);
  });
  setState("ready");
}

start();
