// Where TCanvas::Update sends the canvas: the host installs a callback that
// receives the canvas and its ROOT JSON. With no callback installed, Update
// serialises nothing.
#ifndef ROOTCOMPAT_CANVASPUBLISHER_H
#define ROOTCOMPAT_CANVASPUBLISHER_H

#include <functional>
#include <string>

class TCanvas;

namespace rootcompat {

using CanvasPublisher = std::function<void(const TCanvas&, std::string json)>;

// Installs the callback (an empty function removes it).
void SetCanvasPublisher(CanvasPublisher publisher);

// Calls the installed callback with the canvas's JSON; false when none is installed.
bool PublishCanvas(const TCanvas& canvas);

}  // namespace rootcompat

#endif
