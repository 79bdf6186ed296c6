// The monitor before and right after booking: commands refuse without the
// histograms, pinit books once, and the first analysis creates the derived
// objects. Runs in its own process so that nothing has booked before it.
#include <gtest/gtest.h>

#include <cstring>

#include "EventRecord.h"
#include "TGraphAsymmErrors.h"
#include "TH1F.h"
#include "TH2F.h"
#include "kivo.h"
#include "monitor_plugin.h"
#include "monitor_state.h"
#include "monitor_test_support.h"

namespace {

using monitor_test::capture_stdout;

void expect_refused(const char* command, const std::function<int()>& call) {
  int result = 0;
  const std::string printed = capture_stdout([&] { result = call(); });
  EXPECT_EQ(result, -1) << command;
  EXPECT_EQ(printed, std::string(command) + ": histograms are not booked (pinit has not run)\n");
}

void expect_commands_refused_before_booking() {
  const std::string mask_before = monitor_test::read_file(file_name_tb1);
  kivo::eventio::EventRecord record;
  record.type = kivo::eventio::kBeginRunEventType;
  record.run = 5;
  auto event = kivo::eventio::make_event(record);
  expect_refused("process_event", [&] { return process_event(event.get()); });
  expect_refused("process_histos", [] { return process_histos(); });
  expect_refused("mask_pixels", [] { return mask_pixels(); });
  expect_refused("analysis", [] { return analysis(); });
  expect_refused("OM", [] { return OM(); });
  expect_refused("print_status", [] { return print_status(); });
  EXPECT_EQ(capture_stdout([] { reset_histos(); }),
            "reset_histos: histograms are not booked (pinit has not run)\n");
  EXPECT_EQ(kivo_run, 0);
  EXPECT_EQ(monitor_test::read_file(file_name_tb1), mask_before);
  set_verbose(4);
  set_refresh(9);
  EXPECT_EQ(kivo_verbose, 4);
  EXPECT_EQ(kivo_refresh, 9);
}

void expect_booked_objects() {
  EXPECT_STREQ(hnevnt->GetName(), "hnevent");
  EXPECT_STREQ(hchip->GetXaxis()->GetTitle(), "chip index");
  EXPECT_STREQ(h2d_chip[2]->GetName(), "h2d_chip_2");
  EXPECT_EQ(h2d_chip[2]->GetNbinsX(), 9216);
  EXPECT_EQ(h2d_chip[2]->GetNbinsY(), 512);
  EXPECT_EQ(h2d_chip[2]->GetSumw2N(), 0) << "no per-bin errors kept for the maps";
  EXPECT_STREQ(gmpos_chip[3]->GetName(), "gmpos_chip_3");
  EXPECT_EQ(gmpos_chip[3]->GetN(), 0);
  EXPECT_EQ(haxis_chip->GetMaximum(), 500);
}

void expect_first_analysis_creates_copies() {
  hchip->Fill(1, 7);
  hdiffrow_chip[2]->Fill(3);
  EXPECT_EQ(analysis(), 1);
  ASSERT_NE(hhitrate_chip, nullptr);
  EXPECT_STREQ(hhitrate_chip->GetName(), "hhitrate_chip");
  EXPECT_STREQ(hwarnrate_chip->GetName(), "hwarnrate_chip");
  EXPECT_STREQ(herrrate_chip->GetName(), "herrrate_chip");
  EXPECT_EQ(hhitrate_chip->GetBinContent(2), 7) << "a copy of its source";
  EXPECT_EQ(hhitrate_chip->GetLineColor(), 600);
  char name[500];
  for (int i = 0; i < NSTAVE; i++) {
    sprintf(name, "hnhit_chip_norm_%i", i);
    EXPECT_STREQ(hnhit_chip_norm[i]->GetName(), name);
    sprintf(name, "h2d_chip_norm_%i", i);
    EXPECT_STREQ(h2d_chip_norm[i]->GetName(), name);
    EXPECT_EQ(h2d_chip_norm[i]->GetNbinsX(), 9216);
    sprintf(name, "hdiffrow_chip_norm_%i", i);
    EXPECT_STREQ(hdiffrow_chip_norm[i]->GetName(), name);
    sprintf(name, "hdiffcol_chip_norm_%i", i);
    EXPECT_STREQ(hdiffcol_chip_norm[i]->GetName(), name);
    EXPECT_EQ(hdiffcol_chip_norm[i]->GetLineColor(), chipColor[i]);
    EXPECT_EQ(gmpos_chip[i]->GetN(), 0);
  }
  EXPECT_EQ(hdiffrow_chip_norm[2]->GetBinContent(hdiffrow_chip_norm[2]->FindBin(3)), 1);
  TH1D* created = hhitrate_chip;
  EXPECT_EQ(analysis(), 1);
  EXPECT_EQ(hhitrate_chip, created);
}

TEST(Lifecycle, RefuseBeforeBookingThenBookOnceThenCreateDerivedObjects) {
  EXPECT_NE(fg, nullptr) << "the fit function exists from load on";
  EXPECT_EQ(hhitrate_chip, nullptr);
  expect_commands_refused_before_booking();
  kivo_evnts = 3;
  EXPECT_EQ(pinit(), 0);
  EXPECT_EQ(kivo_evnts, 0);
  expect_booked_objects();
  EXPECT_EQ(pinit(), 1);
  expect_first_analysis_creates_copies();
}

}  // namespace
