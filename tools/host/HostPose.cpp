// HostPose: world placements of the evaluated document and the export's sample times.
#include "tools/host/HostPose.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "plugins/c4d/host/HostNumbers.h"

namespace raydeck::hostsim {

namespace {

std::string nameOf(const SimObject& o, const char* fallback) {
    return o.name.empty() ? fallback : o.name;
}

void writeLine(std::ostream& out, double seconds, const char* kind, const std::string& path,
               const RdHostMatrix& m) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", seconds);
    out << buf << ' ' << kind << ' ' << path;
    for (const RdHostVector* v : {&m.off, &m.v1, &m.v2, &m.v3}) {
        for (double x : {v->x, v->y, v->z}) {
            std::snprintf(buf, sizeof buf, " %.17g", x == 0.0 ? 0.0 : x);
            out << buf;
        }
    }
    out << '\n';
}

struct Visit {
    const SimObject* object;
    RdHostMatrix parent;
    std::string prefix;
};

}  // namespace

std::vector<SampleTime> documentSampleTimes(const SimDocument& doc, size_t maxPerTrack) {
    std::map<int64_t, double> times;
    for (const SimObject* o : doc.allObjects()) {
        for (const auto& t : o->tracks) {
            const int32_t first = t->descId[0], c = t->descId[1] - host::vectorComponent::kX;
            if (first != host::objectParam::kPosition && first != host::objectParam::kRotation &&
                first != host::objectParam::kScale) {
                continue;
            }
            const auto enabled = t->params.find(host::trackParam::kEnabled);
            if (c < 0 || c > 2 || !t->hasCurve || t->curve.keys.size() < 2 ||
                enabled == t->params.end() || static_cast<int32_t>(enabled->second.number) == 0) {
                continue;
            }
            const double t0 = timeSeconds(t->curve.keys.front().time);
            const double t1 = timeSeconds(t->curve.keys.back().time);
            const float t0f = static_cast<float>(t0);
            const float d = static_cast<float>(t1) - t0f;
            if (!(d > 0.0f) || !std::isfinite(d) || std::fabs(t0) > 1e9) {
                continue;
            }
            // The export's clock: 1/30 s in single precision, accumulated in single precision.
            const int64_t start = static_cast<int64_t>(t0) * 1000;
            float h = t0f;
            for (size_t n = 0; static_cast<double>(h) <= t1 && n < maxPerTrack; ++n) {
                // The export asks for the value at h rounded to the millisecond.
                const double asked = std::floor(static_cast<double>(h) * 1000.0 + 0.5) / 1000.0;
                times.emplace(start + static_cast<int64_t>((h - t0f) * 1000.0f), asked);
                const float next = h + 1.0f / 30.0f;
                if (next == h) {
                    break;
                }
                h = next;
            }
        }
    }
    std::vector<SampleTime> out;
    for (const auto& t : times) {
        out.push_back(SampleTime{t.first, t.second});
    }
    if (out.empty()) {
        out.push_back(SampleTime{});
    }
    return out;
}

void writeDocumentPose(SimDocument& doc, double seconds, double evaluate, std::ostream& out) {
    doc.time = RdHostTime{evaluate, 1.0};
    doc.evaluate();
    const RdHostMatrix identity{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

    // Cameras: an object before its children, siblings in order; caches are not searched.
    std::vector<Visit> pending;
    for (auto it = doc.objects.rbegin(); it != doc.objects.rend(); ++it) {
        pending.push_back(Visit{it->get(), identity, ""});
    }
    while (!pending.empty()) {
        const Visit v = pending.back();
        pending.pop_back();
        const RdHostMatrix world = placementProduct(v.parent, v.object->matrix);
        if (v.object->type == host::kObjectCamera) {
            writeLine(out, seconds, "camera", nameOf(*v.object, "Camera"), world);
        }
        for (auto c = v.object->children.rbegin(); c != v.object->children.rend(); ++c) {
            pending.push_back(Visit{c->get(), world, ""});
        }
    }

    // Objects as the export walks them.
    for (auto it = doc.objects.rbegin(); it != doc.objects.rend(); ++it) {
        pending.push_back(Visit{it->get(), identity, ""});
    }
    while (!pending.empty()) {
        const Visit v = pending.back();
        pending.pop_back();
        const RdHostMatrix world = placementProduct(v.parent, v.object->matrix);
        const std::string name = nameOf(*v.object, "object");
        const std::string path = v.prefix.empty() ? name : v.prefix + "/" + name;
        writeLine(out, seconds, "object", path, world);
        for (auto c = v.object->children.rbegin(); c != v.object->children.rend(); ++c) {
            pending.push_back(Visit{c->get(), world, path});
        }
        const SimObject* built =
            v.object->deformCache ? v.object->deformCache.get() : v.object->cache.get();
        if (built != nullptr) {
            pending.push_back(Visit{built, world, path});
        }
    }
}

}  // namespace raydeck::hostsim
