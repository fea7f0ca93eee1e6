"""Reading the result codes and finder bits out of morvik_c.h, their one
definition. The package's build writes them into morvik/_c_header.py
(build_backend/morvik_build.py for pip, cmake/packaging.cmake for an install
with the library); a package run from the source tree reads the header
itself. Runs as a script too:  python3 _header.py MORVIK_C_H OUTPUT"""

from __future__ import annotations

import re
import sys
from typing import Dict

_DEFINE = re.compile(r"^#define\s+(MV_C_[A-Z_]+|MV_FIND_[A-Z_]+)\s+\(?\s*(-?(?:0x[0-9A-Fa-f]+|\d+))[uU]?\s*\)?\s*$",
                     re.M)


def codes_in(text: str) -> Dict[str, int]:
    """{name: value} of the MV_C_ codes and MV_FIND_ bits #defined in `text`."""
    return {name: int(value, 0) for name, value in _DEFINE.findall(text)}


def read(path: str) -> Dict[str, int]:
    with open(path, encoding="utf-8") as f:
        found = codes_in(f.read())
    if "MV_C_OK" not in found or "MV_FIND_DLIB" not in found:
        raise ValueError("%s defines no result codes and finder bits" % path)
    return found


def module_text(path: str) -> str:
    """The source of _c_header.py for the header at `path`."""
    lines = ['"""Written from morvik_c.h when the package was built."""', "", "VALUES = {"]
    lines += ["    %r: %d," % item for item in sorted(read(path).items())]
    return "\n".join(lines + ["}", ""])


if __name__ == "__main__":
    with open(sys.argv[2], "w", encoding="utf-8") as out:
        out.write(module_text(sys.argv[1]))
