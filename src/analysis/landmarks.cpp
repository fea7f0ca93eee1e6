// The 68-point landmark model and what is derived from its shapes: eye
// centres and the rectangle that encloses a face's landmarks.
#include <dlib/serialize.h>

#include <cmath>
#include <future>
#include <string>
#include <system_error>

#include "check.h"
#include "morvik/config.h"
#include "morvik/dlib_wrappers.h"
#include "morvik/global_cache.h"
#include "analysis/describe_models.h"
#include "models/landmark_model.h"
#include "analysis/landmarks.h"
#include "models/model_file.h"

namespace {

// Eye centres are means over landmarks 36-47.
constexpr unsigned long kMinLandmarks = 48;

// The thread's landmark model, used by every landmark user (eye fallback,
// alignment and descriptors). Prediction only reads a parsed model, so the
// threads that load the same file share one: a thread's first load costs
// reading the file, not parsing 100 MB again.
struct ThreadLandmarks {
  std::shared_ptr<const morvik::LandmarkModel> predictor;
};

// A model without both eye outlines cannot serve this library, and one
// whose parts do not fit together would make a prediction read outside
// them: both are refused at load rather than read past their ends later.
void acceptLandmarks(const morvik::LandmarkModel& model, const std::string& path) {
  if (model.num_parts() < kMinLandmarks)
    throw dlib::serialization_error("The landmark model in " + path + " has fewer than 48 points.");
  if (!model.fits() || !model.finite())
    throw dlib::serialization_error("The landmark model in " + path + " is damaged: its parts do not fit together.");
}

morvik::LandmarkModelPtr loadLandmarks(const std::string& path) {
  return morvik::sharedModelFile<morvik::LandmarkModel>(
      path, [&path](const morvik::LandmarkModel& model) { acceptLandmarks(model, path); });
}

// The cache's loader: the configured file, or a model loaded beforehand.
struct LoadLandmarks {
  morvik::LandmarkModelPtr ready;
  bool operator()(ThreadLandmarks& m) const {
    m.predictor = ready ? ready : loadLandmarks(g_config.dlib_shape);
    return true;
  }
};

using LandmarkCache = GlobalCache<ThreadLandmarks, LoadLandmarks>;

morvik::LandmarkModelPtr landmarkModel() {
  auto model = cachedModel<ThreadLandmarks>(LoadLandmarks{});
  MV_CHECK(model && model->predictor);
  return model->predictor;
}

mv::Point meanPoint(const dlib::full_object_detection& shape, unsigned long first) {
  int64_t sx = 0, sy = 0;
  for (unsigned long i = first; i < first + 6; ++i) {
    sx += shape.part(i).x();
    sy += shape.part(i).y();
  }
  mv::Point p;
  p.x = static_cast<int32_t>(sx / 6);
  p.y = static_cast<int32_t>(sy / 6);
  return p;
}

// The box the landmark fit is given for a face rectangle (one pixel wider
// and taller than the rectangle, as it always was).
dlib::rectangle fitBox(const cv::Rect& rect) {
  return dlib::rectangle(rect.x, rect.y, rect.x + rect.width, rect.y + rect.height);
}

cv::Rect enclosingRect(dlib::full_object_detection& shape) {
  mv::Rectangle r{0, 0, 0, 0};
  DlibUpdateOptimalFaceRect(shape, &r);
  return cv::Rect(r.x, r.y, r.w, r.h);
}

}  // namespace

dlib::full_object_detection dlib_get_shape(dlib::cv_image<dlib::bgr_pixel>& image, dlib::rectangle& rect) {
  std::shared_ptr<const morvik::LandmarkModel> model = landmarkModel();
  return (*model)(image, rect);
}

dlib::full_object_detection dlib_get_shape(cv::Mat& image, cv::Rect& rect) {
  dlib::cv_image<dlib::bgr_pixel> view(image);
  dlib::rectangle r = fitBox(rect);
  return dlib_get_shape(view, r);
}

namespace morvik {

LandmarkPrefetch prefetchLandmarkModel() {
  LandmarkPrefetch prefetch;
  if (LandmarkCache::loaded()) return prefetch;
  prefetch.path = g_config.dlib_shape;
  try {
    prefetch.model = std::async(std::launch::async, loadLandmarks, prefetch.path);
  } catch (const std::system_error&) {
    // No thread to spare: the model loads when it is used.
  }
  return prefetch;
}

void adoptLandmarkModel(LandmarkPrefetch& prefetched) {
  if (!prefetched.model.valid()) return;
  LandmarkModelPtr model;
  try {
    model = prefetched.model.get();
  } catch (...) {
    return;
  }
  // The host may have pointed the option at another file meanwhile.
  if (model && !LandmarkCache::loaded() && prefetched.path == g_config.dlib_shape)
    cachedModel<ThreadLandmarks>(LoadLandmarks{model});
}

dlib::rectangle meanShapeBox(const dlib::full_object_detection& shape, const dlib::rectangle& fallback) {
  const dlib::matrix<float, 0, 1>& mean = landmarkModel()->mean_shape();
  const unsigned long n = shape.num_parts();
  if (n == 0 || static_cast<unsigned long>(mean.size()) != 2 * n) return fallback;
  // Centres of both point sets, then the size s minimising
  // sum |s * (m - m0) - (p - p0)|^2 over the points.
  double mx = 0, my = 0, px = 0, py = 0;
  for (unsigned long i = 0; i < n; ++i) {
    mx += mean(2 * i);
    my += mean(2 * i + 1);
    px += static_cast<double>(shape.part(i).x());
    py += static_cast<double>(shape.part(i).y());
  }
  mx /= n, my /= n, px /= n, py /= n;
  double cross = 0, spread = 0;
  for (unsigned long i = 0; i < n; ++i) {
    const double dx = mean(2 * i) - mx, dy = mean(2 * i + 1) - my;
    cross += dx * (static_cast<double>(shape.part(i).x()) - px) + dy * (static_cast<double>(shape.part(i).y()) - py);
    spread += dx * dx + dy * dy;
  }
  const double size = cross / spread;
  const double left = px - size * mx, top = py - size * my;
  // Coordinates stay far inside the range of a box's long sides.
  constexpr double kLimit = 1e9;
  if (!(size >= 1.0 && size < kLimit && std::fabs(left) < kLimit && std::fabs(top) < kLimit)) return fallback;
  const long x = std::lround(left), y = std::lround(top), side = std::lround(size);
  return dlib::rectangle(x, y, x + side, y + side);
}

}  // namespace morvik

void dlib_get_eyes(dlib::full_object_detection& shape, mv::Point& left_eye, mv::Point& right_eye) {
  // A shape without eye outlines (not from this library's model) has no
  // eyes to report.
  if (shape.num_parts() < kMinLandmarks) {
    left_eye = mv::Point{0, 0};
    right_eye = mv::Point{0, 0};
    return;
  }
  left_eye = meanPoint(shape, 36);
  right_eye = meanPoint(shape, 42);
}

void dlib_get_fullrect(dlib::full_object_detection& shape, dlib::rectangle& rect) {
  rect = shape.get_rect();
  for (unsigned long i = 0; i < shape.num_parts(); ++i) rect += shape.part(i);
}

bool DlibUpdateOptimalFaceRect(dlib::full_object_detection& shape, mv::Rectangle* rect) {
  if (rect == nullptr) return false;
  dlib::rectangle r;
  dlib_get_fullrect(shape, r);
  copyrect(*rect, r);
  return true;
}

bool DlibUpdateOptimalFaceRect(cv::Mat& image, cv::Rect& rect) {
  dlib::full_object_detection shape = dlib_get_shape(image, rect);
  rect = enclosingRect(shape);
  return true;
}

bool refitFaceRectWithin(cv::Mat& image, cv::Rect& rect, const cv::Rect& loaded) {
  dlib::cv_image<dlib::bgr_pixel> view(image);
  const dlib::rectangle in(loaded.x, loaded.y, loaded.x + loaded.width - 1, loaded.y + loaded.height - 1);
  bool inside = false;
  dlib::full_object_detection shape = (*landmarkModel())(view, fitBox(rect), in, &inside);
  if (!inside) return false;
  rect = enclosingRect(shape);
  return true;
}

mv::Point& copypoint(mv::Point& dst, const dlib::vector<long, 2>& src) {
  dst.x = static_cast<int32_t>(src.x());
  dst.y = static_cast<int32_t>(src.y());
  return dst;
}

mv::Rectangle& copyrect(mv::Rectangle& dst, const dlib::rectangle& src) {
  dst.x = static_cast<int32_t>(src.left());
  dst.y = static_cast<int32_t>(src.top());
  if (src.is_empty()) {
    dst.w = 0;
    dst.h = 0;
  } else {
    dst.w = static_cast<int32_t>(src.right() - src.left() + 1);
    dst.h = static_cast<int32_t>(src.bottom() - src.top() + 1);
  }
  return dst;
}
