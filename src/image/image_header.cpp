// Image dimensions from encoded headers, each format read as OpenCV's
// decoder (and the library behind it) reads it. Where the two could differ,
// the reader errs towards reporting a size: a false answer lets the decoder
// allocate whatever it finds.

#include "image/image_header.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace morvik {
namespace {

// Decimal values are clamped here: far beyond any decoder's limit, and
// small enough that one more digit cannot overflow.
constexpr uint64_t kSaturated = 1000000000000000ULL;

// A bounds-checked view of the encoded bytes. Offsets come from the data
// itself, so every read first asks whether the bytes are there.
class Bytes {
 public:
  Bytes(const unsigned char* data, size_t length) : data_(data), length_(data == nullptr ? 0 : length) {}

  size_t size() const { return length_; }
  bool has(uint64_t offset, uint64_t count) const { return offset <= length_ && count <= length_ - offset; }
  // The byte at `offset`; callers check `offset < size()` first.
  unsigned char operator[](size_t offset) const { return data_[offset]; }
  const char* text(size_t offset) const { return reinterpret_cast<const char*>(data_ + offset); }

  template <size_t N>
  bool startsWith(uint64_t offset, const char (&literal)[N]) const {
    return has(offset, N - 1) && std::memcmp(data_ + offset, literal, N - 1) == 0;
  }

  // An unsigned integer of `count` (at most 8) bytes.
  bool uint(uint64_t offset, size_t count, bool bigEndian, uint64_t& value) const {
    if (!has(offset, count)) return false;
    value = 0;
    for (size_t i = 0; i < count; ++i) value = (value << 8) | data_[offset + (bigEndian ? i : count - 1 - i)];
    return true;
  }
  bool be(uint64_t offset, size_t count, uint64_t& value) const { return uint(offset, count, true, value); }
  bool le(uint64_t offset, size_t count, uint64_t& value) const { return uint(offset, count, false, value); }

 private:
  const unsigned char* data_;
  size_t length_;
};

bool isSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// Digits at `pos`, clamped at kSaturated. Digits running into the end of
// the data may be a number cut short, so they do not count.
bool decimal(const Bytes& b, size_t& pos, uint64_t& value) {
  if (pos >= b.size() || !isDigit(b[pos])) return false;
  for (value = 0; pos < b.size() && isDigit(b[pos]); ++pos)
    value = std::min(value * 10 + (b[pos] - '0'), kSaturated);
  return pos < b.size();
}

bool pngSize(const Bytes& b, uint64_t& width, uint64_t& height) {
  // libpng insists on IHDR, 13 bytes long, as the first chunk.
  uint64_t chunkLength = 0;
  return b.startsWith(0, "\x89PNG\r\n\x1a\n") && b.be(8, 4, chunkLength) && chunkLength == 13 &&
         b.startsWith(12, "IHDR") && b.be(16, 4, width) && b.be(20, 4, height);
}

// The next marker as libjpeg finds it: it skips stray bytes (a corrupt file
// it only warns about), then fill bytes 0xFF; FF 00 is stuffed data.
bool nextJpegMarker(const Bytes& b, size_t& pos, unsigned& marker) {
  while (pos < b.size()) {
    if (b[pos++] != 0xFF) continue;
    while (pos < b.size() && b[pos] == 0xFF) ++pos;
    if (pos == b.size()) return false;
    marker = b[pos++];
    if (marker != 0) return true;
  }
  return false;
}

bool jpegSize(const Bytes& b, uint64_t& width, uint64_t& height) {
  // OpenCV's signature: SOI and the start of a marker.
  if (!b.startsWith(0, "\xFF\xD8\xFF")) return false;
  size_t pos = 2;
  unsigned marker = 0;
  while (nextJpegMarker(b, pos, marker)) {
    // Restart markers and TEM stand alone, without a length.
    if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;
    // A second SOI, the end or a scan before any frame header: libjpeg
    // gives up on the file.
    if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA) return false;
    uint64_t segment = 0;
    if (!b.be(pos, 2, segment)) return false;
    // SOF0..SOF15 carry the frame size; C4 (DHT), C8 (JPG) and CC (DAC)
    // share the range but are not frames.
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
      return b.be(pos + 3, 2, height) && b.be(pos + 5, 2, width);
    // A length below its own two bytes skips just those, as libjpeg does.
    pos += std::max<uint64_t>(segment, 2);
  }
  return false;
}

bool bmpSize(const Bytes& b, uint64_t& width, uint64_t& height) {
  uint64_t headerSize = 0, w = 0, h = 0;
  if (!b.startsWith(0, "BM") || !b.le(14, 4, headerSize)) return false;
  // The 12-byte core header has 16-bit unsigned sizes.
  if (headerSize == 12) return b.le(18, 2, width) && b.le(20, 2, height);
  // OpenCV takes every header of at least 36 bytes (its size a positive
  // int) as an info header: signed 32-bit sizes, a negative height meaning
  // rows stored top-down. A negative width it refuses.
  if (headerSize < 36 || headerSize > INT32_MAX || !b.le(18, 4, w) || !b.le(22, 4, h)) return false;
  if (w > INT32_MAX) return false;
  width = w;
  height = h > INT32_MAX ? (1ULL << 32) - h : h;
  return true;
}

// A PNM header number as OpenCV reads it: after whitespace and '#' comments
// running to the end of their line (anything else before it is an error),
// and taking the byte that ends it along.
bool pnmNumber(const Bytes& b, size_t& pos, uint64_t& value) {
  while (pos < b.size() && !isDigit(b[pos])) {
    if (b[pos] == '#') {
      while (pos < b.size() && b[pos] != '\n' && b[pos] != '\r') ++pos;
    } else if (!isSpace(b[pos])) {
      return false;
    }
    ++pos;
  }
  if (!decimal(b, pos, value)) return false;
  ++pos;
  return true;
}

bool isLineBreak(unsigned char c) { return c == '\n' || c == '\r'; }

// The text from `pos` to the first byte `stop` takes; that byte must be in
// the data, else the header is cut short.
bool pamText(const Bytes& b, size_t& pos, bool (*stop)(unsigned char), std::string& text) {
  size_t end = pos;
  while (end < b.size() && !stop(b[end])) ++end;
  if (end == b.size()) return false;
  text.assign(b.text(pos), end - pos);
  pos = end;
  return true;
}

// A PAM value as strtol reads it (beyond the range of long, it clamps).
bool pamNumber(const std::string& text, uint64_t& value) {
  char* end = nullptr;
  const long number = std::strtol(text.c_str(), &end, 0);
  if (end == text.c_str() || number < 0) return false;
  value = std::min(static_cast<uint64_t>(number), kSaturated);
  return true;
}

// PAM's header is a keyword and a value per line up to ENDHDR. OpenCV 4.6
// wants upper-case keywords, decimal values and no line break between the
// two; this takes any case, base prefixes and blanks running over line
// breaks too, so that no header it accepts is missed. A header cut before
// ENDHDR is not trusted.
bool pamSize(const Bytes& b, uint64_t& width, uint64_t& height) {
  bool haveWidth = false, haveHeight = false;
  std::string key, value;
  for (size_t pos = 3;;) {
    while (pos < b.size() && isSpace(b[pos])) ++pos;
    if (pos < b.size() && b[pos] == '#') {
      if (!pamText(b, pos, isLineBreak, value)) return false;
      continue;
    }
    if (!pamText(b, pos, isSpace, key)) return false;
    if (strcasecmp(key.c_str(), "ENDHDR") == 0) return haveWidth && haveHeight;
    if (isLineBreak(b[pos++])) continue;  // a keyword without a value
    while (pos < b.size() && isSpace(b[pos])) ++pos;
    if (!pamText(b, pos, isLineBreak, value)) return false;
    const bool isWidth = strcasecmp(key.c_str(), "WIDTH") == 0;
    if (!isWidth && strcasecmp(key.c_str(), "HEIGHT") != 0) continue;
    if (!pamNumber(value, isWidth ? width : height)) return false;
    (isWidth ? haveWidth : haveHeight) = true;
  }
}

bool pnmSize(const Bytes& b, uint64_t& width, uint64_t& height) {
  // OpenCV's PNM and PAM decoders want 'P', the kind and whitespace.
  if (!b.has(0, 3) || b[0] != 'P' || b[1] < '1' || b[1] > '7' || !isSpace(b[2])) return false;
  if (b[1] == '7') return pamSize(b, width, height);
  size_t pos = 2;
  return pnmNumber(b, pos, width) && pnmNumber(b, pos, height);
}

// WebP keeps the size in its first chunk: the canvas of an extended file
// (24 bits, less one), the lossless header after its 0x2F signature (14
// bits each, less one) or the lossy key frame after its start code (14
// bits; the top two scale the display only).
bool webpSize(const Bytes& b, uint64_t& width, uint64_t& height) {
  if (!b.startsWith(0, "RIFF") || !b.startsWith(8, "WEBP")) return false;
  if (b.startsWith(12, "VP8X")) {
    if (!b.le(24, 3, width) || !b.le(27, 3, height)) return false;
    ++width, ++height;
    return true;
  }
  uint64_t bits = 0;
  if (b.startsWith(12, "VP8L")) {
    if (!b.startsWith(20, "\x2F") || !b.le(21, 4, bits)) return false;
    width = (bits & 0x3FFF) + 1;
    height = ((bits >> 14) & 0x3FFF) + 1;
    return true;
  }
  if (!b.startsWith(12, "VP8 ") || !b.startsWith(23, "\x9D\x01\x2A")) return false;
  if (!b.le(26, 2, width) || !b.le(28, 2, height)) return false;
  width &= 0x3FFF;
  height &= 0x3FFF;
  return true;
}

// One TIFF dimension entry as libtiff reads it: a single value of an
// integer type, in the entry when it fits, else where the entry points (an
// 8-byte integer). A negative signed value it refuses.
bool tiffValue(const Bytes& b, uint64_t entry, bool bigEndian, uint64_t& value) {
  uint64_t type = 0, count = 0;
  if (!b.uint(entry + 2, 2, bigEndian, type) || !b.uint(entry + 4, 4, bigEndian, count) || count != 1) return false;
  static const unsigned char kBytes[] = {0, 1, 0, 2, 4, 0, 1, 0, 2, 4, 0, 0, 0, 4, 0, 0, 8, 8, 8};
  const size_t bytes = type < sizeof kBytes ? kBytes[type] : 0;
  const bool isSigned = type == 6 || type == 8 || type == 9 || type == 17;
  uint64_t at = entry + 8;
  if (bytes == 0 || (bytes > 4 && !b.uint(at, 4, bigEndian, at))) return false;
  return b.uint(at, bytes, bigEndian, value) && !(isSigned && (value >> (8 * bytes - 1)) != 0);
}

// The first IFD's ImageWidth (256) and ImageLength (257); libtiff keeps
// the first entry of a repeated tag. The entry count is 16 bits, and the
// walk stops at the end of the data. (OpenCV 4.6 does not take BigTIFF.)
bool tiffSize(const Bytes& b, uint64_t& width, uint64_t& height) {
  const bool bigEndian = b.startsWith(0, "MM\0*");
  if (!bigEndian && !b.startsWith(0, "II*\0")) return false;
  uint64_t ifd = 0, entries = 0;
  if (!b.uint(4, 4, bigEndian, ifd) || !b.uint(ifd, 2, bigEndian, entries)) return false;
  bool haveWidth = false, haveHeight = false;
  for (uint64_t i = 0, entry = ifd + 2; i < entries && b.has(entry, 12); ++i, entry += 12) {
    uint64_t tag = 0;
    b.uint(entry, 2, bigEndian, tag);  // in the data: the loop checked the entry
    bool& have = tag == 256 ? haveWidth : haveHeight;
    if ((tag != 256 && tag != 257) || have) continue;
    if (!tiffValue(b, entry, bigEndian, tag == 256 ? width : height)) return false;
    have = true;
    if (haveWidth && haveHeight) return true;
  }
  return false;
}

bool sunRasterSize(const Bytes& b, uint64_t& width, uint64_t& height) {
  return b.startsWith(0, "\x59\xA6\x6A\x95") && b.be(4, 4, width) && b.be(8, 4, height);
}

// A Radiance header line as the decoder reads it, with fgets into 128
// bytes: up to 127 bytes, through the line break. False at the end of the
// data, where a line may be cut short.
bool hdrLine(const Bytes& b, size_t begin, size_t& next) {
  const size_t limit = std::min(b.size(), begin + 127);
  for (next = begin; next < limit;)
    if (b[next++] == '\n') return true;
  return next < b.size();
}

// A number of the resolution line as sscanf's " %d" takes it.
bool hdrNumber(const Bytes& b, size_t& pos, uint64_t& value) {
  while (pos < b.size() && isSpace(b[pos])) ++pos;
  if (pos < b.size() && b[pos] == '+') ++pos;
  return decimal(b, pos, value);
}

// The decoder reads header lines up to the blank one, then the resolution
// line, "-Y <height> +X <width>", the only orientation it takes.
bool hdrSize(const Bytes& b, uint64_t& width, uint64_t& height) {
  if (!b.startsWith(0, "#?RADIANCE") && !b.startsWith(0, "#?RGBE")) return false;
  size_t line = 0, next = 0;
  for (bool blank = false; !blank; line = next) {
    if (!hdrLine(b, line, next)) return false;
    blank = next == line + 1 && b[line] == '\n';
  }
  size_t pos = line + 2;
  if (!b.startsWith(line, "-Y") || !hdrNumber(b, pos, height)) return false;
  while (pos < b.size() && isSpace(b[pos])) ++pos;
  if (!b.startsWith(pos, "+X")) return false;
  pos += 2;
  return hdrNumber(b, pos, width);
}

}  // namespace

bool peekImageSize(const unsigned char* data, size_t length, uint64_t& width, uint64_t& height) {
  using Reader = bool (*)(const Bytes&, uint64_t&, uint64_t&);
  // Each reader checks its own signature first; no two signatures overlap.
  static const Reader kReaders[] = {pngSize, jpegSize,   bmpSize,       pnmSize,
                                    webpSize, tiffSize, sunRasterSize, hdrSize};
  const Bytes bytes(data, length);
  for (const Reader read : kReaders) {
    uint64_t w = 0, h = 0;
    if (read(bytes, w, h)) {
      width = w;
      height = h;
      return true;
    }
  }
  return false;
}

}  // namespace morvik
