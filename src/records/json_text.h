// The JSON text of the records' strings and numbers. Numbers are written in
// the shortest form that reads back to the same value (std::to_chars), so a
// float32 descriptor value keeps every bit in the fewest digits; strings are
// written byte for byte, escaping quotes, backslashes and controls, and
// bytes outside any UTF-8 sequence as \udc80 to \udcff (Python's
// "surrogateescape"), so that every text is valid JSON.
#ifndef MORVIK_RECORDS_JSON_TEXT_H_
#define MORVIK_RECORDS_JSON_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace morvik {

// Appends `text` as a quoted JSON string.
void appendQuoted(std::string& out, std::string_view text);
// Appends the shortest round-trip decimal form; non-finite values as null.
void appendNumber(std::string& out, double number);
void appendNumber(std::string& out, float number);
void appendNumber(std::string& out, int64_t number);

}  // namespace morvik

#endif  // MORVIK_RECORDS_JSON_TEXT_H_
