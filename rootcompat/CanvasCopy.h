// A canvas as it was at one moment, for writing as ROOT JSON (RootJSON.h)
// while the original goes on changing: every pad with its own members and,
// in each pad, in the same order and with the same draw options, the copy
// that a Copier makes of each primitive other than a pad (none: the
// primitive is left out). Copies carry their originals' status bits.
// A CanvasCopy is made and destroyed on the thread that owns the originals;
// in between, any thread may read it.
#ifndef ROOTCOMPAT_CANVASCOPY_H
#define ROOTCOMPAT_CANVASCOPY_H

#include <functional>
#include <memory>
#include <vector>

class TCanvas;
class TObject;
class TPad;

namespace rootcompat {

class CanvasCopy {
 public:
  // The copy of `primitive`, drawn in the original pad `pad`; null leaves it out.
  using Copier = std::function<std::unique_ptr<TObject>(const TObject& primitive, const TPad& pad)>;

  CanvasCopy(const TCanvas& canvas, const Copier& copy);
  ~CanvasCopy();
  CanvasCopy(const CanvasCopy&) = delete;
  CanvasCopy& operator=(const CanvasCopy&) = delete;

  const TCanvas& GetCanvas() const { return *fCanvas; }

 private:
  void CopyPrimitives(const TPad& original, TPad& copy, const Copier& copier);

  std::unique_ptr<TCanvas> fCanvas;
  std::vector<std::unique_ptr<TPad>> fPads;
  std::vector<std::unique_ptr<TObject>> fObjects;
};

}  // namespace rootcompat

#endif
