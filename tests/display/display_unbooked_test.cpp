// OM before pinit: refused with one line, nothing built. Runs in its own
// process so that no other test has booked the histograms.
#include <gtest/gtest.h>

#include "kivo.h"
#include "monitor_state.h"

namespace {

TEST(DisplayBeforeBooking, RefusesAndBuildsNothing) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(OM(), -1);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("OM"), std::string::npos) << out;
  EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
  EXPECT_EQ(com, nullptr);
  EXPECT_EQ(lnevents, nullptr);
}

}  // namespace
