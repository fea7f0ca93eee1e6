// Direct convolution with AVX2; see direct_conv.h for why.
//
// The output is computed in bands of a few rows. For a band, a worker
// copies the input rows it needs into its scratch memory, zero-padded and,
// for stride 2, split into even and odd columns, so that the inputs of
// eight neighbouring outputs are eight consecutive floats. Then for each
// chunk of channels, output row, block of FB filters and run of 8 * PB
// outputs, the FB x PB vector sums stay in registers across the chunk's
// channels and taps. Between chunks the sums wait in the output; a float
// stored and loaded again is the same float, so the chunks change no bit.
#include "engine/cnn/direct_conv.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/parallel.h"

namespace morvik {
namespace {

#define MV_AVX2 __attribute__((target("avx2,fma")))

constexpr long kBandRows = 8;        // output rows per task
// Channels per pass over a band: the input rows and the weights one run
// reads then stay in the first-level cache (45 channels did not).
constexpr long kChannelChunk = 8;
constexpr double kFlopsPerThread = 4e6;  // below this, another thread costs more than it gains

// Kept between calls: the packed filters and the workers' bands.
thread_local std::vector<float> t_scratch;

struct Job {
  const float* data;   // first sample
  float* output;       // first sample
  const float* packed; // filters, see packFilters
  const float* biases; // one per filter block slot, see packFilters
  const float* scales; // the same for the epilogue's scale and shift, or null
  const float* shifts;
  bool relu;
  long samples, channels, in_nr, in_nc;
  long filters, filter_nr, filter_nc, stride, padding_y, padding_x;
  long out_nr, out_nc;
  long band_width;   // floats per row of a band
  long band_plane;   // floats per channel phase of a band
  long band_floats;  // floats per worker
  long fblock;       // filters per block
  long tasks_per_sample;
};

long roundUp(long n, long m) { return (n + m - 1) / m * m; }

// Filters in blocks of fblock (the last one completed with zeros), each
// block laid out as [channel][row][column][filter in block], so that the
// fblock weights of one tap are adjacent; then the biases, 0 for none and
// for the completing filters; then the epilogue's scales and shifts.
constexpr long kPerFilterValues = 3;  // bias, scale, shift

void packFilters(const float* filters, const float* biases, const ConvEpilogue* epilogue, long num_filters,
                 long window, long fblock, float* packed) {
  const long slots = (num_filters + fblock - 1) / fblock * fblock;
  std::fill_n(packed, slots * (window + kPerFilterValues), 0.0f);
  for (long f = 0; f < num_filters; ++f)
    for (long i = 0; i < window; ++i)
      packed[((f / fblock) * window + i) * fblock + f % fblock] = filters[f * window + i];
  float* per_filter = packed + slots * window;
  if (biases != nullptr) std::copy_n(biases, num_filters, per_filter);
  if (epilogue != nullptr && epilogue->scale != nullptr) {
    std::copy_n(epilogue->scale, num_filters, per_filter + slots);
    std::copy_n(epilogue->shift, num_filters, per_filter + 2 * slots);
  }
}

// dst[i] = src[2 * i] for i in [0, n): eight at a time from sixteen
// consecutive inputs, which stay within src[0, 2 * n - 1].
MV_AVX2 void copyEveryOther(const float* src, long n, float* dst) {
  long i = 0;
  for (; 2 * i + 16 <= 2 * n - 1; i += 8) {
    const __m256 a = _mm256_loadu_ps(src + 2 * i);
    const __m256 b = _mm256_loadu_ps(src + 2 * i + 8);
    // [a0 a2 b0 b2 a4 a6 b4 b6], then the middle quarters swapped.
    const __m256 even = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
    _mm256_storeu_ps(dst + i, _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(even), 0xD8)));
  }
  for (; i < n; ++i) dst[i] = src[2 * i];
}

// Copies the padded input rows of output rows [y0, y1) of one sample into
// band: per channel and column phase, band_width floats per row, zero
// outside the input.
void fillBand(const Job& j, const float* sample, long y0, long y1, float* band) {
  const long rows = (y1 - y0 - 1) * j.stride + j.filter_nr;
  for (long c = 0; c < j.channels; ++c) {
    const float* plane = sample + c * j.in_nr * j.in_nc;
    for (long q = 0; q < j.stride; ++q) {
      float* dst = band + (c * j.stride + q) * j.band_plane;
      for (long r = 0; r < rows; ++r, dst += j.band_width) {
        const long y = y0 * j.stride + r - j.padding_y;
        if (y < 0 || y >= j.in_nr) {
          std::fill_n(dst, j.band_width, 0.0f);
          continue;
        }
        const float* row = plane + y * j.in_nc;
        if (j.stride == 1) {
          // Columns [padding_x, padding_x + in_nc) hold the row.
          const long copy = std::min(j.in_nc, j.band_width - j.padding_x);
          std::fill_n(dst, j.padding_x, 0.0f);
          std::memcpy(dst + j.padding_x, row, sizeof(float) * copy);
          std::fill(dst + j.padding_x + copy, dst + j.band_width, 0.0f);
          continue;
        }
        // Column i holds input column i * stride + q - padding_x.
        const long first = std::min(j.band_width, (j.padding_x - q + j.stride - 1) / j.stride);
        const long end = std::clamp((j.in_nc + j.padding_x - q + j.stride - 1) / j.stride, first, j.band_width);
        std::fill(dst, dst + first, 0.0f);
        const float* src = row + first * j.stride + q - j.padding_x;
        copyEveryOther(src, end - first, dst + first);  // the stride is 2 here
        std::fill(dst + end, dst + j.band_width, 0.0f);
      }
    }
  }
}

// One run of 8 * PB outputs of one output row for FB filters, over
// `channels` channels. src points at the run's first input in the band's
// phase-0 plane of the first channel; out[f] at the run's first output of
// filter f, or is null for a filter that only completes the block. The
// sums of filter f start from the 8 * PB floats at start[f], or from its
// first 8 repeated when start_step is 0, and pass through the epilogue
// (FB scales and shifts, or null; relu) before the valid outputs of the
// run are written. Never inlined: inlined into the loops around it, the
// sums no longer fit the registers.
template <int FB, int PB, int KC, int S>
__attribute__((noinline)) MV_AVX2 void convolveRun(const float* src, long plane, long width, long channels,
                                                   long filter_nr, const float* w, const float* const* start,
                                                   long start_step, const float* scale, const float* shift,
                                                   bool relu, float* const* out, long valid) {
  __m256 acc[FB][PB];
#pragma GCC unroll 8
  for (int f = 0; f < FB; ++f)
#pragma GCC unroll 8
    for (int p = 0; p < PB; ++p) acc[f][p] = _mm256_loadu_ps(start[f] + p * start_step);
  for (long c = 0; c < channels; ++c) {
    const float* chan = src + c * S * plane;
    for (long ky = 0; ky < filter_nr; ++ky, w += KC * FB) {
      const float* row = chan + ky * width;
#pragma GCC unroll 9
      for (int kx = 0; kx < KC; ++kx) {
        const float* in = row + (kx % S) * plane + kx / S;
        __m256 v[PB];
#pragma GCC unroll 8
        for (int p = 0; p < PB; ++p) {
          v[p] = _mm256_loadu_ps(in + 8 * p);
          // Keep the inputs in registers: folded into each multiply-add
          // they would be loaded FB times.
          if constexpr (FB > 1) asm("" : "+x"(v[p]));
        }
#pragma GCC unroll 8
        for (int f = 0; f < FB; ++f) {
          const __m256 wf = _mm256_broadcast_ss(w + kx * FB + f);
#pragma GCC unroll 8
          for (int p = 0; p < PB; ++p) acc[f][p] = _mm256_fmadd_ps(wf, v[p], acc[f][p]);
        }
      }
    }
  }
  // Every loop over the sums is unrolled: a loop the compiler keeps would
  // index the sums at run time, which keeps them in memory, and then the
  // loops above store all of them on every filter row.
  if (scale != nullptr) {
#pragma GCC unroll 8
    for (int f = 0; f < FB; ++f) {
      const __m256 a = _mm256_broadcast_ss(scale + f);
      const __m256 b = _mm256_broadcast_ss(shift + f);
#pragma GCC unroll 8
      for (int p = 0; p < PB; ++p) {
        // Rounded after the multiply, as dlib's loop rounds it: the
        // compiler may not fuse the two into one multiply-add.
        __m256 scaled = _mm256_mul_ps(a, acc[f][p]);
        asm("" : "+x"(scaled));
        acc[f][p] = _mm256_add_ps(scaled, b);
      }
    }
  }
  if (relu) {
    // dlib keeps x where x >= 0 and writes 0 elsewhere (NaN included);
    // -0.0 stays -0.0.
    const __m256 zero = _mm256_setzero_ps();
#pragma GCC unroll 8
    for (int f = 0; f < FB; ++f)
#pragma GCC unroll 8
      for (int p = 0; p < PB; ++p)
        acc[f][p] = _mm256_and_ps(acc[f][p], _mm256_cmp_ps(acc[f][p], zero, _CMP_GE_OQ));
  }
#pragma GCC unroll 8
  for (int f = 0; f < FB; ++f) {
    if (out[f] == nullptr) continue;
    if (valid == 8 * PB) {
#pragma GCC unroll 8
      for (int p = 0; p < PB; ++p) _mm256_storeu_ps(out[f] + 8 * p, acc[f][p]);
    } else {
      alignas(32) float tail[8 * PB];
#pragma GCC unroll 8
      for (int p = 0; p < PB; ++p) _mm256_store_ps(tail + 8 * p, acc[f][p]);
      std::memcpy(out[f], tail, sizeof(float) * valid);
    }
  }
}

// convolveRun for a run of `vectors` vectors of 8 outputs, 1 <= vectors <=
// PB: the last run of a row computes no more outputs than it needs.
template <int FB, int PB, int KC, int S, typename... Args>
void convolveShortRun(long vectors, Args... args) {
  if constexpr (PB > 1) {
    if (vectors < PB) return convolveShortRun<FB, PB - 1, KC, S>(vectors, args...);
  }
  convolveRun<FB, PB, KC, S>(args...);
}

// One task: one band of one sample.
template <int FB, int PB, int KC, int S>
void runTask(const Job& j, long task, float* band) {
  const long window = j.channels * j.filter_nr * KC;
  const long blocks = (j.filters + FB - 1) / FB;
  const long out_plane = j.out_nr * j.out_nc;
  const long n = task / j.tasks_per_sample;
  const long y0 = (task % j.tasks_per_sample) * kBandRows;
  const long y1 = std::min(j.out_nr, y0 + kBandRows);
  fillBand(j, j.data + n * j.channels * j.in_nr * j.in_nc, y0, y1, band);
  float* sample_out = j.output + n * j.filters * out_plane;
  alignas(32) float bias_lanes[FB][8];        // a block's biases, 8 lanes each
  alignas(32) float partial[FB][8 * PB] = {};  // the sums of a short run, or 0
  for (long c0 = 0; c0 < j.channels; c0 += kChannelChunk) {
    const long chunk = std::min(kChannelChunk, j.channels - c0);
    const bool first = c0 == 0;
    const bool last = c0 + chunk == j.channels;
    for (long y = y0; y < y1; ++y) {
      const float* src_row = band + (y - y0) * S * j.band_width + c0 * S * j.band_plane;
      for (long b = 0; b < blocks; ++b) {
        const float* w = j.packed + (b * window + c0 * j.filter_nr * KC) * FB;
        if (first)
          for (int f = 0; f < FB; ++f) std::fill_n(bias_lanes[f], 8, j.biases[b * FB + f]);
        const float* scale = last && j.scales ? j.scales + b * FB : nullptr;
        const float* shift = last && j.shifts ? j.shifts + b * FB : nullptr;
        for (long x = 0; x < j.out_nc; x += 8 * PB) {
          const long valid = std::min<long>(8 * PB, j.out_nc - x);
          const long vectors = (valid + 7) / 8;
          float* out[FB];
          const float* start[FB];
          for (int f = 0; f < FB; ++f) {
            const long filter = b * FB + f;
            out[f] = filter < j.filters ? sample_out + filter * out_plane + y * j.out_nc + x : nullptr;
            if (first) {
              start[f] = bias_lanes[f];
            } else if (out[f] != nullptr && valid == 8 * vectors) {
              start[f] = out[f];
            } else {
              if (out[f] != nullptr) std::copy_n(out[f], valid, partial[f]);
              start[f] = partial[f];
            }
          }
          convolveShortRun<FB, PB, KC, S>(vectors, src_row + x, j.band_plane, j.band_width, chunk, j.filter_nr, w,
                                          start, first ? 0L : 8L, scale, shift, last && j.relu,
                                          static_cast<float* const*>(out), valid);
        }
      }
    }
  }
}

using Worker = void (*)(const Job&, long task, float* band);

// A single filter gets wide runs. Otherwise a block of filters by a run of
// outputs keeps its sums, the run's inputs and a weight in the 16
// registers: 4 filters by 24 outputs (12 sums, 3 inputs), or, for counts
// that 5 divides (the detector's 45), 5 filters by 16 outputs (10 sums, 2
// inputs), which wastes no slot on completing filters and loads fewer
// inputs per multiply-add.
template <int KC, int S>
Worker pickWorker(long num_filters, long& fblock) {
  if (num_filters == 1) {
    fblock = 1;
    return runTask<1, 8, KC, S>;
  }
  if (num_filters % 5 == 0) {
    fblock = 5;
    return runTask<5, 2, KC, S>;
  }
  fblock = 4;
  return runTask<4, 3, KC, S>;
}

Worker pickWorker(long filter_nc, long stride, long num_filters, long& fblock) {
  if (filter_nc == 5 && stride == 1) return pickWorker<5, 1>(num_filters, fblock);
  if (filter_nc == 5 && stride == 2) return pickWorker<5, 2>(num_filters, fblock);
  if (filter_nc == 9 && stride == 1) return pickWorker<9, 1>(num_filters, fblock);
  if (filter_nc == 9 && stride == 2) return pickWorker<9, 2>(num_filters, fblock);
  return nullptr;
}

bool cpuServed() {
  static const bool served = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return served;
}

// threads is the most workers to use; with by_work, fewer when the layer
// is too small to pay for them.
bool convolve(const dlib::tensor& data, const float* filters, const float* biases, long num_filters, long filter_nr,
              long filter_nc, long stride_y, long stride_x, long padding_y, long padding_x,
              dlib::resizable_tensor& output, int threads, bool by_work, const ConvEpilogue* epilogue) {
  if (!cpuServed() || stride_x != stride_y || num_filters <= 0 || filter_nr <= 0 || padding_y < 0 ||
      padding_x < 0 || padding_y >= filter_nr || padding_x >= filter_nc)
    return false;
  if (data.nr() + 2 * padding_y < filter_nr || data.nc() + 2 * padding_x < filter_nc) return false;
  Job j{};
  const Worker worker = pickWorker(filter_nc, stride_x, num_filters, j.fblock);
  if (worker == nullptr) return false;

  j.samples = data.num_samples();
  j.channels = data.k();
  j.in_nr = data.nr();
  j.in_nc = data.nc();
  j.filters = num_filters;
  j.filter_nr = filter_nr;
  j.filter_nc = filter_nc;
  j.stride = stride_x;
  j.padding_y = padding_y;
  j.padding_x = padding_x;
  j.out_nr = 1 + (j.in_nr + 2 * padding_y - filter_nr) / stride_y;
  j.out_nc = 1 + (j.in_nc + 2 * padding_x - filter_nc) / stride_x;
  output.set_size(j.samples, num_filters, j.out_nr, j.out_nc);
  if (output.size() == 0) return true;

  // The last run of a row computes whole vectors of 8 outputs, up to 7
  // past the row's end; their inputs are zeros of the band.
  j.band_width = roundUp(j.out_nc + 7 + (filter_nc - 1) / stride_x + 1, 8);
  j.band_plane = ((kBandRows - 1) * stride_y + filter_nr) * j.band_width;
  j.band_floats = j.channels * stride_x * j.band_plane;
  j.tasks_per_sample = (j.out_nr + kBandRows - 1) / kBandRows;
  const long window = j.channels * filter_nr * filter_nc;
  const long slots = roundUp(num_filters, j.fblock);
  const long packed_floats = slots * (window + kPerFilterValues);

  const double flops = 2.0 * j.samples * j.out_nr * j.out_nc * num_filters * window;
  const long tasks = j.samples * j.tasks_per_sample;
  long workers = std::min<long>(std::max(threads, 1), tasks);
  if (by_work) workers = std::clamp(static_cast<long>(flops / kFlopsPerThread), 1L, workers);

  const size_t need = static_cast<size_t>(packed_floats + workers * j.band_floats);
  if (t_scratch.size() < need) t_scratch.resize(need);
  float* packed = t_scratch.data();
  packFilters(filters, biases, epilogue, num_filters, window, j.fblock, packed);
  j.packed = packed;
  j.biases = packed + slots * window;
  const bool affine = epilogue != nullptr && epilogue->scale != nullptr;
  j.scales = affine ? j.biases + slots : nullptr;
  j.shifts = affine ? j.biases + 2 * slots : nullptr;
  j.relu = epilogue != nullptr && epilogue->relu;
  j.data = data.host();
  j.output = output.host();

  float* bands = packed + packed_floats;
  parallelFor(tasks, static_cast<int>(workers),
              [&](long task, int w) { worker(j, task, bands + w * j.band_floats); });
  return true;
}

}  // namespace

bool convolveDirect(const dlib::tensor& data, const float* filters, const float* biases, long num_filters,
                    long filter_nr, long filter_nc, long stride_y, long stride_x, long padding_y, long padding_x,
                    dlib::resizable_tensor& output, const ConvEpilogue* epilogue) {
  return convolve(data, filters, biases, num_filters, filter_nr, filter_nc, stride_y, stride_x, padding_y, padding_x,
                  output, callThreads(), true, epilogue);
}

bool convolveDirect(const dlib::tensor& data, const float* filters, const float* biases, long num_filters,
                    long filter_nr, long filter_nc, long stride_y, long stride_x, long padding_y, long padding_x,
                    dlib::resizable_tensor& output, int threads, const ConvEpilogue* epilogue) {
  return convolve(data, filters, biases, num_filters, filter_nr, filter_nc, stride_y, stride_x, padding_y, padding_x,
                  output, threads, false, epilogue);
}

void releaseDirectConvScratch() { std::vector<float>().swap(t_scratch); }

}  // namespace morvik
