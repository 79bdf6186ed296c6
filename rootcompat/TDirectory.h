// A directory of objects in memory. Histograms join the current directory
// (gDirectory) when created or cloned and leave it when deleted. A directory
// of a file (TFile) also writes objects into the file as keys. Each thread
// has its own current directory, gROOT until it changes it, as in ROOT with
// thread safety enabled.
#ifndef ROOT_TDirectory
#define ROOT_TDirectory

#include "TNamed.h"

class TFile;
class TList;

class TDirectory : public TNamed {
 public:
  TDirectory();
  TDirectory(const char* name, const char* title);
  TDirectory(const TDirectory&) = delete;
  TDirectory& operator=(const TDirectory&) = delete;
  ~TDirectory() override;

  const char* ClassName() const override { return "TDirectory"; }
  // Adds obj; with replace, an object of the same name leaves the list first.
  virtual void Append(TObject* obj, Bool_t replace = kFALSE);
  virtual void Add(TObject* obj, Bool_t replace = kFALSE) { Append(obj, replace); }
  virtual Bool_t cd(const char* path = nullptr);
  virtual void Clear(Option_t* option = "");
  TObject* FindObject(const char* name) const override;
  virtual TObject* FindObject(const TObject* obj) const;
  virtual TObject* Get(const char* namecycle);
  virtual TList* GetList() const { return fList; }
  // The file this directory belongs to; null for a directory in memory only.
  virtual TFile* GetFile() const { return nullptr; }
  virtual TList* GetListOfKeys() const { return nullptr; }
  virtual Bool_t IsWritable() const { return kFALSE; }
  // Writes obj as a key of the file; a directory in memory has no file and
  // says so. Returns the bytes written, 0 on failure.
  virtual Int_t WriteTObject(const TObject* obj, const char* name = nullptr, Option_t* option = "",
                             Int_t bufsize = 0);
  Int_t Write(const char* = nullptr, Int_t = 0, Int_t = 0) override { return 0; }
  Int_t Write(const char* = nullptr, Int_t = 0, Int_t = 0) const override { return 0; }
  void RecursiveRemove(TObject* obj) override;
  virtual TObject* Remove(TObject* obj);

  // The current directory of the calling thread, that gDirectory names.
  static TDirectory*& CurrentDirectory();

  // Makes `directory` (null: none, so that histograms created meanwhile
  // belong to no directory) the current one of this thread while alive.
  class TContext {
   public:
    explicit TContext(TDirectory* directory) : fPrevious(CurrentDirectory()) { CurrentDirectory() = directory; }
    ~TContext() { CurrentDirectory() = fPrevious; }
    TContext(const TContext&) = delete;
    TContext& operator=(const TContext&) = delete;

   private:
    TDirectory* fPrevious;
  };

 protected:
  TList* fList;
};

#define gDirectory (TDirectory::CurrentDirectory())

#endif
