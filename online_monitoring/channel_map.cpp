// Detector layout: the channel map from readout addresses to staves and chips,
// the per-stave drawing style and the layout of one hit word. Built once when
// the library is loaded.
#include "monitor_state.h"

std::map<chipkey, chiplocation> chipmap = {
    {{1, 1}, {0, 0}},  {{1, 2}, {0, 1}},  {{1, 3}, {0, 2}},  {{1, 4}, {0, 3}},
    {{1, 5}, {0, 4}},  {{1, 6}, {0, 5}},  {{1, 7}, {0, 6}},  {{1, 8}, {0, 7}},
    {{1, 9}, {3, 8}},  {{1, 10}, {3, 7}}, {{1, 11}, {3, 6}}, {{1, 12}, {3, 5}},
    {{1, 13}, {3, 4}}, {{1, 14}, {3, 3}}, {{1, 15}, {3, 2}}, {{1, 16}, {3, 1}},
    {{1, 17}, {3, 0}}, {{1, 18}, {2, 8}}, {{1, 19}, {2, 7}}, {{1, 20}, {2, 6}},
    {{1, 21}, {2, 5}}, {{1, 22}, {2, 4}}, {{1, 23}, {2, 3}}, {{1, 24}, {2, 2}},
    {{1, 25}, {2, 1}}, {{1, 26}, {2, 0}}, {{1, 27}, {0, 8}}, {{2, 1}, {1, 2}},
    {{2, 2}, {1, 1}},  {{2, 3}, {1, 0}},  {{2, 4}, {1, 3}},  {{2, 5}, {1, 4}},
    {{2, 6}, {1, 5}},  {{2, 7}, {1, 6}},  {{2, 8}, {1, 7}},  {{2, 9}, {1, 8}},
};

// kBlue, kRed, kGreen+2, kMagenta+2
int chipColor[NSTAVE] = {600, 632, 418, 618};
// full circle, full square, full diamond, full cross
int chipMarker[NSTAVE] = {20, 21, 33, 34};

// One chip's pixels: a stave reporting this many hits or more in one event is
// left out of that event's summaries.
int max_npixels = 524288;

int decode_row(int hit) { return hit >> 16; }

int decode_col(int hit) { return hit; }
