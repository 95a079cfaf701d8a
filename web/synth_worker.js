// Runs the soundtrack's synthesizer (synth.js, from synth_worker.cpp) off the page's thread, a
// slice at a time. Posts { bytes: Uint8Array } with the WAV file's header, then with each
// slice's samples in order, then { done: true }; or { error: text }.
'use strict';
importScripts('synth.js');
createSynth().then((synth) => {
  const take = (at, size) => {
    const bytes = synth.HEAPU8.slice(at, at + size);
    postMessage({ bytes }, [bytes.buffer]);
  };
  take(synth._synth_header(), synth._synth_header_bytes());
  for (let size; (size = synth._synth_render()) > 0;) take(synth._synth_slice(), size);
  if (!synth._synth_peak_held()) throw new Error('the mix did not peak where its score says');
  postMessage({ done: true });
}).catch((error) => postMessage({ error: `${error}` }));
