#include "records/json_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace morvik {
namespace {

// The length of the well-formed UTF-8 sequence of two or more bytes at
// text[i], or 0 (ASCII, or a byte that starts no such sequence).
size_t utf8Length(std::string_view text, size_t i) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = at(i);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (i + length > text.size() || at(i + 1) < low || at(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  }
  return length;
}

template <typename Number>
void appendShortest(std::string& out, Number number) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof(buffer), number);
  out.append(buffer, result.ptr);
}

template <typename Real>
void appendReal(std::string& out, Real number) {
  if (std::isfinite(number)) {
    appendShortest(out, number);
  } else {
    out += "null";
  }
}

}  // namespace

void appendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (size_t i = 0; i < text.size();) {
    const size_t run = utf8Length(text, i);
    if (run > 1) {
      out.append(text.substr(i, run));
      i += run;
      continue;
    }
    const char c = text[i++];
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x80) {
          // A control character, or a byte outside any UTF-8 sequence: the
          // latter as the lone surrogate U+DC80 to U+DCFF, as Python's
          // "surrogateescape" gives it, so that the text stays valid JSON and
          // os.fsencode() of the decoded string gives the original bytes.
          char escaped[8];
          std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte < 0x80 ? byte : 0xDC00u + byte);
          out += escaped;
        } else {
          out += c;
        }
      }
    }
  }
  out += '"';
}

void appendNumber(std::string& out, double number) { appendReal(out, number); }
void appendNumber(std::string& out, float number) { appendReal(out, number); }
void appendNumber(std::string& out, int64_t number) { appendShortest(out, number); }

}  // namespace morvik
