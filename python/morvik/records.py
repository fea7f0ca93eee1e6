"""The JSON records of `morvik index`, byte for byte as the command-line tool
writes them: one line per photo, numbers in their shortest round-trip form,
strings escaped as the tool escapes them (bytes other than controls, quotes
and backslashes are written as they are)."""

import math
import os
import struct
from decimal import Decimal
from fractions import Fraction

from .errors import result_message

_ESCAPES = {0x22: b'\\"', 0x5C: b"\\\\", 0x0A: b"\\n", 0x0D: b"\\r", 0x09: b"\\t"}


def quoted(text):
    """`text` (str, with surrogate escapes for undecodable bytes, or bytes)
    as a JSON string."""
    raw = os.fsencode(text) if isinstance(text, str) else bytes(text)
    out = bytearray(b'"')
    # Bytes outside any UTF-8 sequence become \udc80 to \udcff, so that the
    # line stays valid JSON and os.fsencode() of the read string gives them back.
    for char in raw.decode("utf-8", "surrogateescape"):
        code = ord(char)
        if 0xDC80 <= code <= 0xDCFF:
            out += b"\\u%04x" % code
        elif code < 0x80 and code in _ESCAPES:
            out += _ESCAPES[code]
        elif code < 0x20:
            out += b"\\u%04x" % code
        else:
            out += char.encode("utf-8")
    out += b'"'
    return bytes(out)


def _float32_neighbours(value):
    """The float32 values just below and above the positive finite `value`
    (past the largest, where the next would be)."""
    bits = struct.unpack("<I", struct.pack("<f", value))[0]
    below = struct.unpack("<f", struct.pack("<I", bits - 1))[0] if bits else -value
    above = struct.unpack("<f", struct.pack("<I", bits + 1))[0]
    if math.isinf(above):
        above = value + (value - below)
    return below, above, bits % 2 == 0


def _reads_back(text, exact, low, high, even):
    """Whether the decimal `text` reads back as the float32 `exact`. The
    halfway points `low` and `high` to its neighbours are exact doubles, so
    a double strictly between them is decisive; on a halfway point itself
    the exact decimal decides, ties going to the even mantissa."""
    near = float(text)
    if low < near < high:
        return True
    if near != low and near != high:
        return False
    decimal = Fraction(text)
    if Fraction(low) < decimal < Fraction(high):
        return True
    return even and decimal in (Fraction(low), Fraction(high))


def _float32_digits(value):
    """(digits, exponent) of the shortest decimal that reads back to the
    positive finite float32 `value`, the closest when several are as short:
    value ~ d1.d2d3... * 10**exponent."""
    below, above, even = _float32_neighbours(value)
    low, high = (value + below) / 2, (value + above) / 2
    for precision in range(1, 10):
        mantissa, exponent = ("%.*e" % (precision - 1, value)).split("e")
        rounded, exponent = int(mantissa.replace(".", "")), int(exponent)
        fits = []
        for digits in (rounded, rounded - 1, rounded + 1):
            text = "%de%d" % (digits, exponent - precision + 1)
            if digits > 0 and _reads_back(text, value, low, high, even):
                # the closest; of two as close, the one ending in an even digit
                fits.append((abs(Fraction(text) - Fraction(value)), digits % 2, digits))
        if fits:
            digits = str(min(fits)[2])
            # 999 + 1 and 100 - 1 change the number of digits
            return digits.rstrip("0"), exponent + len(digits) - precision
    raise AssertionError("no float32 decimal form for %r" % value)


def _double_digits(value):
    """The same for a double: Python's repr is its shortest closest form."""
    sign, digits, exponent = Decimal(repr(value)).as_tuple()
    text = "".join(map(str, digits)).lstrip("0")
    return text.rstrip("0"), len(text) + exponent - 1


def shortest(value, kind="d"):
    """The C++ std::to_chars form of a float ("f") or double ("d"): the
    shortest round-trip digits, in fixed or scientific notation whichever is
    shorter (fixed on a tie); non-finite values are null."""
    if not math.isfinite(value):
        return "null"
    sign = "-" if math.copysign(1.0, value) < 0 else ""
    if value == 0:
        return sign + "0"
    digits, exponent = (_float32_digits if kind == "f" else _double_digits)(abs(value))
    scientific = digits[0] + ("." + digits[1:] if len(digits) > 1 else "") + \
        "e%s%02d" % ("-" if exponent < 0 else "+", abs(exponent))
    if exponent < 0:
        fixed = "0." + "0" * (-exponent - 1) + digits
    elif len(digits) <= exponent + 1:
        fixed = str(int(Fraction(abs(value))))  # whole numbers: their exact digits
    else:
        fixed = digits[:exponent + 1] + "." + digits[exponent + 1:]
    return sign + (fixed if len(fixed) <= len(scientific) else scientific)


def _rect(r):
    return b'{"x":%d,"y":%d,"w":%d,"h":%d}' % (r.x, r.y, r.w, r.h)


def _point(p):
    return b'{"x":%d,"y":%d}' % (p.x, p.y)


def _face(found, data):
    """One face (a _native.FoundFace) with its finder's score and points;
    with its _native.FaceData, the descriptor and the rectangle and eyes that
    the description used."""
    face = found.face
    where = data if data is not None else face
    parts = [b'{"rect":', _rect(where.rect), b',"left_eye":', _point(where.left_eye),
             b',"right_eye":', _point(where.right_eye),
             b',"from_shape":', b"true" if face.from_shape else b"false",
             b',"angle":', shortest(face.angle, "d").encode("ascii"),
             b',"score":', shortest(found.score, "f").encode("ascii"),
             b',"points":[', b",".join(_point(p) for p in found.points[:found.point_count]), b"]"]
    if data is not None:
        parts += [b',"descriptor":[',
                  b",".join(shortest(v, "f").encode("ascii") for v in data.vector), b"]"]
    parts.append(b"}")
    return b"".join(parts)


def photo_record(photo, faces, data, described_by=None):
    """{"photo":...,"faces":[...]} from _native.FoundFace and FaceData records;
    with described_by = (finder bits, align.mode), the record says how its
    descriptors were made ("finder":24,"align_mode":1 before "faces")."""
    items = [_face(f, data[i] if i < len(data) else None) for i, f in enumerate(faces)]
    by = b""
    if described_by is not None:
        by = b',"finder":%d,"align_mode":%d' % (int(described_by[0]), int(described_by[1]))
    return b'{"photo":' + quoted(photo) + by + b',"faces":[' + b",".join(items) + b"]}"


def error_record(photo, code, detail):
    """{"photo":...,"error":{"code":...,"message":...,"detail":...}}"""
    return b'{"photo":%s,"error":{"code":%d,"message":%s,"detail":%s}}' % (
        quoted(photo), code, quoted(result_message(code)), quoted(detail))
