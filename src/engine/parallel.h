// Inference engine: what replaces dlib's and OpenCV's slow paths, one
// folder per kind of model, each opening with what it computes and
// guarantees: cnn/ the networks' layers (cnn/tiled_conv.h) and the YuNet face network
// (cnn/yunet.h), hog/ the HOG
// detector's own scan (hog/hog_detection.h), cascade/ the evaluator of
// OpenCV's stump cascades (cascade/cascade_detect.h); and the helper
// threads the calls share (this header).
// What it guarantees: the pyramid, the fused epilogues and the HOG scan's
// levels, features and scores are dlib's, bit for bit, and its detections
// box for box; the direct convolutions sum in another order than BLAS and
// may differ from dlib's in the last bits of a value, never with the number
// of threads; the cascade searches return OpenCV's rectangles in its
// single-threaded order. A call's work on helper threads is done before the
// call returns.
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
