// Base of every ROOT object: status bits, unique id, name, drawing into the current pad.
#ifndef ROOT_TObject
#define ROOT_TObject

#include "Rtypes.h"

class TObject {
 public:
  enum EStatusBits {
    kCanDelete = BIT(0),
    kMustCleanup = BIT(3),
    kObjInCanvas = BIT(3),
    kIsReferenced = BIT(4),
    kHasUUID = BIT(5),
    kCannotPick = BIT(6),
    kNoContextMenu = BIT(8),
    kInvalidObject = BIT(13),
    kZombie = BIT(13)
  };

  TObject();
  TObject(const TObject& object);
  TObject& operator=(const TObject& rhs);
  virtual ~TObject();

  virtual const char* ClassName() const;
  virtual TObject* Clone(const char* newname = "") const;
  virtual void Copy(TObject& object) const;
  virtual void Draw(Option_t* option = "");
  virtual void AppendPad(Option_t* option = "");
  virtual TObject* FindObject(const char* name) const;
  virtual const char* GetName() const;
  virtual const char* GetTitle() const;
  virtual Option_t* GetOption() const { return ""; }
  virtual UInt_t GetUniqueID() const;
  virtual void SetUniqueID(UInt_t uid);
  virtual Bool_t IsEqual(const TObject* obj) const;
  virtual void Print(Option_t* option = "") const;
  virtual void RecursiveRemove(TObject* obj);
  // Writes the object into the current directory (gDirectory), which must be
  // a file, as a key named `name` (its own name by default); returns the
  // bytes written, 0 on failure. `option` and `bufsize` are not used.
  virtual Int_t Write(const char* name = nullptr, Int_t option = 0, Int_t bufsize = 0);
  virtual Int_t Write(const char* name = nullptr, Int_t option = 0, Int_t bufsize = 0) const;
  Bool_t IsZombie() const { return TestBit(kZombie); }

  void SetBit(UInt_t f, Bool_t set);
  void SetBit(UInt_t f) { fBits |= f; }
  void ResetBit(UInt_t f) { fBits &= ~f; }
  Bool_t TestBit(UInt_t f) const { return (fBits & f) != 0; }
  Int_t TestBits(UInt_t f) const { return Int_t(fBits & f); }
  void InvertBit(UInt_t f) { fBits ^= f; }
  // Marks an object whose construction failed.
  void MakeZombie() { SetBit(kZombie); }

  virtual void Info(const char* method, const char* msgfmt, ...) const
      __attribute__((format(printf, 3, 4)));
  virtual void Warning(const char* method, const char* msgfmt, ...) const
      __attribute__((format(printf, 3, 4)));
  virtual void Error(const char* method, const char* msgfmt, ...) const
      __attribute__((format(printf, 3, 4)));

 private:
  UInt_t fUniqueID;
  UInt_t fBits;
};

#endif
