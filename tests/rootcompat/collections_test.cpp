// Lists, iteration, directories and lookup by name through gROOT.
#include <gtest/gtest.h>

#include "TCanvas.h"
#include "TDirectory.h"
#include "TF1.h"
#include "TH1F.h"
#include "TList.h"
#include "TPad.h"
#include "TROOT.h"

namespace {

// Counts its own destructions.
class Counted : public TNamed {
 public:
  Counted(const char* name, int& deaths) : TNamed(name, ""), fDeaths(deaths) {}
  ~Counted() override { ++fDeaths; }

 private:
  int& fDeaths;
};

TEST(List, KeepsOrderOptionsAndPositions) {
  TList list;
  TNamed a("a", ""), b("b", ""), c("c", "");
  list.Add(&b, "hist");
  list.AddFirst(&a);
  list.AddLast(&c, "same");
  EXPECT_EQ(list.GetSize(), 3);
  EXPECT_EQ(list.First(), &a);
  EXPECT_EQ(list.Last(), &c);
  EXPECT_EQ(list.At(1), &b);
  EXPECT_EQ(list.At(3), nullptr);
  EXPECT_EQ(list.IndexOf(&c), 2);
  EXPECT_EQ(list.FindObject("b"), &b);
  TIter backward(&list, kFALSE);
  EXPECT_EQ(backward(), &c);
  EXPECT_STREQ(backward.GetOption(), "same");
  EXPECT_EQ(backward(), &b);
  EXPECT_STREQ(backward.GetOption(), "hist");
  EXPECT_EQ(list.Remove(&b), &b);
  EXPECT_EQ(list.Remove(&b), nullptr);
  EXPECT_EQ(list.GetSize(), 2);
}

TEST(List, ClearDeletesOnlyObjectsMarkedCanDelete) {
  int deaths = 0;
  Counted kept("kept", deaths);
  auto* owned = new Counted("owned", deaths);
  owned->SetBit(TObject::kCanDelete);
  TList list;
  list.Add(&kept);
  list.Add(owned);
  list.Add(owned);
  list.Clear();
  EXPECT_EQ(deaths, 1) << "the marked object goes once, the other stays";
  auto* spared = new Counted("spared", deaths);
  spared->SetBit(TObject::kCanDelete);
  list.Add(spared);
  list.Clear("nodelete");
  EXPECT_EQ(deaths, 1);
  delete spared;
}

TEST(List, OwnerDeletesEverything) {
  int deaths = 0;
  {
    TList list;
    list.SetOwner();
    list.Add(new Counted("x", deaths));
    list.Add(new Counted("y", deaths));
  }
  EXPECT_EQ(deaths, 2);
}

TEST(Directory, AppendWithReplaceDropsTheSameName) {
  TDirectory dir("d", "d");
  TNamed first("same", ""), second("same", "");
  dir.Append(&first);
  testing::internal::CaptureStderr();
  dir.Append(&second, kTRUE);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Replacing existing TNamed: same"), std::string::npos);
  EXPECT_EQ(dir.GetList()->GetSize(), 1);
  EXPECT_EQ(dir.FindObject("same"), &second);
  EXPECT_EQ(dir.Remove(&second), &second);
  EXPECT_EQ(dir.FindObject("same"), nullptr);
}

TEST(Directory, HistogramsFollowTheCurrentDirectory) {
  TDirectory dir("hdir", "");
  TDirectory* saved = gDirectory;
  dir.cd();
  TH1F h("in_hdir", "", 2, 0, 2);
  saved->cd();
  EXPECT_EQ(dir.FindObject("in_hdir"), &h);
  EXPECT_EQ(saved->FindObject("in_hdir"), nullptr);
  h.SetName("renamed_in_hdir");
  EXPECT_EQ(dir.FindObject("renamed_in_hdir"), &h);
}

TEST(Directory, NoDirectoryWhenAddDirectoryIsOff) {
  TH1::AddDirectory(kFALSE);
  TH1F h("no_dir", "", 2, 0, 2);
  TH1::AddDirectory(kTRUE);
  EXPECT_EQ(h.GetDirectory(), nullptr);
  EXPECT_EQ(gDirectory->FindObject("no_dir"), nullptr);
}

TEST(RootLookup, FindsFunctionsHistogramsAndObjectsInTheCurrentCanvas) {
  TF1 f("lookup_f", "gaus", 0, 1);
  TH1F h("lookup_h", "", 2, 0, 2);
  TCanvas c("lookup_c", "", 100, 100);
  TPad p("lookup_p", "", 0, 0, 1, 1);
  p.Draw();
  p.cd();
  TNamed drawn("lookup_drawn", "");
  drawn.Draw();
  EXPECT_EQ(gROOT->FindObject("lookup_f"), &f);
  EXPECT_EQ(gROOT->FindObject("lookup_h"), &h);
  EXPECT_EQ(gROOT->FindObject("lookup_c"), &c);
  EXPECT_EQ(gROOT->FindObject("lookup_drawn"), &drawn);
  EXPECT_EQ(c.GetPrimitive("lookup_drawn"), &drawn);
  EXPECT_EQ(gROOT->FindObject("lookup_missing"), nullptr);
}

TEST(RootLookup, CanvasWithTheSameNameReplacesTheOld) {
  auto* old = new TCanvas("dup_c", "", 100, 100);
  (void)old;
  testing::internal::CaptureStderr();
  TCanvas fresh("dup_c", "", 200, 200);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Deleting canvas with same name: dup_c"), std::string::npos);
  EXPECT_EQ(gROOT->GetListOfCanvases()->FindObject("dup_c"), &fresh);
  EXPECT_EQ(gROOT->GetListOfCanvases()->IndexOf(&fresh), gROOT->GetListOfCanvases()->GetSize() - 1);
}

}  // namespace
