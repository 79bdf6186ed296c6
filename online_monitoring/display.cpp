// Monitoring canvas. Until the canvas is built here, a refresh only brings the
// derived quantities up to date.
#include "kivo.h"
#include "monitor_state.h"

int OM() {
  if (!histos_booked("OM")) return -1;
  analysis();
  return 0;
}
