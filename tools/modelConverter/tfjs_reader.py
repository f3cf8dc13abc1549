"""Reads a TensorFlow.js graph model (model.json and its weight files) into the
converter's graph.

The format: modelTopology.node is a TensorFlow GraphDef as JSON (attribute
strings base64-encoded), weightsManifest lists the Const nodes' values in the
order they lie in the weight files, each optionally quantized (float16, or
uint8/uint16 with scale and min). Only the operations these face models use
are known; any other stops the conversion with its name.
"""

import base64
import json
import os

import numpy as np

from graph import Graph, Node

_DTYPES = {"float32": np.float32, "int32": np.int32, "float16": np.float16}
_QUANTIZED = {"float16": np.float16, "uint8": np.uint8, "uint16": np.uint16}


def _read(path):
    with open(path, "rb") as f:
        return f.read()


def _weights(manifest, folder):
    values = {}
    for group in manifest:
        data = b"".join(_read(os.path.join(folder, p)) for p in group["paths"])
        offset = 0
        for w in group["weights"]:
            shape = w["shape"]
            count = int(np.prod(shape)) if shape else 1
            q = w.get("quantization")
            stored = np.dtype(_QUANTIZED[q["dtype"]] if q else _DTYPES[w["dtype"]])
            size = count * stored.itemsize
            if offset + size > len(data):
                raise ValueError(f"weight files end inside {w['name']}")
            raw = np.frombuffer(data, stored, count, offset)
            offset += size
            if q and q["dtype"] != "float16":
                raw = raw * np.float32(q["scale"]) + np.float32(q["min"])
            values[w["name"]] = raw.astype(_DTYPES[w["dtype"]]).reshape(shape)
    return values


def _text(attr):
    return base64.b64decode(attr["s"]).decode()


def _ints(attr):
    return [int(i) for i in attr["list"].get("i", [])]


def _nhwc_pair(attr):
    v = _ints(attr)
    return (v[1], v[2])


def read(path):
    """The graph of a TF.js graph model, given the path of its .json file."""
    with open(path) as f:
        model = json.load(f)
    if model.get("format") != "graph-model":
        raise ValueError(f"{path}: not a TF.js graph model")
    consts = _weights(model["weightsManifest"], os.path.dirname(path))
    g = Graph()
    # Identity only renames: outputs are known by the name of what they copy.
    alias = {}

    def source(name):
        name = name.split(":")[0]
        return alias.get(name, name)

    for n in model["modelTopology"]["node"]:
        op, name, attr = n["op"], n["name"], n.get("attr", {})
        ins = [source(i) for i in n.get("input", []) if not i.startswith("^")]
        if op == "Const":
            if name not in consts:
                raise ValueError(f"{path}: no weights for {name}")
            continue
        if attr.get("data_format") and _text(attr["data_format"]) != "NHWC":
            raise ValueError(f"{name}: only NHWC data is supported")
        if op == "Placeholder":
            dims = [int(d["size"]) for d in attr["shape"]["shape"]["dim"]]
            g.inputs.append((name, [1] + dims[1:]))
        elif op == "Identity":
            alias[name] = ins[0]
        elif op in ("_FusedConv2D", "DepthwiseConv2dNative", "FusedDepthwiseConv2dNative"):
            fused = [base64.b64decode(s).decode() for s in attr.get("fused_ops", {}).get("list", {}).get("s", [])]
            act = None
            b = None
            for k, f in enumerate(fused):
                if f == "BiasAdd":
                    b = consts[ins[2]]
                elif f == "Prelu":
                    act = ("prelu", consts[ins[3]])
                elif f == "Relu":
                    act = "relu"
                else:
                    raise ValueError(f"{name}: unsupported fused operation {f}")
            w = consts[ins[1]]
            attrs = dict(
                w=w,
                b=b,
                stride=_nhwc_pair(attr["strides"]),
                dilation=_nhwc_pair(attr["dilations"]) if "dilations" in attr else (1, 1),
                padding=_text(attr["padding"]),
                activation=act,
            )
            g.nodes.append(Node("conv" if op == "_FusedConv2D" else "dwconv", ins[:1], [name], attrs))
        elif op == "AddV2" or op == "Add":
            g.nodes.append(Node("add", ins, [name], dict(activation=None)))
        elif op == "Prelu":
            g.nodes.append(Node("prelu", ins[:1], [name], dict(alpha=consts[ins[1]])))
        elif op == "Relu":
            g.nodes.append(Node("relu", ins, [name], {}))
        elif op == "MaxPool":
            g.nodes.append(
                Node(
                    "maxpool",
                    ins,
                    [name],
                    dict(
                        kernel=_nhwc_pair(attr["ksize"]),
                        stride=_nhwc_pair(attr["strides"]),
                        padding=_text(attr["padding"]),
                    ),
                )
            )
        elif op == "Pad":
            g.nodes.append(Node("pad", ins[:1], [name], dict(pads=consts[ins[1]].tolist())))
        elif op == "Reshape":
            g.nodes.append(Node("reshape", ins[:1], [name], dict(shape=consts[ins[1]].tolist())))
        elif op == "ConcatV2":
            axis = int(consts[ins[-1]])
            g.nodes.append(Node("concat", ins[:-1], [name], dict(axis=axis)))
        else:
            raise ValueError(f"{name}: unsupported TF.js operation {op}")
    outputs = model.get("userDefinedMetadata", {}).get("signature", {}).get("outputs", {})
    g.outputs = [source(k) for k in outputs] or [g.nodes[-1].outputs[0]]
    g.consts = consts
    return g
