"""The quilo package against the engine: a few frames of the replay sample
(rendered by the build from the repository's portrait) pushed through Python
give the positions the C++ replay tool gives for the same frames; bad input
raises quilo.Error with the status and the engine's reason."""

import csv
import ctypes
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))

import quilo  # noqa: E402
from quilo import _capi  # noqa: E402
from greyPng import read_grey_png  # noqa: E402

FRAMES = 12
SEQUENCE = pathlib.Path(os.environ.get("QUILO_REPLAY_SAMPLE", ""))
_CAMERA = json.loads((SEQUENCE / "sequence.json").read_text())["intrinsics"] if SEQUENCE.is_dir() else {}
WIDTH, HEIGHT = _CAMERA.get("width", 0), _CAMERA.get("height", 0)
INTRINSICS = quilo.Intrinsics(
    width=WIDTH,
    height=HEIGHT,
    ppx=_CAMERA.get("ppx", 0.0),
    ppy=_CAMERA.get("ppy", 0.0),
    fx=_CAMERA.get("fx", 0.0),
    fy=_CAMERA.get("fy", 0.0),
)


class RecordsTest(unittest.TestCase):
    def test_records_match_the_c_layout(self):
        # The offsets the C header asserts that a Python mistake would move.
        self.assertEqual(_capi.InitArgs.frameCallback.offset, 108)
        self.assertEqual(_capi.InitArgs.virtualFaceHookUserData.offset, 136)
        self.assertEqual(_capi.ResultRecord.timestamp.offset, 124)
        self.assertEqual(_capi.DetectedFaceRecord.leftEyePixel.offset, 20)
        self.assertEqual(_capi.IntrinsicsRecord.isMirrored.offset, 44)
        self.assertEqual(_capi.ImageRecord.dataSize.offset, 24)
        self.assertEqual(_capi.DepthImageRecord.unit.offset, 12)

    def test_the_library_is_found_and_the_environment_wins(self):
        self.assertEqual(quilo.version(), "0.6.74")
        saved = os.environ.get(_capi.LIBRARY_ENV)
        os.environ[_capi.LIBRARY_ENV] = "/nonexistent/libquilo.so"
        try:
            with self.assertRaisesRegex(OSError, _capi.LIBRARY_ENV):
                _capi.find_library()
        finally:
            if saved is None:
                del os.environ[_capi.LIBRARY_ENV]
            else:
                os.environ[_capi.LIBRARY_ENV] = saved


@unittest.skipUnless(SEQUENCE.is_dir(), "the build's replay sample is not available")
class TrackingTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = pathlib.Path(tempfile.mkdtemp(prefix="quiloPython"))
        frames = []
        for i in range(FRAMES):
            name = "{:05}.png".format(i)
            shutil.copy(SEQUENCE / name, cls.folder / name)
            frames.append({"image": name, "timestamp": 40.0 * i})
        manifest = {
            "format": "quiloHeadTrackingSequence",
            "version": 1,
            "intrinsics": _CAMERA,
            "frames": frames,
        }
        (cls.folder / "sequence.json").write_text(json.dumps(manifest))
        cls.images = [read_grey_png(cls.folder / f["image"])[2] for f in frames]

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def replay_with_the_tool(self):
        output = self.folder / "replay"
        subprocess.run(
            [os.environ["QUILO_REPLAY_TOOL"], str(self.folder), "-o", str(output), "--overlay-every", "0"],
            check=True,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        positions = {}
        with open(output / "frames.csv", newline="") as f:
            for row in csv.DictReader(f):
                if row["face"] == "0":
                    positions[int(row["frame"])] = tuple(float(row["position_" + a]) for a in "xyz")
        return positions

    def test_positions_match_the_cpp_replay(self):
        expected = self.replay_with_the_tool()
        self.assertGreater(len(expected), FRAMES // 2, "the C++ replay should find the face in most frames")

        seen = []
        # Buffers of three kinds: bytes, bytearray and a memoryview.
        kinds = [bytes, bytearray, memoryview]
        with quilo.Engine(own_camera=True, callback=seen.append) as engine:
            engine.start_tracking()
            got = {}
            for i, image in enumerate(self.images):
                buffer = kinds[i % 3](image) if kinds[i % 3] is not memoryview else memoryview(bytearray(image))
                engine.push(buffer, intrinsics=INTRINSICS, timestamp_ms=40.0 * i)
                frame = engine.latest_frame()
                self.assertEqual(frame.timestamp_ms, 40.0 * i)
                if frame.main_face is not None:
                    got[i] = frame.main_face.position
            engine.stop_tracking()

        self.assertEqual(len(seen), FRAMES)
        self.assertIsInstance(seen[-1], quilo.Frame)
        self.assertEqual(sorted(got), sorted(expected))
        for i, position in expected.items():
            for a, b in zip(got[i], position):
                self.assertAlmostEqual(a, b, delta=0.05, msg="frame {}".format(i))

    def test_the_c_example_prints_the_same_main_faces(self):
        example = os.environ.get("QUILO_PUSH_SEQUENCE_EXAMPLE")
        if not example:
            self.skipTest("the C example's path is not given")
        expected = self.replay_with_the_tool()
        output = subprocess.run([example, str(self.folder)], check=True, capture_output=True, text=True).stdout
        lines = [line for line in output.splitlines() if line.startswith("frame ")]
        self.assertEqual(len(lines), FRAMES)
        for i, line in enumerate(lines):
            if i in expected:
                printed = line.split("at (")[1].split(")")[0]
                for a, b in zip((float(v) for v in printed.split(",")), expected[i]):
                    self.assertAlmostEqual(a, b, delta=0.06, msg=line)
            else:
                self.assertTrue(line.endswith("no face"), line)

    def test_measured_depth_is_used(self):
        # A flat wall of depth 2 m everywhere: the detector takes it.
        depth = (ctypes.c_uint16 * (WIDTH * HEIGHT))(*([2000] * (WIDTH * HEIGHT)))
        with quilo.Engine(own_camera=True) as engine:
            engine.start_tracking()
            for i, image in enumerate(self.images[:3]):
                engine.push(image, depth=depth, intrinsics=INTRINSICS, timestamp_ms=40.0 * i)
            frame = engine.latest_frame()
        self.assertTrue(frame.detected_faces)
        self.assertAlmostEqual(frame.detected_faces[0].right_eye_depth, 2.0, places=3)

    def test_errors_carry_the_status_and_setters_work(self):
        with quilo.Engine(own_camera=True) as engine:
            engine.start_tracking()
            engine.set_camera_position(0.0, 10.0, 0.0)
            engine.set_camera_rotation([1, 0, 0, 0, 1, 0, 0, 0, 1])
            engine.set_camera_transform((0.0, 0.0, 0.0), (0.0, 0.0, 0.0))
            engine.set_filter_properties(quilo.FilterProperties(max_track_gap=300.0))
            engine.set_tracked_eyes(True, False)
            self.assertGreaterEqual(engine.max_faces_limit(), 1)
            engine.set_max_faces(1)
            with self.assertRaises(quilo.Error) as raised:
                engine.set_max_faces(0)
            self.assertEqual(raised.exception.status, 2)
            engine.push(self.images[0], intrinsics=INTRINSICS, timestamp_ms=100.0)
            size = WIDTH * HEIGHT
            for bad, reason in [
                (
                    dict(image=self.images[0][:-1], intrinsics=INTRINSICS, timestamp_ms=200.0),
                    "the image's buffer holds {} bytes, {} x {} pixels with stride {} need {}".format(
                        size - 1, WIDTH, HEIGHT, WIDTH, size
                    ),
                ),
                (
                    dict(image=self.images[0], intrinsics=INTRINSICS, timestamp_ms=50.0),
                    "the timestamp 50 ms does not come after the last one, 100 ms",
                ),
                (
                    dict(image=self.images[0], intrinsics=INTRINSICS, timestamp_ms=300.0, stride=WIDTH - 1),
                    "the image's stride {} is shorter than its width {}".format(WIDTH - 1, WIDTH),
                ),
                (
                    dict(image=self.images[0], intrinsics=INTRINSICS, timestamp_ms=300.0, depth=b"\0" * 10),
                    "the depth image's buffer holds 10 bytes",
                ),
                (
                    dict(
                        image=self.images[0],
                        intrinsics=quilo.Intrinsics(WIDTH, HEIGHT, WIDTH / 2, HEIGHT / 2, float("nan"), 346),
                        timestamp_ms=300.0,
                    ),
                    "the intrinsics hold a value that is not finite",
                ),
            ]:
                with self.assertRaises(quilo.Error) as raised:
                    engine.push(**bad)
                self.assertEqual(raised.exception.status, 2)
                self.assertTrue(raised.exception.reason.startswith("quiloHeadTrackingEnginePushFrame: " + reason))
                self.assertIn(reason, str(raised.exception))
        # A closed engine answers 1.
        with self.assertRaises(quilo.Error) as raised:
            engine.start_tracking()
        self.assertEqual(raised.exception.status, 1)


class CallbackTest(unittest.TestCase):
    def test_closing_from_the_callback_is_refused_and_the_engine_goes_on(self):
        intrinsics = quilo.Intrinsics(width=64, height=48, ppx=32, ppy=24, fx=60, fy=60)
        refusals = []

        def close_inside(frame):
            try:
                engine.close()
            except quilo.Error as error:
                refusals.append(error)

        engine = quilo.Engine(own_camera=True, callback=close_inside)
        engine.start_tracking()
        for i in range(2):
            engine.push(bytes(64 * 48), intrinsics=intrinsics, timestamp_ms=40.0 * i)
        self.assertEqual([r.status for r in refusals], [2, 2])
        self.assertIn("called from inside the engine's processing of a frame", refusals[0].reason)
        engine.close()
        with self.assertRaises(quilo.Error) as raised:
            engine.start_tracking()
        self.assertEqual(raised.exception.status, 1)


try:
    import numpy
except ImportError:
    numpy = None


@unittest.skipUnless(SEQUENCE.is_dir() and numpy is not None, "needs the build's replay sample and NumPy")
class NumpyTest(unittest.TestCase):
    def test_arrays_give_their_size_and_any_dtype_is_read_as_bytes(self):
        image = numpy.frombuffer(read_grey_png(SEQUENCE / "00000.png")[2], dtype=numpy.uint8).reshape(HEIGHT, WIDTH)
        with quilo.Engine(own_camera=True) as engine:
            engine.start_tracking()
            engine.push(
                image, depth=numpy.full((HEIGHT, WIDTH), 1500, numpy.uint16), intrinsics=INTRINSICS, timestamp_ms=0.0
            )
            self.assertEqual(engine.latest_frame().timestamp_ms, 0.0)


if __name__ == "__main__":
    unittest.main()
