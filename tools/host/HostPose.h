// HostPose: the host's own world placement of every object and camera of a document at a time,
// from the simulator's evaluation of the tracks, one line each in the form `rdk-inspect pose`
// prints a scene's, so that the two compare line by line.
#ifndef RAYDECK_TOOLS_HOST_HOSTPOSE_H
#define RAYDECK_TOOLS_HOST_HOSTPOSE_H

#include <cstdint>
#include <ostream>
#include <vector>

#include "tools/host/SimDocument.h"

namespace raydeck::hostsim {

// A time at which the export samples: `ms` as the scene stamps it (the track's first key
// truncated to whole seconds plus the sample's time stamp, itself truncated to milliseconds),
// and `seconds`, the time the export asked the host for the value (rounded to the millisecond).
struct SampleTime {
    int64_t ms = 0;
    double seconds = 0.0;
};

// Every time at which the export samples a track of the document, on its single-precision
// 1/30 s clock. Ascending by `ms`, without repeats (the first track to reach a stamp gives its
// `seconds`); {0, 0} for a document without animation. A track yields at most `maxPerTrack`.
std::vector<SampleTime> documentSampleTimes(const SimDocument& doc, size_t maxPerTrack = 1000000);

// Evaluates the document at `evaluate` seconds and writes the lines, stamped `seconds`: every
// camera (depth first, caches not searched, as the export's camera pass), then every object as
// the export walks them (an object, the geometry the host built for it, its children), with
// the path of names from the top. Leaves the document evaluated at that time.
void writeDocumentPose(SimDocument& doc, double seconds, double evaluate, std::ostream& out);

}  // namespace raydeck::hostsim

#endif
