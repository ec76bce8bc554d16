// The Live control's scrolling electrodogram and its status line.
const rowsMargin = { left: 44, right: 8, top: 6, bottom: 6 };

export class LiveView {
  constructor(canvas, status) {
    this.canvas = canvas;
    this.status = status;
    this.columns = []; // the newest last, as many as the canvas is wide
    this.peak = 0;
  }

  // Columns from the worklet (per channel, the level the selection chose), newest last.
  add(columns) {
    const width = Math.max(1, this.canvas.clientWidth - rowsMargin.left - rowsMargin.right);
    for (const c of columns) {
      this.columns.push(c);
      for (const v of c) this.peak = Math.max(this.peak, v);
    }
    if (this.columns.length > width) this.columns.splice(0, this.columns.length - width);
    this.draw(width);
  }

  // Channel 1 at the bottom, each column one pixel, the line as tall as its level (100 %: the
  // loudest level since Live started).
  draw(width) {
    const canvas = this.canvas;
    const ratio = window.devicePixelRatio || 1;
    canvas.width = Math.round(canvas.clientWidth * ratio);
    canvas.height = Math.round(canvas.clientHeight * ratio);
    const g = canvas.getContext("2d");
    g.setTransform(ratio, 0, 0, ratio, 0, 0);
    g.clearRect(0, 0, canvas.clientWidth, canvas.clientHeight);
    const n = this.columns.length ? this.columns[this.columns.length - 1].length : 0;
    if (!n) return;
    const top = rowsMargin.top, bottom = canvas.clientHeight - rowsMargin.bottom;
    const spacing = (bottom - top) / n;
    g.fillStyle = "#555";
    g.font = "11px system-ui, sans-serif";
    g.textBaseline = "middle";
    for (let ch = 0; ch < n; ch += n > 12 ? 2 : 1) {
      g.fillText(String(ch + 1), 4, bottom - (ch + 0.4) * spacing);
    }
    g.fillStyle = "#111";
    const x0 = rowsMargin.left + width - this.columns.length;
    this.columns.forEach((c, k) => {
      for (let ch = 0; ch < Math.min(n, c.length); ch++) {
        const h = this.peak > 0 ? (c[ch] / this.peak) * 0.75 * spacing : 0;
        if (h > 0.2) g.fillRect(x0 + k, bottom - ch * spacing - h, 1, h);
      }
    });
  }

  show(s) {
    const ms = (v) => `${v.toFixed(1)} ms`;
    const parts = [];
    if (s.total !== null) {
      const input = s.reported.input === null ? "not reported" : ms(s.reported.input);
      parts.push(`Delay from the microphone to your ears about ${ms(s.total)}: the simulation ` +
        `${ms(s.measured)} (measured${s.convertedBy === "page" ? ", with the page's rate conversion" : ""}), the browser's microphone ${input}, its output ` +
        `${ms(s.reported.base)} + ${ms(s.reported.output)} (baseLatency + outputLatency, as the browser reports them).`);
    } else {
      parts.push("Measuring the delay…");
    }
    if (s.load !== null) {
      parts.push(`Processing load: ${(100 * s.load).toFixed(1)} % of the time each 128-sample block allows ` +
        `(${((128 / s.rate) * 1000).toFixed(1)} ms at ${s.rate} Hz, ${s.convertedBy === "page" ? "converted to and from 20000 Hz by the page" : "the browser converting"}).`);
    }
    const d = s.dropouts;
    if (d.counted) parts.push(d.events ? `${d.events} dropout${d.events === 1 ? "" : "s"} (${ms(1000 * d.seconds)} of silence), as the browser counts them.` : "No dropout so far.");
    else parts.push(d.seconds > 0.05 ? `The audio clock fell ${ms(1000 * d.seconds)} behind the page's (dropouts, or an audio clock that drifts; this browser counts no dropouts itself).` : "No dropout so far.");
    if (s.clipped) parts.push(`${s.clipped} output samples clipped: speak softer or move the microphone away.`);
    this.status.textContent = parts.join(" ");
  }
}
