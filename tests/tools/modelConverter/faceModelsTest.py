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


@unittest.skipUnless(
    PACKAGES and os.path.isdir(PACKAGES) and MODELS, "needs the face models' packages (run scripts/setup.sh)"
)
class FaceModelTest(unittest.TestCase):
    def test_converted_models_compute_the_original(self):
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
