// The simulation parameters as labelled controls, generated from the engine's parameter table,
// checked on every change by the engine's strict setup (the same limits and cascades as the
// library), with each refusal and adjustment shown beside its control.

// Counts a slider suits (a whole range of 1 to 50), and the carrier blend.
const sliders = new Set(["n_chan_ci", "n_inserted_ch", "n_on", "synchronization"]);
const choices = {
  envelope_detection: ["0: Hilbert transform, FIR filters", "1: rectification and low-pass, IIR filters"],
};

export const presets = [
  { label: "Defaults", values: {} },
  { label: "4 channels", values: { n_chan_ci: 4, n_inserted_ch: 4, n_on: 4 } },
  { label: "8 channels", values: { n_chan_ci: 8, n_inserted_ch: 8, n_on: 8 } },
  { label: "12 channels", values: { n_chan_ci: 12, n_inserted_ch: 12, n_on: 12 } },
  { label: "22 channels", values: { n_chan_ci: 22, n_inserted_ch: 22, n_on: 22 } },
  { label: "8 of 22", values: { n_chan_ci: 22, n_inserted_ch: 22, n_on: 8 } },
  { label: "EAS (hearing aid below 1000 Hz)", values: { eas: 1, cutoff_freq: 1000 } },
  { label: "Shallow insertion, shifted", values: { n_inserted_ch: 8, freq_shift: 1 } },
];

function format(v) {
  return String(Number(v.toPrecision(6)));
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
    for (const info of this.table) this.addField(form, info);
    for (const preset of presets) {
      const button = element("button", { type: "button", textContent: preset.label });
      button.addEventListener("click", () => this.applyPreset(preset.values));
      presetBox.append(button);
    }
    seedInput.max = engine.maxSeed;
    seedInput.addEventListener("input", () => this.changed());
    this.check();
  }

  addField(form, info) {
    const id = `p-${info.name}`;
    const unit = info.unit ? ` ${info.unit}` : "";
    const range = info.kind === "switch" ? "off or on" : `${format(info.min)} to ${format(info.max)}${unit}`;
    const bound = info.bound ? `, ${info.bound}` : "";
    const defaultText = info.kind === "switch" ? (info.defaultValue ? "on" : "off") : `${format(info.defaultValue)}${unit}`;
    const hint = element("span", {
      className: "hint",
      id: `${id}-hint`,
      textContent: `${info.summary}. Default ${defaultText}; accepted ${range}${bound}.`,
    });
    const message = element("span", { className: "message", id: `${id}-message` });
    message.setAttribute("aria-live", "polite");
    let input;
    if (info.kind === "switch") {
      input = element("input", { type: "checkbox", id, checked: info.defaultValue !== 0 });
    } else if (choices[info.name]) {
      input = element("select", { id }, choices[info.name].map((text, value) =>
        element("option", { value, textContent: text })));
      input.value = info.defaultValue;
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
      element("span", { className: "name", textContent: info.name }),
      info.unit ? element("span", { className: "unit", textContent: ` (${info.unit})` }) : "",
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

  // The value a control holds: a number, null for an empty box, NaN for text that is none.
  read({ info, input }) {
    if (info.kind === "switch") return input.checked ? 1 : 0;
    if (input.tagName === "SELECT") return Number(input.value);
    if (input.validity && input.validity.badInput) return NaN;
    return input.value.trim() === "" ? null : Number(input.value);
  }

  applyPreset(values) {
    for (const { info, input } of this.fields.values()) {
      const v = info.name in values ? values[info.name] : info.defaultValue;
      if (info.kind === "switch") input.checked = v !== 0;
      else input.value = v;
    }
    this.changed();
  }

  set(values) {
    for (const [name, v] of Object.entries(values)) {
      const { info, input } = this.fields.get(name);
      if (info.kind === "switch") input.checked = v !== 0;
      else input.value = v;
    }
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
      else if (v !== null) pairs.push([field.info.name, v]);
    }
    const applied = this.engine.applyStrict(pairs);
    const errors = new Map(local);
    for (const e of applied.errors) if (!errors.has(e.parameter)) errors.set(e.parameter, e.text);
    const warnings = new Map();
    for (const w of applied.warnings) {
      warnings.set(w.parameter, (warnings.has(w.parameter) ? warnings.get(w.parameter) + "; " : "") + w.text);
    }
    for (const { info, input, slider, message } of this.fields.values()) {
      const error = errors.get(info.name);
      const warning = warnings.get(info.name);
      message.textContent = error ? `Refused: ${error}` : warning ? `Adjusted: ${warning}` : "";
      message.className = `message ${error ? "error" : warning ? "warning" : ""}`;
      input.setAttribute("aria-invalid", error ? "true" : "false");
      if (slider && !error && input.value !== "") slider.value = input.value;
    }
    this.seedError = this.checkSeed();
    this.valid = errors.size === 0 && !this.seedError;
    this.pairs = pairs;
    this.settings = applied.settings;
    this.firstInvalid = [...this.fields.values()].find((f) => errors.has(f.info.name));
    return this.valid;
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

  seed() {
    const text = this.seedInput.value.trim();
    return text === "" ? null : Number(text);
  }

  focusFirstInvalid() {
    (this.firstInvalid ? this.firstInvalid.input : this.seedInput).focus();
  }
}
