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

// The face with a fifth of its size around it, squared, clipped to the photo.
cv::Mat faceTile(const cv::Mat& image, const mv::Rectangle& box) {
  cv::Mat tile(kTile, kTile, CV_8UC3, cv::Scalar(128, 128, 128));
  if (image.empty() || box.w <= 0 || box.h <= 0) return tile;
  const int side = static_cast<int>(std::max(box.w, box.h) * 1.4);
  const cv::Rect wanted(box.x + box.w / 2 - side / 2, box.y + box.h / 2 - side / 2, side, side);
  const cv::Rect inside = wanted & cv::Rect(0, 0, image.cols, image.rows);
  if (inside.area() == 0) return tile;
  cv::Mat square(side, side, CV_8UC3, cv::Scalar(128, 128, 128));
  image(inside).copyTo(square(cv::Rect(inside.x - wanted.x, inside.y - wanted.y, inside.width, inside.height)));
  cv::resize(square, tile, tile.size(), 0, 0, cv::INTER_AREA);
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
  bool written = false;
  try {
    written = cv::imwrite(path, sheet);
  } catch (const cv::Exception&) {
    written = false;
  }
  return written ? okStatus() : failure(MV_ENCODE_IMAGE, "cannot write the contact sheet " + path);
}

}  // namespace cli
