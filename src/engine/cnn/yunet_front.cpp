// The YuNet network's front a row at a time; see yunet_front.h.
#include "engine/cnn/yunet_front.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "check.h"
#include "engine/parallel.h"

namespace morvik {
namespace {

constexpr int kColours = 3;

enum class Kind { kImage, kFirst, kPointwise, kDepthwise, kPool };

// One layer's rows. Row y lives in slot y % slots of a ring whose rows
// have a zero column on each side; the last stage's ring is C3 itself.
struct Stage {
  Kind kind;
  const YunetBlock* block;
  long h, w, c;
  long slots;
  float* base;  // slot 0 at column -1
  long stride;  // floats per slot
  long next;    // the next row to compute

  float* row(long y) const { return base + (y % slots) * stride + c; }
  const float* framed(long y) const { return base + (y % slots) * stride; }
};

class Pipeline {
 public:
  Pipeline(const YunetNetwork& net, const YunetKernels& k, const cv::Mat& bgr, long hp, long wp,
           YunetFloats& ring, YunetMap& c3);

  // Computes rows [first, last) of C3.
  void run(long first, long last);

 private:
  void add(Kind kind, const YunetBlock* block, long h, long w, long c, long slots);
  void ensure(size_t stage, long lo, long hi);
  void compute(size_t stage, long y);
  // Row y of stage s at column -1, or a row of zeros outside the map.
  const float* framedOrZero(size_t s, long y) const {
    return y < 0 || y >= stages_[s].h ? zeros_ : stages_[s].framed(y);
  }

  const YunetNetwork& net_;
  const YunetKernels& k_;
  const cv::Mat& bgr_;
  std::vector<Stage> stages_;
  const float* zeros_ = nullptr;
};

void Pipeline::add(Kind kind, const YunetBlock* block, long h, long w, long c, long slots) {
  stages_.push_back(Stage{kind, block, h, w, c, slots, nullptr, (w + 2) * c, 0});
}

Pipeline::Pipeline(const YunetNetwork& net, const YunetKernels& k, const cv::Mat& bgr, long hp, long wp,
                   YunetFloats& ring, YunetMap& c3)
    : net_(net), k_(k), bgr_(bgr) {
  add(Kind::kImage, nullptr, hp, wp, kColours, 3);
  long h = hp / 2, w = wp / 2;
  add(Kind::kFirst, nullptr, h, w, kYunetFirstChannels, 1);
  for (int b = 0; b < kYunetC3First + 2; ++b) {
    if (b == 1 || b == kYunetC3First) {
      h /= 2;
      w /= 2;
      add(Kind::kPool, nullptr, h, w, stages_.back().c, 1);
    }
    const YunetBlock& block = net.blocks[b];
    add(Kind::kPointwise, &block, h, w, block.out, 3);
    add(Kind::kDepthwise, &block, h, w, block.out, 2);
  }
  // The last depthwise layer writes C3 itself.
  Stage& last = stages_.back();
  MV_CHECK(last.h == c3.h() && last.w == c3.w() && last.c == c3.c());
  // Every ring but the last, and a row of zeros as long as the longest.
  // Each ring starts a cache line.
  const auto lines = [](long floats) {
    return static_cast<size_t>((floats + kYunetLanes - 1) / kYunetLanes * kYunetLanes);
  };
  size_t floats = 0, longest = 0;
  for (size_t s = 0; s + 1 < stages_.size(); ++s) {
    floats += lines(stages_[s].slots * stages_[s].stride);
    longest = std::max(longest, static_cast<size_t>(stages_[s].stride));
  }
  ring.assign(floats + longest, 0.0f);
  float* at = ring.data();
  for (size_t s = 0; s + 1 < stages_.size(); ++s) {
    stages_[s].base = at;
    at += lines(stages_[s].slots * stages_[s].stride);
  }
  zeros_ = at;
  last.base = c3.row(0) - c3.c();
  last.stride = c3.stride();
  last.slots = std::numeric_limits<long>::max();
}

void Pipeline::run(long first, long last) {
  // Each band starts afresh: a stage's first row is the lowest its
  // consumer asks for.
  for (Stage& s : stages_) s.next = std::numeric_limits<long>::min();
  for (long y = first; y < last; ++y) ensure(stages_.size() - 1, y, y);
}

void Pipeline::ensure(size_t stage, long lo, long hi) {
  Stage& s = stages_[stage];
  lo = std::max(lo, 0L);
  hi = std::min(hi, s.h - 1);
  if (s.next < lo) s.next = lo;
  for (; s.next <= hi; ++s.next) compute(stage, s.next);
  // Consumers ask for rows in order, never more than a ring holds.
  MV_CHECK(lo > s.next - 1 - s.slots || lo > hi);
}

void Pipeline::compute(size_t stage, long y) {
  const Stage& s = stages_[stage];
  float* out = s.row(y);
  switch (s.kind) {
    case Kind::kImage: {
      const long valid = y < bgr_.rows ? static_cast<long>(bgr_.cols) * kColours : 0;
      if (valid > 0) {
        const uint8_t* src = bgr_.ptr<uint8_t>(static_cast<int>(y));
        for (long i = 0; i < valid; ++i) out[i] = src[i];
      }
      std::fill(out + valid, out + s.w * kColours, 0.0f);
      return;
    }
    case Kind::kFirst: {
      ensure(stage - 1, 2 * y - 1, 2 * y + 1);
      const float* rows[3] = {framedOrZero(stage - 1, 2 * y - 1), framedOrZero(stage - 1, 2 * y),
                              framedOrZero(stage - 1, 2 * y + 1)};
      k_.first(rows, s.w, net_, out);
      return;
    }
    case Kind::kPointwise:
      ensure(stage - 1, y, y);
      k_.pointwise(stages_[stage - 1].row(y), s.w, *s.block, out);
      return;
    case Kind::kDepthwise: {
      ensure(stage - 1, y - 1, y + 1);
      const float* rows[3] = {framedOrZero(stage - 1, y - 1), framedOrZero(stage - 1, y),
                              framedOrZero(stage - 1, y + 1)};
      k_.depthwise(rows, s.w, *s.block, out);
      return;
    }
    case Kind::kPool: {
      ensure(stage - 1, 2 * y, 2 * y + 1);
      k_.pool(stages_[stage - 1].row(2 * y), stages_[stage - 1].row(2 * y + 1), s.w, static_cast<int>(s.c), out);
      return;
    }
  }
}

}  // namespace

void runYunetFront(const YunetNetwork& net, const YunetKernels& kernels, const cv::Mat& bgr, long hp, long wp,
                   long bands, int threads, std::vector<YunetFloats>& rings, YunetMap& c3) {
  c3.shape(hp / 8, wp / 8, net.blocks[kYunetC3First + 1].out);
  const long rows = c3.h();
  bands = std::clamp(bands, 1L, rows);
  threads = static_cast<int>(std::min<long>(threads, bands));
  if (rings.size() < static_cast<size_t>(threads)) rings.resize(threads);
  std::vector<Pipeline> pipelines;
  pipelines.reserve(threads);
  for (int t = 0; t < threads; ++t) pipelines.emplace_back(net, kernels, bgr, hp, wp, rings[t], c3);
  parallelFor(bands, threads, [&](long band, int worker) {
    pipelines[worker].run(band * rows / bands, (band + 1) * rows / bands);
  });
}

}  // namespace morvik
