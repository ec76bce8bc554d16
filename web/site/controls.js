// The simulation parameters as labelled controls, generated from the engine's parameter table,
// checked on every change by the engine's strict setup (the same limits and cascades as the
// library), with each refusal and adjustment shown beside its control.

// The controls in three groups, the less common ones of each folded away. A parameter the
// table gains later lands among the last group's folded ones.
const groups = [
  { title: "Implant", main: ["map", "n_chan_ci", "n_inserted_ch", "length_ci", "off"], more: ["interact_decay", "freq_shift"] },
  { title: "Coding strategy", main: ["n_on", "rate", "carrier"], more: ["envelope_detection", "synchronization", "sine_phase"] },
  { title: "Sound processed", main: ["f_min", "f_max", "bands", "eas", "cutoff_freq"], more: ["band_edges"] },
];

// What a visitor reads; the option's own name follows in small type.
const labels = {
  n_chan_ci: "Electrodes on the array",
  n_inserted_ch: "Electrodes inserted",
  length_ci: "Length of the array",
  interact_decay: "Current spread",
  freq_shift: "Sound at the electrodes' place",
  n_on: "Electrodes stimulated per cycle",
  rate: "Pulse rate per electrode",
  envelope_detection: "Envelope detection",
  synchronization: "Pulse-train share of the carrier",
  f_min: "Lowest frequency",
  f_max: "Highest frequency",
  eas: "Hearing aid for the low frequencies (EAS)",
  cutoff_freq: "Hearing aid to implant crossover",
  map: "Frequency map of a device",
  off: "Electrodes switched off",
  carrier: "Carrier of each channel",
  sine_phase: "Start phases of the tones",
  bands: "Band layout",
  band_edges: "Band edges",
};

// What the program does with f_min, f_max and cutoff_freq, said in full: cutoff_freq raises
// f_max whenever f_max lies below it, with eas on or off; an f_max below f_min is refused by
// these checks (the command line raises it).
// And the page's own way of switching electrodes off.
const summaries = {
  f_min: "lower edge of the implant's frequency range (f_max may not lie below it)",
  f_max: "upper edge of the implant's frequency range; raised to cutoff_freq when below it, whether eas is on or off",
  cutoff_freq: "under eas, where the hearing aid hands over to the implant; with eas on or off, f_max is raised to it when below it",
  off: "electrodes switched off, 1 the most apical (the lowest band); or click an electrode's number " +
    "beside the electrodogram. The others share the frequency range",
};
const bounds = { f_max: "at least f_min" };
// What a list takes, where the table's words are too long for a hint.
const accepted = { off: "whole numbers from 1 to n_inserted_ch" };
// What a list's empty box means, and an example of one.
const lists = {
  off: { none: "every electrode on", example: "e.g. 3,7" },
  band_edges: { none: "the band layout's", example: "e.g. 250,500,1000,2000,4000,8000" },
};

// Counts a slider suits (a whole range of 1 to 50), and the carrier blend.
const sliders = new Set(["n_chan_ci", "n_inserted_ch", "n_on", "synchronization"]);
// The menus: a count's values in order, or a choice's names with what each means.
const choices = {
  envelope_detection: ["0: Hilbert transform, FIR filters", "1: rectification and low-pass, IIR filters"],
  map: {
    none: "none: the band layout's bands",
    nucleus22: "Nucleus 22 default",
    ab16: "Advanced Bionics 16 default",
    medel12: "MED-EL 12 (approximate)",
  },
  bands: {
    log: "log: equal steps of log frequency",
    greenwood: "greenwood: equal steps of cochlear place",
    linear: "linear: equal steps in Hz",
    erb: "erb: equal steps of ERB number",
  },
  carrier: {
    "pulse-noise": "pulse-noise: pulses and noise",
    sine: "sine: a tone per channel",
  },
  sine_phase: {
    random: "random: drawn from the seed",
    zero: "zero: every tone starts at phase 0",
  },
};

// The presets, in rows: common channel counts and settings, then implant models.
export const presets = [
  { label: "Defaults", values: {} },
  { label: "4 channels", values: { n_chan_ci: 4, n_inserted_ch: 4, n_on: 4 } },
  { label: "8 channels", values: { n_chan_ci: 8, n_inserted_ch: 8, n_on: 8 } },
  { label: "12 channels", values: { n_chan_ci: 12, n_inserted_ch: 12, n_on: 12 } },
  { label: "8 of 12", values: { n_on: 8 } },
  { label: "22 channels", values: { n_chan_ci: 22, n_inserted_ch: 22, n_on: 22 } },
  { label: "8 of 22", values: { n_chan_ci: 22, n_inserted_ch: 22, n_on: 8 } },
  { label: "EAS (hearing aid below 1000 Hz)", values: { eas: 1, cutoff_freq: 1000 } },
  { label: "Shallow insertion, shifted", values: { n_inserted_ch: 8, freq_shift: 1 } },
  { label: "Nucleus 22 default map", values: { map: "nucleus22" }, row: "Implant models" },
  { label: "Advanced Bionics 16 default map", values: { map: "ab16" }, row: "Implant models" },
  { label: "Tone vocoder", values: { carrier: "sine" }, row: "Implant models" },
  { label: "Electrodes 3 and 7 off", values: { off: [3, 7] }, row: "Implant models" },
];

// Whether a warning tells of a value changed ("n_on changed to ...", "f_max raised ...", "n_inserted_ch
// set to 22 by map nucleus22"), rather than of one without effect or of advice.
function adjusts(warning) {
  return /\b(changed|raised|set to)\b/.test(warning);
}

function format(v) {
  return String(Number(v.toPrecision(6)));
}

function upper(text) {
  return text.charAt(0).toUpperCase() + text.slice(1);
}

function element(tag, props = {}, children = []) {
  const e = Object.assign(document.createElement(tag), props);
  for (const child of children) e.append(child);
  return e;
}

export class Controls {
  // engine: the module (parameterTable, applyStrict); onChange(valid) after every edit.
  constructor(engine, form, presetBox, seedInput, onChange) {
    this.engine = engine;
    this.table = engine.parameterTable();
    this.seedInput = seedInput;
    this.onChange = onChange;
    this.fields = new Map();
    const places = this.layout(form);
    const order = groups.flatMap((g) => [...g.main, ...g.more]);
    const rank = (info) => (order.includes(info.name) ? order.indexOf(info.name) : order.length);
    for (const info of [...this.table].sort((a, b) => rank(a) - rank(b))) {
      this.addField(places.get(info.name) || places.get(""), info);
    }
    places.get("seed").append(seedInput.closest(".field"));
    this.general = element("p", { className: "message error", id: "params-message" });
    this.general.setAttribute("aria-live", "polite");
    form.append(this.general);
    for (const fold of this.folds) fold.hidden = !fold.querySelector(".field");
    const rows = new Map();
    for (const preset of presets) {
      const name = preset.row || "";
      if (!rows.has(name)) {
        rows.set(name, element("div", { className: "preset-row" }, name ? [element("span", { className: "hint", textContent: `${name}:` })] : []));
        presetBox.append(rows.get(name));
      }
      const button = element("button", { type: "button", textContent: preset.label });
      button.addEventListener("click", () => this.applyPreset(preset.values));
      rows.get(name).append(button);
    }
    seedInput.max = engine.maxSeed;
    seedInput.addEventListener("input", () => this.changed());
    this.check();
  }

  // A fieldset per group, each with its folded part: where each parameter's control goes
  // (the seed with the strategy's folded ones; "" for any parameter no group names).
  layout(form) {
    const places = new Map();
    this.folds = [];
    for (const group of groups) {
      const grid = element("div", { className: "params" });
      const more = element("div", { className: "params" });
      const fold = element("details", {}, [element("summary", { textContent: `More ${group.title.toLowerCase()} settings` }), more]);
      form.append(element("fieldset", { className: "group" }, [element("legend", { textContent: group.title }), grid, fold]));
      for (const name of group.main) places.set(name, grid);
      for (const name of group.more) places.set(name, more);
      places.set("", more);
      this.folds.push(fold);
    }
    places.set("seed", places.get("synchronization"));
    return places;
  }

  // "Default 1800 pulses/s; accepted 10 to 10000 pulses/s." (a menu's choices say the rest).
  static hintText(info) {
    const unit = info.unit ? ` ${info.unit}` : "";
    const bound = bounds[info.name] !== undefined ? bounds[info.name] : info.bound;
    const boundText = bound ? `, ${bound}` : "";
    const summary = upper(summaries[info.name] || info.summary);
    if (info.kind === "choice") return `${summary}. Default ${info.defaultText}.`;
    if (info.kind === "list") {
      const range = accepted[info.name] || `${format(info.min)} to ${format(info.max)}${unit}${boundText}`;
      return `${summary}. Default none (${lists[info.name]?.none || "empty"}); accepted ${range}, commas between them.`;
    }
    const range = info.kind === "switch" ? "off or on" : `${format(info.min)} to ${format(info.max)}${unit}`;
    const defaultText = info.kind === "switch" ? (info.defaultValue ? "on" : "off") : `${format(info.defaultValue)}${unit}`;
    return `${summary}. Default ${defaultText}; accepted ${range}${boundText}.`;
  }

  addField(form, info) {
    const id = `p-${info.name}`;
    const hint = element("span", { className: "hint", id: `${id}-hint`, textContent: Controls.hintText(info) });
    const message = element("span", { className: "message", id: `${id}-message` });
    message.setAttribute("aria-live", "polite");
    let input;
    const menu = choices[info.name];
    if (info.kind === "switch") {
      input = element("input", { type: "checkbox", id, checked: info.defaultValue !== 0 });
    } else if (info.kind === "choice") {
      input = element("select", { id }, info.choices.map((name) =>
        element("option", { value: name, textContent: (menu && menu[name]) || name })));
      input.value = info.defaultText;
    } else if (menu) {
      input = element("select", { id }, menu.map((text, value) =>
        element("option", { value, textContent: text })));
      input.value = info.defaultValue;
    } else if (info.kind === "list") {
      input = element("input", { type: "text", id, value: "", spellcheck: false, autocomplete: "off" });
      input.inputMode = "decimal";
      input.placeholder = lists[info.name]?.example || "";
      input.dataset.example = input.placeholder;
    } else {
      input = element("input", {
        type: "number", id, min: info.min, max: info.max,
        step: info.kind === "count" ? 1 : "any", value: info.defaultValue,
      });
      input.inputMode = info.kind === "count" ? "numeric" : "decimal";
    }
    input.setAttribute("aria-describedby", `${id}-hint ${id}-message`);
    input.addEventListener("input", () => this.changed(info.name));
    input.addEventListener("change", () => this.changed(info.name));
    const label = element("label", { htmlFor: id }, [
      element("span", { className: "label", textContent: labels[info.name] || info.name }),
      info.unit ? element("span", { className: "unit", textContent: `, ${info.unit}` }) : "",
      " ",
      element("span", { className: "name", textContent: `(${info.name})` }),
    ]);
    const row = element("div", { className: `field field-${info.kind}` }, [label]);
    const inputs = element("div", { className: "inputs" }, [input]);
    let slider = null;
    if (sliders.has(info.name)) {
      slider = element("input", {
        type: "range", min: info.min, max: info.max,
        step: info.kind === "count" ? 1 : 0.05, value: info.defaultValue, tabIndex: -1,
      });
      slider.setAttribute("aria-hidden", "true");
      slider.addEventListener("input", () => {
        input.value = slider.value;
        this.changed(info.name);
      });
      inputs.prepend(slider);
    }
    row.append(inputs, message, hint);
    form.append(row);
    this.fields.set(info.name, { info, input, slider, message });
  }

  // The value a control holds: a number, a choice's name, a list (an array), null for an empty
  // box, or {refused} with the library's sentence for text that is none of what it takes.
  read({ info, input }) {
    if (info.kind === "switch") return input.checked ? 1 : 0;
    if (info.kind === "choice") return input.value;
    if (input.tagName === "SELECT") return Number(input.value);
    if (input.validity && input.validity.badInput) return { refused: `${info.name}: not a number.` };
    const text = input.value.trim();
    if (text === "") return null;
    if (info.kind !== "list") return Number(text);
    const parsed = this.engine.parseValue(info.name, text);
    return parsed.ok ? parsed.value : { refused: parsed.error };
  }

  // A value into its control: a number, a name, a list (an array, or its text), or the default.
  write({ info, input }, v) {
    if (info.kind === "switch") input.checked = (v === undefined ? info.defaultValue : v) !== 0;
    else if (info.kind === "choice") input.value = v === undefined ? info.defaultText : v;
    else if (info.kind === "list") input.value = v === undefined ? "" : Array.isArray(v) ? v.join(",") : v;
    else input.value = v === undefined ? info.defaultValue : v;
  }

  applyPreset(values) {
    for (const field of this.fields.values()) this.write(field, values[field.info.name]);
    this.changed();
  }

  set(values) {
    for (const [name, v] of Object.entries(values)) this.write(this.fields.get(name), v);
    this.changed();
  }

  // Electrode `electrode` (1 the most apical) switched off, or on again if it was off; `off`, the
  // electrodes off in the simulation shown, stands for the box's list when that cannot be read.
  toggleElectrode(electrode, off = []) {
    const field = this.fields.get("off");
    const held = this.read(field);
    const list = new Set(Array.isArray(held) ? held : held === null ? [] : off);
    if (list.has(electrode)) list.delete(electrode);
    else list.add(electrode);
    this.write(field, [...list].sort((a, b) => a - b));
    this.changed();
  }

  changed() {
    this.check();
    this.onChange(this.valid);
  }

  // Every control checked; the messages placed; this.valid, this.pairs and this.settings set.
  check() {
    const pairs = [];
    const local = new Map();
    for (const field of this.fields.values()) {
      const v = this.read(field);
      if (Number.isNaN(v)) local.set(field.info.name, `${field.info.name}: not a number.`);
      else if (v !== null && v.refused) local.set(field.info.name, v.refused);
      else if (v !== null) pairs.push([field.info.name, v]);
    }
    const applied = this.engine.applyStrict(pairs);
    const errors = new Map(local);
    for (const e of applied.errors) if (!errors.has(e.parameter)) errors.set(e.parameter, e.text);
    // A refusal that concerns no control (there is none today) is shown under them all.
    const loose = [...errors].filter(([name]) => !this.fields.has(name)).map(([, text]) => text);
    this.general.textContent = loose.length ? `Refused: ${loose.join("; ")}` : "";
    const warnings = new Map();
    for (const w of applied.warnings) {
      warnings.set(w.parameter, (warnings.has(w.parameter) ? warnings.get(w.parameter) + "; " : "") + w.text);
    }
    for (const { info, input, slider, message } of this.fields.values()) {
      const error = errors.get(info.name);
      const warning = warnings.get(info.name);
      message.textContent = error ? `Refused: ${error}` : warning ? `${adjusts(warning) ? "Adjusted" : "Note"}: ${warning}` : "";
      message.className = `message ${error ? "error" : warning ? "warning" : ""}`;
      input.setAttribute("aria-invalid", error ? "true" : "false");
      if (slider && !error && input.value !== "") slider.value = input.value;
    }
    this.showListDefaults(applied.settings);
    this.seedError = this.checkSeed();
    // A refusal or an adjustment inside a folded part opens it, so that it is seen.
    for (const fold of this.folds) {
      if (fold.querySelector(".message.error:not(:empty), .message.warning:not(:empty)")) fold.open = true;
    }
    this.valid = errors.size === 0 && !this.seedError;
    this.pairs = pairs;
    this.settings = applied.settings;
    this.firstInvalid = [...this.fields.values()].find((f) => errors.has(f.info.name));
    return this.valid;
  }

  // The empty edges box shows the edges a chosen map sets in its place (else an example).
  showListDefaults(settings) {
    const edges = this.fields.get("band_edges");
    if (!edges) return;
    const mapped = this.read(edges) === null && settings.map !== "none";
    edges.input.placeholder = mapped ? `the map's: ${settings.band_edges.join(",")}` : edges.input.dataset.example;
  }

  checkSeed() {
    const text = this.seedInput.value.trim();
    const message = document.getElementById("seed-message");
    const v = Number(text);
    const bad = this.seedInput.validity.badInput ||
      (text !== "" && !(Number.isInteger(v) && v >= 0 && v <= this.engine.maxSeed));
    const error = bad ? `Refused: the seed is a whole number from 0 to ${this.engine.maxSeed}, or empty.` : "";
    message.textContent = error;
    this.seedInput.setAttribute("aria-invalid", bad ? "true" : "false");
    return error;
  }

  // Whether every control holds its default and the seed box is empty.
  atDefaults() {
    return this.seedInput.value.trim() === "" &&
      [...this.fields.values()].every((field) => {
        const v = this.read(field);
        return field.info.kind === "choice" ? v === field.info.defaultText
          : field.info.kind === "list" ? v === null : v === field.info.defaultValue;
      });
  }

  seed() {
    const text = this.seedInput.value.trim();
    return text === "" ? null : Number(text);
  }

  focusFirstInvalid() {
    (this.firstInvalid ? this.firstInvalid.input : this.seedInput).focus();
  }
}
