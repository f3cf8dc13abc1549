"""A NumPy interpreter of the converter's graph, in TensorFlow's own terms
(NHWC, HWIO filters, TensorFlow's SAME padding), in float64. It shares no code
with the ONNX writer, so the two agree only if both follow the original graph."""

import numpy as np


def _same_pads(size, kernel, stride, dilation):
    out = -(-size // stride)
    total = max((out - 1) * stride + (kernel - 1) * dilation + 1 - size, 0)
    return total // 2, total - total // 2


def _padded(x, kernel, stride, dilation, padding, value=0.0):
    if padding == "VALID":
        return x
    ph = _same_pads(x.shape[1], kernel[0], stride[0], dilation[0])
    pw = _same_pads(x.shape[2], kernel[1], stride[1], dilation[1])
    return np.pad(x, ((0, 0), ph, pw, (0, 0)), constant_values=value)


def _windows(x, kernel, stride, dilation):
    """Yields (i, j, the input pixels under filter tap i, j for every output)."""
    kh, kw = kernel
    oh = (x.shape[1] - (kh - 1) * dilation[0] - 1) // stride[0] + 1
    ow = (x.shape[2] - (kw - 1) * dilation[1] - 1) // stride[1] + 1
    for i in range(kh):
        for j in range(kw):
            y0, x0 = i * dilation[0], j * dilation[1]
            yield i, j, x[
                :, y0 : y0 + (oh - 1) * stride[0] + 1 : stride[0], x0 : x0 + (ow - 1) * stride[1] + 1 : stride[1], :
            ]


def _activation(y, act):
    if act is None:
        return y
    if act == "relu":
        return np.maximum(y, 0)
    if act[0] == "prelu":
        return np.where(y >= 0, y, y * act[1].astype(np.float64).reshape(-1))
    raise ValueError(act)


def _conv(x, a, depthwise):
    w = a["w"].astype(np.float64)
    kernel = w.shape[:2]
    x = _padded(x, kernel, a["stride"], a["dilation"], a["padding"])
    y = None
    for i, j, patch in _windows(x, kernel, a["stride"], a["dilation"]):
        if depthwise:
            term = (patch[..., :, None] * w[i, j]).reshape(patch.shape[:3] + (-1,))
        else:
            term = patch @ w[i, j]
        y = term if y is None else y + term
    if a["b"] is not None:
        y = y + a["b"].astype(np.float64)
    return _activation(y, a["activation"])


def _maxpool(x, a):
    x = _padded(x, a["kernel"], a["stride"], (1, 1), a["padding"], -np.inf)
    return np.max([p for _, _, p in _windows(x, a["kernel"], a["stride"], (1, 1))], axis=0)


def _resize(x, a):
    """Bilinear, TensorFlow's half_pixel_centers or align_corners conventions."""

    def taps(out_size, in_size):
        o = np.arange(out_size, dtype=np.float64)
        if a["align_corners"] and out_size > 1:
            src = o * (in_size - 1) / (out_size - 1)
        elif a["half_pixel"]:
            src = (o + 0.5) * in_size / out_size - 0.5
        else:
            src = o * in_size / out_size
        lo = np.floor(src)
        frac = src - lo
        lo = lo.astype(int)
        return np.clip(lo, 0, in_size - 1), np.clip(lo + 1, 0, in_size - 1), frac

    y0, y1, fy = taps(a["size"][0], x.shape[1])
    x0, x1, fx = taps(a["size"][1], x.shape[2])
    rows = x[:, y0] * (1 - fy)[None, :, None, None] + x[:, y1] * fy[None, :, None, None]
    return rows[:, :, x0] * (1 - fx)[None, None, :, None] + rows[:, :, x1] * fx[None, None, :, None]


def run(graph, inputs):
    """The graph's outputs (float64, NHWC) for {input name: NHWC array}."""
    values = {k: np.asarray(v, np.float64) for k, v in inputs.items()}
    for n in graph.nodes:
        x = [values[i] for i in n.inputs]
        a = n.attrs
        if n.op == "conv":
            y = _conv(x[0], a, False)
        elif n.op == "dwconv":
            y = _conv(x[0], a, True)
        elif n.op == "maxpool":
            y = _maxpool(x[0], a)
        elif n.op == "add":
            y = _activation(x[0] + x[1], a["activation"])
        elif n.op == "prelu":
            y = _activation(x[0], ("prelu", a["alpha"]))
        elif n.op == "relu":
            y = np.maximum(x[0], 0)
        elif n.op == "pad":
            y = np.pad(x[0], a["pads"])
        elif n.op == "reshape":
            y = x[0].reshape(a["shape"])
        elif n.op == "concat":
            y = np.concatenate(x, axis=a["axis"])
        elif n.op == "resize":
            y = _resize(x[0], a)
        else:
            raise ValueError(f"no reference for {n.op}")
        values[n.outputs[0]] = y
    return [values[o] for o in graph.outputs]
