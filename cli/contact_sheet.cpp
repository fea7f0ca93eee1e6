#include "contact_sheet.h"

#include <algorithm>
#include <filesystem>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "finding.h"

namespace cli {
namespace {

constexpr int kTile = 128;
constexpr int kLabel = 18;
constexpr int kTitle = 26;
constexpr int kColumns = 8;
constexpr double kFontScale = 0.4;

// The face with a fifth of its size around it, squared, clipped to the
// photo. The box comes from a record, which may say anything: it is
// clipped to the photo first, so that a tile never costs more than the
// photo itself, and its arithmetic is done in 64 bits.
cv::Mat faceTile(const cv::Mat& image, const mv::Rectangle& box) {
  cv::Mat tile(kTile, kTile, CV_8UC3, cv::Scalar(128, 128, 128));
  if (image.empty() || box.w <= 0 || box.h <= 0) return tile;
  const int64_t x0 = std::max<int64_t>(box.x, 0), y0 = std::max<int64_t>(box.y, 0);
  const int64_t x1 = std::min<int64_t>(int64_t{box.x} + box.w, image.cols);
  const int64_t y1 = std::min<int64_t>(int64_t{box.y} + box.h, image.rows);
  if (x1 <= x0 || y1 <= y0) return tile;
  const int64_t w = x1 - x0, h = y1 - y0;
  const int64_t side = std::max<int64_t>(std::max(w, h) * 7 / 5, 1);
  const int64_t left = x0 + w / 2 - side / 2, top = y0 + h / 2 - side / 2;
  // The square around the face, within the photo; a square reaching past
  // the photo's edge keeps its grey border, scaled down with it.
  const int64_t in_left = std::max<int64_t>(left, 0), in_top = std::max<int64_t>(top, 0);
  const int64_t in_right = std::min<int64_t>(left + side, image.cols);
  const int64_t in_bottom = std::min<int64_t>(top + side, image.rows);
  const double scale = static_cast<double>(kTile) / static_cast<double>(side);
  const cv::Rect inside(static_cast<int>(in_left), static_cast<int>(in_top), static_cast<int>(in_right - in_left),
                        static_cast<int>(in_bottom - in_top));
  const cv::Rect placed(static_cast<int>((in_left - left) * scale), static_cast<int>((in_top - top) * scale),
                        std::max(1, static_cast<int>(inside.width * scale)),
                        std::max(1, static_cast<int>(inside.height * scale)));
  const cv::Rect target = placed & cv::Rect(0, 0, kTile, kTile);
  if (inside.area() == 0 || target.area() == 0) return tile;
  cv::Mat scaled;
  cv::resize(image(inside), scaled, placed.size(), 0, 0, cv::INTER_AREA);
  scaled(cv::Rect(0, 0, target.width, target.height)).copyTo(tile(target));
  return tile;
}

// The photo's file name, shortened from the left to fit under a tile.
std::string fitted(const std::string& photo) {
  std::string name = std::filesystem::path(photo).filename().string();
  int baseline = 0;
  while (name.size() > 3 &&
         cv::getTextSize(name, cv::FONT_HERSHEY_SIMPLEX, kFontScale, 1, &baseline).width > kTile - 4) {
    name = ".." + name.substr(3);
  }
  return name;
}

}  // namespace

Status writeContactSheet(const std::string& path, const std::string& title, const std::vector<IndexedFace>& faces) {
  const size_t drawn = std::min(faces.size(), kSheetFaces);
  const int columns = static_cast<int>(std::clamp<size_t>(drawn, 1, kColumns));
  const int rows = static_cast<int>((drawn + columns - 1) / columns);
  const int width = std::max(columns * kTile, 320);
  cv::Mat sheet(kTitle + rows * (kTile + kLabel), width, CV_8UC3, cv::Scalar(255, 255, 255));
  std::string heading = title;
  if (drawn < faces.size()) heading += " (first " + std::to_string(drawn) + " shown)";
  cv::putText(sheet, heading, cv::Point(6, 18), cv::FONT_HERSHEY_SIMPLEX, 0.5, cv::Scalar(0, 0, 0), 1, cv::LINE_AA);
  std::string open_photo;
  cv::Mat image;
  for (size_t i = 0; i < drawn; ++i) {
    const IndexedFace& face = faces[i];
    if (face.photo != open_photo) {
      open_photo = face.photo;
      if (!readPhoto(face.photo, image).ok()) image.release();
    }
    const int x = static_cast<int>(i % columns) * kTile;
    const int y = kTitle + static_cast<int>(i / columns) * (kTile + kLabel);
    faceTile(image, face.data.rect).copyTo(sheet(cv::Rect(x, y, kTile, kTile)));
    cv::putText(sheet, fitted(face.photo), cv::Point(x + 2, y + kTile + 13), cv::FONT_HERSHEY_SIMPLEX, kFontScale,
                cv::Scalar(0, 0, 0), 1, cv::LINE_AA);
  }
  return writeImageFile(path, sheet);
}

}  // namespace cli
