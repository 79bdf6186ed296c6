// The table of contents of a ROOT file read back (title, keys with their
// classes, names and titles) also past the 64-bit switch's first form, and
// refused, never overrun, when the file is damaged; and axis bin labels as
// ROOT keeps them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "RootFileKeys.h"
#include "RootJSON.h"
#include "TH2F.h"
#include "TNamed.h"

namespace {

std::string temporary_path(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string("kivo-keys-") + std::to_string(getpid()) + name))
      .string();
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class StringSink : public rootcompat::FileSink {
 public:
  bool WriteAt(Long64_t offset, std::string_view bytes) override {
    if (bytes_.size() < offset + bytes.size()) bytes_.resize(offset + bytes.size());
    bytes_.replace(std::size_t(offset), bytes.size(), bytes);
    return true;
  }
  std::string bytes_;
};

std::string file_with_facts() {
  std::vector<rootcompat::StreamedObject> objects(2);
  std::string error, image;
  TH1F h("hits", "hits per event", 4, 0, 4);
  h.SetDirectory(nullptr);
  EXPECT_TRUE(rootcompat::StreamObject(TNamed("run_number", "42"), nullptr, objects[0], error));
  EXPECT_TRUE(rootcompat::StreamObject(h, nullptr, objects[1], error));
  StringSink sink;
  rootcompat::FileWriter writer(sink, "run42.root", "KIVO run 42");
  EXPECT_TRUE(writer.Start());
  for (auto& object : objects) EXPECT_TRUE(writer.WriteKey(std::move(object)));
  EXPECT_TRUE(writer.Finish());
  return sink.bytes_;
}

TEST(RootFileKeys, GivesTheTitleAndEveryKey) {
  const std::string path = temporary_path("good.root");
  write_bytes(path, file_with_facts());
  rootcompat::FileKeys contents;
  std::string error;
  ASSERT_TRUE(rootcompat::ReadFileKeys(path, contents, error)) << error;
  EXPECT_EQ(contents.title, "KIVO run 42");
  ASSERT_EQ(contents.keys.size(), 2u);
  EXPECT_EQ(contents.keys[0].className, "TNamed");
  EXPECT_EQ(contents.keys[0].name, "run_number");
  EXPECT_EQ(contents.keys[0].title, "42");
  EXPECT_EQ(contents.keys[1].className, "TH1F");
  EXPECT_EQ(contents.keys[1].title, "hits per event");
  std::remove(path.c_str());
}

TEST(RootFileKeys, DamagedFilesAreRefusedWithTheReason) {
  const std::string path = temporary_path("damaged.root");
  const std::string good = file_with_facts();
  rootcompat::FileKeys contents;
  std::string error;
  // A cut into the list of keys, near the end (only the free-segment record
  // comes after it), or before it.
  for (std::size_t length = 0; length + 128 < good.size(); length += 7) {
    write_bytes(path, good.substr(0, length));
    EXPECT_FALSE(rootcompat::ReadFileKeys(path, contents, error)) << length << " bytes";
    EXPECT_FALSE(error.empty());
  }
  write_bytes(path, "a text file, not ROOT's");
  EXPECT_FALSE(rootcompat::ReadFileKeys(path, contents, error));
  EXPECT_EQ(error, "not a ROOT file");
  std::string overwritten = good;
  for (std::size_t at = 4; at < 64; ++at) overwritten[at] = '\xff';  // lengths and offsets past any file
  write_bytes(path, overwritten);
  EXPECT_FALSE(rootcompat::ReadFileKeys(path, contents, error));
  std::remove(path.c_str());
  EXPECT_FALSE(rootcompat::ReadFileKeys(path, contents, error));
  EXPECT_EQ(error, "No such file or directory");
}

TEST(TAxisLabels, AreKeptAsRootKeepsThemAndMakeTheAxisAlphanumericOnceComplete) {
  TH2F map("verdicts", "", 2, 0, 2, 1, 0, 1);
  map.SetDirectory(nullptr);
  TAxis& x = *map.GetXaxis();
  x.SetBinLabel(2, "hot_pixels");
  EXPECT_FALSE(x.IsAlphanumeric()) << "one bin of two labelled";
  x.SetBinLabel(1, "dead");
  x.SetBinLabel(1, "dead_chip");
  EXPECT_TRUE(x.IsAlphanumeric());
  EXPECT_TRUE(x.CanExtend());
  EXPECT_STREQ(x.GetBinLabel(1), "dead_chip");
  EXPECT_STREQ(x.GetBinLabel(3), "");
  ASSERT_EQ(x.GetLabelList().size(), 2u) << "a label set again replaces the old one";
  EXPECT_EQ(x.GetLabelList()[0].first, 2) << "in the order first set";

  std::unique_ptr<TH2F> copy(static_cast<TH2F*>(map.Clone("copy")));
  copy->SetDirectory(nullptr);
  EXPECT_STREQ(copy->GetXaxis()->GetBinLabel(2), "hot_pixels");
  const std::string json = rootcompat::ToJSON(map);
  EXPECT_NE(json.find("\"fBits2\":48"), std::string::npos) << json;
  EXPECT_NE(json.find("{\"_typename\":\"TObjString\",\"fUniqueID\":2,\"fBits\":0,\"fString\":\"hot_pixels\"}"),
            std::string::npos);

  testing::internal::CaptureStderr();
  x.SetBinLabel(3, "past the axis");
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Illegal bin number: 3"), std::string::npos);
  EXPECT_EQ(x.GetLabelList().size(), 2u);
}

}  // namespace
