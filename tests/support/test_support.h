// Helpers shared by the test programs.
#ifndef MORVIK_TEST_SUPPORT_H_
#define MORVIK_TEST_SUPPORT_H_

#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "morvik/morvik.h"

namespace testing_support {

// Sets a numeric option for the lifetime of the object, then restores it.
template <typename T>
class ScopedOption {
 public:
  ScopedOption(const char* name, T value) : name_(name) {
    ok_ = GetOption(name_, &saved_, sizeof saved_) == 0 && SetOption(name_, &value, sizeof value) == 0;
  }
  ~ScopedOption() { SetOption(name_, &saved_, sizeof saved_); }
  ScopedOption(const ScopedOption&) = delete;
  ScopedOption& operator=(const ScopedOption&) = delete;
  // Whether the option was read and set.
  bool ok() const { return ok_; }

 private:
  const char* name_;
  T saved_{};
  bool ok_ = false;
};

// Path of a file under the shared test photographs.
std::string testdata(const std::string& relative);
// A test photograph decoded as OpenCV does by default (BGR).
cv::Mat photo(const std::string& relative);
// The raw bytes of a file; empty when it cannot be read.
std::vector<char> fileBytes(const std::string& path);
// A unique scratch path under the temporary directory.
std::string scratchPath(const std::string& name);
// The faces marked in faces/boxes.csv (x, y, width, height), by photo.
std::map<std::string, std::vector<cv::Rect>> markedFaces();
// Intersection over union of two boxes; 0 when both are empty.
double overlap(const cv::Rect& a, const cv::Rect& b);
// The photo cut to twice the face's box around its centre (within the
// photo), a copy: a portrait in which the face fills most of the frame.
cv::Mat portraitAround(const cv::Mat& photo, const cv::Rect& face);

// Redirects a standard stream into a string for the lifetime of the object.
class StreamCapture {
 public:
  explicit StreamCapture(std::ostream& stream) : stream_(stream), old_(stream.rdbuf(buffer_.rdbuf())) {}
  ~StreamCapture() { stream_.rdbuf(old_); }
  std::string text() const { return buffer_.str(); }

 private:
  std::ostream& stream_;
  std::ostringstream buffer_;
  std::streambuf* old_;
};

}  // namespace testing_support

#endif  // MORVIK_TEST_SUPPORT_H_
