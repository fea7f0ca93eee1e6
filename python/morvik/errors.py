"""The exceptions of the package."""

from __future__ import annotations

from . import _native

NO_FACE = -4


def result_message(code: int) -> str:
    """The library's fixed English message for a result code."""
    return _native.lib.GetResult(code).decode("ascii")


class MorvikError(Exception):
    """A failure with the library's result code and message.

    `code` is the result code (for example -2 for an image that cannot be
    read, -4 when there is no face), `message` its fixed text and `detail`
    what was being done, when known.
    """

    def __init__(self, code: int, detail: str = "") -> None:
        self.code = code
        self.message = result_message(code)
        self.detail = detail
        text = "%s (%d)" % (self.message, code)
        super().__init__(text + ": " + detail if detail else text)


class NoFaceError(MorvikError):
    """A photo without a face where one was needed (code -4); `detail` names
    the photo when it came from a file."""

    def __init__(self, detail: str = "") -> None:
        super().__init__(NO_FACE, detail)


def check(code: int, detail: str = "") -> None:
    """Raises MorvikError (NoFaceError for -4) for a non-zero result code."""
    if code == NO_FACE:
        raise NoFaceError(detail)
    if code != 0:
        raise MorvikError(code, detail)
