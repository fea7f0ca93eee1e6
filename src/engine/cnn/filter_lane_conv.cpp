// Direct convolution with filters in the lanes; see filter_lane_conv.h.
//
// Each sample's input is first copied, zero-padded, into scratch memory,
// so that every window lies wholly inside it. The filters are packed in
// blocks of 16 as [channel][row][column][filter in block], so that a run
// reads them as one stream. Tasks are (sample, group of blocks, stretch of
// output pixels); within a task, runs of a few pixels (numbered row by row
// across the whole map, so narrow rows waste nothing) keep their sums for
// every filter of the group in registers.
//
// Two instruction sets, one arithmetic: with AVX2 a block is two vectors
// and a run 6 pixels; with AVX-512 a block is one vector, and a run covers
// 12 pixels of two blocks, twice the work per weight loaded. Every output
// is the same chain of fused multiply-adds either way, so both give the
// same bits.
// GCC 12 takes the undefined upper halves inside its own AVX-512
// intrinsics for uninitialised variables (its bug 105593); the pragma must
// come before anything includes them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "engine/cnn/filter_lane_conv.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/parallel.h"

namespace morvik {
namespace {

#define MV_AVX2 __attribute__((target("avx2,fma")))
#define MV_AVX512 __attribute__((target("avx512f,avx2,fma")))

constexpr long kBlock = 16;              // filters per block
constexpr long kMaxRun = 12;             // output pixels per run, at most
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
  long groups;       // groups of blocks per sample
  long tasks_per_group;
};

long roundUp(long n, long m) { return (n + m - 1) / m * m; }

// One AVX2 run: the sums of 6 pixels (corners in[p] of their windows) for
// one block of filters, through the epilogue, into sums[p][filter in block].
// KC is the filter width when fixed at compile time, 0 otherwise.
template <int KC>
__attribute__((noinline)) MV_AVX2 void laneRunAvx2(const float* const* in, const Job& j, const float* w,
                                                   const float* bias, const float* scale, const float* shift,
                                                   float (*sums)[kBlock]) {
  constexpr int kRun = 6;
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

// One AVX-512 run: PX pixels by NB blocks, one vector of sums each. Block b
// of the group starts j.window * kBlock floats after block 0.
template <int KC, int PX, int NB>
__attribute__((noinline)) MV_AVX512 void laneRunAvx512(const float* const* in, const Job& j, const float* w,
                                                       const float* bias, const float* scale, const float* shift,
                                                       float (*sums)[kBlock]) {
  const long fc = KC ? KC : j.filter_nc;
  const long plane = j.padded_nr * j.padded_nc;
  const long block_stride = j.window * kBlock;
  __m512 acc[PX][NB];
#pragma GCC unroll 4
  for (int b = 0; b < NB; ++b) {
    const __m512 start = _mm512_loadu_ps(bias + b * kBlock);
#pragma GCC unroll 12
    for (int p = 0; p < PX; ++p) acc[p][b] = start;
  }
  const float* px[PX];
#pragma GCC unroll 12
  for (int p = 0; p < PX; ++p) px[p] = in[p];
  for (long c = 0; c < j.channels; ++c) {
    for (long ky = 0; ky < j.filter_nr; ++ky) {
      const long off = c * plane + ky * j.padded_nc;
#pragma GCC unroll 7
      for (long kx = 0; kx < fc; ++kx, w += kBlock) {
        __m512 wv[NB];
#pragma GCC unroll 4
        for (int b = 0; b < NB; ++b) {
          wv[b] = _mm512_loadu_ps(w + b * block_stride);
          asm("" : "+v"(wv[b]));
        }
        const long o = off + kx;
#pragma GCC unroll 12
        for (int p = 0; p < PX; ++p) {
          const __m512 v = _mm512_set1_ps(px[p][o]);
#pragma GCC unroll 4
          for (int b = 0; b < NB; ++b) acc[p][b] = _mm512_fmadd_ps(wv[b], v, acc[p][b]);
        }
      }
    }
  }
  if (scale != nullptr) {
#pragma GCC unroll 4
    for (int b = 0; b < NB; ++b) {
      const __m512 a = _mm512_loadu_ps(scale + b * kBlock);
      const __m512 s = _mm512_loadu_ps(shift + b * kBlock);
#pragma GCC unroll 12
      for (int p = 0; p < PX; ++p) {
        // Rounded after the multiply, as dlib's affine layer rounds it.
        __m512 scaled = _mm512_mul_ps(a, acc[p][b]);
        asm("" : "+v"(scaled));
        acc[p][b] = _mm512_add_ps(scaled, s);
      }
    }
  }
  if (j.relu) {
    // dlib keeps x where x >= 0 and writes 0 elsewhere (NaN included).
    const __m512 zero = _mm512_setzero_ps();
#pragma GCC unroll 12
    for (int p = 0; p < PX; ++p)
#pragma GCC unroll 4
      for (int b = 0; b < NB; ++b)
        acc[p][b] = _mm512_maskz_mov_ps(_mm512_cmp_ps_mask(acc[p][b], zero, _CMP_GE_OQ), acc[p][b]);
  }
#pragma GCC unroll 12
  for (int p = 0; p < PX; ++p)
#pragma GCC unroll 4
    for (int b = 0; b < NB; ++b) _mm512_storeu_ps(sums[p * NB + b], acc[p][b]);
}

// rows[p][f] becomes rows[f][p].
MV_AVX512 inline void transpose16(__m512 rows[16]) {
  __m512 t[16];
  for (int i = 0; i < 8; ++i) {
    t[2 * i] = _mm512_unpacklo_ps(rows[2 * i], rows[2 * i + 1]);
    t[2 * i + 1] = _mm512_unpackhi_ps(rows[2 * i], rows[2 * i + 1]);
  }
  for (int i = 0; i < 4; ++i) {
    const __m512d a = _mm512_castps_pd(t[4 * i]), b = _mm512_castps_pd(t[4 * i + 1]);
    const __m512d c = _mm512_castps_pd(t[4 * i + 2]), d = _mm512_castps_pd(t[4 * i + 3]);
    rows[4 * i] = _mm512_castpd_ps(_mm512_unpacklo_pd(a, c));
    rows[4 * i + 1] = _mm512_castpd_ps(_mm512_unpackhi_pd(a, c));
    rows[4 * i + 2] = _mm512_castpd_ps(_mm512_unpacklo_pd(b, d));
    rows[4 * i + 3] = _mm512_castpd_ps(_mm512_unpackhi_pd(b, d));
  }
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 4; ++j) {
      t[8 * i + j] = _mm512_shuffle_f32x4(rows[8 * i + j], rows[8 * i + 4 + j], 0x88);
      t[8 * i + 4 + j] = _mm512_shuffle_f32x4(rows[8 * i + j], rows[8 * i + 4 + j], 0xdd);
    }
  }
  for (int j = 0; j < 8; ++j) {
    rows[j] = _mm512_shuffle_f32x4(t[j], t[8 + j], 0x88);
    rows[8 + j] = _mm512_shuffle_f32x4(t[j], t[8 + j], 0xdd);
  }
}

// The sums of one AVX-512 run (sums[p * blocks + b], p < 12) into the
// output planes, `pixels` of them from dst on, filters below `filters`.
MV_AVX512 void storeRunAvx512(const float (*sums)[kBlock], int blocks, long pixels, long filters, float* dst,
                              long map) {
  const __mmask16 mask = static_cast<__mmask16>((1u << pixels) - 1);
  for (int b = 0; b < blocks && b * kBlock < filters; ++b) {
    __m512 rows[kBlock];
    for (int p = 0; p < kBlock; ++p) rows[p] = p < kMaxRun ? _mm512_load_ps(sums[p * blocks + b]) : _mm512_setzero_ps();
    transpose16(rows);
    const long in_block = std::min(kBlock, filters - b * kBlock);
    for (long f = 0; f < in_block; ++f) _mm512_mask_storeu_ps(dst + (b * kBlock + f) * map, mask, rows[f]);
  }
}

// The sums of one run, any instruction set, into the output planes.
void storeRun(const float (*sums)[kBlock], int blocks, long pixels, long filters, float* dst, long map) {
  for (long f = 0; f < filters; ++f) {
    const long b = f / kBlock, fb = f % kBlock;
    for (long p = 0; p < pixels; ++p) dst[f * map + p] = sums[p * blocks + b][fb];
  }
}

using RunFn = void (*)(const float* const*, const Job&, const float*, const float*, const float*, const float*,
                       float (*)[kBlock]);
using StoreFn = void (*)(const float (*)[kBlock], int, long, long, float*, long);

// How a layer is cut into runs: PX pixels by NB blocks per run.
struct Shape {
  RunFn run;
  StoreFn store;
  int pixels;
  int blocks;
};

// One task: a stretch of runs of one group of blocks of one sample. The
// run writes sums[p * blocks + b][filter in block].
void runTask(const Job& j, const Shape& s, long task) {
  const long per_sample = j.groups * j.tasks_per_group;
  const long n = task / per_sample;
  const long g = (task % per_sample) / j.tasks_per_group;
  const long first_run = (task % j.tasks_per_group) * kRunsPerTask;
  const long last_run = std::min(j.runs, first_run + kRunsPerTask);
  const long map = j.out_nr * j.out_nc;
  const float* sample = j.padded + n * j.channels * j.padded_nr * j.padded_nc;
  float* out = j.output + n * j.filters * map;
  const long f0 = g * s.blocks * kBlock;
  const float* w = j.packed + f0 * j.window;
  const float* scale = j.scales ? j.scales + f0 : nullptr;
  const float* shift = j.shifts ? j.shifts + f0 : nullptr;
  const long valid_filters = std::min<long>(s.blocks * kBlock, j.filters - f0);
  alignas(64) float sums[kMaxRun * 4][kBlock];
  for (long r = first_run; r < last_run; ++r) {
    const float* in[kMaxRun];
    const long pix0 = r * s.pixels;
    const long valid = std::min<long>(s.pixels, map - pix0);
    for (long p = 0; p < s.pixels; ++p) {
      // Past the map's end a run repeats its last pixel, and drops it.
      const long pix = pix0 + std::min(p, valid - 1);
      const long oy = pix / j.out_nc, ox = pix % j.out_nc;
      in[p] = sample + oy * j.stride_y * j.padded_nc + ox * j.stride_x;
    }
    s.run(in, j, w, j.biases + f0, scale, shift, sums);
    s.store(sums, s.blocks, valid, valid_filters, out + f0 * map + pix0, map);
  }
}

template <int KC>
Shape avx512Shape(long blocks) {
  static_assert(kMaxRun == 12, "an AVX-512 run stores 12 pixels");
  if (blocks % 2 == 0) return Shape{laneRunAvx512<KC, 12, 2>, storeRunAvx512, 12, 2};
  return Shape{laneRunAvx512<KC, 12, 1>, storeRunAvx512, 12, 1};
}

Shape pickShape(FilterLaneIsa isa, long filter_nc, long blocks) {
  if (isa == FilterLaneIsa::kAvx512) {
    switch (filter_nc) {
      case 3: return avx512Shape<3>(blocks);
      case 7: return avx512Shape<7>(blocks);
      default: return avx512Shape<0>(blocks);
    }
  }
  switch (filter_nc) {
    case 3: return Shape{laneRunAvx2<3>, storeRun, 6, 1};
    case 7: return Shape{laneRunAvx2<7>, storeRun, 6, 1};
    default: return Shape{laneRunAvx2<0>, storeRun, 6, 1};
  }
}

bool cpuServes(FilterLaneIsa isa) {
  static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  static const bool avx512 = avx2 && __builtin_cpu_supports("avx512f");
  return isa == FilterLaneIsa::kAvx512 ? avx512 : avx2;
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

}  // namespace

FilterLaneIsa bestFilterLaneIsa() {
  return cpuServes(FilterLaneIsa::kAvx512) ? FilterLaneIsa::kAvx512 : FilterLaneIsa::kAvx2;
}

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
                         dlib::resizable_tensor& output, int threads, FilterLaneIsa isa) {
  if (!cpuServes(isa) || pack.numFilters() <= 0 || filter_nr <= 0 || filter_nc <= 0 || stride_y <= 0 ||
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

  const Shape shape = pickShape(isa, filter_nc, j.slots / kBlock);
  // Every window lies inside the padded sample.
  j.padded_nr = (j.out_nr - 1) * stride_y + filter_nr;
  j.padded_nc = (j.out_nc - 1) * stride_x + filter_nc;
  j.window = pack.window();
  j.runs = (j.out_nr * j.out_nc + shape.pixels - 1) / shape.pixels;
  j.groups = j.slots / (kBlock * shape.blocks);
  j.tasks_per_group = (j.runs + kRunsPerTask - 1) / kRunsPerTask;

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

  const long tasks = samples * j.groups * j.tasks_per_group;
  const double flops = 2.0 * output.size() * j.window;
  long workers = std::min<long>(threads > 0 ? threads : callThreads(), tasks);
  if (threads <= 0) workers = std::clamp(static_cast<long>(flops / kFlopsPerThread), 1L, workers);
  parallelFor(tasks, static_cast<int>(workers), [&](long t, int) { runTask(j, shape, t); });
  return true;
}

bool convolveFilterLanes(const dlib::tensor& data, const float* filters, const float* biases, long num_filters,
                         long filter_nr, long filter_nc, long stride_y, long stride_x, long padding_y,
                         long padding_x, dlib::resizable_tensor& output, const ConvEpilogue* epilogue,
                         int threads, FilterLaneIsa isa) {
  if (!cpuServes(isa) || num_filters <= 0 || filter_nr <= 0 || filter_nc <= 0) return false;
  FilterLanePack pack;
  pack.pack(filters, biases, epilogue, num_filters, data.k() * filter_nr * filter_nc);
  return convolveFilterLanes(data, pack, filter_nr, filter_nc, stride_y, stride_x, padding_y, padding_x, output,
                             threads, isa);
}

void releaseFilterLaneScratch() { std::vector<float>().swap(t_scratch); }

}  // namespace morvik
