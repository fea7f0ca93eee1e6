// morvik search: the indexed faces closest to the largest face of a photo.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "args.h"
#include "commands.h"
#include "finding.h"
#include "index_file.h"
#include "records.h"

namespace cli {
namespace {

constexpr long long kDefaultTop = 5;
constexpr double kSamePerson = 0.6;

struct Match {
  double distance;
  const IndexedFace* face;
};

}  // namespace

int runSearch(int argc, char** argv, int first) {
  ArgGrammar grammar{{"--top", "--algo"}, {}, 2, 2};
  Args args;
  uint8_t algo = 0;
  size_t max_faces = 0;
  long long top = kDefaultTop;
  Status status = parseFindingCommand(argc, argv, first, grammar, args, algo, max_faces);
  if (status.ok() && args.has("--top")) status = parseInteger(args.value("--top"), "--top", 1, 1000000, top);
  if (!status.ok()) {
    report("search", status);
    return exitStatus(status.code);
  }
  const std::string& index_path = args.positional[0];
  const std::string& photo = args.positional[1];
  IndexContents index;
  status = readIndex(index_path, index);
  if (!status.ok()) {
    report(index_path, status);
    return exitStatus(status.code);
  }
  if (index.damaged_lines > 0) {
    std::cerr << "morvik: " << index_path << ": skipped " << index.damaged_lines
              << " lines that are not index records\n";
  }
  std::vector<mv::Face> query_faces;
  std::vector<mv::FaceData> described;
  status = describePhoto(photo, algo, 1, query_faces, described);
  if (!status.ok()) {
    report(photo, status);
    return exitStatus(status.code);
  }
  const mv::Face& query = query_faces.front();
  const mv::FaceData& query_data = described.front();

  std::vector<Match> matches;
  for (const IndexedFace& face : index.faces) {
    Match match{0.0, &face};
    status = distance(query_data, face.data, match.distance);
    if (!status.ok()) {
      report(index_path, status);
      return exitStatus(status.code);
    }
    matches.push_back(match);
  }
  const size_t shown = std::min(matches.size(), static_cast<size_t>(top));
  std::partial_sort(matches.begin(), matches.begin() + shown, matches.end(),
                    [](const Match& a, const Match& b) { return a.distance < b.distance; });

  std::cout << photo << "  (largest face " << rectText(query.rect) << ") against " << index.faces.size()
            << " faces of " << index.photos << " photos\n";
  for (size_t i = 0; i < shown; ++i) {
    const Match& m = matches[i];
    char head[64];
    std::snprintf(head, sizeof(head), "%3zu  %.4f  ", i + 1, m.distance);
    std::cout << head << m.face->photo << "  face #" << m.face->face_number << " "
              << rectText(m.face->data.rect) << (m.distance < kSamePerson ? "  same person" : "") << "\n";
  }
  return 0;
}

}  // namespace cli
