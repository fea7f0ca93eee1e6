// The YuNet finder: what selects it and where it stands in the chain, its
// working size, and what it reports of the hand-marked faces.
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "morvik/config.h"
#include "morvik/findface.h"
#include "morvik/morvik.h"
#include "support/test_support.h"

namespace {

using testing_support::photo;
using testing_support::ScopedOption;
using testing_support::testdata;

std::vector<std::string> names(const DefaultFindFaceAlgo& d) {
  std::vector<std::string> out;
  for (FindFaceAlgo* f : d.finders()) out.push_back(f->getName());
  return out;
}

bool near(const cv::Point2f& p, const cv::Rect& box) {
  // The points may lie a little outside a tight box (mouth corners, chin).
  const cv::Rect wide(box.x - box.width / 4, box.y - box.height / 4, box.width * 3 / 2, box.height * 3 / 2);
  return wide.contains(cv::Point(static_cast<int>(p.x), static_cast<int>(p.y)));
}

}  // namespace

TEST(YunetSelection, BitSelectsNothingWhileTheOptionIsOff) {
  DefaultFindFaceAlgo alone(mv::FindYunet);
  EXPECT_TRUE(alone.finders().empty());
  DefaultFindFaceAlgo chain(static_cast<mv::FindFaceAlgoType>(mv::FindYunet | 0x1E));
  EXPECT_EQ(names(chain), (std::vector<std::string>{"LBP", "Haar", "Dlib", "CNN"}));
  EXPECT_EQ(FinderSelection::fromByte(mv::FindYunet).bits, 0x80u);

  cv::Mat image = photo("faces/two_people.jpg");
  std::vector<mv::Face> faces(8);
  size_t count = faces.size();
  EXPECT_EQ(ExtractFaces(&image, faces.data(), &count, mv::FindYunet), MV_NO_FACE);
  EXPECT_EQ(count, 8u);
}

TEST(YunetSelection, OptionPutsItFirstAndUnconfirmed) {
  ScopedOption<int> on("find.yunet", 1);
  ASSERT_TRUE(on.ok());
  DefaultFindFaceAlgo chain(static_cast<mv::FindFaceAlgoType>(mv::FindYunet | 0x3E));
  EXPECT_EQ(names(chain), (std::vector<std::string>{"YuNet", "Pico", "LBP", "Haar", "Dlib", "CNN"}));
  EXPECT_TRUE(chain.confirmers().empty());

  DefaultFindFaceAlgo confirmed(static_cast<mv::FindFaceAlgoType>(mv::FindYunet | mv::FindConfirm | mv::FindLBP));
  ASSERT_EQ(names(confirmed), (std::vector<std::string>{"YuNet", "LBP"}));
  ASSERT_EQ(confirmed.confirmers().size(), 2u);
  EXPECT_EQ(confirmed.confirmers()[0], nullptr);
  EXPECT_NE(confirmed.confirmers()[1], nullptr);

  // With the network beside it, the light-CNN-only selection is no longer
  // the whole value.
  DefaultFindFaceAlgo with_confirm(static_cast<mv::FindFaceAlgoType>(mv::FindYunet | mv::FindConfirm));
  EXPECT_EQ(names(with_confirm), (std::vector<std::string>{"YuNet"}));
}

TEST(YunetSelection, WideSelectionNeedsNoOption) {
  FinderSelection selection;
  selection.bits = mv::FindYunetAlways | mv::FindDlib;
  DefaultFindFaceAlgo chain(selection);
  EXPECT_EQ(names(chain), (std::vector<std::string>{"YuNet", "Dlib"}));

  ScopedOption<int> on("find.yunet", 1);
  EXPECT_EQ(FinderSelection::fromByte(mv::FindYunet).bits, 0x80u | mv::FindYunetAlways);
}

TEST(YunetFinder, WorkingSizeFollowsItsOptionsWithinTheBound) {
  YunetFindFaceAlgo finder;
  const cv::Mat photo12mp(3000, 4000, CV_8UC3);
  std::vector<PreparedParams> scales = finder.getScales(photo12mp);
  ASSERT_EQ(scales.size(), 1u);
  EXPECT_EQ(scales[0].size, cv::Size(g_config.yunet_rescale_max, g_config.yunet_rescale_max * 3 / 4));

  ScopedOption<int> enlarge("yunet.rescale_min", 1600);
  const cv::Mat small(375, 500, CV_8UC3);
  scales = finder.getScales(small);
  EXPECT_EQ(scales[0].size, cv::Size(1600, 1200));

  // Switched off, the bound on working images still holds.
  ScopedOption<int> unbounded("yunet.rescale_max", 0);
  const cv::Mat huge(8000, 8000, CV_8UC1);
  scales = finder.getScales(huge);
  EXPECT_LE(int64_t{scales[0].size.width} * scales[0].size.height, int64_t{g_config.image_max_working_pixels});
}

TEST(YunetFinder, FindsEveryMarkedFaceWithScoreAndPoints) {
  YunetFindFaceAlgo finder;
  size_t marked = 0, matched = 0;
  for (const auto& entry : testing_support::markedFaces()) {
    cv::Mat image = photo(entry.first);
    std::vector<rotrect> faces;
    ASSERT_EQ(finder.findDetailedFaces(0, image, faces), MV_OK) << entry.first;
    for (size_t i = 0; i < faces.size(); ++i) {
      const rotrect& f = faces[i];
      EXPECT_GE(f.score, g_config.yunet_score);
      EXPECT_LE(f.score, 1.0f);
      if (i > 0) EXPECT_GE(faces[i - 1].score, f.score) << "score order";
      ASSERT_TRUE(f.hasPoints());
      EXPECT_LT(f.points[0].x, f.points[1].x) << "eye on the image's left first";
      EXPECT_LT(f.points[3].x, f.points[4].x) << "mouth corner on the image's left first";
      for (const cv::Point2f& p : f.points) EXPECT_TRUE(near(p, f.rect)) << entry.first;
    }
    for (const cv::Rect& truth : entry.second) {
      ++marked;
      for (const rotrect& f : faces) {
        if (testing_support::overlap(truth, f.rect) >= 0.4) {
          ++matched;
          break;
        }
      }
    }
    // The rectangle overload gives the same boxes; the rotrect overload is
    // the combined finder's alone.
    std::vector<rotrect> rotated;
    EXPECT_EQ(finder.findFaces(0, image, rotated), MV_NOT_SUPPORTED);
    std::vector<cv::Rect> boxes;
    ASSERT_EQ(finder.findFaces(0, image, boxes), MV_OK);
    ASSERT_EQ(boxes.size(), faces.size());
    for (size_t i = 0; i < boxes.size(); ++i) EXPECT_EQ(boxes[i], faces[i].rect);
  }
  EXPECT_EQ(matched, marked);
}

TEST(YunetFinder, ScoreOptionDropsFacesBelowIt) {
  YunetFindFaceAlgo finder;
  cv::Mat image = photo("faces/2007_007763.jpg");
  std::vector<rotrect> low, high;
  {
    ScopedOption<float> threshold("yunet.score", 0.3f);
    ASSERT_EQ(finder.findDetailedFaces(0, image, low), MV_OK);
  }
  {
    ScopedOption<float> threshold("yunet.score", 0.9f);
    const int rc = finder.findDetailedFaces(0, image, high);
    EXPECT_TRUE(rc == MV_OK || rc == MV_NO_FACE);
  }
  EXPECT_LT(high.size(), low.size());
  for (const rotrect& f : high) EXPECT_GE(f.score, 0.9f);
  ScopedOption<float> impossible("yunet.score", 1.5f);
  std::vector<rotrect> none;
  EXPECT_EQ(finder.findDetailedFaces(0, image, none), MV_NO_FACE);
  EXPECT_TRUE(none.empty());
}

TEST(YunetFinder, RefusesAnEmptyImage) {
  YunetFindFaceAlgo finder;
  cv::Mat empty;
  std::vector<rotrect> faces(1);
  EXPECT_EQ(finder.findDetailedFaces(0, empty, faces), MV_INVALID_ARGS);
  std::vector<cv::Rect> boxes;
  EXPECT_EQ(finder.findFaces(0, empty, boxes), MV_INVALID_ARGS);
}

TEST(YunetFinder, ChainGoesOnWhenTheModelIsMissing) {
  ScopedOption<int> on("find.yunet", 1);
  mv::OptionString saved{};
  ASSERT_EQ(GetOption("yunet.path", &saved, sizeof saved), MV_OK);
  const std::string previous(saved.text, saved.length);
  const std::string missing = "/nonexistent/yunet.bin";
  mv::OptionString path{};
  path.text = missing.c_str();
  path.length = missing.size();
  ASSERT_EQ(SetOption("yunet.path", &path, sizeof path), MV_OK);
  GlobalFree();

  cv::Mat image = photo("faces/two_people.jpg");
  YunetFindFaceAlgo finder;
  std::vector<rotrect> faces;
  EXPECT_EQ(finder.findDetailedFaces(0, image, faces), MV_LOAD_CASCADE);
  std::vector<mv::Face> found(8);
  size_t count = found.size();
  EXPECT_EQ(ExtractFaces(&image, found.data(), &count, static_cast<mv::FindFaceAlgoType>(mv::FindYunet | mv::FindDlib)),
            MV_OK);
  EXPECT_EQ(count, 2u);

  path.text = previous.c_str();
  path.length = previous.size();
  EXPECT_EQ(SetOption("yunet.path", &path, sizeof path), MV_OK);
}
