"""Python interface to the morvik face library.

    import morvik
    image = morvik.load_image("group.jpg")          # BGR uint8 array
    faces = morvik.find_faces(image)                 # largest first
    a, b = morvik.describe(image, faces[:2])
    print(morvik.compare(a, b))                      # under 0.6: same person
    morvik.options["image.rescale_max"] = 1024

Failures raise morvik.MorvikError with the library's result code and message.
The library is found by the system loader, or at the path in MORVIK_LIBRARY.
"""

import ctypes

from . import _native
from .collection import Index, cluster
from .errors import MorvikError, result_message
from .faces import (FIND_CNN, FIND_CONFIRM, FIND_DEFAULT, FIND_HAAR, FIND_HOG, FIND_LBP,
                    FIND_PICO, Description, Face, compare, describe, find_faces)
from .images import load_image
from .options import Options, options

__all__ = ["MorvikError", "Face", "Description", "find_faces", "describe", "compare",
           "load_image", "options", "Options", "version", "release_models", "result_message",
           "FIND_LBP", "FIND_HAAR", "FIND_HOG", "FIND_CNN", "FIND_PICO", "FIND_CONFIRM",
           "FIND_DEFAULT"]
__all__ += ["Index", "cluster"]


def version():
    """(major, minor, build) of the loaded library."""
    major, minor, build = ctypes.c_uint16(), ctypes.c_uint16(), ctypes.c_uint32()
    _native.lib.GetVersion(ctypes.byref(major), ctypes.byref(minor), ctypes.byref(build))
    return major.value, minor.value, build.value


def release_models():
    """Releases the models cached on the calling thread."""
    _native.lib.GlobalFree()
