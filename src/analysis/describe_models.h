// The two models that describing a face needs: the landmark model and the
// metric network. A thread's first description loads both, and loading
// them one after the other costs their sum; here they load side by side.
#ifndef MORVIK_DESCRIBE_MODELS_H_
#define MORVIK_DESCRIBE_MODELS_H_

#include <future>
#include <memory>
#include <string>

namespace morvik {

class LandmarkModel;
using LandmarkModelPtr = std::shared_ptr<const LandmarkModel>;

// A landmark model being loaded on a thread of its own.
struct LandmarkPrefetch {
  std::string path;                      // the file it comes from
  std::future<LandmarkModelPtr> model;  // empty when nothing was started
};

// Starts loading the configured landmark model on a thread of its own when
// the calling thread has none yet; otherwise, or when no thread can be
// started, starts nothing.
LandmarkPrefetch prefetchLandmarkModel();

// Waits for a prefetched landmark model and makes it the calling thread's,
// unless the thread got one meanwhile or the configured file changed. A
// failed prefetch is dropped: the thread's next use loads the model itself
// and reports the fault where it always did.
void adoptLandmarkModel(LandmarkPrefetch& prefetched);

// Loads both models for the calling thread, side by side, when it lacks
// either. Faults are not reported here but where each model is used, so a
// description fails as it would without this step.
void loadDescribeModels();

}  // namespace morvik

#endif  // MORVIK_DESCRIBE_MODELS_H_
