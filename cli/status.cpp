#include "status.h"

#include <cstdlib>
#include <iostream>

#include "morvik/morvik.h"

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

int exitStatus(int code) {
  if (code == 0) return 0;
  const int magnitude = std::abs(code);
  return magnitude > 0 && magnitude < 126 ? magnitude : 125;
}

}  // namespace cli
