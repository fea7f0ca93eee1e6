"""Files as the library and the command-line tool handle them: paths given
to the library, reading only regular files (a FIFO would block, a device
never end), JSON lines of bounded length, files written whole through a
new file beside them, and the lock that keeps two runs off one index."""

from __future__ import annotations

import errno
import fcntl
import os
import stat
import tempfile
from typing import Any, BinaryIO, Iterable, Iterator, Literal, Optional, Union

from ._codes import MV_INVALID_ARGS
from .errors import MorvikError

#: A path as the library takes it: str, bytes or os.PathLike.
AnyPath = Union[str, bytes, os.PathLike[Any]]

# The longest record line read (the command-line tool's kMaxRecordBytes):
# room for a record of 256 faces; longer lines are damaged ones.
MAX_RECORD_BYTES = 1 << 20
# A photo file's bound: the largest decodable image ("image.max_decoded_pixels")
# stored uncompressed at 3 bytes a pixel, and 1 MiB of headers and metadata
# (the library's photoByteLimit).
PHOTO_BYTES_PER_PIXEL = 3
PHOTO_OVERHEAD_BYTES = 1 << 20


def native_path(path: AnyPath) -> bytes:
    """`path` as the bytes the library takes; MorvikError -1 for a path with
    a NUL byte, which C would silently cut there."""
    try:
        encoded = os.fsencode(os.fspath(path))
    except TypeError:
        raise MorvikError(MV_INVALID_ARGS, "a path is a str, bytes or os.PathLike, not %s" % type(path).__name__) from None
    if b"\0" in encoded:
        raise MorvikError(MV_INVALID_ARGS, "a path cannot hold a NUL byte: %r" % (path,))
    return encoded


def _kind(mode: int) -> str:
    return "is a directory" if stat.S_ISDIR(mode) else "not a regular file"


def open_regular(path: AnyPath, code: int = MV_INVALID_ARGS) -> BinaryIO:
    """A binary file object reading the regular file at `path`; MorvikError
    `code` with the reason for anything else, before a byte is read (the
    open cannot block: O_NONBLOCK, then fstat)."""
    name = native_path(path)
    try:
        fd = os.open(name, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
    except FileNotFoundError:
        raise MorvikError(code, "no such file") from None
    except OSError as e:
        raise MorvikError(code, e.strerror or str(e)) from None
    try:
        mode = os.fstat(fd).st_mode
        if not stat.S_ISREG(mode):
            raise MorvikError(code, _kind(mode))
        os.set_blocking(fd, True)
        return os.fdopen(fd, "rb")
    except BaseException:
        os.close(fd)
        raise


def record_lines(f: BinaryIO, limit: int = MAX_RECORD_BYTES) -> Iterator[Optional[bytes]]:
    """The lines of `f` without their newline, each at most `limit` bytes;
    a longer line gives None, without being held in memory whole. A last
    line without its newline is given as it is."""
    while True:
        line = f.readline(limit + 1)
        if not line:
            return
        if len(line) > limit and not line.endswith(b"\n"):
            while line and not line.endswith(b"\n"):
                line = f.readline(1 << 16)
            yield None
            continue
        yield line[:-1] if line.endswith(b"\n") else line


def write_atomically(path: AnyPath, chunks: Iterable[bytes]) -> None:
    """Writes the byte strings of `chunks` as the file at `path`: into a new
    file beside it (created exclusively under a random name, never through
    a link), flushed, then renamed over `path`."""
    path = os.fsdecode(native_path(path))
    folder, name = os.path.split(path)
    fd, temporary = tempfile.mkstemp(prefix="." + name + ".", suffix=".part", dir=folder or ".")
    try:
        os.fchmod(fd, 0o644)
        with os.fdopen(fd, "wb") as f:
            for chunk in chunks:
                f.write(chunk)
            f.flush()
            os.fsync(f.fileno())
        os.replace(temporary, path)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise


def open_for_append(path: AnyPath) -> BinaryIO:
    """A binary file object appending lines to the regular file at `path`,
    made when missing; never through a link or into a FIFO or device. An
    unfinished last line is ended first, so that the next line is whole."""
    name = native_path(path)
    flags = os.O_RDWR | os.O_APPEND | os.O_CREAT | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_CLOEXEC
    try:
        fd = os.open(name, flags, 0o644)
    except OSError as e:
        raise MorvikError(MV_INVALID_ARGS, "cannot write %s: %s" % (os.fsdecode(name), e.strerror or e)) from None
    mode = os.fstat(fd).st_mode
    if not stat.S_ISREG(mode):
        os.close(fd)
        raise MorvikError(MV_INVALID_ARGS, "cannot write %s: %s" % (os.fsdecode(name), _kind(mode)))
    os.set_blocking(fd, True)
    f = os.fdopen(fd, "ab")
    size = os.fstat(fd).st_size
    if size > 0 and os.pread(fd, 1, size - 1) != b"\n":
        f.write(b"\n")
        f.flush()
    return f


class IndexLock:
    """The exclusive lock on INDEX.lock that one run writing INDEX holds (the
    command-line tool's IndexLock): a second run is refused at once."""

    def __init__(self, index_path: AnyPath) -> None:
        self.path = os.fsdecode(native_path(index_path)) + ".lock"
        self.fd: Optional[int] = None

    def __enter__(self) -> IndexLock:
        for _ in range(8):
            try:
                fd = os.open(self.path, os.O_RDONLY | os.O_CREAT | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_CLOEXEC,
                             0o644)
            except OSError as e:
                raise MorvikError(MV_INVALID_ARGS, "cannot lock the index (%s: %s)" % (self.path, e.strerror or e)) from None
            held = os.fstat(fd)
            if not stat.S_ISREG(held.st_mode):
                os.close(fd)
                raise MorvikError(MV_INVALID_ARGS, "cannot lock the index (%s is not a regular file)" % self.path)
            try:
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except OSError as e:
                os.close(fd)
                if e.errno in (errno.EWOULDBLOCK, errno.EAGAIN):
                    raise MorvikError(MV_INVALID_ARGS, "another run is writing this index (%s)" % self.path[:-5]) from None
                raise MorvikError(MV_INVALID_ARGS, "cannot lock the index (%s)" % (e.strerror or e)) from None
            try:
                named = os.stat(self.path)
            except OSError:
                named = None
            if named is not None and (named.st_dev, named.st_ino) == (held.st_dev, held.st_ino):
                self.fd = fd
                return self
            os.close(fd)  # unlinked by the run that held it: take the new one
        raise MorvikError(MV_INVALID_ARGS, "cannot lock the index (%s keeps changing)" % self.path)

    def __exit__(self, *exc: Any) -> Literal[False]:
        if self.fd is not None:
            try:
                os.unlink(self.path)
            except OSError:
                pass
            os.close(self.fd)
            self.fd = None
        return False
