"""Finding faces, describing them and comparing their descriptors.

Images are file paths, encoded image bytes, NumPy arrays or PIL images (see
images.pixels_of); only arrays need NumPy. An array's channels are read in
`channel_order`: "BGR" by default (OpenCV's order, as cv2.imread and
morvik.load_image give them) or "RGB" (PIL's, matplotlib's,
face_recognition's), in any case.
"""

from __future__ import annotations

import array
import contextlib
import ctypes
import math
from dataclasses import dataclass, field
from typing import Any, Iterable, Iterator, List, Optional, Sequence, Tuple, Union

from . import _native, _numpy
from ._codes import FIND_CNN, FIND_CONFIRM, FIND_HAAR, FIND_HOG, FIND_LBP, FIND_PICO, FIND_YUNET, MV_INVALID_ARGS
from .errors import MorvikError, NoFaceError, check
from .images import pixels_of, source_name
from .options import options

# Finder bits (FIND_LBP ... FIND_CONFIRM, from morvik_c.h) are combined with |,
# as MvFindFaces takes them; FIND_YUNET needs no option.
_INT32_MIN, _INT32_MAX = -2**31, 2**31 - 1
# One CNN pass that finds most faces of ordinary photos, each with a score
# and five points.
FIND_DEFAULT = FIND_YUNET
_ALL_FINDERS = 0xFF | FIND_YUNET
# How describe() aligns a face unless told otherwise ("align.mode"): 3
# describes it as plain dlib does, from the box dlib's HOG finder draws
# around the face the finder found (or, where it sees none, the box the
# landmark model draws around it), which calls more pairs of photos right
# than the library's own default 0 (README).
ALIGN_DEFAULT = 3

#: A finder selection: bits (FIND_HOG | FIND_CNN) or the command line's names
#: joined by '+' or ',' ("yunet", "hog", "cnn", "hog+cnn", ...; see finder_names()).
Algo = Union[int, str]


def finder_names() -> dict:
    """{name: bits} of every finder name, from the library's table (the one
    the command line's --algo reads)."""
    names = {}
    index = 0
    name, bits = ctypes.c_char_p(), ctypes.c_int()
    while _native.lib.MvFinderName(index, ctypes.byref(name), ctypes.byref(bits)) == 0:
        names[name.value.decode("ascii")] = bits.value
        index += 1
    return names


def finder_bits(algo: Algo) -> int:
    """The finder bit set of `algo`: bits as they are, or names joined by '+'
    or ',' ("hog+cnn"); MorvikError -1 for an unknown name."""
    if not isinstance(algo, str):
        return algo
    known = finder_names()
    bits = 0
    for name in algo.replace(",", "+").split("+"):
        key = name.strip().lower()
        if key not in known:
            raise MorvikError(MV_INVALID_ARGS, "unknown finder %r (use finder bits or %s)"
                              % (name, ", ".join(known)))
        bits |= known[key]
    return bits


#: {name: bits} of the command line's --algo names, from the library's table.
FINDER_NAMES = finder_names()


@dataclass(frozen=True)
class Face:
    """A face: rectangle (x, y, w, h) and eye centres (x, y) in image pixels.

    left_eye is the eye on the left-hand side of the image. (0, 0) means no
    eye position is known. from_shape tells that the eyes came from the
    landmark shape rather than the eye detector or the finder. score is the
    finder's own score (YuNet: 0 to 1), None when it gives none; points are
    the finder's five points (eye on the image's left, eye on its right,
    nose tip, mouth corner left, mouth corner right), () when it gives none.
    """
    rect: Tuple[int, int, int, int]
    left_eye: Tuple[int, int] = (0, 0)
    right_eye: Tuple[int, int] = (0, 0)
    from_shape: bool = False
    angle: float = 0.0
    score: float = None
    points: tuple = ()

    @property
    def location(self) -> Tuple[int, int, int, int]:
        """The rectangle as (top, right, bottom, left), face_recognition's
        order; right and bottom are one past the last pixel, so
        image[top:bottom, left:right] is the face (once clipped)."""
        x, y, w, h = self.rect
        return y, x + w, y + h, x

    def clipped(self, width: int, height: int) -> "Face":
        """The face with its rectangle cut to an image of width x height.

        A rectangle may reach past the image's edges (a face cut by the
        frame): image[y:y+h, x:x+w] with a negative x or y is then empty or
        wrong. The eyes stay as they are. The rectangle is (x, y, 0, 0) when
        nothing of it is inside the image.
        """
        x, y, w, h = self.rect
        left, top = min(max(x, 0), width), min(max(y, 0), height)
        right, bottom = max(min(x + w, width), left), max(min(y + h, height), top)
        return Face((left, top, right - left, bottom - top), self.left_eye, self.right_eye,
                    self.from_shape, self.angle, self.score, self.points)


@dataclass(frozen=True)
class Description:
    """A face with its 128-value descriptor: `vector` holds the float32
    values (an array.array), `descriptor` gives them as a NumPy array."""
    face: Face
    vector: array.array = field(repr=False)

    @property
    def descriptor(self) -> Any:
        np = _numpy.require("Description.descriptor (a NumPy array)")
        return np.frombuffer(self.vector, dtype=np.float32).copy()


def _from_c(found: _native.FoundFace) -> Face:
    """A Face from a _native.FoundFace."""
    face = found.face
    score = None if math.isnan(found.score) else float(found.score)
    points = tuple((p.x, p.y) for p in found.points[:found.point_count])
    return Face((face.rect.x, face.rect.y, face.rect.w, face.rect.h),
                (face.left_eye.x, face.left_eye.y), (face.right_eye.x, face.right_eye.y),
                bool(face.from_shape), float(face.angle), score, points)


def _to_c(face: Face) -> _native.Face:
    if not isinstance(face, Face):
        raise MorvikError(MV_INVALID_ARGS, "faces must be morvik.Face records, not %s" % type(face).__name__)
    c = _native.Face()
    c.from_shape = face.from_shape
    c.angle = face.angle
    c.rect.x, c.rect.y, c.rect.w, c.rect.h = _coordinates(face.rect, 4, "rect")
    c.left_eye.x, c.left_eye.y = _coordinates(face.left_eye, 2, "left_eye")
    c.right_eye.x, c.right_eye.y = _coordinates(face.right_eye, 2, "right_eye")
    return c


def _coordinates(values: Iterable[Any], count: int, name: str) -> List[int]:
    """The `count` integers of a Face field, each within the library's 32
    bits (ctypes would silently keep only the low bits of a larger one)."""
    try:
        numbers = [int(v) for v in values]
    except (TypeError, ValueError, OverflowError):
        raise MorvikError(MV_INVALID_ARGS, "Face.%s must hold %d integers, not %r" % (name, count, values)) from None
    if len(numbers) != count:
        raise MorvikError(MV_INVALID_ARGS, "Face.%s must hold %d integers, not %r" % (name, count, values))
    for n in numbers:
        if not _INT32_MIN <= n <= _INT32_MAX:
            raise MorvikError(MV_INVALID_ARGS, "Face.%s value %d is outside the 32-bit range" % (name, n))
    return numbers


def find_in_pixels(pixels: _native.Image, algo: int, max_faces: int) -> List[_native.FoundFace]:
    """The _native.FoundFace records of a decoded image, largest first."""
    found = (_native.FoundFace * max_faces)()
    size = ctypes.c_size_t(max_faces)
    check(_native.lib.MvFindFaces(ctypes.byref(pixels), found, ctypes.byref(size), algo))
    return found[:size.value]


def describe_in_pixels(pixels: _native.Image, c_faces: List[Any]) -> List[_native.FaceData]:
    """The _native.FaceData records of the given faces (_native.Face or
    FoundFace records), in order."""
    c_faces = [f.face if isinstance(f, _native.FoundFace) else f for f in c_faces]
    known = (_native.Face * max(len(c_faces), 1))(*c_faces)
    data = (_native.FaceData * max(len(c_faces), 1))()
    size = ctypes.c_size_t(len(c_faces) or 1)
    check(_native.lib.MvExtractInfoPixels(ctypes.byref(pixels), known, len(c_faces), data,
                                          ctypes.byref(size)))
    return data[:size.value]


def _check_finding(algo: Algo, max_faces: int) -> int:
    bits = finder_bits(algo)
    if not isinstance(max_faces, int) or max_faces < 1:
        raise MorvikError(MV_INVALID_ARGS, "max_faces must be a positive integer")
    if isinstance(bits, bool) or not isinstance(bits, int) or not 0 <= bits <= _ALL_FINDERS:
        raise MorvikError(MV_INVALID_ARGS, "algo must be finder names or a finder bit set from 0 to 0x1FF")
    return bits


# What thorough=True sets for the call, as the command line's --thorough.
_THOROUGH = {"find.all_members": 1, "find.eye_check": 0, "yunet.rescale_min": 1600,
             "yunet.rescale_max": 4096}


@contextlib.contextmanager
def _finding_options(thorough: bool) -> Iterator[None]:
    """The options of a thorough search for the duration of one call.

    Options are process-wide: set them this way only while no other thread
    is finding faces.
    """
    if not thorough:
        yield
        return
    saved = {key: options[key] for key in _THOROUGH}
    try:
        for key, value in _THOROUGH.items():
            options[key] = value
        yield
    finally:
        for key, value in saved.items():
            options[key] = value


@contextlib.contextmanager
def _aligning(align_mode: Optional[int]) -> Iterator[None]:
    """"align.mode" for the duration of one call; None keeps the store's.

    Options are process-wide: set them this way only while no other thread
    is describing faces.
    """
    if align_mode is None:
        yield
        return
    saved = options["align.mode"]
    options["align.mode"] = align_mode
    try:
        yield
    finally:
        options["align.mode"] = saved


def _found(pixels: _native.Image, bits: int, max_faces: int, thorough: bool) -> List[Face]:
    """The faces of decoded pixels; [] when there is none."""
    with _finding_options(thorough):
        try:
            return [_from_c(f) for f in find_in_pixels(pixels, bits, max_faces)]
        except NoFaceError:
            return []


def find_faces(image: Any, algo: Algo = FIND_DEFAULT, max_faces: int = 64,
               channel_order: str = "BGR", thorough: bool = False) -> List[Face]:
    """The faces of an image, largest first; [] when it has none.

    `image` is a file path, encoded bytes, a PIL image or a NumPy array whose
    channels are in `channel_order`: "BGR" (the default, OpenCV's order, as
    cv2.imread and morvik.load_image give them) or "RGB" (PIL's, matplotlib's,
    face_recognition's), in any case. `algo` is finder bits or names
    ("yunet", the default: one CNN pass giving each face a score and five
    points; "hog", "cnn", "hog+cnn", ...). thorough=True runs YuNet on an
    enlarged working image and several selected finders at each of their
    scales, merged, the cascades without the eye check: more small faces, at
    several times the time. Rectangles may reach past the
    image's edges: see Face.clipped.
    """
    bits = _check_finding(algo, max_faces)
    with pixels_of(image, channel_order) as pixels:
        return _found(pixels, bits, max_faces, thorough)


def describe(image: Any, faces: Optional[Iterable[Face]] = None, algo: Algo = FIND_DEFAULT,
             channel_order: str = "BGR", max_faces: int = 64,
             thorough: bool = False,
             align_mode: Optional[int] = ALIGN_DEFAULT) -> List[Description]:
    """Descriptors of the given faces, or of the faces found in the image.

    `image` and `channel_order` ("BGR" by default, OpenCV's order; "RGB" for
    PIL's, any case) are as for find_faces. Faces whose eyes are both (0, 0)
    have their eyes located first. Returns one Description per face, in
    order, with the rectangle and eyes used; [] when there are no faces.
    thorough is as for find_faces, when the faces are found here.
    align_mode is the "align.mode" to describe with (None: the option's
    current value); descriptors are comparable only within one mode.
    """
    with pixels_of(image, channel_order) as pixels:
        if faces is None:
            faces = _found(pixels, _check_finding(algo, max_faces), max_faces, thorough)
        faces = list(faces)
        if not faces:
            return []
        with _aligning(align_mode):
            data = describe_in_pixels(pixels, [_to_c(f) for f in faces])
    result = []
    for d, given in zip(data, faces):
        face = Face((d.rect.x, d.rect.y, d.rect.w, d.rect.h), (d.left_eye.x, d.left_eye.y),
                    (d.right_eye.x, d.right_eye.y), given.from_shape, given.angle, given.score,
                    given.points)
        result.append(Description(face, array.array("f", d.vector)))
    return result


#: A descriptor: a Description, a NumPy array or a sequence of 128 numbers.
DescriptorLike = Union[Description, Sequence[float], Any]


def _descriptor(value: DescriptorLike) -> array.array:
    """`value` as a flat float32 buffer: a Description, a NumPy array or any
    sequence of numbers."""
    if isinstance(value, Description):
        return value.vector
    if _numpy.is_array(value):
        np = _numpy.require("a descriptor given as an array")
        try:
            vector = np.ascontiguousarray(value, dtype=np.float32)
        except (TypeError, ValueError):
            raise MorvikError(MV_INVALID_ARGS, "a descriptor must be a sequence of numbers") from None
        if vector.ndim != 1:
            raise MorvikError(MV_INVALID_ARGS, "a descriptor must be a flat sequence of numbers")
        return array.array("f", vector.tobytes())
    if isinstance(value, (str, bytes)):
        raise MorvikError(MV_INVALID_ARGS, "a descriptor must be a sequence of numbers")
    try:
        return array.array("f", value)
    except (TypeError, ValueError, OverflowError):
        raise MorvikError(MV_INVALID_ARGS, "a descriptor must be a flat sequence of numbers") from None


def compare(a: DescriptorLike, b: DescriptorLike) -> float:
    """Euclidean distance of two descriptors (Description, NumPy array or
    128 numbers). Under 0.6 the faces are usually the same person.
    """
    first, second = _descriptor(a), _descriptor(b)
    # CompareVectors measures vectors of any equal length; a face's
    # descriptor has 128 values, and anything else compared is a mistake.
    if len(first) != _native.DESCRIPTOR_SIZE or len(second) != _native.DESCRIPTOR_SIZE:
        raise MorvikError(MV_INVALID_ARGS, "descriptors must have %d values each, not %d and %d"
                          % (_native.DESCRIPTOR_SIZE, len(first), len(second)))
    distance = ctypes.c_double()
    c_first = (ctypes.c_float * len(first)).from_buffer(first)
    c_second = (ctypes.c_float * len(second)).from_buffer(second)
    check(_native.lib.CompareVectors(c_first, ctypes.sizeof(c_first), c_second,
                                     ctypes.sizeof(c_second), ctypes.byref(distance)),
          "descriptors of %d and %d values" % (len(first), len(second)))
    if not math.isfinite(distance.value):
        raise MorvikError(MV_INVALID_ARGS, "a descriptor holds a value that is not finite")
    return distance.value


def _rows(known: Any) -> List[DescriptorLike]:
    """The descriptors of `known`: a sequence of descriptors, or a 2-D
    array with one per row."""
    if _numpy.is_array(known):
        if known.ndim == 1 and known.size == 0:
            return []
        if known.ndim != 2:
            raise MorvikError(MV_INVALID_ARGS, "known descriptors must be a 2-D array, one descriptor per row")
        return list(known)
    if isinstance(known, (str, bytes, Description)):
        raise MorvikError(MV_INVALID_ARGS, "known descriptors must be a sequence of descriptors")
    return list(known)


def distances(known: Any, descriptor: DescriptorLike) -> List[float]:
    """The distance of `descriptor` to each of the `known` descriptors (a
    list of Description records, arrays or number sequences, or a 2-D array
    with one per row), in their order; [] when there are none. Under 0.6 is
    usually the same person (face_recognition's face_distance)."""
    rows = _rows(known)
    if not rows:
        return []
    if _numpy.is_array(descriptor) or _numpy.is_array(known):
        np = _numpy.require("descriptors given as arrays")
        query = np.frombuffer(_descriptor(descriptor), dtype=np.float32).astype(np.float64)
        matrix = np.stack([np.frombuffer(_descriptor(r), dtype=np.float32) for r in rows])
        if matrix.shape[1] != query.shape[0]:
            raise MorvikError(MV_INVALID_ARGS, "descriptors of %d and %d values" % (matrix.shape[1], query.shape[0]))
        if not np.all(np.isfinite(matrix)) or not np.all(np.isfinite(query)):
            raise MorvikError(MV_INVALID_ARGS, "a descriptor holds a value that is not finite")
        return np.linalg.norm(matrix.astype(np.float64) - query, axis=1).tolist()
    return [compare(row, descriptor) for row in rows]


def matches(known: Any, descriptor: DescriptorLike, tolerance: float = 0.6) -> List[bool]:
    """For each of the `known` descriptors, whether `descriptor` is closer to
    it than `tolerance` (face_recognition's compare_faces)."""
    return [d < tolerance for d in distances(known, descriptor)]


def compare_photos(photo_a: Any, photo_b: Any, algo: Algo = FIND_DEFAULT,
                   channel_order: str = "BGR") -> float:
    """Distance between the largest faces of two photos (paths, encoded
    bytes, PIL images or arrays in `channel_order`, "BGR" by default), as
    `morvik compare` gives it. NoFaceError (a MorvikError, code -4) naming
    the photo when either has no face."""
    largest = []
    for photo in (photo_a, photo_b):
        described = describe(photo, algo=algo, max_faces=1, channel_order=channel_order)
        if not described:
            raise NoFaceError("%s: no face to compare" % source_name(photo))
        largest.append(described[0])
    return compare(largest[0], largest[1])
