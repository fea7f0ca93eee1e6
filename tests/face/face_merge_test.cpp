// Merging the faces of all members of a chain.
#include <vector>

#include <gtest/gtest.h>

#include "face/face_merge.h"

namespace {

using morvik::MemberFace;
using morvik::MergedFace;

MemberFace find(size_t member, size_t scale, cv::Rect2d box, bool unchecked = false) {
  MemberFace f;
  f.member = member;
  f.scale = scale;
  f.box = box;
  f.found.rect = cv::Rect(box);
  f.unchecked = unchecked;
  return f;
}

TEST(FaceMerge, OverlapIsIntersectionOverUnion) {
  EXPECT_DOUBLE_EQ(morvik::overlap({0, 0, 10, 10}, {0, 0, 10, 10}), 1.0);
  EXPECT_DOUBLE_EQ(morvik::overlap({0, 0, 10, 10}, {5, 0, 10, 10}), 50.0 / 150.0);
  EXPECT_DOUBLE_EQ(morvik::overlap({0, 0, 10, 10}, {20, 0, 10, 10}), 0.0);
  EXPECT_DOUBLE_EQ(morvik::overlap({0, 0, 0, 0}, {0, 0, 0, 0}), 0.0);
}

TEST(FaceMerge, OverlappingFindsOfMembersAreOneFaceWithTheFirstMembersBox) {
  const std::vector<MergedFace> merged = morvik::mergeMemberFaces({
      find(1, 1, {100, 100, 40, 40}),  // LBP
      find(3, 3, {104, 98, 44, 44}),   // HOG: the same face
      find(3, 3, {300, 100, 40, 40}),  // HOG: another face
  });
  ASSERT_EQ(merged.size(), 2u);
  EXPECT_EQ(merged[0].first.member, 1u);
  EXPECT_EQ(merged[0].first.box, cv::Rect2d(100, 100, 40, 40));
  EXPECT_EQ(merged[0].members, 2u);
  EXPECT_EQ(merged[1].members, 1u);
}

TEST(FaceMerge, BoxesThatBarelyTouchStaySeparate) {
  // 10 x 10 boxes shifted by 6: overlap 40 / 160 = 0.25, below the threshold.
  const std::vector<MergedFace> merged =
      morvik::mergeMemberFaces({find(0, 0, {0, 0, 10, 10}), find(1, 1, {6, 0, 10, 10})});
  EXPECT_EQ(merged.size(), 2u);
}

TEST(FaceMerge, FacesOfOneScaleStayDistinct) {
  // Two neighbours that one cascade reported side by side, overlapping.
  const std::vector<MergedFace> merged = morvik::mergeMemberFaces({
      find(1, 1, {0, 0, 20, 20}),
      find(1, 1, {5, 0, 20, 20}),
      find(3, 3, {1, 0, 20, 20}),  // HOG joins the one it overlaps most
  });
  ASSERT_EQ(merged.size(), 2u);
  EXPECT_EQ(merged[0].members, 2u);
  EXPECT_EQ(merged[1].members, 1u);
}

TEST(FaceMerge, OneMemberAtTwoScalesIsOneWitness) {
  // The CNN at the working size and at its own larger scale.
  const std::vector<MergedFace> merged =
      morvik::mergeMemberFaces({find(3, 3, {50, 50, 80, 80}), find(3, 4, {52, 50, 78, 80})});
  ASSERT_EQ(merged.size(), 1u);
  EXPECT_EQ(merged[0].members, 1u);
  EXPECT_EQ(merged[0].first.scale, 3u);
}

TEST(FaceMerge, UncheckedCascadeFacesNeedASecondWitness) {
  const std::vector<MergedFace> merged = morvik::mergeMemberFaces({
      find(1, 1, {0, 0, 40, 40}, true),      // LBP alone: needs the network
      find(1, 1, {100, 0, 40, 40}, true),    // LBP and Haar agree
      find(2, 2, {101, 1, 40, 40}, true),
      find(1, 1, {200, 0, 40, 40}, true),    // LBP, and HOG agrees
      find(3, 3, {202, 0, 40, 40}, false),
      find(3, 3, {300, 0, 40, 40}, false),   // HOG alone stands
  });
  ASSERT_EQ(merged.size(), 4u);
  EXPECT_TRUE(morvik::needsConfirmation(merged[0]));
  EXPECT_FALSE(morvik::needsConfirmation(merged[1]));
  EXPECT_FALSE(morvik::needsConfirmation(merged[2]));
  EXPECT_FALSE(morvik::needsConfirmation(merged[3]));
  EXPECT_TRUE(merged[2].first.unchecked);
  EXPECT_FALSE(merged[2].unchecked);
}

TEST(FaceMerge, AFindJoinsTheFaceItOverlapsMost) {
  const std::vector<MergedFace> merged = morvik::mergeMemberFaces({
      find(0, 0, {0, 0, 20, 20}),
      find(0, 0, {12, 0, 20, 20}),
      find(1, 1, {11, 0, 20, 20}),  // 0.29 with the first, 0.90 with the second
  });
  ASSERT_EQ(merged.size(), 2u);
  EXPECT_EQ(merged[0].members, 1u);
  EXPECT_EQ(merged[1].members, 2u);
}

}  // namespace
