// morvik compare: are the largest faces of two photos the same person?
#include <cstdio>
#include <iostream>
#include <string>

#include "args.h"
#include "commands.h"
#include "finding.h"
#include "json.h"
#include "records.h"

namespace cli {
namespace {

constexpr double kDefaultThreshold = 0.6;

std::string fixed(double value, int decimals) {
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "%.*f", decimals, value);
  return buffer;
}

}  // namespace

int runCompare(int argc, char** argv, int first) {
  ArgSpec spec{{"--algo", "--threshold"}, {}, 2, 2};
  Args args;
  uint8_t algo = 0;
  size_t max_faces = 0;
  double threshold = kDefaultThreshold;
  Status status = parseArgs(argc, argv, first, spec, args);
  if (status.ok()) status = parseFinding(args, algo, max_faces);
  if (status.ok() && args.has("--threshold")) {
    status = parseReal(args.value("--threshold"), "--threshold", threshold);
    if (status.ok() && threshold <= 0.0) {
      status = failure(MV_INVALID_ARGS, "--threshold must be above 0");
    }
  }
  if (!status.ok()) {
    report("compare", status);
    return exitStatus(status.code);
  }

  mv::Face faces[2];
  mv::FaceData data[2];
  for (int i = 0; i < 2; ++i) {
    status = describeLargest(args.positional[i], algo, faces[i], data[i]);
    if (!status.ok()) {
      report(args.positional[i], status);
      return exitStatus(status.code);
    }
  }
  double d = 0.0;
  status = distance(data[0], data[1], d);
  if (!status.ok()) {
    report("compare", status);
    return exitStatus(status.code);
  }
  for (int i = 0; i < 2; ++i) {
    std::cout << (i == 0 ? "A: " : "B: ") << args.positional[i] << "  (largest face "
              << rectText(faces[i].rect) << ")\n";
  }
  const bool same = d < threshold;
  std::cout << "distance " << fixed(d, 4) << (same ? " < " : " >= ") << shortest(threshold) << ": "
            << (same ? "same person" : "different people") << "\n";
  return 0;
}

}  // namespace cli
