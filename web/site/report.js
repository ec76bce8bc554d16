// The text report of a simulation: what was simulated, with which settings, in a paragraph to
// copy, and the command line that writes the same file.

function hz(v) {
  return `${Math.round(v)}`;
}

// A value as the command line writes it: a number, a name, or a list with commas.
function written(v) {
  return Array.isArray(v) ? v.join(",") : String(v);
}

function isDefault(p, v) {
  return p.kind === "choice" ? v === p.defaultText : p.kind !== "list" && Number(v) === p.defaultValue;
}

// The command line that gives these settings, for a 16-bit WAV input: the values set (`pairs`,
// [[name, value], ...], as the page's controls give them to the strict setup) that are not the
// defaults, in the parameter table's order. The command line takes these values and applies
// the same cascades as the page.
export function commandLine(table, pairs, inputName) {
  const given = new Map(pairs);
  const options = table
    .filter((p) => given.has(p.name) && !isDefault(p, given.get(p.name)))
    .map((p) => `--${p.name} ${written(given.get(p.name))}`);
  const name = /^[\w.,+-]+$/.test(inputName) ? inputName : `'${inputName.replace(/'/g, "'\\''")}'`;
  return ["cihear", "-i", name, "-o", "output.wav", ...options].join(" ");
}

// Where the bands come from: a device's map (with its source), edges as given, or a layout.
function allocation(s, mapSource) {
  const layouts = { log: "log frequency", greenwood: "cochlear place (Greenwood's map)", linear: "Hz", erb: "ERB number" };
  if (s.map !== "none") return `the ${s.map} map, ${mapSource(s.map)}`;
  if (s.band_edges.length) return `the band edges given, ${s.band_edges.join(", ")} Hz`;
  return `the ${s.bands} layout, equal steps of ${layouts[s.bands] || s.bands} from f_min to f_max`;
}

function carrier(s, result) {
  if (s.carrier === "sine") {
    const phases = s.sine_phase === "zero" ? "every tone starting at phase 0" : "start phases drawn from the seed";
    return `a tone per channel at the geometric centre of its synthesis band (${result.tones.map(hz).join(", ")} Hz), ${phases}`;
  }
  const kind = s.synchronization === 1 ? "pulse train following the envelope's peaks"
    : s.synchronization === 0 ? "Gaussian noise" : "blend of pulse train and noise";
  return `${kind} (synchronization ${s.synchronization})`;
}

export function report({ table, settings, pairs, result, input, seed, version, mapSource }) {
  const s = settings;
  const bands = result.bands.map((b) => `${hz(b.low)}–${hz(b.high)}`).join(", ");
  const active = result.electrodes.length;
  const off = result.off.length
    ? `Electrodes switched off: ${result.off.join(", ")}; the range is reallocated over the ${active} active ones, which keep their places on the array.`
    : "Electrodes switched off: none.";
  const parts = [
    `cihear ${version} simulation of ${input.description}, ${(input.samples.length / input.rate).toFixed(2)} s.`,
    `Channels: ${s.n_inserted_ch} inserted of an implant of ${s.n_chan_ci} channels on a ${s.length_ci} mm array; electrode 1 is the most apical, with the lowest band.`,
    off,
    `N of M: the ${s.n_on} strongest of ${active} channels stimulated in each cycle, at ${s.rate} pulses/s per electrode.`,
    `Frequency allocation: ${allocation(s, mapSource)}.`,
    `Bands: ${s.eas ? s.cutoff_freq : s.f_min} to ${s.f_max} Hz, analysis bands (Hz) ${bands}.`,
    `Envelope: ${s.envelope_detection === 0 ? "Hilbert transform with FIR filters" : "rectification and low-pass with IIR filters"}.`,
    `Carrier: ${carrier(s, result)}.`,
    `Current spread: interaction decay ${s.interact_decay} mm, adjacent channel weight ${result.interactionFactor.toFixed(4)}.`,
    `EAS: ${s.eas ? `on, the hearing aid's sound below ${s.cutoff_freq} Hz` : "off"}.`,
    `Frequency shift: ${s.freq_shift ? `on, synthesis bands (Hz) ${result.synthesisBands.map((b) => `${hz(b.low)}–${hz(b.high)}`).join(", ")}` : "off"}.`,
    `Seed: ${seed === null ? "the program's own sequence" : `${seed}`}.`,
    `Version: cihear ${version}.`,
  ];
  let text = parts.join(" ");
  if (input.exact && seed === null) {
    text += `\n\nThe same simulation from the command line: ${commandLine(table, pairs, input.name)}`;
  } else if (input.exact) {
    text += `\n\nWith another seed than the program's own, the command line's output differs in its noise.`;
  }
  return text;
}
