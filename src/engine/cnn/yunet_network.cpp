// One pass of the YuNet network over an image, then its faces; see yunet.h.
//
// The front (image to C3, yunet_front.h) runs a row at a time; the layers
// after it work on whole maps, which are small from stride 8 on, their
// rows spread over the helper threads. Every output is computed the same
// way whichever thread computes it.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "check.h"
#include "engine/cnn/yunet.h"
#include "engine/cnn/yunet_front.h"
#include "engine/cnn/yunet_heads.h"
#include "engine/cnn/yunet_kernels.h"
#include "engine/cnn/yunet_map.h"
#include "engine/cnn/yunet_model.h"
#include "engine/parallel.h"
#include "morvik/morvik.h"

namespace morvik {
namespace {

// The image is padded to a multiple of the coarsest stride.
constexpr long kAlign = 32;
constexpr int kStrides[kYunetLevels] = {8, 16, 32};
// Multiply-adds of a task: enough work to pay for handing it over.
constexpr long kMinTaskWork = 1 << 17;
// Scratch memory kept between calls, at most: a huge image's maps are
// freed once its faces are found.
constexpr size_t kKeptScratchBytes = size_t{64} << 20;

long alignUp(long n) { return (n + kAlign - 1) / kAlign * kAlign; }

// The calling thread's maps, kept between calls.
struct Scratch {
  YunetMap c3, c4, a, b, tmp, n4, n5, level;
  std::vector<YunetFloats> rings;

  size_t bytes() const {
    size_t total = 0;
    for (const YunetMap* m : {&c3, &c4, &a, &b, &tmp, &n4, &n5, &level}) total += m->bytes();
    for (const auto& r : rings) total += r.capacity() * sizeof(float);
    return total;
  }
};

thread_local Scratch t_scratch;

class Pass {
 public:
  Pass(const YunetNetwork& net, const YunetKernels& kernels, int threads, Scratch& scratch)
      : net_(net), k_(kernels), threads_(threads), s_(scratch) {}

  void run(const cv::Mat& bgr, float min_score, std::vector<YunetFace>& faces);

 private:
  template <typename Row>
  void forRows(long rows, long work_per_row, const Row& row) const;
  void block(const YunetMap& in, const YunetBlock& b, YunetMap& out);
  void pool(const YunetMap& in, YunetMap& out) const;
  void upsampleAdd(const YunetMap& coarse, YunetMap& fine) const;

  const YunetNetwork& net_;
  const YunetKernels& k_;
  int threads_;
  Scratch& s_;
};

template <typename Row>
void Pass::forRows(long rows, long work_per_row, const Row& row) const {
  const long per_task = std::max(1L, kMinTaskWork / std::max(1L, work_per_row));
  const long tasks = (rows + per_task - 1) / per_task;
  const int threads = static_cast<int>(std::min<long>(threads_, tasks));
  parallelFor(tasks, threads, [&](long t, int) {
    for (long y = t * per_task; y < std::min(rows, (t + 1) * per_task); ++y) row(y);
  });
}

void Pass::block(const YunetMap& in, const YunetBlock& b, YunetMap& out) {
  MV_CHECK(in.c() == b.in);
  YunetMap& tmp = s_.tmp;
  tmp.shape(in.h(), in.w(), b.out);
  forRows(in.h(), in.w() * b.in * b.out, [&](long y) { k_.pointwise(in.row(y), in.w(), b, tmp.row(y)); });
  out.shape(in.h(), in.w(), b.out);
  forRows(in.h(), in.w() * b.out * 9, [&](long y) {
    const float* rows[3] = {tmp.framed(y - 1), tmp.framed(y), tmp.framed(y + 1)};
    k_.depthwise(rows, in.w(), b, out.row(y));
  });
}

void Pass::pool(const YunetMap& in, YunetMap& out) const {
  out.shape(in.h() / 2, in.w() / 2, in.c());
  const long c = in.c();
  forRows(out.h(), out.w() * c * 4,
          [&](long y) { k_.pool(in.row(2 * y), in.row(2 * y + 1), out.w(), static_cast<int>(c), out.row(y)); });
}

// fine += coarse enlarged twice, each value to a 2 x 2 block.
void Pass::upsampleAdd(const YunetMap& coarse, YunetMap& fine) const {
  MV_CHECK(fine.h() == 2 * coarse.h() && fine.w() == 2 * coarse.w() && fine.c() == coarse.c());
  const long c = fine.c();
  forRows(fine.h(), fine.w() * c, [&](long y) {
    const float* up = coarse.row(y / 2);
    float* o = fine.row(y);
    for (long x = 0; x < fine.w(); ++x)
      for (long k = 0; k < c; ++k) o[x * c + k] += up[(x / 2) * c + k];
  });
}

void Pass::run(const cv::Mat& bgr, float min_score, std::vector<YunetFace>& faces) {
  runYunetFront(net_, k_, bgr, alignUp(bgr.rows), alignUp(bgr.cols), threads_, threads_, s_.rings, s_.c3);
  const YunetBlock* b = net_.blocks.data();
  pool(s_.c3, s_.a);
  block(s_.a, b[kYunetC4First], s_.b);
  block(s_.b, b[kYunetC4First + 1], s_.c4);
  pool(s_.c4, s_.a);
  block(s_.a, b[kYunetC5First], s_.b);
  block(s_.b, b[kYunetC5First + 1], s_.a);  // C5
  block(s_.a, b[kYunetN5], s_.n5);
  upsampleAdd(s_.n5, s_.c4);
  block(s_.c4, b[kYunetN4], s_.n4);
  upsampleAdd(s_.n4, s_.c3);
  block(s_.c3, b[kYunetN3], s_.b);  // N3
  const YunetMap* necks[kYunetLevels] = {&s_.b, &s_.n4, &s_.n5};
  std::vector<YunetFace> candidates;
  for (int l = 0; l < kYunetLevels; ++l) {
    block(*necks[l], net_.heads[l], s_.level);
    for (long y = 0; y < s_.level.h(); ++y)
      decodeYunetRow(s_.level.row(y), s_.level.w(), y, kStrides[l], min_score, candidates);
  }
  selectYunetFaces(candidates, faces);
}

const YunetKernels* kernelsOf(YunetIsa isa) {
  switch (isa) {
    case YunetIsa::kAvx512: return yunetAvx512Kernels();
    case YunetIsa::kAvx2: return yunetAvx2Kernels();
    case YunetIsa::kPortable: break;
  }
  return yunetPortableKernels();
}

}  // namespace

bool yunetIsaServed(YunetIsa isa) {
  static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  static const bool avx512 = avx2 && __builtin_cpu_supports("avx512f");
  switch (isa) {
    case YunetIsa::kAvx512: return avx512 && yunetAvx512Kernels() != nullptr;
    case YunetIsa::kAvx2: return avx2 && yunetAvx2Kernels() != nullptr;
    case YunetIsa::kPortable: break;
  }
  return true;
}

YunetIsa bestYunetIsa() {
  if (yunetIsaServed(YunetIsa::kAvx512)) return YunetIsa::kAvx512;
  if (yunetIsaServed(YunetIsa::kAvx2)) return YunetIsa::kAvx2;
  return YunetIsa::kPortable;
}

int detectYunetFaces(const YunetNetwork& net, const cv::Mat& bgr, float min_score, std::vector<YunetFace>& faces,
                     int threads, YunetIsa isa) {
  if (bgr.empty() || bgr.type() != CV_8UC3 || bgr.dims != 2) return MV_INVALID_ARGS;
  if (!yunetIsaServed(isa)) return MV_NOT_SUPPORTED;
  Pass pass(net, *kernelsOf(isa), threads > 0 ? threads : callThreads(), t_scratch);
  pass.run(bgr, min_score, faces);
  if (t_scratch.bytes() > kKeptScratchBytes) releaseYunetScratch();
  return MV_OK;
}

int detectYunetFaces(const YunetNetwork& net, const cv::Mat& bgr, float min_score, std::vector<YunetFace>& faces) {
  return detectYunetFaces(net, bgr, min_score, faces, 0, bestYunetIsa());
}

double yunetMultiplyAdds(long rows, long cols) {
  double pixels = static_cast<double>(alignUp(rows)) * static_cast<double>(alignUp(cols)) / 4;
  double total = pixels * kYunetFirstTaps * kYunetFirstChannels;
  // Per block: channels in x out pointwise, 9 x out depthwise, at its
  // map's pixels; the pools quarter the pixels before blocks 1, 5, 7, 9.
  const int in[kYunetBlocks] = {16, 16, 16, 32, 32, 64, 64, 64, 64, 64, 64, 64, 64, 64};
  const int out[kYunetBlocks] = {16, 16, 32, 32, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64};
  const double at[kYunetBlocks] = {1, 4, 4, 4, 4, 16, 16, 64, 64, 256, 256, 16, 64, 256};
  for (int b = 0; b < kYunetBlocks; ++b) total += pixels / at[b] * (in[b] * out[b] + 9 * out[b]);
  const double levels[kYunetLevels] = {16, 64, 256};
  for (double l : levels) total += pixels / l * (64 * kYunetLanes + 9 * kYunetLanes);
  return total;
}

void releaseYunetScratch() { t_scratch = Scratch(); }

}  // namespace morvik
