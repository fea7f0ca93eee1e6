// FAISS parallelises with OpenMP over every core by default. The library's
// collection work takes at most two threads, so that a search or a build
// leaves the host's other threads their cores; the calling thread's own
// OpenMP setting is restored afterwards. In a child of fork() it takes
// one: OpenMP's threads stayed in the parent, and a team started from
// the copy of its pool waits for them for ever.
#ifndef MORVIK_COLLECTION_OMP_THREADS_H_
#define MORVIK_COLLECTION_OMP_THREADS_H_

// The two calls of the OpenMP runtime that FAISS links (libgomp), declared
// here so that compilers without GCC's omp.h build this file too.
extern "C" {
int omp_get_max_threads(void);
void omp_set_num_threads(int count);
}

#include "models/forked_child.h"

namespace morvik {

constexpr int kCollectionThreads = 2;

// One query runs on the calling thread alone: FAISS would otherwise start a
// team of threads for its one iteration, whose waiting spins cost more than
// the search.
class BoundedThreads {
 public:
  explicit BoundedThreads(int most = kCollectionThreads) : previous_(omp_get_max_threads()) {
    if (forkedChild()) most = 1;
    omp_set_num_threads(previous_ < most ? previous_ : most);
  }
  ~BoundedThreads() { omp_set_num_threads(previous_); }
  BoundedThreads(const BoundedThreads&) = delete;
  BoundedThreads& operator=(const BoundedThreads&) = delete;

 private:
  int previous_;
};

}  // namespace morvik

#endif  // MORVIK_COLLECTION_OMP_THREADS_H_
