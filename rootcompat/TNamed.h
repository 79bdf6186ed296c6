// An object with a name and a title.
#ifndef ROOT_TNamed
#define ROOT_TNamed

#include <string>

#include "TObject.h"

class TNamed : public TObject {
 public:
  TNamed() = default;
  TNamed(const char* name, const char* title);
  TNamed(const TNamed& named) = default;
  TNamed& operator=(const TNamed& rhs) = default;
  ~TNamed() override = default;

  const char* ClassName() const override { return "TNamed"; }
  TObject* Clone(const char* newname = "") const override;
  void Copy(TObject& named) const override;
  const char* GetName() const override { return fName.c_str(); }
  const char* GetTitle() const override { return fTitle.c_str(); }
  virtual void SetName(const char* name);
  virtual void SetNameTitle(const char* name, const char* title);
  virtual void SetTitle(const char* title = "");
  void Print(Option_t* option = "") const override;

 protected:
  std::string fName;
  std::string fTitle;
};

#endif
