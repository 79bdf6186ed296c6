// Objects of this library in ROOT's binary form, as the key of a ROOT file
// holds them before compression: TH1F, TH1D, TH2F, TGraph and
// TGraphAsymmErrors with everything they contain, and plain TNamed. Streaming copies the
// object's state; the result is plain data that any thread may compress and
// place into a file.
#ifndef ROOTCOMPAT_ROOTSTREAMER_H
#define ROOTCOMPAT_ROOTSTREAMER_H

#include <cstddef>
#include <set>
#include <string>
#include <vector>

class TObject;

namespace rootcompat {

struct StreamedObject {
  std::string className;
  std::string name;   // the key's name
  std::string title;  // the key's title: the object's title
  // The object's bytes; class references in it count from the payload's
  // start and get the key length added when the key is built.
  std::string payload;
  std::vector<std::size_t> references;
  // Classes of the objects streamed, whose descriptions the file must carry.
  std::set<std::string> classes;
};

// Streams obj for a key named `name` (the object's own name when null or
// empty). False with `error` naming the class when this library cannot write
// objects of it. Objects of such classes in a histogram's or graph's list of
// functions are left out, with a warning. With `noStats`, histograms carry
// kNoStats, as in the ROOT JSON of a style whose OptStat is 0: ROOT then
// draws them without a statistics box, as the page does.
bool StreamObject(const TObject& obj, const char* name, StreamedObject& out, std::string& error,
                  bool noStats = false);

}  // namespace rootcompat

#endif
