// A scene seen through the display as through a window: every point is
// projected onto the display's plane along the line to the viewer's eyes
// (an off-axis perspective), so moving the head looks around the scene.
// Positions come from the tracker's WebSocket feed, in the display's space:
// millimetres, x right, y up, z out of the display towards the viewer.
'use strict';

const params = new URLSearchParams(location.search);
// The physical width of the canvas on the display, mm; a 15" laptop's by default.
const screenWidthMm = Number(params.get('width')) || 340;
// Where the eyes are taken to be while nobody is tracked.
const restingEye = { x: 0, y: 0, z: 600 };

const canvas = document.getElementById('scene');
const context = canvas.getContext('2d');
let eye = { ...restingEye };
let targetEye = { ...restingEye };

function text(id, value) { document.getElementById(id).textContent = value; }
function formatPoint(p) {
  return p.map((v) => (v === null ? '?' : v.toFixed(1))).join('  ') + ' mm';
}

// The scene: a room 400 mm deep behind the display, and blocks at several
// depths, some in front of it.
const roomDepth = 400;
const blocks = [
  { x: -90, y: -40, z: -300, size: 60, colour: '#d06040' },
  { x: 100, y: 30, z: -180, size: 50, colour: '#40a0d0' },
  { x: 10, y: -60, z: -80, size: 40, colour: '#d0c040' },
  { x: -40, y: 50, z: 40, size: 30, colour: '#60d080' },
];

function project(p, size) {
  // The point where the line from the eye to p crosses the display (z = 0).
  const t = eye.z / (eye.z - p.z);
  const sx = eye.x + (p.x - eye.x) * t;
  const sy = eye.y + (p.y - eye.y) * t;
  const heightMm = screenWidthMm * size.h / size.w;
  return { x: (sx / screenWidthMm + 0.5) * size.w, y: (0.5 - sy / heightMm) * size.h };
}

function line(a, b, size) {
  const pa = project(a, size), pb = project(b, size);
  context.moveTo(pa.x, pa.y);
  context.lineTo(pb.x, pb.y);
}

function drawRoom(size) {
  const w = screenWidthMm / 2, h = w * size.h / size.w;
  context.strokeStyle = '#2f4a78';
  context.lineWidth = 1;
  context.beginPath();
  for (let z = 0; z >= -roomDepth; z -= 50) {  // rings along the depth
    line({ x: -w, y: -h, z }, { x: w, y: -h, z }, size);
    line({ x: w, y: -h, z }, { x: w, y: h, z }, size);
    line({ x: w, y: h, z }, { x: -w, y: h, z }, size);
    line({ x: -w, y: h, z }, { x: -w, y: -h, z }, size);
  }
  for (let i = 0; i <= 8; ++i) {  // lines from front to back on every wall
    const u = -1 + i / 4;
    line({ x: u * w, y: -h, z: 0 }, { x: u * w, y: -h, z: -roomDepth }, size);
    line({ x: u * w, y: h, z: 0 }, { x: u * w, y: h, z: -roomDepth }, size);
    line({ x: -w, y: u * h, z: 0 }, { x: -w, y: u * h, z: -roomDepth }, size);
    line({ x: w, y: u * h, z: 0 }, { x: w, y: u * h, z: -roomDepth }, size);
    line({ x: u * w, y: -h, z: -roomDepth }, { x: u * w, y: h, z: -roomDepth }, size);
  }
  context.stroke();
}

function drawBlock(block, size) {
  const s = block.size / 2;
  const corners = [];
  for (const dx of [-s, s]) for (const dy of [-s, s]) for (const dz of [-s, s]) {
    corners.push({ x: block.x + dx, y: block.y + dy, z: block.z + dz });
  }
  const faces = [[0, 1, 3, 2], [4, 5, 7, 6], [0, 1, 5, 4], [2, 3, 7, 6], [0, 2, 6, 4], [1, 3, 7, 5]];
  // Far faces first, so near ones cover them.
  const depth = (f) => f.reduce((sum, i) => sum + Math.hypot(corners[i].x - eye.x, corners[i].y - eye.y,
                                                             corners[i].z - eye.z), 0);
  faces.sort((a, b) => depth(b) - depth(a));
  for (const face of faces) {
    context.beginPath();
    face.forEach((i, k) => {
      const p = project(corners[i], size);
      if (k === 0) context.moveTo(p.x, p.y); else context.lineTo(p.x, p.y);
    });
    context.closePath();
    context.fillStyle = block.colour;
    context.globalAlpha = 0.85;
    context.fill();
    context.globalAlpha = 1;
    context.strokeStyle = '#0a0d14';
    context.stroke();
  }
}

function draw() {
  const size = { w: canvas.clientWidth, h: canvas.clientHeight };
  if (canvas.width !== size.w || canvas.height !== size.h) {
    canvas.width = size.w;
    canvas.height = size.h;
  }
  // Eased towards the newest eye position: the feed's rate and the
  // display's differ.
  for (const k of ['x', 'y', 'z']) eye[k] += (targetEye[k] - eye[k]) * 0.5;
  eye.z = Math.max(eye.z, 100);
  context.clearRect(0, 0, size.w, size.h);
  drawRoom(size);
  const sorted = [...blocks].sort((a, b) => a.z - b.z);
  for (const block of sorted) drawBlock(block, size);
  requestAnimationFrame(draw);
}

function onMessage(message) {
  const data = JSON.parse(message.data);
  text('frame', String(data.frame));
  text('faces', String(data.faces.length));
  text('latency', data.latency === null ? '?' : data.latency.toFixed(1) + ' ms');
  if (data.faces.length === 0) {
    targetEye = { ...restingEye };
    return;
  }
  const face = data.faces[0];
  text('rightEye', formatPoint(face.rightEye));
  text('leftEye', formatPoint(face.leftEye));
  text('head', formatPoint(face.head));
  if (face.head.every((v) => v !== null)) {
    targetEye = { x: face.head[0], y: face.head[1], z: face.head[2] };
  }
}

function connect(port) {
  const status = document.getElementById('connection');
  const socket = new WebSocket(`ws://${location.hostname}:${port}/`);
  socket.onopen = () => { status.dataset.state = 'open'; status.textContent = 'connected'; };
  socket.onmessage = onMessage;
  socket.onclose = () => {
    status.dataset.state = 'closed';
    status.textContent = 'disconnected; trying again…';
    setTimeout(() => connect(port), 1000);
  };
}

fetch('config.json')
  .then((response) => response.json())
  .then((config) => connect(config.websocketPort))
  .catch((error) => { text('connection', 'no feed: ' + error); });
requestAnimationFrame(draw);
