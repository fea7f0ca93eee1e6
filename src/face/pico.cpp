// The pixel-comparison cascade: the window classifier, the multi-scale
// scan, the clustering of raw detections and the detector object that owns
// a cascade file and a detection buffer.
//
// The scan works on raw buffers and allocates nothing: the detection buffer
// belongs to the detector, the cluster labels live on the stack, and pixel
// offsets use fixed-point integers (x256 upright, x65536 rotated). Window
// positions are kept in 64-bit integers so that no image size can overflow
// the fixed-point products.
#include "morvik/pico.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cmath>
#include <limits>
#include <cstring>
#include <stdexcept>

#include "check.h"
#include "image/image_convert.h"
#include "morvik/config.h"
#include "morvik/image.h"

namespace {

// run_cascade's answer for a window that is no object, or that the cascade
// cannot be placed on (pico.h).
constexpr int kNotAnObject = -1;
constexpr size_t kHeaderSize = 16;
// Depths beyond this would make a single tree larger than any sane file and
// the node index arithmetic meaningless.
constexpr int32_t kMaxDepth = 16;
constexpr int32_t kMaxTrees = 1 << 20;

// 256 * sin(2 pi k / 32) and 256 * cos(2 pi k / 32), truncated toward zero.
constexpr int kSine[33] = {0,    49,   97,   142,  181,  212,  236,  251,  256,  251,  236,
                           212,  181,  142,  97,   49,   0,    -49,  -97,  -142, -181, -212,
                           -236, -251, -256, -251, -236, -212, -181, -142, -97,  -49,  0};
constexpr int kCosine[33] = {256,  251,  236,  212,  181,  142,  97,   49,   0,    -49,  -97,
                             -142, -181, -212, -236, -251, -256, -251, -236, -212, -181, -142,
                             -97,  -49,  0,    49,   97,   142,  181,  212,  236,  251,  256};

int32_t readInt32(const char* p) {
  int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

float readFloat(const char* p) {
  float v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// A view of the cascade bytes. The bytes have been validated by the
// detector (validPicoCascade) before any window is classified.
struct Cascade {
  int depth;
  int ntrees;
  const char* trees;

  explicit Cascade(const void* bytes)
      : depth(readInt32(static_cast<const char*>(bytes) + 8)),
        ntrees(readInt32(static_cast<const char*>(bytes) + 12)),
        trees(static_cast<const char*>(bytes) + kHeaderSize) {}

  size_t treeSize() const { return size_t{8} << depth; }
};

// The tree walk shared by both window functions. `Probe` maps a node test
// (r1, c1, r2, c2) to the comparison p1 <= p2.
template <typename Probe>
int evaluateCascade(const Cascade& cascade, float* q, const Probe& lessOrEqual) {
  const int leaves = 1 << cascade.depth;
  const size_t tree_size = cascade.treeSize();
  const char* tree = cascade.trees;
  float sum = 0.0f;
  float threshold = 0.0f;
  for (int t = 0; t < cascade.ntrees; ++t, tree += tree_size) {
    // Node n (1-based, heap order) starts at byte 4 * (n - 1).
    const int8_t* codes = reinterpret_cast<const int8_t*>(tree) - 4;
    int n = 1;
    for (int level = 0; level < cascade.depth; ++level) {
      const int8_t* code = codes + 4 * n;
      n = 2 * n + (lessOrEqual(code[0], code[1], code[2], code[3]) ? 1 : 0);
    }
    const char* lut = tree + 4 * (leaves - 1);
    sum += readFloat(lut + 4 * (n - leaves));
    threshold = readFloat(lut + 4 * leaves);
    if (sum <= threshold) {
      *q = sum;
      return kNotAnObject;
    }
  }
  *q = sum - threshold;
  return 1;
}

}  // namespace

bool validPicoCascade(const std::vector<char>& bytes) {
  if (bytes.size() < kHeaderSize) return false;
  const int32_t depth = readInt32(bytes.data() + 8);
  const int32_t ntrees = readInt32(bytes.data() + 12);
  if (depth < 0 || depth > kMaxDepth || ntrees < 0 || ntrees > kMaxTrees) return false;
  const uint64_t needed = kHeaderSize + uint64_t(ntrees) * (uint64_t{8} << depth);
  return bytes.size() >= needed;
}

int run_cascade(const void* cascade, float* q, int r, int c, int s, const uint8_t* pixels, int nrows,
                int ncols, int ldim) {
  if (s < 0) return kNotAnObject;
  const int64_t R = int64_t{256} * r;
  const int64_t C = int64_t{256} * c;
  const int64_t half = int64_t{128} * s;
  if ((R + half) / 256 >= nrows || (R - half) / 256 < 0 || (C + half) / 256 >= ncols ||
      (C - half) / 256 < 0) {
    return kNotAnObject;
  }
  const Cascade view(cascade);
  if (R - half >= 0 && C - half >= 0 && R + half <= INT32_MAX && C + half <= INT32_MAX) {
    // Every probe offset is non-negative and fits 32 bits: truncating
    // division is a shift. This is the path of all but the edge windows.
    const uint32_t R32 = uint32_t(R), C32 = uint32_t(C);
    return evaluateCascade(view, q, [=](int r1, int c1, int r2, int c2) {
      const uint8_t p1 = pixels[ptrdiff_t((R32 + r1 * s) >> 8) * ldim + ((C32 + c1 * s) >> 8)];
      const uint8_t p2 = pixels[ptrdiff_t((R32 + r2 * s) >> 8) * ldim + ((C32 + c2 * s) >> 8)];
      return p1 <= p2;
    });
  }
  return evaluateCascade(view, q, [=](int r1, int c1, int r2, int c2) {
    const uint8_t p1 = pixels[((R + r1 * s) / 256) * ldim + (C + c1 * s) / 256];
    const uint8_t p2 = pixels[((R + r2 * s) / 256) * ldim + (C + c2 * s) / 256];
    return p1 <= p2;
  });
}

int run_rotated_cascade(const void* cascade, float* q, int r, int c, int s, float angle,
                        const uint8_t* pixels, int nrows, int ncols, int ldim) {
  if (s < 0 || !(angle >= 0.0f && angle <= 1.0f)) return kNotAnObject;
  const int k = static_cast<int>(angle * 32);
  const int64_t qsin = int64_t{s} * kSine[k];
  const int64_t qcos = int64_t{s} * kCosine[k];
  const int64_t R = int64_t{65536} * r;
  const int64_t C = int64_t{65536} * c;
  // 65536 * sqrt(2) / 2: the rotated window must fit as a whole.
  const int64_t reach = int64_t{46341} * s;
  if ((R + reach) / 65536 >= nrows || (R - reach) / 65536 < 0 || (C + reach) / 65536 >= ncols ||
      (C - reach) / 65536 < 0) {
    return kNotAnObject;
  }
  const Cascade view(cascade);
  return evaluateCascade(view, q, [=](int r1, int c1, int r2, int c2) {
    const uint8_t p1 = pixels[((R + qcos * r1 - qsin * c1) / 65536) * ldim +
                              (C + qsin * r1 + qcos * c1) / 65536];
    const uint8_t p2 = pixels[((R + qcos * r2 - qsin * c2) / 65536) * ldim +
                              (C + qsin * r2 + qcos * c2) / 65536];
    return p1 <= p2;
  });
}

namespace {

// The next scan position, or infinity (which ends the scan) when adding the
// step no longer changes the float.
float advance(float position, float step) {
  const float next = position + step;
  return next > position ? next : std::numeric_limits<float>::infinity();
}

}  // namespace

int find_objects(float* rcsq, int maxndetections, const void* cascade, float angle,
                 const uint8_t* pixels, int nrows, int ncols, int ldim, float scalefactor,
                 float stridefactor, float minsize, float maxsize) {
  if (minsize > maxsize || maxndetections <= 0) return 0;
  int ndetections = 0;
  // A window below one pixel says nothing, and a size that stops growing
  // (scale factor at or below 1) would scan the same size forever.
  float s = std::max(minsize, 1.0f);
  while (s <= maxsize) {
    const float step = std::fmax(stridefactor * s, 1.0f);
    const float half = s / 2;
    // Positions advance in float, as the cascade was tuned; past 2^24 a
    // float stops growing by small steps, so a scan that no longer moves
    // ends there instead of spinning on one position.
    for (float r = half + 1; r <= nrows - half - 1; r = advance(r, step)) {
      for (float c = half + 1; c <= ncols - half - 1; c = advance(c, step)) {
        float q;
        const int ri = static_cast<int>(r), ci = static_cast<int>(c), si = static_cast<int>(s);
        const int hit = angle == 0.0f
                            ? run_cascade(cascade, &q, ri, ci, si, pixels, nrows, ncols, ldim)
                            : run_rotated_cascade(cascade, &q, ri, ci, si, angle, pixels, nrows,
                                                  ncols, ldim);
        if (hit != 1) continue;
        float* d = rcsq + 4 * ndetections;
        d[0] = r;
        d[1] = c;
        d[2] = s;
        d[3] = q;
        // Later windows would be dropped anyway: stop scanning.
        if (++ndetections == maxndetections) return ndetections;
      }
    }
    const float next = s * scalefactor;
    if (!(next > s)) break;
    s = next;
  }
  return ndetections;
}

float get_overlap(float r1, float c1, float s1, float r2, float c2, float s2) {
  const float overr =
      std::max(0.0f, std::min(r1 + s1 / 2, r2 + s2 / 2) - std::max(r1 - s1 / 2, r2 - s2 / 2));
  const float overc =
      std::max(0.0f, std::min(c1 + s1 / 2, c2 + s2 / 2) - std::max(c1 - s1 / 2, c2 - s2 / 2));
  return overr * overc / (s1 * s1 + s2 * s2 - overr * overc);
}

// Gives every detection linked to detection i by a chain of overlaps above
// 0.3 the label of i. An explicit stack instead of recursion: thousands of
// chained detections must not exhaust the thread's stack. Every detection
// is pushed at most once (it is labelled when pushed), so the stack never
// holds more than n entries; the labels equal those of a recursive walk.
void ccdfs(int* labels, int i, const float* rcsq, int n) {
  n = std::min(n, kPicoMaxClustered);
  // Spreading label 0 would mark nothing and revisit detections forever.
  if (i < 0 || i >= n || labels[i] == 0) return;
  int stack[kPicoMaxClustered];
  int top = 0;
  stack[top++] = i;
  while (top > 0) {
    const int k = stack[--top];
    const float* a = rcsq + 4 * k;
    for (int j = 0; j < n; ++j) {
      if (labels[j] != 0) continue;
      const float* b = rcsq + 4 * j;
      if (get_overlap(a[0], a[1], a[2], b[0], b[1], b[2]) > 0.3f) {
        labels[j] = labels[k];
        stack[top++] = j;
      }
    }
  }
}

int find_connected_components(int* labels, const float* rcsq, int n) {
  n = std::min(n, kPicoMaxClustered);
  if (n <= 0) return 0;
  std::fill(labels, labels + n, 0);
  int next = 1;
  for (int i = 0; i < n; ++i) {
    if (labels[i] != 0) continue;
    labels[i] = next;
    ccdfs(labels, i, rcsq, n);
    ++next;
  }
  return next - 1;
}

int cluster_detections(float* rcsq, int n) {
  n = std::min(n, kPicoMaxClustered);
  int labels[kPicoMaxClustered];
  const int count = find_connected_components(labels, rcsq, n);
  // Cluster L is written to position L - 1, which lies before the first
  // member of every later cluster, so no unread detection is overwritten.
  for (int label = 1; label <= count; ++label) {
    float sumr = 0, sumc = 0, sums = 0, sumq = 0;
    int members = 0;
    for (int j = 0; j < n; ++j) {
      if (labels[j] != label) continue;
      sumr += rcsq[4 * j + 0];
      sumc += rcsq[4 * j + 1];
      sums += rcsq[4 * j + 2];
      sumq += rcsq[4 * j + 3];
      ++members;
    }
    float* out = rcsq + 4 * (label - 1);
    out[0] = sumr / members;
    out[1] = sumc / members;
    out[2] = sums / members;
    out[3] = sumq;
  }
  return count;
}

PicoDetector::PicoDetector()
    : minsize(static_cast<float>(g_config.pico_minsize)),
      maxsize(static_cast<float>(g_config.pico_maxsize)) {
  if (!loadCascade(g_config.pico_path) || !validPicoCascade(cascade)) {
    throw std::runtime_error("Can't open pico config");
  }
  // Clustering looks at no more than kPicoMaxClustered detections, so a
  // larger buffer would only hold detections that are never used.
  const int detections = std::clamp(g_config.pico_maxdetections, 0, kPicoMaxClustered);
  buffer.assign(size_t(detections) * 4, 0.0f);
}

PicoDetector::~PicoDetector() = default;

bool PicoDetector::loadCascade(std::string path) {
  // The scan walks the trees without bounds checks, so only a whole cascade
  // replaces the one in use; a refused file leaves the detector working.
  std::vector<char> bytes;
  if (read_file(path.c_str(), bytes) <= 0 || !validPicoCascade(bytes)) return false;
  cascade.swap(bytes);
  return true;
}

size_t PicoDetector::detect(const cv::Mat& image, std::vector<cv::Rect>& faces) {
  MV_CHECK(!cascade.empty());
  faces.clear();
  // The scan reads one byte per pixel; other pixel types hold no faces for it.
  cv::Mat grey;
  if (morvik::toGrey8(image, grey) != 0) return 0;

  // The buffer was sized when the detector was built; the option may have
  // grown since. The angle indexes a 33-entry table.
  const int maxdetections = std::clamp(g_config.pico_maxdetections, 0, int(capacity()));
  float angle = g_config.pico_angle;
  angle = std::isnan(angle) ? 0.0f : std::clamp(angle, 0.0f, 1.0f);

  int n = find_objects(buffer.data(), maxdetections, cascade.data(), angle, grey.ptr<uint8_t>(),
                       grey.rows, grey.cols, int(grey.step[0]), g_config.pico_scalefactor,
                       g_config.pico_stridefactor, minsize, maxsize);
  n = cluster_detections(buffer.data(), n);

  const float qthreshold = g_config.pico_qthreshold;
  for (int i = 0; i < n; ++i) {
    const float* d = &buffer[4 * size_t(i)];
    if (!(d[3] >= qthreshold)) continue;
    const int size = static_cast<int>(d[2]);
    faces.emplace_back(static_cast<int>(d[1] - d[2] / 2), static_cast<int>(d[0] - d[2] / 2), size,
                       size);
  }
  return faces.size();
}
