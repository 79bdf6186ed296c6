// ROOT JSON (TBufferJSON's layout, as JSROOT reads it) for the objects of this
// library: histograms, axes, graphs, functions, text, pads, canvases, lists.
// Large numeric arrays use JSROOT's compressed "$arr" form, so sparse maps stay
// small. When gStyle's OptStat is 0, histograms carry kNoStats so that no stats
// box is drawn.
#ifndef ROOTCOMPAT_ROOTJSON_H
#define ROOTCOMPAT_ROOTJSON_H

#include <string>

class TObject;

namespace rootcompat {

// Appends the JSON of obj to out. A TList becomes a TList of its objects.
void AppendJSON(std::string& out, const TObject& obj);

std::string ToJSON(const TObject& obj);

}  // namespace rootcompat

#endif
