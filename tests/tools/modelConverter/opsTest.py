"""Each operation the converter knows, alone in a graph: OpenCV's result for
the ONNX file must equal the NumPy reference of the TensorFlow semantics.
Shapes are odd and rectangular where a fault would hide in a square (a
padding placed before instead of after, height and width swapped, a filter
transposed the wrong way, NHWC data reshaped as if it were NCHW)."""

import unittest

import numpy as np

import dnn  # noqa: F401 (sets the converter's path)
import onnx_writer
import reference
from graph import Graph, Node

rng = np.random.default_rng(31)


def weights(*shape):
    return rng.uniform(-1, 1, shape).astype(np.float32)


def conv(kh, kw, ci, co, stride=(1, 1), padding="SAME", dilation=(1, 1), bias=True, activation=None):
    return Node(
        "conv",
        ["x"],
        ["y"],
        dict(
            w=weights(kh, kw, ci, co),
            b=weights(co) if bias else None,
            stride=stride,
            dilation=dilation,
            padding=padding,
            activation=activation,
        ),
    )


def dwconv(k, c, m=1, stride=(1, 1), padding="SAME"):
    return Node(
        "dwconv",
        ["x"],
        ["y"],
        dict(w=weights(k, k, c, m), b=weights(c * m), stride=stride, dilation=(1, 1), padding=padding, activation=None),
    )


def chain(*nodes):
    """Nodes fed one into the next, from "x"; the last one's output is "y"."""
    for i, n in enumerate(nodes):
        n.inputs = [f"t{i - 1}" if i else "x"] + n.inputs[1:]
        n.outputs = ["y" if i == len(nodes) - 1 else f"t{i}"]
    return list(nodes)


CASES = [
    # name, input NHWC shape, nodes
    ("conv 3x3 stride 2 SAME, even size: the odd padding goes after", [1, 8, 10, 3], [conv(3, 3, 3, 4, (2, 2))]),
    ("conv 3x3 stride 2 SAME, odd size", [1, 7, 9, 2], [conv(3, 3, 2, 5, (2, 2))]),
    ("conv 5x3 stride 2x1 SAME", [1, 9, 6, 3], [conv(5, 3, 3, 2, (2, 1))]),
    ("conv 1x1 VALID with relu", [1, 5, 7, 3], [conv(1, 1, 3, 6, padding="VALID", activation="relu")]),
    ("conv 3x3 VALID without bias", [1, 6, 5, 4], [conv(3, 3, 4, 3, padding="VALID", bias=False)]),
    ("conv 3x3 dilated 2 SAME", [1, 9, 8, 2], [conv(3, 3, 2, 3, dilation=(2, 2))]),
    ("conv with prelu", [1, 6, 6, 3], [conv(3, 3, 3, 4, activation=("prelu", weights(4)))]),
    ("depthwise 3x3 SAME", [1, 7, 6, 5], [dwconv(3, 5)]),
    ("depthwise 5x5 stride 2 SAME", [1, 10, 9, 4], [dwconv(5, 4, stride=(2, 2))]),
    ("depthwise, two filters per channel", [1, 6, 5, 3], [dwconv(3, 3, m=2)]),
    (
        "max pool 2x2 stride 2 VALID",
        [1, 8, 6, 3],
        [Node("maxpool", ["x"], ["y"], dict(kernel=(2, 2), stride=(2, 2), padding="VALID"))],
    ),
    # The input is all below zero here: a pool that pads with zeros shows.
    (
        "max pool 3x3 stride 2 SAME",
        [1, 7, 8, 2],
        [Node("maxpool", ["x"], ["y"], dict(kernel=(3, 3), stride=(2, 2), padding="SAME"))],
    ),
    ("prelu", [1, 4, 5, 6], [Node("prelu", ["x"], ["y"], dict(alpha=weights(1, 1, 6)))]),
    ("relu", [1, 4, 5, 2], [Node("relu", ["x"], ["y"], {})]),
    ("pad channels", [1, 4, 5, 3], [Node("pad", ["x"], ["y"], dict(pads=[[0, 0], [0, 0], [0, 0], [0, 5]]))]),
    ("pad rows and columns", [1, 4, 5, 3], [Node("pad", ["x"], ["y"], dict(pads=[[0, 0], [1, 2], [0, 1], [0, 0]]))]),
    (
        "reshape after a conv keeps TensorFlow's element order",
        [1, 4, 3, 2],
        chain(conv(1, 1, 2, 4), Node("reshape", ["x"], ["y"], dict(shape=[1, -1, 2]))),
    ),
    (
        "concat of channels",
        [1, 5, 4, 3],
        [conv(1, 1, 3, 2), Node("relu", ["x"], ["r"], {}), Node("concat", ["y", "r"], ["z"], dict(axis=3))],
    ),
    (
        "concat of reshaped heads",
        [1, 4, 2, 3],
        [
            conv(1, 1, 3, 4),
            Node("reshape", ["y"], ["a"], dict(shape=[1, -1, 2])),
            Node("reshape", ["x"], ["b"], dict(shape=[1, -1, 2])),
            Node("concat", ["a", "b"], ["z"], dict(axis=1)),
        ],
    ),
    (
        "add of two branches with relu",
        [1, 5, 3, 2],
        [conv(3, 3, 2, 2), Node("add", ["y", "x"], ["z"], dict(activation="relu"))],
    ),
    (
        "bilinear resize, half pixel centres",
        [1, 3, 5, 2],
        [Node("resize", ["x"], ["y"], dict(size=[6, 10], align_corners=False, half_pixel=True))],
    ),
]


class OperationTest(unittest.TestCase):
    def test_opencv_equals_the_reference(self):
        for name, shape, nodes in CASES:
            with self.subTest(name):
                g = Graph()
                g.inputs = [("x", shape)]
                g.nodes = nodes
                g.outputs = [nodes[-1].outputs[0]]
                x = rng.uniform(-1, 1, shape).astype(np.float32)
                if "pool" in name:
                    x = x - 2
                (expected,) = reference.run(g, {"x": x})
                (got,) = dnn.run_model(onnx_writer.write(g, ["out"], "test"), x, ["out"])
                self.assertEqual(tuple(got.shape), expected.shape)
                np.testing.assert_allclose(got, expected, atol=1e-5, rtol=0)


if __name__ == "__main__":
    unittest.main()
