// JSON text for the option store, as a file and as inline text: a document
// is either loaded or refused with the parser's error, and in both cases
// the store stays whole and usable.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <boost/property_tree/ptree.hpp>

#include "fuzz_support.h"
#include "morvik/config.h"
#include "morvik/morvik.h"

namespace {

// Every option's value as bytes (strings by their text).
std::vector<std::string> snapshot(const GCONFIG_MORVIK& store) {
  std::vector<std::string> values;
  for (const auto& p : store.properties()) {
    unsigned char buffer[32] = {};
    FUZZ_EXPECT(store.read(p.name, buffer, sizeof buffer) == MV_OK);
    if (p.size == sizeof(mv::OptionString)) {
      mv::OptionString s;
      std::memcpy(&s, buffer, sizeof s);
      FUZZ_EXPECT(s.text != nullptr && std::strlen(s.text) == s.length);
      values.emplace_back(s.text, s.length);
    } else {
      values.emplace_back(reinterpret_cast<const char*>(buffer), p.size);
    }
  }
  return values;
}

// Writes every value back by key: each must be accepted as it was read.
void rewriteAll(GCONFIG_MORVIK& store) {
  for (const auto& p : store.properties()) {
    unsigned char buffer[32] = {};
    FUZZ_EXPECT(store.read(p.name, buffer, sizeof buffer) == MV_OK);
    FUZZ_EXPECT(store.write(p.name, buffer, p.size) == MV_OK);
  }
}

void loadChecked(GCONFIG_MORVIK& store, const std::string& source, bool quiet) {
  const std::vector<std::string> before = snapshot(store);
  try {
    store.load(source, quiet);
  } catch (const boost::property_tree::ptree_error&) {
    // A refused document changes nothing.
    FUZZ_EXPECT(snapshot(store) == before);
  }
  FUZZ_EXPECT(store.properties().size() == 55);
  rewriteAll(store);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::silenceLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A store of its own, so that every input starts from the defaults.
  GCONFIG_MORVIK store("{}");
  const bool quiet = size % 2 == 0;  // the log path formats every value
  loadChecked(store, fuzz_support::writeScratch("config", data, size), quiet);

  // Text with a brace is taken as the document itself.
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (text.find('{') != std::string::npos) loadChecked(store, text, quiet);
  return 0;
}
