// The page around the demo's WebAssembly core (core.js): loading, the start screen with its
// warning and Gentle switch, the clock, as many passes per painted frame as time allows, the
// end card, the user's own music (music.js), listening (listen.js), and capture mode
// (index.html?fps=F&frames=N, with &gentle=1 for the gentle view) for the tests.
//
// The start screen comes as soon as the pictures and the first second of the soundtrack are in;
// the rest of the soundtrack follows while it shows (soundtrack.js). After the first visit a
// service worker (sw.js) keeps the whole site, so the page opens at once, with no network too.
//
// window.starglobe = { state, passes, gentle, facts, readyMs, soundtrack, kept,
// clickToFirstFrameMs, digests() }: state is "loading", "ready" (the start screen), "playing",
// "card" (the end card after the music), "listening" or "captured"; passes counts the passes
// run since the page opened; gentle tells whether the Gentle switch is on; facts are the core's
// numbers; readyMs is when the start screen first came, in ms since the page was opened;
// soundtrack tells where the built-in soundtrack comes from ("kept" or "made"), its frames so
// far, and whether it is whole; kept settles once what the next visit reads back is kept;
// clickToFirstFrameMs, once a run has started, is the time from the gesture to its first frame
// on the canvas (painted at the next screen refresh); digests() gives the SHA-256 of the
// built-in soundtrack, of the decoded pictures and of the samples the next run plays.
import { core, facts, openCore } from './core.js';
import { canListen, canListenToTab, openSound, refusalText, stopSound, tapSound }
  from './listen.js';
import { handOvers, takeFile, tooLarge, tooLargeText } from './music.js';
import { keep, readKept } from './kept.js';
import { openSoundtrack, soundtrack } from './soundtrack.js';

// Passes run per painted frame until this much of it is used (at least one pass); a 60 Hz
// frame is 16.7 ms and the browser needs the rest to paint.
const kPassBudgetMs = 12;
const kGentleKey = 'starglobe.gentle';  // localStorage: "1" or "0", the switch's last setting
const kPicturesSlot = 'pictures';  // where the pictures are kept decoded for later (kept.js)
// The sound plays as AudioBuffers of this many seconds, made from the core's 16-bit samples
// while it plays and scheduled this far ahead: Web Audio's floats would take 1.3 GB for an hour.
const kPieceSeconds = 5;
const kAheadSeconds = 15;

const status = { state: 'loading', passes: 0, soundtrack };
window.starglobe = status;
const canvas = document.getElementById('screen');
const screen = canvas.getContext('2d');
const prompt = document.getElementById('prompt');
const message = document.getElementById('message');
const picker = document.getElementById('soundtrack');
const gentleSwitch = document.getElementById('gentle');
const listenButton = document.getElementById('listen');
const listenTabButton = document.getElementById('listen-tab');
Object.defineProperty(status, 'gentle', { enumerable: true, get: () => gentleSwitch.checked });

let music = null;      // the soundtrack the next run plays: { samples: where its 16-bit samples
                       // are in the core, frames(): how many are in (the built-in one comes
                       // as it is made) } (null: no samples)
let trackMs = 0;       // its length: the run plays while the clock is below it
let audio = null;      // AudioContext for playing and listening, made on a gesture
let run = null;        // the run in progress: its sound and its clock
let cardTimer = 0;     // the end card's way back to the start screen
let listening = null;  // the listening in progress: its stream, its tap and its clock
let taking = false;    // a file of the user's is being read, decoded or handed over
let chosen = null;     // a file chosen while the page was busy: taken on the start screen

function setState(state) {
  if (state === 'ready' && status.readyMs === undefined) status.readyMs = performance.now();
  status.state = state;
  document.body.dataset.state = state;
}

// Sentences for #message; a command, when given, follows on its own line, ready to copy.
function say(sentences, command = '') {
  const code = document.createElement('code');
  code.textContent = command;
  message.replaceChildren(sentences, ...(command ? [code] : []));
}

function show(pointer) {
  const { width, height } = facts;
  const pixels = new Uint8ClampedArray(core.HEAPU8.buffer, pointer,
    width * height * facts.rgbaBytesPerPixel);
  screen.putImageData(new ImageData(pixels, width, height), 0, 0);
}

// The soundtrack's samples as Web Audio plays them: the very samples the analyzer reads. The
// built-in one comes in as it is made (soundtrack.js).
function takeTrack() {
  const frames = core._web_track_frames();
  const samples = core._web_track_samples();
  trackMs = frames * facts.msPerSecond / facts.sampleRate;
  music = null;
  if (frames === 0) return;
  const builtIn = samples === core._web_built_in_wav() + facts.wavHeaderBytes;
  music = { samples, frames: builtIn ? () => soundtrack.frames : () => frames };
}

async function sha256(pointer, size) {
  const bytes = new Uint8Array(core.HEAPU8.buffer, pointer, size);
  const digest = await crypto.subtle.digest('SHA-256', bytes);
  return Array.from(new Uint8Array(digest), (b) => b.toString(16).padStart(2, '0')).join('');
}

// For holding against the native build's tessaloon.wav and packed pictures (image bank order),
// and against the samples of a file the test gives.
status.digests = async () => ({
  wav: await sha256(core._web_built_in_wav(), core._web_built_in_wav_size()),
  pictures: await sha256(core._web_pictures(),
    facts.pictures * facts.width * facts.height * facts.bytesPerPixel),
  music: await sha256(core._web_track_samples(),
    core._web_track_frames() * facts.channels * Int16Array.BYTES_PER_ELEMENT),
});

function nextPaint() {
  return new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0)));
}

// Runs pass() until the painted frame's budget is used or pass() declines (returns false); at
// least one pass is tried. Returns how many ran.
function passesWithinBudget(pass) {
  const begin = performance.now();
  let passes = 0;
  while ((passes === 0 || performance.now() - begin < kPassBudgetMs) && pass()) ++passes;
  status.passes += passes;
  return passes;
}

async function fetchBytes(path) {
  const response = await fetch(path);
  if (!response.ok) throw new Error(`${path}: HTTP ${response.status}`);
  return new Uint8Array(await response.arrayBuffer());
}

// The pictures as the image bank holds them, streamed as they come: kept from an earlier visit,
// or else pictures.bin from the build, gzip-compressed, inflated on the way. pictures.json has
// its digest, which names what is kept.
async function fetchPictures() {
  const listed = fetchBytes('pictures.json').then((bytes) =>
    `pictures-${JSON.parse(new TextDecoder().decode(bytes)).digest}.bin`);
  const kept = await readKept(kPicturesSlot, listed);  // read while the list comes
  const name = await listed;
  if (kept) return { name, kept: true, stream: kept.stream() };
  const response = await fetch('pictures.bin');
  if (!response.ok) throw new Error(`pictures.bin: HTTP ${response.status}`);
  return { name, kept: false, stream: response.body.pipeThrough(new DecompressionStream('gzip')) };
}

// Puts the pictures into the core's bank as they come. Returns what keeps them for the next
// visit, if they were not kept.
async function loadPictures(fetched) {
  const { name, kept, stream } = await fetched;
  const at = core._web_pictures();
  const size = facts.pictures * facts.width * facts.height * facts.bytesPerPixel;
  const reader = stream.getReader();
  let filled = 0;
  for (let part; !(part = await reader.read()).done; filled += part.value.length) {
    if (filled + part.value.length > size) {
      filled = Infinity;  // more than the bank holds
      break;
    }
    core.HEAPU8.set(part.value, at + filled);
  }
  if (filled !== size) {
    reader.cancel().catch(() => {});
    throw new Error(`the pictures are not the core's ${facts.pictures} pictures of ` +
      `${facts.width} × ${facts.height}`);
  }
  return kept ? () => {} : () => keep(kPicturesSlot, name, core.HEAPU8.slice(at, at + size));
}

async function load() {
  const coreOpen = openCore();
  const pictures = fetchPictures();
  pictures.catch(() => {});  // reported where it is awaited, unless loading fails first
  let picturesIn = () => {};
  // Read back or made while the core opens and the pictures come; the first second is enough
  // to start, and each piece after it joins a run that plays the built-in soundtrack.
  const sound = openSoundtrack(coreOpen, new Promise((resolve) => { picturesIn = resolve; }),
    () => scheduleMusic());
  sound.catch(() => {});
  await coreOpen;
  status.facts = facts;
  canvas.width = facts.width;
  canvas.height = facts.height;
  const keepPictures = await loadPictures(pictures);
  picturesIn();
  show(core._web_end_card_rgba());
  prompt.textContent = 'Making the music…';
  const { rest } = await sound;
  rest.catch((error) => {
    say(`The music stopped coming: ${error.message}.`);
    console.error(error);
  });
  takeTrack();
  // Kept for the next visit once the soundtrack is whole; status.kept tells when.
  status.kept = rest.then(keepPictures).catch(() => {});
  const query = new URLSearchParams(location.search);
  if (query.has('fps') || query.has('frames')) {
    await rest;  // the frames follow the whole soundtrack at once, not as it plays
    await capture(Number(query.get('fps')), Number(query.get('frames')),
      query.get('gentle') === '1');
  } else {
    toStartScreen();
  }
}

// Capture mode: the renderer's timeline without sound, one pass per frame, pass k at
// k * 1000 / fps ms from the start of the noise; the last frame stays on the canvas.
async function capture(fps, frames, gentle) {
  if (!(Number.isInteger(fps) && fps > 0 && Number.isInteger(frames) && frames > 0)) {
    throw new Error('capture needs whole numbers ?fps=F&frames=N, both above 0');
  }
  prompt.textContent = `Capturing ${frames} frames at ${fps} fps…`;
  core._web_start(gentle ? 1 : 0);
  let k = 0;
  const pass = () => k < frames && (core._web_pass(k++ * facts.msPerSecond / fps), true);
  while (k < frames) {
    passesWithinBudget(pass);
    await nextPaint();
  }
  show(core._web_frame_rgba());
  prompt.textContent = '';
  setState('captured');
}

function toStartScreen() {
  show(core._web_end_card_rgba());
  prompt.textContent = 'Click or press a key to play (with sound). Escape stops.';
  const first = status.readyMs === undefined;
  setState('ready');
  // Once the page is up, a service worker keeps the whole site for the next visits and for
  // when there is no network; where none can be had, the page simply loads each time.
  if (first) navigator.serviceWorker?.register('sw.js').catch(() => {});
  if (chosen) takeMusic(chosen);
}

// One context for playing and listening, at the demo's rate so that neither resamples;
// browsers let it make sound only after a gesture.
function audioContext() {
  audio ??= new AudioContext({ sampleRate: facts.sampleRate });
  audio.resume().catch(() => {});
  return audio;
}

// Full screen where the browser grants it; a refusal leaves the demo in the page.
function fullScreen() {
  document.documentElement.requestFullscreen?.().catch(() => {});
}

// The clock: elapsed_ms since the first sample of the soundtrack left the speakers.
// AudioContext.currentTime is the sound's own clock but advances in steps of a whole audio
// buffer (10 ms or more), which would give many passes in a frame the same time; so the passes
// read performance.now(), set once against the sound: getOutputTimestamp() pairs a context time
// with the performance.now() at which it is heard. Before that (and where no sound device runs,
// or the browser cannot tell) the clock runs from the gesture, then from the start of the
// sound; it never goes back, so it waits for the sound to catch up (the music opens with two
// quiet seconds).
function elapsedMs() {
  if (!run.anchored && run.sources) {
    const heard = audio.getOutputTimestamp?.() ?? {};  // Safari has none
    if (heard.performanceTime > 0 && heard.contextTime >= run.contextStart) {
      run.origin = heard.performanceTime -
        (heard.contextTime - run.contextStart) * facts.msPerSecond;
      run.anchored = true;
    }
  }
  run.lastMs = Math.max(run.lastMs, performance.now() - run.origin);
  return run.lastMs;
}

function start(gestureMs) {
  if (status.state !== 'ready' || taking) return;
  fullScreen();
  run = { sources: null, music, next: 0, startFrame: 0, contextStart: 0, origin: gestureMs,
          anchored: false, lastMs: 0, gestureMs, painted: false };
  core._web_start(status.gentle ? 1 : 0);
  prompt.textContent = '';
  message.replaceChildren();
  setState('playing');
  play();
  // The sound starts once the first frame is on screen: making an AudioContext can hold the
  // page for a long moment (a second in headless Chromium). The gesture still counts then.
  const thisRun = run;
  nextPaint().then(() => startSound(thisRun));
}

function startSound(thisRun) {
  if (run !== thisRun || !run.music) return;
  audioContext();
  // On a whole sample frame of the context's clock, so that every piece starts on one too.
  run.startFrame = Math.round(audio.currentTime * facts.sampleRate);
  run.contextStart = run.startFrame / facts.sampleRate;
  run.sources = new Set();
  scheduleMusic();
  // Until the sound is heard: from now, plus the delay to the speakers the context reports.
  run.origin = performance.now() +
    (audio.outputLatency || audio.baseLatency || 0) * facts.msPerSecond;
}

// Schedules the run's music up to kAheadSeconds past the context's clock, as far as it is in, a
// piece at a time, each to start on the sample frame after the one before ends: they play as
// one sound. Runs again as each piece ends and as more of the built-in soundtrack comes. A
// piece in after its moment (the synthesizer outrun) plays from where the clock is.
function scheduleMusic() {
  if (!run?.sources) return;
  const { channels, sampleRate, sampleSpan } = facts;
  for (;;) {
    const when = (run.startFrame + run.next) / sampleRate;
    const frames = Math.min(kPieceSeconds * sampleRate, run.music.frames() - run.next);
    if (frames <= 0 || when - audio.currentTime >= kAheadSeconds) return;
    const buffer = new AudioBuffer({ numberOfChannels: channels, length: frames, sampleRate });
    const samples = new Int16Array(core.HEAPU8.buffer,
      run.music.samples + run.next * channels * Int16Array.BYTES_PER_ELEMENT, frames * channels);
    for (let c = 0; c < channels; ++c) {
      const out = buffer.getChannelData(c);
      for (let i = 0; i < frames; ++i) out[i] = samples[channels * i + c] / sampleSpan;
    }
    const source = new AudioBufferSourceNode(audio, { buffer });
    source.connect(audio.destination);
    const late = Math.max(0, audio.currentTime - when);
    source.start(when + late, late);
    const { sources } = run;
    sources.add(source);
    source.onended = () => {
      sources.delete(source);
      scheduleMusic();
    };
    run.next += frames;
  }
}

function silence() {
  for (const source of run?.sources ?? []) {
    source.stop();
    source.disconnect();
  }
  run = null;
}

// One painted frame of the run: as many passes as fit the budget, the last one shown.
function play() {
  if (status.state !== 'playing') return;
  const passes = passesWithinBudget(() => {
    const ms = elapsedMs();
    return ms < trackMs && (core._web_pass(ms), true);
  });
  scheduleMusic();
  if (passes > 0) {
    show(core._web_frame_rgba());
    if (!run.painted) {
      run.painted = true;
      status.clickToFirstFrameMs = performance.now() - run.gestureMs;
    }
  }
  if (run.lastMs >= trackMs) {
    toEndCard();
    return;
  }
  requestAnimationFrame(play);
}

function toEndCard() {
  silence();
  show(core._web_end_card_rgba());
  setState('card');
  cardTimer = setTimeout(toStartScreen, facts.endCardMs);
}

// Listening to the default input, or to a tab's or the screen's sound (fromTab), until stop().
async function listen(fromTab) {
  if (status.state !== 'ready' || taking) return;
  fullScreen();
  const session = { stream: null, untap: null };
  listening = session;
  message.replaceChildren();
  prompt.textContent = fromTab ? 'Choose a tab or the screen to share, with its sound…'
    : 'Waiting for the microphone…';
  setState('listening');
  try {
    session.stream = await openSound(fromTab);
    if (listening !== session) {
      stopSound(session.stream);  // stopped while the browser asked
      return;
    }
    const untap = await tapSound(audioContext(), session.stream);
    if (listening !== session) {
      untap();
      return;
    }
    session.untap = untap;
    core._web_start(status.gentle ? 1 : 0);
    prompt.textContent = '';
    const origin = performance.now();
    requestAnimationFrame(() => listenFrame(session, origin));
  } catch (error) {
    if (listening !== session) return;
    stopListening();
    toStartScreen();
    say(refusalText(error, fromTab));
  }
}

// One painted frame while listening: as many passes on the newest sound as fit the budget,
// each at its time since listening began.
function listenFrame(session, origin) {
  if (listening !== session) return;
  passesWithinBudget(() => (core._web_listen_pass(performance.now() - origin), true));
  show(core._web_frame_rgba());
  requestAnimationFrame(() => listenFrame(session, origin));
}

function stopListening() {
  stopSound(listening.stream);
  listening.untap?.();
  listening = null;
  audio?.suspend().catch(() => {});
}

// Escape, or leaving full screen (where the browser takes Escape for itself), stops a run, the
// end card or listening at once.
function stop() {
  if (status.state === 'playing') silence();
  else if (status.state === 'card') clearTimeout(cardTimer);
  else if (status.state === 'listening') stopListening();
  else return;
  toStartScreen();
}

// The user's file becomes the next run's music. Chosen while the page loads, plays, listens
// or reads another file, it waits for the start screen (the newest choice wins).
async function takeMusic(file) {
  if (!file) return;
  picker.value = '';  // the same file chosen again is news again
  chosen = file;
  if (status.state !== 'ready' || taking) {
    say(`${file.name} will be read once the page is free.`);
    return;
  }
  chosen = null;
  if (tooLarge(file)) {
    say(tooLargeText(file));
    return;
  }
  taking = true;
  prompt.textContent = `Reading ${file.name}…`;
  const handedOver = handOvers();
  try {
    say(...await takeFile(file));
  } catch (error) {
    say(`${file.name} could not be read (${error.message}).`);
  } finally {
    // The music the core plays now, whatever became of the file.
    if (handOvers() !== handedOver) takeTrack();
    taking = false;
    toStartScreen();
  }
}

function rememberedGentle() {
  try {
    const saved = localStorage.getItem(kGentleKey);
    if (saved !== null) return saved === '1';
  } catch { /* storage refused (private modes): the default stands */ }
  return matchMedia('(prefers-reduced-motion: reduce)').matches;
}

gentleSwitch.checked = rememberedGentle();
gentleSwitch.addEventListener('change', () => {
  try {
    localStorage.setItem(kGentleKey, gentleSwitch.checked ? '1' : '0');
  } catch { /* not remembered: on or off for this visit only */ }
});
listenButton.hidden = !canListen();
listenTabButton.hidden = !canListenToTab();
listenButton.addEventListener('click', () => listen(false));
listenTabButton.addEventListener('click', () => listen(true));

document.getElementById('stage').addEventListener('click', (event) => start(event.timeStamp));
document.addEventListener('keydown', (event) => {
  if (event.key === 'Escape') {
    stop();
  } else if (!event.target.closest?.('#controls') && event.key !== 'Tab' &&
             !event.ctrlKey && !event.metaKey && !event.altKey) {
    start(event.timeStamp);
  }
});
document.addEventListener('fullscreenchange', () => {
  if (!document.fullscreenElement) stop();
});
picker.addEventListener('change', () => takeMusic(picker.files[0]));
document.addEventListener('dragover', (event) => event.preventDefault());
document.addEventListener('drop', (event) => {
  event.preventDefault();
  takeMusic(event.dataTransfer.files[0]);
});

load().catch((error) => {
  prompt.textContent = '';
  say(`The demo could not start: ${error.message}.`);
  console.error(error);
});
