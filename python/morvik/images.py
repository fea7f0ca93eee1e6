"""Images for the library: NumPy arrays and PIL images seen as pixel
buffers, and encoded images (a file path or the file's bytes) decoded by the
library itself.

Arrays carry no colour order of their own: `channel_order` says it, "BGR"
(the default, as OpenCV's cv2.imread and morvik.load_image give them) or
"RGB" (as PIL, matplotlib, imageio and face_recognition give them), in any
case. An RGB array read as BGR still gives faces, but descriptors a few
tenths away from the right ones. PIL images carry their mode and need no
channel_order.
"""

from __future__ import annotations

import contextlib
import ctypes
import os
from typing import Any, Iterator, Tuple, Union

from . import _files, _native, _numpy
from ._codes import MV_INVALID_ARGS, MV_PARSE_IMAGE
from .errors import MorvikError, check

_FORMATS = {
    (1, "BGR"): _native.PIXELS_GRAY, (1, "RGB"): _native.PIXELS_GRAY,
    (3, "BGR"): _native.PIXELS_BGR, (3, "RGB"): _native.PIXELS_RGB,
    (4, "BGR"): _native.PIXELS_BGRA, (4, "RGB"): _native.PIXELS_RGBA,
}
# PIL modes read as they are; any other mode is converted to RGB first.
_PIL_MODES = {"L": (1, _native.PIXELS_GRAY), "RGB": (3, _native.PIXELS_RGB),
              "RGBA": (4, _native.PIXELS_RGBA)}
_INT32_MAX = 2**31 - 1
_ENCODED = (bytes, bytearray, memoryview)

#: An image as the functions of this package take it: a file path, encoded
#: image bytes, a NumPy array (with its channel_order) or a PIL image.
ImageSource = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview, Any]


def channel_order_of(channel_order: str) -> str:
    """"BGR" or "RGB" for `channel_order` in any case; MorvikError -1 else."""
    order = channel_order.upper() if isinstance(channel_order, str) else None
    if order not in ("BGR", "RGB"):
        raise MorvikError(MV_INVALID_ARGS, "channel_order must be 'BGR' (OpenCV's order, the default) or 'RGB' "
                          "(PIL's, matplotlib's), in any case, not %r" % (channel_order,))
    return order


def is_pil_image(image: Any) -> bool:
    """Whether `image` is a PIL image, without importing PIL for it."""
    return type(image).__module__.startswith("PIL.") and hasattr(image, "tobytes") \
        and hasattr(image, "mode")


def pil_pixels(image: Any) -> Tuple[_native.Image, bytes]:
    """An _native.Image of a PIL image, converted by its mode, and the bytes
    it points into."""
    if image.mode not in _PIL_MODES:
        image = image.convert("RGB")
    channels, layout = _PIL_MODES[image.mode]
    width, height = image.size
    if width == 0 or height == 0:
        raise MorvikError(MV_INVALID_ARGS, "the image is empty")
    data = image.tobytes()
    buffer = ctypes.create_string_buffer(data, len(data))
    return _native.Image(ctypes.addressof(buffer), width, height, width * channels, layout), buffer


def as_pixels(image: Any, channel_order: str = "BGR") -> Tuple[_native.Image, Any]:
    """An _native.Image describing `image`, and the object it points into.

    `image` is a PIL image, or an 8-bit array of shape (height, width) for
    grey, or (height, width, channels) with 1, 3 or 4 channels in
    `channel_order` ("BGR", as OpenCV stores them, or "RGB"; alpha comes
    last). Rows may be strided; pixels within a row must not be, or the array
    is copied. Keep the returned object alive while the library reads the
    pixels.
    """
    order = channel_order_of(channel_order)
    if is_pil_image(image):
        return pil_pixels(image)
    if not _numpy.is_array(image):
        raise MorvikError(MV_INVALID_ARGS, "the image must be a file path, encoded image bytes, a NumPy "
                          "array or a PIL image, not %s" % type(image).__name__)
    np = _numpy.require("an image given as an array")
    if image.dtype != np.uint8:
        raise MorvikError(MV_INVALID_ARGS, "the image must hold 8-bit pixels (uint8), not %s" % image.dtype)
    channels = 1 if image.ndim == 2 else image.shape[2] if image.ndim == 3 else 0
    if (channels, order) not in _FORMATS:
        raise MorvikError(MV_INVALID_ARGS, "the image must have shape (h, w) or (h, w, 1|3|4), not %s"
                          % (image.shape,))
    height, width = image.shape[:2]
    if height == 0 or width == 0:
        raise MorvikError(MV_INVALID_ARGS, "the image is empty")
    if height > _INT32_MAX or width > _INT32_MAX:
        raise MorvikError(MV_INVALID_ARGS, "the image is too large")
    if image.ndim == 2:
        packed_row = image.strides[1] == 1
    else:
        packed_row = image.strides[2] == 1 and image.strides[1] == channels
    if not packed_row or image.strides[0] < width * channels:
        image = np.ascontiguousarray(image)
    pixels = _native.Image(image.ctypes.data, width, height, image.strides[0],
                           _FORMATS[(channels, order)])
    return pixels, image


def read_file(path: Union[str, "os.PathLike[str]"]) -> bytes:
    """The bytes of an image file; MorvikError -2 with the reason (the same
    words as the command-line tool) when there are none to decode. Only a
    regular file within the decoder's limit is read."""
    with _files.open_regular(path, code=-2) as f:
        size = os.fstat(f.fileno()).st_size
        if size > _photo_byte_limit():
            raise MorvikError(MV_PARSE_IMAGE, "too large for an image")
        try:
            data = f.read(size)
        except OSError as e:
            raise MorvikError(MV_PARSE_IMAGE, e.strerror or str(e)) from None
    if not data:
        raise MorvikError(MV_PARSE_IMAGE, "empty file")
    return data


def _why_not_decoded(data: bytes) -> str:
    """The decode limit, with the image's size, when the header shows the
    image is over it (the words of the command-line tool)."""
    width, height = ctypes.c_uint64(), ctypes.c_uint64()
    limit = ctypes.c_int32()
    if _native.lib.MvPeekImageSize(data, len(data), ctypes.byref(width), ctypes.byref(height)) == 0 \
            and _native.lib.GetOption(b"image.max_decoded_pixels", ctypes.byref(limit), 4) == 0:
        w, h, cap = width.value, height.value, limit.value
        if cap > 0 and (w > cap or h > cap or w * h > cap):
            return ("%dx%d image (%d pixels) over the decode limit image.max_decoded_pixels = %d "
                    "(raise it with morvik.options['image.max_decoded_pixels'], up to 1073741824)"
                    % (w, h, w * h, cap))
    return "not an image that can be decoded"


def _photo_byte_limit() -> int:
    value = ctypes.c_int32()
    check(_native.lib.GetOption(b"image.max_decoded_pixels", ctypes.byref(value), ctypes.sizeof(value)))
    return max(value.value, 0) * _files.PHOTO_BYTES_PER_PIXEL + _files.PHOTO_OVERHEAD_BYTES


@contextlib.contextmanager
def decoded(data: Union[bytes, bytearray, memoryview]) -> Iterator[_native.Image]:
    """Encoded image bytes decoded into library-owned BGR pixels."""
    if len(data) == 0:
        raise MorvikError(MV_PARSE_IMAGE, "no bytes")
    data = bytes(data)
    image = _native.Image()
    code = _native.lib.MvDecodeImage(bytes(data), len(data), ctypes.byref(image))
    check(code, _why_not_decoded(data) if code == MV_PARSE_IMAGE else "")
    try:
        yield image
    finally:
        _native.lib.MvReleaseImage(ctypes.byref(image))


def is_encoded(source: Any) -> bool:
    """Whether `source` is a file path or encoded bytes rather than pixels."""
    return isinstance(source, (str, os.PathLike) + _ENCODED)


def source_name(source: Any) -> str:
    """How messages name an image: its path, or what kind of object it is."""
    if isinstance(source, (str, os.PathLike)):
        return os.fsdecode(source)
    return "the image (%s)" % type(source).__name__


@contextlib.contextmanager
def pixels_of(source: Any, channel_order: str = "BGR") -> Iterator[_native.Image]:
    """The _native.Image of a file path, encoded bytes, an array or a PIL
    image, valid inside the `with` block. `channel_order` ("BGR" by default,
    or "RGB", any case) is the order of an array's channels."""
    if not is_encoded(source):
        pixels, _keep = as_pixels(source, channel_order)
        yield pixels
        return
    channel_order_of(channel_order)
    if isinstance(source, _ENCODED):
        data = source
    else:
        try:
            data = read_file(source)
        except MorvikError as e:
            raise MorvikError(e.code, "%s: %s" % (os.fspath(source), e.detail)) from None
    with decoded(data) as image:
        yield image


def load_image(source: Union[str, "os.PathLike[str]", bytes, bytearray, memoryview],
               channel_order: str = "BGR") -> Any:
    """Decodes an image file (or its bytes) into an 8-bit array of shape
    (h, w, 3), its channels in `channel_order`: "BGR" (the default, as
    OpenCV's cv2.imread gives them) or "RGB" (as face_recognition's
    load_image_file and PIL give them), in any case. The photo's EXIF
    orientation is applied. Needs NumPy."""
    order = channel_order_of(channel_order)
    np = _numpy.require("morvik.load_image (it returns an array)")
    with pixels_of(source) as image:
        rows = ctypes.string_at(image.pixels, image.stride * image.height)
        pixels = np.frombuffer(rows, dtype=np.uint8).reshape(image.height, image.width, 3)
        return (pixels[:, :, ::-1] if order == "RGB" else pixels).copy()
