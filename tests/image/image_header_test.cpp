// The size read from an image header is the size OpenCV's decoder
// allocates: for every format OpenCV writes here, for headers claiming huge
// images, for every cut of a real header and for damaged headers the
// decoder still accepts. Cut headers are copied into buffers of their own
// length, so that a read past the end shows under AddressSanitizer.
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "image/image_header.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Peeked {
  bool known = false;
  uint64_t width = 0, height = 0;
};

Peeked peek(const Bytes& data) {
  Peeked result;
  result.known = morvik::peekImageSize(data.data(), data.size(), result.width, result.height);
  return result;
}

Peeked decoded(const Bytes& data) {
  // IMREAD_UNCHANGED ignores EXIF orientation: the size as allocated.
  // Some damaged headers make OpenCV throw rather than refuse.
  cv::Mat image;
  try {
    image = cv::imdecode(data, cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception&) {
  }
  Peeked result;
  result.known = !image.empty();
  result.width = static_cast<uint64_t>(image.cols);
  result.height = static_cast<uint64_t>(image.rows);
  return result;
}

std::string describe(const Peeked& p) {
  return p.known ? std::to_string(p.width) + "x" + std::to_string(p.height) : "unknown";
}

struct Encoding {
  const char* name;
  const char* extension;
  int type;
  std::vector<int> params;
};

// Every encoder OpenCV has here, in the pixel types and variants that
// change the header it writes.
const std::vector<Encoding>& encodings() {
  static const std::vector<Encoding> list = {
      {"png", ".png", CV_8UC3, {}},
      {"png 16-bit gray", ".png", CV_16UC1, {}},
      {"png rgba", ".png", CV_8UC4, {}},
      {"jpeg", ".jpg", CV_8UC3, {}},
      {"jpeg gray", ".jpg", CV_8UC1, {}},
      {"jpeg progressive", ".jpg", CV_8UC3, {cv::IMWRITE_JPEG_PROGRESSIVE, 1}},
      {"bmp", ".bmp", CV_8UC3, {}},
      {"bmp gray", ".bmp", CV_8UC1, {}},
      {"bmp rgba", ".bmp", CV_8UC4, {}},
      {"pgm", ".pgm", CV_8UC1, {}},
      {"pgm ascii", ".pgm", CV_8UC1, {cv::IMWRITE_PXM_BINARY, 0}},
      {"ppm", ".ppm", CV_8UC3, {}},
      {"pbm", ".pbm", CV_8UC1, {}},
      {"pam", ".pam", CV_8UC3, {}},
      {"webp lossless", ".webp", CV_8UC3, {}},
      {"webp lossy", ".webp", CV_8UC3, {cv::IMWRITE_WEBP_QUALITY, 80}},
      {"webp lossy alpha", ".webp", CV_8UC4, {cv::IMWRITE_WEBP_QUALITY, 80}},
      {"tiff", ".tiff", CV_8UC3, {}},
      {"tiff 16-bit gray", ".tiff", CV_16UC1, {}},
      {"tiff float", ".tiff", CV_32FC3, {}},
      {"sun raster", ".ras", CV_8UC3, {}},
      {"radiance", ".hdr", CV_32FC3, {}},
  };
  return list;
}

const Encoding& encodingNamed(const std::string& name) {
  for (const Encoding& encoding : encodings())
    if (name == encoding.name) return encoding;
  throw std::invalid_argument("no encoding " + name);
}

Bytes encode(const Encoding& encoding, cv::Size size) {
  cv::Mat image(size, encoding.type);
  cv::randu(image, 0, CV_MAT_DEPTH(encoding.type) == CV_32F ? 4 : 256);
  Bytes bytes;
  if (!cv::imencode(encoding.extension, image, bytes, encoding.params)) bytes.clear();
  return bytes;
}

const cv::Size kSizes[] = {{1, 1}, {3, 7}, {640, 480}, {17, 1000}};

// The files the tests read, beyond those they encode.
std::vector<std::string> realFiles() {
  std::vector<std::string> files = {testing_support::testdata("misc/32bit.png")};
  for (const auto& entry : std::filesystem::directory_iterator(testing_support::testdata("faces")))
    if (entry.path().extension() == ".jpg") files.push_back(entry.path().string());
  return files;
}

Bytes fileBytes(const std::string& path) {
  const std::vector<char> bytes = testing_support::fileBytes(path);
  return Bytes(bytes.begin(), bytes.end());
}

void expectDecoderSize(const Bytes& data, const std::string& what) {
  const Peeked expected = decoded(data);
  ASSERT_TRUE(expected.known) << what << ": the decoder refuses it";
  const Peeked actual = peek(data);
  EXPECT_EQ(describe(actual), describe(expected)) << what;
}

TEST(ImageHeader, GivesTheDecodersSizeForEveryEncoder) {
  for (const Encoding& encoding : encodings())
    for (const cv::Size size : kSizes) {
      const Bytes data = encode(encoding, size);
      const std::string what = std::string(encoding.name) + " " + std::to_string(size.width) + "x" +
                               std::to_string(size.height);
      ASSERT_FALSE(data.empty()) << what << ": OpenCV cannot encode it";
      expectDecoderSize(data, what);
      EXPECT_EQ(describe(peek(data)), std::to_string(size.width) + "x" + std::to_string(size.height)) << what;
    }
}

TEST(ImageHeader, GivesTheDecodersSizeForRealPhotographs) {
  const std::vector<std::string> files = realFiles();
  ASSERT_GE(files.size(), 5u);
  for (const std::string& path : files) expectDecoderSize(fileBytes(path), path);
}

// Variants the decoders accept though OpenCV never writes them: the reader
// must follow the decoder's own leniency, or a file could slip past it.
TEST(ImageHeader, FollowsTheDecodersLeniency) {
  const Bytes original = encode(encodingNamed("jpeg"), {3, 7});
  ASSERT_EQ(original[2], 0xFF);
  const auto insertAfterSoi = [&](const Bytes& extra) {
    Bytes data = original;
    data.insert(data.begin() + 2, extra.begin(), extra.end());
    return data;
  };
  expectDecoderSize(insertAfterSoi({0xFF, 0xFF, 0xFF}), "jpeg with fill bytes");
  expectDecoderSize(insertAfterSoi({0xFF, 0xFE, 0x00, 0x05, 'a', 'b', 'c'}), "jpeg with a comment");
  expectDecoderSize(insertAfterSoi({0xFF, 0xD0, 0xFF, 0x01}), "jpeg with standalone markers");
  expectDecoderSize(insertAfterSoi({0xFF, 0xE1, 0x00, 0x00}), "jpeg with a segment length of 0");
  expectDecoderSize(insertAfterSoi({0xFF, 0xE3, 0x00, 0x05, 'x', 'y', 'z', 0x12, 0x34, 0xFF, 0x00}),
                    "jpeg with stray bytes between segments");

  // Rows stored top-down: a negative height in the info header.
  Bytes bmp = encode(encodingNamed("bmp"), {3, 7});
  const int32_t topDown = -7;
  std::memcpy(&bmp[22], &topDown, 4);
  expectDecoderSize(bmp, "top-down bmp");

  const std::string pgm = "P5 #a comment\n 3\t#another\r7 255\n";
  Bytes pnm(pgm.begin(), pgm.end());
  pnm.resize(pnm.size() + 21, 9);
  expectDecoderSize(pnm, "pgm with comments");

  const std::string pamText =
      "P7\n# made by hand\nWIDTH 3\n\n  HEIGHT 07\nDEPTH 1\nMAXVAL 255\nTUPLTYPE GRAYSCALE\nENDHDR\n";
  Bytes pam(pamText.begin(), pamText.end());
  pam.resize(pam.size() + 21, 9);
  expectDecoderSize(pam, "pam with a comment, a blank line and a leading zero");
}

// `bytes` (at most 8) of `value`, most or least significant first.
void appendBe(Bytes& data, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) data.push_back(static_cast<unsigned char>(value >> (8 * i)));
}
void appendLe(Bytes& data, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) data.push_back(static_cast<unsigned char>(value >> (8 * i)));
}
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A first IFD of three entries, the sizes of `type`: inline up to four
// bytes, after the directory beyond.
Bytes craftedTiff(bool bigEndian, int type) {
  auto put = [bigEndian](Bytes& data, uint64_t value, int bytes) {
    bigEndian ? appendBe(data, value, bytes) : appendLe(data, value, bytes);
  };
  const int bytes = type == 3 ? 2 : type == 16 ? 8 : 4;
  Bytes data = text(bigEndian ? std::string("MM\0*", 4) : std::string("II*\0", 4));
  put(data, 8, 4);
  put(data, 3, 2);
  Bytes outOfLine;
  for (const int tag : {254, 256, 257}) {
    put(data, tag, 2);
    put(data, type, 2);
    put(data, 1, 4);
    if (bytes == 8) {
      put(data, 8 + 2 + 3 * 12 + 4 + outOfLine.size(), 4);
      put(outOfLine, 60000, 8);
    } else {
      put(data, 60000, bytes);
      put(data, 0, 4 - bytes);
    }
  }
  put(data, 0, 4);
  return data + outOfLine;
}

// Small headers claiming 60000 x 60000, the images the reader is there to
// turn away.
TEST(ImageHeader, ReadsHugeClaimsFromTinyFiles) {
  Bytes png = text("\x89PNG\r\n\x1a\n");
  appendBe(png, 13, 4);
  png = png + text("IHDR");
  appendBe(png, 60000, 4);
  appendBe(png, 60000, 4);
  png = png + Bytes{8, 2, 0, 0, 0, 1, 2, 3, 4};

  Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x00, 0x00, 0xFF, 0xFF, 0xC2, 0x00, 0x0B, 0x08};
  appendBe(jpeg, 60000, 2);
  appendBe(jpeg, 60000, 2);
  jpeg = jpeg + Bytes{1, 1, 0x11, 0};

  Bytes bmp = text("BM");
  bmp.resize(14, 0);  // file size, reserved, pixel offset
  appendLe(bmp, 40, 4);
  appendLe(bmp, 60000, 4);
  appendLe(bmp, static_cast<uint32_t>(-60000), 4);
  appendLe(bmp, 0x180001, 4);
  Bytes bmpCore = text("BM");
  bmpCore.resize(14, 0);
  appendLe(bmpCore, 12, 4);
  appendLe(bmpCore, 60000, 2);
  appendLe(bmpCore, 60000, 2);

  Bytes webp = text("RIFF");
  appendLe(webp, 30, 4);
  webp = webp + text("WEBPVP8X");
  appendLe(webp, 10, 4);
  appendLe(webp, 0, 4);
  appendLe(webp, 59999, 3);
  appendLe(webp, 59999, 3);

  Bytes sun = {0x59, 0xA6, 0x6A, 0x95};
  appendBe(sun, 60000, 4);
  appendBe(sun, 60000, 4);
  appendBe(sun, 24, 4);

  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"png", png},
      {"progressive jpeg", jpeg},
      {"bmp info header, top-down", bmp},
      {"bmp core header", bmpCore},
      {"webp canvas", webp},
      {"tiff II SHORT", craftedTiff(false, 3)},
      {"tiff MM LONG", craftedTiff(true, 4)},
      {"tiff II SLONG", craftedTiff(false, 9)},
      {"tiff MM LONG8", craftedTiff(true, 16)},
      {"pgm", text("P5\n# claims\n60000 60000\n255\n")},
      {"pbm ascii", text("P1 60000\n60000\n")},
      {"pam", text("P7\nWIDTH 60000\nHEIGHT 60000\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n")},
      {"pam in lower case and hex", text("P7\nwidth 0xEA60\nheight 60000\nENDHDR\n")},
      {"sun raster", sun},
      {"radiance", text("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 60000 +X 60000\n")},
  };
  for (const auto& [name, data] : cases) EXPECT_EQ(describe(peek(data)), "60000x60000") << name;
}

TEST(ImageHeader, RefusesUnknownAndMalformedHeaders) {
  uint64_t width = 0, height = 0;
  EXPECT_FALSE(morvik::peekImageSize(nullptr, 100, width, height));
  Bytes endlessMarkers = {0xFF, 0xD8};
  for (int i = 0; i < 200000; ++i) endlessMarkers.insert(endlessMarkers.end(), {0xFF, 0xD0, 0xFF, 0xFE, 0x00, 0x02});
  Bytes farTiff = text(std::string("II*\0", 4));
  appendLe(farTiff, 0xFFFFFFF0u, 4);
  Bytes shortTiff = text(std::string("MM\0*", 4));
  appendBe(shortTiff, 8, 4);
  appendBe(shortTiff, 65535, 2);
  shortTiff.resize(4000, 0);
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"empty", {}},
      {"gif", text("GIF89a\x10\x00\x10\x00")},
      {"jpeg of endless markers", endlessMarkers},
      {"jpeg segment past the end", {0xFF, 0xD8, 0xFF, 0xE1, 0x7F, 0xFF, 0xFF, 0xC0, 0, 11, 8, 1, 1, 1, 1}},
      {"jpeg scan before the frame", {0xFF, 0xD8, 0xFF, 0xDA, 0, 2, 0xFF, 0xC0, 0, 11, 8, 1, 1, 1, 1}},
      {"tiff directory far away", farTiff},
      {"tiff directory cut short", shortTiff},
      {"bmp header of 20 bytes", text(std::string("BM\0\0\0\0\0\0\0\0\0\0\0\0\x14\0\0\0\x10\0\x10\0", 22))},
      {"pgm with a sign", text("P5 -3 7 255\n")},
      {"pam without ENDHDR", text("P7\nWIDTH 3\nHEIGHT 7\nDEPTH 1\nMAXVAL 255\n")},
      {"radiance without a blank line", text("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n-Y 7 +X 3\n")},
      {"radiance turned", text("#?RADIANCE\n\n+X 3 -Y 7\n")},
  };
  for (const auto& [name, data] : cases) EXPECT_EQ(describe(peek(data)), "unknown") << name;
}

// The first bytes of each file to cut at every length.
std::vector<std::pair<std::string, Bytes>> headersToCut() {
  std::vector<std::pair<std::string, Bytes>> files;
  for (const Encoding& encoding : encodings())
    for (const cv::Size size : {cv::Size(640, 480), cv::Size(17, 1000)})
      files.emplace_back(encoding.name, encode(encoding, size));
  for (const std::string& path : realFiles()) files.emplace_back(path, fileBytes(path));
  return files;
}

TEST(ImageHeader, CutHeadersGiveNothingOrTheWholeSize) {
  for (const auto& [name, data] : headersToCut()) {
    const std::string whole = describe(peek(data));
    ASSERT_NE(whole, "unknown") << name;
    for (size_t length = 0; length <= std::min<size_t>(data.size(), 2048); ++length) {
      const Bytes cut(data.begin(), data.begin() + length);
      const Peeked part = peek(cut);
      if (part.known) {
        ASSERT_EQ(describe(part), whole) << name << " cut to " << length << " bytes";
      }
    }
  }
}

// Single damaged bytes in the header of small images: whenever the decoder
// still accepts the file, the reader must have given its size.
TEST(ImageHeader, DamagedHeadersTheDecoderAcceptsGiveItsSize) {
  int accepted = 0;
  for (const Encoding& encoding : encodings()) {
    const Bytes original = encode(encoding, {3, 7});
    for (size_t at = 0; at < std::min<size_t>(original.size(), 80); ++at)
      for (const int change : {0x01, 0x20, 0x80, 0xFF}) {
        Bytes data = original;
        data[at] ^= static_cast<unsigned char>(change);
        const Peeked peeked = peek(data);
        // A claim the guard turns away anyway is not worth allocating.
        if (peeked.known && peeked.width * peeked.height > 1000000) continue;
        const Peeked expected = decoded(data);
        if (!expected.known) continue;
        ++accepted;
        EXPECT_EQ(describe(peeked), describe(expected))
            << encoding.name << " with byte " << at << " xor " << change;
      }
  }
  EXPECT_GT(accepted, 2000);
}

// Random bytes, alone and after each format's signature: no crash, and a
// size read from the start of the data holds for the whole of it.
TEST(ImageHeader, RandomBytesAreReadSafely) {
  using namespace std::string_literals;
  const std::vector<std::string> signatures = {
      ""s,   "\x89PNG\r\n\x1a\n"s,          "\xFF\xD8\xFF"s,         "BM"s,
      "P5 "s, "P7\n"s,                    "RIFF\0\0\0\0WEBPVP8X"s, "RIFF\0\0\0\0WEBPVP8L"s,
      "RIFF\0\0\0\0WEBPVP8 "s,        "II*\0"s,                 "MM\0*"s,          "\x59\xA6\x6A\x95"s,
      "#?RADIANCE\n"s};
  std::mt19937 rng(7);
  int known = 0;
  for (const std::string& signature : signatures)
    for (int round = 0; round < 300; ++round) {
      Bytes data(signature.begin(), signature.end());
      const size_t extra = rng() % 600;
      for (size_t i = 0; i < extra; ++i)
        data.push_back(static_cast<unsigned char>(round % 3 == 0 ? " 0123456789\n#"[rng() % 13] : rng()));
      const Peeked whole = peek(data);
      known += whole.known;
      const Bytes cut(data.begin(), data.begin() + rng() % (data.size() + 1));
      const Peeked part = peek(cut);
      if (part.known) {
        EXPECT_EQ(describe(part), describe(whole)) << signature << " cut to " << cut.size();
      }
    }
  EXPECT_GT(known, 0);
}

}  // namespace
