// morvik index: describes every photo under a folder into a JSON-lines index.
#include <unistd.h>

#include <algorithm>
#include <cctype>
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
#include "dask_index.h"
#include "finding.h"
#include "index_lock.h"
#include "index_resume.h"
#include "records.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

bool looksLikePhoto(const fs::path& path) {
  static const std::set<std::string> extensions = {".jpg", ".jpeg", ".png", ".bmp", ".tif",
                                                   ".tiff", ".webp", ".pgm", ".ppm", ".pnm"};
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return extensions.count(ext) > 0;
}

// Photos under `dir` in a stable order, so that two runs give the same index.
Status listPhotos(const std::string& dir, std::vector<std::string>& photos) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return failure(MV_INVALID_ARGS, "not a folder");
  // Absolute paths, so that search and cluster find the photos from any
  // working folder.
  fs::recursive_directory_iterator it(fs::absolute(dir, ec).lexically_normal(),
                                      fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file(ec) && looksLikePhoto(it->path())) photos.push_back(it->path().string());
  }
  if (ec) return failure(MV_INVALID_ARGS, "cannot list the folder: " + ec.message());
  std::sort(photos.begin(), photos.end());
  return okStatus();
}

// One status line on a terminal, one line per photo otherwise (logs).
class Progress {
 public:
  explicit Progress(size_t total) : total_(total), terminal_(isatty(STDERR_FILENO) == 1) {}
  void show(size_t done, const std::string& photo) {
    if (!terminal_ && !verbose()) return;
    std::fprintf(stderr, terminal_ ? "\r\033[K[%zu/%zu] %s" : "[%zu/%zu] %s\n", done, total_, photo.c_str());
    std::fflush(stderr);
  }
  void finish() {
    if (terminal_) std::fputs("\r\033[K", stderr);
  }

 private:
  size_t total_;
  bool terminal_;
};

// --workers N or --scheduler ADDRESS: the index is made over Dask.
Status parseDask(const Args& args, DaskIndexRequest& request) {
  if (args.has("--workers") && args.has("--scheduler")) {
    return failure(MV_INVALID_ARGS, "--workers and --scheduler exclude each other");
  }
  if (args.has("--scheduler")) {
    request.scheduler = args.value("--scheduler");
    return request.scheduler.empty() ? failure(MV_INVALID_ARGS, "--scheduler needs an address") : okStatus();
  }
  if (!args.has("--workers")) return okStatus();
  return parseInteger(args.value("--workers"), "--workers", 1, 1024, request.workers);
}

// The nearest-neighbour index beside the JSON lines, built or extended.
Status buildSearchIndex(const std::string& out_path, bool exact) {
  Collection collection;
  Status status = openCollection(out_path, CollectionRequest{exact ? MV_INDEX_EXACT : MV_INDEX_AUTO, true},
                                 collection);
  if (status.ok()) {
    std::printf("%s: %zu faces, %s index\n", collectionIndexPath(out_path).c_str(), collection.faces.size(),
                structureName(collection).c_str());
  }
  return status;
}

}  // namespace

int runIndex(int argc, char** argv, int first) {
  ArgGrammar grammar{{"--out", "--algo", "--max", "--workers", "--scheduler"}, {"--exact"}, 1, 1};
  Args args;
  Finders algo = 0;
  size_t max_faces = 0;
  Status status = parseFindingCommand(argc, argv, first, grammar, args, algo, max_faces);
  if (status.ok() && args.value("--out").empty()) status = failure(MV_INVALID_ARGS, "--out FILE is required");
  DaskIndexRequest dask;
  if (status.ok()) status = parseDask(args, dask);
  if (!status.ok()) {
    report("index", status);
    return exitStatus(status.code);
  }
  const std::string& dir = args.positional[0];
  const std::string out_path = args.value("--out");
  std::vector<std::string> photos;
  status = listPhotos(dir, photos);
  if (!status.ok()) {
    report(dir, status);
    return exitStatus(status.code);
  }
  if (dask.workers > 0 || !dask.scheduler.empty()) {
    IndexOutput output;
    status = checkIndexOutput(out_path, photos, output);
    if (!status.ok()) {
      report(out_path, status);
      return exitStatus(status.code);
    }
    dask.out_path = out_path;
    dask.algo = algo;
    dask.max_faces = max_faces;
    const int dask_exit = runDaskIndex(photos, dask);
    // Photos that failed are records like any other: the search index
    // follows whatever lines the run left.
    std::error_code ec;
    if (!fs::exists(out_path, ec)) return dask_exit;
    status = buildSearchIndex(out_path, args.has("--exact"));
    if (!status.ok()) {
      report(collectionIndexPath(out_path), status);
      return exitStatus(status.code);
    }
    return dask_exit;
  }
  // Checked before the lock is taken, so that a refused --out leaves no
  // lock file either; read again once no other run can be writing it.
  IndexOutput output;
  status = checkIndexOutput(out_path, photos, output);
  IndexLock lock;
  if (status.ok()) status = lock.acquire(out_path);
  if (status.ok()) {
    output = IndexOutput{};
    status = checkIndexOutput(out_path, photos, output);
  }
  morvik::FileDescriptor out;
  if (status.ok()) status = openForAppend(out_path, output, out);
  if (!status.ok()) {
    report(out_path, status);
    return exitStatus(status.code);
  }
  std::vector<std::string> todo;
  std::set<std::string> seen;
  for (const std::string& photo : photos) {
    if (output.described.count(photo) == 0 && seen.insert(photo).second) todo.push_back(photo);
  }

  const auto start = std::chrono::steady_clock::now();
  Progress progress(todo.size());
  const DescribedBy by = describedNow(algo);
  size_t face_count = 0, failures = 0;
  int first_failure = 0;
  bool written = true;
  for (size_t i = 0; i < todo.size() && written; ++i) {
    progress.show(i + 1, todo[i]);
    std::vector<mv::FoundFace> faces;
    std::vector<mv::FaceData> data;
    status = describePhoto(todo[i], algo, max_faces, faces, data);
    if (status.ok() || status.code == MV_NO_FACE) {
      written = appendRecord(out.get(), photoRecord(todo[i], faces, &data, &by));
      face_count += data.size();
      continue;
    }
    progress.finish();
    report(todo[i], status);
    written = appendRecord(out.get(), errorRecord(todo[i], status));
    ++failures;
    if (first_failure == 0) first_failure = status.code;
  }
  progress.finish();
  if (!written || ::close(out.release()) != 0) {
    report(out_path, failure(MV_INVALID_ARGS, "cannot write the index"));
    return exitStatus(MV_INVALID_ARGS);
  }
  // A resumed file has its new records after the old ones.
  if (!output.existing.records.empty() && !todo.empty()) {
    status = putInOrder(out_path, photos);
    if (!status.ok()) {
      report(out_path, status);
      return exitStatus(status.code);
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s: %zu photos, %zu faces, %zu failures, %.1f s (%zu already indexed)\n", out_path.c_str(),
              photos.size(), face_count, failures, seconds, photos.size() - todo.size());
  status = buildSearchIndex(out_path, args.has("--exact"));
  if (!status.ok()) {
    report(collectionIndexPath(out_path), status);
    return exitStatus(status.code);
  }
  return exitStatus(first_failure);
}

}  // namespace cli
