// Runs the soundtrack's synthesizer (synth.js, from synth_worker.cpp) off the page's thread and
// posts back { wav: Uint8Array } with the WAV file's bytes, or { error: text }.
'use strict';
importScripts('synth.js');
createSynth().then((synth) => {
  const pointer = synth._synth_wav();
  const wav = synth.HEAPU8.slice(pointer, pointer + synth._synth_wav_size());
  postMessage({ wav }, [wav.buffer]);
}).catch((error) => postMessage({ error: `${error}` }));
