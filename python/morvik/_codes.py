"""The library's result codes and finder bits under their Python names, with
the values of morvik_c.h: those the package was built with, or, run from the
source tree, those of the header beside it."""

from __future__ import annotations

import os
from typing import Dict


def _values() -> Dict[str, int]:
    try:
        from ._c_header import VALUES
        return VALUES
    except ImportError:
        from . import _header
        here = os.path.dirname(os.path.abspath(__file__))
        return _header.read(os.path.join(here, "..", "..", "include", "morvik", "morvik_c.h"))


_VALUES = _values()

MV_INVALID_ARGS = _VALUES["MV_C_INVALID_ARGS"]
MV_PARSE_IMAGE = _VALUES["MV_C_PARSE_IMAGE"]
MV_NO_FACE = _VALUES["MV_C_NO_FACE"]
MV_EXCEPTION = _VALUES["MV_C_EXCEPTION"]
MV_PROPERTY_NAME = _VALUES["MV_C_PROPERTY_NAME"]
# Every result code by its name in morvik_c.h without "MV_C_".
RESULT_CODES = {name[len("MV_C_"):]: value for name, value in _VALUES.items()
                if name.startswith("MV_C_")}

FIND_LBP = _VALUES["MV_FIND_LBP"]
FIND_HAAR = _VALUES["MV_FIND_HAAR"]
FIND_HOG = _VALUES["MV_FIND_DLIB"]  # dlib's HOG finder
FIND_CNN = _VALUES["MV_FIND_CNN"]
FIND_PICO = _VALUES["MV_FIND_PICO"]
FIND_CONFIRM = _VALUES["MV_FIND_CONFIRM"]
# The YuNet finder whatever "find.yunet" says (MvFindFaces takes 32 bits).
FIND_YUNET = _VALUES["MV_FIND_YUNET_ALWAYS"]
