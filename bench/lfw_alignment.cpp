// Where the library's way of describing a face gains or loses against plain
// dlib on labelled pairs (LFW's layout: pairs.csv with image_a,image_b,same
// and the photos beside it). For every photo it describes the largest face
//  - as plain dlib does: HOG detector (again on the image upsampled once
//    when it finds nothing), the 68 landmarks on the photo,
//    get_face_chip_details(shape, 150, 0.25), extract_image_chip and dlib's
//    own ResNet network;
//  - with the library's defaults (the given finder chain, eyes, upright
//    crop, landmarks on the crop);
//  - the same with the eyes moved to the landmarks' eye centres;
//  - with "align.mode" 1 on the library's face and on plain dlib's box, and
//    with modes 2 and 3 on the library's face;
//  - optionally with "describe.jitters" N in either mode;
// and it compares each photo's eyes with the landmarks' eye centres (an
// eye that is really an eyebrow, a nostril, the same eye twice, the two
// swapped), the rotation angles, the face boxes and the chips. At the end:
// accuracy at the threshold per way, time per face, and the causes with
// counts for the pairs that plain dlib calls right and the library wrong.
//
//   ./build/bench/lfw_alignment ../shared/lfw-dev [--algo 0x1E] [--find-yunet 0|1] [--jitters N]
//                               [--csv per_photo.csv] [--dump descriptors.tsv]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <dlib/dnn.h>
#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>
#include <opencv2/imgcodecs.hpp>

#include "morvik/config.h"
#include "morvik/dlib_wrappers.h"
#include "morvik/morvik_info.h"
#include "support/lfw_pairs.h"
#include "support/plain_dlib_net.h"

namespace {

using namespace dlib;

using anet_type = plain_dlib::DescriptorNet;

using Vec = std::vector<float>;
using Clock = std::chrono::steady_clock;

constexpr double kThreshold = 0.6;

using Pair = testing_support::LfwPair;

// What one way of describing gave for one photo.
struct Way {
  bool found = false;
  Vec v;
};

struct Photo {
  std::string path;
  // Plain dlib.
  bool dlib_found = false, dlib_upsampled = false;
  cv::Rect dlib_box;
  cv::Point2d shape_left, shape_right;  // landmark eye centres (image left, right)
  std::vector<cv::Point2d> shape;       // all 68, in the photo
  matrix<rgb_pixel> dlib_chip;
  // The library's face.
  bool lib_found = false, from_shape = false;
  mv::Face face{};
  double lib_angle = 0.0, shape_angle = 0.0;
  double box_iou = 0.0;
  double chip_diff = -1.0;  // mean absolute difference of the two chips
  std::map<std::string, Way> ways;
  std::string eye_case;  // see classifyEyes
};

double distance(const Vec& a, const Vec& b) {
  double sum = 0.0;
  for (size_t i = 0; i < a.size(); ++i) sum += (double{a[i]} - b[i]) * (double{a[i]} - b[i]);
  return std::sqrt(sum);
}

double iou(const cv::Rect& a, const cv::Rect& b) {
  const double inter = (a & b).area();
  const double uni = a.area() + b.area() - inter;
  return uni > 0 ? inter / uni : 0.0;
}

cv::Point2d mean(const std::vector<cv::Point2d>& pts, int first, int last) {
  cv::Point2d m(0, 0);
  for (int i = first; i <= last; ++i) m += pts[i];
  return m * (1.0 / (last - first + 1));
}

double nearest(const cv::Point2d& p, const std::vector<cv::Point2d>& pts, int first, int last) {
  double best = 1e18;
  for (int i = first; i <= last; ++i) best = std::min(best, cv::norm(p - pts[i]));
  return best;
}

// The library's eyes against the landmarks' eye centres, in units of the
// landmarks' eye distance: "ok", "swapped", "one eye twice", "eyebrow",
// "nostril/nose", "off" (elsewhere), "no landmarks".
std::string classifyEyes(const Photo& p) {
  if (p.shape.empty()) return "no landmarks";
  const cv::Point2d l(p.face.left_eye.x, p.face.left_eye.y), r(p.face.right_eye.x, p.face.right_eye.y);
  const double iod = cv::norm(p.shape_right - p.shape_left);
  if (iod <= 0) return "no landmarks";
  if (l.x > r.x) return "swapped";
  const double ll = cv::norm(l - p.shape_left) / iod, lr = cv::norm(l - p.shape_right) / iod;
  const double rl = cv::norm(r - p.shape_left) / iod, rr = cv::norm(r - p.shape_right) / iod;
  if (ll > lr && rr > rl) return "swapped";
  if ((lr < 0.35 && rr < 0.35) || (ll < 0.35 && rl < 0.35)) return "one eye twice";
  const double tolerance = 0.2;
  for (const auto& [eye, truth, err] : {std::make_tuple(l, p.shape_left, ll), std::make_tuple(r, p.shape_right, rr)}) {
    if (err <= tolerance) continue;
    const double brow = std::min(nearest(eye, p.shape, 17, 26), 1e18) / iod;
    const double nose = nearest(eye, p.shape, 27, 35) / iod;
    const double eyes = std::min(nearest(eye, p.shape, 36, 47), err * iod) / iod;
    if (eye.y < truth.y && brow < eyes) return "eyebrow";
    if (eye.y > truth.y && nose < eyes) return "nostril/nose";
    return "off";
  }
  return "ok";
}

double eyeAngle(const cv::Point2d& l, const cv::Point2d& r) {
  return std::atan2(r.y - l.y, r.x - l.x) * 180.0 / 3.141592653589793;
}

double chipDifference(const matrix<rgb_pixel>& a, const matrix<rgb_pixel>& b) {
  if (a.size() == 0 || a.nr() != b.nr() || a.nc() != b.nc()) return -1.0;
  double sum = 0.0;
  for (long r = 0; r < a.nr(); ++r)
    for (long c = 0; c < a.nc(); ++c)
      sum += std::abs(int(a(r, c).red) - int(b(r, c).red)) + std::abs(int(a(r, c).green) - int(b(r, c).green)) +
             std::abs(int(a(r, c).blue) - int(b(r, c).blue));
  return sum / (3.0 * a.size());
}

struct Timer {
  double seconds = 0.0;
  size_t faces = 0;
  template <typename F>
  auto run(F f) {
    const auto t0 = Clock::now();
    auto result = f();
    seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    ++faces;
    return result;
  }
};

struct Tool {
  frontal_face_detector hog = get_frontal_face_detector();
  shape_predictor sp;
  anet_type net;
  mv::FindFaceAlgoType algo;
  int jitters = 0;
  bool plain_dlib = true;  // --plain-dlib 0 skips plain dlib (most of the time)
  std::map<std::string, Timer> timers;

  // Plain dlib, as its face recognition example does it.
  void plainDlib(const cv::Mat& image, Photo& p) {
    cv_image<bgr_pixel> view(image);
    matrix<rgb_pixel> img;
    assign_image(img, view);
    std::vector<rectangle> dets = hog(img);
    double scale = 1.0;
    if (dets.empty()) {
      pyramid_up(img);
      dets = hog(img);
      scale = 2.0;
      p.dlib_upsampled = true;
    }
    if (dets.empty()) return;
    const rectangle det = *std::max_element(dets.begin(), dets.end(),
                                            [](const rectangle& a, const rectangle& b) { return a.area() < b.area(); });
    const auto t0 = Clock::now();
    const full_object_detection shape = sp(img, det);
    extract_image_chip(img, get_face_chip_details(shape, 150, 0.25), p.dlib_chip);
    const matrix<float, 0, 1> out = net(p.dlib_chip);
    timers["plain dlib"].seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    ++timers["plain dlib"].faces;
    p.ways["plain dlib"] = Way{true, Vec(out.begin(), out.end())};
    p.dlib_found = true;
    p.dlib_box = cv::Rect(cv::Point(int(det.left() / scale), int(det.top() / scale)),
                          cv::Point(int((det.right() + 1) / scale), int((det.bottom() + 1) / scale)));
    for (unsigned long i = 0; i < shape.num_parts(); ++i)
      p.shape.emplace_back(shape.part(i).x() / scale, shape.part(i).y() / scale);
  }

  // One library description of the given faces; false when it fails.
  bool describe(const cv::Mat& image, std::vector<mv::Face> faces, const std::string& way, Photo& p,
                cv::Mat* crop = nullptr) {
    MorvikInfo info(algo);
    if (info.loadImage(image) != 0) return false;
    std::vector<mv::FaceData> data;
    const int rc = timers[way].run([&] { return info.getFacesInfo(faces, data); });
    if (rc != 0 || data.empty()) return false;
    p.ways[way] = Way{true, Vec(data[0].vector, data[0].vector + 128)};
    if (crop) *crop = info.getImage(0).clone();
    return true;
  }

  void withOptions(int mode, int jit, const std::function<void()>& body) {
    g_config.align_mode = mode;
    g_config.describe_jitters = jit;
    body();
    g_config.align_mode = 0;
    g_config.describe_jitters = 0;
  }

  void photo(const std::string& dir, Photo& p) {
    const cv::Mat image = cv::imread(dir + "/" + p.path, cv::IMREAD_COLOR);
    if (image.empty()) return;
    if (plain_dlib) plainDlib(image, p);
    if (!p.shape.empty()) {
      p.shape_left = mean(p.shape, 36, 41);
      p.shape_right = mean(p.shape, 42, 47);
      p.shape_angle = eyeAngle(p.shape_left, p.shape_right);
    }

    MorvikInfo finder(algo);
    std::vector<mv::Face> faces;
    if (finder.loadImage(image) != 0 || finder.getFaces(faces, 0) != 0 || faces.empty()) return;
    faces.resize(1);
    p.lib_found = true;
    p.face = faces[0];
    p.from_shape = faces[0].from_shape;
    p.lib_angle = eyeAngle(cv::Point2d(p.face.left_eye.x, p.face.left_eye.y),
                           cv::Point2d(p.face.right_eye.x, p.face.right_eye.y));
    const cv::Rect lib_box(p.face.rect.x, p.face.rect.y, p.face.rect.w, p.face.rect.h);
    if (p.dlib_found) p.box_iou = iou(lib_box, p.dlib_box);
    p.eye_case = classifyEyes(p);

    cv::Mat crop;
    withOptions(0, 0, [&] { describe(image, faces, "library defaults", p, &crop); });
    if (!crop.empty()) {
      // The chip the library cut: landmarks on the whole crop.
      cv::Mat owned = crop.clone();
      cv_image<bgr_pixel> view(owned);
      const rectangle whole(0, 0, owned.cols, owned.rows);
      const full_object_detection shape = sp(view, whole);
      matrix<rgb_pixel> chip;
      extract_image_chip(view, get_face_chip_details(shape, 150, 0.25), chip);
      p.chip_diff = chipDifference(chip, p.dlib_chip);
    }
    if (!p.shape.empty()) {
      std::vector<mv::Face> truth = faces;
      truth[0].left_eye = mv::Point{int(std::lround(p.shape_left.x)), int(std::lround(p.shape_left.y))};
      truth[0].right_eye = mv::Point{int(std::lround(p.shape_right.x)), int(std::lround(p.shape_right.y))};
      truth[0].from_shape = false;
      withOptions(0, 0, [&] { describe(image, truth, "library, landmark eyes", p); });
    }
    withOptions(1, 0, [&] { describe(image, faces, "align.mode 1", p); });
    withOptions(2, 0, [&] { describe(image, faces, "align.mode 2", p); });
    withOptions(3, 0, [&] { describe(image, faces, "align.mode 3", p); });
    if (p.dlib_found && !p.dlib_upsampled) {
      std::vector<mv::Face> box(1);
      box[0].rect = mv::Rectangle{p.dlib_box.x, p.dlib_box.y, p.dlib_box.width, p.dlib_box.height};
      withOptions(1, 0, [&] { describe(image, box, "align.mode 1, dlib's box", p); });
    }
    if (jitters > 1) {
      const std::string j = " + jitters " + std::to_string(jitters);
      withOptions(0, jitters, [&] { describe(image, faces, "library defaults" + j, p); });
      withOptions(1, jitters, [&] { describe(image, faces, "align.mode 1" + j, p); });
      withOptions(2, jitters, [&] { describe(image, faces, "align.mode 2" + j, p); });
    }
  }
};

struct Score {
  size_t right = 0, same_accepted = 0, same = 0, different_rejected = 0, different = 0;
};

Score score(const std::vector<Pair>& pairs, const std::map<std::string, Photo>& photos, const std::string& way,
            std::vector<bool>* calls = nullptr) {
  Score s;
  for (const Pair& pair : pairs) {
    const auto& a = photos.at(pair.a).ways;
    const auto& b = photos.at(pair.b).ways;
    bool said_same = false;
    if (a.count(way) && b.count(way)) said_same = distance(a.at(way).v, b.at(way).v) < kThreshold;
    const bool right = said_same == pair.same;
    if (calls) calls->push_back(right);
    s.right += right;
    if (pair.same) {
      ++s.same;
      s.same_accepted += said_same;
    } else {
      ++s.different;
      s.different_rejected += !said_same;
    }
  }
  return s;
}

// How far apart a way's distances of same-person and different-person
// pairs lie (d' = difference of the means over their pooled deviation),
// and its accuracy at the best single threshold: finer than the count of
// pairs right at 0.6, which moves by one or two pairs between ways.
struct Separation {
  double d_prime = 0, best_accuracy = 0, best_threshold = 0;
};

Separation separation(const std::vector<Pair>& pairs, const std::map<std::string, Photo>& photos,
                      const std::string& way) {
  std::vector<std::pair<double, bool>> d;
  for (const Pair& pair : pairs) {
    const auto& a = photos.at(pair.a).ways;
    const auto& b = photos.at(pair.b).ways;
    d.emplace_back(a.count(way) && b.count(way) ? distance(a.at(way).v, b.at(way).v) : 9.0, pair.same);
  }
  double n[2] = {0, 0}, sum[2] = {0, 0}, sq[2] = {0, 0};
  for (const auto& [x, same] : d) {
    if (x >= 9.0) continue;
    n[same] += 1, sum[same] += x, sq[same] += x * x;
  }
  Separation s;
  if (n[0] < 2 || n[1] < 2) return s;
  const double m0 = sum[0] / n[0], m1 = sum[1] / n[1];
  const double v0 = sq[0] / n[0] - m0 * m0, v1 = sq[1] / n[1] - m1 * m1;
  s.d_prime = (m0 - m1) / std::sqrt((v0 + v1) / 2);
  std::sort(d.begin(), d.end());
  size_t different_below = 0, same_total = 0;
  for (const auto& e : d) same_total += e.second;
  size_t same_below = 0;
  for (size_t i = 0; i < d.size(); ++i) {
    (d[i].second ? same_below : different_below)++;
    const double acc = double(same_below + (d.size() - same_total - different_below)) / d.size();
    if (acc > s.best_accuracy) {
      s.best_accuracy = acc;
      s.best_threshold = i + 1 < d.size() ? (d[i].first + d[i + 1].first) / 2 : d[i].first;
    }
  }
  return s;
}

// Why a photo's library descriptor is off, first matching cause.
std::string photoCause(const Photo& p) {
  if (!p.lib_found) return "library found no face";
  if (p.dlib_found && p.box_iou < 0.3) return "library picked another face";
  if (p.eye_case != "ok" && p.eye_case != "no landmarks") return "eyes: " + p.eye_case;
  if (!p.shape.empty() && std::abs(p.lib_angle - p.shape_angle) > 5.0) return "eyes ok, angle off by > 5 degrees";
  return "eyes and angle ok: landmarks fitted on the crop";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s LFW_DIR [--algo BITS] [--find-yunet 0|1] [--jitters N] [--csv FILE] [--limit N]\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  Tool tool;
  tool.algo = static_cast<mv::FindFaceAlgoType>(0x1E);
  std::string csv, dump;
  size_t limit = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--algo") tool.algo = static_cast<mv::FindFaceAlgoType>(std::strtol(argv[i + 1], nullptr, 0));
    if (arg == "--plain-dlib") tool.plain_dlib = std::atoi(argv[i + 1]) != 0;
    if (arg == "--jitters") tool.jitters = std::atoi(argv[i + 1]);
    if (arg == "--csv") csv = argv[i + 1];
    if (arg == "--dump") dump = argv[i + 1];
    if (arg == "--limit") limit = std::strtoul(argv[i + 1], nullptr, 10);
    // With 1, bit 0x80 of --algo selects the YuNet finder.
    if (arg == "--find-yunet") g_config.find_yunet = std::atoi(argv[i + 1]);
  }
  deserialize(g_config.dlib_shape) >> tool.sp;
  deserialize(g_config.dlib_anet) >> tool.net;

  std::vector<Pair> pairs = testing_support::readLfwPairs(dir);
  if (limit > 0 && pairs.size() > limit) pairs.resize(limit);
  std::map<std::string, Photo> photos;
  for (const Pair& p : pairs) {
    photos[p.a].path = p.a;
    photos[p.b].path = p.b;
  }
  size_t done = 0;
  for (auto& [path, photo] : photos) {
    tool.photo(dir, photo);
    if (++done % 100 == 0) std::fprintf(stderr, "%zu/%zu photos\n", done, photos.size());
  }

  // Accuracy per way.
  std::set<std::string> ways;
  for (const auto& [path, photo] : photos)
    for (const auto& [way, w] : photo.ways) ways.insert(way);
  std::printf("\n%zu pairs, %zu photos, finder chain 0x%02X, threshold %.2f\n", pairs.size(), photos.size(),
              unsigned(tool.algo), kThreshold);
  std::printf("%-40s %8s %8s %10s %10s %12s %8s %16s\n", "way", "right", "accuracy", "same acc.", "diff. rej.",
              "ms per face", "d'", "best acc. (t)");
  for (const std::string& way : ways) {
    const Score s = score(pairs, photos, way);
    const Separation sep = separation(pairs, photos, way);
    const Timer& t = tool.timers[way];
    std::printf("%-40s %8zu %8.4f %10.3f %10.3f %12.1f %8.3f %9.4f (%.3f)\n", way.c_str(), s.right,
                double(s.right) / pairs.size(), double(s.same_accepted) / std::max<size_t>(s.same, 1),
                double(s.different_rejected) / std::max<size_t>(s.different, 1),
                t.faces ? 1000.0 * t.seconds / t.faces : 0.0, sep.d_prime, sep.best_accuracy, sep.best_threshold);
  }

  // Per photo.
  std::map<std::string, size_t> eye_cases, finds;
  size_t rotated = 0, angle5 = 0, angle10 = 0, from_shape = 0, box_low = 0, chip_far = 0, mode1_dlib_off = 0;
  double mode1_dlib_largest = 0.0;
  for (const auto& [path, p] : photos) {
    finds[p.dlib_found ? (p.dlib_upsampled ? "dlib found (upsampled)" : "dlib found") : "dlib none"]++;
    if (!p.lib_found) {
      finds["library none"]++;
      continue;
    }
    eye_cases[p.eye_case]++;
    from_shape += p.from_shape;
    rotated += std::abs(p.lib_angle) > 3.0;
    if (!p.shape.empty()) {
      angle5 += std::abs(p.lib_angle - p.shape_angle) > 5.0;
      angle10 += std::abs(p.lib_angle - p.shape_angle) > 10.0;
    }
    box_low += p.dlib_found && p.box_iou < 0.5;
    chip_far += p.chip_diff > 20.0;
    if (p.ways.count("align.mode 1, dlib's box") && p.ways.count("plain dlib")) {
      const Vec& a = p.ways.at("align.mode 1, dlib's box").v;
      const Vec& b = p.ways.at("plain dlib").v;
      double largest = 0.0;
      for (size_t i = 0; i < a.size(); ++i) largest = std::max(largest, double(std::abs(a[i] - b[i])));
      mode1_dlib_largest = std::max(mode1_dlib_largest, largest);
      mode1_dlib_off += largest > 1e-5;
    }
  }
  std::printf("\nfaces found:");
  for (const auto& [k, n] : finds) std::printf("  %s %zu", k.c_str(), n);
  std::printf("\nlibrary eyes against the landmarks' eye centres (photos with a library face):\n");
  for (const auto& [k, n] : eye_cases) std::printf("  %-16s %zu\n", k.c_str(), n);
  std::printf("eyes from the landmark fallback: %zu; rotated (|angle| > 3): %zu; angle off by > 5: %zu, > 10: %zu\n",
              from_shape, rotated, angle5, angle10);
  std::printf("library box vs dlib box IoU < 0.5: %zu; chips differing by > 20 grey levels on average: %zu\n",
              box_low, chip_far);
  std::printf("align.mode 1 on dlib's box vs plain dlib: largest value difference %.3g, photos over 1e-5: %zu\n",
              mode1_dlib_largest, mode1_dlib_off);

  // dlib's HOG box against its own landmarks: centre offset and side in
  // units of the landmarks' spread (their RMS distance from their mean).
  {
    double n = 0, sx = 0, sy = 0, sw = 0, sxx = 0, syy = 0, sww = 0;
    for (const auto& [path, p] : photos) {
      if (!p.dlib_found || p.dlib_upsampled || p.shape.size() != 68) continue;
      cv::Point2d c = mean(p.shape, 0, 67);
      double spread = 0;
      for (const auto& q : p.shape) spread += (q.x - c.x) * (q.x - c.x) + (q.y - c.y) * (q.y - c.y);
      spread = std::sqrt(spread / 68);
      const double dx = (p.dlib_box.x + p.dlib_box.width / 2.0 - c.x) / spread;
      const double dy = (p.dlib_box.y + p.dlib_box.height / 2.0 - c.y) / spread;
      const double w = p.dlib_box.width / spread;
      n += 1; sx += dx; sy += dy; sw += w; sxx += dx * dx; syy += dy * dy; sww += w * w;
    }
    if (n > 1) {
      std::printf("dlib box from its landmarks (%.0f faces): centre offset x %.4f (sd %.4f), y %.4f (sd %.4f), "
                  "side %.4f (sd %.4f) spreads\n", n, sx / n, std::sqrt(sxx / n - sx * sx / n / n), sy / n,
                  std::sqrt(syy / n - sy * sy / n / n), sw / n, std::sqrt(sww / n - sw * sw / n / n));
    }
  }

  // Pairs plain dlib calls right and the library wrong, by the cause found
  // on the photo whose library descriptor lies farther from dlib's.
  std::vector<bool> lib_calls, dlib_calls;
  score(pairs, photos, "library defaults", &lib_calls);
  score(pairs, photos, "plain dlib", &dlib_calls);
  std::map<std::string, size_t> lost, won;
  for (size_t i = 0; i < pairs.size(); ++i) {
    if (lib_calls[i] == dlib_calls[i]) continue;
    const Photo& a = photos.at(pairs[i].a);
    const Photo& b = photos.at(pairs[i].b);
    auto gap = [](const Photo& p) {
      if (!p.ways.count("library defaults") || !p.ways.count("plain dlib")) return 1e9;
      return distance(p.ways.at("library defaults").v, p.ways.at("plain dlib").v);
    };
    const Photo& worse = gap(a) >= gap(b) ? a : b;
    const std::string cause = std::string(pairs[i].same ? "same: " : "different: ") + photoCause(worse);
    (dlib_calls[i] ? lost : won)[cause]++;
  }
  std::printf("\npairs plain dlib calls right and the library defaults wrong, by cause:\n");
  for (const auto& [k, n] : lost) std::printf("  %-60s %zu\n", k.c_str(), n);
  std::printf("pairs the library defaults call right and plain dlib wrong:\n");
  for (const auto& [k, n] : won) std::printf("  %-60s %zu\n", k.c_str(), n);

  if (!dump.empty()) {
    // Every way's descriptor of every photo, for trying combinations of
    // ways without describing the photos again.
    std::ofstream out(dump);
    out.precision(9);
    for (const auto& [path, p] : photos) {
      for (const auto& [way, w] : p.ways) {
        out << path << "\t" << way;
        for (float x : w.v) out << "\t" << x;
        out << "\n";
      }
    }
  }
  if (!csv.empty()) {
    std::ofstream out(csv);
    out << "photo,dlib_found,lib_found,from_shape,box_iou,eye_case,lib_angle,shape_angle,chip_diff,gap_lib_dlib\n";
    for (const auto& [path, p] : photos) {
      double gap = -1;
      if (p.ways.count("library defaults") && p.ways.count("plain dlib"))
        gap = distance(p.ways.at("library defaults").v, p.ways.at("plain dlib").v);
      out << path << "," << p.dlib_found << "," << p.lib_found << "," << p.from_shape << "," << p.box_iou << ","
          << p.eye_case << "," << p.lib_angle << "," << p.shape_angle << "," << p.chip_diff << "," << gap << "\n";
    }
  }
  return 0;
}
