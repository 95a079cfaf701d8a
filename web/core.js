// The page's hold on the demo's WebAssembly core (starglobe.js, from starglobe_web.cpp): the
// module, its facts (web_facts: every number about the picture and the sound), and the few
// ways bytes and text cross into it.

export let core = null;   // the WebAssembly module, once openCore has run
export let facts = null;  // its numbers, parsed from web_facts
export const kWavOk = 0;  // the loader's verdict (a WavStatus) for an accepted file

export async function openCore() {
  core = await createStarglobe();  // starglobe.js, loaded before the page's modules
  facts = JSON.parse(text(core._web_facts()));
}

// The core's C string at `pointer`.
export function text(pointer) {
  return core.UTF8ToString(pointer);
}

// Copies bytes into the core's staging buffer (which may grow its memory first); forMusic lets
// the user's previous music go first. Returns where they went, or 0 when there is no room.
export function stage(bytes, forMusic = false) {
  const pointer = core._web_stage(bytes.length, forMusic ? 1 : 0);
  if (pointer) core.HEAPU8.set(bytes, pointer);
  return pointer;
}

// Web Audio's -1..1 to a 16-bit sample: the way back from how Chromium and Firefox decode 16-bit
// sound (negative samples over the sample span, 32768, the rest over full scale, 32767), rounded
// to the nearest and clipped to the 16-bit range. So -1 and 1 land on the range's two ends, and
// 16-bit music the browser decoded comes back sample for sample.
export function toSample(x) {
  const scaled = Math.round(x * (x < 0 ? facts.sampleSpan : facts.fullScale));
  return Math.max(-facts.sampleSpan, Math.min(facts.fullScale, scaled));
}
