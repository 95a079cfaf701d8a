// Listening: the sound of the default input, or of a tab or the screen, taken through an
// AudioWorklet (listen_worklet.js) into the core's ring of what was heard. Nothing heard goes
// to the speakers.
import { core, facts, toSample } from './core.js';

// The sound as it arrives: echo cancelling, noise suppression and automatic gain would reshape
// the very loudness the demo follows.
const kRawSound = { echoCancellation: false, noiseSuppression: false, autoGainControl: false };
const kNoSound = 'NoSoundShared';  // the error's name when a share brings no sound

export const canListen = () => Boolean(navigator.mediaDevices?.getUserMedia);
export const canListenToTab = () => Boolean(navigator.mediaDevices?.getDisplayMedia);

// Browsers share a tab's sound only along with its picture, which is dropped at once.
async function shareTab() {
  const stream = await navigator.mediaDevices.getDisplayMedia({ video: true, audio: kRawSound });
  for (const track of stream.getVideoTracks()) {
    track.stop();
    stream.removeTrack(track);
  }
  if (stream.getAudioTracks().length === 0) throw Object.assign(new Error(), { name: kNoSound });
  return stream;
}

// The stream to listen to, after the browser has asked the user.
export function openSound(fromTab) {
  return fromTab ? shareTab() : navigator.mediaDevices.getUserMedia({ audio: kRawSound });
}

export function stopSound(stream) {
  for (const track of stream?.getTracks() ?? []) track.stop();
}

// Why listening did not start, in a sentence.
export function refusalText(error, fromTab) {
  switch (error.name) {
    case 'NotAllowedError':
      return fromTab ? 'Listening to a tab or the screen needs one shared with its sound; none ' +
        'was shared.' : 'Listening needs permission to use the microphone, and it was not given.';
    case 'NotFoundError':
      return 'No microphone or other sound input was found.';
    case 'NotReadableError':
      return 'The sound input could not be opened; another program may be using it.';
    case kNoSound:
      return 'What was shared brings no sound. Share a tab or the screen again with its audio ' +
        'turned on.';
    default:
      return `Listening could not start (${error.message || error.name}).`;
  }
}

// Takes one block of captured sound (interleaved stereo, -1..1) into the core's ring.
function hear(block) {
  const pointer = core._web_listen_stage(block.length);
  const samples = new Int16Array(core.HEAPU8.buffer, pointer, block.length);
  for (let i = 0; i < block.length; ++i) samples[i] = toSample(block[i]);
  core._web_listen_push(block.length);
}

const workletsLoaded = new WeakMap();  // AudioContext: its promise of listen_worklet.js

// Feeds the stream's sound into the core from now on. Returns the function that stops it.
export async function tapSound(context, stream) {
  if (!workletsLoaded.has(context)) {
    workletsLoaded.set(context, context.audioWorklet.addModule('listen_worklet.js'));
  }
  await workletsLoaded.get(context);
  const source = new MediaStreamAudioSourceNode(context, { mediaStream: stream });
  // No outputs: the sound goes to the core only. The browser mixes any input to stereo.
  const tap = new AudioWorkletNode(context, 'listen-tap', {
    numberOfOutputs: 0, channelCount: facts.channels, channelCountMode: 'explicit' });
  tap.port.onmessage = ({ data }) => hear(data);
  source.connect(tap);
  return () => {
    source.disconnect();
    tap.port.onmessage = null;
  };
}
