"""Indexing photos as `morvik index` does, one photo at a time: the record
of a photo, and the records an earlier run already wrote (to resume it).
Nothing here needs NumPy or Dask."""

from __future__ import annotations

import json
import os
import threading
from typing import Any, Dict, Mapping, Optional, Tuple, Union

from . import _files, records
from ._codes import MV_EXCEPTION, MV_INVALID_ARGS, MV_NO_FACE
from .errors import MorvikError
from .faces import FIND_DEFAULT, describe_in_pixels, find_in_pixels
from .images import decoded, read_file
from .options import Value, options as _options

#: A photo as describe_photo takes it: a path.
Photo = Union[str, os.PathLike[str]]

# The command-line tool's default for `index --max`.
MAX_FACES = 256


class Outcome:
    """A photo's record line (bytes, no newline) with what it tells."""
    __slots__ = ("photo", "line", "code", "detail", "faces")

    def __init__(self, photo: Photo, line: bytes, code: int = 0, detail: str = "",
                 faces: int = 0) -> None:
        self.photo, self.line, self.code, self.detail, self.faces = photo, line, code, detail, faces

    @property
    def failed(self) -> bool:
        return self.code not in (0, MV_NO_FACE)


def _described(photo: str, algo: int, max_faces: int) -> Outcome:
    """Reads, finds and describes as the tool does: a photo without faces,
    or whose faces cannot be described (-4), gets a record of what was
    found; any other failure an error record."""
    faces, data = [], []
    described_by = (algo, _options["align.mode"])
    try:
        with decoded(read_file(photo)) as pixels:
            faces = find_in_pixels(pixels, algo, max_faces)
            data = describe_in_pixels(pixels, faces)
    except MorvikError as e:
        if e.code != MV_NO_FACE:
            return Outcome(photo, records.error_record(photo, e.code, e.detail), e.code, e.detail)
        return Outcome(photo, records.photo_record(photo, faces, [], described_by), MV_NO_FACE)
    return Outcome(photo, records.photo_record(photo, faces, data, described_by), faces=len(data))


def describe_photo(photo: Photo, algo: int = FIND_DEFAULT, max_faces: int = MAX_FACES) -> Outcome:
    """The Outcome of one photo; never raises for the photo's own faults."""
    try:
        return _described(os.fspath(photo), algo, max_faces)
    except Exception as e:  # noqa: BLE001 - one photo never stops a batch
        detail = "%s: %s" % (type(e).__name__, e)
        return Outcome(photo, records.error_record(photo, MV_EXCEPTION, detail), MV_EXCEPTION, detail)


_applied_lock = threading.Lock()
_applied: Dict[str, Value] = {}


def apply_options(values: Optional[Mapping[str, Value]]) -> None:
    """Sets options in this process once: a worker gets the same values with
    every batch and must not reload models for them each time."""
    with _applied_lock:
        for key, value in sorted((values or {}).items()):
            if _applied.get(key, object()) != value:
                _options[key] = value
                _applied[key] = value


def option_value(assignment: str) -> Tuple[str, Value]:
    """("KEY", value) from "KEY=VALUE", the value typed as the option is."""
    key, sep, text = assignment.partition("=")
    if not sep:
        raise MorvikError(MV_INVALID_ARGS, "an option is KEY=VALUE, not %r" % (assignment,))
    kind = _options.type_of(key.strip())
    try:
        value = {"int": int, "float": float, "double": float, "string": str}[kind](text)
    except ValueError:
        raise MorvikError(MV_INVALID_ARGS, "%s takes a %s, not %r" % (key, kind, text)) from None
    return key.strip(), value


def indexed_lines(path: _files.AnyPath) -> Dict[Any, bytes]:
    """{photo: line} of the records at `path` that need no second look:
    photos described, with faces or without. Failed photos are tried again
    (the fault may have been passing), damaged lines (an interrupted write)
    are ignored, and a missing file holds nothing."""
    done = {}
    try:
        with _files.open_regular(path) as f:
            for line in _files.record_lines(f):
                if line is None:
                    continue
                try:
                    record = json.loads(line.decode("utf-8", "surrogateescape"))
                except ValueError:
                    continue
                if isinstance(record, dict) and "faces" in record and "photo" in record:
                    done[record["photo"]] = line
    except MorvikError as e:
        if e.detail != "no such file":
            raise
    return done
