"""The engine's C interface through ctypes: the records with their 4-byte
packing, the function signatures, and finding the library."""

import ctypes
import os
import pathlib
import sys

LIBRARY_ENV = "QUILO_HEAD_TRACKING_LIBRARY"
LIBRARY_NAMES = {
    "win32": "quiloHeadTrackingEngine.dll",
    "darwin": "libquiloHeadTrackingEngine.dylib",
}.get(sys.platform, "libquiloHeadTrackingEngine.so")

MAX_FACES = 3


class Vec3(ctypes.Structure):
    _pack_ = 4
    _fields_ = [("x", ctypes.c_float), ("y", ctypes.c_float), ("z", ctypes.c_float)]


class DVec2(ctypes.Structure):
    _pack_ = 4
    _fields_ = [("x", ctypes.c_double), ("y", ctypes.c_double)]


class KalmanCoeffs(ctypes.Structure):
    _pack_ = 4
    _fields_ = [("a", Vec3), ("b", Vec3)]


class FilterPropertiesRecord(ctypes.Structure):
    _pack_ = 4
    _fields_ = [
        ("restartThreshold", ctypes.c_float),
        ("maxTrackGap", ctypes.c_float),
        ("velDampingTime", ctypes.c_float),
        ("minFitDist", ctypes.c_float),
        ("maxFitDist", ctypes.c_float),
        ("angleYMax", ctypes.c_float),
        ("interocularDistanceMin", ctypes.c_float),
        ("interocularDistanceMax", ctypes.c_float),
        ("bufferLim", ctypes.c_float),
        ("mainFaceSkew", Vec3),
        ("mainFaceScale", Vec3),
        ("kalman", KalmanCoeffs),
    ]


class TimestampRecord(ctypes.Structure):
    _pack_ = 4
    _fields_ = [("space", ctypes.c_int32), ("ms", ctypes.c_double)]


FrameCallback = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p)
VirtualFaceHook = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)


class InitArgs(ctypes.Structure):
    _pack_ = 4
    _fields_ = [
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("fps", ctypes.c_int32),
        ("binningFactor", ctypes.c_float),
        ("maxNumOfFaces", ctypes.c_int32),
        ("logLevel", ctypes.c_int32),
        ("filterProperties", FilterPropertiesRecord),
        ("frameCallback", FrameCallback),
        ("frameCallbackUserData", ctypes.c_void_p),
        ("enablePolling", ctypes.c_int32),
        ("virtualFaceHook", VirtualFaceHook),
        ("virtualFaceHookUserData", ctypes.c_void_p),
    ]


class FaceRecord(ctypes.Structure):
    _pack_ = 4
    _fields_ = [("position", Vec3), ("velocity", Vec3), ("angles", Vec3), ("rawFaceIndex", ctypes.c_int32)]


class RawFaceRecord(ctypes.Structure):
    _pack_ = 4
    _fields_ = [("rightEye", Vec3), ("leftEye", Vec3), ("trackedPoint", Vec3), ("detectionIndex", ctypes.c_int32)]


class DetectedFaceRecord(ctypes.Structure):
    _pack_ = 4
    _fields_ = [
        ("rightEyePixel", DVec2),
        ("rightEyeDepth", ctypes.c_float),
        ("leftEyePixel", DVec2),
        ("leftEyeDepth", ctypes.c_float),
        ("headPosition", Vec3),
        ("angles", Vec3),
    ]


class ResultRecord(ctypes.Structure):
    _pack_ = 4
    _fields_ = [
        ("numFaces", ctypes.c_int32),
        ("faces", FaceRecord * MAX_FACES),
        ("timestamp", TimestampRecord),
        ("trackingStarted", ctypes.c_int32),
    ]


class RawFacesRecord(ctypes.Structure):
    _pack_ = 4
    _fields_ = [("numFaces", ctypes.c_int32), ("faces", RawFaceRecord * MAX_FACES)]


class DetectedFacesRecord(ctypes.Structure):
    _pack_ = 4
    _fields_ = [("numFaces", ctypes.c_int32), ("faces", DetectedFaceRecord * MAX_FACES)]


class ProfilingRecord(ctypes.Structure):
    _pack_ = 4
    _fields_ = [
        ("cameraExposureTime", ctypes.c_int64),
        ("faceDetectorStartTime", ctypes.c_int64),
        ("faceDetectorEndTime", ctypes.c_int64),
        ("apiTimestamp", ctypes.c_int64),
    ]


class TimingRecord(ctypes.Structure):
    _pack_ = 4
    _fields_ = [("exposureTime", ctypes.c_int64), ("publishTime", ctypes.c_int64)]


class EyePredictionRecord(ctypes.Structure):
    _pack_ = 4
    _fields_ = [("rightEye", Vec3), ("leftEye", Vec3), ("horizonMs", ctypes.c_double)]


class IntrinsicsRecord(ctypes.Structure):
    _pack_ = 4
    _fields_ = [
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("ppx", ctypes.c_float),
        ("ppy", ctypes.c_float),
        ("fx", ctypes.c_float),
        ("fy", ctypes.c_float),
        ("distortionCoeffs", ctypes.c_float * 5),
        ("isMirrored", ctypes.c_int32),
    ]


class ImageRecord(ctypes.Structure):
    _pack_ = 4
    _fields_ = [
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("stride", ctypes.c_int32),
        ("rotation", ctypes.c_int32),
        ("data", ctypes.c_void_p),
        ("dataSize", ctypes.c_uint64),
    ]


class DepthImageRecord(ctypes.Structure):
    _pack_ = 4
    _fields_ = [
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("stride", ctypes.c_int32),
        ("unit", ctypes.c_float),
        ("data", ctypes.c_void_p),
        ("dataSize", ctypes.c_uint64),
    ]


# The sizes the C header asserts.
for _record, _size in [
    (FilterPropertiesRecord, 84),
    (InitArgs, 144),
    (ResultRecord, 140),
    (RawFacesRecord, 124),
    (DetectedFacesRecord, 196),
    (ProfilingRecord, 32),
    (TimingRecord, 16),
    (EyePredictionRecord, 32),
    (IntrinsicsRecord, 48),
    (ImageRecord, 32),
    (DepthImageRecord, 32),
]:
    assert ctypes.sizeof(_record) == _size, (_record.__name__, ctypes.sizeof(_record))

_P = ctypes.c_void_p
_SIGNATURES = {
    "quiloHeadTrackingEngineInitArgs": [ctypes.POINTER(InitArgs), ctypes.POINTER(_P)],
    "quiloHeadTrackingEngineInitArgsWithOwnCamera": [ctypes.POINTER(InitArgs), ctypes.POINTER(_P)],
    "quiloHeadTrackingEngineStartTracking": [_P],
    "quiloHeadTrackingEngineStopTracking": [_P],
    "quiloHeadTrackingEngineGetLatestFrame": [_P, ctypes.POINTER(_P)],
    "quiloHeadTrackingEngineGetMaxNumOfDetectedFacesLimit": [_P, ctypes.POINTER(ctypes.c_int)],
    "quiloHeadTrackingEngineSetCameraPosition": [_P, ctypes.c_float, ctypes.c_float, ctypes.c_float],
    "quiloHeadTrackingEngineSetCameraRotation": [_P] + [ctypes.c_float] * 9,
    "quiloHeadTrackingEngineSetCameraTransform": [_P, ctypes.POINTER(Vec3), ctypes.POINTER(Vec3)],
    "quiloHeadTrackingEngineSetFilterProperties": [_P, ctypes.POINTER(FilterPropertiesRecord)],
    "quiloHeadTrackingEngineSetMaxNumOfDetectedFaces": [_P, ctypes.c_int],
    "quiloHeadTrackingEngineSetTrackedEyes": [_P, ctypes.c_int, ctypes.c_int],
    "quiloHeadTrackingEnginePushFrame": [
        _P,
        ctypes.POINTER(ImageRecord),
        ctypes.POINTER(DepthImageRecord),
        ctypes.POINTER(IntrinsicsRecord),
        ctypes.c_double,
    ],
    "quiloHeadTrackingFrameGetTrackingResult": [_P, ctypes.POINTER(ResultRecord)],
    "quiloHeadTrackingFrameGetRawFaces": [_P, ctypes.POINTER(RawFacesRecord)],
    "quiloHeadTrackingFrameGetDetectedFaces": [_P, ctypes.POINTER(DetectedFacesRecord)],
    "quiloHeadTrackingFrameGetProfiling": [_P, ctypes.POINTER(ProfilingRecord)],
    "quiloHeadTrackingEnginePushFrameWithTimestamp": [
        _P,
        ctypes.POINTER(ImageRecord),
        ctypes.POINTER(DepthImageRecord),
        ctypes.POINTER(IntrinsicsRecord),
        ctypes.POINTER(TimestampRecord),
    ],
    "quiloHeadTrackingFrameGetTiming": [_P, ctypes.POINTER(TimingRecord)],
    "quiloHeadTrackingFramePredictEyes": [_P, ctypes.c_int32, ctypes.c_int64, ctypes.POINTER(EyePredictionRecord)],
}


def _candidates():
    """Where the library may be: the environment variable's path, then
    beside the package and in the bin/ and lib/ folders of the folders above
    it (a build tree keeps the package in python/ beside bin/; an install
    keeps it under lib/python3/dist-packages/ below the library)."""
    configured = os.environ.get(LIBRARY_ENV)
    if configured:
        yield pathlib.Path(configured)
        return
    here = pathlib.Path(__file__).resolve().parent
    for folder in [here, *list(here.parents)[:4]]:
        for sub in ("", "bin", "lib"):
            yield folder / sub / LIBRARY_NAMES


def find_library():
    tried = []
    for path in _candidates():
        tried.append(str(path))
        if path.is_file():
            return path
    raise OSError(
        "the head-tracking engine library was not found; set {} to its path (looked at: {})".format(
            LIBRARY_ENV, ", ".join(tried)
        )
    )


_library = None


def library():
    """The loaded engine library with its signatures, loaded on first use."""
    global _library
    if _library is None:
        lib = ctypes.CDLL(str(find_library()))
        for name, arguments in _SIGNATURES.items():
            function = getattr(lib, name)
            function.argtypes = arguments
            function.restype = ctypes.c_int
        lib.quiloHeadTrackingEngineRelease.argtypes = [_P]
        lib.quiloHeadTrackingEngineRelease.restype = None
        lib.quiloHeadTrackingFrameRelease.argtypes = [_P]
        lib.quiloHeadTrackingFrameRelease.restype = None
        lib.quiloHeadTrackingGetVersion.argtypes = []
        lib.quiloHeadTrackingGetVersion.restype = ctypes.c_char_p
        lib.quiloHeadTrackingGetLastErrorMessage.argtypes = []
        lib.quiloHeadTrackingGetLastErrorMessage.restype = ctypes.c_char_p
        _library = lib
    return _library
