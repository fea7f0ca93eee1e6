// Helpers shared by the test programs.
#ifndef MORVIK_TEST_SUPPORT_H_
#define MORVIK_TEST_SUPPORT_H_

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace testing_support {

// Path of a file under the shared test photographs.
std::string testdata(const std::string& relative);
// A test photograph decoded as OpenCV does by default (BGR).
cv::Mat photo(const std::string& relative);
// The raw bytes of a file; empty when it cannot be read.
std::vector<char> fileBytes(const std::string& path);
// A unique scratch path under the temporary directory.
std::string scratchPath(const std::string& name);

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
