"""The JSON records of `morvik index`, one line per photo (bytes, without
the newline), written by the library as the command-line tool has them
written: MvFormatPhotoRecord and MvFormatErrorRecord."""

import ctypes
import os

from . import _native
from .errors import check


def _raw(text):
    """`text` (str, with surrogate escapes for undecodable bytes, or bytes)
    as the bytes the record holds."""
    return os.fsencode(text) if isinstance(text, str) else bytes(text)


def _written(call, *args):
    record, length = ctypes.c_void_p(), ctypes.c_size_t()
    check(call(*args, ctypes.byref(record), ctypes.byref(length)))
    try:
        return ctypes.string_at(record, length.value)
    finally:
        _native.free(record)


def photo_record(photo, faces, data):
    """{"photo":...,"faces":[...]} from _native.Face and FaceData records."""
    raw = _raw(photo)
    return _written(_native.lib.MvFormatPhotoRecord, raw, len(raw),
                    (_native.Face * len(faces))(*faces), len(faces),
                    (_native.FaceData * len(data))(*data), len(data))


def error_record(photo, code, detail):
    """{"photo":...,"error":{"code":...,"message":...,"detail":...}}"""
    raw, text = _raw(photo), _raw(detail)
    return _written(_native.lib.MvFormatErrorRecord, raw, len(raw), code, text, len(text))
