// The listening page's AudioWorklet: hands every block of captured sound, as interleaved
// 16-bit stereo samples at the context's rate, to the page (page.js), which passes them on into
// the WebAssembly core's ring of what was heard.
'use strict';

class ListenTap extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.fullScale = options.processorOptions.fullScale;  // a sample of 1.0 becomes this
  }

  process(inputs) {
    const channels = inputs[0];
    if (channels.length > 0) {
      const left = channels[0];
      const right = channels[1] ?? left;  // a mono microphone feeds both sides
      const samples = new Int16Array(2 * left.length);
      for (let i = 0; i < left.length; ++i) {
        samples[2 * i] = Math.round(Math.max(-1, Math.min(1, left[i])) * this.fullScale);
        samples[2 * i + 1] = Math.round(Math.max(-1, Math.min(1, right[i])) * this.fullScale);
      }
      this.port.postMessage(samples, [samples.buffer]);
    }
    return true;
  }
}

registerProcessor('listen-tap', ListenTap);
