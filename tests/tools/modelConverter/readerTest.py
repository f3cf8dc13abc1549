"""What the readers make of the stored forms of weights, and how the
converter treats packages that are missing, damaged or lack a model."""

import base64
import io
import json
import os
import tarfile
import tempfile
import unittest

import numpy as np

import dnn  # noqa: F401 (sets the converter's path)
import convert
import tfjs_reader


def text(s):
    return {"s": base64.b64encode(s.encode()).decode()}


def tfjs_model(folder, weight, stored, op="Relu"):
    """A TF.js graph model: input -> Const-biased op; returns its .json path."""
    nodes = [
        {
            "name": "x",
            "op": "Placeholder",
            "attr": {"shape": {"shape": {"dim": [{"size": "-1"}, {"size": "2"}, {"size": "2"}, {"size": "1"}]}}},
        },
        {"name": "alpha", "op": "Const", "attr": {}},
        {"name": "y", "op": op, "input": ["x", "alpha"], "attr": {}},
    ]
    model = {
        "format": "graph-model",
        "modelTopology": {"node": nodes},
        "weightsManifest": [{"paths": ["w.bin"], "weights": [weight]}],
    }
    with open(os.path.join(folder, "w.bin"), "wb") as f:
        f.write(stored)
    path = os.path.join(folder, "model.json")
    with open(path, "w") as f:
        json.dump(model, f)
    return path


WEIGHTS = [
    # name, manifest entry, stored bytes, expected values
    (
        "float32",
        {"name": "alpha", "shape": [2], "dtype": "float32"},
        np.array([0.5, -2], np.float32).tobytes(),
        [0.5, -2],
    ),
    (
        "float16",
        {"name": "alpha", "shape": [2], "dtype": "float32", "quantization": {"dtype": "float16"}},
        np.array([0.5, -2], np.float16).tobytes(),
        [0.5, -2],
    ),
    (
        "uint8 with scale and min",
        {
            "name": "alpha",
            "shape": [3],
            "dtype": "float32",
            "quantization": {"dtype": "uint8", "scale": 0.5, "min": -1.0},
        },
        bytes([0, 2, 255]),
        [-1, 0, 126.5],
    ),
]


class TfjsReaderTest(unittest.TestCase):
    def test_weights_are_read_in_their_stored_form(self):
        for name, entry, stored, expected in WEIGHTS:
            with self.subTest(name), tempfile.TemporaryDirectory() as tmp:
                g = tfjs_reader.read(tfjs_model(tmp, entry, stored, op="Prelu"))
                self.assertEqual(g.inputs, [("x", [1, 2, 2, 1])])
                np.testing.assert_allclose(g.nodes[0].attrs["alpha"], expected)

    def test_refusals_name_what_is_wrong(self):
        short = {"name": "alpha", "shape": [4], "dtype": "float32"}
        cases = [
            ("weight file too short", short, b"\0" * 8, "Prelu", "inside alpha"),
            ("unknown operation", short, b"\0" * 16, "Softmax", "unsupported TF.js operation Softmax"),
        ]
        for name, entry, stored, op, message in cases:
            with self.subTest(name), tempfile.TemporaryDirectory() as tmp:
                with self.assertRaisesRegex(ValueError, message):
                    tfjs_reader.read(tfjs_model(tmp, entry, stored, op=op))


def tarball(path, files):
    with tarfile.open(path, "w:gz") as tar:
        for name, data in files.items():
            info = tarfile.TarInfo(name)
            info.size = len(data)
            tar.addfile(info, io.BytesIO(data))


class PackageTest(unittest.TestCase):
    def test_bad_packages_are_refused_by_name(self):
        loader = b'loadPackage({"files": [{"filename": "/other.tflite", "start": 0, "end": 4}]})'
        cases = [
            # name, files of the face mesh tarball (None: no tarball), expected integrity, message
            ("missing", None, None, "is missing: scripts/setup.sh fetches it"),
            ("another version", {"package/x": b"x"}, "sha512-AAAA", "damaged or another version"),
            ("no loader", {"package/x": b"x"}, None, "no package/face_mesh_solution_packed_assets_loader.js"),
            (
                "model not packed",
                {"package/face_mesh_solution_packed_assets_loader.js": loader},
                None,
                "no /third_party/mediapipe/modules/face_landmark/face_landmark.tflite in the packed assets",
            ),
        ]
        for name, files, integrity, message in cases:
            with self.subTest(name), tempfile.TemporaryDirectory() as tmp:
                if files is not None:
                    tarball(os.path.join(tmp, convert.FACE_MESH), files)
                expected = {convert.FACE_MESH: integrity} if integrity else None
                with self.assertRaisesRegex(ValueError, message):
                    convert.read_graph(tmp, "face_landmark", expected)

    def test_integrity_is_npm_s(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "f")
            with open(path, "wb") as f:
                f.write(b"abc")
            # npm's form of SHA-512("abc")
            self.assertEqual(
                convert.integrity(path),
                "sha512-3a81oZNherrMQXNJriBBMRLm+k6JqX6iCp7u5ktV05ohkpkqJ0/BqDa6PCOj/uu9RU1EI2Q86A4qmslPpUyknw==",
            )


if __name__ == "__main__":
    unittest.main()
