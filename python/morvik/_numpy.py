"""NumPy, imported only by the calls that take or give arrays, so that paths,
encoded bytes and descriptors work on an interpreter without it."""

from __future__ import annotations

import sys
from typing import Any


def require(purpose: str) -> Any:
    """The numpy module, or ModuleNotFoundError naming what needed it."""
    try:
        import numpy
    except ImportError:
        raise ModuleNotFoundError(
            "%s needs NumPy, which this Python cannot import (Debian: apt-get install "
            "python3-numpy; elsewhere: pip install numpy). File paths and encoded image bytes "
            "work without it." % purpose, name="numpy") from None
    return numpy


def is_array(value: Any) -> bool:
    """Whether `value` is a NumPy array, without importing NumPy for it."""
    numpy = sys.modules.get("numpy")
    return numpy is not None and isinstance(value, numpy.ndarray)
