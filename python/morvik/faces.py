"""Finding faces, describing them and comparing their descriptors."""

import ctypes
import math
from dataclasses import dataclass, field

import numpy as np

from . import _native
from .errors import MorvikError, check
from .images import as_pixels

# Finder bits, combined with |.
FIND_LBP, FIND_HAAR, FIND_HOG, FIND_CNN, FIND_PICO, FIND_CONFIRM = 0x02, 0x04, 0x08, 0x10, 0x20, 0x40
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
    """A face with its 128-value descriptor (float32)."""
    face: Face
    descriptor: np.ndarray = field(repr=False)


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


def find_faces(image, algo=FIND_DEFAULT, max_faces=64, channel_order="BGR"):
    """The faces of an image, largest first (see images.as_pixels for `image`).

    Raises MorvikError with code -4 when the image has no face.
    """
    if not isinstance(max_faces, int) or max_faces < 1:
        raise MorvikError(-1, "max_faces must be a positive integer")
    if not isinstance(algo, int) or not 0 <= algo <= 255:
        raise MorvikError(-1, "algo must be a finder bit set from 0 to 255")
    pixels, _keep = as_pixels(image, channel_order)
    found = (_native.Face * max_faces)()
    size = ctypes.c_size_t(max_faces)
    check(_native.lib.MvExtractFacesPixels(ctypes.byref(pixels), found, ctypes.byref(size), algo))
    return [_from_c(found[i]) for i in range(size.value)]


def describe(image, faces=None, algo=FIND_DEFAULT, channel_order="BGR"):
    """Descriptors of the given faces, or of every face found in the image.

    Faces whose eyes are both (0, 0) have their eyes located first. Returns
    one Description per face, in order, with the rectangle and eyes used.
    """
    pixels, _keep = as_pixels(image, channel_order)
    if faces is None:
        faces = find_faces(image, algo=algo, channel_order=channel_order)
    faces = list(faces)
    known = (_native.Face * max(len(faces), 1))(*[_to_c(f) for f in faces])
    data = (_native.FaceData * max(len(faces), 1))()
    size = ctypes.c_size_t(len(faces) or 1)
    check(_native.lib.MvExtractInfoPixels(ctypes.byref(pixels), known, len(faces), data,
                                          ctypes.byref(size)))
    result = []
    for i in range(size.value):
        d = data[i]
        face = Face((d.rect.x, d.rect.y, d.rect.w, d.rect.h), (d.left_eye.x, d.left_eye.y),
                    (d.right_eye.x, d.right_eye.y), faces[i].from_shape, faces[i].angle)
        result.append(Description(face, np.array(d.vector, dtype=np.float32)))
    return result


def _descriptor(value):
    if isinstance(value, Description):
        value = value.descriptor
    try:
        vector = np.ascontiguousarray(value, dtype=np.float32)
    except (TypeError, ValueError):
        raise MorvikError(-1, "a descriptor must be a sequence of numbers") from None
    if vector.ndim != 1 or vector.size == 0:
        raise MorvikError(-1, "a descriptor must be a non-empty flat sequence of numbers")
    return vector


def compare(a, b):
    """Euclidean distance of two descriptors (Description or 128 numbers).

    Under 0.6 the faces are usually the same person.
    """
    first, second = _descriptor(a), _descriptor(b)
    distance = ctypes.c_double()
    float_p = ctypes.POINTER(ctypes.c_float)
    check(_native.lib.CompareVectors(first.ctypes.data_as(float_p), first.nbytes,
                                     second.ctypes.data_as(float_p), second.nbytes,
                                     ctypes.byref(distance)),
          "descriptors of %d and %d values" % (first.size, second.size))
    if not math.isfinite(distance.value):
        raise MorvikError(-1, "a descriptor holds a value that is not finite")
    return distance.value
