#include "CanvasCopy.h"

#include "TCanvas.h"
#include "TList.h"

namespace rootcompat {

namespace {

// Bits that tie an object to the pads that show it; a copy carries them so
// that it reads as its original, and drops them before it is freed.
constexpr UInt_t kPadBits = TObject::kCanDelete | TObject::kMustCleanup;

void CopyPadBits(const TObject& from, TObject& to) {
  to.SetBit(kPadBits, kFALSE);
  to.SetBit(from.TestBits(kPadBits));
}

}  // namespace

// The members a pad is written with, copied one by one: pads cannot be
// copied as a whole, and their primitives are copied apart.
class PadMembers {
 public:
  static void Copy(const TPad& from, TPad& to, TCanvas* canvas, TPad* mother) {
    from.TObject::Copy(to);
    CopyPadBits(from, to);
    from.TAttLine::Copy(to);
    from.TAttFill::Copy(to);
    from.TAttPad::Copy(to);
    to.fXlowNDC = from.fXlowNDC;
    to.fYlowNDC = from.fYlowNDC;
    to.fXUpNDC = from.fXUpNDC;
    to.fYUpNDC = from.fYUpNDC;
    to.fWNDC = from.fWNDC;
    to.fHNDC = from.fHNDC;
    to.fAbsXlowNDC = from.fAbsXlowNDC;
    to.fAbsYlowNDC = from.fAbsYlowNDC;
    to.fAbsWNDC = from.fAbsWNDC;
    to.fAbsHNDC = from.fAbsHNDC;
    to.fNumber = from.fNumber;
    to.fTickx = from.fTickx;
    to.fTicky = from.fTicky;
    to.fLogx = from.fLogx;
    to.fLogy = from.fLogy;
    to.fLogz = from.fLogz;
    to.fBorderSize = from.fBorderSize;
    to.fBorderMode = from.fBorderMode;
    to.fModified = from.fModified;
    to.fGridx = from.fGridx;
    to.fGridy = from.fGridy;
    to.fEditable = from.fEditable;
    to.fName = from.fName;
    to.fTitle = from.fTitle;
    to.fCanvas = canvas;
    to.fMother = mother;
  }

  static void CopyCanvas(const TCanvas& from, TCanvas& to) {
    Copy(from, to, &to, &to);
    to.fCw = from.fCw;
    to.fCh = from.fCh;
  }
};

CanvasCopy::CanvasCopy(const TCanvas& canvas, const Copier& copy) : fCanvas(new TCanvas) {
  PadMembers::CopyCanvas(canvas, *fCanvas);
  CopyPrimitives(canvas, *fCanvas, copy);
}

void CanvasCopy::CopyPrimitives(const TPad& original, TPad& copy, const Copier& copier) {
  TIter next(original.GetListOfPrimitives());
  while (TObject* primitive = next()) {
    if (auto* pad = dynamic_cast<const TPad*>(primitive)) {
      fPads.push_back(std::make_unique<TPad>());
      TPad& padCopy = *fPads.back();
      PadMembers::Copy(*pad, padCopy, fCanvas.get(), &copy);
      copy.GetListOfPrimitives()->Add(&padCopy, next.GetOption());
      CopyPrimitives(*pad, padCopy, copier);
    } else if (std::unique_ptr<TObject> object = copier(*primitive, original)) {
      CopyPadBits(*primitive, *object);
      copy.GetListOfPrimitives()->Add(object.get(), next.GetOption());
      fObjects.push_back(std::move(object));
    }
  }
}

CanvasCopy::~CanvasCopy() {
  fCanvas->GetListOfPrimitives()->Clear("nodelete");
  for (const auto& pad : fPads) {
    pad->GetListOfPrimitives()->Clear("nodelete");
    pad->SetBit(kPadBits, kFALSE);
  }
  for (const auto& object : fObjects) object->SetBit(kPadBits, kFALSE);
  fCanvas->SetBit(kPadBits, kFALSE);
}

}  // namespace rootcompat
