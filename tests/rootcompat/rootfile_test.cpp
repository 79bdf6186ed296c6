// ROOT files written by TFile: the same class descriptions and object bytes as
// files written by ROOT 6 itself (tests/rootcompat/data/root), ROOT's layout
// of header, keys, directory and free segments, its compression rules, and
// TFile's behaviour as a directory.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>

#include "RootFileWriter.h"
#include "StreamerInfo.h"
#include "TF1.h"
#include "TFile.h"
#include "TGraphAsymmErrors.h"
#include "TH1D.h"
#include "TH1F.h"
#include "TH2F.h"
#include "TKey.h"
#include "TList.h"
#include "TROOT.h"
#include "root_file_reader.h"

namespace {

using rootfile_test::ClassInfo;
using rootfile_test::Element;
using rootfile_test::Reader;

// ROOT's in-memory status bits that ROOT 6 before 6.30 also wrote to files:
// kIsOnHeap and kNotDeleted.
constexpr UInt_t kHeapBits = BIT(24) | BIT(25);
constexpr UInt_t kMustCleanup = BIT(3);
constexpr UInt_t kUseRWLock = BIT(16);  // set on every histogram's list of functions

std::string Fixture(const char* name) { return std::string(KIVO_ROOT_FIXTURES) + "/" + name; }

class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    char pattern[] = "/tmp/kivo-rootfile-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TemporaryDirectory() { std::filesystem::remove_all(path_); }
  std::string File(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// One object of each class this library writes, with contents.
void WriteOneOfEach(const std::string& path) {
  TFile file(path.c_str(), "RECREATE");
  auto* h1f = new TH1F("h1f", "floats;x;entries", 10, 0, 10);
  h1f->Fill(3);
  h1f->Fill(4, 2);
  auto* h1d = new TH1D("h1d", "doubles", 4, -2, 2);
  h1d->Fill(0.5);
  auto* map = new TH2F("map", "map;col;row", 100, 0, 100, 50, 0, 50);
  map->Fill(10, 20);
  TGraphAsymmErrors graph(2);
  graph.SetName("graph");
  graph.SetPoint(0, 1, 2);
  graph.SetPoint(1, 2, 3);
  graph.SetPointError(1, 0.1, 0.2, 0.3, 0.4);
  file.Write();
  graph.Write();
  file.Close();
}

std::map<std::string, ClassInfo> ByName(const std::vector<ClassInfo>& infos) {
  std::map<std::string, ClassInfo> byName;
  for (const ClassInfo& info : infos) byName[info.name] = info;
  return byName;
}

// The description of `name` from the newest fixture that has it.
const ClassInfo* FromFixtures(const std::vector<std::map<std::string, ClassInfo>>& newestFirst,
                              const std::string& name) {
  for (const auto& infos : newestFirst)
    if (auto found = infos.find(name); found != infos.end()) return &found->second;
  return nullptr;
}

TEST(RootFileDescriptions, ChecksumsAreRootsOwn) {
  int compared = 0;
  for (const char* fixture : {"histograms1d2d.root", "TH2_5.root", "issue368_th2f.root"}) {
    for (const ClassInfo& info : Reader::FromFile(Fixture(fixture)).StreamerInfos()) {
      if (!rootcompat::FindClassDescription(info.name)) continue;
      EXPECT_EQ(rootcompat::ClassCheckSum(info.name), info.checksum) << info.name << " in " << fixture;
      ++compared;
    }
  }
  EXPECT_GE(compared, 40);
}

TEST(RootFileDescriptions, MatchThoseRootWrites) {
  TemporaryDirectory dir;
  WriteOneOfEach(dir.File("all.root"));
  const auto ours = ByName(Reader::FromFile(dir.File("all.root")).StreamerInfos());
  std::vector<std::map<std::string, ClassInfo>> fixtures;
  for (const char* fixture : {"issue368_th2f.root", "TH2_5.root", "histograms1d2d.root"})
    fixtures.push_back(ByName(Reader::FromFile(Fixture(fixture)).StreamerInfos()));

  std::set<std::string> described;
  for (const auto& [name, info] : ours) {
    described.insert(name);
    const ClassInfo* root = FromFixtures(fixtures, name);
    if (!root) continue;
    EXPECT_EQ(info.checksum, root->checksum) << name;
    EXPECT_EQ(info.elements, root->elements) << name;
    // TH1F and TH1D are version 3 since ROOT 6.18; the fixtures that hold
    // them are older (version 2, the same members).
    if (name != "TH1F" && name != "TH1D") {
      EXPECT_EQ(info.version, root->version) << name;
    }
  }
  const std::set<std::string> expected = {
      "TObject", "TNamed",   "TString",  "TCollection", "TSeqCollection", "TList", "THashList",
      "TAttLine", "TAttFill", "TAttMarker", "TAttAxis",  "TAxis",         "TH1",   "TH1F",
      "TH1D",     "TH2",      "TH2F",     "TGraph",      "TGraphAsymmErrors"};
  EXPECT_EQ(described, expected);

  // The graph classes have no ROOT-written counterpart here: their bases
  // carry the base checksums, their counted arrays TGraph's counter.
  for (const Element& e : ours.at("TGraphAsymmErrors").elements) {
    if (e.elementClass == "TStreamerBase") {
      EXPECT_EQ(UInt_t(e.maxIndex[1]), ours.at("TGraph").checksum);
    }
    if (e.elementClass == "TStreamerBasicPointer") {
      EXPECT_EQ(e.countName, "fNpoints");
      EXPECT_EQ(e.countClass, "TGraph");
      EXPECT_EQ(e.countVersion, 4);
    }
  }
}

// ROOT's histograms as the fixtures hold them: the same fills, styles and in-memory bits.
void MarkAsRootDoes(TH1& h, UInt_t bits) {
  h.SetBit(bits);
  for (TAxis* axis : {h.GetXaxis(), h.GetYaxis(), h.GetZaxis()}) axis->SetBit(kHeapBits);
  h.GetListOfFunctions()->SetBit(kHeapBits | kUseRWLock);
}

template <class Histogram>
void FillLikeFixture1D(Histogram& h) {
  h.Fill(-1.5, 20);
  h.Fill(-1.5, 20);
  h.Fill(1.5);
  h.Fill(1.5);
  h.GetYaxis()->SetTitleOffset(0);  // ROOT 6's style; this library keeps ROOT 5's 1
  MarkAsRootDoes(h, kHeapBits | kMustCleanup);
}

std::string PayloadOf(const std::string& path, const char* name) {
  const Reader reader = Reader::FromFile(path);
  return reader.Payload(reader.Find(name));
}

// Sets the class version written after the payload's first byte count.
std::string WithVersion(std::string payload, char version) {
  payload[5] = version;
  return payload;
}

TEST(RootFilePayloads, AreByteForByteRoots) {
  TemporaryDirectory dir;
  const std::string path = dir.File("twins.root");
  {
    TH1F h1f("myTH1F", "", 2, -2, 2);
    FillLikeFixture1D(h1f);
    TH1D h1d("myTH1D", "", 2, -2, 2);
    FillLikeFixture1D(h1d);
    TH2F map("myTH2F", "", 4, -2, 2, 4, -2, 2);
    map.Fill(-1.5, -1.5, 20);
    map.Fill(1.5, -1.5, 1);
    map.Fill(-1.5, 1.5, 20);
    map.Fill(1.5, 1.5, 1);
    MarkAsRootDoes(map, kHeapBits | kMustCleanup | TH1::kNoStats);
    map.SetLineColor(1);
    map.SetLineWidth(2);
    map.SetMarkerStyle(20);
    map.SetMarkerSize(0.9f);
    for (TAxis* axis : {map.GetXaxis(), map.GetYaxis(), map.GetZaxis()}) {
      axis->SetLabelFont(132);
      axis->SetTitleFont(132);
      axis->SetLabelOffset(0.015f);
      axis->SetLabelSize(0.05f);
      axis->SetTitleSize(0.065f);
      axis->SetTitleOffset(axis == map.GetYaxis() ? 1.2f : 1.1f);
    }
    map.GetYaxis()->SetTickLength(0.02f);
    TFile file(path.c_str(), "RECREATE");
    for (const TObject* obj : {static_cast<TObject*>(&h1f), static_cast<TObject*>(&h1d), static_cast<TObject*>(&map)})
      obj->Write();
    file.Close();
  }
  const std::string older = Fixture("histograms1d2d.root");
  EXPECT_EQ(PayloadOf(path, "myTH1F"), WithVersion(PayloadOf(older, "myTH1F"), 3)) << "TH1F";
  EXPECT_EQ(PayloadOf(path, "myTH1D"), WithVersion(PayloadOf(older, "myTH1D"), 3)) << "TH1D";
  EXPECT_EQ(PayloadOf(path, "myTH2F"), PayloadOf(Fixture("TH2_5.root"), "myTH2F")) << "TH2F";
}

TEST(RootFileLayout, HeaderDirectoryKeysAndFreeSegmentAreRoots) {
  TemporaryDirectory dir;
  const std::string path = dir.File("layout.root");
  WriteOneOfEach(path);
  const Reader reader = Reader::FromFile(path);
  const auto& h = reader.header();
  EXPECT_EQ(h.version, 63206);
  EXPECT_EQ(h.begin, 100);
  EXPECT_EQ(h.end, std::filesystem::file_size(path));
  EXPECT_EQ(h.units, 4);
  EXPECT_EQ(h.compress, 101);
  EXPECT_EQ(h.nfree, 1);
  EXPECT_EQ(h.seekFree + h.nbytesFree, h.end) << "the free segments are the last record";
  EXPECT_EQ(reader.KeyAt(h.seekInfo).name, "StreamerInfo");
  EXPECT_EQ(reader.KeyAt(h.seekInfo).nbytes, h.nbytesInfo);

  const auto& d = reader.directory();
  EXPECT_EQ(d.version, 5);
  EXPECT_EQ(d.seekDir, 100);
  EXPECT_EQ(d.seekParent, 0);
  EXPECT_EQ(d.nbytesName, h.nbytesName);
  EXPECT_EQ(reader.KeyAt(d.seekKeys).className, "TFile");
  EXPECT_EQ(reader.KeyAt(d.seekKeys).nbytes, d.nbytesKeys);

  std::vector<std::string> names;
  for (const auto& key : reader.keys()) {
    names.push_back(key.className + ":" + key.name);
    EXPECT_EQ(key.version, 4);
    EXPECT_EQ(key.seekPdir, 100);
    EXPECT_EQ(key.cycle, 1);
    EXPECT_EQ(reader.KeyAt(key.seekKey).nbytes, key.nbytes) << "keys list and record agree";
  }
  EXPECT_EQ(names, (std::vector<std::string>{"TH1F:h1f", "TH1D:h1d", "TH2F:map", "TGraphAsymmErrors:graph"}));
  EXPECT_EQ(reader.Find("h1f").title, "floats");

  const auto free = reader.Free();
  EXPECT_EQ(free.version, 1);
  EXPECT_EQ(free.first, h.end);
  EXPECT_EQ(free.last, 2000000000);
}

TEST(RootFileLayout, CompressionFollowsRootsRules) {
  TemporaryDirectory dir;
  const std::string path = dir.File("zip.root");
  {
    TFile file(path.c_str(), "RECREATE");
    TGraph tiny;  // a payload of 256 bytes or less is stored as it is
    tiny.SetName("tiny");
    tiny.Write();
    TH2F map("map", "", 9216, -0.5, 9215.5, 512, -0.5, 511.5);  // 19 MB: two blocks
    map.SetDirectory(nullptr);
    map.Fill(100, 100);
    map.Write();
    file.SetCompressionSettings(0);
    map.Write("plain");
    file.Close();
  }
  const Reader reader = Reader::FromFile(path);
  EXPECT_EQ(reader.Blocks(reader.Find("tiny")), 0);
  EXPECT_EQ(reader.Blocks(reader.Find("map")), 2);
  EXPECT_EQ(reader.Blocks(reader.Find("plain")), 0);
  EXPECT_EQ(reader.Payload(reader.Find("map")), reader.Payload(reader.Find("plain"))) << "the same object either way";
}

TEST(RootFileLayout, PayloadsThatDoNotShrinkAreStoredAsTheyAre) {
  std::string random(100000, '\0');
  std::mt19937 generator(7);
  for (char& c : random) c = static_cast<char>(generator());
  std::string out;
  EXPECT_FALSE(rootcompat::CompressPayload(random, 1, out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(rootcompat::CompressPayload(std::string(256, 'a'), 1, out)) << "256 bytes or less";
  EXPECT_FALSE(rootcompat::CompressPayload(std::string(1000, 'a'), 0, out)) << "level 0";
  ASSERT_TRUE(rootcompat::CompressPayload(std::string(1000, 'a'), 1, out));
  EXPECT_EQ(out.substr(0, 3), std::string("ZL\x08"));
  EXPECT_EQ(out.substr(6, 3), std::string("\xe8\x03\x00", 3)) << "uncompressed size, little-endian";
}

TEST(RootFileLayout, TheInMemoryImageIsTheFileTFileWrites) {
  TH1F h("image", "an image", 5, 0, 5);
  h.SetDirectory(nullptr);
  h.Fill(2);
  std::vector<rootcompat::StreamedObject> objects(2);
  std::string error, image;
  ASSERT_TRUE(rootcompat::StreamObject(h, nullptr, objects[0], error));
  ASSERT_TRUE(rootcompat::StreamObject(h, "again", objects[1], error));
  ASSERT_TRUE(rootcompat::FileImage(std::move(objects), "image.root", image, error)) << error;
  const Reader reader(image);
  EXPECT_EQ(reader.header().end, image.size());
  ASSERT_EQ(reader.keys().size(), 2u);
  EXPECT_EQ(reader.keys()[1].name, "again");
  EXPECT_EQ(reader.Payload(reader.keys()[0]), reader.Payload(reader.keys()[1]));
}

TEST(TFileDirectory, ObjectsCreatedInTheFileAreWrittenByWriteAndGoWithClose) {
  TemporaryDirectory dir;
  const std::string path = dir.File("directory.root");
  auto* file = TFile::Open(path.c_str(), "RECREATE");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(gDirectory, file);
  auto* first = new TH1F("first", "", 3, 0, 3);
  new TH1F("second", "", 3, 0, 3);
  EXPECT_EQ(first->GetDirectory(), file);
  EXPECT_GT(file->Write(), 0);
  EXPECT_GT(first->Write(), 0) << "a second cycle of the same name";
  ASSERT_EQ(file->GetListOfKeys()->GetSize(), 3);
  auto* cycle = static_cast<TKey*>(file->GetListOfKeys()->Last());
  EXPECT_STREQ(cycle->GetName(), "first");
  EXPECT_EQ(cycle->GetCycle(), 2);
  EXPECT_STREQ(cycle->GetClassName(), "TH1F");
  file->Close();
  EXPECT_EQ(file->GetList()->GetSize(), 0) << "the file's histograms are deleted";
  EXPECT_EQ(gDirectory, gROOT);
  EXPECT_EQ(file->Write(), 0);
  delete file;

  const Reader reader = Reader::FromFile(path);
  ASSERT_EQ(reader.keys().size(), 3u);
  EXPECT_EQ(reader.keys()[2].cycle, 2);
}

TEST(TFileDirectory, RefusesWhatItCannotWrite) {
  TemporaryDirectory dir;
  TH1F h("orphan", "", 3, 0, 3);
  testing::internal::CaptureStderr();
  EXPECT_EQ(h.Write(), 0) << "the current directory is in memory";
  EXPECT_NE(testing::internal::GetCapturedStderr().find("not associated with a file"), std::string::npos);

  const std::string path = dir.File("taken.root");
  { TFile first(path.c_str(), "NEW"); }
  testing::internal::CaptureStderr();
  EXPECT_EQ(TFile::Open(path.c_str(), "NEW"), nullptr);
  EXPECT_EQ(TFile::Open(path.c_str(), "READ"), nullptr) << "reading is not available";
  EXPECT_EQ(TFile::Open(dir.File("missing/x.root").c_str(), "RECREATE"), nullptr);
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("already exists"), std::string::npos) << errors;
  EXPECT_NE(errors.find("can not be opened (No such file or directory)"), std::string::npos) << errors;

  TFile file(path.c_str(), "RECREATE");
  TF1 gaus("written_gaus", "gaus", 0, 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(gaus.Write(), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("class TF1 cannot be written"), std::string::npos);
  file.Close();
}

}  // namespace
