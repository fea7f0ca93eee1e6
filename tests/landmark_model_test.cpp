// The landmark model reader builds the model dlib's reader builds, and
// hands anything it cannot read exactly as dlib would back to dlib.
#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dlib/image_processing/shape_predictor.h>
#include <gtest/gtest.h>

#include "landmark_model_reader.h"
#include "model_file.h"
#include "morvik/config.h"
#include "morvik/dlib_wrappers.h"
#include "test_support.h"

namespace {

using Column = dlib::matrix<float, 0, 1>;

std::string serialized(const dlib::shape_predictor& model) {
  std::ostringstream out;
  dlib::serialize(model, out);
  return out.str();
}

// Numbers dlib encodes in every width: zero, subnormals (those just below
// the normal range too), the extremes, infinities, NaN, and values of 1 to
// 4 mantissa bytes.
float pick(std::mt19937& random, int i) {
  static const float kSpecial[] = {0.0f,
                                   -0.0f,
                                   1e-40f,
                                   -1e-45f,
                                   std::numeric_limits<float>::min(),
                                   std::ldexp(1.5f, -127),  // subnormal, one step below the normals
                                   -std::ldexp(1.0f, -127),
                                   std::numeric_limits<float>::max(),
                                   -std::numeric_limits<float>::max(),
                                   std::numeric_limits<float>::infinity(),
                                   -std::numeric_limits<float>::infinity(),
                                   std::numeric_limits<float>::quiet_NaN(),
                                   0.5f,
                                   -3.0f,
                                   1024.0f};
  constexpr int kSpecials = sizeof kSpecial / sizeof kSpecial[0];
  if (i < kSpecials) return kSpecial[i];
  return std::uniform_real_distribution<float>(-300.0f, 300.0f)(random) *
         std::pow(2.0f, static_cast<float>(i % 40 - 20));
}

// Ways to break a model that dlib parses without complaint.
enum class Fault { kNone, kSplitPastPixels, kMissingLeaf, kShortLeaf, kNaNLeaf, kOddShape };

// A small model with the layout of the real one: `points` points, 3
// cascades of 4 trees of depth 2, 8 feature pixels per cascade; leaf values
// and thresholds from pick() when `specials`, plain numbers otherwise.
dlib::shape_predictor syntheticModel(long points = 5, bool specials = true, Fault fault = Fault::kNone) {
  std::mt19937 random(7);
  int n = specials ? 0 : 100;
  Column initial(2 * points + (fault == Fault::kOddShape ? 1 : 0));
  for (long i = 0; i < initial.size(); ++i) initial(i) = std::uniform_real_distribution<float>(0, 1)(random);
  std::vector<std::vector<dlib::impl::regression_tree>> forests(3);
  std::vector<std::vector<dlib::vector<float, 2>>> pixels(3);
  for (size_t c = 0; c < forests.size(); ++c) {
    for (int p = 0; p < 8; ++p) pixels[c].emplace_back(pick(random, 20 + p), pick(random, 30 + p));
    forests[c].resize(4);
    for (dlib::impl::regression_tree& tree : forests[c]) {
      for (int s = 0; s < 3; ++s) {
        dlib::impl::split_feature split;
        split.idx1 = random() % 8;
        split.idx2 = random() % 8;
        split.thresh = pick(random, n++);
        tree.splits.push_back(split);
      }
      tree.leaf_values.resize(4);
      for (Column& leaf : tree.leaf_values) {
        leaf.set_size(2 * points);
        for (long i = 0; i < leaf.size(); ++i) leaf(i) = pick(random, n++);
      }
    }
  }
  dlib::impl::regression_tree& last = forests[2][3];
  if (fault == Fault::kSplitPastPixels) last.splits[1].idx2 = 8;
  if (fault == Fault::kMissingLeaf) last.leaf_values.pop_back();
  if (fault == Fault::kShortLeaf) last.leaf_values[2].set_size(2 * points - 2);
  if (fault == Fault::kNaNLeaf) last.leaf_values[1](3) = std::numeric_limits<float>::quiet_NaN();
  return dlib::shape_predictor(initial, forests, pixels);
}

std::string syntheticBytes() { return serialized(syntheticModel()); }

bool readFast(const std::string& bytes, dlib::shape_predictor& model) {
  return morvik::readLandmarkModel(bytes.data(), bytes.size(), model);
}

TEST(LandmarkModelReader, ReadsEveryValueAsDlibDoes) {
  const std::string bytes = syntheticBytes();
  dlib::shape_predictor fast;
  ASSERT_TRUE(readFast(bytes, fast));
  EXPECT_EQ(5u, fast.num_parts());
  // Written again, the model is the same bytes: every float, index and
  // size came back as dlib wrote it.
  EXPECT_TRUE(serialized(fast) == bytes);

  dlib::shape_predictor slow;
  std::istringstream in(bytes);
  dlib::deserialize(slow, in);
  EXPECT_TRUE(serialized(slow) == serialized(fast));
}

TEST(LandmarkModelReader, FindsPartsThatDoNotFitTogether) {
  EXPECT_TRUE(morvik::consistentLandmarkModel(syntheticModel(5, false)));
  for (Fault fault : {Fault::kSplitPastPixels, Fault::kMissingLeaf, Fault::kShortLeaf, Fault::kNaNLeaf,
                      Fault::kOddShape}) {
    const dlib::shape_predictor broken = syntheticModel(5, false, fault);
    EXPECT_FALSE(morvik::consistentLandmarkModel(broken)) << static_cast<int>(fault);
    // The reader still reads such a model as dlib does: checking it is the
    // loader's business.
    const std::string bytes = serialized(broken);
    dlib::shape_predictor read;
    EXPECT_TRUE(readFast(bytes, read) && serialized(read) == bytes) << static_cast<int>(fault);
  }
}

TEST(LandmarkModelReader, ADamagedModelFileIsRefusedWhenLoaded) {
  const std::string saved = g_config.dlib_shape;
  const std::string path = testing_support::scratchPath("split_past_pixels.dat");
  dlib::serialize(path) << syntheticModel(68, false, Fault::kSplitPastPixels);
  g_config.dlib_shape = path;
  std::string error;
  std::thread([&] {
    cv::Mat image(100, 100, CV_8UC3, cv::Scalar(90, 120, 150));
    cv::Rect face(10, 10, 80, 80);
    try {
      dlib_get_shape(image, face);
    } catch (const dlib::serialization_error& e) {
      error = e.what();
    }
  }).join();
  g_config.dlib_shape = saved;
  EXPECT_NE(std::string::npos, error.find("is damaged")) << error;
}

TEST(LandmarkModelReader, ReadsTheInstalledModelAsDlibWroteIt) {
  const std::vector<char> bytes = testing_support::fileBytes(g_config.dlib_shape);
  if (bytes.empty()) GTEST_SKIP() << "no landmark model at " << g_config.dlib_shape;
  dlib::shape_predictor model;
  ASSERT_TRUE(morvik::readLandmarkModel(bytes.data(), bytes.size(), model));
  EXPECT_EQ(68u, model.num_parts());
  EXPECT_TRUE(morvik::consistentLandmarkModel(model));
  const std::string again = serialized(model);
  EXPECT_TRUE(again.size() == bytes.size() && std::equal(again.begin(), again.end(), bytes.begin()));
}

TEST(LandmarkModelReader, LeavesFaultsToDlibAndTheModelAsItWas) {
  const std::string good = syntheticBytes();
  dlib::shape_predictor model;
  ASSERT_TRUE(readFast(good, model));
  const std::string before = serialized(model);

  std::vector<std::string> faults;
  for (size_t cut : {size_t{0}, size_t{1}, size_t{2}, size_t{7}, good.size() / 2, good.size() - 1})
    faults.push_back(good.substr(0, cut));
  std::string version = good;
  version[1] = 2;  // version 2 (control byte 0x01, then the value)
  faults.push_back(version);
  std::string text_float = good;
  text_float[2 + 2 + 2] |= 0x30;  // the initial shape's first float, in dlib's older text format
  faults.push_back(text_float);
  std::string wide = good;
  wide[0] = 0x09;  // nine bytes for an int
  faults.push_back(wide);
  // The initial shape's row count as 2^56 - 1 rows: refused before any
  // allocation.
  faults.push_back(good.substr(0, 1 + 1) + std::string("\x87\xff\xff\xff\xff\xff\xff\xff", 8) +
                   good.substr(1 + 1 + 2));

  for (size_t i = 0; i < faults.size(); ++i) {
    EXPECT_FALSE(readFast(faults[i], model)) << "fault " << i;
    EXPECT_TRUE(serialized(model) == before) << "fault " << i;
  }
}

TEST(LandmarkModelReader, DlibReportsTheFaultsInItsOwnWords) {
  const std::string good = syntheticBytes();
  const std::string cut = good.substr(0, good.size() / 2);
  std::string expected;
  try {
    dlib::shape_predictor model;
    std::vector<char> bytes(cut.begin(), cut.end());
    morvik::MemoryStreambuf buffer(bytes.data(), bytes.size());
    std::istream in(&buffer);
    dlib::proxy_deserialize(in) >> model;
  } catch (const dlib::serialization_error& e) {
    expected = e.what();
  }
  ASSERT_FALSE(expected.empty());

  morvik::ModelBytes bytes(cut.begin(), cut.end());
  dlib::shape_predictor model;
  try {
    morvik::deserializeModelBytes(bytes, "cut.dat", model);
    FAIL() << "half a model loaded";
  } catch (const dlib::serialization_error& e) {
    EXPECT_EQ(morvik::modelFileError(dlib::serialization_error(expected), "cut.dat").info, e.info);
  }

  // Whole, the same bytes load through the fast reader.
  morvik::ModelBytes whole(good.begin(), good.end());
  morvik::deserializeModelBytes(whole, "whole.dat", model);
  EXPECT_TRUE(serialized(model) == good);
}

}  // namespace
