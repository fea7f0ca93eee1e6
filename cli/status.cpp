#include "status.h"

#include <cstdlib>
#include <iostream>

#include "morvik/morvik.h"
#include "morvik/morvik_c.h"

namespace cli {

std::string describe(const Status& status) {
  std::string text = GetResult(status.code);
  text += " (" + std::to_string(status.code) + ")";
  if (!status.detail.empty()) text += ": " + status.detail;
  return text;
}

void report(const std::string& subject, const Status& status) {
  std::cerr << "morvik: " << (subject.empty() ? "" : subject + ": ") << describe(status) << "\n";
}

namespace {
bool& verboseFlag() {
  static bool on = [] {
    const char* env = std::getenv("MORVIK_LOG");
    return env != nullptr && std::string(env) != "0";
  }();
  return on;
}
}  // namespace

bool verbose() { return verboseFlag(); }
void setVerbose(bool on) {
  verboseFlag() = on;
  MvSetLogging(on ? 1 : 0);
  // The Dask workers that `index --workers` starts log as this process does.
  setenv("MORVIK_LOG", on ? "1" : "0", 1);
}

int exitStatus(int code) {
  if (code == 0) return 0;
  const int magnitude = std::abs(code);
  return magnitude > 0 && magnitude < 126 ? magnitude : 125;
}

}  // namespace cli
