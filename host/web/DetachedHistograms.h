#ifndef KIVO_HOST_WEB_DETACHED_HISTOGRAMS_H
#define KIVO_HOST_WEB_DETACHED_HISTOGRAMS_H

#include "TH1.h"

namespace kivo::web {

// Histograms made while one lives join no directory: copies must not take
// the place of the monitor's own objects there, nor show up in save().
class DetachedHistograms {
 public:
  DetachedHistograms() : was_(TH1::AddDirectoryStatus()) { TH1::AddDirectory(kFALSE); }
  ~DetachedHistograms() { TH1::AddDirectory(was_); }
  DetachedHistograms(const DetachedHistograms&) = delete;
  DetachedHistograms& operator=(const DetachedHistograms&) = delete;

 private:
  Bool_t was_;
};

}  // namespace kivo::web

#endif
