// Reading a reference run from the ROOT JSON that save() writes, in every
// array form the writer uses, and from a ROOT file (save("x.root"), the run
// archive's files) alike; refusing files that are not such a run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "ReferenceRun.h"
#include "RootFileWriter.h"
#include "RootJSON.h"
#include "RootStreamer.h"
#include "TGraphAsymmErrors.h"
#include "TH1D.h"
#include "TH1F.h"
#include "TH2F.h"
#include "TList.h"

namespace kivo::quality {
namespace {

class ReferenceFile : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = std::filesystem::temp_directory_path() / ("kivo_reference_" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    add(std::make_unique<TH1D>("hnevent", "", 1, -0.5, 0.5))->SetBinContent(1, 5000);
    for (int s = 0; s < kStaves; ++s) {
      TH1* hits = add(std::make_unique<TH1F>(("hnhit_chip_" + std::to_string(s)).c_str(), "", 201, -0.5, 200.5));
      // Stave 0 dense (written as raw bytes), the others sparse (value segments).
      for (int b = 1; b <= 201; ++b)
        if (s == 0 || b % 40 == 3) hits->SetBinContent(b, 1000.0 / b + s);
      auto graph = std::make_unique<TGraphAsymmErrors>();
      graph->SetName(("gmpos_chip_" + std::to_string(s)).c_str());
      if (s != 3) {
        graph->SetPoint(0, 4608 + 40 * s, 256 - 8 * s);
        graph->SetPointError(0, 300, 300, 60, 60);
      }
      graphs.push_back(std::move(graph));
      list.Add(graphs.back().get());
    }
    for (int s = 0; s < 3; ++s)
      for (const char* kind : {"hdiffcol_chip_", "hdiffrow_chip_"}) {
        TH1* differences = add(std::make_unique<TH1F>((kind + std::to_string(s)).c_str(), "", 1023, -511.5, 511.5));
        for (int b = 400; b < 420; ++b) differences->SetBinContent(b, 7);  // a run of equal values
        differences->SetBinContent(512 - 40 * (3 - s), 900);
        differences->SetBinContent(1024, 3);  // overflow
      }
    add(std::make_unique<TH2F>("h2d_chip_0", "", 100, 0, 100, 10, 0, 10))->SetBinContent(5, 5, 1);
  }
  void TearDown() override { std::filesystem::remove_all(directory); }

  TH1* add(std::unique_ptr<TH1> histogram) {
    histogram->SetDirectory(nullptr);
    histograms.push_back(std::move(histogram));
    list.Add(histograms.back().get());
    return histograms.back().get();
  }
  std::string write(const std::string& text, const std::string& name = "ref.json") {
    const std::string path = (directory / name).string();
    std::ofstream(path) << text;
    return path;
  }
  // The list as a ROOT file, as save("x.root") writes it.
  std::string write_root(const TList& objects, const std::string& name = "ref.root") {
    std::vector<rootcompat::StreamedObject> streamed;
    std::string error, image;
    TIter next(&objects);
    while (TObject* object = next()) {
      streamed.emplace_back();
      EXPECT_TRUE(rootcompat::StreamObject(*object, nullptr, streamed.back(), error)) << error;
    }
    EXPECT_TRUE(rootcompat::FileImage(std::move(streamed), name, image, error)) << error;
    const std::string path = (directory / name).string();
    std::ofstream(path, std::ios::binary) << image;
    return path;
  }
  const TH1& histogram(const std::string& name) const {
    for (const auto& h : histograms)
      if (name == h->GetName()) return *h;
    throw std::logic_error(name);
  }

  std::filesystem::path directory;
  TList list;
  std::vector<std::unique_ptr<TH1>> histograms;
  std::vector<std::unique_ptr<TGraphAsymmErrors>> graphs;
};

void expect_bins(const Bins& bins, const TH1& histogram) {
  ASSERT_EQ(bins.size(), static_cast<std::size_t>(histogram.GetNbinsX() + 2)) << histogram.GetName();
  for (std::size_t b = 0; b < bins.size(); ++b)
    EXPECT_FLOAT_EQ(bins[b], histogram.GetBinContent(static_cast<int>(b))) << histogram.GetName() << " bin " << b;
}

TEST_F(ReferenceFile, ReadsBackWhatSaveWrote) {
  std::string error;
  const std::string path = write(rootcompat::ToJSON(list));
  const std::optional<ReferenceRun> run = load_reference(path, error);
  ASSERT_TRUE(run) << error;
  EXPECT_EQ(run->path, path);
  EXPECT_EQ(run->events, 5000);
  for (int s = 0; s < kStaves; ++s)
    expect_bins(run->hits_per_event[static_cast<std::size_t>(s)], histogram("hnhit_chip_" + std::to_string(s)));
  for (int s = 0; s < 3; ++s) {
    expect_bins(run->column_differences[static_cast<std::size_t>(s)], histogram("hdiffcol_chip_" + std::to_string(s)));
    expect_bins(run->row_differences[static_cast<std::size_t>(s)], histogram("hdiffrow_chip_" + std::to_string(s)));
  }
  ASSERT_TRUE(run->beam[1]);
  EXPECT_EQ(run->beam[1]->column, 4648);
  EXPECT_EQ(run->beam[1]->row, 248);
  EXPECT_EQ(run->beam[1]->column_width, 300);
  EXPECT_EQ(run->beam[1]->row_width, 60);
  EXPECT_FALSE(run->beam[3]) << "a stave without a fitted point";
}

TEST_F(ReferenceFile, RefusesWithTheReason) {
  std::string error;
  EXPECT_FALSE(load_reference((directory / "missing.json").string(), error));
  EXPECT_NE(error.find("missing.json: cannot be read: No such file or directory"), std::string::npos) << error;

  const std::string not_json = write("run 1\nevent\n", "stream.txt");
  EXPECT_FALSE(load_reference(not_json, error));
  EXPECT_EQ(error.rfind(not_json + ": not a ROOT or JSON save; a reference is a run file of the archive", 0), 0u) << error;

  const std::string broken = write("{\"_typename\":\"TList\",\"arr\":[", "broken.json");
  EXPECT_FALSE(load_reference(broken, error));
  EXPECT_EQ(error.rfind(broken + ": not a JSON file written by save()", 0), 0u) << error;

  const std::string not_list = write("{\"_typename\":\"TH1F\",\"fName\":\"x\"}", "h.json");
  EXPECT_FALSE(load_reference(not_list, error));
  EXPECT_EQ(error, not_list + ": not a list of objects as save() writes it");

  list.Remove(const_cast<TH1*>(&histogram("hdiffrow_chip_2")));
  const std::string lacking = write(rootcompat::ToJSON(list), "lacking.json");
  EXPECT_FALSE(load_reference(lacking, error));
  EXPECT_EQ(error, lacking + ": lacks the object hdiffrow_chip_2");
}

TEST_F(ReferenceFile, AROOTFileReadsAsTheJSONSaveOfTheSameObjects) {
  std::string error;
  const std::optional<ReferenceRun> from_json = load_reference(write(rootcompat::ToJSON(list)), error);
  ASSERT_TRUE(from_json) << error;
  const std::string path = write_root(list);
  const std::optional<ReferenceRun> from_root = load_reference(path, error);
  ASSERT_TRUE(from_root) << error;
  EXPECT_EQ(from_root->path, path);
  EXPECT_EQ(from_root->events, from_json->events);
  // The same floats: the JSON writes each in its shortest decimal form.
  const auto same = [](const auto& a, const auto& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t s = 0; s < a.size(); ++s) {
      ASSERT_EQ(a[s].size(), b[s].size());
      for (std::size_t i = 0; i < a[s].size(); ++i) EXPECT_EQ(float(a[s][i]), float(b[s][i])) << s << " " << i;
    }
  };
  same(from_root->hits_per_event, from_json->hits_per_event);
  same(from_root->column_differences, from_json->column_differences);
  same(from_root->row_differences, from_json->row_differences);
  for (std::size_t s = 0; s < kStaves; ++s) {
    ASSERT_EQ(from_root->beam[s].has_value(), from_json->beam[s].has_value()) << s;
    if (from_root->beam[s]) {
      EXPECT_EQ(from_root->beam[s]->column, from_json->beam[s]->column) << s;
    }
  }
}

TEST_F(ReferenceFile, RefusesAROOTFileWithoutTheMonitorsObjects) {
  TNamed only("run_number", "9");
  TList foreign;
  foreign.Add(&only);
  std::string error;
  const std::string path = write_root(foreign, "run9.root");
  EXPECT_FALSE(load_reference(path, error));
  EXPECT_EQ(error, path + ": a ROOT file without the monitor's objects (it holds no hnevent)");

  list.Remove(const_cast<TH1*>(&histogram("hdiffcol_chip_1")));
  const std::string lacking = write_root(list, "lacking.root");
  EXPECT_FALSE(load_reference(lacking, error));
  EXPECT_EQ(error, lacking + ": lacks the object hdiffcol_chip_1");

  std::filesystem::resize_file(lacking, 600);
  EXPECT_FALSE(load_reference(lacking, error));
  EXPECT_EQ(error.rfind(lacking + ": ", 0), 0u) << error;
}

TEST_F(ReferenceFile, RefusesAHistogramOfAnotherBinning) {
  list.Remove(const_cast<TH1*>(&histogram("hnhit_chip_2")));
  add(std::make_unique<TH1F>("hnhit_chip_2", "", 50, -0.5, 49.5));
  std::string error;
  const std::string path = write(rootcompat::ToJSON(list));
  EXPECT_FALSE(load_reference(path, error));
  EXPECT_EQ(error, path + ": hnhit_chip_2 has 50 bins, 201 expected");
}

}  // namespace
}  // namespace kivo::quality
