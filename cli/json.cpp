#include "json.h"

#include "records/json_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace cli {

std::string quoted(std::string_view text) {
  std::string out;
  morvik::appendQuoted(out, text);
  return out;
}

std::string shortest(double number) {
  std::string out;
  morvik::appendNumber(out, number);
  return out;
}

std::string shortest(float number) {
  std::string out;
  morvik::appendNumber(out, number);
  return out;
}

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
