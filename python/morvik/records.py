"""The JSON records of `morvik index`, one line per photo (bytes, without
the newline), written by the library as the command-line tool has them
written: MvFormatPhotoRecord and MvFormatErrorRecord."""

from __future__ import annotations

import ctypes
import os
from typing import Any, Callable, Optional, Sequence, Tuple, Union

from . import _native
from .errors import check
from .options import Value


def _raw(text: Union[str, bytes]) -> bytes:
    """`text` (str, with surrogate escapes for undecodable bytes, or bytes)
    as the bytes the record holds."""
    return os.fsencode(text) if isinstance(text, str) else bytes(text)


def _written(call: Callable[..., int], *args: Any) -> bytes:
    record, length = ctypes.c_void_p(), ctypes.c_size_t()
    check(call(*args, ctypes.byref(record), ctypes.byref(length)))
    try:
        return ctypes.string_at(record, length.value)
    finally:
        _native.free(record)


def photo_record(photo: Union[str, bytes], faces: Sequence[_native.FoundFace],
                 data: Sequence[_native.FaceData],
                 described_by: Optional[Tuple[int, Value]] = None) -> bytes:
    """{"photo":...,"faces":[...]} from _native.FoundFace and FaceData
    records; with described_by = (finder bits, align.mode), the record says
    how its descriptors were made ("finder":256,"align_mode":1 before
    "faces")."""
    raw = _raw(photo)
    finder, align_mode = described_by if described_by is not None else (-1, -1)
    return _written(_native.lib.MvFormatPhotoRecord, raw, len(raw),
                    (_native.FoundFace * len(faces))(*faces), len(faces),
                    (_native.FaceData * len(data))(*data), len(data),
                    int(finder), int(align_mode))


def error_record(photo: Union[str, bytes], code: int, detail: str) -> bytes:
    """{"photo":...,"error":{"code":...,"message":...,"detail":...}}"""
    raw, text = _raw(photo), _raw(detail)
    return _written(_native.lib.MvFormatErrorRecord, raw, len(raw), code, text, len(text))
