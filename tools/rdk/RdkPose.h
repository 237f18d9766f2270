// RdkPose: the world placement of every group and camera of a scene at a time, found by applying
// the scene's animation blocks (rule and derivation in tools/rdk/README.md), printed one line per
// placement in the form that `raydeck-host pose` prints the host's own, so that the two compare
// line by line.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tools/rdk/RdkReader.h"

namespace rdk {

// An affine placement: offset, then the images of the x, y and z axes. A point p maps to
// off + p.x * ax[0] + p.y * ax[1] + p.z * ax[2]; `a * b` applies b first.
struct Placement {
    double off[3] = {0, 0, 0};
    double ax[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

    // From the scene's 16 numbers (X axis, 0, Y axis, 0, Z axis, 0, offset, 1).
    static Placement fromScene(const double* m);
    void toScene(double* m) const;
};
Placement operator*(const Placement& a, const Placement& b);

struct PoseEntry {
    std::string kind;  // "camera" or "object"
    std::string path;  // a camera's name; an object's group names from the top, joined by '/'
    Placement placement;
};

// The placements at `seconds`, in the host's axes (the scene's z flip undone): every camera
// section in file order, then every group below the root group, depth first.
std::vector<PoseEntry> scenePose(const Scene& scene, double seconds);

// Every time, in milliseconds, at which an animation block has a sample (start_time plus its
// time stamps), ascending and without repeats; {0} for a scene without animation.
std::vector<int64_t> sceneSampleTimes(const Scene& scene);

// Rewrites the scene's group and camera transforms to their placements at `seconds` (the
// animation blocks stay), so that whatever draws transforms draws that moment.
void poseScene(Scene& scene, double seconds);

// One line: time (seconds, 3 decimals), kind, path, then the offset and the three axes, twelve
// numbers in full precision.
void writePoseLine(std::ostream& out, double seconds, const std::string& kind,
                   const std::string& path, const Placement& placement);

}  // namespace rdk

namespace rdk {

// Compares two pose listings (writePoseLine's lines) line by line: as many lines, each with
// the same time, kind and path, and twelve numbers. `deviation` gets the largest difference
// between a line's numbers relative to the larger of 1 and the largest magnitude in that line
// of `expected`. False, with `why` naming the line, when the listings differ in form.
bool comparePoses(const std::string& got, const std::string& expected, double& deviation,
                  std::string& why);

}  // namespace rdk
