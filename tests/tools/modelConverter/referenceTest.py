"""The NumPy reference against answers worked out by hand from TensorFlow's
definitions: were it wrong, the converter would be checked against a wrong
answer."""

import unittest

import numpy as np

import dnn  # noqa: F401 (sets the converter's path)
import reference
from graph import Graph, Node

ONES_3x3 = dict(w=np.ones((3, 3, 1, 1), np.float32), b=None, dilation=(1, 1), activation=None)

CASES = [
    # name, node, input (H x W, one channel), expected output (H x W)
    # SAME, stride 2 on 4 pixels: one padded pixel, after the image.
    (
        "conv SAME stride 2",
        Node("conv", ["x"], ["y"], dict(ONES_3x3, stride=(2, 2), padding="SAME")),
        np.ones((4, 4)),
        [[9, 6], [6, 4]],
    ),
    (
        "conv VALID",
        Node("conv", ["x"], ["y"], dict(ONES_3x3, stride=(1, 1), padding="VALID")),
        np.arange(16.0).reshape(4, 4),
        [[45, 54], [81, 90]],
    ),
    (
        "conv SAME stride 1 pads both sides",
        Node("conv", ["x"], ["y"], dict(ONES_3x3, stride=(1, 1), padding="SAME")),
        np.ones((3, 3)),
        [[4, 6, 4], [6, 9, 6], [4, 6, 4]],
    ),
    # Padding never wins a max.
    (
        "max pool SAME",
        Node("maxpool", ["x"], ["y"], dict(kernel=(2, 2), stride=(2, 2), padding="SAME")),
        -np.arange(1.0, 10.0).reshape(3, 3),
        [[-1, -3], [-7, -9]],
    ),
    ("prelu", Node("prelu", ["x"], ["y"], dict(alpha=np.array([0.5], np.float32))), np.array([[-2.0, 3.0]]), [[-1, 3]]),
    (
        "resize half pixel",
        Node("resize", ["x"], ["y"], dict(size=[1, 4], align_corners=False, half_pixel=True)),
        np.array([[0.0, 1.0]]),
        [[0, 0.25, 0.75, 1]],
    ),
    (
        "resize align corners",
        Node("resize", ["x"], ["y"], dict(size=[1, 4], align_corners=True, half_pixel=False)),
        np.array([[0.0, 3.0]]),
        [[0, 1, 2, 3]],
    ),
]


class ReferenceTest(unittest.TestCase):
    def test_hand_worked_answers(self):
        for name, node, x, expected in CASES:
            with self.subTest(name):
                g = Graph()
                g.inputs = [("x", [1, *x.shape, 1])]
                g.nodes = [node]
                g.outputs = ["y"]
                (got,) = reference.run(g, {"x": x[None, :, :, None]})
                np.testing.assert_allclose(got[0, :, :, 0], expected)


if __name__ == "__main__":
    unittest.main()
