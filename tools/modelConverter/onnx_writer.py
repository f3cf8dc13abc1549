"""Writes the converter's graph as an ONNX model that OpenCV's dnn module
(4.6) reads: NCHW activations, explicit padding, opset 11.

The network's input is one NCHW image; four-dimensional data stays NCHW
throughout, and is brought back to TensorFlow's NHWC order only where the
original graph depends on the order of its elements (a reshape, a
concatenation of other than four-dimensional data) and at the outputs, so
every output has the shape and element order of the original.
"""

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

from graph import Node

OPSET = 11
_TO_NCHW_AXIS = {0: 0, 1: 2, 2: 3, 3: 1}


def _same_pads(size, kernel, stride, dilation):
    # TensorFlow's SAME: as many outputs as ceil(size / stride), the odd
    # padded pixel after the image, not before.
    out = (size + stride - 1) // stride
    need = (out - 1) * stride + dilation * (kernel - 1) + 1 - size
    need = max(need, 0)
    return need // 2, need - need // 2


def _spatial_pads(shape, kernel, stride, dilation, padding):
    """ONNX pads [top, left, bottom, right] and the output size, for NHWC shape."""
    if padding == "VALID":
        pads = [0, 0, 0, 0]
    else:
        t, b = _same_pads(shape[1], kernel[0], stride[0], dilation[0])
        l, r = _same_pads(shape[2], kernel[1], stride[1], dilation[1])
        pads = [t, l, b, r]
    out = [(shape[1 + k] + pads[k] + pads[k + 2] - dilation[k] * (kernel[k] - 1) - 1) // stride[k] + 1 for k in (0, 1)]
    return pads, out


class _Writer:
    def __init__(self):
        self.nodes = []
        self.inits = []
        self.shape = {}  # NHWC (TensorFlow's) shape of every tensor
        self.nchw = {}  # True where the ONNX tensor holds 4-D data as NCHW
        self.count = 0

    def name(self, base):
        self.count += 1
        return f"{base}__{self.count}"

    def const(self, base, value):
        n = self.name(base)
        self.inits.append(numpy_helper.from_array(np.ascontiguousarray(value), n))
        return n

    def add(self, op, ins, out=None, **attrs):
        out = out or self.name(op)
        self.nodes.append(helper.make_node(op, ins, [out], **attrs))
        return out

    def plain(self, t):
        """t with its elements in TensorFlow's order."""
        if not self.nchw[t]:
            return t
        return self.add("Transpose", [t], perm=[0, 2, 3, 1])

    def activation(self, y, act, channels):
        if act is None:
            return y
        if act == "relu":
            return self.add("Relu", [y])
        slope = act[1].astype(np.float32).reshape(channels, 1, 1)
        return self.add("PRelu", [y, self.const("slope", slope)])

    def conv(self, node, depthwise):
        a = node.attrs
        x = node.inputs[0]
        shape = self.shape[x]
        w = a["w"].astype(np.float32)
        kh, kw = w.shape[:2]
        if depthwise:
            channels = w.shape[2] * w.shape[3]
            weight = w.transpose(2, 3, 0, 1).reshape(channels, 1, kh, kw)
            group = w.shape[2]
        else:
            channels = w.shape[3]
            weight = w.transpose(3, 2, 0, 1)
            group = 1
        pads, out = _spatial_pads(shape, (kh, kw), a["stride"], a["dilation"], a["padding"])
        ins = [x, self.const("weight", weight)]
        if a["b"] is not None:
            ins.append(self.const("bias", a["b"].astype(np.float32).reshape(channels)))
        y = self.add(
            "Conv",
            ins,
            kernel_shape=[kh, kw],
            strides=list(a["stride"]),
            dilations=list(a["dilation"]),
            pads=pads,
            group=group,
        )
        return self.activation(y, a["activation"], channels), [shape[0], out[0], out[1], channels], True

    def node(self, n):
        a = n.attrs
        ins = n.inputs
        if n.op in ("conv", "dwconv"):
            return self.conv(n, n.op == "dwconv")
        if n.op == "maxpool":
            shape = self.shape[ins[0]]
            pads, out = _spatial_pads(shape, a["kernel"], a["stride"], (1, 1), a["padding"])
            y = self.add("MaxPool", ins, kernel_shape=list(a["kernel"]), strides=list(a["stride"]), pads=pads)
            return y, [shape[0], out[0], out[1], shape[3]], True
        if n.op == "add":
            x = ins if self.nchw[ins[0]] == self.nchw[ins[1]] else [self.plain(i) for i in ins]
            y = self.add("Add", x)
            shape = self.shape[ins[0]]
            return self.activation(y, a["activation"], shape[-1]), shape, self.nchw[x[0]]
        if n.op == "prelu":
            shape = self.shape[ins[0]]
            return self.activation(ins[0], ("prelu", a["alpha"]), shape[3]), shape, True
        if n.op == "relu":
            return self.add("Relu", ins), self.shape[ins[0]], self.nchw[ins[0]]
        if n.op == "pad":
            shape = self.shape[ins[0]]
            pads = np.array(a["pads"], np.int64)
            order = [0, 3, 1, 2]
            onnx_pads = np.concatenate([pads[order, 0], pads[order, 1]])
            y = self.add("Pad", [ins[0], self.const("pads", onnx_pads)], mode="constant")
            return y, [s + int(p.sum()) for s, p in zip(shape, pads)], True
        if n.op == "reshape":
            shape = list(a["shape"])
            total = int(np.prod(self.shape[ins[0]]))
            if -1 in shape:
                shape[shape.index(-1)] = total // -int(np.prod(shape))
            y = self.add("Reshape", [self.plain(ins[0]), self.const("shape", np.array(shape, np.int64))])
            return y, shape, False
        if n.op == "concat":
            shapes = [self.shape[i] for i in ins]
            axis = a["axis"] % len(shapes[0])
            out = list(shapes[0])
            out[axis] = sum(s[axis] for s in shapes)
            if all(self.nchw[i] for i in ins):
                return self.add("Concat", ins, axis=_TO_NCHW_AXIS[axis]), out, True
            return self.add("Concat", [self.plain(i) for i in ins], axis=axis), out, False
        if n.op == "resize":
            shape = self.shape[ins[0]]
            if a["align_corners"]:
                mode = "align_corners"
            elif a["half_pixel"]:
                mode = "half_pixel"
            else:
                mode = "asymmetric"
            out = [shape[0], a["size"][0], a["size"][1], shape[3]]
            scales = np.array([1, 1, out[1] / shape[1], out[2] / shape[2]], np.float32)
            y = self.add(
                "Resize",
                [ins[0], self.const("roi", np.zeros(0, np.float32)), self.const("scales", scales)],
                mode="linear",
                coordinate_transformation_mode=mode,
            )
            return y, out, True
        raise ValueError(f"no ONNX form for {n.op}")


def write(graph, outputs, producer):
    """The ONNX model of graph; outputs names its outputs in order."""
    w = _Writer()
    (in_name, in_shape) = graph.inputs[0]
    n, h, wd, c = in_shape
    w.shape["input"] = [1, h, wd, c]
    w.nchw["input"] = True
    inputs = [helper.make_tensor_value_info("input", TensorProto.FLOAT, [1, c, h, wd])]
    onnx_name = {in_name: "input"}
    for node in graph.nodes:
        mapped = Node(node.op, [onnx_name[i] for i in node.inputs], node.outputs, node.attrs)
        y, shape, nchw = w.node(mapped)
        onnx_name[node.outputs[0]] = y
        w.shape[y] = shape
        w.nchw[y] = nchw
    outs = []
    for source, name in zip(graph.outputs, outputs):
        t = onnx_name[source]
        w.add("Identity", [w.plain(t)], name)
        outs.append(helper.make_tensor_value_info(name, TensorProto.FLOAT, w.shape[t]))
    model = helper.make_model(
        helper.make_graph(w.nodes, "model", inputs, outs, w.inits),
        opset_imports=[helper.make_opsetid("", OPSET)],
        producer_name=producer,
    )
    onnx.checker.check_model(model)
    return model
