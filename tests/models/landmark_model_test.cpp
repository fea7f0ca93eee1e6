// The flat landmark model predicts dlib's shapes; its reader builds the
// model dlib's reader builds, and hands anything it cannot read exactly as
// dlib would back to dlib.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dlib/image_processing/shape_predictor.h>
#include <gtest/gtest.h>

#include "models/landmark_model.h"
#include "models/landmark_model_reader.h"
#include "models/model_file.h"
#include "morvik/config.h"
#include "morvik/dlib_wrappers.h"
#include "support/test_support.h"

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

// The sizes of a synthetic model.
struct Layout {
  long points = 5;
  int cascades = 3, trees = 4, depth = 2, pixels = 8;
};

// A model with the layout of the real one (by default `points` points, 3
// cascades of 4 trees of depth 2, 8 feature pixels per cascade); leaf
// values and thresholds from pick() when `specials`, plain numbers
// otherwise.
std::vector<std::vector<dlib::impl::regression_tree>> syntheticForests(
    const Layout& layout, bool specials, std::mt19937& random, Column& initial,
    std::vector<std::vector<dlib::vector<float, 2>>>& pixels) {
  int n = specials ? 0 : 100;
  for (long i = 0; i < initial.size(); ++i) initial(i) = std::uniform_real_distribution<float>(0, 1)(random);
  std::vector<std::vector<dlib::impl::regression_tree>> forests(layout.cascades);
  pixels.assign(forests.size(), {});
  const int splits = (1 << layout.depth) - 1;
  for (size_t c = 0; c < forests.size(); ++c) {
    for (int p = 0; p < layout.pixels; ++p) pixels[c].emplace_back(pick(random, 20 + p), pick(random, 30 + p));
    forests[c].resize(layout.trees);
    for (dlib::impl::regression_tree& tree : forests[c]) {
      for (int s = 0; s < splits; ++s) {
        dlib::impl::split_feature split;
        split.idx1 = random() % layout.pixels;
        split.idx2 = random() % layout.pixels;
        split.thresh = pick(random, n++);
        tree.splits.push_back(split);
      }
      tree.leaf_values.resize(splits + 1);
      for (Column& leaf : tree.leaf_values) {
        leaf.set_size(2 * layout.points);
        for (long i = 0; i < leaf.size(); ++i) leaf(i) = pick(random, n++);
      }
    }
  }
  return forests;
}

dlib::shape_predictor syntheticModel(long points = 5, bool specials = true, Fault fault = Fault::kNone) {
  std::mt19937 random(7);
  Layout layout;
  layout.points = points;
  Column initial(2 * points + (fault == Fault::kOddShape ? 1 : 0));
  std::vector<std::vector<dlib::vector<float, 2>>> pixels;
  auto forests = syntheticForests(layout, specials, random, initial, pixels);
  dlib::impl::regression_tree& last = forests[2][3];
  if (fault == Fault::kSplitPastPixels) last.splits[1].idx2 = 8;
  if (fault == Fault::kMissingLeaf) last.leaf_values.pop_back();
  if (fault == Fault::kShortLeaf) last.leaf_values[2].set_size(2 * points - 2);
  if (fault == Fault::kNaNLeaf) last.leaf_values[1](3) = std::numeric_limits<float>::quiet_NaN();
  return dlib::shape_predictor(initial, forests, pixels);
}

std::string syntheticBytes() { return serialized(syntheticModel()); }

bool readFast(const std::string& bytes, morvik::LandmarkModel& model) {
  return morvik::readLandmarkModel(bytes.data(), bytes.size(), model);
}

// dlib's parse of the bytes, flattened.
morvik::LandmarkModel readByDlib(const std::string& bytes, dlib::shape_predictor* parsed = nullptr) {
  dlib::shape_predictor slow;
  std::istringstream in(bytes);
  dlib::deserialize(slow, in);
  morvik::LandmarkModel model;
  morvik::flattenLandmarkModel(slow, model);
  if (parsed) *parsed = slow;
  return model;
}

morvik::LandmarkModel flattened(const dlib::shape_predictor& dlib_model) {
  morvik::LandmarkModel model;
  morvik::flattenLandmarkModel(dlib_model, model);
  return model;
}

// The points of two shapes are the same, and so is their rectangle.
void expectSameShape(const dlib::full_object_detection& expected, const dlib::full_object_detection& actual,
                     const std::string& where) {
  ASSERT_EQ(expected.num_parts(), actual.num_parts()) << where;
  EXPECT_EQ(expected.get_rect(), actual.get_rect()) << where;
  for (unsigned long i = 0; i < expected.num_parts(); ++i)
    ASSERT_EQ(expected.part(i), actual.part(i)) << where << ", point " << i;
}

TEST(LandmarkModelReader, ReadsEveryValueAsDlibDoes) {
  const std::string bytes = syntheticBytes();
  morvik::LandmarkModel fast;
  ASSERT_TRUE(readFast(bytes, fast));
  EXPECT_EQ(5u, fast.num_parts());
  EXPECT_TRUE(fast.fits());
  EXPECT_FALSE(fast.finite());  // the infinities and NaN came through
  // Every float, index and count as dlib reads them, bit for bit.
  EXPECT_TRUE(fast == readByDlib(bytes));
  morvik::LandmarkModel other;
  ASSERT_TRUE(readFast(serialized(syntheticModel(5, false)), other));
  EXPECT_FALSE(fast == other);
}

TEST(LandmarkModel, RefusesPartsThatDoNotFitTogether) {
  EXPECT_TRUE(flattened(syntheticModel(5, false)).fits());
  EXPECT_TRUE(flattened(syntheticModel(5, false)).finite());
  for (Fault fault : {Fault::kSplitPastPixels, Fault::kMissingLeaf, Fault::kShortLeaf, Fault::kOddShape}) {
    const dlib::shape_predictor broken = syntheticModel(5, false, fault);
    morvik::LandmarkModel model;
    EXPECT_FALSE(morvik::flattenLandmarkModel(broken, model)) << static_cast<int>(fault);
    EXPECT_FALSE(model.fits()) << static_cast<int>(fault);
    EXPECT_EQ(broken.num_parts(), model.num_parts()) << static_cast<int>(fault);
    // The reader gives such bytes to dlib, whose model is then refused.
    EXPECT_FALSE(readFast(serialized(broken), model)) << static_cast<int>(fault);
  }
  // A NaN fits; the loader refuses it for not being finite.
  const std::string nan = serialized(syntheticModel(5, false, Fault::kNaNLeaf));
  morvik::LandmarkModel model;
  ASSERT_TRUE(readFast(nan, model));
  EXPECT_FALSE(model.finite());
  EXPECT_TRUE(model == readByDlib(nan));
}

// Bytes handed over a piece at a time; `give` of them, then nothing.
class PieceSource : public morvik::ByteSource {
 public:
  PieceSource(const std::string& bytes, size_t give) : bytes_(bytes), give_(give) {}
  size_t read(char* into, size_t size) override {
    const size_t n = std::min(size, give_ - std::min(give_, at_));
    std::memcpy(into, bytes_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  const std::string& bytes_;
  size_t give_;
  size_t at_ = 0;
};

// A model of several chunks, read a chunk at a time: values cut by every
// chunk boundary come out whole. A source that ends early stops the reader.
TEST(LandmarkModelReader, ReadsFromASourceAChunkAtATime) {
  std::mt19937 random(3);
  Layout layout;
  layout.points = 68;
  layout.cascades = 2;
  layout.trees = 60;
  layout.depth = 3;
  layout.pixels = 40;
  Column initial(2 * layout.points);
  std::vector<std::vector<dlib::vector<float, 2>>> pixels;
  const auto forests = syntheticForests(layout, false, random, initial, pixels);
  const std::string bytes = serialized(dlib::shape_predictor(initial, forests, pixels));
  ASSERT_GT(bytes.size(), size_t{512} << 10);  // several chunks

  PieceSource source(bytes, bytes.size());
  morvik::LandmarkModel streamed;
  ASSERT_TRUE(morvik::readLandmarkModel(source, bytes.size(), streamed));
  EXPECT_TRUE(streamed == readByDlib(bytes));

  PieceSource short_source(bytes, bytes.size() - 1000);
  morvik::LandmarkModel untouched;
  EXPECT_FALSE(morvik::readLandmarkModel(short_source, bytes.size(), untouched));
  EXPECT_FALSE(untouched.fits());
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

// The installed model, read by both readers and predicting on faces of
// the test photographs (and on boxes reaching past the image, whose outside
// pixels count as black): every point is the one dlib's own predictor gives.
TEST(LandmarkModel, PredictsDlibsShapesWithTheInstalledModel) {
  const std::vector<char> file = testing_support::fileBytes(g_config.dlib_shape);
  if (file.empty()) GTEST_SKIP() << "no landmark model at " << g_config.dlib_shape;
  const std::string bytes(file.begin(), file.end());
  morvik::LandmarkModel fast;
  ASSERT_TRUE(readFast(bytes, fast));
  EXPECT_EQ(68u, fast.num_parts());
  EXPECT_TRUE(fast.fits() && fast.finite());
  dlib::shape_predictor dlib_model;
  EXPECT_TRUE(fast == readByDlib(bytes, &dlib_model));
  // Read from the file a chunk at a time, as the library loads it.
  morvik::ModelFileSource source(g_config.dlib_shape);
  morvik::LandmarkModel streamed;
  ASSERT_TRUE(morvik::readLandmarkModel(source, source.size(), streamed));
  EXPECT_TRUE(streamed == fast);

  const struct {
    const char* photo;
    dlib::rectangle box;
  } cases[] = {
      {"faces/two_people.jpg", dlib::rectangle(792, 71, 967, 248)},
      {"faces/two_people.jpg", dlib::rectangle(-40, -30, 200, 210)},
      {"faces/two_people.jpg", dlib::rectangle(1000, 500, 1300, 800)},
      {"faces/two_people.jpg", dlib::rectangle(10, 10, 12, 12)},
      {"people/obama/obama.jpg", dlib::rectangle(100, 80, 180, 160)},
      {"faces/bald_guys.jpg", dlib::rectangle(50, 40, 250, 240)},
  };
  for (const auto& c : cases) {
    cv::Mat image = testing_support::photo(c.photo);
    if (image.empty()) continue;
    dlib::cv_image<dlib::bgr_pixel> view(image);
    expectSameShape(dlib_model(view, c.box), fast(view, c.box), c.photo);
  }
}

// A small model with random splits (any depth of path, thresholds either
// way) on a noisy image.
TEST(LandmarkModel, PredictsDlibsShapesWithASyntheticModel) {
  const dlib::shape_predictor dlib_model = syntheticModel(5, false);
  const morvik::LandmarkModel fast = flattened(dlib_model);
  ASSERT_TRUE(fast.fits());
  cv::Mat image(120, 160, CV_8UC3);
  cv::randu(image, cv::Scalar::all(0), cv::Scalar::all(255));
  dlib::cv_image<dlib::bgr_pixel> view(image);
  for (const dlib::rectangle& box : {dlib::rectangle(10, 10, 90, 90), dlib::rectangle(-20, 40, 60, 140),
                                     dlib::rectangle(100, 5, 159, 60)})
    expectSameShape(dlib_model(view, box), fast(view, box), "synthetic");
}

TEST(LandmarkModelReader, LeavesFaultsToDlibAndTheModelAsItWas) {
  const std::string good = syntheticBytes();
  morvik::LandmarkModel model;
  ASSERT_TRUE(readFast(good, model));
  const morvik::LandmarkModel before = model;

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
    EXPECT_TRUE(model == before) << "fault " << i;
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
  morvik::LandmarkModel model;
  try {
    morvik::deserializeModelBytes(bytes, "cut.dat", model);
    FAIL() << "half a model loaded";
  } catch (const dlib::serialization_error& e) {
    EXPECT_EQ(morvik::modelFileError(dlib::serialization_error(expected), "cut.dat").info, e.info);
  }

  // Whole, the same bytes load through the fast reader.
  morvik::ModelBytes whole(good.begin(), good.end());
  morvik::deserializeModelBytes(whole, "whole.dat", model);
  EXPECT_TRUE(model == readByDlib(good));
  // Bytes dlib parses but whose parts do not fit: the reader gives them up,
  // dlib's model comes through flattened as one that cannot predict.
  const std::string broken = serialized(syntheticModel(5, false, Fault::kMissingLeaf));
  morvik::ModelBytes broken_bytes(broken.begin(), broken.end());
  morvik::deserializeModelBytes(broken_bytes, "broken.dat", model);
  EXPECT_FALSE(model.fits());
  EXPECT_EQ(5u, model.num_parts());
}

}  // namespace
