#include "records/json_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace morvik {
namespace {

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
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void appendNumber(std::string& out, double number) { appendReal(out, number); }
void appendNumber(std::string& out, float number) { appendReal(out, number); }
void appendNumber(std::string& out, int64_t number) { appendShortest(out, number); }

}  // namespace morvik
