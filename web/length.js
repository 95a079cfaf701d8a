// How long a music file lasts, read from its container's header before anything is decoded:
// the browser decodes a whole file into memory at once (four bytes a sample, seven hours of
// FLAC are 10 GB), so the page's length limit must be known to hold first.
//
//     const seconds = await musicSeconds(file);  // null: the container does not tell
//
// Reads at most a few small slices of the file (its head, its tail, and box headers for MP4),
// never the whole of it. Knows WAV (RIFF, RF64), FLAC (its header, or its last frames where
// they say more), Ogg (Vorbis, Opus, FLAC), MP3 (Xing, Info or VBRI header, otherwise the
// frames' bit rate over the file's size) and MP4/M4A (mvhd); an ID3v2 tag before the music is
// skipped.

const kHeadBytes = 64 * 1024;
// The longest Ogg page is 65,307 bytes: the last one starts within this much of the end.
const kTailBytes = 64 * 1024 + 1024;
const kMaxBoxes = 64;  // top-level MP4 boxes looked at before giving up
const kId3HeaderBytes = 10;
const kId3v1Bytes = 128;
const kOpusGranuleRate = 48000;

export async function bytesAt(file, begin, end) {
  return new DataView(await file.slice(begin, Math.min(end, file.size)).arrayBuffer());
}

export const ascii = (view, at, length) => (at + length > view.byteLength ? '' :
  String.fromCharCode(...new Uint8Array(view.buffer, view.byteOffset + at, length)));

// Where the music starts: after an ID3v2 tag (its size is stored 7 bits a byte).
export async function musicStart(file) {
  const head = await bytesAt(file, 0, kId3HeaderBytes);
  if (ascii(head, 0, 3) !== 'ID3' || head.byteLength < kId3HeaderBytes) return 0;
  let size = 0;
  for (let i = 6; i < 10; ++i) size = size * 128 + (head.getUint8(i) & 0x7F);
  const footer = head.getUint8(5) & 0x10 ? kId3HeaderBytes : 0;
  return kId3HeaderBytes + size + footer;
}

function wavSeconds(view, fileSize) {
  let byteRate = 0;
  for (let at = 12; at + 8 <= view.byteLength;) {
    const id = ascii(view, at, 4);
    const size = view.getUint32(at + 4, true);
    if (id === 'fmt ' && at + 20 <= view.byteLength) byteRate = view.getUint32(at + 16, true);
    if (id === 'data') {
      // A streamed or RF64 file leaves the size at its largest or 0: the rest of the file.
      const rest = fileSize - at - 8;
      const bytes = size === 0 || size === 0xFFFFFFFF ? rest : Math.min(size, rest);
      return byteRate > 0 ? bytes / byteRate : null;
    }
    at += 8 + size + (size & 1);
  }
  return null;
}

// FLAC's CRC-8 (polynomial x^8 + x^2 + x + 1) of `length` bytes at `at`.
function crc8(view, at, length) {
  let crc = 0;
  for (let i = 0; i < length; ++i) {
    crc ^= view.getUint8(at + i);
    for (let bit = 0; bit < 8; ++bit) crc = crc & 0x80 ? ((crc << 1) ^ 0x07) & 0xFF : crc << 1;
  }
  return crc;
}

// The FLAC frame header at `at` (checked by its CRC-8): the first sample it holds and how many,
// or null. `fixedBlock`: the stream's block size, by which a frame's number counts.
export function flacFrame(view, at, fixedBlock) {
  if (at + 5 > view.byteLength || view.getUint8(at) !== 0xFF) return null;
  const variable = view.getUint8(at + 1) === 0xF9;
  const blockCode = view.getUint8(at + 2) >> 4;
  const rateCode = view.getUint8(at + 2) & 0x0F;
  if ((!variable && view.getUint8(at + 1) !== 0xF8) || blockCode === 0 || rateCode === 15 ||
      view.getUint8(at + 3) & 1) return null;
  // The frame's (or first sample's) number, UTF-8 style in 1 to 7 bytes.
  const lead = view.getUint8(at + 4);
  const extra = lead < 0x80 ? 0 : lead >= 0xC0 && lead <= 0xFE ? Math.clz32(~(lead << 24)) - 1 : -1;
  if (extra < 0 || at + 5 + extra + 1 > view.byteLength) return null;
  let number = lead & (0x7F >> extra);
  let next = at + 5;
  for (let i = 0; i < extra; ++i, ++next) {
    if ((view.getUint8(next) & 0xC0) !== 0x80) return null;
    number = number * 64 + (view.getUint8(next) & 0x3F);
  }
  let block = blockCode === 1 ? 192 : blockCode <= 5 ? 576 << (blockCode - 2)
    : 256 << (blockCode - 8);
  next += blockCode === 6 ? 1 : blockCode === 7 ? 2 : 0;
  next += rateCode === 12 ? 1 : rateCode === 13 || rateCode === 14 ? 2 : 0;
  if (next >= view.byteLength || crc8(view, at, next - at) !== view.getUint8(next)) return null;
  if (blockCode === 6) block = view.getUint8(at + 5 + extra) + 1;
  if (blockCode === 7) block = view.getUint16(at + 5 + extra) + 1;
  return { first: variable ? number : number * fixedBlock, samples: block };
}

// FLAC: STREAMINFO's total of samples (36 bits) over its rate (20 bits), or the end of the
// last frame where that is later (a header that understates, or gives 0 as a FLAC written to a
// pipe leaves it): the last frame header in the tail that its predecessor leads up to (a lone
// header may be chance bytes in the audio).
async function flacSeconds(file, head) {
  if (head.byteLength < 26) return null;
  const rate = (head.getUint8(18) << 12) | (head.getUint8(19) << 4) | (head.getUint8(20) >> 4);
  const total = (head.getUint8(21) & 0x0F) * 2 ** 32 + head.getUint32(22);
  if (!(rate > 0)) return null;
  const fixedBlock = head.getUint16(10);  // the largest block: every block but the last
  const tail = await bytesAt(file, Math.max(0, file.size - kTailBytes), file.size);
  let later = null;
  for (let at = tail.byteLength - 5; at >= 0; --at) {
    const frame = flacFrame(tail, at, fixedBlock);
    if (!frame) continue;
    if (later && frame.first + frame.samples === later.first) {
      return Math.max(total, later.first + later.samples) / rate;
    }
    later = frame;
  }
  return total > 0 ? total / rate : null;
}

// Ogg: the granule position of the stream's last page, in the codec's units (Vorbis: samples
// at its rate; Opus: 48 kHz samples, less the pre-skip; FLAC: samples at its rate).
async function oggSeconds(file, head) {
  const segments = head.getUint8(26);
  const packet = 27 + segments;
  const serial = head.getUint32(14, true);
  let rate = 0;
  let skip = 0;
  if (ascii(head, packet, 7) === '\x01vorbis') {
    rate = head.getUint32(packet + 12, true);
  } else if (ascii(head, packet, 8) === 'OpusHead') {
    rate = kOpusGranuleRate;
    skip = head.getUint16(packet + 10, true);
  } else if (ascii(head, packet, 5) === '\x7FFLAC' && ascii(head, packet + 9, 4) === 'fLaC') {
    const at = packet + 17;  // STREAMINFO's data
    rate = (head.getUint8(at + 10) << 12) | (head.getUint8(at + 11) << 4) |
      (head.getUint8(at + 12) >> 4);
  }
  if (!(rate > 0)) return null;
  const tailStart = Math.max(0, file.size - kTailBytes);
  const tail = await bytesAt(file, tailStart, file.size);
  for (let at = tail.byteLength - 27; at >= 0; --at) {
    if (tail.getUint8(at) !== 0x4F || ascii(tail, at, 4) !== 'OggS') continue;
    if (tail.getUint32(at + 14, true) !== serial) continue;
    const granule = tail.getUint32(at + 10, true) * 2 ** 32 + tail.getUint32(at + 6, true);
    if (tail.getInt32(at + 10, true) === -1) continue;  // no packet ends on this page
    return Math.max(0, granule - skip) / rate;
  }
  return null;
}

const kMp3Rates = [[11025, 12000, 8000], [0, 0, 0], [22050, 24000, 16000],
  [44100, 48000, 32000]];  // by version bits: 2.5, reserved, 2, 1
const kMp3Kbps = {  // by version 1 or 2 and layer, index 1..14
  '1,1': [32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448],
  '1,2': [32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384],
  '1,3': [32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320],
  '2,1': [32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256],
  '2,2': [8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
};

// The MPEG audio frame header at `at`, or null where there is none.
function mp3Frame(view, at) {
  if (at + 4 > view.byteLength) return null;
  const b1 = view.getUint8(at + 1);
  const b2 = view.getUint8(at + 2);
  const versionBits = (b1 >> 3) & 3;
  const layer = 4 - ((b1 >> 1) & 3);
  const rate = kMp3Rates[versionBits][(b2 >> 2) & 3];
  const index = b2 >> 4;
  if (view.getUint8(at) !== 0xFF || (b1 & 0xE0) !== 0xE0 || layer === 4 || !rate ||
      index === 0 || index === 15) return null;
  const mpeg1 = versionBits === 3;
  const kbps = kMp3Kbps[`${mpeg1 ? 1 : 2},${mpeg1 ? layer : Math.min(layer, 2)}`][index - 1];
  const samples = layer === 1 ? 384 : layer === 3 && !mpeg1 ? 576 : 1152;
  const padding = (b2 >> 1) & 1;
  const bytes = layer === 1 ? (Math.floor(12000 * kbps / rate) + padding) * 4
    : Math.floor(samples / 8 * 1000 * kbps / rate) + padding;
  const mono = (view.getUint8(at + 3) >> 6) === 3;
  const sideInfo = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
  return { rate, kbps, samples, bytes, sideInfo };
}

// MP3: the frame count of a Xing, Info or VBRI header; otherwise the mean bit rate of the
// frames in the head over the file's size.
async function mp3Seconds(file, start, head) {
  // The first frame that another of the same rate follows: a lone sync is likely a chance
  // pair of bytes in something that is no MP3 at all.
  const framesAt = (at) => {
    const frame = mp3Frame(head, at);
    return frame && mp3Frame(head, at + frame.bytes)?.rate === frame.rate ? frame : null;
  };
  // Without an ID3 tag the first frame starts the file (as the loader's description has it);
  // after one, padding may come first.
  let at = 0;
  while (start > 0 && at + 4 <= head.byteLength && !framesAt(at)) ++at;
  const first = framesAt(at);
  if (!first) return null;
  const xing = at + 4 + first.sideInfo;
  const tag = ascii(head, xing, 4);
  if ((tag === 'Xing' || tag === 'Info') && head.getUint32(xing + 4) & 1) {
    return head.getUint32(xing + 8) * first.samples / first.rate;
  }
  if (ascii(head, at + 36, 4) === 'VBRI') {
    return head.getUint32(at + 36 + 14) * first.samples / first.rate;
  }
  let bits = 0;
  let seconds = 0;
  for (let frame = first, f = at; frame; f += frame.bytes, frame = mp3Frame(head, f)) {
    bits += frame.bytes * 8;
    seconds += frame.samples / frame.rate;
  }
  const tail = await bytesAt(file, Math.max(0, file.size - kId3v1Bytes), file.size);
  const end = file.size - (ascii(tail, 0, 3) === 'TAG' ? kId3v1Bytes : 0);
  return (end - start - at) * 8 * seconds / bits;
}

// MP4: the movie header's duration over its time scale, wherever the moov box is.
async function mp4Seconds(file) {
  for (let at = 0, boxes = 0; at + 8 <= file.size && boxes < kMaxBoxes; ++boxes) {
    const header = await bytesAt(file, at, at + 16);
    let size = header.getUint32(0);
    if (size === 1 && header.byteLength >= 16) {
      size = header.getUint32(8) * 2 ** 32 + header.getUint32(12);
    } else if (size === 0) {
      size = file.size - at;
    }
    if (size < 8) return null;
    if (ascii(header, 4, 4) === 'moov') {
      const moov = await bytesAt(file, at + 8, at + Math.min(size, kHeadBytes));
      for (let child = 0; child + 8 <= moov.byteLength;) {
        const childSize = moov.getUint32(child);
        if (ascii(moov, child + 4, 4) === 'mvhd' && child + 40 <= moov.byteLength) {
          const v1 = moov.getUint8(child + 8) === 1;
          const scale = moov.getUint32(child + (v1 ? 28 : 20));
          const duration = v1 ? moov.getUint32(child + 32) * 2 ** 32 + moov.getUint32(child + 36)
            : moov.getUint32(child + 24);
          return scale > 0 && duration > 0 && duration !== 0xFFFFFFFF ? duration / scale : null;
        }
        if (childSize < 8) return null;
        child += childSize;
      }
      return null;
    }
    at += size;
  }
  return null;
}

// The file's length in seconds, or null when its container is not one of the above or does
// not tell.
export async function musicSeconds(file) {
  const start = await musicStart(file);
  const head = await bytesAt(file, start, start + kHeadBytes);
  const id = ascii(head, 0, 4);
  if ((id === 'RIFF' || id === 'RF64') && ascii(head, 8, 4) === 'WAVE') {
    return wavSeconds(head, file.size - start);
  }
  if (id === 'fLaC') return flacSeconds(file, head);
  if (id === 'OggS') return oggSeconds(file, head);
  if (ascii(head, 4, 4) === 'ftyp') return mp4Seconds(file);
  return mp3Seconds(file, start, head);
}
