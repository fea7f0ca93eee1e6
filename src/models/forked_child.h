// Whether this process is a child of fork() made after the library was
// loaded. Such a child has only the thread that forked: pools of threads
// started before (OpenMP's, the library's helpers) did not come along, and
// work that would hand tasks to them must run on the calling thread.
#ifndef MORVIK_MODELS_FORKED_CHILD_H_
#define MORVIK_MODELS_FORKED_CHILD_H_

namespace morvik {

bool forkedChild();

}  // namespace morvik

#endif  // MORVIK_MODELS_FORKED_CHILD_H_
