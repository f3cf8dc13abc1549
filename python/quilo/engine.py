"""The engine, its results as dataclasses, and its errors."""

import ctypes
import dataclasses
import enum
import math
from typing import Callable, List, Optional, Sequence, Tuple

from . import _capi

Vector = Tuple[float, float, float]


class Error(RuntimeError):
    """A call of the engine failed; `status` is the C interface's status code
    (1: no engine, 2: the engine refused or failed) and `reason` the engine's
    own words for why (its error line), when it gave any."""

    def __init__(self, function: str, status: int, reason: str = ""):
        text = "{} failed with status {}".format(function, status)
        super().__init__("{}: {}".format(text, reason) if reason else text)
        self.function = function
        self.status = status
        self.reason = reason


@dataclasses.dataclass(frozen=True)
class Face:
    """A tracked face in display space."""

    position: Vector  # mm
    velocity: Vector  # mm per ms
    angles: Vector  # radians; [1] is the yaw
    raw_face_index: int  # -1 while the face coasts without a detection


@dataclasses.dataclass(frozen=True)
class RawFace:
    """An accepted detection in camera space, mm."""

    right_eye: Vector
    left_eye: Vector
    tracked_point: Vector
    detection_index: int


@dataclasses.dataclass(frozen=True)
class DetectedFace:
    """A detection as the detector reported it, in image pixels."""

    right_eye_pixel: Tuple[float, float]
    right_eye_depth: float  # metres
    left_eye_pixel: Tuple[float, float]
    left_eye_depth: float
    head_position: Vector
    angles: Vector


@dataclasses.dataclass(frozen=True)
class Profiling:
    """Nanoseconds of the system clock; all 0 when not profiled."""

    camera_exposure_time: int
    face_detector_start_time: int
    face_detector_end_time: int
    api_timestamp: int


@dataclasses.dataclass(frozen=True)
class Timing:
    """Nanoseconds of the system clock, in every frame: when its image was
    exposed (the timestamp when in the system clock, else when the image
    reached the engine) and when its result was published."""

    exposure_time: int
    publish_time: int

    @property
    def latency_ns(self) -> int:
        return self.publish_time - self.exposure_time


class PredictionStatus(enum.IntEnum):
    """Why Frame.predict_eyes extrapolated or not; the C interface's statuses."""

    PREDICTED = 0
    FACE_COASTING = 3  # the face had no detection in this frame
    TARGET_BEFORE_FRAME = 4  # the target time precedes the frame's timestamp
    BEYOND_HORIZON = 5  # the target lies more than MAX_PREDICTION_MS after it
    UNKNOWN_CLOCK = 6  # the frame's timestamp is not in the system clock


# The longest interval, ms after a frame's timestamp, predict_eyes extrapolates over.
MAX_PREDICTION_MS = 100.0


@dataclasses.dataclass(frozen=True)
class EyePrediction:
    """Both eyes of a face in display space, mm. When `status` is PREDICTED
    they are at the target time and `horizon_ms` is the interval extrapolated
    over; otherwise they are the frame-time eyes and horizon_ms is 0."""

    status: PredictionStatus
    right_eye: Vector
    left_eye: Vector
    horizon_ms: float

    @property
    def predicted(self) -> bool:
        return self.status == PredictionStatus.PREDICTED


class _FrameHandle:
    """A frame handle of the C interface: owned (from polling; released with
    this object) or lent for the duration of a frame callback."""

    def __init__(self, lib, handle, owned: bool):
        self._lib = lib
        self.handle = handle
        self._owned = owned

    def expire(self) -> None:
        self.handle = None

    def __del__(self):
        if self._owned and self.handle:
            self._lib.quiloHeadTrackingFrameRelease(self.handle)
            self.handle = None


@dataclasses.dataclass(frozen=True)
class Frame:
    """One frame's result: the faces with the main face first."""

    timestamp_ms: float
    timestamp_space: int  # 0: system clock, -1: unknown
    tracking_started: bool
    faces: List[Face]
    raw_faces: List[RawFace]
    detected_faces: List[DetectedFace]
    profiling: Profiling
    timing: Timing
    _handle: Optional[_FrameHandle] = dataclasses.field(default=None, repr=False, compare=False)

    @property
    def main_face(self) -> Optional[Face]:
        return self.faces[0] if self.faces else None

    def predict_eyes(self, target_time_ns: int, face: int = 0) -> EyePrediction:
        """Both eyes of face `face` (0: the main face) at `target_time_ns`,
        nanoseconds of the system clock (time.time_ns()), best the moment the
        display shows the picture. A declined prediction is an answer, not an
        error: see EyePrediction.status. Raises Error (status 2) for a face
        the frame lacks, and for a frame given to a callback once the callback
        has returned."""
        function = "quiloHeadTrackingFramePredictEyes"
        handle = self._handle.handle if self._handle is not None else None
        if not handle:
            raise Error(function, 2, "the frame's handle has expired; predict during the callback or poll the frame")
        record = _capi.EyePredictionRecord()
        lib = _capi.library()
        status = lib.quiloHeadTrackingFramePredictEyes(handle, face, int(target_time_ns), ctypes.byref(record))
        if status not in PredictionStatus.__members__.values():
            _check(function, status)
        return EyePrediction(PredictionStatus(status), _vec(record.rightEye), _vec(record.leftEye), record.horizonMs)


@dataclasses.dataclass
class Intrinsics:
    """The camera's geometry in pixels of the pushed image."""

    width: int
    height: int
    ppx: float
    ppy: float
    fx: float
    fy: float
    distortion: Sequence[float] = (0.0, 0.0, 0.0, 0.0, 0.0)
    mirrored: bool = False


@dataclasses.dataclass
class FilterProperties:
    """Filter and selection parameters; the engine's defaults."""

    restart_threshold: float = 0.5
    max_track_gap: float = 600.0
    vel_damping_time: float = 100.0
    min_fit_dist: float = 40.0
    max_fit_dist: float = 2000.0
    angle_y_max: float = math.pi / 4
    interocular_distance_min: float = 30.0
    interocular_distance_max: float = 80.0
    buffer_lim: float = 600.0
    main_face_skew: Vector = (0.0, 0.0, 0.0)
    main_face_scale: Vector = (4.0, 4.0, 1.0)
    kalman_a: Vector = (0.02, 0.05, 0.2)
    kalman_b: Vector = (0.1, 0.1, 0.1)


def version() -> str:
    return _capi.library().quiloHeadTrackingGetVersion().decode()


def _vec(v) -> Vector:
    return (v.x, v.y, v.z)


def _check(function: str, status: int) -> None:
    # The reason is the calling thread's own, read before any other call.
    if status != 0:
        reason = _capi.library().quiloHeadTrackingGetLastErrorMessage()
        raise Error(function, status, reason.decode(errors="replace") if reason else "")


def _read_frame(lib, handle: _FrameHandle) -> Frame:
    holder, handle = handle, handle.handle
    result = _capi.ResultRecord()
    raw = _capi.RawFacesRecord()
    detected = _capi.DetectedFacesRecord()
    profiling = _capi.ProfilingRecord()
    timing = _capi.TimingRecord()
    _check("quiloHeadTrackingFrameGetTiming", lib.quiloHeadTrackingFrameGetTiming(handle, timing))
    _check("quiloHeadTrackingFrameGetTrackingResult", lib.quiloHeadTrackingFrameGetTrackingResult(handle, result))
    _check("quiloHeadTrackingFrameGetRawFaces", lib.quiloHeadTrackingFrameGetRawFaces(handle, raw))
    _check("quiloHeadTrackingFrameGetDetectedFaces", lib.quiloHeadTrackingFrameGetDetectedFaces(handle, detected))
    _check("quiloHeadTrackingFrameGetProfiling", lib.quiloHeadTrackingFrameGetProfiling(handle, profiling))
    return Frame(
        timestamp_ms=result.timestamp.ms,
        timestamp_space=result.timestamp.space,
        tracking_started=bool(result.trackingStarted),
        faces=[
            Face(_vec(f.position), _vec(f.velocity), _vec(f.angles), f.rawFaceIndex)
            for f in result.faces[: result.numFaces]
        ],
        raw_faces=[
            RawFace(_vec(f.rightEye), _vec(f.leftEye), _vec(f.trackedPoint), f.detectionIndex)
            for f in raw.faces[: raw.numFaces]
        ],
        detected_faces=[
            DetectedFace(
                (f.rightEyePixel.x, f.rightEyePixel.y),
                f.rightEyeDepth,
                (f.leftEyePixel.x, f.leftEyePixel.y),
                f.leftEyeDepth,
                _vec(f.headPosition),
                _vec(f.angles),
            )
            for f in detected.faces[: detected.numFaces]
        ],
        profiling=Profiling(
            profiling.cameraExposureTime,
            profiling.faceDetectorStartTime,
            profiling.faceDetectorEndTime,
            profiling.apiTimestamp,
        ),
        timing=Timing(timing.exposureTime, timing.publishTime),
        _handle=holder,
    )


def _bytes_view(buffer, what: str) -> memoryview:
    """A flat read-only byte view of any buffer-protocol object; it must be
    contiguous (a NumPy slice with steps is copied by the caller)."""
    view = memoryview(buffer)
    if not view.c_contiguous:
        raise ValueError("the {} must be a contiguous buffer".format(what))
    return view.cast("B") if view.format != "B" or view.ndim != 1 else view


def _address(view: memoryview):
    """The address of the view's first byte, and an object that keeps it
    alive. A read-only buffer (bytes) is reached through a ctypes array that
    shares its memory without copying."""
    if view.nbytes == 0:
        return None, None
    if view.readonly:
        holder = ctypes.c_char_p(view.obj) if isinstance(view.obj, bytes) and view.nbytes == len(view.obj) else None
        if holder is not None:
            return ctypes.cast(holder, ctypes.c_void_p).value, holder
        copy = (ctypes.c_char * view.nbytes).from_buffer_copy(view)
        return ctypes.addressof(copy), copy
    array = (ctypes.c_char * view.nbytes).from_buffer(view)
    return ctypes.addressof(array), array


def _shape(buffer) -> Optional[Tuple[int, int]]:
    """(height, width) of a two-dimensional buffer, or None."""
    try:
        view = memoryview(buffer)
    except TypeError:
        return None
    return (view.shape[0], view.shape[1]) if view.ndim == 2 else None


class Engine:
    """A head-tracking engine.

    own_camera=True makes an engine that takes its images from push();
    otherwise it opens the RealSense camera. `callback`, when given, is
    called with a Frame for every processed frame on the engine's processing
    thread (the pushing thread for an own camera); `polling` keeps the latest
    frame for latest_frame(). Use it as a context manager, or call close().

    Threads: every method may be called from any thread, also while another
    thread pushes, polls or changes settings. start_tracking() and
    stop_tracking() are serialised inside the engine: made at once from two
    threads they end as if made one after the other. stop_tracking() waits
    for the frame being processed, so a callback must not wait for a thread
    that stops the session. From inside `callback`, push(),
    start_tracking(), stop_tracking() and close() raise Error and change
    nothing, since each would wait for (or destroy) the frame being
    processed. close() must not race any other call on the same engine.
    """

    def __init__(
        self,
        own_camera: bool = True,
        *,
        width: int = 0,
        height: int = 0,
        fps: int = 0,
        max_faces: int = 1,
        log_level: int = 4,
        polling: bool = True,
        callback: Optional[Callable[[Frame], None]] = None,
    ):
        self._lib = _capi.library()
        self._handle = ctypes.c_void_p()
        self._callback = callback
        self._callback_error: Optional[BaseException] = None
        args = _capi.InitArgs()
        args.width, args.height, args.fps = width, height, fps
        args.maxNumOfFaces = max_faces
        args.logLevel = log_level
        args.enablePolling = 1 if polling else 0
        # Kept alive as long as the engine: the library calls it.
        self._c_callback = _capi.FrameCallback(self._on_frame) if callback else _capi.FrameCallback()
        args.frameCallback = self._c_callback
        create = (
            self._lib.quiloHeadTrackingEngineInitArgsWithOwnCamera
            if own_camera
            else self._lib.quiloHeadTrackingEngineInitArgs
        )
        _check(create.__name__, create(ctypes.byref(args), ctypes.byref(self._handle)))
        self._last_intrinsics: Optional[Intrinsics] = None
        self._intrinsics_record = _capi.IntrinsicsRecord()

    def _on_frame(self, frame, _user):
        lent = _FrameHandle(self._lib, frame, owned=False)
        try:
            self._callback(_read_frame(self._lib, lent))
        except BaseException as error:  # never into C; raised by push()
            self._callback_error = error
        finally:
            lent.expire()

    # ---- lifetime ----

    def close(self) -> None:
        """Releases the engine, stopping tracking first. Raises Error, leaving
        the engine open, when called from inside the engine's own callback;
        close it from another thread, or after push() has returned. No other
        call on this engine may run meanwhile, on any thread."""
        if self._handle:
            self._lib.quiloHeadTrackingEngineRelease(self._handle)
            reason = self._lib.quiloHeadTrackingGetLastErrorMessage()
            if reason:  # refused: the engine still runs
                raise Error("quiloHeadTrackingEngineRelease", 2, reason.decode(errors="replace"))
            self._handle = ctypes.c_void_p()

    def __enter__(self) -> "Engine":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __del__(self):
        if getattr(self, "_handle", None):
            self.close()

    def _call(self, name: str, *args) -> None:
        _check(name, getattr(self._lib, name)(self._handle, *args))

    # ---- sessions and results ----

    def start_tracking(self) -> None:
        """Starts a session; nothing happens while one runs. Any thread; a
        start racing another start or a stop is ordered with it by the
        engine. Raises Error from inside the callback, or when the engine
        cannot start."""
        self._call("quiloHeadTrackingEngineStartTracking")

    def stop_tracking(self) -> None:
        """Stops the session, waiting for the frame being processed; nothing
        happens while none runs. Any thread; ordered with a racing start or
        stop. Raises Error from inside the callback."""
        self._call("quiloHeadTrackingEngineStopTracking")

    def latest_frame(self) -> Frame:
        """The latest published frame (an empty one before the first), a copy
        that outlives the engine. Any thread, also while frames are processed
        and sessions start or stop."""
        handle = ctypes.c_void_p()
        self._call("quiloHeadTrackingEngineGetLatestFrame", ctypes.byref(handle))
        # The frame keeps its handle, released with it, for predict_eyes.
        return _read_frame(self._lib, _FrameHandle(self._lib, handle, owned=True))

    def push(
        self,
        image,
        depth=None,
        intrinsics: Intrinsics = None,
        timestamp_ms: float = 0.0,
        *,
        width: Optional[int] = None,
        height: Optional[int] = None,
        stride: Optional[int] = None,
        depth_unit: float = 0.001,
        rotation: int = 0,
        system_clock: bool = False,
    ) -> None:
        """Pushes one 8-bit grey image (and optionally a 16-bit depth image of
        the same size, `depth_unit` metres per step) taken at `timestamp_ms`:
        milliseconds of the system clock (time.time_ns() / 1e6) when
        `system_clock`, so that its frames can be predicted, otherwise of any
        clock.
        The size comes from a two-dimensional buffer (a NumPy array) or from
        `intrinsics`; `stride` is the bytes from row to row (the width
        unless given). While tracking, the frame is processed before push()
        returns; while not, it is dropped. Any thread: pushes from several
        threads are processed one at a time, also while another thread starts
        or stops the session; from inside the callback it raises Error."""
        if intrinsics is None:
            raise ValueError("push() needs the camera's intrinsics")
        shape = _shape(image)
        h = height if height is not None else shape[0] if shape else intrinsics.height
        w = width if width is not None else shape[1] if shape else intrinsics.width
        view = _bytes_view(image, "image")
        address, keep = _address(view)
        record = _capi.ImageRecord(w, h, stride if stride is not None else w, rotation, address, view.nbytes)

        depth_record = None
        keep_depth = None
        if depth is not None:
            depth_view = _bytes_view(depth, "depth image")
            depth_address, keep_depth = _address(depth_view)
            depth_record = _capi.DepthImageRecord(w, h, 2 * w, depth_unit, depth_address, depth_view.nbytes)

        if intrinsics is not self._last_intrinsics:
            c = self._intrinsics_record
            c.width, c.height = intrinsics.width, intrinsics.height
            c.ppx, c.ppy, c.fx, c.fy = intrinsics.ppx, intrinsics.ppy, intrinsics.fx, intrinsics.fy
            c.distortionCoeffs[:] = list(intrinsics.distortion)
            c.isMirrored = 1 if intrinsics.mirrored else 0
            self._last_intrinsics = intrinsics
        self._callback_error = None
        function = "quiloHeadTrackingEnginePushFrame"
        arguments = [
            self._handle,
            ctypes.byref(record),
            ctypes.byref(depth_record) if depth_record is not None else None,
            ctypes.byref(self._intrinsics_record),
        ]
        if system_clock:
            function = "quiloHeadTrackingEnginePushFrameWithTimestamp"
            arguments.append(ctypes.byref(_capi.TimestampRecord(0, float(timestamp_ms))))
        else:
            arguments.append(float(timestamp_ms))
        status = getattr(self._lib, function)(*arguments)
        del keep, keep_depth
        _check(function, status)
        if self._callback_error is not None:
            error, self._callback_error = self._callback_error, None
            raise error

    # ---- setters ----

    # Every setter may be called from any thread, also from the callback and
    # while another thread starts or stops the session: the change reaches the
    # next frame processed.

    def max_faces_limit(self) -> int:
        """The detector's largest face count; any thread."""
        out = ctypes.c_int()
        self._call("quiloHeadTrackingEngineGetMaxNumOfDetectedFacesLimit", ctypes.byref(out))
        return out.value

    def set_camera_position(self, x: float, y: float, z: float) -> None:
        self._call("quiloHeadTrackingEngineSetCameraPosition", x, y, z)

    def set_camera_rotation(self, matrix: Sequence[float]) -> None:
        """Nine floats, column by column."""
        if len(matrix) != 9:
            raise ValueError("the rotation needs nine values")
        self._call("quiloHeadTrackingEngineSetCameraRotation", *[float(v) for v in matrix])

    def set_camera_transform(self, position: Vector, rotation: Vector) -> None:
        """Position in mm and a rotation vector whose length is in degrees."""
        self._call(
            "quiloHeadTrackingEngineSetCameraTransform",
            ctypes.byref(_capi.Vec3(*position)),
            ctypes.byref(_capi.Vec3(*rotation)),
        )

    def set_filter_properties(self, properties: FilterProperties) -> None:
        p = properties
        record = _capi.FilterPropertiesRecord(
            p.restart_threshold,
            p.max_track_gap,
            p.vel_damping_time,
            p.min_fit_dist,
            p.max_fit_dist,
            p.angle_y_max,
            p.interocular_distance_min,
            p.interocular_distance_max,
            p.buffer_lim,
            _capi.Vec3(*p.main_face_skew),
            _capi.Vec3(*p.main_face_scale),
            _capi.KalmanCoeffs(_capi.Vec3(*p.kalman_a), _capi.Vec3(*p.kalman_b)),
        )
        self._call("quiloHeadTrackingEngineSetFilterProperties", ctypes.byref(record))

    def set_max_faces(self, count: int) -> None:
        """1 to max_faces_limit(); of several calls before the next frame the
        last one holds."""
        self._call("quiloHeadTrackingEngineSetMaxNumOfDetectedFaces", count)

    def set_tracked_eyes(self, left: bool, right: bool) -> None:
        self._call("quiloHeadTrackingEngineSetTrackedEyes", 1 if left else 0, 1 if right else 0)
