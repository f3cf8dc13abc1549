"""Reads a TensorFlow Lite model (a flatbuffer) into the converter's graph.

The file is read through flatbuffers' Table API with the field numbers of
TensorFlow Lite's public schema (schema.fbs), so no generated code and no
TensorFlow are needed. Only the operations these face models use are known;
any other stops the conversion with its name.
"""

import flatbuffers
import numpy as np
from flatbuffers import number_types as N

from graph import Graph, Node

# BuiltinOperator values of the schema.
_OPS = {
    0: "ADD",
    2: "CONCATENATION",
    3: "CONV_2D",
    4: "DEPTHWISE_CONV_2D",
    6: "DEQUANTIZE",
    17: "MAX_POOL_2D",
    19: "RELU",
    22: "RESHAPE",
    23: "RESIZE_BILINEAR",
    34: "PAD",
    54: "PRELU",
}
# TensorType values of the schema.
_TYPES = {0: np.float32, 1: np.float16, 2: np.int32, 4: np.int64}
_PADDING = {0: "SAME", 1: "VALID"}
# ActivationFunctionType values of the schema.
_ACTIVATION = {0: None, 1: "relu"}


class _Table:
    """One flatbuffer table; fields are addressed by their number in the schema."""

    def __init__(self, buf, pos):
        self.t = flatbuffers.table.Table(buf, pos)

    def _offset(self, field):
        return self.t.Offset(4 + 2 * field)

    def scalar(self, field, flags, default=0):
        o = self._offset(field)
        return self.t.Get(flags, o + self.t.Pos) if o else default

    def string(self, field):
        o = self._offset(field)
        return self.t.String(o + self.t.Pos).decode() if o else ""

    def table(self, field):
        o = self._offset(field)
        return _Table(self.t.Bytes, self.t.Indirect(o + self.t.Pos)) if o else None

    def tables(self, field):
        o = self._offset(field)
        if not o:
            return []
        start = self.t.Vector(o)
        return [_Table(self.t.Bytes, self.t.Indirect(start + 4 * i)) for i in range(self.t.VectorLen(o))]

    def vector(self, field, dtype):
        o = self._offset(field)
        if not o:
            return np.zeros(0, dtype)
        start = self.t.Vector(o)
        n = self.t.VectorLen(o)
        return np.frombuffer(self.t.Bytes, dtype, n, start).copy()


def _options(op, code):
    o = op.table(4)  # builtin_options
    if o is None:
        return {}
    i32, u8 = N.Int32Flags, N.Uint8Flags
    if code == "CONV_2D":
        return dict(
            padding=_PADDING[o.scalar(0, u8)],
            stride=(o.scalar(2, i32), o.scalar(1, i32)),
            activation=_ACTIVATION[o.scalar(3, u8)],
            dilation=(o.scalar(5, i32, 1), o.scalar(4, i32, 1)),
        )
    if code == "DEPTHWISE_CONV_2D":
        return dict(
            padding=_PADDING[o.scalar(0, u8)],
            stride=(o.scalar(2, i32), o.scalar(1, i32)),
            multiplier=o.scalar(3, i32),
            activation=_ACTIVATION[o.scalar(4, u8)],
            dilation=(o.scalar(6, i32, 1), o.scalar(5, i32, 1)),
        )
    if code == "MAX_POOL_2D":
        return dict(
            padding=_PADDING[o.scalar(0, u8)],
            stride=(o.scalar(2, i32), o.scalar(1, i32)),
            kernel=(o.scalar(4, i32), o.scalar(3, i32)),
            activation=_ACTIVATION[o.scalar(5, u8)],
        )
    if code == "ADD":
        return dict(activation=_ACTIVATION[o.scalar(0, u8)])
    if code == "CONCATENATION":
        return dict(axis=o.scalar(0, i32), activation=_ACTIVATION[o.scalar(1, u8)])
    if code == "RESHAPE":
        return dict(shape=o.vector(0, np.int32).tolist())
    if code == "RESIZE_BILINEAR":
        return dict(align_corners=bool(o.scalar(2, u8)), half_pixel=bool(o.scalar(3, u8)))
    return {}


def read(data):
    """The graph of the first subgraph of a .tflite file's bytes."""
    buf = bytearray(data)
    model = _Table(buf, flatbuffers.encode.Get(N.UOffsetTFlags.packer_type, buf, 0))
    codes = []
    for c in model.tables(1):
        # builtin_code (field 3) replaced the deprecated byte (field 0) past 127.
        codes.append(max(c.scalar(0, N.Int8Flags), c.scalar(3, N.Int32Flags)))
    buffers = [b.vector(0, np.uint8) for b in model.tables(4)]
    sub = model.tables(2)[0]
    tensors = sub.tables(0)
    names, consts, shapes = [], {}, {}
    for t in tensors:
        name = t.string(3)
        names.append(name)
        shape = t.vector(0, np.int32).tolist()
        shapes[name] = shape
        raw = buffers[t.scalar(2, N.Uint32Flags)]
        if raw.size:
            dtype = _TYPES[t.scalar(1, N.Int8Flags)]
            consts[name] = np.frombuffer(raw.tobytes(), dtype).reshape(shape)
    g = Graph()
    g.inputs = [(names[i], shapes[names[i]]) for i in sub.vector(1, np.int32)]
    g.outputs = [names[i] for i in sub.vector(2, np.int32)]
    for op in sub.tables(3):
        code = _OPS.get(codes[op.scalar(0, N.Uint32Flags)])
        if code is None:
            raise ValueError(f"unsupported TensorFlow Lite operator {codes[op.scalar(0, N.Uint32Flags)]}")
        ins = [names[i] for i in op.vector(1, np.int32) if i >= 0]
        outs = [names[i] for i in op.vector(2, np.int32)]
        attrs = _options(op, code)
        if code == "DEQUANTIZE":
            # fp16 weights: the graph's own first step turns them into fp32.
            consts[outs[0]] = consts[ins[0]].astype(np.float32)
            continue
        g.nodes.append(_node(code, ins, outs, attrs, consts))
    g.consts = consts
    return g


def _node(code, ins, outs, attrs, consts):
    """Brings weights into the layouts of the graph (TensorFlow's, NHWC)."""
    act = attrs.pop("activation", None)
    if code == "CONV_2D":
        # TensorFlow Lite keeps filters as OHWI, TensorFlow as HWIO.
        w = consts[ins[1]].transpose(1, 2, 3, 0)
        b = consts[ins[2]] if len(ins) > 2 else None
        return Node("conv", [ins[0]], outs, dict(attrs, w=w, b=b, activation=act))
    if code == "DEPTHWISE_CONV_2D":
        # 1HW(C*M) here, HWCM in TensorFlow.
        w = consts[ins[1]]
        m = attrs.pop("multiplier") or 1
        w = w.reshape(w.shape[1], w.shape[2], w.shape[3] // m, m)
        b = consts[ins[2]] if len(ins) > 2 else None
        return Node("dwconv", [ins[0]], outs, dict(attrs, w=w, b=b, activation=act))
    if code == "MAX_POOL_2D":
        return Node("maxpool", ins, outs, attrs)
    if code == "ADD":
        return Node("add", ins, outs, dict(activation=act))
    if code == "CONCATENATION":
        return Node("concat", ins, outs, dict(axis=attrs["axis"]))
    if code == "RESHAPE":
        shape = attrs.get("shape") or consts[ins[1]].tolist()
        return Node("reshape", ins[:1], outs, dict(shape=shape))
    if code == "PAD":
        return Node("pad", ins[:1], outs, dict(pads=consts[ins[1]].tolist()))
    if code == "PRELU":
        return Node("prelu", ins[:1], outs, dict(alpha=consts[ins[1]]))
    if code == "RESIZE_BILINEAR":
        size = consts[ins[1]].tolist()
        return Node("resize", ins[:1], outs, dict(attrs, size=size))
    if code == "RELU":
        return Node("relu", ins, outs, {})
    raise AssertionError(code)
