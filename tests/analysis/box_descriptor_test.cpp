// "align.mode" 1 describes a face from its box as plain dlib does: on every
// face dlib's HOG detector finds in the test photographs, the library's
// descriptor for that box equals, within 1e-5, what dlib's shape predictor,
// get_face_chip_details, extract_image_chip and dlib's own network give;
// with "describe.jitters" the mean over dlib's jittered chips, the same on
// every call. "align.mode" 2 describes a face alike from other finders'
// boxes; 3 as plain dlib does from dlib's HOG box, found near theirs.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <dlib/dnn.h>
#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "analysis/hog_box.h"
#include "morvik/config.h"
#include "morvik/morvik.h"
#include "support/plain_dlib_net.h"
#include "support/test_support.h"

namespace {

using namespace dlib;

using ReferenceNet = plain_dlib::DescriptorNet;

constexpr float kTolerance = 1e-5f;
constexpr int kJitters = 3;

struct BoxFace {
  std::string where;
  cv::Mat image;
  rectangle box;
  std::vector<float> plain, jittered;  // dlib's descriptors
  point left_eye, right_eye;           // the landmarks' eye centres
};

int setIntOption(const char* key, int value) { return SetOption(key, &value, sizeof(value)); }

// Restores the describing options whatever a test did with them.
class DescribingOptions {
 public:
  DescribingOptions(int mode, int jitters) {
    EXPECT_EQ(0, setIntOption("align.mode", mode));
    EXPECT_EQ(0, setIntOption("describe.jitters", jitters));
  }
  ~DescribingOptions() {
    setIntOption("align.mode", 0);
    setIntOption("describe.jitters", 0);
  }
};

std::vector<float> values(const matrix<float, 0, 1>& m) { return std::vector<float>(m.begin(), m.end()); }

point eyeCentre(const full_object_detection& shape, unsigned long first) {
  long x = 0, y = 0;
  for (unsigned long i = first; i < first + 6; ++i) {
    x += shape.part(i).x();
    y += shape.part(i).y();
  }
  return point(x / 6, y / 6);
}

mv::Face faceOf(const rectangle& box) {
  mv::Face face{};
  face.rect = mv::Rectangle{static_cast<int32_t>(box.left()), static_cast<int32_t>(box.top()),
                            static_cast<int32_t>(box.width()), static_cast<int32_t>(box.height())};
  return face;
}

void expectClose(const std::vector<float>& reference, const float* ours, const std::string& where) {
  ASSERT_EQ(128u, reference.size()) << where;
  for (size_t i = 0; i < 128; ++i) EXPECT_NEAR(reference[i], ours[i], kTolerance) << where << ", value " << i;
}

class BoxDescriptor : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    faces_ = new std::vector<BoxFace>;
    ReferenceNet net;
    deserialize(g_config.dlib_anet) >> net;
    shape_predictor sp;
    deserialize(g_config.dlib_shape) >> sp;
    frontal_face_detector detector = get_frontal_face_detector();
    for (const char* file : {"people/obama/obama2.jpg", "people/biden/biden2.jpg", "faces/two_people.jpg",
                             "faces/2008_001322.jpg", "faces/bald_guys.jpg"}) {
      const cv::Mat image = testing_support::photo(file);
      if (image.empty() || std::max(image.cols, image.rows) > 1200) continue;
      cv_image<bgr_pixel> view(image);
      for (const rectangle& box : detector(view)) {
        BoxFace face{std::string(file) + " " + std::to_string(faces_->size()), image, box, {}, {}, {}, {}};
        const full_object_detection shape = sp(view, box);
        matrix<rgb_pixel> chip;
        extract_image_chip(view, get_face_chip_details(shape, 150, 0.25), chip);
        face.plain = values(net(chip));
        dlib::rand rnd;
        std::vector<matrix<rgb_pixel>> copies;
        for (int i = 0; i < kJitters; ++i) copies.push_back(jitter_image(chip, rnd));
        face.jittered = values(mean(mat(net(copies))));
        face.left_eye = eyeCentre(shape, 36);
        face.right_eye = eyeCentre(shape, 42);
        faces_->push_back(std::move(face));
      }
    }
  }
  static void TearDownTestSuite() {
    delete faces_;
    faces_ = nullptr;
  }
  static std::vector<BoxFace>* faces_;
};

std::vector<BoxFace>* BoxDescriptor::faces_ = nullptr;

TEST_F(BoxDescriptor, ModeOneGivesPlainDlibsDescriptorForTheBox) {
  ASSERT_GE(faces_->size(), 7u) << "fewer faces than the photos hold";
  DescribingOptions options(1, 0);
  for (BoxFace& f : *faces_) {
    mv::Face face = faceOf(f.box);
    mv::FaceData data{};
    size_t size = 1;
    ASSERT_EQ(0, ExtractInfo(&f.image, &face, 1, &data, &size)) << f.where;
    ASSERT_EQ(1u, size);
    expectClose(f.plain, data.vector, f.where);
    // The box stays the caller's; the eyes come from the landmarks.
    EXPECT_EQ(0, std::memcmp(&face.rect, &data.rect, sizeof(data.rect))) << f.where;
    EXPECT_EQ(f.left_eye.x(), data.left_eye.x) << f.where;
    EXPECT_EQ(f.left_eye.y(), data.left_eye.y) << f.where;
    EXPECT_EQ(f.right_eye.x(), data.right_eye.x) << f.where;
    EXPECT_EQ(f.right_eye.y(), data.right_eye.y) << f.where;
  }
}

TEST_F(BoxDescriptor, ModeOneKeepsGivenEyesAndHandsBackTheChip) {
  ASSERT_FALSE(faces_->empty());
  DescribingOptions options(1, 0);
  BoxFace& f = faces_->front();
  mv::Face face = faceOf(f.box);
  face.left_eye = mv::Point{1, 2};
  face.right_eye = mv::Point{3, 4};
  mv::FaceDataEx data{};
  size_t size = 1;
  ASSERT_EQ(0, ExtractInfoEx(&f.image, &face, 1, &data, &size));
  // Eyes do not move the box the landmarks are fitted on.
  expectClose(f.plain, data.vector, f.where);
  EXPECT_EQ(1, data.left_eye.x);
  EXPECT_EQ(4, data.right_eye.y);
  ASSERT_NE(nullptr, data.image_data.data);
  const std::vector<uchar> bytes(data.image_data.data, data.image_data.data + data.image_data.size);
  const cv::Mat chip = cv::imdecode(bytes, cv::IMREAD_COLOR);
  EXPECT_EQ(150, chip.cols);
  EXPECT_EQ(150, chip.rows);
}

TEST_F(BoxDescriptor, JittersAverageDlibsJitteredChipsTheSameOnEveryCall) {
  ASSERT_FALSE(faces_->empty());
  DescribingOptions options(1, kJitters);
  for (size_t i = 0; i < std::min<size_t>(faces_->size(), 3); ++i) {
    BoxFace& f = (*faces_)[i];
    float first[128], second[128];
    mv::Face face = faceOf(f.box);
    ASSERT_EQ(0, ExtractVector(&f.image, &face, first)) << f.where;
    face = faceOf(f.box);
    ASSERT_EQ(0, ExtractVector(&f.image, &face, second)) << f.where;
    expectClose(f.jittered, first, f.where);
    EXPECT_EQ(0, std::memcmp(first, second, sizeof(first))) << f.where;
  }
}

float distanceBetween(const float* a, const float* b) {
  float sum = 0;
  for (int i = 0; i < 128; ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return std::sqrt(sum);
}

// A box as another finder might draw it around the same face: a third
// larger, and moved down and right by a tenth of its side.
rectangle looseBox(const rectangle& box) {
  const long grow = box.width() / 6, shift = box.width() / 10;
  return rectangle(box.left() - grow + shift, box.top() - grow + shift, box.right() + grow + shift,
                   box.bottom() + grow + shift);
}

// Mode 2 fits the landmarks again from the box the model would draw around
// them: a loose box and dlib's own box give nearly one descriptor, much
// closer than mode 1 gives them (a face too small for the first fit to
// land near its features may stay off), and dlib's box gives nearly plain
// dlib's descriptor.
TEST_F(BoxDescriptor, ModeTwoDescribesAFaceAlikeFromBoxesOfOtherFinders) {
  ASSERT_GE(faces_->size(), 7u);
  std::vector<float> mode_one_gaps, mode_two_gaps;
  size_t alike = 0;
  for (BoxFace& f : *faces_) {
    float tight[2][128], loose[2][128];
    for (int mode : {1, 2}) {
      DescribingOptions options(mode, 0);
      mv::Face face = faceOf(f.box);
      ASSERT_EQ(0, ExtractVector(&f.image, &face, tight[mode - 1])) << f.where;
      face = faceOf(looseBox(f.box));
      ASSERT_EQ(0, ExtractVector(&f.image, &face, loose[mode - 1])) << f.where;
    }
    mode_one_gaps.push_back(distanceBetween(tight[0], loose[0]));
    mode_two_gaps.push_back(distanceBetween(tight[1], loose[1]));
    alike += mode_two_gaps.back() < 0.1f;
    EXPECT_LT(distanceBetween(tight[1], f.plain.data()), 0.1f) << f.where;
  }
  EXPECT_GE(alike + 1, faces_->size());
  auto median = [](std::vector<float> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
  };
  EXPECT_LT(median(mode_two_gaps), median(mode_one_gaps) / 2);
}

// Mode 3 starts from the HOG finder's box near the given one: from a loose
// box every face gets nearly plain dlib's descriptor (the HOG finder's cells
// fall elsewhere on a part of a photo than on the whole), and exactly mode
// 1's on dlib's own box where the face fills the photo, as a portrait;
// where the HOG finder sees no face it is mode 2, bit for bit.
TEST_F(BoxDescriptor, ModeThreeDescribesAFaceFromDlibsBoxNearTheGivenOne) {
  ASSERT_GE(faces_->size(), 7u);
  frontal_face_detector detector = get_frontal_face_detector();
  size_t portraits = 0;
  for (BoxFace& f : *faces_) {
    float loose[128], own[128];
    {
      DescribingOptions options(3, 0);
      mv::Face face = faceOf(looseBox(f.box));
      ASSERT_EQ(0, ExtractVector(&f.image, &face, loose)) << f.where;
    }
    EXPECT_LT(distanceBetween(loose, f.plain.data()), 0.1f) << f.where;

    cv::Mat portrait = testing_support::portraitAround(
        f.image, cv::Rect(static_cast<int>(f.box.left()), static_cast<int>(f.box.top()),
                          static_cast<int>(f.box.width()), static_cast<int>(f.box.height())));
    const std::vector<rectangle> boxes = detector(cv_image<bgr_pixel>(portrait));
    // Larger faces are searched reduced, and their boxes rounded back.
    if (boxes.size() != 1 || boxes.front().width() > morvik::kHogBoxLargestFace) continue;
    ++portraits;
    {
      DescribingOptions options(3, 0);
      mv::Face face = faceOf(looseBox(boxes.front()));
      ASSERT_EQ(0, ExtractVector(&portrait, &face, loose)) << f.where;
    }
    {
      DescribingOptions options(1, 0);
      mv::Face face = faceOf(boxes.front());
      ASSERT_EQ(0, ExtractVector(&portrait, &face, own)) << f.where;
    }
    EXPECT_EQ(0, std::memcmp(loose, own, sizeof(own))) << f.where;
  }
  EXPECT_GE(portraits + 3, faces_->size());

  const BoxFace& f = faces_->front();
  cv::Mat upside_down;
  cv::flip(f.image, upside_down, 0);
  const rectangle flipped(f.box.left(), f.image.rows - 1 - f.box.bottom(), f.box.right(),
                          f.image.rows - 1 - f.box.top());
  float described[2][128];
  for (int mode : {2, 3}) {
    DescribingOptions options(mode, 0);
    mv::Face face = faceOf(flipped);
    ASSERT_EQ(0, ExtractVector(&upside_down, &face, described[mode - 2]));
  }
  EXPECT_EQ(0, std::memcmp(described[0], described[1], sizeof(described[0])));
}

TEST(BoxDescriptorOptions, OutOfRangeValuesAreRefused) {
  EXPECT_EQ(MV_INVALID_ARGS, setIntOption("align.mode", 4));
  EXPECT_EQ(MV_INVALID_ARGS, setIntOption("align.mode", -1));
  EXPECT_EQ(MV_INVALID_ARGS, setIntOption("describe.jitters", 65));
  EXPECT_EQ(MV_INVALID_ARGS, setIntOption("describe.jitters", -1));
  EXPECT_EQ(0, g_config.align_mode);
  EXPECT_EQ(0, g_config.describe_jitters);
}

}  // namespace
