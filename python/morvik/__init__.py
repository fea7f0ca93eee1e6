"""Python interface to the morvik face library.

    import morvik
    image = morvik.load_image("group.jpg")            # BGR, as cv2.imread
    faces = morvik.find_faces(image)                  # largest first; [] if none
    a, b = morvik.describe(image, faces[:2])
    print(morvik.compare(a, b))                       # under 0.6: same person
    print(morvik.distances([a, b], a))                # to several known faces
    print(morvik.compare_photos("a.jpg", "b.jpg"))    # largest faces of two photos
    morvik.options["image.rescale_max"] = 1024

Images are file paths, encoded bytes, PIL images or NumPy arrays; only
arrays (and load_image, Description.descriptor) need NumPy. An array's
channels are read in `channel_order`: "BGR" by default (OpenCV's order, as
cv2.imread and load_image give them), "RGB" (PIL's, matplotlib's,
face_recognition's) in any case. Finders are bits (FIND_HOG | FIND_CNN) or
the command line's names ("hog+cnn"). Failures raise morvik.MorvikError with
the library's result code and message; NoFaceError (code -4) where a face
was needed. The library is the file MORVIK_LIBRARY names, else the one in
the install prefix the package was built for, else the one the dynamic
loader finds. It writes nothing on stderr unless MORVIK_LOG=1.
"""

from __future__ import annotations

import ctypes
from typing import Tuple

from . import _native
from .collection import Index, cluster
from .errors import MorvikError, NoFaceError, result_message
from .faces import (FIND_CNN, FIND_CONFIRM, FIND_DEFAULT, FIND_HAAR, FIND_HOG, FIND_LBP,
                    FIND_PICO, FIND_YUNET, FINDER_NAMES, Description, Face, compare,
                    compare_photos, describe, distances, find_faces, finder_names, matches)
from .images import load_image
from .options import Options, options

__all__ = ["MorvikError", "NoFaceError", "Face", "Description", "find_faces", "describe",
           "compare", "distances", "matches", "finder_names", "compare_photos", "load_image",
           "options", "Options", "version", "release_models", "result_message",
           "FIND_LBP", "FIND_HAAR", "FIND_HOG", "FIND_CNN", "FIND_PICO", "FIND_CONFIRM",
           "FIND_YUNET", "FINDER_NAMES", "FIND_DEFAULT", "__version__", "Index", "cluster"]


def version() -> Tuple[int, int, int]:
    """(major, minor, build) of the loaded library."""
    major, minor, build = ctypes.c_uint16(), ctypes.c_uint16(), ctypes.c_uint32()
    _native.lib.GetVersion(ctypes.byref(major), ctypes.byref(minor), ctypes.byref(build))
    return major.value, minor.value, build.value


def release_models() -> None:
    """Releases the models cached on the calling thread."""
    _native.lib.GlobalFree()


def _package_version() -> str:
    """The version of the library the package was built with; from the
    source tree, the loaded library's."""
    try:
        from ._build_info import VERSION
        return VERSION
    except ImportError:
        return "%d.%d" % version()[:2]


__version__ = _package_version()
