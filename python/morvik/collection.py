"""Collections of faces: a nearest-neighbour index of descriptors and the
grouping of faces by person, both the library's (morvik/collection.h).

    index = morvik.Index()                   # exact up to 20 000 faces
    index.add(descriptors)                   # Descriptions or an (n, 128) array
    for face_id, distance in index.search(query, k=5):
        ...
    index.save("faces.mvx"); index = morvik.Index.load("faces.mvx")
    labels = morvik.cluster(descriptors, threshold=0.5)   # 0: the largest group
"""

from __future__ import annotations

import ctypes
import functools
import threading
from typing import Any, Callable, List, Optional, Sequence, Tuple, TypeVar, Union

from . import _files, _native, _numpy
from ._codes import MV_EXCEPTION, MV_INVALID_ARGS
from .errors import MorvikError, check
from .faces import Description, DescriptorLike

#: Descriptors as Index.add and cluster take them: Descriptions, vectors of
#: 128 numbers or an (n, 128) array.
Descriptors = Union[DescriptorLike, Sequence[DescriptorLike]]
#: progress(done, total), called as a long call advances.
Progress = Callable[[int, int], None]
_F = TypeVar("_F", bound=Callable[..., Any])

class _NumPyOnUse:
    """NumPy, imported at the first array this module makes: `import morvik`
    works without it, and Index and cluster say that they need it."""

    def __getattr__(self, name: str) -> Any:
        return getattr(_numpy.require("morvik.Index and morvik.cluster"), name)


np = _NumPyOnUse()

EXACT_LIMIT = 20000
_KINDS = {"auto": 0, "exact": 1, "approximate": 2}
_NAMES = {value: name for name, value in _KINDS.items()}
_SEARCH_EXACT = 1


class _Neighbor(ctypes.Structure):
    _fields_ = [("id", ctypes.c_uint64), ("distance", ctypes.c_double)]


class _Info(ctypes.Structure):
    _fields_ = [("count", ctypes.c_uint64), ("policy", ctypes.c_int32),
                ("structure", ctypes.c_int32), ("memory", ctypes.c_uint64)]


assert ctypes.sizeof(_Neighbor) == 16 and ctypes.sizeof(_Info) == 24

_PROGRESS = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_uint64, ctypes.c_uint64)


def _declare(lib: ctypes.CDLL) -> ctypes.CDLL:
    c_int, c_size_t, c_void_p, c_char_p = ctypes.c_int, ctypes.c_size_t, ctypes.c_void_p, ctypes.c_char_p
    float_p = ctypes.POINTER(ctypes.c_float)
    labels_p = ctypes.POINTER(ctypes.c_uint32)
    prototypes = {
        "MvIndexCreate": (c_int, [ctypes.c_int32, ctypes.POINTER(c_void_p)]),
        "MvIndexFree": (None, [c_void_p]),
        "MvIndexAdd": (c_int, [c_void_p, float_p, c_size_t]),
        "MvIndexGetInfo": (c_int, [c_void_p, ctypes.POINTER(_Info)]),
        "MvIndexSearch": (c_int, [c_void_p, float_p, c_size_t, ctypes.c_uint32,
                                  ctypes.POINTER(_Neighbor), ctypes.POINTER(c_size_t)]),
        "MvIndexGetVectors": (c_int, [c_void_p, c_size_t, c_size_t, float_p]),
        "MvIndexSave": (c_int, [c_void_p, c_char_p]),
        "MvIndexLoad": (c_int, [c_char_p, ctypes.POINTER(c_void_p)]),
        "MvIndexCluster": (c_int, [c_void_p, ctypes.c_double, labels_p, c_size_t,
                                   ctypes.POINTER(c_size_t), _PROGRESS, c_void_p]),
    }
    for name, (restype, argtypes) in prototypes.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


_lib = _declare(_native.lib)
_float_p = ctypes.POINTER(ctypes.c_float)


def _matrix(descriptors: Descriptors) -> Any:
    """An (n, 128) float32 array from Descriptions, vectors or an array."""
    if isinstance(descriptors, Description):
        descriptors = [descriptors]
    if isinstance(descriptors, (list, tuple)):
        descriptors = [d.descriptor if isinstance(d, Description) else d for d in descriptors]
        if not descriptors:
            return np.zeros((0, _native.DESCRIPTOR_SIZE), dtype=np.float32)
    try:
        matrix = np.ascontiguousarray(descriptors, dtype=np.float32)
    except (TypeError, ValueError):
        raise MorvikError(MV_INVALID_ARGS, "descriptors must be numbers") from None
    if matrix.ndim == 1:
        matrix = matrix.reshape(1, -1)
    if matrix.ndim != 2 or matrix.shape[1] != _native.DESCRIPTOR_SIZE:
        raise MorvikError(MV_INVALID_ARGS, "descriptors must have 128 values each, not shape %s" % (matrix.shape,))
    if not np.all(np.isfinite(matrix)):
        raise MorvikError(MV_INVALID_ARGS, "a descriptor holds a value that is not finite")
    return matrix


def _progress_callback(progress: Optional[Progress]) -> Any:
    if progress is None:
        return _PROGRESS()
    return _PROGRESS(lambda _context, done, total: progress(done, total))


def _holding_the_index(changes: bool = False) -> Callable[[_F], _F]:
    """A method of Index that holds the index's lock for its native calls.
    A change asked for while a call of the same index is in progress (from
    its progress callback, on the same thread) is refused: that call reads
    what the change would move."""
    def wrap(method: _F) -> _F:
        @functools.wraps(method)
        def held(self: Index, *args: Any, **kwargs: Any) -> Any:
            with self._lock:
                if changes and self._busy:
                    raise MorvikError(MV_INVALID_ARGS, "the index cannot change during its own call")
                self._busy += 1
                try:
                    return method(self, *args, **kwargs)
                finally:
                    self._busy -= 1
                    if not self._busy and self._close_pending:
                        self._free()
        return held  # type: ignore[return-value]
    return wrap


class Index:
    """A nearest-neighbour index of face descriptors.

    kind: "auto" (exact up to EXACT_LIMIT faces, approximate above),
    "exact" (every search compares every face) or "approximate". Faces
    are numbered 0, 1, ... in the order they are added. Threads may share
    an index: its calls take turns.
    """

    _handle: ctypes.c_void_p
    _lock: threading.RLock
    _busy: int
    _close_pending: bool

    def __new__(cls, *args: Any, **kwargs: Any) -> Index:
        # One lock around the native handle: the library's index may be
        # searched from several threads, but not while one changes or frees
        # it. Reentrant, because a progress callback runs on the thread of
        # the call it reports on; `_busy` counts those calls in progress.
        index = super().__new__(cls)
        index._handle = ctypes.c_void_p()
        index._lock = threading.RLock()
        index._busy = 0
        index._close_pending = False
        return index

    def __init__(self, kind: str = "auto") -> None:
        if kind not in _KINDS:
            raise MorvikError(MV_INVALID_ARGS, "kind must be one of %s" % ", ".join(sorted(_KINDS)))
        self._handle = ctypes.c_void_p()
        check(_lib.MvIndexCreate(_KINDS[kind], ctypes.byref(self._handle)))

    @classmethod
    def load(cls, path: _files.AnyPath) -> Index:
        """An index saved by save(); a damaged file raises MorvikError (-1)."""
        index = cls.__new__(cls)
        index._handle = ctypes.c_void_p()
        check(_lib.MvIndexLoad(_files.native_path(path), ctypes.byref(index._handle)),
              "cannot load the index %s" % path)
        return index

    def __del__(self) -> None:
        self.close()

    def close(self) -> None:
        """Releases the index now rather than when it is collected; from a
        progress callback of the index's own call, once that call ends."""
        with self._lock:
            if self._busy:
                self._close_pending = True
            else:
                self._free()

    def _free(self) -> None:
        if self._handle:
            _lib.MvIndexFree(self._handle)
            self._handle = ctypes.c_void_p()

    def _live(self) -> ctypes.c_void_p:
        if not self._handle or self._close_pending:
            raise MorvikError(MV_INVALID_ARGS, "the index is closed")
        return self._handle

    @_holding_the_index()
    def _info(self) -> _Info:
        info = _Info()
        check(_lib.MvIndexGetInfo(self._live(), ctypes.byref(info)))
        return info

    def __len__(self) -> int:
        return self._info().count

    @property
    def kind(self) -> str:
        """"auto", "exact" or "approximate", as created."""
        return _NAMES[self._info().policy]

    @property
    def structure(self) -> str:
        """"exact" or "approximate": what the index is built as now."""
        return _NAMES[self._info().structure]

    @property
    def memory(self) -> int:
        """Bytes held by the index."""
        return self._info().memory

    @_holding_the_index(changes=True)
    def add(self, descriptors: Descriptors) -> range:
        """Adds descriptors; returns the range of their ids."""
        matrix = _matrix(descriptors)
        first = len(self)
        check(_lib.MvIndexAdd(self._live(), matrix.ctypes.data_as(_float_p), matrix.shape[0]))
        return range(first, first + matrix.shape[0])

    @_holding_the_index()
    def search(self, query: DescriptorLike, k: int = 5, threshold: Optional[float] = None,
               exact: bool = False) -> List[Tuple[int, float]]:
        """The k faces closest to `query`, nearest first, as (id, distance);
        with `threshold`, only those closer than it. `exact` compares with
        every face whatever the index is built as."""
        if not isinstance(k, int) or k < 1:
            raise MorvikError(MV_INVALID_ARGS, "k must be a positive integer")
        vector = _matrix(query)
        if vector.shape[0] != 1:
            raise MorvikError(MV_INVALID_ARGS, "search takes one descriptor")
        results = (_Neighbor * k)()
        found = ctypes.c_size_t(k)
        check(_lib.MvIndexSearch(self._live(), vector.ctypes.data_as(_float_p), k,
                                 _SEARCH_EXACT if exact else 0, results, ctypes.byref(found)))
        pairs = [(int(results[i].id), float(results[i].distance)) for i in range(found.value)]
        if any(face_id >= len(self) for face_id, _ in pairs):
            raise MorvikError(MV_EXCEPTION, "the index answered with a face it does not hold")
        if threshold is not None:
            pairs = [pair for pair in pairs if pair[1] < threshold]
        return pairs

    @_holding_the_index()
    def descriptors(self, first: int = 0, count: Optional[int] = None) -> Any:
        """The stored descriptors as an (n, 128) float32 array."""
        if count is None:
            count = len(self) - first
        out = np.zeros((count, _native.DESCRIPTOR_SIZE), dtype=np.float32)
        check(_lib.MvIndexGetVectors(self._live(), first, count, out.ctypes.data_as(_float_p)))
        return out

    @_holding_the_index()
    def save(self, path: _files.AnyPath) -> None:
        """Writes the index to `path` (atomically: a temporary file renamed)."""
        check(_lib.MvIndexSave(self._live(), _files.native_path(path)), "cannot save the index %s" % path)

    @_holding_the_index()
    def cluster(self, threshold: float = 0.5, progress: Optional[Progress] = None) -> Any:
        """Labels of the faces grouped by person (see morvik.cluster)."""
        count = len(self)
        labels = np.zeros(max(count, 1), dtype=np.uint32)
        groups = ctypes.c_size_t()
        callback = _progress_callback(progress)
        check(_lib.MvIndexCluster(self._live(), float(threshold),
                                  labels.ctypes.data_as(ctypes.POINTER(ctypes.c_uint32)), labels.size,
                                  ctypes.byref(groups), callback, None),
              "threshold %r" % (threshold,))
        return labels[:count].astype(np.int64)


def cluster(descriptors: Descriptors, threshold: float = 0.5, progress: Optional[Progress] = None) -> Any:
    """Groups faces by person: dlib's chinese_whispers over the graph
    joining each face to its nearest faces (32 at most) closer than
    `threshold`. Returns one label per descriptor, 0 for
    the largest group, 1 for the next, ... `progress(done, total)` is
    called as the pairs are found."""
    matrix = _matrix(descriptors)
    index = Index()
    try:
        index.add(matrix)
        return index.cluster(threshold, progress)
    finally:
        index.close()
