// A JSON reader for the index's records, one line at a time. A million-face
// index is over a gigabyte of JSON: the reader keeps the parsed values of a
// line in one reused array (no allocation per value) and converts numbers
// only when they are asked for, with std::from_chars, so that a descriptor
// reads back as the very floats that were written.
#ifndef MORVIK_TOOLS_JSON_READER_H_
#define MORVIK_TOOLS_JSON_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

class JsonLine {
 public:
  enum Type : uint8_t { kNull, kBool, kNumber, kString, kArray, kObject };
  static constexpr uint32_t kNone = UINT32_MAX;

  struct Value {
    Type type;
    bool escaped;           // a string with escapes (text() decodes them)
    std::string_view raw;   // the number's or the string's characters (no quotes)
    uint32_t first_child;   // arrays and objects
    uint32_t next;          // the next sibling
    std::string_view key;   // for members of objects (raw, undecoded)
  };

  // Parses one JSON text; false for anything that is not exactly one value.
  bool parse(std::string_view text);

  uint32_t root() const { return 0; }
  const Value& at(uint32_t node) const { return values_[node]; }
  // The member of an object named `key`, or kNone.
  uint32_t member(uint32_t object, std::string_view key) const;
  bool number(uint32_t node, double& value) const;
  bool number(uint32_t node, float& value) const;
  bool integer(uint32_t node, int32_t& value) const;
  // The decoded text of a string value.
  bool text(uint32_t node, std::string& value) const;

 private:
  bool value(uint32_t& node);
  bool string(std::string_view& raw, bool& escaped);
  bool numberToken(std::string_view& raw);
  void skipSpace();
  uint32_t make(Type type);

  std::string_view in_;
  size_t pos_ = 0;
  size_t depth_ = 0;
  std::vector<Value> values_;
};

}  // namespace cli

#endif  // MORVIK_TOOLS_JSON_READER_H_
