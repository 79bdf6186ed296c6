#include "CanvasPublisher.h"

#include <utility>


namespace rootcompat {

namespace {

CanvasPublisher& Installed() {
  static CanvasPublisher publisher;
  return publisher;
}

}  // namespace

void SetCanvasPublisher(CanvasPublisher publisher) { Installed() = std::move(publisher); }

bool PublishCanvas(const TCanvas& canvas) {
  const CanvasPublisher& publisher = Installed();
  if (!publisher) return false;
  publisher(canvas);
  return true;
}

}  // namespace rootcompat
