"""The converter's graph: TensorFlow's operations and layouts (NHWC activations,
HWIO filters, HWCM depthwise filters), weights as fp32 NumPy arrays held by
the nodes. Both readers produce it; the ONNX writer and the NumPy reference
consume it.

Operations and their attributes:
  conv     w (HWIO), b (O or None), stride, dilation, padding, activation
  dwconv   w (HWCM), b, stride, dilation, padding, activation
  maxpool  kernel, stride, padding
  add      activation (two inputs)
  prelu    alpha (broadcast over NHWC, one value per channel)
  relu
  pad      pads: [[before, after]] per NHWC axis
  reshape  shape (of the NHWC data)
  concat   axis (of the NHWC data)
padding is "SAME" (TensorFlow's: the odd pixel at the end) or "VALID";
activation is None, "relu" or ("prelu", alpha).
"""


class Node:
    def __init__(self, op, inputs, outputs, attrs):
        self.op = op
        self.inputs = list(inputs)
        self.outputs = list(outputs)
        self.attrs = attrs

    def __repr__(self):
        return f"Node({self.op}, {self.inputs} -> {self.outputs})"


class Graph:
    def __init__(self):
        self.inputs = []  # [(name, NHWC shape)]
        self.outputs = []  # [name]
        self.nodes = []
        self.consts = {}

    def ops(self):
        counts = {}
        for n in self.nodes:
            counts[n.op] = counts.get(n.op, 0) + 1
        return counts
