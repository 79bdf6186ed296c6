// What the live page is sent: the canvas copied with each hit map at the
// overview's resolution, the zoomed regions, and the serialised pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "LiveCanvas.h"
#include "RootJSON.h"
#include "TCanvas.h"
#include "TDirectory.h"
#include "TH2F.h"
#include "TLatex.h"
#include "TList.h"
#include "TPad.h"
#include "ViewPublisher.h"
#include "ViewStore.h"
#include "feed.h"
#include "kivo.h"
#include "monitor_plugin.h"
#include "monitor_state.h"

namespace {

using kivo::web::HitMapSource;
using kivo::web::LiveCanvas;
using kivo::web::MapRegion;
using kivo::web::ViewStore;
using kivo::web::ViewTexts;

// Readout unit and channel of chip 4 of each stave: stave-wide columns 4096..5119.
constexpr int kChip4Unit[4] = {1, 2, 1, 1};
constexpr int kChip4Channel[4] = {5, 5, 22, 13};

std::string hit(int stave, int row, int col) {
  std::ostringstream line;
  line << "hit " << kChip4Unit[stave] << ' ' << kChip4Channel[stave] << ' ' << row << ' ' << col << '\n';
  return line.str();
}

// A beam spot on every stave and, on stave 1, one pixel hit once.
std::string run_text() {
  std::ostringstream text;
  text << "run 3\n";
  for (int e = 0; e < 60; ++e) {
    text << "event\n";
    for (int stave = 0; stave < 4; ++stave) text << hit(stave, 200 + e % 9, 300 + (e * 7) % 45);
    if (e == 17) text << hit(1, 40, 1000);
  }
  return text.str();
}

HitMapSource monitor_maps() { return {h2d_chip_norm, kivo_norm_overview, kivo_norm_region}; }

// Maxima of the map's in-range bins in the overview's blocks, read bin by bin.
std::vector<float> block_maxima(const TH2F& map) {
  std::vector<float> blocks(kOverviewBinsX * kOverviewBinsY, 0);
  for (int y = 1; y <= map.GetNbinsY(); ++y)
    for (int x = 1; x <= map.GetNbinsX(); ++x) {
      float& block = blocks[(y - 1) / kOverviewBlockY * kOverviewBinsX + (x - 1) / kOverviewBlockX];
      block = std::max(block, float(map.GetBinContent(x, y)));
    }
  return blocks;
}

std::vector<float> in_range_contents(const TH2F& h) {
  std::vector<float> values;
  for (int y = 1; y <= h.GetNbinsY(); ++y)
    for (int x = 1; x <= h.GetNbinsX(); ++x) values.push_back(float(h.GetBinContent(x, y)));
  return values;
}

const TObject* primitive(const TPad& pad, int index) { return pad.GetListOfPrimitives()->At(index); }
const TPad& subpad(const TPad& pad, int index) { return *static_cast<const TPad*>(primitive(pad, index)); }

class LiveCanvasTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pinit();
    feed(run_text());
    OM();
    // The expectations below read the normalised maps bin by bin, which a
    // reader of whole maps has made whole first; the live canvas itself
    // reads only the overviews and regions.
    kivo_materialise_maps();
  }
};

TEST_F(LiveCanvasTest, EveryObjectButTheHitMapsIsCopiedAsDrawn) {
  LiveCanvas live(monitor_maps());
  const auto frame = live.frame(*com, {}, 3, 60);
  const TCanvas& copy = frame->canvas->GetCanvas();
  ASSERT_EQ(copy.GetListOfPrimitives()->GetSize(), com->GetListOfPrimitives()->GetSize());
  for (int p = 0; p < 9; ++p) {
    const TPad& original = subpad(*com, p);
    const TPad& copied = subpad(copy, p);
    ASSERT_EQ(copied.GetListOfPrimitives()->GetSize(), original.GetListOfPrimitives()->GetSize()) << original.GetName();
    for (int i = 0; i < original.GetListOfPrimitives()->GetSize(); ++i) {
      if (p >= 5 && i == 0) continue;  // the hit map
      EXPECT_EQ(rootcompat::ToJSON(*primitive(copied, i)), rootcompat::ToJSON(*primitive(original, i)))
          << original.GetName() << " primitive " << i;
    }
  }
  EXPECT_EQ(rootcompat::ToJSON(*primitive(copy, 9)), rootcompat::ToJSON(*lnevents));
  EXPECT_EQ(frame->run, 3);
  EXPECT_EQ(frame->events, 60);
}

TEST_F(LiveCanvasTest, HitMapsAreTheirOverviewsWithTheirLook) {
  const int directory_size = gDirectory->GetList()->GetSize();
  LiveCanvas live(monitor_maps());
  const auto frame = live.frame(*com, {}, 3, 60);
  ASSERT_EQ(frame->hit_maps.size(), 4u);
  for (int stave = 0; stave < 4; ++stave) {
    SCOPED_TRACE(stave);
    const auto& overview = *static_cast<const TH2F*>(primitive(subpad(frame->canvas->GetCanvas(), 5 + stave), 0));
    const TH2F& map = *h2d_chip_norm[stave];
    EXPECT_EQ(frame->hit_maps[stave].overview, &overview);
    EXPECT_EQ(frame->hit_maps[stave].stave, stave);
    EXPECT_EQ(frame->hit_maps[stave].bins_x, 9216);
    EXPECT_EQ(frame->hit_maps[stave].bins_y, 512);
    EXPECT_STREQ(overview.GetName(), map.GetName());
    EXPECT_STREQ(overview.GetTitle(), map.GetTitle());
    EXPECT_EQ(overview.GetNbinsX(), kOverviewBinsX);
    EXPECT_EQ(overview.GetNbinsY(), kOverviewBinsY);
    EXPECT_EQ(overview.GetXaxis()->GetXmin(), map.GetXaxis()->GetXmin());
    EXPECT_EQ(overview.GetXaxis()->GetXmax(), map.GetXaxis()->GetXmax());
    EXPECT_EQ(overview.GetYaxis()->GetXmax(), map.GetYaxis()->GetXmax());
    EXPECT_STREQ(overview.GetXaxis()->GetTitle(), map.GetXaxis()->GetTitle());
    EXPECT_EQ(overview.GetMinimumStored(), 1e-6);
    EXPECT_EQ(overview.GetMaximumStored(), 1);
    EXPECT_EQ(overview.GetLineColor(), map.GetLineColor());
    EXPECT_EQ(overview.TestBit(TObject::kMustCleanup), map.TestBit(TObject::kMustCleanup));
    EXPECT_EQ(in_range_contents(overview), block_maxima(map));
  }
  EXPECT_EQ(gDirectory->GetList()->GetSize(), directory_size) << "copies join no directory";
  EXPECT_EQ(gDirectory->FindObject(h2d_chip_norm[0]->GetName()), h2d_chip_norm[0]);
}

TEST_F(LiveCanvasTest, ASinglePixelHitOnceStaysVisible) {
  LiveCanvas live(monitor_maps());
  const auto frame = live.frame(*com, {}, 3, 60);
  const auto& overview = *static_cast<const TH2F*>(primitive(subpad(frame->canvas->GetCanvas(), 6), 0));
  // Stave 1, chip 4, column 1000, chip row 40: stave-wide column 5096, displayed row 471.
  const double pixel = h2d_chip_norm[1]->GetBinContent(5097, 472);
  ASSERT_GT(pixel, 0);
  EXPECT_EQ(overview.GetBinContent(5096 / kOverviewBlockX + 1, 471 / kOverviewBlockY + 1), float(pixel));
}

TEST_F(LiveCanvasTest, ZoomedRegionsComeAtFullResolutionOrMergedToThePadsPixels) {
  LiveCanvas live(monitor_maps());
  const MapRegion small{2, 4380, 4429, 300, 319};  // 50 x 20 bins around the spot
  const MapRegion wide{0, 1, 9216, 290, 329};      // the whole width: merged
  const MapRegion too_large{3, 1, 9216, 1, 512};
  const auto frame = live.frame(*com, {small, wide, too_large}, 3, 60);
  ASSERT_EQ(frame->regions.size(), 2u);
  const TH2F& region = *frame->regions[0].map;
  EXPECT_EQ(frame->regions[0].region, small);
  EXPECT_EQ(region.GetNbinsX(), 50);
  EXPECT_EQ(region.GetNbinsY(), 20);
  EXPECT_EQ(region.GetXaxis()->GetXmin(), h2d_chip_norm[2]->GetXaxis()->GetBinLowEdge(4380));
  EXPECT_EQ(region.GetYaxis()->GetXmin(), h2d_chip_norm[2]->GetYaxis()->GetBinLowEdge(300));
  double hits = 0;
  for (int y = 1; y <= 20; ++y)
    for (int x = 1; x <= 50; ++x) {
      EXPECT_EQ(region.GetBinContent(x, y), float(h2d_chip_norm[2]->GetBinContent(4379 + x, 299 + y)));
      hits += region.GetBinContent(x, y) > 0;
    }
  EXPECT_GT(hits, 10);

  const TH2F& merged = *frame->regions[1].map;
  EXPECT_LE(merged.GetNbinsX(), 560);
  EXPECT_EQ(merged.GetNbinsY(), 40) << "40 rows fit the pad's height";
  const int fx = 9216 / merged.GetNbinsX() + (9216 % merged.GetNbinsX() != 0);
  for (int y = 1; y <= 40; ++y)
    for (int bx = 1; bx <= merged.GetNbinsX(); ++bx) {
      float most = 0;
      for (int x = (bx - 1) * fx + 1; x <= std::min(9216, bx * fx); ++x)
        most = std::max(most, float(h2d_chip_norm[0]->GetBinContent(x, 289 + y)));
      ASSERT_EQ(merged.GetBinContent(bx, y), most) << bx << ' ' << y;
    }
  EXPECT_EQ(live.regions({MapRegion{4, 1, 1, 1, 1}, MapRegion{0, 0, 5, 1, 1}})->regions.size(), 0u)
      << "regions outside the maps are not copied";
}

TEST_F(LiveCanvasTest, SerialisedPiecesAssembleIntoTheCopiedCanvas) {
  LiveCanvas live(monitor_maps());
  const auto frame = live.frame(*com, {MapRegion{1, 5000, 5019, 460, 479}}, 3, 60);
  ViewTexts texts = serialise(*frame);
  EXPECT_TRUE(texts.has_canvas);
  EXPECT_EQ(texts.objects.size(), 4u + 9 + 6 + 8 + 8 + 4 * 2 + 1);
  EXPECT_EQ(texts.objects.front().first, "com/phitrate/0");
  EXPECT_NE(texts.layout.find(R"({"_typename":"KivoRef","id":"com/p2d_3/0"})"), std::string::npos);
  EXPECT_NE(texts.hit_maps.find(R"({"id":"com/p2d_1/0","stave":1,"bins":[9216,512]})"), std::string::npos);
  ASSERT_EQ(texts.regions.size(), 1u);
  EXPECT_EQ(texts.regions[0].second, rootcompat::ToJSON(*frame->regions[0].map));

  ViewStore store("test");
  store.publish(std::move(texts));
  EXPECT_EQ(*store.canvas().text, rootcompat::ToJSON(frame->canvas->GetCanvas()));
}

}  // namespace
