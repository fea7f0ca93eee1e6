#include "json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace cli {
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

template <typename Real>
std::string shortestOf(Real number) {
  if (!std::isfinite(number)) return "null";
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof(buffer), number);
  return std::string(buffer, result.ptr);
}

}  // namespace

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    const size_t run = utf8Length(text, i);
    if (run > 1) {
      out.append(text.substr(i, run));
      i += run;
      continue;
    }
    ++i;
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
  return out + "\"";
}

std::string shortest(double number) { return shortestOf(number); }
std::string shortest(float number) { return shortestOf(number); }

void Json::separate() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!has_items_.empty()) {
    if (has_items_.back()) out_ += ',';
    has_items_.back() = true;
  }
}

Json& Json::open(char bracket) {
  separate();
  out_ += bracket;
  has_items_.push_back(false);
  return *this;
}

Json& Json::close(char bracket) {
  out_ += bracket;
  if (!has_items_.empty()) has_items_.pop_back();
  return *this;
}

Json& Json::beginObject() { return open('{'); }
Json& Json::endObject() { return close('}'); }
Json& Json::beginArray() { return open('['); }
Json& Json::endArray() { return close(']'); }

Json& Json::key(std::string_view name) {
  separate();
  out_ += quoted(name);
  out_ += ':';
  after_key_ = true;
  return *this;
}

Json& Json::value(std::string_view text) {
  separate();
  out_ += quoted(text);
  return *this;
}

Json& Json::value(int64_t number) {
  separate();
  out_ += std::to_string(number);
  return *this;
}

Json& Json::value(double number) {
  separate();
  out_ += shortest(number);
  return *this;
}

Json& Json::value(float number) {
  separate();
  out_ += shortest(number);
  return *this;
}

Json& Json::value(bool flag) {
  separate();
  out_ += flag ? "true" : "false";
  return *this;
}

}  // namespace cli
