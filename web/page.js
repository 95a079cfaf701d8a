// The page around the demo's WebAssembly core (starglobe.js, from starglobe_web.cpp): loading,
// the start screen, the clock, as many passes per painted frame as time allows, the end card,
// the user's own WAV files, and capture mode (index.html?fps=F&frames=N) for the tests.
//
// window.starglobe = { state, passes }: state is "loading", "ready" (the start screen),
// "playing", "card" (the end card after the music) or "captured"; passes counts the passes
// run since the page opened; clickToFirstFrameMs, once a run has started, is the time from the
// gesture to its first frame on the canvas (painted at the next screen refresh); digests()
// gives the SHA-256 of the synthesized soundtrack and of the decoded pictures.
'use strict';

(() => {
  const kWidth = 400;                     // pixels, the demo's picture
  const kHeight = 300;
  const kRgbaBytes = kWidth * kHeight * 4;    // the canvas's red, green, blue, alpha
  const kPictureBytes = kWidth * kHeight * 3;  // the core's blue, green, red
  const kSampleRate = 44100;              // Hz, the only rate the loader accepts
  const kChannels = 2;
  const kFullScale = 32768;               // a 16-bit sample over this is Web Audio's -1..1
  const kEndCardMs = 10000;               // the end card's time after the music
  // Passes run per painted frame until this much of it is used (at least one pass); a
  // 60 Hz frame is 16.7 ms and the browser needs the rest to paint.
  const kPassBudgetMs = 12;
  const kMsPerSecond = 1000;
  const kWavOk = 0;                       // the loader's verdicts (WavStatus)
  const kStarFrames = 24;
  const kGlobeFrames = 20;
  const numbered = (folder, count) =>
    Array.from({ length: count }, (_, i) => `assets/${folder}/${String(i).padStart(2, '0')}.png`);
  // In the image bank's order: star field, globe, end card.
  const kPictures = [...numbered('stars', kStarFrames), ...numbered('globe', kGlobeFrames),
    'assets/end_card.png'];
  const kTooShort = 'That file is too short to be a WAV file.';
  const kAdvice = 'The demo plays 16-bit stereo PCM at 44,100 Hz with the plain 44-byte ' +
    'header. Convert your file with sox: "sox in.ogg -b 16 -e signed-integer -c 2 -r 44100 ' +
    'out.wav", or with ffmpeg: "ffmpeg -i in.mp3 -fflags +bitexact -flags:a +bitexact ' +
    '-map_metadata -1 -c:a pcm_s16le -ac 2 -ar 44100 out.wav".';

  const status = { state: 'loading', passes: 0 };
  window.starglobe = status;
  const canvas = document.getElementById('screen');
  const screen = canvas.getContext('2d');
  const prompt = document.getElementById('prompt');
  const message = document.getElementById('message');
  const picker = document.getElementById('soundtrack');

  let core = null;      // the WebAssembly module
  let music = null;     // AudioBuffer of the soundtrack the next run plays (null: no samples)
  let trackMs = 0;      // its length: the run plays while the clock is below it
  let audio = null;     // AudioContext, made on the first gesture, as browsers require
  let run = null;       // the run in progress: its sound and its clock

  function setState(state) {
    status.state = state;
    document.body.dataset.state = state;
  }

  function show(pointer) {
    const pixels = new Uint8ClampedArray(core.HEAPU8.buffer, pointer, kRgbaBytes);
    screen.putImageData(new ImageData(pixels, kWidth, kHeight), 0, 0);
  }

  // Copies bytes into the core's staging buffer (which may grow its memory first).
  function stage(bytes) {
    const pointer = core._web_stage(bytes.length);
    core.HEAPU8.set(bytes, pointer);
  }

  // The soundtrack's samples as Web Audio plays them: the very samples the analyzer reads.
  function takeTrack() {
    const frames = core._web_track_frames();
    trackMs = frames * kMsPerSecond / kSampleRate;
    music = null;
    if (frames === 0) return;
    music = new AudioBuffer({ numberOfChannels: kChannels, length: frames, sampleRate: kSampleRate });
    const samples = new Int16Array(core.HEAPU8.buffer, core._web_track_samples(), frames * kChannels);
    for (let c = 0; c < kChannels; ++c) {
      const out = music.getChannelData(c);
      for (let i = 0; i < frames; ++i) out[i] = samples[kChannels * i + c] / kFullScale;
    }
  }

  async function sha256(pointer, size) {
    const digest = await crypto.subtle.digest('SHA-256', new Uint8Array(core.HEAPU8.buffer, pointer, size));
    return Array.from(new Uint8Array(digest), (b) => b.toString(16).padStart(2, '0')).join('');
  }

  // SHA-256 of the synthesized WAV file and of the decoded pictures (image bank order), to
  // hold against the native build's tessaloon.wav and its packed pictures.
  status.digests = async () => ({
    wav: await sha256(core._web_built_in_wav(), core._web_built_in_wav_size()),
    pictures: await sha256(core._web_pictures(), kPictures.length * kPictureBytes),
  });

  function nextPaint() {
    return new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0)));
  }

  // The soundtrack, made from its score in a worker while the page loads the rest.
  function synthesize() {
    return new Promise((resolve, reject) => {
      const worker = new Worker('synth_worker.js');
      worker.onmessage = ({ data }) => {
        worker.terminate();
        if (data.wav) resolve(data.wav);
        else reject(new Error(`the soundtrack did not synthesize: ${data.error}`));
      };
      worker.onerror = (event) => {
        worker.terminate();
        reject(new Error(`the soundtrack did not synthesize: ${event.message}`));
      };
    });
  }

  async function load() {
    const soundtrack = synthesize();
    soundtrack.catch(() => {});  // reported where it is awaited, unless loading fails first
    core = await createStarglobe();
    const files = await Promise.all(kPictures.map(async (path) => {
      const response = await fetch(path);
      if (!response.ok) throw new Error(`${path}: HTTP ${response.status}`);
      return new Uint8Array(await response.arrayBuffer());
    }));
    files.forEach((bytes, index) => {
      stage(bytes);
      if (!core._web_decode_picture(index)) throw new Error(`${kPictures[index]} is not a 400 × 300 PNG`);
    });
    show(core._web_end_card_rgba());
    prompt.textContent = 'Making the music…';
    stage(await soundtrack);
    if (core._web_accept_built_in() !== kWavOk) throw new Error('the soundtrack was refused');
    takeTrack();
    const query = new URLSearchParams(location.search);
    if (query.has('fps') || query.has('frames')) {
      await capture(Number(query.get('fps')), Number(query.get('frames')));
    } else {
      toStartScreen();
    }
  }

  // Capture mode: the renderer's timeline without sound, pass k at k * 1000 / fps ms from the
  // start of the noise; the last frame stays on the canvas.
  async function capture(fps, frames) {
    if (!(Number.isInteger(fps) && fps > 0 && Number.isInteger(frames) && frames > 0)) {
      throw new Error('capture needs whole numbers ?fps=F&frames=N, both above 0');
    }
    prompt.textContent = `Capturing ${frames} frames at ${fps} fps…`;
    core._web_start();
    for (let k = 0; k < frames;) {
      const begin = performance.now();
      do {
        core._web_pass(k * kMsPerSecond / fps);
        ++k;
        ++status.passes;
      } while (k < frames && performance.now() - begin < kPassBudgetMs);
      await nextPaint();
    }
    show(core._web_frame_rgba());
    prompt.textContent = '';
    setState('captured');
  }

  function toStartScreen() {
    show(core._web_end_card_rgba());
    prompt.textContent = 'Click or press a key to play (with sound). Escape stops.';
    setState('ready');
  }

  // The clock: elapsed_ms since the first sample of the soundtrack left the speakers.
  // AudioContext.currentTime is the sound's own clock but advances in steps of a whole audio
  // buffer (10 ms or more), which would give many passes in a frame the same time; so the
  // passes read performance.now(), set once against the sound: getOutputTimestamp() pairs a
  // context time with the performance.now() at which it is heard. Before that (and where no
  // sound device runs, or the browser cannot tell) the clock runs from the gesture, then from
  // the start of the sound; it never goes back, so it waits for the sound to catch up (the
  // music opens with two quiet seconds).
  function elapsedMs() {
    if (!run.anchored && run.source) {
      const heard = audio.getOutputTimestamp?.() ?? {};  // Safari has none
      if (heard.performanceTime > 0 && heard.contextTime >= run.contextStart) {
        run.origin = heard.performanceTime - (heard.contextTime - run.contextStart) * kMsPerSecond;
        run.anchored = true;
      }
    }
    run.lastMs = Math.max(run.lastMs, performance.now() - run.origin);
    return run.lastMs;
  }

  function start(gestureMs) {
    if (status.state !== 'ready') return;
    // Full screen where the browser grants it; a refusal leaves the demo playing in the page.
    document.documentElement.requestFullscreen?.().catch(() => {});
    run = { source: null, contextStart: 0, origin: gestureMs, anchored: false, lastMs: 0,
            gestureMs, painted: false };
    core._web_start();
    prompt.textContent = '';
    message.textContent = '';
    setState('playing');
    play();
    // The sound starts once the first frame is on screen: making an AudioContext can hold the
    // page for a long moment (a second in headless Chromium). The gesture still counts then.
    const thisRun = run;
    nextPaint().then(() => startSound(thisRun));
  }

  function startSound(thisRun) {
    if (run !== thisRun || !music) return;
    audio ??= new AudioContext();
    audio.resume().catch(() => {});
    run.source = new AudioBufferSourceNode(audio, { buffer: music });
    run.source.connect(audio.destination);
    run.contextStart = audio.currentTime;
    run.source.start(run.contextStart);
    // Until the sound is heard: from now, plus the delay to the speakers the context reports.
    run.origin = performance.now() + (audio.outputLatency || audio.baseLatency || 0) * kMsPerSecond;
  }

  function silence() {
    if (run?.source) {
      run.source.stop();
      run.source.disconnect();
    }
    run = null;
  }

  // One painted frame of the run: as many passes as fit the budget, the last one shown.
  function play() {
    if (status.state !== 'playing') return;
    const begin = performance.now();
    let passes = 0;
    do {
      const ms = elapsedMs();
      if (ms >= trackMs) break;
      core._web_pass(ms);
      ++passes;
    } while (performance.now() - begin < kPassBudgetMs);
    status.passes += passes;
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
    setTimeout(toStartScreen, kEndCardMs);
  }

  // Escape, or leaving full screen (where the browser takes Escape for itself), stops at once.
  function stop() {
    if (status.state !== 'playing') return;
    silence();
    toStartScreen();
  }

  async function loadWav(file) {
    if (!file || status.state !== 'ready') return;
    const bytes = new Uint8Array(await file.arrayBuffer());
    if (status.state !== 'ready') return;  // a run started while the file was read
    stage(bytes);
    const verdict = core._web_accept_wav();
    if (verdict === kWavOk) {
      takeTrack();
      message.textContent = `${file.name} plays from the next start.`;
      return;
    }
    const line = core._web_wav_message(verdict);
    message.textContent = `${line ? core.UTF8ToString(line) : kTooShort} ${kAdvice}`;
  }

  document.getElementById('stage').addEventListener('click', (event) => start(event.timeStamp));
  document.addEventListener('keydown', (event) => {
    if (event.key === 'Escape') {
      stop();
    } else if (event.target !== picker && event.key !== 'Tab' &&
               !event.ctrlKey && !event.metaKey && !event.altKey) {
      start(event.timeStamp);
    }
  });
  document.addEventListener('fullscreenchange', () => {
    if (!document.fullscreenElement) stop();
  });
  picker.addEventListener('change', () => loadWav(picker.files[0]));
  document.addEventListener('dragover', (event) => event.preventDefault());
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    loadWav(event.dataTransfer.files[0]);
  });

  load().catch((error) => {
    prompt.textContent = '';
    message.textContent = `The demo could not start: ${error.message}`;
    console.error(error);
  });
})();
