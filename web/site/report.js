// The text report of a simulation: what was simulated, with which settings, in a paragraph to
// copy, and the command line that writes the same file.

function hz(v) {
  return `${Math.round(v)}`;
}

// The options of the command line that give these settings (those that differ from the
// defaults), for a 16-bit WAV input.
export function commandLine(table, settings, inputName) {
  const options = table
    .filter((p) => settings[p.name] !== p.defaultValue)
    .map((p) => `--${p.name} ${settings[p.name]}`);
  const name = /^[\w.,+-]+$/.test(inputName) ? inputName : `'${inputName.replace(/'/g, "'\\''")}'`;
  return ["cihear", "-i", name, "-o", "output.wav", ...options].join(" ");
}

export function report({ table, settings, result, input, seed, version }) {
  const s = settings;
  const bands = result.bands.map((b) => `${hz(b.low)}–${hz(b.high)}`).join(", ");
  const parts = [
    `cihear ${version} simulation of ${input.description}, ${(input.samples.length / input.rate).toFixed(2)} s.`,
    `Channels: ${s.n_inserted_ch} inserted of an implant of ${s.n_chan_ci} channels on a ${s.length_ci} mm array.`,
    `N of M: the ${s.n_on} strongest of ${s.n_inserted_ch} channels stimulated in each cycle, at ${s.rate} pulses/s per electrode.`,
    `Bands: ${s.eas ? s.cutoff_freq : s.f_min} to ${s.f_max} Hz, analysis bands (Hz) ${bands}.`,
    `Envelope: ${s.envelope_detection === 0 ? "Hilbert transform with FIR filters" : "rectification and low-pass with IIR filters"}.`,
    `Carrier: ${s.synchronization === 1 ? "pulse train following the envelope's peaks" : s.synchronization === 0 ? "Gaussian noise" : "blend of pulse train and noise"} (synchronization ${s.synchronization}).`,
    `Current spread: interaction decay ${s.interact_decay} mm, adjacent channel weight ${result.interactionFactor.toFixed(4)}.`,
    `EAS: ${s.eas ? `on, the hearing aid's sound below ${s.cutoff_freq} Hz` : "off"}.`,
    `Frequency shift: ${s.freq_shift ? `on, synthesis bands (Hz) ${result.synthesisBands.map((b) => `${hz(b.low)}–${hz(b.high)}`).join(", ")}` : "off"}.`,
    `Seed: ${seed === null ? "the program's own sequence" : `${seed}`}.`,
    `Version: cihear ${version}.`,
  ];
  let text = parts.join(" ");
  if (input.exact && seed === null) {
    text += `\n\nThe same simulation from the command line: ${commandLine(table, s, input.name)}`;
  } else if (input.exact) {
    text += `\n\nWith another seed than the program's own, the command line's output differs in its noise.`;
  }
  return text;
}
