"""Head tracking from Python: the quilo engine through its C interface.

    import quilo
    with quilo.Engine(own_camera=True) as engine:
        engine.start_tracking()
        engine.push(image, intrinsics=quilo.Intrinsics(400, 300, 200, 150, 346, 346), timestamp_ms=0.0)
        frame = engine.latest_frame()

Images are any object with the buffer protocol (bytes, bytearray,
memoryview, array.array, a NumPy array): 8-bit grey rows, and optionally a
16-bit depth image of the same size. Positions are in millimetres.
"""

from .engine import (
    DetectedFace,
    Engine,
    Error,
    EyePrediction,
    Face,
    FilterProperties,
    Frame,
    Intrinsics,
    MAX_PREDICTION_MS,
    PredictionStatus,
    Profiling,
    RawFace,
    Timing,
    version,
)

__all__ = [
    "DetectedFace",
    "Engine",
    "Error",
    "EyePrediction",
    "Face",
    "FilterProperties",
    "Frame",
    "Intrinsics",
    "MAX_PREDICTION_MS",
    "PredictionStatus",
    "Profiling",
    "RawFace",
    "Timing",
    "version",
]
