// Objects read back from the ROOT files this library writes: every member
// the JSON shows survives the round trip, and damaged or foreign bytes are
// refused with the reason, never read past their end.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>

#include "RootFileWriter.h"
#include "RootJSON.h"
#include "RootObjectReader.h"
#include "RootStreamer.h"
#include "TGraphAsymmErrors.h"
#include "TH1D.h"
#include "TH1F.h"
#include "TH2F.h"

namespace {

class ObjectReader : public ::testing::Test {
 protected:
  void SetUp() override {
    TH1::AddDirectory(kFALSE);
    path = (std::filesystem::temp_directory_path() / ("kivo_object_reader_" + std::to_string(::getpid()) + ".root")).string();
  }
  void TearDown() override {
    std::filesystem::remove(path);
    TH1::AddDirectory(kTRUE);
  }

  // Writes `objects` as a ROOT file at `path`.
  void write(std::initializer_list<const TObject*> objects) {
    std::vector<rootcompat::StreamedObject> streamed;
    std::string error;
    for (const TObject* object : objects) {
      streamed.emplace_back();
      ASSERT_TRUE(rootcompat::StreamObject(*object, nullptr, streamed.back(), error)) << error;
    }
    std::string image;
    ASSERT_TRUE(rootcompat::FileImage(std::move(streamed), "objects.root", image, error)) << error;
    std::ofstream(path, std::ios::binary) << image;
  }

  // The object read back, in ROOT JSON.
  std::string read_back(const std::string& name) {
    std::string error;
    const std::unique_ptr<TObject> object = rootcompat::ReadFileObject(path, name, error);
    EXPECT_TRUE(object) << error;
    return object ? rootcompat::ToJSON(*object) : error;
  }

  std::string path;
};

TEST_F(ObjectReader, HistogramsGraphsAndNamesComeBackAsTheyWereWritten) {
  TH1F line("hline", "pixels;N;events", 201, -0.5, 200.5);
  for (int b = 0; b <= 202; ++b) line.SetBinContent(b, b % 7 * 1.5);
  line.SetLineColor(632);
  line.SetMaximum(40);
  line.GetXaxis()->SetRange(3, 50);
  line.Sumw2();
  TH1D counts("hcount", "", 4, -0.5, 3.5);
  counts.Fill(1, 0.25);
  counts.Fill(2);
  TH2F map("hmap", ";col;row", 300, -0.5, 299.5, 20, -0.5, 19.5);
  for (int i = 0; i < 300; i += 7) map.Fill(i, i % 20, i);
  map.SetMinimum(1e-6);
  TGraphAsymmErrors graph(2);
  graph.SetName("gpos");
  graph.SetPoint(0, 4608.5, 256.25);
  graph.SetPoint(1, 17, -3);
  graph.SetPointError(1, 1, 2, 3, 4);
  graph.SetMarkerStyle(21);
  TNamed verdict("quality_overall", "Bad: stave 2, chip 4 records no hits");

  write({&line, &counts, &map, &graph, &verdict});
  for (const TObject* object : std::initializer_list<const TObject*>{&line, &counts, &map, &graph, &verdict})
    EXPECT_EQ(read_back(object->GetName()), rootcompat::ToJSON(*object)) << object->GetName();
}

TEST_F(ObjectReader, TheLastCycleOfANameIsRead) {
  TNamed first("fact", "first"), second("fact", "second");
  write({&first, &second});
  EXPECT_EQ(read_back("fact"), rootcompat::ToJSON(second));
}

TEST_F(ObjectReader, RefusesWhatItCannotRead) {
  TH1F histogram("h", "", 10, 0, 10);
  write({&histogram});
  std::string error;
  EXPECT_FALSE(rootcompat::ReadFileObject(path, "other", error));
  EXPECT_EQ(error, "holds no object other");

  std::string streamed_error;
  rootcompat::StreamedObject streamed;
  ASSERT_TRUE(rootcompat::StreamObject(histogram, nullptr, streamed, streamed_error));
  for (std::size_t cut : {std::size_t(0), std::size_t(5), streamed.payload.size() / 2, streamed.payload.size() - 1}) {
    error.clear();
    EXPECT_FALSE(rootcompat::ReadStreamedObject("TH1F", std::string_view(streamed.payload).substr(0, cut), error)) << cut;
    EXPECT_FALSE(error.empty()) << cut;
  }
  EXPECT_FALSE(rootcompat::ReadStreamedObject("TTree", streamed.payload, error));
  EXPECT_EQ(error, "objects of class TTree are not read");
  // A histogram read as a graph, and bytes that claim a huge array.
  EXPECT_FALSE(rootcompat::ReadStreamedObject("TGraphAsymmErrors", streamed.payload, error));
  std::string huge = streamed.payload;
  huge.replace(huge.size() - 12 * 4 - 4, 4, "\x7f\xff\xff\xff");
  EXPECT_FALSE(rootcompat::ReadStreamedObject("TH1F", huge, error));

  std::ofstream(path, std::ios::binary) << "not a ROOT file at all";
  EXPECT_FALSE(rootcompat::ReadFileObject(path, "h", error));
  EXPECT_EQ(error, "not a ROOT file");
}

}  // namespace
