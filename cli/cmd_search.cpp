// morvik search: the indexed faces closest to the largest face of a photo,
// through the nearest-neighbour index beside the JSON lines.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "args.h"
#include "collection_index.h"
#include "commands.h"
#include "index_check.h"
#include "finding.h"
#include "json.h"
#include "records.h"

namespace cli {
namespace {

constexpr long long kDefaultTop = 5;
constexpr double kSamePerson = 0.6;

struct Match {
  double distance;
  IndexedFace face;
};

struct SearchResult {
  std::string photo;
  mv::Rectangle query;
  size_t indexed_faces;
  size_t indexed_photos;
  std::vector<Match> matches;
};

bool photoExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

void printSearch(const SearchResult& r, const std::string& structure, double query_ms) {
  char timing[96];
  std::snprintf(timing, sizeof(timing), " (%s index, query %.2f ms)", structure.c_str(), query_ms);
  std::cout << r.photo << "  (largest face " << rectText(r.query) << ") against " << r.indexed_faces
            << " faces of " << r.indexed_photos << " photos" << timing << "\n";
  for (size_t i = 0; i < r.matches.size(); ++i) {
    const Match& m = r.matches[i];
    char head[64];
    std::snprintf(head, sizeof(head), "%3zu  %.4f  ", i + 1, m.distance);
    std::cout << head << m.face.photo << "  face #" << m.face.face_number << " " << rectText(m.face.data.rect)
              << (m.distance < kSamePerson ? "  same person" : "")
              << (photoExists(m.face.photo) ? "" : "  (photo missing)") << "\n";
  }
}

void writeRect(Json& json, const mv::Rectangle& r) {
  json.beginObject().key("x").value(r.x).key("y").value(r.y).key("w").value(r.w).key("h").value(r.h);
  json.endObject();
}

std::string searchJson(const SearchResult& r) {
  Json json;
  json.beginObject().key("photo").value(r.photo).key("rect");
  writeRect(json, r.query);
  json.key("indexed_faces").value(static_cast<int64_t>(r.indexed_faces));
  json.key("indexed_photos").value(static_cast<int64_t>(r.indexed_photos));
  json.key("matches").beginArray();
  for (const Match& m : r.matches) {
    json.beginObject().key("distance").value(m.distance).key("photo").value(m.face.photo);
    json.key("face").value(static_cast<int64_t>(m.face.face_number)).key("rect");
    writeRect(json, m.face.data.rect);
    json.key("same_person").value(m.distance < kSamePerson);
    json.key("missing").value(!photoExists(m.face.photo));
    json.endObject();
  }
  json.endArray().endObject();
  return json.text();
}

// Photos moved or deleted since they were indexed, named once each.
void reportMissing(const SearchResult& r) {
  std::set<std::string> missing;
  for (const Match& m : r.matches) {
    if (!photoExists(m.face.photo)) missing.insert(m.face.photo);
  }
  for (const std::string& photo : missing) {
    std::cerr << "morvik: " << photo << ": indexed photo missing (moved or deleted since it was indexed)\n";
  }
}

}  // namespace

int runSearch(int argc, char** argv, int first) {
  ArgGrammar grammar{{"--top", "--algo", "--threshold"}, {"--exact", "--json"}, 2, 2};
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
  status = checkIndexFile(index_path);
  if (!status.ok()) {
    report(index_path, status);
    return exitStatus(status.code);
  }
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
    // The library answers only with ids it holds, and the face table has
    // one entry per id; an answer past it is a fault, never a read.
    if (neighbors[shown].id >= collection.faces.size()) {
      report(index_path, failure(MV_EXCEPTION, "the index answered with a face it does not hold"));
      return exitStatus(MV_EXCEPTION);
    }
    places.push_back(collection.faces[neighbors[shown].id]);
  }
  std::vector<IndexedFace> faces;
  status = readFacesAt(index_path, places, faces);
  if (!status.ok()) {
    report(index_path, status);
    return exitStatus(status.code);
  }

  const DescribedBy query_by = describedNow(algo);
  warnMixedDescriptions(index_path, faces, &query_by);

  SearchResult result{photo, query.rect, collection.faces.size(), collection.photos, {}};
  for (size_t i = 0; i < shown; ++i) result.matches.push_back({neighbors[i].distance, std::move(faces[i])});
  if (args.has("--json")) {
    std::cout << searchJson(result) << "\n";
  } else {
    printSearch(result, structureName(collection), query_ms);
  }
  reportMissing(result);
  return 0;
}

}  // namespace cli
