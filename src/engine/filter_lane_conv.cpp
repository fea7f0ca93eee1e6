// Direct convolution with filters in the lanes; see filter_lane_conv.h.
//
// Each sample's input is first copied, zero-padded, into scratch memory,
// so that every window lies wholly inside it. The filters are packed in
// blocks of 16 as [channel][row][column][filter in block], so that a run
// reads them as one stream. Tasks are (sample, block, stretch of output
// pixels); within a task, runs of 6 pixels (numbered row by row across the
// whole map, so narrow rows waste nothing) keep 12 vector sums in registers.
#include "engine/filter_lane_conv.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/parallel.h"

namespace morvik {
namespace {

#define MV_AVX2 __attribute__((target("avx2,fma")))

constexpr long kBlock = 16;              // filters per block: two vectors
constexpr long kRun = 6;                 // output pixels per run
constexpr long kRunsPerTask = 16;
constexpr double kFlopsPerThread = 4e6;  // below this, another thread costs more than it gains
constexpr long kPerFilterValues = 3;     // bias, scale, shift

// Kept between calls: the padded inputs.
thread_local std::vector<float> t_scratch;

struct Job {
  const float* padded;  // the samples, padded
  const float* packed;  // filter blocks
  const float* biases;  // slots values each: biases, scales, shifts
  const float* scales;  // null without an affine epilogue
  const float* shifts;
  bool relu;
  float* output;
  long channels, filters, slots, filter_nr, filter_nc, stride_y, stride_x;
  long padded_nr, padded_nc, out_nr, out_nc;
  long window;       // channels * filter_nr * filter_nc
  long runs;         // runs per map
  long tasks_per_block;
};

long roundUp(long n, long m) { return (n + m - 1) / m * m; }

// One run: the sums of kRun pixels (corners in[p] of their windows) for one
// block of filters, through the epilogue, into sums[p][filter in block].
// KC is the filter width when fixed at compile time, 0 otherwise.
template <int KC>
__attribute__((noinline)) MV_AVX2 void laneRun(const float* const* in, const Job& j, const float* w,
                                               const float* bias, const float* scale, const float* shift,
                                               float (*sums)[kBlock]) {
  const long fc = KC ? KC : j.filter_nc;
  const long plane = j.padded_nr * j.padded_nc;
  __m256 acc[kRun][2];
  const __m256 b0 = _mm256_loadu_ps(bias), b1 = _mm256_loadu_ps(bias + 8);
#pragma GCC unroll 6
  for (int p = 0; p < kRun; ++p) {
    acc[p][0] = b0;
    acc[p][1] = b1;
  }
  const float* p0 = in[0];
  const float* p1 = in[1];
  const float* p2 = in[2];
  const float* p3 = in[3];
  const float* p4 = in[4];
  const float* p5 = in[5];
  for (long c = 0; c < j.channels; ++c) {
    for (long ky = 0; ky < j.filter_nr; ++ky) {
      const long off = c * plane + ky * j.padded_nc;
#pragma GCC unroll 7
      for (long kx = 0; kx < fc; ++kx, w += kBlock) {
        __m256 w0 = _mm256_loadu_ps(w);
        __m256 w1 = _mm256_loadu_ps(w + 8);
        // Keep the weights in registers: folded into each multiply-add
        // they would be loaded once per pixel.
        asm("" : "+x"(w0), "+x"(w1));
        const long o = off + kx;
        __m256 v;
#define MV_TAP(p, ptr)                                  \
  v = _mm256_broadcast_ss(ptr + o);                     \
  acc[p][0] = _mm256_fmadd_ps(w0, v, acc[p][0]);        \
  acc[p][1] = _mm256_fmadd_ps(w1, v, acc[p][1]);
        MV_TAP(0, p0)
        MV_TAP(1, p1)
        MV_TAP(2, p2)
        MV_TAP(3, p3)
        MV_TAP(4, p4)
        MV_TAP(5, p5)
#undef MV_TAP
      }
    }
  }
  if (scale != nullptr) {
    const __m256 a[2] = {_mm256_loadu_ps(scale), _mm256_loadu_ps(scale + 8)};
    const __m256 b[2] = {_mm256_loadu_ps(shift), _mm256_loadu_ps(shift + 8)};
#pragma GCC unroll 6
    for (int p = 0; p < kRun; ++p) {
#pragma GCC unroll 2
      for (int h = 0; h < 2; ++h) {
        // Rounded after the multiply, as dlib's affine layer rounds it.
        __m256 scaled = _mm256_mul_ps(a[h], acc[p][h]);
        asm("" : "+x"(scaled));
        acc[p][h] = _mm256_add_ps(scaled, b[h]);
      }
    }
  }
  if (j.relu) {
    // dlib keeps x where x >= 0 and writes 0 elsewhere (NaN included).
    const __m256 zero = _mm256_setzero_ps();
#pragma GCC unroll 6
    for (int p = 0; p < kRun; ++p)
#pragma GCC unroll 2
      for (int h = 0; h < 2; ++h) acc[p][h] = _mm256_and_ps(acc[p][h], _mm256_cmp_ps(acc[p][h], zero, _CMP_GE_OQ));
  }
#pragma GCC unroll 6
  for (int p = 0; p < kRun; ++p) {
    _mm256_storeu_ps(sums[p], acc[p][0]);
    _mm256_storeu_ps(sums[p] + 8, acc[p][1]);
  }
}

// One task: a stretch of runs of one block of one sample.
template <int KC>
void runTask(const Job& j, long task) {
  const long per_sample = (j.slots / kBlock) * j.tasks_per_block;
  const long n = task / per_sample;
  const long b = (task % per_sample) / j.tasks_per_block;
  const long first_run = (task % j.tasks_per_block) * kRunsPerTask;
  const long last_run = std::min(j.runs, first_run + kRunsPerTask);
  const long map = j.out_nr * j.out_nc;
  const long pixels = map;
  const float* sample = j.padded + n * j.channels * j.padded_nr * j.padded_nc;
  float* out = j.output + n * j.filters * map;
  const float* w = j.packed + b * j.window * kBlock;
  const long f0 = b * kBlock;
  const float* scale = j.scales ? j.scales + f0 : nullptr;
  const float* shift = j.shifts ? j.shifts + f0 : nullptr;
  const long valid_filters = std::min(kBlock, j.filters - f0);
  alignas(32) float sums[kRun][kBlock];
  for (long r = first_run; r < last_run; ++r) {
    const float* in[kRun];
    const long pix0 = r * kRun;
    const long valid = std::min(kRun, pixels - pix0);
    for (long p = 0; p < kRun; ++p) {
      // Past the map's end a run repeats its last pixel, and drops it.
      const long pix = pix0 + std::min(p, valid - 1);
      const long oy = pix / j.out_nc, ox = pix % j.out_nc;
      in[p] = sample + oy * j.stride_y * j.padded_nc + ox * j.stride_x;
    }
    laneRun<KC>(in, j, w, j.biases + f0, scale, shift, sums);
    for (long f = 0; f < valid_filters; ++f) {
      float* dst = out + (f0 + f) * map + pix0;
      for (long p = 0; p < valid; ++p) dst[p] = sums[p][f];
    }
  }
}

// Copies one sample's channels into rows of padded_nc floats, the input at
// row padding_y, column padding_x, zeros elsewhere.
void padSample(const float* src, long channels, long nr, long nc, long padding_y, long padding_x, long padded_nr,
               long padded_nc, float* dst) {
  std::fill_n(dst, channels * padded_nr * padded_nc, 0.0f);
  for (long c = 0; c < channels; ++c) {
    for (long y = 0; y < nr; ++y) {
      const long row = y + padding_y;
      if (row >= padded_nr) break;
      const long copy = std::min(nc, padded_nc - padding_x);
      if (copy > 0)
        std::memcpy(dst + (c * padded_nr + row) * padded_nc + padding_x, src + (c * nr + y) * nc,
                    sizeof(float) * copy);
    }
  }
}

using Task = void (*)(const Job&, long);

Task pickTask(long filter_nc) {
  switch (filter_nc) {
    case 3: return runTask<3>;
    case 7: return runTask<7>;
    default: return runTask<0>;
  }
}

bool cpuServed() {
  static const bool served = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return served;
}

}  // namespace

long FilterLanePack::slots() const { return roundUp(num_filters_, kBlock); }

void FilterLanePack::pack(const float* filters, const float* biases, const ConvEpilogue* epilogue,
                          long num_filters, long window) {
  source_ = filters;
  num_filters_ = num_filters;
  window_ = window;
  affine_ = epilogue != nullptr && epilogue->scale != nullptr;
  relu_ = epilogue != nullptr && epilogue->relu;
  const long n = slots();
  values_.assign(static_cast<size_t>(n * (window + kPerFilterValues)), 0.0f);
  float* packed = values_.data();
  for (long f = 0; f < num_filters; ++f)
    for (long i = 0; i < window; ++i) packed[((f / kBlock) * window + i) * kBlock + f % kBlock] = filters[f * window + i];
  float* per_filter = packed + n * window;
  if (biases != nullptr) std::copy_n(biases, num_filters, per_filter);
  if (affine_) {
    std::copy_n(epilogue->scale, num_filters, per_filter + n);
    std::copy_n(epilogue->shift, num_filters, per_filter + 2 * n);
  }
}

bool convolveFilterLanes(const dlib::tensor& data, const FilterLanePack& pack, long filter_nr, long filter_nc,
                         long stride_y, long stride_x, long padding_y, long padding_x,
                         dlib::resizable_tensor& output, int threads) {
  if (!cpuServed() || pack.numFilters() <= 0 || filter_nr <= 0 || filter_nc <= 0 || stride_y <= 0 ||
      stride_x <= 0 || padding_y < 0 || padding_x < 0 || padding_y >= filter_nr || padding_x >= filter_nc)
    return false;
  if (pack.window() != data.k() * filter_nr * filter_nc) return false;
  if (data.nr() + 2 * padding_y < filter_nr || data.nc() + 2 * padding_x < filter_nc) return false;

  Job j{};
  j.channels = data.k();
  j.filters = pack.numFilters();
  j.slots = pack.slots();
  j.filter_nr = filter_nr;
  j.filter_nc = filter_nc;
  j.stride_y = stride_y;
  j.stride_x = stride_x;
  j.out_nr = 1 + (data.nr() + 2 * padding_y - filter_nr) / stride_y;
  j.out_nc = 1 + (data.nc() + 2 * padding_x - filter_nc) / stride_x;
  output.set_size(data.num_samples(), j.filters, j.out_nr, j.out_nc);
  if (output.size() == 0) return true;

  // Every window lies inside the padded sample.
  j.padded_nr = (j.out_nr - 1) * stride_y + filter_nr;
  j.padded_nc = (j.out_nc - 1) * stride_x + filter_nc;
  j.window = pack.window();
  j.runs = (j.out_nr * j.out_nc + kRun - 1) / kRun;
  j.tasks_per_block = (j.runs + kRunsPerTask - 1) / kRunsPerTask;

  const long samples = data.num_samples();
  const long sample_floats = j.channels * j.padded_nr * j.padded_nc;
  const size_t need = static_cast<size_t>(samples * sample_floats);
  if (t_scratch.size() < need) t_scratch.resize(need);
  float* padded = t_scratch.data();
  const float* src = data.host();
  for (long n = 0; n < samples; ++n)
    padSample(src + n * j.channels * data.nr() * data.nc(), j.channels, data.nr(), data.nc(), padding_y,
              padding_x, j.padded_nr, j.padded_nc, padded + n * sample_floats);

  j.padded = padded;
  j.packed = pack.blocks();
  j.biases = pack.biases();
  j.scales = pack.scales();
  j.shifts = pack.shifts();
  j.relu = pack.relu();
  j.output = output.host();

  const long tasks = samples * (j.slots / kBlock) * j.tasks_per_block;
  const double flops = 2.0 * output.size() * j.window;
  long workers = std::min<long>(threads > 0 ? threads : callThreads(), tasks);
  if (threads <= 0) workers = std::clamp(static_cast<long>(flops / kFlopsPerThread), 1L, workers);
  const Task task = pickTask(filter_nc);
  parallelFor(tasks, static_cast<int>(workers), [&](long t, int) { task(j, t); });
  return true;
}

bool convolveFilterLanes(const dlib::tensor& data, const float* filters, const float* biases, long num_filters,
                         long filter_nr, long filter_nc, long stride_y, long stride_x, long padding_y,
                         long padding_x, dlib::resizable_tensor& output, const ConvEpilogue* epilogue,
                         int threads) {
  if (!cpuServed() || num_filters <= 0 || filter_nr <= 0 || filter_nc <= 0) return false;
  FilterLanePack pack;
  pack.pack(filters, biases, epilogue, num_filters, data.k() * filter_nr * filter_nc);
  return convolveFilterLanes(data, pack, filter_nr, filter_nc, stride_y, stride_x, padding_y, padding_x, output,
                             threads);
}

void releaseFilterLaneScratch() { std::vector<float>().swap(t_scratch); }

}  // namespace morvik
