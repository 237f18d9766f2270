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
      Rxi(affineInverse(Rx)),
      Ryi(affineInverse(Ry)),
      Rzi(affineInverse(Rz)),
      order(rotationOrder),
      cameraMode(camera) {
    scaleSingular = !invertAffine(S, Si);
    if (camera && parentPlacement != nullptr && !isIdentity(*parentPlacement)) {
        parented = true;
        P = *parentPlacement;
        parentSingular = !invertAffine(P, Pi);
    }
}

namespace {

// The component matrices of the placement in the sequence of its rotation order, outermost
// first: rotation(a, order) = seq[0] * seq[1] * seq[2]. Orders the host does not know keep the
// x, y, z sequence of the formulas they have always had.
void rotationSequence(const AnimationPlacement& p, const host::Matrix* seq[3],
                      const host::Matrix* inv[3]) {
    const host::Matrix* byComponent[3] = {&p.Rx, &p.Ry, &p.Rz};
    const host::Matrix* inverseByComponent[3] = {&p.Rxi, &p.Ryi, &p.Rzi};
    const bool known = p.order >= 0 && p.order < host::kRotationOrderCount;
    for (int i = 0; i < 3; ++i) {
        const int c = known ? host::kRotationOrders[p.order][i].component : i;
        seq[i] = byComponent[c];
        inv[i] = inverseByComponent[c];
    }
}

// The factors around Xrel: the placed change is left * Xrel * right.
//
// A rotation track changes one factor of rotation(a, order) = F0 * F1 * F2; a change X of the
// factor Fk's angle turns it into Fk * X (turns about one axis commute). In object mode the group
// holds T * R * S and the change goes on its right, so X is carried through the factors inside
// Fk and the scale: S^-1 * (Fk ... F2)^-1 * X * (Fk ... F2) * S. In camera mode the section holds
// the placement and the change goes on its left, so X is carried through the factors outside Fk and
// Fk itself: T * (F0 ... Fk) * X * (F0 ... Fk)^-1 * T^-1. For orders 2 and 6 (x outermost, z
// innermost) these are the x, y, z products the formulas have always written.
bool placementFactors(const AnimationPlacement& p, int32_t parameter, int component,
                      host::Matrix& left, host::Matrix& right) {
    const host::Matrix* seq[3];
    const host::Matrix* inv[3];
    rotationSequence(p, seq, inv);
    // Where the animated angle's factor stands in the sequence.
    const bool known = p.order >= 0 && p.order < host::kRotationOrderCount;
    const int k = known ? componentRank(component, p.order) : component;
    const bool rotationComponent =
        parameter == host::objectParam::kRotation && component >= 0 && component <= 2;
    bool singular = false;
    if (!p.cameraMode) {
        singular = p.scaleSingular;
        // A uniform scale commutes with every rotation, so it may stand inside the factors, as
        // the formulas have always had it; a non-uniform one does not, and the change is then
        // carried through the whole placement in its true order, L^-1 * X * L.
        const bool uniform = p.S.v1.x == p.S.v2.y && p.S.v2.y == p.S.v3.z;
        if (parameter == host::objectParam::kPosition) {
            left =
                uniform ? affineChain({&p.Ti, &p.Ri, &p.Si}) : affineChain({&p.Si, &p.Ri, &p.Ti});
            right = uniform ? affineChain({&p.S, &p.R, &p.T}) : affineChain({&p.T, &p.R, &p.S});
        } else if (parameter == host::objectParam::kScale) {
            left = p.Si;
            right = p.S;
        } else if (rotationComponent && uniform) {
            // (Fk ... F2)^-1 * S^-1 * X * S * (Fk ... F2)
            left = k == 0   ? affineChain({inv[2], inv[1], inv[0], &p.Si})
                   : k == 1 ? affineChain({inv[2], inv[1], &p.Si})
                            : affineChain({inv[2], &p.Si});
            right = k == 0   ? affineChain({&p.S, seq[0], seq[1], seq[2]})
                    : k == 1 ? affineChain({&p.S, seq[1], seq[2]})
                             : affineChain({&p.S, seq[2]});
        } else if (rotationComponent) {
            // S^-1 * (Fk ... F2)^-1 * X * (Fk ... F2) * S
            left = k == 0   ? affineChain({&p.Si, inv[2], inv[1], inv[0]})
                   : k == 1 ? affineChain({&p.Si, inv[2], inv[1]})
                            : affineChain({&p.Si, inv[2]});
            right = k == 0   ? affineChain({seq[0], seq[1], seq[2], &p.S})
                    : k == 1 ? affineChain({seq[1], seq[2], &p.S})
                             : affineChain({seq[2], &p.S});
        } else {
            left = affineChain({&p.Ri, &p.Si});
            right = affineChain({&p.S, &p.R});
        }
        return !singular;
    }
    if (parameter == host::objectParam::kPosition) {
        left = p.T;
        right = p.Ti;
    } else if (parameter == host::objectParam::kScale) {
        singular = p.scaleSingular;
        left = affineChain({&p.T, &p.R, &p.S});
        right = affineChain({&p.Si, &p.Ri, &p.Ti});
    } else if (rotationComponent && k == 0) {
        left = affineChain({&p.T, seq[0]});
        right = affineChain({inv[0], &p.Ti});
    } else if (rotationComponent && k == 1) {
        left = affineChain({&p.T, seq[0], seq[1]});
        right = affineChain({inv[1], inv[0], &p.Ti});
    } else if (rotationComponent && k == 2) {
        left = affineChain({&p.T, seq[0], seq[1], seq[2]});
        right = affineChain({inv[2], inv[1], inv[0], &p.Ti});
    } else {
        left = affineChain({&p.T, &p.R});
        right = affineChain({&p.Ri, &p.Ti});
    }
    if (p.parented) {
        // The camera section holds the camera's placement in the document's space: its changes
        // are carried through the parent's placement.
        left = affineProduct(p.P, left);
        right = affineProduct(right, p.Pi);
        singular = singular || p.parentSingular;
    }
    // The camera sections stand outside the root group, so they carry the z flip themselves.
    const host::Matrix flip = sceneFlip();
    left = affineProduct(flip, left);
    right = affineProduct(right, flip);
    return !singular;
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
    out.leftOut = 0;
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
    const bool placed = placementFactors(placement, k, c, left, right);
    const auto channelMatrix = [&](double hostValue) {
        host::Vector v =
            k == host::objectParam::kScale ? host::Vector(1, 1, 1) : host::Vector(0, 0, 0);
        const double value = static_cast<float>(hostValue);
        (c == 0 ? v.x : c == 1 ? v.y : v.z) = value;
        return k == host::objectParam::kPosition   ? translationMatrix(v)
               : k == host::objectParam::kRotation ? rotationMatrix(v, placement.order)
                                                   : scaleMatrix(v);
    };
    // The group or section holds the placement at the reference time; a track that starts
    // before it would otherwise count the change up to it twice.
    const bool fromReference = placement.hasReference && keys.t0 < placement.reference.seconds();
    host::Matrix firstInverse;
    bool invertible = true;
    if (fromReference) {
        invertible = invertAffine(
            channelMatrix(track.value(document, placement.reference, kFramesPerSecond)),
            firstInverse);
    }
    float h = t0f;
    for (size_t i = 0; i < count; ++i) {
        const double hostValue =
            track.value(document, host::HostTime::fromSeconds(h), kFramesPerSecond);
        const host::Matrix x = channelMatrix(hostValue);
        if (i == 0 && !fromReference) {
            invertible = invertAffine(x, firstInverse);
        }
        const host::Matrix relative = affineProduct(x, firstInverse);
        host::Matrix y = affineProduct(affineProduct(left, relative), right);
        // A change measured from a flat value or carried through a flat placement, or one past
        // the double range, is not what the host shows: the sample keeps the placement as it
        // is rather than write numbers that only rounding or overflow made.
        if (!placed || !invertible || !fitsScene(y)) {
            y = host::Matrix();
            ++out.leftOut;
        }
        out.matrices.push_back(sceneMatrix(y));
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

namespace {

// One channel's blocks, sampled into `samples`: the object's channels share it, so that only the
// first touches fresh memory (a long track's samples are tens of megabytes).
void writeChannel(PluginContext& context, const std::string& objectName, const TrackList& tracks,
                  const std::string& channel, const host::Vector& position,
                  const host::Vector& rotation, const host::Vector& scale, int rotationOrder,
                  bool cameraMode, const host::Matrix* parentPlacement, AnimationReport* report,
                  TrackSamples& samples) {
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

    AnimationPlacement placement(position, rotation, scale, rotationOrder, cameraMode,
                                 parentPlacement);
    host::HostTime start;
    if (context.document.getTime(RD_HOST_DOC_MINTIME, start)) {
        placement.hasReference = true;
        placement.reference = start;
    }
    // Kept whole however long the object's name is.
    const std::string folder = objectName + "/" + channel;
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
        if (report != nullptr) {
            report->add(samples);
        }
        if (samples.capped) {
            host::consoleWarning(cappedTrackWarning(objectName, samples));
        }
        writeAnimationBlock(api, samples, folder);
    }
}

}  // namespace

void writeAnimation(PluginContext& context, const std::string& objectName, const TrackList& tracks,
                    const std::string& channel, const host::Vector& position,
                    const host::Vector& rotation, const host::Vector& scale, int rotationOrder,
                    bool cameraMode, const host::Matrix* parentPlacement, AnimationReport* report) {
    TrackSamples samples;
    writeChannel(context, objectName, tracks, channel, position, rotation, scale, rotationOrder,
                 cameraMode, parentPlacement, report, samples);
}

void writeObjectAnimation(PluginContext& context, const host::BaseObject& object,
                          const std::string& objectName, const host::Vector& position,
                          const host::Vector& rotation, const host::Vector& scale,
                          int rotationOrder, bool cameraMode, const host::Matrix* parentPlacement,
                          AnimationReport* report) {
    TrackList scaleTracks, rotationTracks, positionTracks;
    for (host::CTrack track = object.firstTrack(); track; track = track.next()) {
        collectTrack(context, track, scaleTracks, rotationTracks, positionTracks);
    }
    AnimationReport own;
    AnimationReport* into = report != nullptr ? report : &own;
    const std::string prefix = cameraMode ? "Camera " : "";
    TrackSamples samples;
    writeChannel(context, objectName, scaleTracks, prefix + "Scale", position, rotation, scale,
                 rotationOrder, cameraMode, parentPlacement, into, samples);
    writeChannel(context, objectName, rotationTracks, prefix + "Rotation", position, rotation,
                 scale, rotationOrder, cameraMode, parentPlacement, into, samples);
    writeChannel(context, objectName, positionTracks, prefix + "Position", position, rotation,
                 scale, rotationOrder, cameraMode, parentPlacement, into, samples);
    if (report == nullptr) {
        reportAnimation(objectName, own);
    }
}

void reportAnimation(const std::string& objectName, const AnimationReport& report) {
    if (report.leftOut == 0 && !report.placementLeftOut) {
        return;
    }
    std::string what;
    if (report.placementLeftOut) {
        what =
            "its placement is beyond the range the scene holds and was written as the "
            "identity";
    }
    if (report.leftOut != 0) {
        what += what.empty() ? "" : "; ";
        what += std::to_string(report.leftOut) +
                " animation samples left out (a flat placement or one beyond the range the "
                "scene holds): they keep the start time's placement";
    }
    host::consoleWarning("\"" + objectName + "\": " + what);
}

}  // namespace raydeck::c4d
