// The listening page's AudioWorklet: hands every block of captured sound to the page
// (listen.js) as interleaved samples, -1..1, in the node's channels (the page asks for the
// demo's stereo, which the browser mixes any input to). The page turns them into the core's
// 16-bit samples.
'use strict';

class ListenTap extends AudioWorkletProcessor {
  process(inputs) {
    const channels = inputs[0];  // none while nothing is connected
    if (channels.length > 0) {
      const frames = channels[0].length;
      const block = new Float32Array(frames * channels.length);
      channels.forEach((samples, c) => {
        for (let i = 0; i < frames; ++i) block[i * channels.length + c] = samples[i];
      });
      this.port.postMessage(block, [block.buffer]);
    }
    return true;
  }
}

registerProcessor('listen-tap', ListenTap);
