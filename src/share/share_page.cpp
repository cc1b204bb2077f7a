#include "share/share_page.h"

namespace orrin {

const char* SharePageHtml() {
  return R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Orrin</title>
<link rel="stylesheet" href="view.css">
<script src="view.js" defer></script>
</head>
<body>
<main id="stage" title="Double-click: full screen"><img id="picture" alt=""></main>
<footer><span id="status">Connecting to the receiver…</span><span id="sound">Click for sound</span></footer>
</body>
</html>
)";
}

const char* ShareScript() {
  return R"('use strict';
// The live picture is the MJPEG stream in an <img>; the status line polls /status; the sound
// is the PCM stream, played through Web Audio once the viewer has clicked.
const stage = document.getElementById('stage');
const picture = document.getElementById('picture');
const statusLine = document.getElementById('status');
const soundLine = document.getElementById('sound');
const SAMPLE_RATE = 16000;
let streaming = false;

function startPictures() {
  streaming = true;
  picture.src = 'stream.mjpg?since=' + Date.now();
}
picture.addEventListener('error', () => {
  streaming = false;
});

function describe(sender) {
  const size = sender.width > 0 ? ` · ${sender.width}×${sender.height}` : '';
  const rate = Math.round(sender.pictures_received_per_second);
  return `Sender ${sender.address}${size} · ${rate} pictures/s`;
}

async function poll() {
  try {
    const answer = await fetch('status', {cache: 'no-store'});
    const status = await answer.json();
    const sender = status.senders[0];
    stage.classList.toggle('casting', sender !== undefined);
    statusLine.textContent = sender ? describe(sender) : 'Waiting for a sender';
    if (!streaming) startPictures();
  } catch (e) {
    statusLine.textContent = 'The receiver does not answer';
    stage.classList.remove('casting');
    streaming = false;
  }
  setTimeout(poll, 1000);
}

stage.addEventListener('dblclick', () => {
  if (document.fullscreenElement) {
    document.exitFullscreen();
  } else if (stage.requestFullscreen) {
    stage.requestFullscreen();
  }
});

// Samples of sound received so far (tests read it).
window.orrinSoundSamples = 0;
let audio = null;
let nextStart = 0;
let carry = null;

function play(bytes) {
  if (carry !== null) {
    const joined = new Uint8Array(bytes.length + 1);
    joined[0] = carry;
    joined.set(bytes, 1);
    bytes = joined;
    carry = null;
  }
  const count = bytes.length >> 1;
  if (bytes.length & 1) carry = bytes[bytes.length - 1];
  if (count === 0) return;
  const view = new DataView(bytes.buffer, bytes.byteOffset, count * 2);
  const buffer = audio.createBuffer(1, count, SAMPLE_RATE);
  const channel = buffer.getChannelData(0);
  for (let i = 0; i < count; i++) channel[i] = view.getInt16(i * 2, true) / 32768;
  window.orrinSoundSamples += count;
  document.body.dataset.soundSamples = String(window.orrinSoundSamples);
  const source = audio.createBufferSource();
  source.buffer = buffer;
  source.connect(audio.destination);
  // A little ahead of the clock; far behind or far ahead starts again from now.
  const now = audio.currentTime;
  if (nextStart < now + 0.02 || nextStart > now + 1) nextStart = now + 0.1;
  source.start(nextStart);
  nextStart += count / SAMPLE_RATE;
}

async function listen() {
  try {
    const answer = await fetch('sound.pcm', {cache: 'no-store'});
    if (!answer.ok || !answer.body) throw new Error(String(answer.status));
    soundLine.textContent = 'Sound on';
    const reader = answer.body.getReader();
    for (;;) {
      const {value, done} = await reader.read();
      if (done) break;
      play(value);
    }
  } catch (e) {
    soundLine.textContent = 'No sound';
  }
  carry = null;
  setTimeout(listen, 2000);
}

document.addEventListener('click', () => {
  audio = new AudioContext();
  listen();
}, {once: true});

poll();
)";
}

const char* ShareStyle() {
  return R"(html, body { margin: 0; height: 100%; background: #000; color: #ccc; font: 14px sans-serif; }
#stage { position: fixed; left: 0; top: 0; right: 0; bottom: 1.8em; background: #000; }
#stage:fullscreen { bottom: 0; }
#picture { width: 100%; height: 100%; object-fit: contain; visibility: hidden; }
#stage.casting #picture { visibility: visible; }
footer { position: fixed; left: 0; right: 0; bottom: 0; height: 1.8em; line-height: 1.8em; padding: 0 0.6em;
         display: flex; justify-content: space-between; background: #111; }
)";
}

}  // namespace orrin
