// Where TCanvas::Update sends the canvas: the host installs a callback that
// receives the repainted canvas and serialises it (RootJSON.h) only when it
// has somewhere to send it, so an update costs nothing when nobody watches.
#ifndef ROOTCOMPAT_CANVASPUBLISHER_H
#define ROOTCOMPAT_CANVASPUBLISHER_H

#include <functional>

class TCanvas;

namespace rootcompat {

using CanvasPublisher = std::function<void(const TCanvas&)>;

// Installs the callback (an empty function removes it).
void SetCanvasPublisher(CanvasPublisher publisher);

// Calls the installed callback with the canvas; false when none is installed.
bool PublishCanvas(const TCanvas& canvas);

}  // namespace rootcompat

#endif
