"""Eyes predicted to display time through the quilo package: frames of the
sample the build renders, pushed with system-clock timestamps, are predicted
by their velocity; each refusal answers its status; every frame carries its
exposure and publish times."""

import json
import math
import os
import pathlib
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))

import quilo  # noqa: E402
from greyPng import read_grey_png  # noqa: E402

FRAMES = 15
TOOL = os.environ.get("QUILO_REPLAY_TOOL", "")
SAMPLE = pathlib.Path(TOOL).parent / "replaySample" if TOOL else pathlib.Path("/nonexistent")


@unittest.skipUnless((SAMPLE / "sequence.json").is_file(), "the build's replay sample is not available")
class PredictionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        manifest = json.loads((SAMPLE / "sequence.json").read_text())
        i = manifest["intrinsics"]
        cls.intrinsics = quilo.Intrinsics(i["width"], i["height"], i["ppx"], i["ppy"], i["fx"], i["fy"])
        cls.frames = [(read_grey_png(SAMPLE / f["image"])[2], f["timestamp"]) for f in manifest["frames"][:FRAMES]]

    def push_all(self, engine, base_ms):
        for pixels, stamp in self.frames:
            engine.push(pixels, intrinsics=self.intrinsics, timestamp_ms=base_ms + stamp, system_clock=True)
        return base_ms + self.frames[-1][1]

    def test_frames_in_the_system_clock_are_predicted_by_their_velocity(self):
        base_ms = float(time.time_ns() // 1_000_000)
        with quilo.Engine(own_camera=True) as engine:
            engine.start_tracking()
            last_ms = self.push_all(engine, base_ms)
            frame = engine.latest_frame()
        # The frame keeps its handle: it predicts after the engine is gone.
        face = frame.main_face
        self.assertIsNotNone(face)
        # Whole milliseconds apart from the rest, as the engine converts them.
        whole = math.floor(last_ms)
        frame_ns = whole * 1_000_000 + round((last_ms - whole) * 1e6)
        self.assertEqual(frame.timing.exposure_time, frame_ns)
        self.assertGreater(frame.timing.publish_time, 0)

        at_frame = frame.predict_eyes(frame_ns)
        ahead = frame.predict_eyes(frame_ns + 40_000_000)
        self.assertEqual(at_frame.status, quilo.PredictionStatus.PREDICTED)
        self.assertTrue(ahead.predicted)
        self.assertAlmostEqual(ahead.horizon_ms, 40.0, places=3)
        speed = sum(v * v for v in face.velocity) ** 0.5
        self.assertGreater(speed, 0.03, "the sample moves faster than the prediction's fade")
        for eye_ahead, eye_now in ((ahead.right_eye, at_frame.right_eye), (ahead.left_eye, at_frame.left_eye)):
            for a, n, v in zip(eye_ahead, eye_now, face.velocity):
                self.assertAlmostEqual(a - n, v * 40.0, delta=0.01)
        spacing = sum((r - l) ** 2 for r, l in zip(at_frame.right_eye, at_frame.left_eye)) ** 0.5
        self.assertAlmostEqual(spacing, 63.0, delta=8.0)

        refusals = [
            (frame_ns - 2_000_000, quilo.PredictionStatus.TARGET_BEFORE_FRAME),
            (frame_ns + int((quilo.MAX_PREDICTION_MS + 1) * 1e6), quilo.PredictionStatus.BEYOND_HORIZON),
        ]
        for target, status in refusals:
            refused = frame.predict_eyes(target)
            self.assertEqual(refused.status, status)
            self.assertFalse(refused.predicted)
            self.assertEqual(refused.horizon_ms, 0.0)
            self.assertEqual((refused.right_eye, refused.left_eye), (at_frame.right_eye, at_frame.left_eye))
        with self.assertRaises(quilo.Error) as raised:
            frame.predict_eyes(frame_ns, face=1)
        self.assertEqual(raised.exception.status, 2)
        self.assertIn("no face 1", raised.exception.reason)

    def test_an_unknown_clock_is_not_predicted_and_callback_frames_expire(self):
        seen = []

        def on_frame(frame):
            if frame.main_face is not None:
                seen.append((frame, frame.predict_eyes(time.time_ns())))

        with quilo.Engine(own_camera=True, callback=on_frame) as engine:
            engine.start_tracking()
            before = time.time_ns()
            for pixels, stamp in self.frames:
                engine.push(pixels, intrinsics=self.intrinsics, timestamp_ms=stamp)
            after = time.time_ns()
        self.assertTrue(seen)
        frame, prediction = seen[-1]
        self.assertEqual(prediction.status, quilo.PredictionStatus.UNKNOWN_CLOCK)
        # Exposure at the push, publication after it, both within the pushes.
        self.assertLessEqual(before, frame.timing.exposure_time)
        self.assertLessEqual(frame.timing.exposure_time, frame.timing.publish_time)
        self.assertLessEqual(frame.timing.publish_time, after)
        with self.assertRaises(quilo.Error):
            frame.predict_eyes(time.time_ns())


if __name__ == "__main__":
    unittest.main()
