"""NumPy arrays as pixel views for the library, and image files as arrays."""

import ctypes
import os

import numpy as np

from . import _native
from .errors import MorvikError, check

_FORMATS = {
    (1, "BGR"): _native.PIXELS_GRAY, (1, "RGB"): _native.PIXELS_GRAY,
    (3, "BGR"): _native.PIXELS_BGR, (3, "RGB"): _native.PIXELS_RGB,
    (4, "BGR"): _native.PIXELS_BGRA, (4, "RGB"): _native.PIXELS_RGBA,
}
_INT32_MAX = 2**31 - 1


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
    if not isinstance(image, np.ndarray):
        raise MorvikError(-1, "the image must be a NumPy array, not %s" % type(image).__name__)
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


def load_image(path):
    """Decodes an image file into an 8-bit BGR array of shape (h, w, 3)."""
    try:
        with open(os.fspath(path), "rb") as f:
            data = f.read()
    except OSError as e:
        raise MorvikError(-2, "%s: %s" % (path, e.strerror)) from None
    if not data:
        raise MorvikError(-2, "%s: empty file" % (path,))
    decoded = _native.Image()
    check(_native.lib.MvDecodeImage(data, len(data), ctypes.byref(decoded)), str(path))
    try:
        rows = ctypes.string_at(decoded.pixels, decoded.stride * decoded.height)
        return np.frombuffer(rows, dtype=np.uint8).reshape(decoded.height, decoded.width, 3).copy()
    finally:
        _native.lib.MvReleaseImage(ctypes.byref(decoded))
