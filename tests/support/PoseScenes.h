// Host documents whose animation tests the export's placement of changes: rigs that carry
// cameras, cameras and objects turning about three axes at once in every rotation order under
// turned and scaled parents, keys before the start time, parents that shrink to a zero scale,
// and flat or huge placements that the scene cannot hold. Objects in odd orders have a
// non-uniform scale of their own. Shared by the pose fidelity test and
// the animation benchmark. Key spans are whole seconds that the export's single-precision clock
// reaches exactly (2 s), so that every block ends on its last key.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace raydeck::testing {

struct PoseScene {
    std::string name;
    std::string json;
    // Flat or out-of-range placements: the scene cannot follow the host there, and the export
    // says so on the console instead.
    bool flat = false;
};

namespace posescene {

inline std::string vec(double x, double y, double z) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "[%.17g, %.17g, %.17g]", x, y, z);
    return buf;
}

// A track of parameter `first` (903 position, 904 rotation, 905 scale), component c (0 x, 1 y,
// 2 z), linear from `a` at t0 to `b` at t1.
inline std::string track(int first, int c, double a, double b, double t0 = 0, double t1 = 2) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  R"({"id": [%d, %d], "params": {"904": 1}, "keys": [{"time": %.17g, )"
                  R"("value": %.17g}, {"time": %.17g, "value": %.17g}]})",
                  first, 1000 + c, t0, a, t1, b);
    return buf;
}

inline std::string join(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts) {
        out += (out.empty() ? "" : ", ") + p;
    }
    return out;
}

// An object: name, type, extra fields (ending in a comma), tracks and children.
inline std::string object(const std::string& name, int type, const std::string& fields,
                          const std::vector<std::string>& tracks = {},
                          const std::vector<std::string>& children = {}) {
    return R"({"name": ")" + name + R"(", "type": )" + std::to_string(type) + ", " + fields +
           R"( "params": {"1008": 0.8}, "tracks": [)" + join(tracks) + R"(], "children": [)" +
           join(children) + "]}";
}

inline std::string document(const std::vector<std::string>& objects, double minTime = 0) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", minTime);
    return std::string(R"({"format": "raydeck-host-document", "version": 1, "file": "pose.c4d",)"
                       R"( "minTime": )") +
           buf + R"(, "time": )" + buf + R"(, "objects": [)" + join(objects) + "]}";
}

// Three rotation tracks moving at once.
inline std::vector<std::string> turning(double x, double y, double z) {
    return {track(904, 0, x, x + 1.2), track(904, 1, y, y - 1.3), track(904, 2, z, z - 1.5)};
}

}  // namespace posescene

inline std::vector<PoseScene> poseScenes() {
    using namespace posescene;
    const int kNull = 5140, kCamera = 5103;
    std::vector<PoseScene> out;
    out.push_back(
        {"turntable",
         document({object("Rig", kNull, R"("position": [10, 0, 5],)",
                          {track(904, 0, 0, 6.283185307179586)},
                          {object("Cam", kCamera,
                                  R"("position": [0, 50, -300], "rotation": [0, 0.2, 0],)")})})});
    out.push_back(
        {"crane",
         document({object(
             "Base", kNull, "", {track(904, 0, 0, 3)},
             {object("Arm", kNull, R"("position": [0, 20, 0], "rotation": [0, 0.3, 0],)",
                     {track(904, 1, 0.3, -0.5), track(903, 1, 20, 80)},
                     {object("Cam", kCamera,
                             R"("position": [0, 0, -100], "rotation": [0.1, 0.2, 0.3],)")})})})});
    out.push_back(
        {"scaling parent",
         document({object("Grow", kNull, R"("rotation": [0.3, 0, 0],)",
                          {track(905, 0, 1, 3), track(905, 2, 1, 0.5)},
                          {object("Cam", kCamera,
                                  R"("position": [5, 6, -100], "rotation": [0.4, 0.1, 0],)")})})});
    for (int order = 0; order < 7; ++order) {
        const std::string o = std::to_string(order);
        const std::string ordered = R"("rotationOrder": )" + o + ",";
        out.push_back(
            {"free camera, order " + o, document({object("Cam", kCamera,
                                                         R"("position": [1, 2, 3], "rotation": )" +
                                                             vec(0.3, -0.4, 0.5) + "," + ordered,
                                                         turning(0.3, -0.4, 0.5))})});
        std::vector<std::string> own = turning(0.3, -0.4, 0.5);
        own.push_back(track(903, 0, 1, 4));
        own.push_back(track(905, 1, 1.5, 2));
        out.push_back(
            {"objects, order " + o,
             document({object(
                 "Turned", kNull,
                 R"("position": [3, 4, 5], "rotation": [0.2, 0.5, -0.3], "scale": [2, 0.5, 1.5],)",
                 {},
                 {object("Obj", kNull,
                         R"("position": [1, 2, 3], "rotation": )" + vec(0.3, -0.4, 0.5) +
                             (order % 2 ? R"(, "scale": [1.5, 0.8, 1.2],)"
                                        : R"(, "scale": [1.5, 1.5, 1.5],)") +
                             ordered,
                         own)})})});
        out.push_back(
            {"camera on a rig, order " + o,
             document({object("Rig", kNull,
                              R"("position": [3, 4, 5], "rotation": [0.2, 0.5, -0.3],)" + ordered,
                              {track(904, 0, 0.2, 1.5), track(904, 2, -0.3, 0.9)},
                              {object("Cam", kCamera,
                                      R"("position": [1, 2, -30], "rotation": )" +
                                          vec(0.3, -0.4, 0.5) + "," + ordered,
                                      {track(904, 1, -0.4, 0.9), track(903, 0, 1, 5)})})})});
    }
    // A track from 0 s to 1 s ends one sample short of its last key on the export's clock;
    // alone in its document, no other block asks for a time past that sample.
    out.push_back({"keys before the start time, camera",
                   document({object("Cam", kCamera, "", {track(903, 0, 0, 10, 0, 1)})}, 0.5)});
    out.push_back(
        {"keys before the start time, rig and object",
         document(
             {object("Rig", kNull, R"("rotation": [0.2, 0.3, 0.4],)", {track(904, 1, 0, 1, 0, 2)},
                     {object("Cam", kCamera, R"("position": [0, 0, -10],)")}),
              object("N", kNull, "", {track(903, 0, 0, 10, 0, 2), track(904, 1, 0, 1, 0, 2)})},
             0.5)});
    out.push_back(
        {"parent shrinking to zero",
         document({object(
             "Shrink", kNull, R"("position": [1, 2, 3], "rotation": [0.1, 0.2, 0.3],)",
             {track(905, 0, 1, 0), track(904, 1, 0.2, 1)},
             {object("Cam", kCamera, R"("position": [0, 0, -10],)"),
              object("Child", kNull, R"("position": [1, 1, 1],)", {track(904, 2, 0, 2)})})})});
    out.push_back(
        {"flat and huge placements",
         document({object("Flat", kNull, R"("scale": [0, 1, 1],)", {track(904, 1, 0, 1)},
                          {object("FlatCam", kCamera, R"("position": [0, 0, -10],)")}),
                   object("Tiny", kNull, R"("scale": [1e-310, 1, 1],)", {track(904, 1, 0, 1)},
                          {object("TinyCam", kCamera, "")}),
                   object("Huge", kNull, R"("scale": [1e160, 1e160, 1e160],)", {},
                          {object("Huge2", kNull, R"("scale": [1e160, 1, 1],)", {},
                                  {object("HugeCam", kCamera, "", {track(903, 0, 0, 1)})})})}),
         true});
    return out;
}

}  // namespace raydeck::testing
