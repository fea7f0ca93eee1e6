"""Finding faces, describing them and comparing their descriptors.

Images are file paths, encoded image bytes or NumPy arrays (see
images.pixels_of); only arrays need NumPy.
"""

import array
import contextlib
import ctypes
import math
from dataclasses import dataclass, field

from . import _native, _numpy
from ._codes import FIND_CNN, FIND_CONFIRM, FIND_HAAR, FIND_HOG, FIND_LBP, FIND_PICO
from .errors import MorvikError, check
from .images import pixels_of
from .options import options

# Finder bits (FIND_LBP ... FIND_CONFIRM, from morvik_c.h) are combined with |.
# HOG first, the CNN detector only when HOG finds nothing.
FIND_DEFAULT = FIND_HOG | FIND_CNN


@dataclass(frozen=True)
class Face:
    """A face: rectangle (x, y, w, h) and eye centres (x, y) in image pixels.

    left_eye is the eye on the left-hand side of the image. (0, 0) means no
    eye position is known. from_shape tells that the eyes came from the
    landmark shape rather than the eye detector.
    """
    rect: tuple
    left_eye: tuple = (0, 0)
    right_eye: tuple = (0, 0)
    from_shape: bool = False
    angle: float = 0.0


@dataclass(frozen=True)
class Description:
    """A face with its 128-value descriptor: `vector` holds the float32
    values (an array.array), `descriptor` gives them as a NumPy array."""
    face: Face
    vector: array.array = field(repr=False)

    @property
    def descriptor(self):
        np = _numpy.require("Description.descriptor (a NumPy array)")
        return np.frombuffer(self.vector, dtype=np.float32).copy()


def _from_c(face):
    return Face((face.rect.x, face.rect.y, face.rect.w, face.rect.h),
                (face.left_eye.x, face.left_eye.y), (face.right_eye.x, face.right_eye.y),
                bool(face.from_shape), float(face.angle))


def _to_c(face):
    if not isinstance(face, Face):
        raise MorvikError(-1, "faces must be morvik.Face records, not %s" % type(face).__name__)
    c = _native.Face()
    c.from_shape = face.from_shape
    c.angle = face.angle
    c.rect.x, c.rect.y, c.rect.w, c.rect.h = (int(v) for v in face.rect)
    c.left_eye.x, c.left_eye.y = (int(v) for v in face.left_eye)
    c.right_eye.x, c.right_eye.y = (int(v) for v in face.right_eye)
    return c


def find_in_pixels(pixels, algo, max_faces):
    """The _native.Face records of a decoded image, largest first."""
    found = (_native.Face * max_faces)()
    size = ctypes.c_size_t(max_faces)
    check(_native.lib.MvExtractFacesPixels(ctypes.byref(pixels), found, ctypes.byref(size), algo))
    return found[:size.value]


def describe_in_pixels(pixels, c_faces):
    """The _native.FaceData records of the given faces, in order."""
    known = (_native.Face * max(len(c_faces), 1))(*c_faces)
    data = (_native.FaceData * max(len(c_faces), 1))()
    size = ctypes.c_size_t(len(c_faces) or 1)
    check(_native.lib.MvExtractInfoPixels(ctypes.byref(pixels), known, len(c_faces), data,
                                          ctypes.byref(size)))
    return data[:size.value]


def _check_finding(algo, max_faces):
    if not isinstance(max_faces, int) or max_faces < 1:
        raise MorvikError(-1, "max_faces must be a positive integer")
    if not isinstance(algo, int) or not 0 <= algo <= 255:
        raise MorvikError(-1, "algo must be a finder bit set from 0 to 255")


# What thorough=True sets for the call, as the command line's --thorough.
_THOROUGH = {"find.all_members": 1, "find.eye_check": 0}


@contextlib.contextmanager
def _finding_options(thorough):
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


def find_faces(image, algo=FIND_DEFAULT, max_faces=64, channel_order="BGR", thorough=False):
    """The faces of an image, largest first.

    thorough=True runs every selected finder at each of its scales and merges
    their faces, the cascades without the eye check: more small faces, at
    several times the time. Raises MorvikError with code -4 when the image
    has no face.
    """
    _check_finding(algo, max_faces)
    with pixels_of(image, channel_order) as pixels, _finding_options(thorough):
        return [_from_c(f) for f in find_in_pixels(pixels, algo, max_faces)]


def describe(image, faces=None, algo=FIND_DEFAULT, channel_order="BGR", max_faces=64, thorough=False):
    """Descriptors of the given faces, or of the faces found in the image.

    Faces whose eyes are both (0, 0) have their eyes located first. Returns
    one Description per face, in order, with the rectangle and eyes used.
    thorough is as for find_faces, when the faces are found here.
    """
    with pixels_of(image, channel_order) as pixels:
        if faces is None:
            _check_finding(algo, max_faces)
            with _finding_options(thorough):
                faces = [_from_c(f) for f in find_in_pixels(pixels, algo, max_faces)]
        faces = list(faces)
        data = describe_in_pixels(pixels, [_to_c(f) for f in faces])
    result = []
    for d, given in zip(data, faces):
        face = Face((d.rect.x, d.rect.y, d.rect.w, d.rect.h), (d.left_eye.x, d.left_eye.y),
                    (d.right_eye.x, d.right_eye.y), given.from_shape, given.angle)
        result.append(Description(face, array.array("f", d.vector)))
    return result


def _descriptor(value):
    """`value` as a flat float32 buffer: a Description, a NumPy array or any
    sequence of numbers."""
    if isinstance(value, Description):
        return value.vector
    if _numpy.is_array(value):
        np = _numpy.require("a descriptor given as an array")
        try:
            vector = np.ascontiguousarray(value, dtype=np.float32)
        except (TypeError, ValueError):
            raise MorvikError(-1, "a descriptor must be a sequence of numbers") from None
        if vector.ndim != 1:
            raise MorvikError(-1, "a descriptor must be a flat sequence of numbers")
        return array.array("f", vector.tobytes())
    if isinstance(value, (str, bytes)):
        raise MorvikError(-1, "a descriptor must be a sequence of numbers")
    try:
        return array.array("f", value)
    except (TypeError, ValueError, OverflowError):
        raise MorvikError(-1, "a descriptor must be a flat sequence of numbers") from None


def compare(a, b):
    """Euclidean distance of two descriptors (Description, NumPy array or
    128 numbers). Under 0.6 the faces are usually the same person.
    """
    first, second = _descriptor(a), _descriptor(b)
    if not first or not second:
        raise MorvikError(-1, "a descriptor must be a non-empty flat sequence of numbers")
    distance = ctypes.c_double()
    c_first = (ctypes.c_float * len(first)).from_buffer(first)
    c_second = (ctypes.c_float * len(second)).from_buffer(second)
    check(_native.lib.CompareVectors(c_first, ctypes.sizeof(c_first), c_second,
                                     ctypes.sizeof(c_second), ctypes.byref(distance)),
          "descriptors of %d and %d values" % (len(first), len(second)))
    if not math.isfinite(distance.value):
        raise MorvikError(-1, "a descriptor holds a value that is not finite")
    return distance.value


def compare_photos(photo_a, photo_b, algo=FIND_DEFAULT):
    """Distance between the largest faces of two photos (paths, encoded
    bytes or arrays), as `morvik compare` gives it. -4 when either has no
    face."""
    first = describe(photo_a, algo=algo, max_faces=1)
    second = describe(photo_b, algo=algo, max_faces=1)
    return compare(first[0], second[0])
