"""The shared library and the C records of morvik_c.h, seen through ctypes."""

from __future__ import annotations

import ctypes
import os
from typing import List, Optional, Tuple

DESCRIPTOR_SIZE = 128


class Point(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int32), ("y", ctypes.c_int32)]


class Rectangle(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int32), ("y", ctypes.c_int32),
                ("w", ctypes.c_int32), ("h", ctypes.c_int32)]


class Face(ctypes.Structure):
    _fields_ = [("from_shape", ctypes.c_bool), ("angle", ctypes.c_double),
                ("rect", Rectangle), ("right_eye", Point), ("left_eye", Point)]


class FoundFace(ctypes.Structure):
    _fields_ = [("face", Face), ("score", ctypes.c_float), ("point_count", ctypes.c_int32),
                ("points", Point * 5)]


class FaceData(ctypes.Structure):
    _fields_ = [("rect", Rectangle), ("right_eye", Point), ("left_eye", Point),
                ("vector", ctypes.c_float * DESCRIPTOR_SIZE)]


class OptionString(ctypes.Structure):
    _fields_ = [("text", ctypes.c_void_p), ("length", ctypes.c_uint64),
                ("reserved", ctypes.c_uint8 * 16)]


class Image(ctypes.Structure):
    _fields_ = [("pixels", ctypes.c_void_p), ("width", ctypes.c_int32),
                ("height", ctypes.c_int32), ("stride", ctypes.c_size_t),
                ("format", ctypes.c_int32)]


# The layouts are fixed; a mismatch here would corrupt memory, not just fail.
for _record, _size in ((Point, 8), (Rectangle, 16), (Face, 48), (FoundFace, 96), (FaceData, 544),
                       (OptionString, 32), (Image, 32)):
    assert ctypes.sizeof(_record) == _size, _record.__name__

PIXELS_GRAY, PIXELS_BGR, PIXELS_BGRA, PIXELS_RGB, PIXELS_RGBA = 1, 2, 3, 4, 5
OPTION_INT, OPTION_FLOAT, OPTION_DOUBLE, OPTION_STRING = 1, 2, 3, 4


SONAME = "libmorvik.so.3"


def _install_libdir() -> Optional[str]:
    """The library folder of the install this package was built for, if known."""
    try:
        from . import _build_info
    except ImportError:  # run from the source tree
        return None
    return _build_info.LIBDIR


def _candidates() -> List[Tuple[str, str]]:
    """(where, path) to try, in order. MORVIK_LIBRARY, when set, is the only
    one: loading another library in its place would hide a mistyped path."""
    named = os.environ.get("MORVIK_LIBRARY")
    if named:
        return [("MORVIK_LIBRARY", named)]
    candidates = []
    libdir = _install_libdir()
    if libdir:
        candidates.append(("the install prefix", os.path.join(libdir, SONAME)))
    candidates.append(("the dynamic loader's path", SONAME))
    return candidates


def _load_quietly(path: str) -> ctypes.CDLL:
    """The library loaded without its start-up log lines on stderr, unless
    MORVIK_LOG is set: the library reads MORVIK_LOG=0 while it is being
    loaded, and the variable is taken back afterwards so that programs this
    process starts are not silenced by it."""
    if "MORVIK_LOG" in os.environ:
        return ctypes.CDLL(path)
    os.environ["MORVIK_LOG"] = "0"
    try:
        return ctypes.CDLL(path)
    finally:
        del os.environ["MORVIK_LOG"]


def _load() -> ctypes.CDLL:
    tried = []
    for where, path in _candidates():
        try:
            return _load_quietly(path)
        except OSError as e:
            tried.append("%s: %s (%s)" % (where, path, e))
    raise ImportError("morvik cannot load its shared library; tried\n  " + "\n  ".join(tried) +
                      "\nSet MORVIK_LIBRARY to the path of libmorvik.so, or install the library.",
                      name="morvik")


def _declare(lib: ctypes.CDLL) -> ctypes.CDLL:
    c_int, c_size_t, c_void_p = ctypes.c_int, ctypes.c_size_t, ctypes.c_void_p
    size_p = ctypes.POINTER(c_size_t)
    prototypes = {
        "GetResult": (ctypes.c_char_p, [c_int]),
        "GetVersion": (c_int, [ctypes.POINTER(ctypes.c_uint16), ctypes.POINTER(ctypes.c_uint16),
                               ctypes.POINTER(ctypes.c_uint32)]),
        "GetOption": (c_int, [ctypes.c_char_p, c_void_p, c_size_t]),
        "SetOption": (c_int, [ctypes.c_char_p, c_void_p, c_size_t]),
        "GlobalFree": (None, []),
        "CompareVectors": (c_int, [ctypes.POINTER(ctypes.c_float), c_size_t,
                                   ctypes.POINTER(ctypes.c_float), c_size_t,
                                   ctypes.POINTER(ctypes.c_double)]),
        "MvExtractFacesPixels": (c_int, [ctypes.POINTER(Image), ctypes.POINTER(Face), size_p,
                                         ctypes.c_uint8]),
        "MvFindFaces": (c_int, [ctypes.POINTER(Image), ctypes.POINTER(FoundFace), size_p,
                                ctypes.c_uint32]),
        "MvExtractInfoPixels": (c_int, [ctypes.POINTER(Image), ctypes.POINTER(Face), c_size_t,
                                        ctypes.POINTER(FaceData), size_p]),
        "MvDecodeImage": (c_int, [c_void_p, c_size_t, ctypes.POINTER(Image)]),
        "MvReleaseImage": (None, [ctypes.POINTER(Image)]),
        "MvOptionCount": (c_size_t, []),
        "MvGetOptionRange": (c_int, [ctypes.c_char_p, ctypes.POINTER(ctypes.c_int64),
                                     ctypes.POINTER(ctypes.c_int64)]),
        "MvFinderName": (c_int, [c_size_t, ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(c_int)]),
        "MvPeekImageSize": (c_int, [c_void_p, c_size_t, ctypes.POINTER(ctypes.c_uint64),
                                    ctypes.POINTER(ctypes.c_uint64)]),
        "MvSetLogging": (None, [c_int]),
        "MvGetLogging": (c_int, []),
        "MvGetOptionInfo": (c_int, [c_size_t, ctypes.POINTER(ctypes.c_char_p),
                                    ctypes.POINTER(c_int)]),
        "MvFormatPhotoRecord": (c_int, [ctypes.c_char_p, c_size_t, ctypes.POINTER(FoundFace), c_size_t,
                                        ctypes.POINTER(FaceData), c_size_t, ctypes.c_int64,
                                        ctypes.c_int64, ctypes.POINTER(c_void_p), size_p]),
        "MvFormatErrorRecord": (c_int, [ctypes.c_char_p, c_size_t, c_int, ctypes.c_char_p,
                                        c_size_t, ctypes.POINTER(c_void_p), size_p]),
    }
    for name, (restype, argtypes) in prototypes.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


lib = _declare(_load())

# The C library's free(), for the buffers the library hands over.
free = ctypes.CDLL(None).free
free.argtypes = [ctypes.c_void_p]
free.restype = None
