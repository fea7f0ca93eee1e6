// How the serial `morvik index` writes its JSON lines without ever losing
// what the file holds: records are appended as photos are described (an
// interrupted run keeps every record it wrote), a re-run describes only
// the photos without a record (failed photos are tried again), and the
// file is put in the order of the photos at the end by an atomic rewrite,
// as the Dask indexer does.
#ifndef MORVIK_TOOLS_INDEX_RESUME_H_
#define MORVIK_TOOLS_INDEX_RESUME_H_

#include <set>
#include <string>
#include <vector>

#include "files/regular_file.h"
#include "photo_records.h"
#include "status.h"

namespace cli {

struct IndexOutput {
  bool exists = false;
  RecordLines existing;
  std::set<std::string> described;  // photos with a record that needs no second look
};

// -1, with nothing written, when `out` is anything but a regular file,
// names one of `photos`, or has bytes but no index record.
Status checkIndexOutput(const std::string& out, const std::vector<std::string>& photos, IndexOutput& output);

// `out` open for appending (created when missing), with an unfinished last
// line ended first so that the next record starts a line of its own.
Status openForAppend(const std::string& out, const IndexOutput& output, morvik::FileDescriptor& file);

// The record and its newline in one write.
bool appendRecord(int fd, const std::string& record);

// The file rewritten with the last record of each of `photos` in their
// order, then the records of other photos as they were.
Status putInOrder(const std::string& out, const std::vector<std::string>& photos);

}  // namespace cli

#endif  // MORVIK_TOOLS_INDEX_RESUME_H_
