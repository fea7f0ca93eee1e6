"""The library's options as a mapping: options["image.rescale_max"] = 1024.

Values take effect at their next use in this process; model file names at
the next model load.
"""

from __future__ import annotations

import ctypes
import math
from collections.abc import MutableMapping
from typing import Dict, Iterator, Optional, Tuple, Union

Value = Union[int, float, str]

from . import _native
from ._codes import MV_INVALID_ARGS, MV_PROPERTY_NAME
from .errors import MorvikError, check

_INT32 = (-2**31, 2**31 - 1)
_FLOAT_MAX = 3.4028234663852886e38


def _catalog() -> Dict[str, int]:
    keys = {}
    for index in range(_native.lib.MvOptionCount()):
        name, kind = ctypes.c_char_p(), ctypes.c_int()
        check(_native.lib.MvGetOptionInfo(index, ctypes.byref(name), ctypes.byref(kind)))
        keys[name.value.decode("ascii")] = kind.value
    return keys


class Options(MutableMapping):
    """Every option key of the library with its current value."""

    def __init__(self) -> None:
        self._types: Optional[Dict[str, int]] = None

    def _table(self) -> Dict[str, int]:
        if self._types is None:
            self._types = _catalog()
        return self._types

    def _type(self, key: str) -> int:
        if not isinstance(key, str) or key not in self._table():
            raise MorvikError(MV_PROPERTY_NAME, "no option %r" % (key,))
        return self._types[key]

    def type_of(self, key: str) -> str:
        """'int', 'float', 'double' or 'string'."""
        return {_native.OPTION_INT: "int", _native.OPTION_FLOAT: "float",
                _native.OPTION_DOUBLE: "double", _native.OPTION_STRING: "string"}[self._type(key)]

    def range_of(self, key: str) -> Optional[Tuple[int, int]]:
        """(lowest, highest) whole number an int option takes; None for
        options of other types."""
        self._type(key)
        low, high = ctypes.c_int64(), ctypes.c_int64()
        if _native.lib.MvGetOptionRange(key.encode("ascii"), ctypes.byref(low),
                                        ctypes.byref(high)) != 0:
            return None
        return low.value, high.value

    def __getitem__(self, key: str) -> Value:
        kind = self._type(key)
        name = key.encode("ascii")
        if kind == _native.OPTION_STRING:
            value = _native.OptionString()
            check(_native.lib.GetOption(name, ctypes.byref(value), ctypes.sizeof(value)), key)
            return ctypes.string_at(value.text, value.length).decode("utf-8", "surrogateescape") \
                if value.length else ""
        value = {_native.OPTION_INT: ctypes.c_int32, _native.OPTION_FLOAT: ctypes.c_float,
                 _native.OPTION_DOUBLE: ctypes.c_double}[kind]()
        check(_native.lib.GetOption(name, ctypes.byref(value), ctypes.sizeof(value)), key)
        return value.value

    def __setitem__(self, key: str, value: Value) -> None:
        kind = self._type(key)
        name = key.encode("ascii")
        if kind == _native.OPTION_STRING:
            if not isinstance(value, str):
                raise MorvikError(MV_INVALID_ARGS, "%s takes a string, not %s" % (key, type(value).__name__))
            if "\0" in value:
                raise MorvikError(MV_INVALID_ARGS, "%s cannot hold a NUL byte (a path would be cut there)" % key)
            text = value.encode("utf-8", "surrogateescape")
            buffer = ctypes.create_string_buffer(text, len(text))
            record = _native.OptionString(ctypes.cast(buffer, ctypes.c_void_p), len(text))
            check(_native.lib.SetOption(name, ctypes.byref(record), ctypes.sizeof(record)), key)
            return
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            raise MorvikError(MV_INVALID_ARGS, "%s takes a number, not %s" % (key, type(value).__name__))
        if kind == _native.OPTION_INT:
            if not isinstance(value, int) or not _INT32[0] <= value <= _INT32[1]:
                raise MorvikError(MV_INVALID_ARGS, "%s takes a 32-bit whole number, not %r" % (key, value))
            low, high = self.range_of(key) or _INT32
            if not low <= value <= high:
                raise MorvikError(MV_INVALID_ARGS, "%s takes a whole number from %d to %d, not %r"
                                  % (key, low, high, value))
            c_value = ctypes.c_int32(value)
        else:
            if not math.isfinite(value) or (kind == _native.OPTION_FLOAT and abs(value) > _FLOAT_MAX):
                raise MorvikError(MV_INVALID_ARGS, "%s takes a finite number, not %r" % (key, value))
            c_value = (ctypes.c_float if kind == _native.OPTION_FLOAT else ctypes.c_double)(value)
        check(_native.lib.SetOption(name, ctypes.byref(c_value), ctypes.sizeof(c_value)), key)

    def __delitem__(self, key: str) -> None:
        raise MorvikError(MV_INVALID_ARGS, "options cannot be removed")

    def __iter__(self) -> Iterator[str]:
        return iter(list(self._table()))

    def __len__(self) -> int:
        return len(self._table())

    def __contains__(self, key: object) -> bool:
        return isinstance(key, str) and key in self._table()


options = Options()
