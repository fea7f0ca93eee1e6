// morvik search: the indexed faces closest to the largest face of a photo,
// through the nearest-neighbour index beside the JSON lines.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "args.h"
#include "collection_index.h"
#include "commands.h"
#include "finding.h"
#include "records.h"

namespace cli {
namespace {

constexpr long long kDefaultTop = 5;
constexpr double kSamePerson = 0.6;

}  // namespace

int runSearch(int argc, char** argv, int first) {
  ArgGrammar grammar{{"--top", "--algo", "--threshold"}, {"--exact"}, 2, 2};
  Args args;
  Finders algo = 0;
  size_t max_faces = 0;
  long long top = kDefaultTop;
  double threshold = 0.0;
  Status status = parseFindingCommand(argc, argv, first, grammar, args, algo, max_faces);
  if (status.ok() && args.has("--top")) status = parseInteger(args.value("--top"), "--top", 1, 1000000, top);
  if (status.ok() && args.has("--threshold")) {
    status = parseReal(args.value("--threshold"), "--threshold", threshold);
    if (status.ok() && !(threshold > 0.0)) status = failure(MV_INVALID_ARGS, "--threshold must be above 0");
  }
  if (!status.ok()) {
    report("search", status);
    return exitStatus(status.code);
  }
  const std::string& index_path = args.positional[0];
  const std::string& photo = args.positional[1];
  Collection collection;
  status = openCollection(index_path, CollectionRequest{}, collection);
  if (!status.ok()) {
    report(index_path, status);
    return exitStatus(status.code);
  }
  if (collection.damaged_lines > 0) {
    std::cerr << "morvik: " << index_path << ": skipped " << collection.damaged_lines
              << " lines that are not index records\n";
  }
  std::vector<mv::FoundFace> query_faces;
  std::vector<mv::FaceData> described;
  status = describePhoto(photo, algo, 1, query_faces, described);
  if (!status.ok()) {
    report(photo, status);
    return exitStatus(status.code);
  }
  const mv::Face& query = query_faces.front().face;
  const mv::FaceData& query_data = described.front();

  const size_t wanted = static_cast<size_t>(top);
  std::vector<MvNeighbor> neighbors(wanted);
  size_t found = neighbors.size();
  const auto start = std::chrono::steady_clock::now();
  int rc = collection.faces.empty()
               ? MV_OK
               : MvIndexSearch(collection.index(), query_data.vector, wanted,
                               args.has("--exact") ? MV_SEARCH_EXACT : 0u, neighbors.data(), &found);
  const double query_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (collection.faces.empty()) found = 0;
  if (rc != MV_OK) {
    report(index_path, failure(rc, "search failed"));
    return exitStatus(rc);
  }
  std::vector<FaceAt> places;
  size_t shown = 0;
  for (; shown < found; ++shown) {
    if (args.has("--threshold") && !(neighbors[shown].distance < threshold)) break;
    places.push_back(collection.faces[neighbors[shown].id]);
  }
  std::vector<IndexedFace> faces;
  status = readFacesAt(index_path, places, faces);
  if (!status.ok()) {
    report(index_path, status);
    return exitStatus(status.code);
  }

  char timing[96];
  std::snprintf(timing, sizeof(timing), " (%s index, query %.2f ms)", structureName(collection).c_str(),
                query_ms);
  std::cout << photo << "  (largest face " << rectText(query.rect) << ") against " << collection.faces.size()
            << " faces of " << collection.photos << " photos" << timing << "\n";
  for (size_t i = 0; i < shown; ++i) {
    const double distance = neighbors[i].distance;
    char head[64];
    std::snprintf(head, sizeof(head), "%3zu  %.4f  ", i + 1, distance);
    std::cout << head << faces[i].photo << "  face #" << faces[i].face_number << " "
              << rectText(faces[i].data.rect) << (distance < kSamePerson ? "  same person" : "") << "\n";
  }
  return 0;
}

}  // namespace cli
