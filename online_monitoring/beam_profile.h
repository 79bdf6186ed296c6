// The beam's position and width along one axis of a stave's hit map, fitted
// to a projection of the map with a Gaussian (the monitor's fg) in two passes.
#ifndef KIVO_MONITOR_BEAM_PROFILE_H
#define KIVO_MONITOR_BEAM_PROFILE_H

class TF1;
class TH1D;

// Whether a first pass that ends wholly beyond the axis (its mean minus 2.5
// sigma above the last bin's centre) has its mean moved onto the last bin
// before the refit, so that the refit looks at the bins of the map: done for
// the columns, not for the rows.
enum class PullOntoAxis { no, yes };

// A first fit in a window around the strongest structure of `h` (over the
// whole axis when there is none), then a refit within mean +/- 2.5 sigma.
// `position` is the mean held within the centres of the first and last bins;
// `width` the absolute sigma. `gaussian` ("gaus") keeps the parameters and
// range of the refit; nothing else outside `h` is touched.
void fit_beam_profile(TH1D* h, TF1* gaussian, PullOntoAxis pull, double& position, double& width);

#endif
