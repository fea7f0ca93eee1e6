// morvik cluster: groups the indexed faces by person, writes the groups as
// clusters.json and a contact sheet of each.
#include <unistd.h>

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
#include "contact_sheet.h"
#include "files/atomic_file.h"
#include "json.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

constexpr double kDefaultThreshold = 0.5;

// One status line on a terminal, a line per tenth otherwise (logs).
struct Progress {
  const char* stage;
  bool terminal = isatty(STDERR_FILENO) == 1;
  uint64_t last_tenth = 0;

  static void call(void* self, uint64_t done, uint64_t total) {
    static_cast<Progress*>(self)->show(done, total);
  }
  void show(uint64_t done, uint64_t total) {
    if (!terminal && !verbose()) return;
    const uint64_t tenth = total == 0 ? 10 : done * 10 / total;
    if (terminal) {
      std::fprintf(stderr, "\r\033[K%s [%llu/%llu]", stage, static_cast<unsigned long long>(done),
                   static_cast<unsigned long long>(total));
    } else if (tenth != last_tenth || done == total) {
      std::fprintf(stderr, "%s [%llu/%llu]\n", stage, static_cast<unsigned long long>(done),
                   static_cast<unsigned long long>(total));
    }
    last_tenth = tenth;
    std::fflush(stderr);
  }
  void finish() {
    if (terminal) std::fputs("\r\033[K", stderr);
  }
};

std::string clustersJson(const std::vector<std::vector<IndexedFace>>& clusters) {
  std::string out = "[\n";
  for (size_t c = 0; c < clusters.size(); ++c) {
    Json json;
    json.beginObject().key("faces").beginArray();
    for (const IndexedFace& face : clusters[c]) {
      const mv::Rectangle& r = face.data.rect;
      json.beginObject().key("photo").value(face.photo).key("box").beginArray();
      json.value(r.x).value(r.y).value(r.w).value(r.h).endArray().endObject();
    }
    json.endArray().endObject();
    out += "  " + json.text() + (c + 1 < clusters.size() ? ",\n" : "\n");
  }
  return out + "]\n";
}

// Photos moved or deleted since they were indexed show as grey tiles on
// the contact sheets: say which.
void reportMissing(const std::vector<IndexedFace>& faces) {
  std::set<std::string> missing;
  std::error_code ec;
  for (const IndexedFace& face : faces) {
    if (!fs::exists(face.photo, ec)) missing.insert(face.photo);
  }
  for (const std::string& photo : missing) {
    std::cerr << "morvik: " << photo << ": indexed photo missing (moved or deleted since it was indexed); "
              << "its faces are grey tiles\n";
  }
}

std::string sheetName(size_t cluster) {
  char name[32];
  std::snprintf(name, sizeof(name), "cluster_%04zu.png", cluster + 1);
  return name;
}

}  // namespace

int runCluster(int argc, char** argv, int first) {
  ArgGrammar grammar{{"--out", "--threshold"}, {}, 1, 1};
  Args args;
  Status status = parseArgs(argc, argv, first, grammar, args);
  double threshold = kDefaultThreshold;
  if (status.ok() && args.value("--out").empty()) status = failure(MV_INVALID_ARGS, "--out DIR is required");
  if (status.ok() && args.has("--threshold")) {
    status = parseReal(args.value("--threshold"), "--threshold", threshold);
    if (status.ok() && !(threshold > 0.0)) status = failure(MV_INVALID_ARGS, "--threshold must be above 0");
  }
  if (!status.ok()) {
    report("cluster", status);
    return exitStatus(status.code);
  }
  const std::string& index_path = args.positional[0];
  status = checkIndexFile(index_path);
  if (!status.ok()) {
    report(index_path, status);
    return exitStatus(status.code);
  }
  const fs::path out_dir = args.value("--out");
  std::error_code ec;
  fs::create_directories(out_dir, ec);
  if (ec || !fs::is_directory(out_dir, ec)) {
    report(out_dir.string(), failure(MV_INVALID_ARGS, "cannot create the folder"));
    return exitStatus(MV_INVALID_ARGS);
  }
  Collection collection;
  status = openCollection(index_path, CollectionRequest{}, collection);
  if (!status.ok()) {
    report(index_path, status);
    return exitStatus(status.code);
  }

  const size_t n = collection.faces.size();
  std::vector<uint32_t> labels(n);
  size_t groups = 0;
  Progress pairs{"finding pairs of faces"};
  const int rc = MvIndexCluster(collection.index(), threshold, labels.data(), labels.size(), &groups,
                                &Progress::call, &pairs);
  pairs.finish();
  if (rc != MV_OK) {
    report(index_path, failure(rc, "clustering failed"));
    return exitStatus(rc);
  }
  std::vector<IndexedFace> faces;
  status = readFacesAt(index_path, collection.faces, faces);
  if (!status.ok()) {
    report(index_path, status);
    return exitStatus(status.code);
  }
  reportMissing(faces);
  warnMixedDescriptions(index_path, faces, nullptr);
  std::vector<std::vector<IndexedFace>> clusters(groups);
  for (size_t i = 0; i < n; ++i) clusters[labels[i]].push_back(std::move(faces[i]));

  const fs::path json_path = out_dir / "clusters.json";
  {
    const std::string json = clustersJson(clusters);
    std::string error;
    if (!morvik::writeFileAtomically(json_path.string(), json.data(), json.size(), error)) {
      report(json_path.string(), failure(MV_INVALID_ARGS, "cannot write the clusters: " + error));
      return exitStatus(MV_INVALID_ARGS);
    }
  }
  Progress sheets{"writing contact sheets"};
  int first_failure = 0;
  for (size_t c = 0; c < clusters.size(); ++c) {
    const std::string title = "cluster " + std::to_string(c + 1) + ": " + std::to_string(clusters[c].size()) +
                              (clusters[c].size() == 1 ? " face" : " faces");
    status = writeContactSheet((out_dir / sheetName(c)).string(), title, clusters[c]);
    if (!status.ok()) {
      sheets.finish();
      report(out_dir.string(), status);
      if (first_failure == 0) first_failure = status.code;
    }
    sheets.show(c + 1, clusters.size());
  }
  sheets.finish();
  std::printf("%s: %zu faces in %zu clusters (threshold %g, %s index); %s and %zu contact sheets in %s\n",
              index_path.c_str(), n, groups, threshold, structureName(collection).c_str(), "clusters.json",
              clusters.size(), out_dir.string().c_str());
  return exitStatus(first_failure);
}

}  // namespace cli
