"""Images for the library: NumPy arrays seen as pixel buffers, and encoded
images (a file path or the file's bytes) decoded by the library itself."""

import contextlib
import ctypes
import os

from . import _native, _numpy
from ._codes import MV_PARSE_IMAGE
from .errors import MorvikError, check

_FORMATS = {
    (1, "BGR"): _native.PIXELS_GRAY, (1, "RGB"): _native.PIXELS_GRAY,
    (3, "BGR"): _native.PIXELS_BGR, (3, "RGB"): _native.PIXELS_RGB,
    (4, "BGR"): _native.PIXELS_BGRA, (4, "RGB"): _native.PIXELS_RGBA,
}
_INT32_MAX = 2**31 - 1
_ENCODED = (bytes, bytearray, memoryview)


def as_pixels(image, channel_order="BGR"):
    """An _native.Image describing `image`, and the array it points into.

    `image` is an 8-bit array of shape (height, width) for grey, or
    (height, width, channels) with 1, 3 or 4 channels in `channel_order`
    ("BGR", as OpenCV stores them, or "RGB"; alpha comes last). Rows may be
    strided; pixels within a row must not be, or the array is copied. Keep
    the returned array alive while the library reads the pixels.
    """
    if channel_order not in ("BGR", "RGB"):
        raise MorvikError(-1, "channel_order must be 'BGR' or 'RGB', not %r" % (channel_order,))
    if not _numpy.is_array(image):
        raise MorvikError(-1, "the image must be a file path, encoded image bytes or a NumPy "
                          "array, not %s" % type(image).__name__)
    np = _numpy.require("an image given as an array")
    if image.dtype != np.uint8:
        raise MorvikError(-1, "the image must hold 8-bit pixels (uint8), not %s" % image.dtype)
    channels = 1 if image.ndim == 2 else image.shape[2] if image.ndim == 3 else 0
    if (channels, channel_order) not in _FORMATS:
        raise MorvikError(-1, "the image must have shape (h, w) or (h, w, 1|3|4), not %s"
                          % (image.shape,))
    height, width = image.shape[:2]
    if height == 0 or width == 0:
        raise MorvikError(-1, "the image is empty")
    if height > _INT32_MAX or width > _INT32_MAX:
        raise MorvikError(-1, "the image is too large")
    if image.ndim == 2:
        packed_row = image.strides[1] == 1
    else:
        packed_row = image.strides[2] == 1 and image.strides[1] == channels
    if not packed_row or image.strides[0] < width * channels:
        image = np.ascontiguousarray(image)
    pixels = _native.Image(image.ctypes.data, width, height, image.strides[0],
                           _FORMATS[(channels, channel_order)])
    return pixels, image


def read_file(path):
    """The bytes of an image file; MorvikError -2 with the reason (the same
    words as the command-line tool) when there are none to decode."""
    path = os.fspath(path)
    if not os.path.exists(path):
        raise MorvikError(-2, "no such file")
    if os.path.isdir(path):
        raise MorvikError(-2, "is a directory")
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise MorvikError(-2, e.strerror or str(e)) from None
    if not data:
        raise MorvikError(-2, "empty file")
    return data


@contextlib.contextmanager
def decoded(data):
    """Encoded image bytes decoded into library-owned BGR pixels."""
    if len(data) == 0:
        raise MorvikError(-2, "no bytes")
    image = _native.Image()
    code = _native.lib.MvDecodeImage(bytes(data), len(data), ctypes.byref(image))
    check(code, "not an image that can be decoded" if code == MV_PARSE_IMAGE else "")
    try:
        yield image
    finally:
        _native.lib.MvReleaseImage(ctypes.byref(image))


def is_encoded(source):
    """Whether `source` is a file path or encoded bytes rather than pixels."""
    return isinstance(source, (str, os.PathLike) + _ENCODED)


@contextlib.contextmanager
def pixels_of(source, channel_order="BGR"):
    """The _native.Image of a file path, encoded bytes or an array, valid
    inside the `with` block."""
    if not is_encoded(source):
        pixels, _keep = as_pixels(source, channel_order)
        yield pixels
        return
    if isinstance(source, _ENCODED):
        data = source
    else:
        try:
            data = read_file(source)
        except MorvikError as e:
            raise MorvikError(e.code, "%s: %s" % (os.fspath(source), e.detail)) from None
    with decoded(data) as image:
        yield image


def load_image(source):
    """Decodes an image file (or its bytes) into an 8-bit BGR array of shape
    (h, w, 3). Needs NumPy."""
    np = _numpy.require("morvik.load_image (it returns an array)")
    with pixels_of(source) as image:
        rows = ctypes.string_at(image.pixels, image.stride * image.height)
        return np.frombuffer(rows, dtype=np.uint8).reshape(image.height, image.width, 3).copy()
