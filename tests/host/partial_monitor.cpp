// A monitor library that defines only part of the host's contract: pinit and
// kivo_run, typed as the contract declares them.
#include "monitor_plugin.h"

int kivo_run = 0;

int pinit() { return 0; }
