// Objects of this library read back from ROOT's binary form, as RootStreamer
// writes them into the keys of a ROOT file: TH1F, TH1D, TH2F, TGraph,
// TGraphAsymmErrors and TNamed. Histograms made here join no directory.
// Lists of functions and axis labels are passed over.
#ifndef ROOTCOMPAT_ROOTOBJECTREADER_H
#define ROOTCOMPAT_ROOTOBJECTREADER_H

#include <memory>
#include <string>
#include <string_view>

class TObject;

namespace rootcompat {

// The object of class `className` in `payload` (a key's inflated bytes);
// null with `error` when the class is not one of those above or the bytes
// are not such an object.
std::unique_ptr<TObject> ReadStreamedObject(const std::string& className, std::string_view payload,
                                            std::string& error);

// The object named `name` (its last cycle) of the ROOT file `path`; null
// with `error` saying why.
std::unique_ptr<TObject> ReadFileObject(const std::string& path, const std::string& name, std::string& error);

}  // namespace rootcompat

#endif
