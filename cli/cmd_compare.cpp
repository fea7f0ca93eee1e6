// morvik compare: are the largest faces of two photos the same person?
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

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

void writeFace(Json& json, const char* key, const std::string& photo, const mv::Rectangle& r) {
  json.key(key).beginObject().key("photo").value(photo).key("rect").beginObject();
  json.key("x").value(r.x).key("y").value(r.y).key("w").value(r.w).key("h").value(r.h);
  json.endObject().endObject();
}

// {"a": {"photo", "rect"}, "b": {...}, "distance", "threshold", "same_person"}
std::string compareJson(const std::vector<std::string>& photos, const mv::Rectangle& a, const mv::Rectangle& b,
                        double distance, double threshold) {
  Json json;
  json.beginObject();
  writeFace(json, "a", photos[0], a);
  writeFace(json, "b", photos[1], b);
  json.key("distance").value(distance).key("threshold").value(threshold);
  json.key("same_person").value(distance < threshold).endObject();
  return json.text();
}

}  // namespace

int runCompare(int argc, char** argv, int first) {
  ArgGrammar grammar{{"--algo", "--threshold"}, {"--best", "--json"}, 2, 2};
  Args args;
  Finders algo = 0;
  size_t max_faces = 0;
  double threshold = kDefaultThreshold;
  Status status = parseFindingCommand(argc, argv, first, grammar, args, algo, max_faces);
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

  // A's largest face against B's largest face, or with --best against the
  // closest of all B's faces.
  const bool best = args.has("--best");
  std::vector<mv::FoundFace> faces[2];
  std::vector<mv::FaceData> data[2];
  for (int i = 0; i < 2; ++i) {
    status = describePhoto(args.positional[i], algo, i == 1 && best ? max_faces : 1, faces[i], data[i]);
    if (!status.ok()) {
      report(args.positional[i], status);
      return exitStatus(status.code);
    }
  }
  size_t closest = 0;
  double d = 0.0;
  for (size_t j = 0; j < data[1].size(); ++j) {
    double candidate = 0.0;
    status = distance(data[0].front(), data[1][j], candidate);
    if (!status.ok()) {
      report("compare", status);
      return exitStatus(status.code);
    }
    if (j == 0 || candidate < d) {
      d = candidate;
      closest = j;
    }
  }
  const bool same = d < threshold;
  if (args.has("--json")) {
    std::cout << compareJson(args.positional, faces[0].front().face.rect, faces[1][closest].face.rect, d, threshold) << "\n";
    return 0;
  }
  std::cout << "A: " << args.positional[0] << "  (largest face " << rectText(faces[0].front().face.rect)
            << ")\n";
  std::cout << "B: " << args.positional[1] << "  (";
  if (best) {
    std::cout << "closest of " << faces[1].size() << (faces[1].size() == 1 ? " face: #" : " faces: #")
              << closest + 1 << " ";
  } else {
    std::cout << "largest face ";
  }
  std::cout << rectText(faces[1][closest].face.rect) << ")\n";
  std::cout << "distance " << fixed(d, 4) << (same ? " < " : " >= ") << shortest(threshold) << ": "
            << (same ? "same person" : "different people") << "\n";
  return 0;
}

}  // namespace cli
