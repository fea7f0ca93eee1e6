#include "json_reader.h"

#include <charconv>
#include <cmath>

namespace cli {
namespace {

constexpr size_t kMaxDepth = 64;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool hex4(std::string_view s, size_t at, uint32_t& code) {
  if (at + 4 > s.size()) return false;
  code = 0;
  for (size_t i = 0; i < 4; ++i) {
    const int d = hexDigit(s[at + i]);
    if (d < 0) return false;
    code = code * 16 + static_cast<uint32_t>(d);
  }
  return true;
}

void appendUtf8(uint32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace

bool JsonLine::parse(std::string_view text) {
  in_ = text;
  pos_ = 0;
  depth_ = 0;
  values_.clear();
  uint32_t node = 0;
  if (!value(node)) return false;
  skipSpace();
  return pos_ == in_.size();
}

void JsonLine::skipSpace() {
  while (pos_ < in_.size() && isSpace(in_[pos_])) ++pos_;
}

uint32_t JsonLine::make(Type type) {
  values_.push_back(Value{type, false, {}, kNone, kNone, {}});
  return static_cast<uint32_t>(values_.size() - 1);
}

bool JsonLine::string(std::string_view& raw, bool& escaped) {
  ++pos_;  // the opening quote
  const size_t start = pos_;
  escaped = false;
  while (pos_ < in_.size()) {
    const char c = in_[pos_];
    if (c == '"') {
      raw = in_.substr(start, pos_ - start);
      ++pos_;
      return true;
    }
    if (static_cast<unsigned char>(c) < 0x20) return false;
    if (c == '\\') {
      escaped = true;
      if (++pos_ >= in_.size()) return false;
      const char e = in_[pos_];
      uint32_t code;
      if (e == 'u') {
        if (!hex4(in_, pos_ + 1, code)) return false;
        pos_ += 4;
      } else if (e != '"' && e != '\\' && e != '/' && e != 'b' && e != 'f' && e != 'n' && e != 'r' &&
                 e != 't') {
        return false;
      }
    }
    ++pos_;
  }
  return false;
}

bool JsonLine::numberToken(std::string_view& raw) {
  const size_t start = pos_;
  if (pos_ < in_.size() && in_[pos_] == '-') ++pos_;
  const auto digits = [&] {
    const size_t from = pos_;
    while (pos_ < in_.size() && in_[pos_] >= '0' && in_[pos_] <= '9') ++pos_;
    return pos_ > from;
  };
  if (!digits()) return false;
  if (pos_ < in_.size() && in_[pos_] == '.') {
    ++pos_;
    if (!digits()) return false;
  }
  if (pos_ < in_.size() && (in_[pos_] == 'e' || in_[pos_] == 'E')) {
    ++pos_;
    if (pos_ < in_.size() && (in_[pos_] == '+' || in_[pos_] == '-')) ++pos_;
    if (!digits()) return false;
  }
  raw = in_.substr(start, pos_ - start);
  return true;
}

bool JsonLine::value(uint32_t& node) {
  skipSpace();
  if (pos_ >= in_.size()) return false;
  const char c = in_[pos_];
  if (c == '{' || c == '[') {
    if (++depth_ > kMaxDepth) return false;
    const bool object = c == '{';
    node = make(object ? kObject : kArray);
    ++pos_;
    skipSpace();
    const char close = object ? '}' : ']';
    uint32_t last = kNone;
    if (pos_ < in_.size() && in_[pos_] == close) {
      ++pos_;
      --depth_;
      return true;
    }
    while (true) {
      std::string_view key;
      if (object) {
        skipSpace();
        bool escaped;
        if (pos_ >= in_.size() || in_[pos_] != '"' || !string(key, escaped)) return false;
        skipSpace();
        if (pos_ >= in_.size() || in_[pos_] != ':') return false;
        ++pos_;
      }
      uint32_t child = 0;
      if (!value(child)) return false;
      values_[child].key = key;
      if (last == kNone) {
        values_[node].first_child = child;
      } else {
        values_[last].next = child;
      }
      last = child;
      skipSpace();
      if (pos_ >= in_.size()) return false;
      if (in_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (in_[pos_] != close) return false;
      ++pos_;
      --depth_;
      return true;
    }
  }
  if (c == '"') {
    node = make(kString);
    return string(values_[node].raw, values_[node].escaped);
  }
  for (const std::string_view word : {"true", "false", "null"}) {
    if (in_.substr(pos_, word.size()) == word) {
      node = make(word == "null" ? kNull : kBool);
      values_[node].raw = in_.substr(pos_, word.size());
      pos_ += word.size();
      return true;
    }
  }
  node = make(kNumber);
  return numberToken(values_[node].raw);
}

uint32_t JsonLine::member(uint32_t object, std::string_view key) const {
  if (object >= values_.size() || values_[object].type != kObject) return kNone;
  for (uint32_t child = values_[object].first_child; child != kNone; child = values_[child].next) {
    if (values_[child].key == key) return child;
  }
  return kNone;
}

bool JsonLine::number(uint32_t node, double& value) const {
  if (node >= values_.size() || values_[node].type != kNumber) return false;
  const std::string_view raw = values_[node].raw;
  const auto result = std::from_chars(raw.data(), raw.data() + raw.size(), value);
  return result.ec == std::errc() && std::isfinite(value);
}

bool JsonLine::number(uint32_t node, float& value) const {
  if (node >= values_.size() || values_[node].type != kNumber) return false;
  const std::string_view raw = values_[node].raw;
  const auto result = std::from_chars(raw.data(), raw.data() + raw.size(), value);
  return result.ec == std::errc() && std::isfinite(value);
}

bool JsonLine::integer(uint32_t node, int32_t& value) const {
  if (node >= values_.size() || values_[node].type != kNumber) return false;
  const std::string_view raw = values_[node].raw;
  const auto result = std::from_chars(raw.data(), raw.data() + raw.size(), value);
  return result.ec == std::errc() && result.ptr == raw.data() + raw.size();
}

bool JsonLine::text(uint32_t node, std::string& value) const {
  if (node >= values_.size() || values_[node].type != kString) return false;
  const std::string_view raw = values_[node].raw;
  if (!values_[node].escaped) {
    value.assign(raw);
    return true;
  }
  value.clear();
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\') {
      value += raw[i];
      continue;
    }
    const char e = raw[++i];
    switch (e) {
      case 'b': value += '\b'; break;
      case 'f': value += '\f'; break;
      case 'n': value += '\n'; break;
      case 'r': value += '\r'; break;
      case 't': value += '\t'; break;
      case 'u': {
        uint32_t code = 0, low = 0;
        hex4(raw, i + 1, code);
        i += 4;
        if (code >= 0xD800 && code < 0xDC00 && i + 6 < raw.size() && raw[i + 1] == '\\' &&
            raw[i + 2] == 'u' && hex4(raw, i + 3, low) && low >= 0xDC00 && low < 0xE000) {
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          i += 6;
        }
        // U+DC80 to U+DCFF alone stand for a byte that was not UTF-8 (see
        // quoted() in json.h): the byte itself, as the file name held it.
        if (code >= 0xDC80 && code <= 0xDCFF) {
          value += static_cast<char>(code - 0xDC00);
        } else {
          appendUtf8(code, value);
        }
        break;
      }
      default: value += e;  // " \ /
    }
  }
  return true;
}

}  // namespace cli
