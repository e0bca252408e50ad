// The numbers the Progress screen shows for a pair of byte counters, and the
// two frame-time animations.
#include <gtest/gtest.h>

#include "window/screens.h"

TEST(WindowProgress, SampleInstallShowsPercentAndMebibytes) {
  const ProgressValues v = ComputeProgress(108003328, 167772160);
  EXPECT_EQ(v.percent, 64);
  EXPECT_FLOAT_EQ(v.fill, 400.0f * 103.0f / 160.0f);
  EXPECT_EQ(SizesLine(v, Install), L"103 Mo / 160 Mo");
  EXPECT_EQ(SizesLine(v, Update), L"103 Mo / 160 Mo");
  EXPECT_EQ(SizesLine(v, Uninstall), L"");
}

TEST(WindowProgress, UnknownTotalShowsZeroAndAStub) {
  const ProgressValues v = ComputeProgress(0, 0);
  EXPECT_EQ(v.total, 1u);
  EXPECT_EQ(v.percent, 0);
  EXPECT_FLOAT_EQ(v.fill, 12.0f);
  // Done bytes without a known total still never divide by zero.
  const ProgressValues ahead = ComputeProgress(5000, 0);
  EXPECT_EQ(ahead.percent, 100);
  EXPECT_FLOAT_EQ(ahead.fill, 400.0f);
}

TEST(WindowProgress, PercentIsTruncatedNeverRounded) {
  EXPECT_EQ(ComputeProgress(999, 1000).percent, 99);
  EXPECT_EQ(ComputeProgress(1, 3).percent, 33);
  EXPECT_EQ(ComputeProgress(2, 3).percent, 66);
  // Every whole percent of a hundred reads as itself.
  for (uint64_t d = 0; d <= 100; ++d) EXPECT_EQ(ComputeProgress(d, 100).percent, static_cast<int>(d)) << d;
  // Huge counters do not overflow the percentage.
  EXPECT_EQ(ComputeProgress(UINT64_MAX / 2, UINT64_MAX).percent, 49);
}

TEST(WindowProgress, DoneBeyondTotalIsAFullBar) {
  const ProgressValues v = ComputeProgress(300, 200);
  EXPECT_EQ(v.done, 200u);
  EXPECT_EQ(v.percent, 100);
  EXPECT_FLOAT_EQ(v.fill, 400.0f);
}

TEST(WindowProgress, SizesLineOnlyAboveOneMebibyte) {
  EXPECT_EQ(SizesLine(ComputeProgress(0, 0x100000), Install), L"");
  EXPECT_EQ(SizesLine(ComputeProgress(0, 0x100001), Install), L"0 Mo / 1 Mo");
  EXPECT_EQ(SizesLine(ComputeProgress(0x100000, 0x100001), Install), L"1 Mo / 1 Mo");
  EXPECT_EQ(SizesLine(ComputeProgress(0, 0), Install), L"");
}

TEST(WindowProgress, ShimmerCyclesEvery2400MsAndStopsWithoutAnimations) {
  EXPECT_FLOAT_EQ(ShimmerOffset(0, 100, true), 0.0f);
  EXPECT_FLOAT_EQ(ShimmerOffset(1200, 100, true), 100.0f);
  EXPECT_FLOAT_EQ(ShimmerOffset(600, 100, true), 50.0f);
  EXPECT_FLOAT_EQ(ShimmerOffset(2400 * 7 + 600, 100, true), 50.0f);
  EXPECT_FLOAT_EQ(ShimmerOffset(1200, 100, false), 0.0f);
}

TEST(WindowProgress, CursorBlinksEvery450MsAndStaysWithoutAnimations) {
  EXPECT_TRUE(CursorShown(0, true));
  EXPECT_TRUE(CursorShown(449, true));
  EXPECT_FALSE(CursorShown(450, true));
  EXPECT_FALSE(CursorShown(899, true));
  EXPECT_TRUE(CursorShown(900, true));
  EXPECT_TRUE(CursorShown(450, false));
}
