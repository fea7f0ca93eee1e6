// Images of odd geometry (strips of one pixel, long thin bands, a large
// square) through every finder: each call ends with a face or "no face",
// never with a signal, an exception or memory past a bound. Each call runs
// in a child process of its own under an address-space limit, so that a
// runaway allocation shows as a failure of that call instead of taking the
// test program down.
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "morvik/morvik.h"

namespace {

// A child killed by this alarm was hung: no call should come near it.
constexpr unsigned kHangSeconds = 300;
constexpr rlim_t kAddressSpace = rlim_t{6} << 30;
constexpr int kExceptionExit = 70;
constexpr int kOtherCodeExit = 71;

struct Shape {
  int rows, cols;
};

const Shape kShapes[] = {{1, 800},    {800, 1},    {2, 800},    {800, 2},     {3, 2000},
                         {2000, 3},   {16, 5000},  {5000, 16},  {1, 20000},   {20000, 1},
                         {12000, 300}, {300, 12000}, {8000, 8000}};

const mv::FindFaceAlgoType kFinders[] = {
    static_cast<mv::FindFaceAlgoType>(0x02), static_cast<mv::FindFaceAlgoType>(0x04),
    static_cast<mv::FindFaceAlgoType>(0x08), static_cast<mv::FindFaceAlgoType>(0x10),
    static_cast<mv::FindFaceAlgoType>(0x1E), static_cast<mv::FindFaceAlgoType>(0x20),
    static_cast<mv::FindFaceAlgoType>(0x40)};

bool underSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  return false;
}

// Noise, so that the cascades have windows to look at; the same for every
// run.
cv::Mat noise(const Shape& shape, int type) {
  cv::Mat image(shape.rows, shape.cols, type);
  cv::RNG rng(0x5eed);
  rng.fill(image, cv::RNG::UNIFORM, 0, 256);
  return image;
}

struct Outcome {
  bool signalled = false;
  int signal = 0;
  int exit_code = -1;
  double seconds = 0.0;
  long peak_kb = 0;
};

// Runs `call` in a child under the address-space limit (none under
// AddressSanitizer, which reserves terabytes of shadow memory); the child
// exits with the call's result code negated, or kExceptionExit.
Outcome inChild(const std::function<int()>& call) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (!underSanitizer()) {
      const rlimit limit{kAddressSpace, kAddressSpace};
      setrlimit(RLIMIT_AS, &limit);
    }
    alarm(kHangSeconds);
    int rc;
    try {
      rc = call();
    } catch (...) {
      _exit(kExceptionExit);
    }
    _exit(rc <= 0 && rc > -64 ? -rc : kOtherCodeExit);
  }
  Outcome outcome;
  int status = 0;
  rusage usage{};
  EXPECT_EQ(wait4(pid, &status, 0, &usage), pid);
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.peak_kb = usage.ru_maxrss;
  outcome.signalled = WIFSIGNALED(status);
  if (outcome.signalled) outcome.signal = WTERMSIG(status);
  if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
  return outcome;
}

std::string describe(const Shape& shape, int algo, const char* entry) {
  char text[96];
  std::snprintf(text, sizeof text, "%s %d x %d (rows x cols), finders 0x%02X", entry, shape.rows, shape.cols, algo);
  return text;
}

// A face or "no face", nothing else.
void expectFaceOrNone(const Outcome& outcome, const std::string& what) {
  EXPECT_FALSE(outcome.signalled) << what << ": signal " << outcome.signal;
  EXPECT_NE(outcome.exit_code, kExceptionExit) << what << ": exception";
  EXPECT_TRUE(outcome.exit_code == 0 || outcome.exit_code == -MV_NO_FACE)
      << what << ": result " << -outcome.exit_code;
  std::printf("%-60s %6.2f s %8ld MB\n", what.c_str(), outcome.seconds, outcome.peak_kb / 1024);
}

TEST(OddShapesTest, DecodedImagesEndWithFaceOrNoFace) {
  for (const Shape& shape : kShapes) {
    for (mv::FindFaceAlgoType algo : kFinders) {
      const Outcome outcome = inChild([&] {
        // Grey strips, colour for the rest: both go through the same rule.
        const cv::Mat image = noise(shape, shape.rows <= 3 || shape.cols <= 3 ? CV_8UC1 : CV_8UC3);
        std::vector<mv::Face> faces(8);
        size_t count = faces.size();
        return ExtractFaces(&image, faces.data(), &count, algo);
      });
      expectFaceOrNone(outcome, describe(shape, algo, "ExtractFaces"));
    }
  }
}

// Bounds a host sets far beyond any photo (enlarge everything to 100000
// pixels, never shrink) still leave every working image within the bound.
TEST(OddShapesTest, AbsurdScalingOptionsStayWithinTheBound) {
  const char* keys[] = {"image.rescale_min", "image.rescale_max", "dlib.cnn.rescale_min", "dlib.cnn.rescale_max"};
  const int absurd[] = {100000, 0, 100000, 100000};
  int saved[4];
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(GetOption(keys[i], &saved[i], sizeof saved[i]), MV_OK);
    int value = absurd[i];
    ASSERT_EQ(SetOption(keys[i], &value, sizeof value), MV_OK);
  }
  for (const Shape& shape : kShapes) {
    // The square gives every finder a working image at the bound, 16
    // megapixels: half a minute for the chain, too long for a unit test.
    if (shape.rows == shape.cols) continue;
    for (int algo : {0x10, 0x1E}) {
      const Outcome outcome = inChild([&] {
        const cv::Mat image = noise(shape, CV_8UC3);
        std::vector<mv::Face> faces(8);
        size_t count = faces.size();
        return ExtractFaces(&image, faces.data(), &count, static_cast<mv::FindFaceAlgoType>(algo));
      });
      expectFaceOrNone(outcome, describe(shape, algo, "ExtractFaces, absurd scaling"));
    }
  }
  for (int i = 0; i < 4; ++i) SetOption(keys[i], &saved[i], sizeof saved[i]);
}

// The YuNet finder (bit 0x80 with "find.yunet" 1) at its own bounds and
// at the largest enlargement they allow: every working image stays within
// the bound on working images.
TEST(OddShapesTest, NetworkFinderEndsWithFaceOrNoFace) {
  int on = 1, saved_on = 0, saved_min = 0;
  ASSERT_EQ(GetOption("find.yunet", &saved_on, sizeof saved_on), MV_OK);
  ASSERT_EQ(GetOption("yunet.rescale_min", &saved_min, sizeof saved_min), MV_OK);
  ASSERT_EQ(SetOption("find.yunet", &on, sizeof on), MV_OK);
  for (int enlarge : {saved_min, 65536}) {
    ASSERT_EQ(SetOption("yunet.rescale_min", &enlarge, sizeof enlarge), MV_OK);
    for (const Shape& shape : kShapes) {
      const Outcome outcome = inChild([&] {
        const cv::Mat image = noise(shape, CV_8UC3);
        std::vector<mv::Face> faces(8);
        size_t count = faces.size();
        return ExtractFaces(&image, faces.data(), &count, mv::FindYunet);
      });
      expectFaceOrNone(outcome, describe(shape, 0x80, enlarge == saved_min ? "ExtractFaces, YuNet"
                                                                            : "ExtractFaces, YuNet enlarged"));
    }
  }
  SetOption("yunet.rescale_min", &saved_min, sizeof saved_min);
  SetOption("find.yunet", &saved_on, sizeof saved_on);
}

TEST(OddShapesTest, EncodedStripsEndWithFaceOrNoFace) {
  for (const Shape& shape : kShapes) {
    if (shape.rows == shape.cols) continue;  // the strips only: encoding the square costs seconds
    const Outcome outcome = inChild([&] {
      std::vector<unsigned char> png;
      if (!cv::imencode(".png", noise(shape, CV_8UC3), png)) return -99;
      std::vector<mv::FaceData> data(4);
      size_t count = data.size();
      return ExtractFacesInfo(png.data(), png.size(), data.data(), &count,
                              static_cast<mv::FindFaceAlgoType>(0x1E));
    });
    expectFaceOrNone(outcome, describe(shape, 0x1E, "ExtractFacesInfo"));
  }
}

}  // namespace
