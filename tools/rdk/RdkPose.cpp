// RdkPose: placements at a time from the group and camera transforms and the animation blocks.
#include "tools/rdk/RdkPose.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "trvSceneFormat.h"

namespace rdk {

namespace kw = trvFormat::keyword;

Placement Placement::fromScene(const double* m) {
    Placement p;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            p.ax[i][j] = m[i * 4 + j];
        }
        p.off[i] = m[12 + i];
    }
    return p;
}

void Placement::toScene(double* m) const {
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            m[i * 4 + j] = ax[i][j];
        }
        m[i * 4 + 3] = 0.0;
        m[12 + i] = off[i];
    }
    m[15] = 1.0;
}

Placement operator*(const Placement& a, const Placement& b) {
    const auto apply = [&a](const double* v, double* out) {
        for (int r = 0; r < 3; ++r) {
            out[r] = a.ax[0][r] * v[0] + a.ax[1][r] * v[1] + a.ax[2][r] * v[2];
        }
    };
    Placement out;
    for (int i = 0; i < 3; ++i) {
        apply(b.ax[i], out.ax[i]);
    }
    apply(b.off, out.off);
    for (int r = 0; r < 3; ++r) {
        out.off[r] += a.off[r];
    }
    return out;
}

namespace {

bool isAnimation(const Node& n) {
    return n.isBlock(kw::animation);
}

double startMs(const Node& block) {
    const Node* s = block.attribute("start_time");
    return s != nullptr && s->value.isNumbers() ? s->value.number() * 1000.0 : 0.0;
}

// A block's matrix at `ms`: its sample at ms - start, held at the first and the last sample
// outside its range; the identity for a block without samples.
Placement blockAt(const Node& block, double ms) {
    const Node* ts = block.attribute("timestamps");
    const Node* mats = block.attribute("matrices");
    if (ts == nullptr || mats == nullptr || !ts->value.isArray() || !mats->value.isArray()) {
        return Placement();
    }
    const size_t n = std::min(ts->value.componentCount(), mats->value.componentCount() / 16);
    if (n == 0) {
        return Placement();
    }
    // Whole milliseconds on both sides; the margin keeps a time printed to the millisecond on
    // its own sample.
    const double dt = ms - startMs(block) + 1e-6;
    size_t lo = 0, hi = n;  // the last sample at or before dt lies in [lo, hi)
    while (hi - lo > 1) {
        const size_t mid = lo + (hi - lo) / 2;
        if (ts->value.component(mid) <= dt) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    double m[16];
    for (int k = 0; k < 16; ++k) {
        m[k] = mats->value.component(lo * 16 + k);
    }
    return Placement::fromScene(m);
}

Placement transformOf(const Node& block) {
    const Node* t = block.attribute("transform");
    if (t == nullptr || !t->value.isNumbers() || t->value.numbers.size() < 16) {
        return Placement();
    }
    return Placement::fromScene(t->value.numbers.data());
}

// The scene's z flip; its own inverse.
Placement flip() {
    Placement f;
    f.ax[2][2] = -1.0;
    return f;
}

// Y_n ... Y_1 of the group's own blocks, the first written rightmost.
Placement groupChange(const Node& group, double ms) {
    Placement change;
    for (const Node& c : group.children) {
        if (isAnimation(c)) {
            change = blockAt(c, ms) * change;
        }
    }
    return change;
}

void setTransform(Node& block, const Placement& p) {
    for (Node& c : block.children) {
        if (!c.isBlock() && c.name == "transform" && c.value.numbers.size() >= 16) {
            p.toScene(c.value.numbers.data());
            return;
        }
    }
}

void poseGroups(const Node& group, const Placement& parent, const std::string& prefix, double ms,
                std::vector<PoseEntry>& out) {
    for (const Node& c : group.children) {
        if (!c.isBlock(kw::group)) {
            continue;
        }
        const Placement world = parent * transformOf(c) * groupChange(c, ms);
        const std::string path = prefix.empty() ? c.arg(0) : prefix + "/" + c.arg(0);
        out.push_back(PoseEntry{"object", path, flip() * world});
        poseGroups(c, world, path, ms, out);
    }
}

void poseGroupTransforms(Node& group, double ms) {
    for (Node& c : group.children) {
        if (c.isBlock(kw::group)) {
            setTransform(c, transformOf(c) * groupChange(c, ms));
            poseGroupTransforms(c, ms);
        }
    }
}

// Calls f(camera, change) for every camera section with Y_n ... Y_1 of the animation blocks
// that follow it at the top level.
template <typename F>
void forEachCamera(const std::vector<Node>& nodes, double ms, F f) {
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (!nodes[i].isBlock(kw::camera)) {
            continue;
        }
        Placement change;
        for (size_t j = i + 1; j < nodes.size() && isAnimation(nodes[j]); ++j) {
            change = blockAt(nodes[j], ms) * change;
        }
        f(i, change);
    }
}

}  // namespace

std::vector<PoseEntry> scenePose(const Scene& scene, double seconds) {
    const double ms = seconds * 1000.0;
    std::vector<PoseEntry> out;
    forEachCamera(scene.nodes, ms, [&](size_t i, const Placement& change) {
        const Node& camera = scene.nodes[i];
        out.push_back(PoseEntry{"camera", camera.arg(0), flip() * change * transformOf(camera)});
    });
    for (const Node& n : scene.nodes) {
        if (n.isBlock(kw::group)) {
            poseGroups(n, transformOf(n) * groupChange(n, ms), "", ms, out);
        }
    }
    return out;
}

void poseScene(Scene& scene, double seconds) {
    const double ms = seconds * 1000.0;
    forEachCamera(scene.nodes, ms, [&](size_t i, const Placement& change) {
        setTransform(scene.nodes[i], change * transformOf(scene.nodes[i]));
    });
    for (Node& n : scene.nodes) {
        if (n.isBlock(kw::group)) {
            setTransform(n, transformOf(n) * groupChange(n, ms));
            poseGroupTransforms(n, ms);
        }
    }
}

namespace {

void collectTimes(const std::vector<Node>& nodes, std::set<int64_t>& times) {
    for (const Node& n : nodes) {
        if (isAnimation(n)) {
            const Node* ts = n.attribute("timestamps");
            if (ts == nullptr || !ts->value.isArray()) {
                continue;
            }
            const double start = startMs(n);
            for (size_t i = 0; i < ts->value.componentCount(); ++i) {
                const double ms = start + ts->value.component(i);
                // Times no clock reaches (and whose conversion would be undefined) are skipped.
                if (std::fabs(ms) < 1e15) {
                    times.insert(static_cast<int64_t>(ms));
                }
            }
        } else if (n.isBlock()) {
            collectTimes(n.children, times);
        }
    }
}

}  // namespace

std::vector<int64_t> sceneSampleTimes(const Scene& scene) {
    std::set<int64_t> times;
    collectTimes(scene.nodes, times);
    if (times.empty()) {
        times.insert(0);
    }
    return std::vector<int64_t>(times.begin(), times.end());
}

void writePoseLine(std::ostream& out, double seconds, const std::string& kind,
                   const std::string& path, const Placement& p) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", seconds);
    out << buf << ' ' << kind << ' ' << path;
    const double* rows[4] = {p.off, p.ax[0], p.ax[1], p.ax[2]};
    for (const double* v : rows) {
        for (int k = 0; k < 3; ++k) {
            // Negative zeros print as zeros: the two sides reach a zero by different sums.
            std::snprintf(buf, sizeof buf, " %.17g", v[k] == 0.0 ? 0.0 : v[k]);
            out << buf;
        }
    }
    out << '\n';
}

}  // namespace rdk

namespace rdk {

namespace {

struct PoseLine {
    std::string head;  // time, kind and path
    double v[12] = {};
};

bool parsePoseLine(const std::string& line, PoseLine& out) {
    // The twelve numbers are the last twelve fields; the path before them may hold blanks.
    size_t end = line.size();
    for (int k = 11; k >= 0; --k) {
        const size_t space = line.rfind(' ', end - 1);
        if (space == std::string::npos || space + 1 >= end) {
            return false;
        }
        const std::string field = line.substr(space + 1, end - space - 1);
        char* stop = nullptr;
        out.v[k] = std::strtod(field.c_str(), &stop);
        if (stop == field.c_str() || *stop != '\0') {
            return false;
        }
        end = space;
    }
    out.head = line.substr(0, end);
    return true;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) {
            nl = text.size();
        }
        out.push_back(text.substr(at, nl - at));
        at = nl + 1;
    }
    return out;
}

}  // namespace

bool comparePoses(const std::string& got, const std::string& expected, double& deviation,
                  std::string& why) {
    deviation = 0.0;
    const std::vector<std::string> a = lines(got), b = lines(expected);
    if (a.size() != b.size()) {
        why = std::to_string(a.size()) + " lines against " + std::to_string(b.size());
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        PoseLine x, y;
        if (!parsePoseLine(a[i], x) || !parsePoseLine(b[i], y) || x.head != y.head) {
            why = "line " + std::to_string(i + 1) + ": \"" + a[i] + "\" against \"" + b[i] + "\"";
            return false;
        }
        double scale = 1.0, worst = 0.0;
        for (int k = 0; k < 12; ++k) {
            scale = std::max(scale, std::fabs(y.v[k]));
            const double diff = std::fabs(x.v[k] - y.v[k]);
            // A NaN is the largest deviation there is.
            worst = std::isnan(diff) || std::isnan(worst) ? HUGE_VAL : std::max(worst, diff);
        }
        const double d = worst / scale;
        if (d > deviation) {
            deviation = d;
            why = "line " + std::to_string(i + 1) + ": \"" + a[i] + "\" against \"" + b[i] + "\"";
        }
    }
    return true;
}

}  // namespace rdk
