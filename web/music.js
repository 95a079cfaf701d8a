// The user's own music: a WAV in the demo's layout goes to the core's loader as it is; any
// other audio the browser decodes (MP3, Ogg, FLAC, AAC, WAV of another layout) is converted
// here to 16-bit stereo at the demo's rate and handed over as samples.
import { core, facts, kWavOk, stage, text, toSample } from './core.js';
import { musicSeconds } from './length.js';

const kPcmOk = 0;  // web_accept_pcm's verdict for accepted samples
const kBytesPerMegabyte = 1e6;

// Whether a file is larger than the longest music the page takes would be as a WAV in the
// demo's layout: such files are refused before a byte is read.
export function tooLarge(file) {
  return file.size > facts.maxFileBytes;
}

export function tooLargeText(file) {
  const megabytes = Math.round(facts.maxFileBytes / kBytesPerMegabyte).toLocaleString('en');
  return `${file.name} was not read: it is larger than the page takes. The page plays music ` +
    `up to ${facts.maxLength} long, ${megabytes} MB as a WAV file.`;
}

let handedOver = 0;  // how many files went to the core, each letting the previous music go

// A count that changes whenever the core's music may have: only then need the page make a new
// copy of it to play (an hour of it is 1.3 GB as Web Audio's floats).
export const handOvers = () => handedOver;

// Hands the file's bytes to the loader; true when it took them as they are, null when the core
// has no room. The user's previous music is let go either way.
function acceptWav(bytes) {
  ++handedOver;
  return stage(new Uint8Array(bytes), true) ? core._web_accept_wav() === kWavOk : null;
}

// The decoded sound at the demo's rate (the context resamples while decoding).
function decode(bytes) {
  return new OfflineAudioContext(facts.channels, 1, facts.sampleRate).decodeAudioData(bytes);
}

// Other channel counts become the demo's as speakers mix them: mono on both sides, surround
// folded into left and right.
function toChannels(decoded) {
  if (decoded.numberOfChannels === facts.channels) return decoded;
  const mixer = new OfflineAudioContext(facts.channels, decoded.length, facts.sampleRate);
  const source = new AudioBufferSourceNode(mixer, { buffer: decoded });
  source.connect(mixer.destination);
  source.start();
  return mixer.startRendering();
}

// Hands the sound over as interleaved 16-bit samples after room for the WAV header the core
// writes; true when the core took them.
function acceptPcm(sound) {
  const { channels, wavHeaderBytes } = facts;
  const count = sound.length * channels;
  const pointer = core._web_stage(wavHeaderBytes + count * Int16Array.BYTES_PER_ELEMENT, 1);
  if (!pointer) return false;
  const samples = new Int16Array(core.HEAPU8.buffer, pointer + wavHeaderBytes, count);
  for (let c = 0; c < channels; ++c) {
    const data = sound.getChannelData(c);
    for (let i = 0, at = c; i < data.length; ++i, at += channels) samples[at] = toSample(data[i]);
  }
  return core._web_accept_pcm() === kPcmOk;
}

// "song.flac lasts 7 hours, longer than the hour the page takes."
function tooLongText(name, seconds) {
  const limit = facts.maxLength.replace(/^1 /, '');  // "the hour", "the 2 hours"
  return `${name} lasts ${text(core._web_length(seconds))}, longer than the ${limit} the page ` +
    'takes.';
}

// The core's ffmpeg command for the file called `name` just refused, handed in as a C string;
// '' when its first bytes are not those of sound.
function advice(name) {
  const pointer = stage(new TextEncoder().encode(`${name}\0`));
  return pointer ? text(core._web_advice(pointer)) : '';
}

// Gives the file to the core as the music of the next run, if it can be had. Resolves with what
// became of it: sentences, and a command where one helps.
export async function takeFile(file) {
  const { name } = file;
  const noRoom = `There is no room in this browser's memory for ${name}.`;
  // Known before a byte is decoded, where the container tells: the browser decodes whole.
  const seconds = await musicSeconds(file).catch(() => null);
  if (seconds > facts.maxSeconds) return [tooLongText(name, seconds)];
  const bytes = await file.arrayBuffer();
  const asIs = acceptWav(bytes);
  if (asIs === null) return [noRoom];
  if (asIs) return [`${name} plays from the next start.`];
  const why = text(core._web_describe_refused());
  let decoded;
  try {
    decoded = await decode(bytes);
  } catch {
    // ffmpeg's advice only for what starts as sound does: a picture or a text has none in it.
    const command = advice(name);
    const cannot = `${name} cannot be played: ${why}, and`;
    if (!command) return [`${cannot} ${facts.noAudioDecoded}.`];
    return [`${cannot} this browser cannot decode it. This command makes it into a file the ` +
      'demo plays:', command];
  }
  if (decoded.length > facts.maxSeconds * facts.sampleRate) {
    return [tooLongText(name, decoded.length / facts.sampleRate)];
  }
  if (!acceptPcm(await toChannels(decoded))) return [noRoom];
  return [`${name} plays from the next start. The browser converted it, as it was not in the ` +
    `demo's own layout (${why}).`];
}
