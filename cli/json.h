// A small JSON writer for the tool's machine-readable output. Numbers are
// written in the shortest form that reads back to the same value.
#ifndef MORVIK_TOOLS_JSON_H_
#define MORVIK_TOOLS_JSON_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

class Json {
 public:
  Json& beginObject();
  Json& endObject();
  Json& beginArray();
  Json& endArray();
  Json& key(std::string_view name);

  Json& value(std::string_view text);
  Json& value(const char* text) { return value(std::string_view(text)); }
  Json& value(int64_t number);
  Json& value(int number) { return value(static_cast<int64_t>(number)); }
  Json& value(double number);
  Json& value(float number);
  Json& value(bool flag);

  const std::string& text() const { return out_; }

 private:
  void separate();
  Json& open(char bracket);
  Json& close(char bracket);

  std::string out_;
  std::vector<bool> has_items_;  // one per open object or array
  bool after_key_ = false;
};

// `text` as a quoted JSON string. Bytes that are not part of a UTF-8
// sequence (file names may hold any bytes) are written as the escapes
// \udc80 to \udcff, Python's "surrogateescape" form: os.fsencode() of the
// decoded string, or this tool's own reader, gives the original bytes back.
std::string quoted(std::string_view text);

// Shortest round-trip decimal forms; non-finite values become null.
std::string shortest(double number);
std::string shortest(float number);

}  // namespace cli

#endif  // MORVIK_TOOLS_JSON_H_
