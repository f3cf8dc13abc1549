"""Runs ONNX models through OpenCV's dnn module (the quiloDnnRun program) and
compares with the converter's NumPy reference."""

import os
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "..", "tools", "modelConverter"))


def _read_blob(path):
    with open(path, "rb") as f:
        data = f.read()
    count = int(np.frombuffer(data, np.int32, 1)[0])
    dims = np.frombuffer(data, np.int32, count, 4)
    return np.frombuffer(data, np.float32, -1, 4 + 4 * count).reshape(dims)


def run(model_path, nhwc_input, output_names):
    """The named outputs of the ONNX model at model_path for an NHWC input."""
    program = os.environ.get("QUILO_DNN_RUN")
    if not program:
        raise RuntimeError("QUILO_DNN_RUN names no program (ctest sets it)")
    nchw = np.ascontiguousarray(nhwc_input.transpose(0, 3, 1, 2), np.float32)
    with tempfile.TemporaryDirectory() as tmp:
        blob = os.path.join(tmp, "input")
        with open(blob, "wb") as f:
            f.write(np.array([4, *nchw.shape], np.int32).tobytes() + nchw.tobytes())
        args = [program, model_path, blob]
        files = []
        for name in output_names:
            files.append(os.path.join(tmp, name))
            args += [name, files[-1]]
        result = subprocess.run(args, capture_output=True, text=True)
        if result.returncode != 0:
            raise AssertionError(f"OpenCV refused {model_path}: {result.stderr.strip()}")
        return [_read_blob(f) for f in files]


def crop(image, centre, side, size, low, high):
    """The NHWC input of a square of image (see quiloDnnRun --crop)."""
    with tempfile.TemporaryDirectory() as tmp:
        blob = os.path.join(tmp, "crop")
        args = [os.environ["QUILO_DNN_RUN"], "--crop", image, *map(str, (*centre, side, size, low, high)), blob]
        result = subprocess.run(args, capture_output=True, text=True)
        if result.returncode != 0:
            raise AssertionError(f"no crop of {image}: {result.stderr.strip()}")
        return _read_blob(blob).transpose(0, 2, 3, 1)


def run_model(onnx_model, nhwc_input, output_names):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "model.onnx")
        with open(path, "wb") as f:
            f.write(onnx_model.SerializeToString())
        return run(path, nhwc_input, output_names)
