// morvik annotate: the photo with its face rectangles, eye centres and the
// finder's points drawn.
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "args.h"
#include "commands.h"
#include "finding.h"

namespace cli {
namespace {

void drawFace(cv::Mat& image, size_t index, const mv::FoundFace& found) {
  const mv::Face& face = found.face;
  const cv::Rect rect = face.rect;
  // Lines grow with the photo so that they stay visible on large images.
  const int line = std::max(2, std::min(image.cols, image.rows) / 300);
  const cv::Scalar green(0, 200, 0), red(0, 0, 255);
  cv::rectangle(image, rect, green, line);
  const int radius = std::max(line + 1, rect.width / 30);
  for (const mv::Point& eye : {face.left_eye, face.right_eye}) {
    if (eye.x != 0 || eye.y != 0) cv::circle(image, cv::Point(eye.x, eye.y), radius, red, cv::FILLED);
  }
  // The finder's five points (the eyes among them), as rings over the dots.
  const cv::Scalar yellow(0, 220, 255);
  for (int i = 0; i < found.point_count; ++i) {
    cv::circle(image, cv::Point(found.points[i].x, found.points[i].y), radius, yellow, std::max(1, line / 2));
  }
  // The face's number sits above its rectangle, or inside it at the top edge.
  const double scale = std::max(0.7, line / 2.5);
  const int thickness = std::max(2, line / 2);
  int baseline = 0;
  const cv::Size text = cv::getTextSize(std::to_string(index + 1), cv::FONT_HERSHEY_SIMPLEX, scale,
                                        thickness, &baseline);
  const int above = rect.y - line - 2;
  const cv::Point label(rect.x + line, above >= text.height ? above : rect.y + line + text.height + 2);
  cv::putText(image, std::to_string(index + 1), label, cv::FONT_HERSHEY_SIMPLEX, scale, green, thickness);
}


}  // namespace

int runAnnotate(int argc, char** argv, int first) {
  ArgGrammar grammar{{"--algo", "--max"}, {}, 2, 2};
  Args args;
  Finders algo = 0;
  size_t max_faces = 0;
  Status status = parseFindingCommand(argc, argv, first, grammar, args, algo, max_faces);
  if (!status.ok()) {
    report("annotate", status);
    return exitStatus(status.code);
  }
  const std::string& photo = args.positional[0];
  const std::string& out = args.positional[1];
  if (!cv::haveImageWriter(out)) {
    report(out, failure(MV_ENCODE_IMAGE, "no image format for this file name (use .png or .jpg)"));
    return exitStatus(MV_ENCODE_IMAGE);
  }
  cv::Mat image;
  std::vector<mv::FoundFace> faces;
  status = readPhoto(photo, image);
  if (status.ok()) status = findFaces(image, algo, max_faces, faces);
  if (!status.ok()) {
    report(photo, status);
    return exitStatus(status.code);
  }
  for (size_t i = 0; i < faces.size(); ++i) drawFace(image, i, faces[i]);
  status = writeImageFile(out, image);
  if (!status.ok()) {
    report(out, status);
    return exitStatus(status.code);
  }
  std::cout << out << ": " << faces.size() << (faces.size() == 1 ? " face" : " faces") << " drawn on "
            << photo << "\n";
  return 0;
}

}  // namespace cli
