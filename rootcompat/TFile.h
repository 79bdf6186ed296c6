// A ROOT file, written as ROOT 6 writes one:
//   TFile f("run.root", "RECREATE");
//   h->Write();        // a key "h" in f, the current directory
//   f.Close();
// Options "RECREATE" (replace an existing file), "NEW" or "CREATE" (fail if it
// exists). Objects are compressed with zlib (settings 1..9 or 101..109: level
// 1..9; 0: none). Histograms created while the file is the current directory
// belong to it: Write() writes them all and Close() deletes them, as in ROOT.
#ifndef ROOT_TFile
#define ROOT_TFile

#include <memory>
#include <string>

#include "TDirectory.h"

namespace rootcompat {
class FileWriter;
class FileSink;
}  // namespace rootcompat

class TFile : public TDirectory {
 public:
  TFile();
  TFile(const char* fname, Option_t* option = "", const char* ftitle = "", Int_t compress = 101);
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;
  ~TFile() override;

  // The file, or null (with an error printed) when it cannot be created.
  static TFile* Open(const char* name, Option_t* option = "", const char* ftitle = "", Int_t compress = 101);

  const char* ClassName() const override { return "TFile"; }
  // Writes the class descriptions, the keys list and the header, closes the
  // file and deletes the objects that belong to it.
  virtual void Close(Option_t* option = "");
  Bool_t IsOpen() const { return fWriter != nullptr; }
  Bool_t IsWritable() const override { return IsOpen() && !fWriteError; }
  TFile* GetFile() const override { return const_cast<TFile*>(this); }
  TList* GetListOfKeys() const override { return fKeys; }
  Option_t* GetOption() const override { return fOption.c_str(); }
  Int_t WriteTObject(const TObject* obj, const char* name = nullptr, Option_t* option = "",
                     Int_t bufsize = 0) override;
  // Writes every object that belongs to the file; returns the bytes written.
  Int_t Write(const char* name = nullptr, Int_t opt = 0, Int_t bufsize = 0) override;
  Int_t Write(const char* name = nullptr, Int_t opt = 0, Int_t bufsize = 0) const override;

  Long64_t GetEND() const;
  virtual Long64_t GetSize() const { return GetEND(); }
  Int_t GetCompressionAlgorithm() const { return fCompress / 100; }
  Int_t GetCompressionLevel() const { return fCompress % 100; }
  Int_t GetCompressionSettings() const { return fCompress; }
  // Applies to objects written from then on.
  void SetCompressionLevel(Int_t level = 1);
  void SetCompressionSettings(Int_t settings = 101);

 private:
  bool Create(const std::string& mode);

  std::string fOption;
  Int_t fCompress = 101;
  int fD = -1;
  Long64_t fEND = 0;  // the end of the file once closed
  bool fWriteError = false;
  TList* fKeys;
  std::unique_ptr<rootcompat::FileSink> fSink;
  std::unique_ptr<rootcompat::FileWriter> fWriter;
};

#endif
