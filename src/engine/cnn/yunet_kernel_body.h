// The bodies of the YuNet kernels, written once for a vector type V of 16
// channels: each instruction set's file defines V and includes this inside
// its own unnamed namespace, compiled for that instruction set alone.
//
// V provides: R (16 floats), load, store, broadcast, fma(a, b, c) = a * b
// + c rounded once, max, relu; kGroup, the most blocks of 16 outputs a
// pointwise run keeps in registers; pointwisePixels(g), the pixels of a
// pointwise run of g blocks; kFirstPixels and kDepthwisePixels, those of
// the other layers' runs. All are powers of two: a row's pixels go in runs
// of that many, then of half as many, down to one, so that rows as wide
// as the maps at strides 2 and 4 (multiples of 16 and 8) need no short
// run, and a short run's sums, which wait on each other, are few.
// No include guard: each file includes it once, in its own namespace.

// Calls run(x, P) for runs of P pixels over [begin, end), then of P / 2...
template <int P, typename Run>
inline void inRuns(long begin, long end, const Run& run) {
  for (; begin + P <= end; begin += P) run(begin, std::integral_constant<int, P>());
  if constexpr (P > 1) inRuns<P / 2>(begin, end, run);
}

template <int G, int P>
inline void pointwiseRun(const float* in, int channels_in, const float* w, const float* bias, int channels_out,
                         float* out) {
  typename V::R acc[P][G];
  #pragma GCC unroll 16
  for (int g = 0; g < G; ++g) {
    const typename V::R b = V::load(bias + g * kYunetLanes);
    #pragma GCC unroll 16
    for (int p = 0; p < P; ++p) acc[p][g] = b;
  }
  for (int i = 0; i < channels_in; ++i) {
    const float* wi = w + i * channels_out;
    typename V::R wv[G];
    #pragma GCC unroll 16
    for (int g = 0; g < G; ++g) wv[g] = V::load(wi + g * kYunetLanes);
    #pragma GCC unroll 16
    for (int p = 0; p < P; ++p) {
      const typename V::R x = V::broadcast(in[p * channels_in + i]);
      #pragma GCC unroll 16
      for (int g = 0; g < G; ++g) acc[p][g] = V::fma(x, wv[g], acc[p][g]);
    }
  }
  #pragma GCC unroll 16
  for (int p = 0; p < P; ++p)
    #pragma GCC unroll 16
    for (int g = 0; g < G; ++g) V::store(out + p * channels_out + g * kYunetLanes, acc[p][g]);
}

// The pointwise layer for G blocks of outputs starting at block `first`.
template <int G>
void pointwiseGroup(const float* in, long pixels, const YunetBlock& block, int first, float* out) {
  const int cin = block.in, cout = block.out;
  const float* w = block.pw.data() + first * kYunetLanes;
  const float* bias = block.pw_bias.data() + first * kYunetLanes;
  out += first * kYunetLanes;
  inRuns<V::pointwisePixels(G)>(0, pixels, [&](long x, auto p) {
    pointwiseRun<G, decltype(p)::value>(in + x * cin, cin, w, bias, cout, out + x * cout);
  });
}

void pointwise(const float* in, long pixels, const YunetBlock& block, float* out) {
  const int blocks = block.out / kYunetLanes;
  int first = 0;
  if constexpr (V::kGroup >= 4)
    for (; first + 4 <= blocks; first += 4) pointwiseGroup<4>(in, pixels, block, first, out);
  if constexpr (V::kGroup >= 2)
    for (; first + 2 <= blocks; first += 2) pointwiseGroup<2>(in, pixels, block, first, out);
  for (; first < blocks; ++first) pointwiseGroup<1>(in, pixels, block, first, out);
}

template <int P>
inline void depthwiseRun(const float* const rows[3], long x, int channels, const typename V::R* w,
                         typename V::R bias, bool relu, float* out) {
  typename V::R acc[P];
  #pragma GCC unroll 16
  for (int p = 0; p < P; ++p) acc[p] = bias;
  #pragma GCC unroll 16
  for (int ky = 0; ky < 3; ++ky)
    #pragma GCC unroll 16
    for (int kx = 0; kx < 3; ++kx)
      #pragma GCC unroll 16
      for (int p = 0; p < P; ++p)
        acc[p] = V::fma(V::load(rows[ky] + (x + p + kx) * channels), w[ky * 3 + kx], acc[p]);
  #pragma GCC unroll 16
  for (int p = 0; p < P; ++p) V::store(out + (x + p) * channels, relu ? V::relu(acc[p]) : acc[p]);
}

void depthwise(const float* const rows[3], long width, const YunetBlock& block, float* out) {
  const int channels = block.out;
  for (int c = 0; c < channels; c += kYunetLanes) {
    typename V::R w[9];
    #pragma GCC unroll 16
    for (int tap = 0; tap < 9; ++tap) w[tap] = V::load(block.dw.data() + tap * channels + c);
    const typename V::R bias = V::load(block.dw_bias.data() + c);
    const float* const shifted[3] = {rows[0] + c, rows[1] + c, rows[2] + c};
    inRuns<V::kDepthwisePixels>(0, width, [&](long x, auto p) {
      depthwiseRun<decltype(p)::value>(shifted, x, channels, w, bias, block.relu, out + c);
    });
  }
}

template <int P>
inline void firstRun(const float* const rows[3], long x, const float* w, typename V::R bias, float* out) {
  typename V::R acc[P];
  #pragma GCC unroll 16
  for (int p = 0; p < P; ++p) acc[p] = bias;
  #pragma GCC unroll 16
  for (int ky = 0; ky < 3; ++ky) {
    // The row's nine values (three pixels of three colours) are one run
    // in the image, in the order of the filter's taps.
    const float* row = rows[ky] + 6 * x;
    #pragma GCC unroll 16
    for (int t = 0; t < 9; ++t) {
      const typename V::R wv = V::load(w + (ky * 9 + t) * kYunetFirstChannels);
      #pragma GCC unroll 16
      for (int p = 0; p < P; ++p) acc[p] = V::fma(V::broadcast(row[6 * p + t]), wv, acc[p]);
    }
  }
  #pragma GCC unroll 16
  for (int p = 0; p < P; ++p) V::store(out + (x + p) * kYunetFirstChannels, V::relu(acc[p]));
}

void first(const float* const rows[3], long out_w, const YunetNetwork& net, float* out) {
  const float* w = net.first.data();
  const typename V::R bias = V::load(net.first_bias.data());
  inRuns<V::kFirstPixels>(0, out_w, [&](long x, auto p) { firstRun<decltype(p)::value>(rows, x, w, bias, out); });
}

void pool(const float* a, const float* b, long out_w, int channels, float* out) {
  for (long x = 0; x < out_w; ++x) {
    const long i = 2 * x * channels;
    for (int c = 0; c < channels; c += kYunetLanes) {
      const typename V::R top = V::max(V::load(a + i + c), V::load(a + i + channels + c));
      const typename V::R bottom = V::max(V::load(b + i + c), V::load(b + i + channels + c));
      V::store(out + x * channels + c, V::max(top, bottom));
    }
  }
}

const YunetKernels kKernels = {first, pointwise, depthwise, pool};
