// One writer per index: a run that writes FILE.jsonl holds an exclusive
// lock on FILE.jsonl.lock for as long as it runs, so that a second run on
// the same file is refused at once instead of interleaving its records or
// renaming files from under the first. The Python indexer takes the same
// lock (morvik/dask.py).
#ifndef MORVIK_TOOLS_INDEX_LOCK_H_
#define MORVIK_TOOLS_INDEX_LOCK_H_

#include <string>

#include "status.h"

namespace cli {

class IndexLock {
 public:
  IndexLock() = default;
  // Unlinks the lock file and releases the lock.
  ~IndexLock();
  IndexLock(const IndexLock&) = delete;
  IndexLock& operator=(const IndexLock&) = delete;

  // -1 when another run holds the lock or the lock file cannot be made (a
  // symlink or anything but a regular file at its name is never used).
  Status acquire(const std::string& index_path);

 private:
  std::string path_;
  int fd_ = -1;
};

std::string indexLockPath(const std::string& index_path);

}  // namespace cli

#endif  // MORVIK_TOOLS_INDEX_LOCK_H_
