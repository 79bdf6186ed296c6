// ROOT JSON (TBufferJSON's layout, as JSROOT reads it) for the objects of this
// library: histograms, axes, graphs, functions, text, pads, canvases, lists.
// Large numeric arrays use JSROOT's compressed "$arr" form, so sparse maps stay
// small. When gStyle's OptStat is 0, histograms carry kNoStats so that no stats
// box is drawn.
#ifndef ROOTCOMPAT_ROOTJSON_H
#define ROOTCOMPAT_ROOTJSON_H

#include <functional>
#include <string>

class TH1;
class TObject;
class TPad;

namespace rootcompat {

// Appends the JSON of obj to out. A TList becomes a TList of its objects.
void AppendJSON(std::string& out, const TObject& obj);

// The text written in place of primitive number `index` (from 0) of `pad`.
using PrimitiveText = std::function<std::string(const TPad& pad, int index, const TObject& primitive)>;

// Appends the JSON of a pad or canvas and its sub-pads, each primitive other
// than a pad written as `instead` returns it (for a reader that puts the
// objects in itself).
void AppendJSON(std::string& out, const TPad& pad, const PrimitiveText& instead);

std::string ToJSON(const TObject& obj);

// As ToJSON, for a histogram whose cells hold whole, non-negative counts:
// fArray is the narrowest unsigned integer "$arr" ("Uint8", "Uint16",
// "Uint32") that holds its largest count, or Float32/Float64 as ToJSON writes
// it when a cell is not such a count. ROOT reads a TH2F's fArray as floats:
// this is for readers that convert it (the page's recent maps), never for
// files or ROOT's protocol.
std::string CountsToJSON(const TH1& h);

}  // namespace rootcompat

#endif
