// The YuNet face network: one pass over the whole image at its own size,
// faces with a score and five points.
//
// A small depthwise-separable network (53,104 weights) whose heads at
// strides 8, 16 and 32 give, for every cell of their maps, a face score, a
// box and five points relative to the cell's corner. Its model file is read
// by parseYunetModel (yunet_model.h holds the layout); the network runs on
// the library's own kernels (yunet_kernels.h), portable or AVX2 or AVX-512,
// which compute every value as the same chain of fused multiply-adds, so
// that the three give the same bits, on any number of threads.
#ifndef MORVIK_YUNET_H_
#define MORVIK_YUNET_H_

#include <cstddef>
#include <memory>
#include <vector>

#include <opencv2/core.hpp>

namespace morvik {

struct YunetFace {
  float x1, y1, x2, y2;  // box corners, pixels of the image given, not clipped
  float score;           // 0..1: sqrt(sigmoid(cls) * sigmoid(obj))
  float points[10];      // x,y of: eye on the image's left, eye on the image's right, nose tip, mouth left, mouth right
};

// Immutable parsed weights; safe to share between threads.
class YunetNetwork;

// Parses the bytes of a model file; checks every field (magic, version,
// counts, names, layer index, role, flags, dtype, dimensions, offsets,
// element counts, alignment, bounds) against the network's layer table and
// refuses weights that are not finite. Returns 0, or MV_LOAD_CASCADE for a
// damaged or foreign file (out untouched then).
int parseYunetModel(const unsigned char* bytes, size_t size, std::shared_ptr<const YunetNetwork>& out);

// The instruction sets the kernels come in.
enum class YunetIsa { kPortable, kAvx2, kAvx512 };

// The widest this processor runs; whether it runs `isa`.
YunetIsa bestYunetIsa();
bool yunetIsaServed(YunetIsa isa);

// The candidate rules: the most candidates the suppression sees, the
// overlap above which a candidate is dropped, the most faces kept.
constexpr size_t kYunetMaxCandidates = 1000;
constexpr float kYunetNmsIou = 0.45f;
constexpr size_t kYunetMaxFaces = 512;

// Runs the network on an 8-bit 3-channel BGR image at its own size,
// decodes, keeps score >= min_score, sorts (stable), keeps the first 1000,
// suppresses overlaps above IoU 0.45 greedily, keeps at most 512; appends
// to `faces` in score order. Returns 0 (also when no face), or
// MV_INVALID_ARGS for an unusable image (empty, not CV_8UC3).
int detectYunetFaces(const YunetNetwork& net, const cv::Mat& bgr, float min_score, std::vector<YunetFace>& faces);

// The same on at most `threads` threads (0: callThreads()) with the
// kernels of `isa` (refused with MV_NOT_SUPPORTED when the processor lacks
// it): tests and benchmarks compare them.
int detectYunetFaces(const YunetNetwork& net, const cv::Mat& bgr, float min_score, std::vector<YunetFace>& faces,
                     int threads, YunetIsa isa);

// Multiply-adds of one pass over an image of rows x cols pixels (after
// padding to multiples of 32): the work the benchmarks measure against.
double yunetMultiplyAdds(long rows, long cols);

// Drops the calling thread's scratch memory.
void releaseYunetScratch();

}  // namespace morvik

#endif  // MORVIK_YUNET_H_
