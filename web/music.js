// The user's own music: a WAV in the demo's layout goes to the core's loader as it is, read a
// slice at a time; any other audio the browser decodes (MP3, Ogg, FLAC, AAC, WAV of another
// layout) is converted here to 16-bit stereo at the demo's rate and written into the core's
// room for it. The browser decodes into 32-bit floats, a whole file at once: so PCM WAV and
// FLAC at the demo's rate are copied or decoded a frame at a time, and other files go to it
// (in pieces where they can be cut) only when what that takes fits kWholeDecodeBytes.
import { core, facts, kWavOk, stage, text, toSample } from './core.js';
import { ascii, bytesAt, flacFrame, musicSeconds, musicStart } from './length.js';

const kPcmOk = 0;  // web_accept_pcm's verdict for accepted samples
const kBytesPerMegabyte = 1e6;
// A file is read through one window of this size, a read of kReadBytes at a time into one
// reused buffer: each slice read whole would be new memory that lingers until the garbage
// collector comes, which may be hundreds of megabytes later.
const kWindowBytes = 4 * 1024 * 1024;
const kReadBytes = 1024 * 1024;
// A file is cut every this many seconds, at a frame boundary, and decoded this many cuts at a
// time; resampled, each piece is decoded with a cut more on either side, whose sound is dropped,
// so that the resampler has what comes before and after.
const kCutSeconds = 10;
const kCutsPerPiece = 3;
const kHeadBytes = 64 * 1024;  // where a WAV file's fmt and data chunk headers are looked for
// The memory a whole decode may take: the browser's 32-bit floats of it and the core's 16-bit
// samples, stereo. It sets the longest music taken from files that cannot be cut.
const kWholeDecodeBytes = 400e6;
const kWholeBytesPerSecond = () =>
  facts.sampleRate * facts.channels *
  (Float32Array.BYTES_PER_ELEMENT + Int16Array.BYTES_PER_ELEMENT);

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

// A count that changes whenever the core's music may have: only then need the page look at
// it again.
export const handOvers = () => handedOver;

// Reads bytes [from, to) of the file in order, as successive windows of it: take(bytes, at,
// done) is given what the window holds, which starts at byte `at` of the file, and resolves
// with how many of them it is done with; the rest stay at the window's start for the next
// call. `done`: no more bytes follow.
async function readWindows(file, from, to, take) {
  const window = new Uint8Array(kWindowBytes);
  let filled = 0;
  let at = from;
  const shift = async (done) => {
    const used = await take(window.subarray(0, filled), at, done);
    if (!done && used === 0) throw new Error('a part of it is larger than the page reads at once');
    window.copyWithin(0, used, filled);
    filled -= used;
    at += used;
  };
  const stream = file.slice(from, to).stream();
  let byob = null;
  try {
    byob = stream.getReader({ mode: 'byob' });
  } catch { /* not a byte stream: chunks as they come */ }
  const reader = byob ?? stream.getReader();
  let buffer = new ArrayBuffer(kReadBytes);
  for (;;) {
    if (filled === window.length) await shift(false);
    const { value, done } = await (byob ? byob.read(new Uint8Array(buffer, 0,
      Math.min(kReadBytes, window.length - filled))) : reader.read());
    if (done) break;
    if (byob) buffer = value.buffer;
    for (let put = 0; put < value.length;) {
      if (filled === window.length) await shift(false);
      const n = Math.min(value.length - put, window.length - filled);
      window.set(value.subarray(put, put + n), filled);
      filled += n;
      put += n;
    }
  }
  await shift(true);
}

// Hands the file to the loader, read into the core, when its header is one the loader may take;
// true when it took the file as it is, null when the core has no room. The user's previous
// music is let go either way.
async function acceptWav(file) {
  ++handedOver;
  const head = await file.slice(0, facts.wavHeaderBytes).arrayBuffer();
  if (!stage(new Uint8Array(head), true)) return null;
  if (core._web_check_head(file.size) !== kWavOk) return false;
  const pointer = core._web_stage(file.size, 0);
  if (!pointer) return null;
  await readWindows(file, 0, file.size, (bytes, at) => {
    core.HEAPU8.set(bytes, pointer + at);
    return bytes.length;
  });
  return core._web_accept_wav() === kWavOk;
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

// Room in the core for `frames` sample frames of 16-bit stereo after the WAV header it writes:
// where the first one goes, or 0 when there is none.
function pcmRoom(frames) {
  const bytes = facts.wavHeaderBytes + frames * facts.channels * Int16Array.BYTES_PER_ELEMENT;
  const pointer = core._web_stage(Math.min(bytes, facts.maxFileBytes), 1);
  return pointer && pointer + facts.wavHeaderBytes;
}

// Writes `count` frames of `sound` from frame `from` on as 16-bit samples at frame `at` of the
// room at `samples`; frames the sound lacks are silence.
function writeSamples(samples, sound, from, count, at) {
  const { channels } = facts;
  const out = new Int16Array(core.HEAPU8.buffer,
    samples + at * channels * Int16Array.BYTES_PER_ELEMENT, count * channels);
  const have = Math.max(0, Math.min(count, sound.length - from));
  for (let c = 0; c < channels; ++c) {
    const data = sound.getChannelData(c).subarray(from, from + have);
    for (let i = 0, o = c; i < have; ++i, o += channels) out[o] = toSample(data[i]);
  }
  out.fill(0, have * channels);
}

// Hands the samples written over to the core; true when it took them.
function acceptPcm(frames) {
  return core._web_accept_pcm(frames * facts.channels * Int16Array.BYTES_PER_ELEMENT) === kPcmOk;
}

// A PCM WAV file (16-bit or other, RIFF or RF64) cut at sample frames, each piece with a
// header of its own; null for other files and other codings.
async function wavPieces(file) {
  const head = await bytesAt(file, 0, kHeadBytes);
  const id = ascii(head, 0, 4);
  if ((id !== 'RIFF' && id !== 'RF64') || ascii(head, 8, 4) !== 'WAVE') return null;
  let fmt = -1;
  for (let at = 12; at + 8 <= head.byteLength;) {
    const size = head.getUint32(at + 4, true);
    if (ascii(head, at, 4) === 'fmt ' && at + 8 + Math.max(16, size) <= head.byteLength) fmt = at;
    if (ascii(head, at, 4) === 'data') {
      if (fmt < 0) return null;
      const extensible = head.getUint16(fmt + 8, true) === 0xFFFE && size >= 26;
      const tag = head.getUint16(fmt + (extensible ? 32 : 8), true);
      const rate = head.getUint32(fmt + 12, true);
      const align = head.getUint16(fmt + 20, true);
      if ((tag !== 1 && tag !== 3) || !(rate > 0 && align > 0)) return null;
      // A streamed or RF64 file leaves the size at its largest or 0: the rest of the file.
      const rest = file.size - at - 8;
      const frames = Math.floor((size === 0 || size === 0xFFFFFFFF ? rest : Math.min(size, rest)) /
        align);
      if (frames === 0) return null;
      const cuts = [];
      for (let f = 0; f < frames; f += kCutSeconds * rate) {
        cuts.push({ byte: at + 8 + f * align, first: f });
      }
      cuts.push({ byte: at + 8 + frames * align, first: frames });
      const fmtSize = head.getUint32(fmt + 4, true);
      const fmtChunk = new Uint8Array(head.buffer.slice(fmt, fmt + 8 + fmtSize + (fmtSize & 1)));
      const wrap = (part) => {
        const header = new DataView(new ArrayBuffer(12 + fmtChunk.length + 8));
        new Uint8Array(header.buffer).set(new TextEncoder().encode('RIFF....WAVE'));
        header.setUint32(4, 4 + fmtChunk.length + 8 + part.size, true);
        new Uint8Array(header.buffer, 12).set(fmtChunk);
        new Uint8Array(header.buffer, 12 + fmtChunk.length).set(new TextEncoder().encode('data'));
        header.setUint32(12 + fmtChunk.length + 4, part.size, true);
        return new Blob([header, part]).arrayBuffer();
      };
      const channels = head.getUint16(fmt + 10, true);
      const plain = tag === 1 && head.getUint16(fmt + 22, true) === 16 &&
        rate === facts.sampleRate && channels <= facts.channels && align === 2 * channels;
      const data = at + 8;
      return { rate, cuts, wrap,
        direct: plain ? (samples, room) => copyPcm(file, data, data + frames * align, channels,
          samples, room) : null };
    }
    at += 8 + size + (size & 1);
  }
  return null;
}

// 16-bit PCM at the demo's rate, mono or stereo, copied into the room at `samples` as it is,
// mono on both sides. Resolves with the frames copied.
async function copyPcm(file, from, to, channels, samples, room) {
  const width = facts.channels;
  let written = 0;
  await readWindows(file, from, to, (bytes) => {
    const frames = Math.min(Math.floor(bytes.length / (2 * channels)), room - written);
    const pcm = new Int16Array(bytes.buffer, bytes.byteOffset, frames * channels);
    const out = new Int16Array(core.HEAPU8.buffer,
      samples + written * width * Int16Array.BYTES_PER_ELEMENT, frames * width);
    if (channels === width) {
      out.set(pcm);
    } else {
      for (let i = 0; i < frames; ++i) out.fill(pcm[i], i * width, (i + 1) * width);
    }
    written += frames;
    return written === room ? bytes.length : frames * 2 * channels;  // the rest: too long
  });
  return written;
}

// A FLAC file cut before frames, found by their headers (each numbered on from the one before),
// each piece after a header of its own: "fLaC" and the stream's STREAMINFO, its length and
// checksum left unknown; null for other files.
async function flacPieces(file) {
  const start = await musicStart(file);
  const info = await bytesAt(file, start, start + 42);
  if (ascii(info, 0, 4) !== 'fLaC' || info.byteLength < 42 || (info.getUint8(4) & 0x7F) !== 0) {
    return null;
  }
  const rate = (info.getUint8(18) << 12) | (info.getUint8(19) << 4) | (info.getUint8(20) >> 4);
  const fixedBlock = info.getUint16(10);
  if (!(rate > 0)) return null;
  let audio = start + 4;  // after the metadata blocks
  for (let last = false; !last;) {
    const block = await bytesAt(file, audio, audio + 4);
    if (block.byteLength < 4) return null;
    last = (block.getUint8(0) & 0x80) !== 0;
    audio += 4 + (block.getUint32(0) & 0xFFFFFF);
  }
  const header = new Uint8Array(info.buffer.slice(0, 42));
  header[4] = 0x80;  // STREAMINFO, the last metadata block
  header[21] &= 0xF0;  // length and checksum unknown
  header.fill(0, 22);
  const cuts = [];
  const starts = [];  // where each frame starts
  let next = null;  // the number of the frame's first sample that follows the last one found
  const kLongestHeader = 16;
  await readWindows(file, audio, file.size, (bytes, at, done) => {
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.length);
    const end = done ? bytes.length : bytes.length - kLongestHeader;
    for (let i = bytes.indexOf(0xFF); i >= 0 && i < end; i = bytes.indexOf(0xFF, i + 1)) {
      const frame = flacFrame(view, i, fixedBlock);
      if (!frame || (next !== null && frame.first !== next)) continue;
      if (!cuts.length || frame.first - cuts.at(-1).first >= kCutSeconds * rate) {
        cuts.push({ byte: at + i, first: frame.first });
      }
      starts.push(at + i);
      next = frame.first + frame.samples;
    }
    return Math.max(end, 0);
  });
  if (!cuts.length) return null;
  cuts.push({ byte: file.size, first: next });
  starts.push(file.size);
  const channels = ((info.getUint8(20) >> 1) & 7) + 1;
  const bits = (((info.getUint8(20) & 1) << 4) | (info.getUint8(21) >> 4)) + 1;
  return { rate, cuts, wrap: (part) => new Blob([header, part]).arrayBuffer(),
    direct: (samples, room) =>
      flacByFrames(file, { header, starts, rate, channels, bits, fixedBlock }, samples, room) };
}

// FLAC at the demo's rate decoded by WebCodecs a frame at a time, each decoded frame written into
// the core and let go at once: decodeAudioData's floats linger until the garbage collector
// comes, hundreds of megabytes of them. 16-bit sound is copied as it is. Resolves with the
// frames written, or null where the browser has no such decoder.
async function flacByFrames(file, stream, samples, room) {
  const { header, starts, rate, channels, bits, fixedBlock } = stream;
  const config = { codec: 'flac', sampleRate: rate, numberOfChannels: channels,
    description: header };
  if (rate !== facts.sampleRate || channels > facts.channels || !window.AudioDecoder ||
      !(await AudioDecoder.isConfigSupported(config).catch(() => null))?.supported) return null;
  const width = facts.channels;
  let written = 0;
  let failure = null;
  let plane = new Float32Array(0);
  let whole = new Int16Array(0);
  // 16-bit sound a decoder gave as floats comes back as it was (its samples over 32,768, as
  // Firefox's decoders give them); deeper sound is rounded as decodeAudioData's.
  const toFixed = bits === 16 ? (x) => Math.max(-facts.sampleSpan,
    Math.min(facts.fullScale, Math.round(x * facts.sampleSpan))) : toSample;
  const decoder = new AudioDecoder({
    output: (data) => {
      const count = Math.min(data.numberOfFrames, room - written);
      const out = new Int16Array(core.HEAPU8.buffer,
        samples + written * width * Int16Array.BYTES_PER_ELEMENT, count * width);
      const planar = data.format === 's16-planar';
      for (let c = 0; c < width; ++c) {
        const planeIndex = Math.min(c, channels - 1);
        if (data.format === 's16' || planar) {
          if (whole.length < data.numberOfFrames * channels) {
            whole = new Int16Array(data.numberOfFrames * channels);
          }
          data.copyTo(whole, { planeIndex: planar ? planeIndex : 0 });
          const step = planar ? 1 : channels;
          let at = planar ? 0 : planeIndex;
          for (let i = 0, o = c; i < count; ++i, o += width, at += step) out[o] = whole[at];
        } else {
          if (plane.length < data.numberOfFrames) plane = new Float32Array(data.numberOfFrames);
          data.copyTo(plane, { planeIndex, format: 'f32-planar' });
          for (let i = 0, o = c; i < count; ++i, o += width) out[o] = toFixed(plane[i]);
        }
      }
      written += count;
      data.close();
    },
    error: (error) => { failure = error; },
  });
  decoder.configure(config);
  // Decoded sound waits for this page to take it: a cut's worth of frames at a time.
  const batch = Math.ceil(kCutSeconds * rate / Math.max(fixedBlock, 1));
  let f = 0;  // the next frame to decode
  await readWindows(file, starts[0], file.size, async (bytes, at) => {
    const first = f;
    for (; f + 1 < starts.length && starts[f + 1] - at <= bytes.length && !failure; ++f) {
      decoder.decode(new EncodedAudioChunk({ type: 'key', timestamp: f,
        data: bytes.subarray(starts[f] - at, starts[f + 1] - at) }));
      if ((f + 1) % batch === 0) await decoder.flush().catch(() => {});
    }
    await decoder.flush().catch(() => {});
    if (failure) return bytes.length;
    return f > first ? starts[f] - at : 0;
  });
  if (decoder.state !== 'closed') decoder.close();
  if (failure) throw new Error(`the browser could not decode it (${failure.message})`);
  return written;
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

// What to say of a file the browser cannot decode: `refused` is why the loader refused it and
// the command that converts it.
function undecodable(name, { why, command }) {
  const cannot = `${name} cannot be played: ${why}, and`;
  if (!command) return [`${cannot} ${facts.noAudioDecoded}.`];
  return [`${cannot} this browser cannot decode it. This command makes it into a file the ` +
    'demo plays:', command];
}

// Decodes the file a piece at a time into the core's room for it: `cuts` are where it may be
// cut ({ byte, first: the first sample frame after }), the last at its end; wrap(part) makes
// the bytes of a run of them into a file the browser decodes; direct(samples, room), where
// given, decodes all of it into the room its own way, resolving with the frames written, or
// null where it cannot. `refused`: as undecodable's. Resolves with what to say ([] once the core
// has the samples), or null when the core has no room.
async function takeInPieces(file, refused, { rate, cuts, wrap, direct }) {
  const { name } = file;
  const total = cuts.at(-1).first;
  if (total > facts.maxSeconds * rate) return [tooLongText(name, total / rate)];
  const out = (frame) => Math.round(frame * facts.sampleRate / rate);  // at the demo's rate
  const margin = rate === facts.sampleRate ? 0 : 1;
  const room = out(total) + facts.sampleRate;  // a second more than resampling could give
  let samples = 0;
  let written = 0;
  if (direct) {
    samples = pcmRoom(room);
    if (!samples) return null;
    const frames = await direct(samples, room);
    if (frames !== null) return acceptPcm(frames) ? [] : null;
  }
  if (total / rate > kMostDecodedSeconds()) return tooLongToDecode(name, total / rate, refused);
  for (let a = 0; a + 1 < cuts.length; a += kCutsPerPiece) {
    const b = Math.min(a + kCutsPerPiece, cuts.length - 1);
    const from = Math.max(0, a - margin);
    const to = Math.min(cuts.length - 1, b + margin);
    let sound;
    try {
      const part = await wrap(file.slice(cuts[from].byte, cuts[to].byte));
      sound = await toChannels(await decode(part));
    } catch {
      if (a === 0) return undecodable(name, refused);
      throw new Error(`the browser could not decode its part after ${text(core._web_length(
        cuts[a].first / rate))}`);
    }
    samples ||= pcmRoom(room);
    if (!samples) return null;
    const skip = out(cuts[a].first) - out(cuts[from].first);
    const count = Math.max(0, Math.min(room - written,
      b === cuts.length - 1 ? sound.length - skip : out(cuts[b].first) - written));
    writeSamples(samples, sound, skip, count, written);
    written += count;
  }
  return acceptPcm(written) ? [] : null;
}

// The longest music the browser's decoder is given, whole or in pieces: its floats of a whole
// file are held at once, and those of pieces linger until the garbage collector comes.
const kMostDecodedSeconds = () => kWholeDecodeBytes / kWholeBytesPerSecond();

function tooLongToDecode(name, seconds, { command }) {
  return [`${name} lasts ${text(core._web_length(seconds))}, longer than the ` +
    `${text(core._web_length(kMostDecodedSeconds()))} the page decodes at once from files other ` +
    `than 16-bit WAV and FLAC at ${facts.sampleRate.toLocaleString('en')} Hz.` +
    `${command ? ' This command makes it into a file the demo plays:' : ''}`,
  ...(command ? [command] : [])];
}

// Decodes the whole file at once, when what that takes fits kWholeDecodeBytes. Resolves as
// takeInPieces.
async function takeWhole(file, refused, seconds) {
  const { name } = file;
  if (seconds > kMostDecodedSeconds()) return tooLongToDecode(name, seconds, refused);
  let decoded;
  try {
    decoded = await decode(await file.arrayBuffer());
  } catch {
    return undecodable(name, refused);
  }
  if (decoded.length > facts.maxSeconds * facts.sampleRate) {
    return [tooLongText(name, decoded.length / facts.sampleRate)];
  }
  const sound = await toChannels(decoded);
  const samples = pcmRoom(sound.length);
  if (!samples) return null;
  writeSamples(samples, sound, 0, sound.length, 0);
  return acceptPcm(sound.length) ? [] : null;
}

// Gives the file to the core as the music of the next run, if it can be had. Resolves with what
// became of it: sentences, and a command where one helps.
export async function takeFile(file) {
  const { name } = file;
  const noRoom = [`There is no room in this browser's memory for ${name}.`];
  // Known before a byte is decoded, where the container tells.
  const seconds = await musicSeconds(file).catch(() => null);
  if (seconds > facts.maxSeconds) return [tooLongText(name, seconds)];
  const asIs = await acceptWav(file);
  if (asIs === null) return noRoom;
  if (asIs) return [`${name} plays from the next start.`];
  const why = text(core._web_describe_refused());
  // ffmpeg's advice only for what starts as sound does: a picture or a text has none in it.
  // Asked now, while the core has the refused file's first bytes.
  const refused = { why, command: advice(name) };
  const pieces = await wavPieces(file) ?? await flacPieces(file);
  const said = pieces ? await takeInPieces(file, refused, pieces)
    : await takeWhole(file, refused, seconds);
  if (said === null) return noRoom;
  if (said.length) return said;
  return [`${name} plays from the next start. The browser converted it, as it was not in the ` +
    `demo's own layout (${why}).`];
}
