// The page against hostile and crafted files: a very high sample rate, files too large for the
// page, and the crafted WAV files of fuzz/corpus/read, which the page must accept or refuse as
// the executable does. Called by page.test.mjs with its group runner and page.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { readFileSync, readdirSync, truncateSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { fileURLToPath } from "node:url";
import { testSound, writeWav } from "./wavs.mjs";

const corpus = fileURLToPath(new URL("../../fuzz/corpus/read/", import.meta.url));

// Uploads `path` and waits for the page's answer, asking it for its state every 50 ms: the
// longest the page took to answer one of those questions is `stall` (ms). The answer:
// {error, status, wav (the download), drawn (both spectrograms painted), inputDrawn}; with
// `picture`, an error counts as the answer only once the original's spectrogram is painted.
export async function answer(page, path, timeout = 60000, picture = false) {
  await page.evaluate(() => {
    window.cihearPage.result = null;
    document.getElementById("error").hidden = true;
    document.getElementById("file").value = "";
  });
  await (await page.$("#file")).uploadFile(path);
  const began = Date.now();
  let stall = 0, now = null;
  while (Date.now() - began < timeout) {
    const asked = Date.now();
    now = await page.evaluate(() => {
      const error = document.getElementById("error");
      const painted = (id) => document.getElementById(id).dataset.drawn === "yes";
      return { error: error.hidden ? "" : error.textContent, done: Boolean(window.cihearPage.result),
        drawn: painted("spectrogram-in") && painted("spectrogram-out"), inputDrawn: painted("spectrogram-in"),
        status: document.getElementById("input-status").textContent };
    });
    stall = Math.max(stall, Date.now() - asked);
    if ((now.error && (!picture || now.inputDrawn)) || (now.done && now.drawn)) break;
    await new Promise((r) => setTimeout(r, 50));
  }
  const seconds = (Date.now() - began) / 1000;
  if (now.error || !now.done) return { ...now, seconds, stall };
  const wav = await page.evaluate(async () => {
    const bytes = new Uint8Array(await (await fetch(document.getElementById("download").href)).arrayBuffer());
    let text = "";
    for (let i = 0; i < bytes.length; i += 32768) text += String.fromCharCode(...bytes.subarray(i, i + 32768));
    return btoa(text);
  });
  return { ...now, seconds, stall, wav: Buffer.from(wav, "base64") };
}

// The executable on `input`: {ok, wav} or {ok: false, message} (its words after "error: ").
function executable(cihear, input, output) {
  try {
    execFileSync(cihear, ["-i", input, "-o", output], { stdio: ["ignore", "ignore", "pipe"] });
    return { ok: true, wav: readFileSync(output) };
  } catch (error) {
    return { ok: false, message: error.stderr.toString().trim().replace(/^error: /, "") };
  }
}

// The bits per sample a WAV file's first "fmt " chunk claims (null when there is none).
function claimedBits(bytes) {
  const at = bytes.indexOf("fmt ");
  return at >= 0 && at + 24 <= bytes.length ? bytes.readUInt16LE(at + 22) : null;
}

export async function fileGroups(group, page, { work, cihear }) {
  await group("a very high sample rate: the page answers within 30 s and stays responsive", async () => {
    // The input's spectrogram once took 45 s on the page's own thread at 10 MHz, and at 4 GHz
    // more than 3 minutes and 3 GB.
    for (const [rate, frames] of [[10000000, 400000], [4000000000, 44100]]) {
      const path = join(work, `rate-${rate}.wav`);
      writeWav(path, rate, testSound(44100, frames / 44100, 1));
      const got = await answer(page, path, 30000, true);
      console.log(`     ${rate} Hz: answered in ${got.seconds.toFixed(1)} s, the page's longest wait ${got.stall} ms` +
        `${got.error ? `; ${got.error}` : ""}`);
      assert.ok(got.inputDrawn && (got.error || (got.done && got.drawn)), `${rate} Hz: no answer within 30 s`);
      assert.ok(got.stall < 1000, `${rate} Hz: the page did not answer for ${got.stall} ms`);
    }
  });

  await group("a WAV too large for the page is refused with its size and the page's limit", async () => {
    for (const gib of [1, 2]) {
      const path = join(work, `large-${gib}.wav`);
      const size = gib * 2 ** 30;
      const header = writeWav(path, 44100, [new Int16Array(0)]);
      header.writeUInt32LE(size - 8, 4);
      header.writeUInt32LE(size - 44, 40);
      writeFileSync(path, header);
      truncateSync(path, size); // sparse: nothing is written
      const got = await answer(page, path);
      assert.match(got.error, new RegExp(`large-${gib}\\.wav is too large for the page: ${1024 * gib} MB; ` +
        "the page reads files up to 64 MB"));
    }
  });

  await group("crafted WAV files: the page accepts and refuses them as the executable does", async () => {
    await page.evaluate(() => [...document.querySelectorAll("#presets button")].find((b) => b.textContent === "Defaults").click());
    const problems = [];
    const names = readdirSync(corpus).filter((n) => n.endsWith(".wav")).sort();
    for (const name of names) {
      const path = join(corpus, name);
      const bytes = readFileSync(path);
      const exe = executable(cihear, path, join(work, "corpus-out.wav"));
      const got = await answer(page, path);
      const wavFile = /^RIF[FX]....WAVE/s.test(bytes.subarray(0, 12).toString("latin1"));
      let fault = null;
      if (exe.ok && exe.wav.length === 44) {
        // No samples: the executable writes an empty file, the page says there is nothing.
        if (!/holds no samples/.test(got.error)) fault = `empty output from the executable; the page: ${got.error || "simulated"}`;
      } else if (exe.ok) {
        if (got.error) fault = `the executable simulates it; the page: ${got.error}`;
        else if (!got.wav.equals(exe.wav)) fault = "the page's output differs from the executable's";
      } else if (got.error) {
        if (wavFile && !got.error.includes(exe.message)) fault = `the executable: ${exe.message}; the page: ${got.error}`;
      } else if (!(wavFile && claimedBits(bytes) !== 16 && /decoded by the browser/.test(got.status))) {
        // Only other sample encodings than 16-bit are left to the browser's decoder.
        fault = `the executable refuses it (${exe.message}); the page simulates it (${got.status})`;
      }
      if (fault) problems.push(`${name}: ${fault}`);
    }
    console.log(`     ${names.length} files, ${problems.length} disagreements`);
    assert.deepEqual(problems, []);
  });
}
