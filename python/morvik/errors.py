"""The one exception type of the package."""

from . import _native


def result_message(code):
    """The library's fixed English message for a result code."""
    return _native.lib.GetResult(code).decode("ascii")


class MorvikError(Exception):
    """A failure with the library's result code and message.

    `code` is the result code (for example -2 for an image that cannot be
    read, -4 when there is no face), `message` its fixed text and `detail`
    what was being done, when known.
    """

    def __init__(self, code, detail=""):
        self.code = code
        self.message = result_message(code)
        self.detail = detail
        text = "%s (%d)" % (self.message, code)
        super().__init__(text + ": " + detail if detail else text)


def check(code, detail=""):
    """Raises MorvikError for a non-zero result code."""
    if code != 0:
        raise MorvikError(code, detail)
