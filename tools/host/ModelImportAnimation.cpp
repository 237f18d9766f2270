// The model import's animation: the first animation's node channels as position, rotation and
// scale tracks with linear keys.
#include <algorithm>

#include "tools/host/ModelImport.h"
#include "tools/host/ModelImporter.h"

namespace raydeck::hostsim::modelimport {

std::unique_ptr<SimTrack> Importer::newTrack(int32_t parameter, int component, const char* label) {
    static const char* const axes[3] = {"X", "Y", "Z"};
    auto t = std::make_unique<SimTrack>();
    t->kind = NodeKind::Track;
    t->document = &doc_;
    t->depth = 2;
    t->descId[0] = parameter;
    t->descId[1] = hn::vectorComponent::kX + component;
    t->hasCurve = true;
    t->interpolation = Interpolation::Linear;
    t->name = std::string(label) + " . " + axes[component];
    t->params[hn::trackParam::kEnabled] = numberValue(1);
    return t;
}

// Position, rotation and scale tracks from a node channel; `own` is a pure rotation folded
// into the node (a camera's frame), applied after each key's rotation. A part with a single
// key is no motion (importers fill unanimated parts with the resting value): no track.
void Importer::tracks(SimObject& o, const aiNodeAnim& ch, const Affine& own) {
    std::vector<std::unique_ptr<SimTrack>> made;
    auto sorted = [](std::vector<SimKey>& keys) {
        std::stable_sort(keys.begin(), keys.end(), [](const SimKey& a, const SimKey& b) {
            return timeSeconds(a.time) < timeSeconds(b.time);
        });
    };
    // One track a component of a vector channel, its keys in time order.
    auto vectorTracks = [&](int32_t param, const char* name, const aiVectorKey* keys,
                            unsigned count) {
        if (count <= 1) {
            return;
        }
        for (int c = 0; c < 3; ++c) {
            auto t = newTrack(param, c, name);
            // Positions into host coordinates; scales are the same in both.
            const double sign = c == 2 && param == hn::objectParam::kPosition ? -1.0 : 1.0;
            for (unsigned k = 0; k < count; ++k) {
                t->curve.keys.push_back(SimKey{keyTime(keys[k].mTime), sign * keys[k].mValue[c]});
            }
            sorted(t->curve.keys);
            made.push_back(std::move(t));
        }
    };
    vectorTracks(hn::objectParam::kPosition, "Position", ch.mPositionKeys, ch.mNumPositionKeys);
    if (ch.mNumRotationKeys > 1) {
        const int32_t rotation = hn::objectParam::kRotation;
        std::unique_ptr<SimTrack> t[3] = {newTrack(rotation, 0, "Rotation"),
                                          newTrack(rotation, 1, "Rotation"),
                                          newTrack(rotation, 2, "Rotation")};
        std::vector<const aiQuatKey*> keys;
        for (unsigned k = 0; k < ch.mNumRotationKeys; ++k) {
            keys.push_back(&ch.mRotationKeys[k]);
        }
        std::stable_sort(keys.begin(), keys.end(), [](const aiQuatKey* a, const aiQuatKey* b) {
            return a->mTime < b->mTime;
        });
        RdHostVector previous{0, 0, 0};
        for (size_t k = 0; k < keys.size(); ++k) {
            double q[3][3];
            quaternionMatrix(keys[k]->mValue, q);
            Affine r;
            std::copy(&q[0][0], &q[0][0] + 9, &r.m[0][0]);
            r = multiply(r, own);
            const RdHostVector a =
                anglesForRotation(r.m, o.rotationOrder, k == 0 ? nullptr : &previous);
            previous = a;
            for (int c = 0; c < 3; ++c) {
                t[c]->curve.keys.push_back(SimKey{keyTime(keys[k]->mTime), component(a, c)});
            }
        }
        for (auto& track : t) {
            made.push_back(std::move(track));
        }
    }
    vectorTracks(hn::objectParam::kScale, "Scale", ch.mScalingKeys, ch.mNumScalingKeys);
    for (auto& t : made) {
        o.tracks.push_back(std::move(t));
    }
    for (size_t i = 0; i + 1 < o.tracks.size(); ++i) {
        o.tracks[i]->next = o.tracks[i + 1].get();
    }
}

}  // namespace raydeck::hostsim::modelimport
