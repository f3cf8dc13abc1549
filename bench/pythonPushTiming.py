"""Per-frame cost of the Python package at 848 x 480, next to the detector's.

Run with the build's package on the path:
    PYTHONPATH=build/python python3 bench/pythonPushTiming.py [frames]

It pastes frames of the recorded webcam sequence into an 848 x 480 canvas
and reports, as medians over the frames:
  - push() while no session runs: the package's own work (buffer access,
    records, the C call and its checks), the engine drops the frame at once;
  - latest_frame(): one poll read into dataclasses;
  - push() while tracking: the face detector and the engine's work on the
    frame (the engine's own part is a few microseconds, see quiloEngineBench).
"""

import os
import pathlib
import statistics
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "python" / "tests"))

import quilo  # noqa: E402
from greyPng import read_grey_png  # noqa: E402

WIDTH, HEIGHT = 848, 480
FRAMES = int(sys.argv[1]) if len(sys.argv) > 1 else 50
SEQUENCE = (
    pathlib.Path(
        os.environ.get("QUILO_TESTDATA_DIR", pathlib.Path(__file__).resolve().parents[2] / "shared" / "testdata")
    )
    / "webcam-head-motion"
)


def canvas(frame):
    w, h, pixels = read_grey_png(SEQUENCE / "{:05}.png".format(frame))
    out = bytearray(WIDTH * HEIGHT)
    left, top = (WIDTH - w) // 2, (HEIGHT - h) // 2
    for y in range(h):
        out[(top + y) * WIDTH + left : (top + y) * WIDTH + left + w] = pixels[y * w : (y + 1) * w]
    return bytes(out)


def median_us(values):
    return statistics.median(values) * 1e6


def main():
    images = [canvas(1 + i % 20) for i in range(min(FRAMES, 20))]
    intrinsics = quilo.Intrinsics(WIDTH, HEIGHT, WIDTH / 2, HEIGHT / 2, 346.0, 346.0)
    idle, polls, tracked = [], [], []
    with quilo.Engine(own_camera=True, log_level=5) as engine:
        ms = 0.0
        for i in range(FRAMES):
            ms += 40.0
            start = time.perf_counter()
            engine.push(images[i % len(images)], intrinsics=intrinsics, timestamp_ms=ms)
            idle.append(time.perf_counter() - start)
        engine.start_tracking()
        for i in range(FRAMES):
            ms += 40.0
            start = time.perf_counter()
            engine.push(images[i % len(images)], intrinsics=intrinsics, timestamp_ms=ms)
            tracked.append(time.perf_counter() - start)
            start = time.perf_counter()
            engine.latest_frame()
            polls.append(time.perf_counter() - start)
    print("frames: {} at {} x {}".format(FRAMES, WIDTH, HEIGHT))
    print("push() without a session (package + C checks): {:8.1f} us".format(median_us(idle)))
    print("latest_frame() into dataclasses:               {:8.1f} us".format(median_us(polls)))
    print("push() while tracking (detector and engine):   {:8.1f} us".format(median_us(tracked)))


if __name__ == "__main__":
    main()
