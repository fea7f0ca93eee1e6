// `morvik index --workers N` and `--scheduler ADDRESS`: the photos are handed
// to the Python package's Dask indexer (python3 -m morvik.dask), which writes
// the same records as the serial index and resumes an earlier run.
#ifndef MORVIK_TOOLS_DASK_INDEX_H_
#define MORVIK_TOOLS_DASK_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cli {

struct DaskIndexRequest {
  std::string out_path;
  long long workers = 0;  // a local cluster of this many processes, or
  std::string scheduler;  // the address of a running cluster
  uint32_t algo = 0;
  size_t max_faces = 0;
};

// Runs the indexer on `photos` and returns its exit status (that of the
// serial index: the first failure's, 0 when every photo was described).
int runDaskIndex(const std::vector<std::string>& photos, const DaskIndexRequest& request);

}  // namespace cli

#endif  // MORVIK_TOOLS_DASK_INDEX_H_
