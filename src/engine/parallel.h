// Inference engine: what replaces dlib's slow paths. The networks'
// convolutions (tiled_conv; direct_conv for the CNN detector,
// filter_lane_conv for the descriptor network), their fused batch-norm and
// relu epilogues, the CNN detector's image pyramid (pyramid_input), the
// scratch memory the convolutions keep per thread (conv_scratch), the
// YuNet face network (yunet: its own kernels, same bits on any thread
// count and instruction set), the HOG
// detector's own scan (hog_pyramid, hog_features, hog_filters,
// hog_detection), and the helper threads the calls share (this header).
// What it guarantees: the pyramid, the fused epilogues and the HOG scan's
// levels, features and scores are dlib's, bit for bit, and its detections
// box for box; the direct convolutions sum in another order than BLAS and
// may differ from dlib's in the last bits of a value, never with the number
// of threads. A call's work on helper threads is done before the call
// returns.
//
// The work of one call spread over a few threads: the networks'
// convolutions and the HOG scan's levels.
#ifndef MORVIK_PARALLEL_H_
#define MORVIK_PARALLEL_H_

#include <functional>

namespace morvik {

// How many threads one call may use: as many as the host allows OpenBLAS
// (OPENBLAS_NUM_THREADS, openblas_set_num_threads), so that one setting
// governs all of the library's threads; one per core without OpenBLAS. One
// while analyses run on more than one thread: they keep the cores busy.
int callThreads();

// Runs task(i, worker) for every i in [0, count), on the calling thread
// and up to threads - 1 helpers, taking the tasks in order from a shared
// counter. worker (0 for the calling thread, below `threads`) names the
// thread that runs a task, so that each can keep scratch memory of its own.
// The helpers are the process's (at most one per core but one), lent to
// the call while it runs; the calling thread runs every task that no idle
// helper takes. The first exception a task throws is rethrown once all
// threads have stopped.
void parallelFor(long count, int threads, const std::function<void(long task, int worker)>& task);

// An analysis (an image from loading to results) starts and ends on the
// calling thread; callThreads() counts them.
void enterAnalysis();
void leaveAnalysis();

}  // namespace morvik

#endif  // MORVIK_PARALLEL_H_
