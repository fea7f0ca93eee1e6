// Option names, buffer sizes and values as a host might pass them to
// GetOption/SetOption. Every call ends in a result code; an accepted value
// reads back as written; the finders that read the options at each search
// survive the values; afterwards every option is restored.
//
// Input: byte 0 picks a known key (below 0xC0) or takes the key text from
// the input (up to a NUL); byte 1 picks the buffer size and flags; the rest
// is the value.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "fuzz_support.h"
#include "morvik/morvik.h"
#include "morvik/morvik_c.h"
#include "morvik/pico.h"

namespace {

struct Saved {
  std::string name;
  std::vector<unsigned char> bytes;  // numbers
  std::string text;                  // strings
  bool is_string;
};

std::vector<Saved> g_defaults;

void saveDefaults() {
  for (size_t i = 0; i < MvOptionCount(); ++i) {
    const char* name = nullptr;
    int type = 0;
    FUZZ_EXPECT(MvGetOptionInfo(i, &name, &type) == MV_OK);
    unsigned char buffer[sizeof(mv::OptionString)] = {};
    FUZZ_EXPECT(GetOption(name, buffer, sizeof buffer) == MV_OK);
    Saved s{name, {}, {}, type == MV_OPTION_STRING};
    if (s.is_string) {
      mv::OptionString text;
      std::memcpy(&text, buffer, sizeof text);
      s.text.assign(text.text, text.length);
    } else {
      s.bytes.assign(buffer, buffer + (type == MV_OPTION_DOUBLE ? 8 : 4));
    }
    g_defaults.push_back(std::move(s));
  }
}

void restoreDefaults() {
  for (Saved& s : g_defaults) {
    if (s.is_string) {
      mv::OptionString text{s.text.data(), s.text.size(), {}};
      FUZZ_EXPECT(SetOption(s.name.c_str(), &text, sizeof text) == MV_OK);
    } else {
      FUZZ_EXPECT(SetOption(s.name.c_str(), s.bytes.data(), s.bytes.size()) == MV_OK);
    }
  }
}

size_t declaredSize(const std::string& name) {
  for (const Saved& s : g_defaults) {
    if (s.name == name) return s.is_string ? sizeof(mv::OptionString) : s.bytes.size();
  }
  return 0;
}

bool isString(const std::string& name) {
  for (const Saved& s : g_defaults) {
    if (s.name == name) return s.is_string;
  }
  return false;
}

bool startsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

const cv::Mat& searchImage() {
  static const cv::Mat image = [] {
    cv::Mat m(64, 64, CV_8UC3);
    cv::randu(m, cv::Scalar::all(0), cv::Scalar::all(255));
    return m;
  }();
  return image;
}

bool readAtEverySearch(const std::string& name) {
  static const char* const kKeys[] = {
      "pico.angle", "pico.maxdetections", "pico.scalefactor", "pico.stridefactor",
      "pico.qthreshold", "haar.face.scale_factor", "haar.face.min_neighbours",
      "haar.face.min_face.width", "haar.face.min_face.height"};
  for (const char* k : kKeys) {
    if (name == k) return true;
  }
  return false;
}

// Searches with the value just written. Options read at each search go
// through the entry point with the thread's cached models (releasing them
// would reload the landmark model at every input); those read when the
// detector is built get a detector of their own.
void searchWith(const std::string& name) {
  if (readAtEverySearch(name)) {
    mv::Face faces[4];
    size_t count = 4;
    const int rc = ExtractFaces(&searchImage(), faces, &count,
                                startsWith(name, "pico.") ? mv::FindPico : mv::FindLBP);
    FUZZ_EXPECT(rc == MV_OK || rc == MV_NO_FACE || rc == MV_LOAD_CASCADE ||
                rc == MV_INVALID_ARGS || rc == MV_EXCEPTION);
  } else if (startsWith(name, "pico.")) {
    try {
      PicoDetector detector;
      std::vector<cv::Rect> found;
      FUZZ_EXPECT(detector.detect(searchImage(), found) == found.size());
    } catch (const std::runtime_error& e) {
      // The exception documented for a "pico.path" that names no cascade.
      FUZZ_EXPECT(name == "pico.path" && std::string(e.what()) == "Can't open pico config");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::silenceLog();
  // The search image is taken as it is, not enlarged to the usual working
  // size: each search then takes milliseconds.
  int size = 64;
  FUZZ_EXPECT(SetOption("image.rescale_max", &size, sizeof size) == MV_OK);
  FUZZ_EXPECT(SetOption("image.rescale_min", &size, sizeof size) == MV_OK);
  saveDefaults();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t pick = data[0], mode = data[1];
  data += 2;
  size -= 2;

  std::string name;
  if (pick < 0xC0) {
    name = g_defaults[pick % g_defaults.size()].name;
  } else {
    const auto* end = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t n = end != nullptr ? size_t(end - data) : size;
    name.assign(reinterpret_cast<const char*>(data), n);
    data += n == size ? n : n + 1;
    size -= n == size ? n : n + 1;
  }
  const bool known = declaredSize(name) != 0;

  static const size_t kSizes[8] = {0, 1, 4, 8, 16, 32, 33, 64};
  const size_t buffer_size = (mode & 7) == 7 && known ? declaredSize(name) : kSizes[mode & 7];
  alignas(8) unsigned char buffer[64] = {};
  std::memcpy(buffer, data, std::min(size, sizeof buffer));
  const bool is_string_value = known && isString(name) && buffer_size == sizeof(mv::OptionString);
  if (is_string_value) {
    // The text is the rest of the input; a null text carries a fuzzed length.
    mv::OptionString text{};
    if (mode & 0x20) {
      text.text = nullptr;
      std::memcpy(&text.length, buffer, sizeof text.length);
    } else {
      text.text = reinterpret_cast<const char*>(data);
      text.length = size;
    }
    std::memcpy(buffer, &text, sizeof text);
  }
  void* arg = (mode & 0x08) ? nullptr : buffer;

  if (mode & 0x10) {
    const int rc = GetOption(name.c_str(), arg, buffer_size);
    if (rc == MV_OK) FUZZ_EXPECT(known && buffer_size >= declaredSize(name) && arg != nullptr);
    else FUZZ_EXPECT(rc == MV_INVALID_ARGS || rc == MV_PROPERTY_NAME || rc == MV_BUFFER_SIZE);
  } else {
    const int rc = SetOption(name.c_str(), arg, buffer_size);
    if (rc == MV_OK) {
      FUZZ_EXPECT(known && buffer_size == declaredSize(name));
      unsigned char back[sizeof(mv::OptionString)] = {};
      FUZZ_EXPECT(GetOption(name.c_str(), back, sizeof back) == MV_OK);
      if (is_string_value) {
        mv::OptionString written, read;
        std::memcpy(&written, buffer, sizeof written);
        std::memcpy(&read, back, sizeof read);
        FUZZ_EXPECT(read.length == written.length);
        FUZZ_EXPECT(written.length == 0 || std::memcmp(read.text, written.text, read.length) == 0);
      } else {
        FUZZ_EXPECT(std::memcmp(back, buffer, buffer_size) == 0);
      }
      if (mode & 0x80) searchWith(name);
    } else {
      FUZZ_EXPECT(rc == MV_INVALID_ARGS || rc == MV_PROPERTY_NAME || rc == MV_BUFFER_SIZE);
    }
  }
  restoreDefaults();
  return 0;
}
