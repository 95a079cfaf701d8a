// The built-in soundtrack, "Tessaloon", as it comes in: read back where an earlier visit kept
// it (kept.js), or else made from its score by the synthesizer in a worker
// (synth_worker.js), a slice at a time. Its bytes go straight into the core's WAV file as they
// arrive, so the analyzer has them, and the page plays them from there as they come, as it
// plays any music (page.js). Once whole, the file is held against its SHA-256, which
// the build computed (soundtrack.json): made here, it is then kept; read back and wrong, it is
// thrown away and made again.
import { core, facts, kWavOk } from './core.js';
import { forget, keep, readKept } from './kept.js';

const kSlot = 'soundtrack';  // where it is kept
const kFirstSeconds = 1;  // the page offers to play once it has this much

// What has come in: source is "kept" or "made"; frames, how many sample frames are in so far;
// whole turns true once every byte is in and checked.
export const soundtrack = { source: '', frames: 0, whole: false };

let expected = null;  // { sha256, bytes } from soundtrack.json
let coreOpen = null;  // the promise of the core, which the bytes go into
let goOn = null;      // the promise after which more than the first second is taken
let wav = 0;          // where the file sits in the core's memory, once its header came in
let filled = 0;       // bytes of it in

function toHex(digest) {
  return Array.from(new Uint8Array(digest), (b) => b.toString(16).padStart(2, '0')).join('');
}

// Takes the next bytes of the file. The first ones hold its header: the core takes the file then,
// as it will be, and has the rest written into it in place.
function take(bytes) {
  if (!wav) {
    const pointer = core._web_stage(expected.bytes, 0);
    if (!pointer) throw new Error('there is no room in memory for the soundtrack');
    core.HEAPU8.set(bytes, pointer);
    if (core._web_accept_built_in() !== kWavOk) throw new Error('the soundtrack was refused');
    wav = core._web_built_in_wav();
  } else {
    core.HEAPU8.set(bytes, wav + filled);
  }
  filled += bytes.length;
  const frameBytes = facts.channels * Int16Array.BYTES_PER_ELEMENT;
  soundtrack.frames = Math.max(0, Math.floor((filled - facts.wavHeaderBytes) / frameBytes));
}

const keptName = ({ sha256 }) => `tessaloon-${sha256}.wav`;  // of soundtrack.json

// The synthesizer's bytes, as a reader of them.
function makeHere() {
  let worker = null;
  return new ReadableStream({
    start(controller) {
      worker = new Worker('synth_worker.js');
      worker.onmessage = ({ data }) => {
        if (data.bytes) {
          controller.enqueue(data.bytes);
          return;
        }
        worker.terminate();
        if (data.done) controller.close();
        else controller.error(new Error(`the soundtrack did not synthesize: ${data.error}`));
      };
      worker.onerror = (event) => {
        worker.terminate();
        controller.error(new Error(`the soundtrack did not synthesize: ${event.message}`));
      };
    },
    cancel() {
      worker?.terminate();
    },
  }).getReader();
}

async function pour(reader, onMore, onFirst) {
  await coreOpen;
  filled = 0;
  soundtrack.frames = 0;
  for (;;) {
    const { value, done } = await reader.read();
    if (done) break;
    if (filled + value.length > expected.bytes) throw new Error('the soundtrack is too long');
    take(value);
    onMore();
    if (soundtrack.frames >= kFirstSeconds * facts.sampleRate || filled === expected.bytes) {
      onFirst();
      await goOn;
    }
  }
  if (filled !== expected.bytes) throw new Error('the soundtrack ended early');
  const bytes = new Uint8Array(core.HEAPU8.buffer, wav, filled);
  return toHex(await crypto.subtle.digest('SHA-256', bytes)) === expected.sha256;
}

// Brings the soundtrack in, into the core once `opened` (its promise) resolves; onMore() hears
// of each run of samples that comes in. Resolves once its first second is in; the rest is taken
// once `then` resolves too (the page has its pictures by then, which the reading would slow),
// and the returned promise `rest` settles once it is whole.
export async function openSoundtrack(opened, then, onMore) {
  coreOpen = opened;
  goOn = then;
  const listed = fetch('soundtrack.json').then((response) => {
    if (!response.ok) throw new Error(`soundtrack.json: HTTP ${response.status}`);
    return response.json();
  });
  const readBack = readKept(kSlot, listed.then(keptName));  // read while the list comes
  expected = await listed;
  let firstIn = () => {};
  const first = new Promise((resolve) => { firstIn = resolve; });
  const rest = (async () => {
    const kept = await readBack;
    if (kept) {
      soundtrack.source = 'kept';
      // Not all there, or not the build's: made again.
      if (await pour(kept.stream().getReader(), onMore, firstIn).catch(() => false)) {
        soundtrack.whole = true;
        return;
      }
      console.warn('The kept soundtrack was not the one this page makes: making it again.');
      await forget(kSlot);
    }
    soundtrack.source = 'made';
    if (!await pour(makeHere(), onMore, firstIn)) {
      throw new Error('the soundtrack made here is not the one the build made');
    }
    soundtrack.whole = true;
    await keep(kSlot, keptName(expected), core.HEAPU8.slice(wav, wav + filled));
  })();
  await Promise.race([first, rest]);
  return { rest };
}
