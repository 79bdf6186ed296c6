// The tracking objects: named and binned as the checks and files read them,
// outside every directory, their statistics those of ROOT's Fill, saved in
// a fixed order.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "FastFill.h"
#include "TDirectory.h"
#include "TGraph.h"
#include "TH1D.h"
#include "TH1F.h"
#include "TH2F.h"
#include "TList.h"
#include "TNamed.h"
#include "Tracker.h"

namespace kivo::tracking {
namespace {

TEST(TrackingObjects, AreNamedAndBinnedAsTheirReadersExpect) {
  Tracker tracker(Settings{}, nullptr);
  const Objects& o = tracker.objects();
  EXPECT_STREQ(o.track_total[2]->GetName(), "htrack_total_2");
  EXPECT_EQ(o.track_total[2]->GetNbinsX(), 144);
  EXPECT_EQ(o.track_total[2]->GetNbinsY(), 8);
  EXPECT_EQ(o.track_total[2]->GetXaxis()->GetXmax(), 9215.5);
  EXPECT_EQ(o.track_matched[0]->GetYaxis()->GetXmax(), 511.5);
  EXPECT_STREQ(o.residual_row[3]->GetName(), "hresidual_row_3");
  EXPECT_STREQ(o.track_lag[1]->GetName(), "htrack_lag_1");
  EXPECT_EQ(o.track_lag[1]->GetNbinsX(), 3);
  EXPECT_EQ(o.track_lag[1]->GetXaxis()->GetXmin(), -1.5);
  EXPECT_STREQ(o.tracks_per_event->GetName(), "htracks_per_event");
  EXPECT_EQ(o.moved_cells[1]->GetNbinsY(), 144);
  EXPECT_EQ(o.moved_col[1]->GetNbinsY(), 2047);
  EXPECT_EQ(o.moved_row[1]->GetNbinsY(), 1023);
  EXPECT_STREQ(o.offset_history_row[0]->GetName(), "galign_row_0");
  EXPECT_STREQ(o.alignment_text->GetName(), "tracking_alignment");
}

TEST(TrackingObjects, JoinNoDirectoryAndAreSavedInTheirOrder) {
  const int before = gDirectory->GetList()->GetSize();
  Tracker tracker(Settings{}, nullptr);
  EXPECT_EQ(gDirectory->GetList()->GetSize(), before);
  TList saved;
  tracker.add_saved_objects(saved);
  std::set<std::string> names;
  TIter next(&saved);
  while (TObject* object = next()) names.insert(object->GetName());
  // Ten histograms and two graphs per stave, seven objects of the whole detector.
  EXPECT_EQ(saved.GetSize(), 12 * kStaves + 7);
  EXPECT_EQ(names.size(), static_cast<std::size_t>(saved.GetSize()));
  EXPECT_STREQ(saved.At(0)->GetName(), "htrack_total_0");
  EXPECT_STREQ(saved.At(saved.GetSize() - 1)->GetName(), "tracking_alignment");
}

TEST(FastFill, LeavesWhatOneFillPerEntryLeaves) {
  const TDirectory::TContext unregistered(nullptr);
  TH1F fast("fast", "", 250, -12.5, 12.5), plain("plain", "", 250, -12.5, 12.5);
  FastFill1D fill(&fast);
  std::mt19937 random(3);
  std::normal_distribution<double> residual(0.2, 4);
  for (int i = 0; i < 5000; ++i) {
    const double x = i == 10 ? 12.5 : i == 11 ? -12.5 : residual(random);  // the edges too
    fill.fill(x);
    plain.Fill(x);
  }
  fill.sync();
  for (int b = 0; b <= 251; ++b) ASSERT_EQ(fast.GetBinContent(b), plain.GetBinContent(b)) << b;
  EXPECT_EQ(fast.GetEntries(), plain.GetEntries());
  EXPECT_EQ(fast.GetMean(), plain.GetMean());
  EXPECT_EQ(fast.GetRMS(), plain.GetRMS());

  TH2F fast2("fast2", "", 144, -0.5, 9215.5, 8, -0.5, 511.5), plain2("plain2", "", 144, -0.5, 9215.5, 8, -0.5, 511.5);
  FastFill2D fill2(&fast2);
  for (int i = 0; i < 3000; ++i) {
    const double x = -1 + i * 3.1, y = (i * 37) % 530 - 5.0;
    fill2.fill(x, y);
    plain2.Fill(x, y);
  }
  fill2.sync();
  for (int b = 0; b < fast2.GetNcells(); ++b) ASSERT_EQ(fast2.GetBinContent(b), plain2.GetBinContent(b)) << b;
  EXPECT_EQ(fast2.GetEntries(), plain2.GetEntries());
  // The sums come from the bins, at their centres.
  EXPECT_NEAR(fast2.GetMean(1), plain2.GetMean(1), 32);
}

}  // namespace
}  // namespace kivo::tracking
