"""MediaPipe's face models as the build converted them: OpenCV's dnn module
must give, on a fixed input, what the NumPy reference computes from the
original graph in the npm package. Needs the packages scripts/setup.sh
fetches; skipped, visibly, without them."""

import os
import unittest

import numpy as np

import dnn
import convert
import reference

PACKAGES = os.environ.get("QUILO_MODEL_PACKAGE_DIR", "")
MODELS = os.environ.get("QUILO_FACE_MODEL_DIR", "")
# Allowed difference: float32 sums of a few hundred thousand products against
# a float64 reference; landmarks are in input pixels (up to about 200), where
# the relative part takes over.
TOLERANCE = 2e-4
RELATIVE_TOLERANCE = 2e-6

CASES = [
    # model, NHWC input shape, outputs and their shapes
    ("iris_landmark", [1, 64, 64, 3], {"landmarks": (1, 1, 1, 228)}),
    ("face_landmark", [1, 192, 192, 3], {"landmarks": (1, 1, 1, 1404), "face_flag": (1, 1, 1, 1)}),
    ("face_detection_full_range", [1, 192, 192, 3], {"regressors": (1, 2304, 16), "classificators": (1, 2304, 1)}),
    ("face_detection_short_range", [1, 128, 128, 3], {"regressors": (1, 896, 16), "classificators": (1, 896, 1)}),
]


HAVE_MODELS = bool(PACKAGES and os.path.isdir(PACKAGES) and MODELS)
# CI, which runs the setup, may not skip them.
REQUIRED = os.environ.get("QUILO_REQUIRE_TESTDATA") == "1"


@unittest.skipUnless(HAVE_MODELS or REQUIRED, "needs the face models' packages (run scripts/setup.sh)")
class FaceModelTest(unittest.TestCase):
    def test_converted_models_compute_the_original(self):
        self.assertTrue(HAVE_MODELS, f"no face models' packages in {PACKAGES!r} or no converted models")
        for model, shape, outputs in CASES:
            with self.subTest(model):
                graph = convert.read_graph(PACKAGES, model)
                self.assertEqual(graph.inputs[0][1], shape)
                x = np.random.default_rng(7).uniform(-1, 1, shape).astype(np.float32)
                expected = reference.run(graph, {graph.inputs[0][0]: x})
                got = dnn.run(os.path.join(MODELS, model + ".onnx"), x, list(outputs))
                for (name, want_shape), g, e in zip(outputs.items(), got, expected):
                    self.assertEqual(tuple(g.shape), want_shape, name)
                    error = float(np.abs(g - e).max())
                    scale = float(np.abs(e).max())
                    print(f"{model} {name}: largest difference {error:.2e}, largest value {scale:.1f}")
                    self.assertLess(error, max(TOLERANCE, RELATIVE_TOLERANCE * scale), name)


if __name__ == "__main__":
    unittest.main()


# A real face: the reference shares the readers with the converter, so a
# weight read wrongly (filters in the wrong order, half-floats decoded as
# something else, a layer skipped) would pass above but not here. (Small
# changes such as PReLU slopes of the wrong sign still give plausible eyes.) The eyes' annotated centres (tests/data/grace_hopper-eyes.csv) are
# 88.8 px apart.
PHOTO = os.path.join(os.path.dirname(__file__), "..", "..", "data", "grace_hopper.jpg")
RIGHT_EYE = (222.2, 197.2)
LEFT_EYE = (310.8, 191.5)
EYE_DISTANCE = 88.8


def iris_centre(out, centre, side):
    """The centre of the eye's own contour (points 0..15) in the photo."""
    points = out.reshape(-1, 3)[:16, :2].mean(axis=0)
    return centre + (points - 32) * side / 64


def mesh_eyes(out, centre, side):
    p = out.reshape(-1, 3)[:, :2]
    return [centre + ((p[a] + p[b]) / 2 - 96) * side / 192 for a, b in ((33, 133), (362, 263))]


def detector_eyes(regressors, classificators, size, anchors, centre, side):
    """Keypoints 0 and 1 (the eyes) of the best-scored anchor, in the photo."""
    best = int(np.argmax(classificators.reshape(-1)))
    r = regressors.reshape(-1, 16)[best]
    a = anchors[best]
    return [centre + (r[4 + 2 * k : 6 + 2 * k] / size + a - 0.5) * side for k in (0, 1)]


def anchors(grids):
    """Anchor centres, in [0, 1], of (grid size, anchors per cell) layers."""
    out = []
    for grid, count in grids:
        for y in range(grid):
            for x in range(grid):
                out += [((x + 0.5) / grid, (y + 0.5) / grid)] * count
    return np.array(out)


# name, model, crop centre, side, input size, pixel range, the eyes it gives, allowed error
# (eye distances; the detector's keypoints are coarse), the outputs
PHOTO_CASES = [
    (
        "iris, right eye",
        "iris_landmark",
        RIGHT_EYE,
        70,
        64,
        (0, 1),
        lambda o, c, s: [iris_centre(o[0], c, s)],
        [RIGHT_EYE],
        0.1,
        ["landmarks"],
    ),
    (
        "iris, left eye",
        "iris_landmark",
        LEFT_EYE,
        70,
        64,
        (0, 1),
        lambda o, c, s: [iris_centre(o[0], c, s)],
        [LEFT_EYE],
        0.1,
        ["landmarks"],
    ),
    (
        "face mesh",
        "face_landmark",
        (266, 225),
        230,
        192,
        (0, 1),
        lambda o, c, s: mesh_eyes(o[0], c, s) if o[1].item() > 0 else [],
        [RIGHT_EYE, LEFT_EYE],
        0.1,
        ["landmarks", "face_flag"],
    ),
    (
        "short range detector",
        "face_detection_short_range",
        (256, 300),
        600,
        128,
        (-1, 1),
        lambda o, c, s: detector_eyes(o[0], o[1], 128, anchors([(16, 2), (8, 6)]), c, s) if o[1].max() > 0 else [],
        [RIGHT_EYE, LEFT_EYE],
        0.15,
        ["regressors", "classificators"],
    ),
    (
        "full range detector",
        "face_detection_full_range",
        (256, 300),
        600,
        192,
        (-1, 1),
        lambda o, c, s: detector_eyes(o[0], o[1], 192, anchors([(48, 1)]), c, s) if o[1].max() > 0 else [],
        [RIGHT_EYE, LEFT_EYE],
        0.15,
        ["regressors", "classificators"],
    ),
]


@unittest.skipUnless(HAVE_MODELS or REQUIRED, "needs the face models' packages (run scripts/setup.sh)")
class PhotoTest(unittest.TestCase):
    def test_models_find_the_eyes_of_a_real_face(self):
        self.assertTrue(HAVE_MODELS, f"no face models' packages in {PACKAGES!r} or no converted models")
        for name, model, centre, side, size, (low, high), eyes, truth, allowed, outputs in PHOTO_CASES:
            with self.subTest(name):
                x = dnn.crop(PHOTO, centre, side, size, low, high)
                out = dnn.run(os.path.join(MODELS, model + ".onnx"), x, outputs)
                found = eyes(out, np.array(centre), side)
                self.assertEqual(len(found), len(truth), "no face found")
                for f, t in zip(found, truth):
                    error = float(np.hypot(*(f - np.array(t)))) / EYE_DISTANCE
                    print(f"{name}: eye at ({f[0]:.1f}, {f[1]:.1f}), {error:.3f} eye distances off")
                    self.assertLess(error, allowed)
