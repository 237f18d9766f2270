// Animation export: the track collector, the sampler on the single-precision clock and the
// "fbx_animation" block writer.
#include "plugins/c4d/convert/animation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>

#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/HostNumbers.h"
#include "plugins/c4d/host/RotationOrder.h"
#include "trvSceneFormat.h"

namespace raydeck::c4d {

namespace {

constexpr int32_t kFramesPerSecond = 30;
// 1/30 s in single precision (0.033333335); the clock accumulates it in single precision.
constexpr float kStep = 1.0f / 30.0f;

struct KeyRange {
    double t0 = 0.0, t1 = 0.0;
    int32_t keys = 0;
};

// The times of the first and the last key, in seconds.
KeyRange keyRange(const host::CCurve& curve) {
    KeyRange r;
    r.keys = curve.keyCount();
    if (r.keys <= 0) {
        return r;
    }
    host::HostTime a, b;
    curve.key(0).time(a);
    curve.key(r.keys - 1).time(b);
    r.t0 = a.seconds();
    r.t1 = b.seconds();
    return r;
}

bool trackEnabled(const host::CTrack& track) {
    int32_t enabled = 0;
    track.getInt(host::trackParam::kEnabled, enabled);
    return enabled != 0;
}

// Position of component c (0 x, 1 y, 2 z) in the sequence of a rotation order.
int componentRank(int component, int order) {
    if (order < 0 || order >= host::kRotationOrderCount) {
        return 0;  // all tracks compare equal
    }
    for (int i = 0; i < 3; ++i) {
        if (host::kRotationOrders[order][i].component == component) {
            return i;
        }
    }
    return 0;
}

const char* parameterName(int32_t first) {
    switch (first) {
        case host::objectParam::kPosition:
            return "Position";
        case host::objectParam::kRotation:
            return "Rotation";
        case host::objectParam::kScale:
            return "Scale";
        default:
            return "Parameter";
    }
}

// The track's name, or the name of the parameter it animates when the host has none.
std::string trackName(const host::CTrack& track, const host::TrackId& id) {
    std::string name;
    if (track.nameUtf8(name) && !name.empty()) {
        return name;
    }
    static const char* const kAxis[3] = {"X", "Y", "Z"};
    const int c = id.second - host::vectorComponent::kX;
    return std::string(parameterName(id.first)) + " . " + (c >= 0 && c < 3 ? kAxis[c] : "?");
}

// The scene's z flip, scale(1, 1, -1).
host::Matrix sceneFlip() {
    return scaleMatrix(host::Vector(1.0, 1.0, -1.0));
}

bool isIdentity(const host::Matrix& m) {
    const host::Matrix id;
    const auto same = [](const host::Vector& a, const host::Vector& b) {
        return a.x == b.x && a.y == b.y && a.z == b.z;
    };
    return same(m.off, id.off) && same(m.v1, id.v1) && same(m.v2, id.v2) && same(m.v3, id.v3);
}

// Number of samples the clock takes from h0 while h <= t1; it stops early where single
// precision can no longer advance it, which would otherwise never end.
size_t clockSamples(float h0, double t1) {
    size_t n = 0;
    float h = h0;
    while (static_cast<double>(h) <= t1) {
        ++n;
        const float next = h + kStep;
        if (next == h) {
            break;
        }
        h = next;
    }
    return n;
}

}  // namespace

AnimationPlacement::AnimationPlacement(const host::Vector& position, const host::Vector& rotation,
                                       const host::Vector& scale, int rotationOrder, bool camera,
                                       const host::Matrix* parentPlacement)
    : T(translationMatrix(position)),
      R(rotationMatrix(rotation, rotationOrder)),
      S(scaleMatrix(scale)),
      Rx(rotationMatrix(host::Vector(rotation.x, 0, 0), rotationOrder)),
      Ry(rotationMatrix(host::Vector(0, rotation.y, 0), rotationOrder)),
      Rz(rotationMatrix(host::Vector(0, 0, rotation.z), rotationOrder)),
      Ti(affineInverse(T)),
      Ri(affineInverse(R)),
      Si(affineInverse(S)),
      Rxi(affineInverse(Rx)),
      Ryi(affineInverse(Ry)),
      Rzi(affineInverse(Rz)),
      order(rotationOrder),
      cameraMode(camera) {
    if (camera && parentPlacement != nullptr && !isIdentity(*parentPlacement)) {
        parented = true;
        P = *parentPlacement;
        Pi = affineInverse(P);
    }
}

namespace {

// The factors around Xrel: the placed change is left * Xrel * right.
void placementFactors(const AnimationPlacement& p, int32_t parameter, int component,
                      host::Matrix& left, host::Matrix& right) {
    if (!p.cameraMode) {
        if (parameter == host::objectParam::kPosition) {
            left = affineChain({&p.Ti, &p.Ri, &p.Si});
            right = affineChain({&p.S, &p.R, &p.T});
        } else if (parameter == host::objectParam::kScale) {
            left = p.Si;
            right = p.S;
        } else if (component == 0) {
            left = affineChain({&p.Rzi, &p.Ryi, &p.Rxi, &p.Si});
            right = affineChain({&p.S, &p.Rx, &p.Ry, &p.Rz});
        } else if (component == 1) {
            left = affineChain({&p.Rzi, &p.Ryi, &p.Si});
            right = affineChain({&p.S, &p.Ry, &p.Rz});
        } else if (component == 2) {
            left = affineChain({&p.Rzi, &p.Si});
            right = affineChain({&p.S, &p.Rz});
        } else {
            left = affineChain({&p.Ri, &p.Si});
            right = affineChain({&p.S, &p.R});
        }
        return;
    }
    if (parameter == host::objectParam::kPosition) {
        left = p.T;
        right = p.Ti;
    } else if (parameter == host::objectParam::kScale) {
        left = affineChain({&p.T, &p.R, &p.S});
        right = affineChain({&p.Si, &p.Ri, &p.Ti});
    } else if (component == 0) {
        left = affineChain({&p.T, &p.Rx});
        right = affineChain({&p.Rxi, &p.Ti});
    } else if (component == 1) {
        left = affineChain({&p.T, &p.Rx, &p.Ry});
        right = affineChain({&p.Ryi, &p.Rxi, &p.Ti});
    } else if (component == 2) {
        left = affineChain({&p.T, &p.Rx, &p.Ry, &p.Rz});
        right = affineChain({&p.Rzi, &p.Ryi, &p.Rxi, &p.Ti});
    } else {
        left = affineChain({&p.T, &p.R});
        right = affineChain({&p.Ri, &p.Ti});
    }
    if (p.parented) {
        // The camera section holds the camera's placement in the document's space: its changes
        // are carried through the parent's placement.
        left = affineProduct(p.P, left);
        right = affineProduct(right, p.Pi);
    }
    // The camera sections stand outside the root group, so they carry the z flip themselves.
    const host::Matrix flip = sceneFlip();
    left = affineProduct(flip, left);
    right = affineProduct(right, flip);
}

}  // namespace

void collectTrack(PluginContext&, const host::CTrack& track, TrackList& scale, TrackList& rotation,
                  TrackList& position) {
    const host::TrackId id = track.id();
    const host::CCurve curve = track.curve();
    if (!curve) {
        return;
    }
    const KeyRange keys = keyRange(curve);
    if (keys.keys <= 0) {
        return;
    }
    const float d = static_cast<float>(keys.t1) - static_cast<float>(keys.t0);
    if (!trackEnabled(track) || !(d > 0.0f)) {
        return;
    }
    switch (id.first) {
        case host::objectParam::kPosition:
            position.push_back(track);
            break;
        case host::objectParam::kRotation:
            rotation.push_back(track);
            break;
        case host::objectParam::kScale:
            scale.push_back(track);
            break;
        default:
            break;
    }
}

bool sampleTrack(const host::BaseDocument& document, const host::CTrack& track,
                 const AnimationPlacement& placement, TrackSamples& out) {
    out.matrices.clear();
    out.timestamps.clear();
    const host::TrackId id = track.id();
    const int c = id.second - host::vectorComponent::kX;
    const int32_t k = id.first;
    if (c < 0 || c > 2 ||
        (k != host::objectParam::kPosition && k != host::objectParam::kRotation &&
         k != host::objectParam::kScale)) {
        return false;
    }
    const host::CCurve curve = track.curve();
    if (!curve) {
        return false;
    }
    const KeyRange keys = keyRange(curve);
    const float t0f = static_cast<float>(keys.t0);
    const float d = static_cast<float>(keys.t1) - t0f;
    // An infinite duration would have the clock run until it stalls: not a usable track.
    if (keys.keys < 2 || !trackEnabled(track) || !(d > 0.0f) || !std::isfinite(d)) {
        return false;
    }
    out.name = trackName(track, id);
    out.startTime = truncateToInt32(keys.t0);
    out.duration = d;
    out.keySpan = keys.t1 - keys.t0;
    out.capped = false;

    // A mistyped key time must not make the host hold gigabytes: past kMaxSampledSeconds the
    // track is sampled up to that span only, and the block's duration says so.
    double end = keys.t1;
    if (static_cast<double>(d) > kMaxSampledSeconds) {
        end = static_cast<double>(t0f) + kMaxSampledSeconds;
        out.duration = static_cast<float>(kMaxSampledSeconds);
        out.capped = true;
    }
    const size_t count = clockSamples(t0f, end);
    if (count == 0 || count > std::numeric_limits<uint32_t>::max()) {
        return false;
    }
    // Reserved and appended: a zero-filling resize would write every matrix twice.
    out.matrices.reserve(count);
    out.timestamps.reserve(count);

    host::Matrix left, right;
    placementFactors(placement, k, c, left, right);
    host::Matrix firstInverse;
    float h = t0f;
    for (size_t i = 0; i < count; ++i) {
        const double hostValue =
            track.value(document, host::HostTime::fromSeconds(h), kFramesPerSecond);
        host::Vector v =
            k == host::objectParam::kScale ? host::Vector(1, 1, 1) : host::Vector(0, 0, 0);
        const double value = static_cast<float>(hostValue);
        (c == 0 ? v.x : c == 1 ? v.y : v.z) = value;
        const host::Matrix x = k == host::objectParam::kPosition ? translationMatrix(v)
                               : k == host::objectParam::kRotation
                                   ? rotationMatrix(v, placement.order)
                                   : scaleMatrix(v);
        if (i == 0) {
            firstInverse = affineInverse(x);
        }
        const host::Matrix relative = affineProduct(x, firstInverse);
        out.matrices.push_back(sceneMatrix(affineProduct(affineProduct(left, relative), right)));
        out.timestamps.push_back(truncateToInt32((h - t0f) * 1000.0f));
        h += kStep;
    }
    return true;
}

std::string cappedTrackWarning(const std::string& objectName, const TrackSamples& samples) {
    // Spelled as the scene spells numbers: the host's locale must not change the text.
    char span[trvFormat::kMaxValueText];
    const size_t n = trvFormat::spellG(samples.keySpan, span);
    return "object \"" + objectName + "\", track \"" + samples.name + "\": its keys span " +
           std::string(span, n) + " s; only the first " +
           std::to_string(static_cast<int>(kMaxSampledSeconds)) + " s are sampled";
}

void writeAnimationBlock(trvScene_api& api, const TrackSamples& samples,
                         const std::string& folder) {
    api.beginAnimation("fbx_animation", samples.name.c_str());
    const int32_t start = samples.startTime;
    api.attribute("start_time", trvType::int_, &start);
    const float duration = samples.duration;
    api.attribute("duration", trvType::float_, &duration);
    api.attribute("folder", trvType::string, folder.c_str());
    writeArray(api, "matrices", trvType::matrix, samples.matrices.data(), samples.matrices.size());
    writeArray(api, "timestamps", trvType::int_, samples.timestamps.data(),
               samples.timestamps.size());
    api.endAnimation();
}

void writeAnimation(PluginContext& context, const std::string& objectName, const TrackList& tracks,
                    const std::string& channel, const host::Vector& position,
                    const host::Vector& rotation, const host::Vector& scale, int rotationOrder,
                    bool cameraMode, const host::Matrix* parentPlacement) {
    if (tracks.empty() || context.builder == nullptr || context.builder->backend() == nullptr) {
        return;
    }
    trvScene_api& api = *context.builder->backend();

    struct Entry {
        host::CTrack track;
        int rank;
    };
    std::vector<Entry> sorted;
    sorted.reserve(tracks.size());
    for (const host::CTrack& t : tracks) {
        const int c = t.id().second - host::vectorComponent::kX;
        // A component other than x, y or z has no vector slot to animate.
        if (c >= 0 && c <= 2) {
            sorted.push_back(Entry{t, componentRank(c, rotationOrder)});
        }
    }
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Entry& a, const Entry& b) { return a.rank < b.rank; });

    const AnimationPlacement placement(position, rotation, scale, rotationOrder, cameraMode,
                                       parentPlacement);
    // Kept whole however long the object's name is.
    const std::string folder = objectName + "/" + channel;
    TrackSamples samples;
    for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) {
        try {
            if (!sampleTrack(context.document, it->track, placement, samples)) {
                continue;
            }
        } catch (const std::bad_alloc&) {
            // A track too long to hold in memory is left out rather than ending the export.
            samples = TrackSamples();
            continue;
        }
        if (samples.capped) {
            host::consoleWarning(cappedTrackWarning(objectName, samples));
        }
        writeAnimationBlock(api, samples, folder);
    }
}

void writeObjectAnimation(PluginContext& context, const host::BaseObject& object,
                          const std::string& objectName, const host::Vector& position,
                          const host::Vector& rotation, const host::Vector& scale,
                          int rotationOrder, bool cameraMode, const host::Matrix* parentPlacement) {
    TrackList scaleTracks, rotationTracks, positionTracks;
    for (host::CTrack track = object.firstTrack(); track; track = track.next()) {
        collectTrack(context, track, scaleTracks, rotationTracks, positionTracks);
    }
    const std::string prefix = cameraMode ? "Camera " : "";
    writeAnimation(context, objectName, scaleTracks, prefix + "Scale", position, rotation, scale,
                   rotationOrder, cameraMode, parentPlacement);
    writeAnimation(context, objectName, rotationTracks, prefix + "Rotation", position, rotation,
                   scale, rotationOrder, cameraMode, parentPlacement);
    writeAnimation(context, objectName, positionTracks, prefix + "Position", position, rotation,
                   scale, rotationOrder, cameraMode, parentPlacement);
}

}  // namespace raydeck::c4d
