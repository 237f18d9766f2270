// The document model: track values, evaluation, the host's placement math and the freeing of deep
// hierarchies. Reading document files is DocumentReader.cpp, with the members of the format in
// DocumentMembers.cpp.
#include "tools/host/SimDocument.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "plugins/c4d/convert/sincos.h"
#include "plugins/c4d/host/HostNumbers.h"
#include "plugins/c4d/host/RotationOrder.h"

namespace raydeck::hostsim {

namespace {

// Every object below `root` in document order: an object, its deform cache, its cache, its
// children. Iterative: hierarchies may be deeper than the stack would allow.
void collect(SimObject* root, std::vector<SimObject*>& out) {
    std::vector<SimObject*> stack{root};
    while (!stack.empty()) {
        SimObject* o = stack.back();
        stack.pop_back();
        out.push_back(o);
        for (auto c = o->children.rbegin(); c != o->children.rend(); ++c) {
            stack.push_back(c->get());
        }
        if (o->cache) {
            stack.push_back(o->cache.get());
        }
        if (o->deformCache) {
            stack.push_back(o->deformCache.get());
        }
    }
}

using M3 = double[3][3];

void mul3(const M3& a, const M3& b, M3& out) {
    M3 r;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
        }
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            out[i][j] = r[i][j];
        }
    }
}

void axisRotation(int axis, double t, M3& out) {
    double c, s;
    raydeck::c4d::sinCos(t, s, c);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            out[i][j] = i == j ? 1.0 : 0.0;
        }
    }
    const int a = (axis + 1) % 3, b = (axis + 2) % 3;
    out[a][a] = c;
    out[a][b] = -s;
    out[b][a] = s;
    out[b][b] = c;
}

}  // namespace

double timeSeconds(const RdHostTime& t) {
    return t.den == 0.0 ? 0.0 : t.num / t.den;
}

RdHostMatrix rotationMatrix(const RdHostVector& a, int32_t order) {
    const host::RotationFactor* f = host::rotationOrderFactors(order);
    const double angles[3] = {a.x, a.y, a.z};
    M3 r, m;
    axisRotation(f[0].axis, -angles[f[0].component], r);
    axisRotation(f[1].axis, -angles[f[1].component], m);
    mul3(r, m, r);
    axisRotation(f[2].axis, -angles[f[2].component], m);
    mul3(r, m, r);
    RdHostMatrix out;
    out.off = RdHostVector{0, 0, 0};
    out.v1 = RdHostVector{r[0][0], r[1][0], r[2][0]};
    out.v2 = RdHostVector{r[0][1], r[1][1], r[2][1]};
    out.v3 = RdHostVector{r[0][2], r[1][2], r[2][2]};
    return out;
}

RdHostMatrix placementProduct(const RdHostMatrix& a, const RdHostMatrix& b) {
    auto apply = [&a](const RdHostVector& p) {
        return RdHostVector{a.v1.x * p.x + a.v2.x * p.y + a.v3.x * p.z,
                            a.v1.y * p.x + a.v2.y * p.y + a.v3.y * p.z,
                            a.v1.z * p.x + a.v2.z * p.y + a.v3.z * p.z};
    };
    const RdHostVector o = apply(b.off);
    return RdHostMatrix{
        {a.off.x + o.x, a.off.y + o.y, a.off.z + o.z}, apply(b.v1), apply(b.v2), apply(b.v3)};
}

RdHostMatrix composeMatrix(const RdHostVector& position, const RdHostVector& rotation,
                           const RdHostVector& scale, int32_t order) {
    RdHostMatrix m = rotationMatrix(rotation, order);
    m.off = position;
    m.v1 = RdHostVector{m.v1.x * scale.x, m.v1.y * scale.x, m.v1.z * scale.x};
    m.v2 = RdHostVector{m.v2.x * scale.y, m.v2.y * scale.y, m.v2.z * scale.y};
    m.v3 = RdHostVector{m.v3.x * scale.z, m.v3.y * scale.z, m.v3.z * scale.z};
    return m;
}

double SimTrack::valueAt(double t) const {
    const std::vector<SimKey>& k = curve.keys;
    if (!hasCurve || k.empty()) {
        return 0.0;
    }
    if (t <= timeSeconds(k.front().time)) {
        return k.front().value;
    }
    if (t >= timeSeconds(k.back().time)) {
        return k.back().value;
    }
    // First key after t (keys are ascending); t lies in [previous, this).
    const size_t i = static_cast<size_t>(
        std::upper_bound(k.begin() + 1, k.end(), t,
                         [](double at, const SimKey& key) { return at < timeSeconds(key.time); }) -
        k.begin());
    const SimKey& a = k[i - 1];
    const SimKey& b = k[i];
    if (interpolation == Interpolation::Step) {
        return a.value;
    }
    const double ta = timeSeconds(a.time), tb = timeSeconds(b.time);
    if (tb <= ta) {
        return b.value;
    }
    return a.value + (b.value - a.value) * (t - ta) / (tb - ta);
}

SimObject::~SimObject() {
    // Descendants are taken apart one at a time here, so that freeing a deep hierarchy does not
    // recurse through the destructors.
    std::vector<std::unique_ptr<SimObject>> pending;
    auto detach = [&pending](SimObject& o) {
        for (auto& c : o.children) {
            if (c) {
                pending.push_back(std::move(c));
            }
        }
        o.children.clear();
        if (o.cache) {
            pending.push_back(std::move(o.cache));
        }
        if (o.deformCache) {
            pending.push_back(std::move(o.deformCache));
        }
    };
    detach(*this);
    while (!pending.empty()) {
        std::unique_ptr<SimObject> o = std::move(pending.back());
        pending.pop_back();
        detach(*o);
    }
}

const SimTag* SimObject::findTag(int32_t tagType) const {
    for (const auto& t : tags) {
        if (t->type == tagType) {
            return t.get();
        }
    }
    return nullptr;
}

std::vector<float> SimObject::phongNormals() const {
    const SimTag* phong = findTag(raydeck::host::kTagPhong);
    if (phong == nullptr) {
        return {};
    }
    if (phong->hasNormals) {
        return phong->normals;
    }
    std::vector<RdHostVector> acc(points.size(), RdHostVector{0, 0, 0});
    auto corner = [&](const RdHostPolygon& p, int k) {
        const int32_t idx[4] = {p.a, p.b, p.c, p.d};
        return idx[k];
    };
    // Loading rejects bad indices, but tests edit documents afterwards: skip what names no point.
    auto valid = [&](const RdHostPolygon& p) {
        for (int k = 0; k < 4; ++k) {
            if (corner(p, k) < 0 || static_cast<size_t>(corner(p, k)) >= points.size()) {
                return false;
            }
        }
        return true;
    };
    for (const RdHostPolygon& p : polygons) {
        if (!valid(p)) {
            continue;
        }
        // Newell's method: robust for quads that are not quite planar.
        RdHostVector n{0, 0, 0};
        const int corners = p.c == p.d ? 3 : 4;
        for (int k = 0; k < corners; ++k) {
            const RdHostVector& u = points[corner(p, k)];
            const RdHostVector& w = points[corner(p, (k + 1) % corners)];
            n.x += (u.y - w.y) * (u.z + w.z);
            n.y += (u.z - w.z) * (u.x + w.x);
            n.z += (u.x - w.x) * (u.y + w.y);
        }
        for (int k = 0; k < corners; ++k) {
            RdHostVector& s = acc[corner(p, k)];
            s.x += n.x;
            s.y += n.y;
            s.z += n.z;
        }
    }
    std::vector<float> out;
    out.reserve(polygons.size() * 12);
    for (const RdHostPolygon& p : polygons) {
        for (int k = 0; k < 4; ++k) {
            RdHostVector n = valid(p) ? acc[corner(p, k)] : RdHostVector{0, 0, 0};
            const double len = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
            if (len > 0.0) {
                n = RdHostVector{n.x / len, n.y / len, n.z / len};
            }
            out.push_back(static_cast<float>(n.x));
            out.push_back(static_cast<float>(n.y));
            out.push_back(static_cast<float>(n.z));
        }
    }
    return out;
}

void SimObject::updateMatrix() {
    if (!explicitMatrix) {
        matrix = composeMatrix(position, rotation, scale, rotationOrder);
    }
}

SimNode* SimDocument::find(const std::string& id) const {
    auto it = links.find(id);
    return it == links.end() ? nullptr : it->second;
}

std::vector<SimObject*> SimDocument::allObjects() const {
    std::vector<SimObject*> out;
    for (const auto& o : objects) {
        collect(o.get(), out);
    }
    return out;
}

void SimDocument::linkObjects() {
    std::vector<std::pair<SimObject*, SimObject*>> work;  // object, the one after it
    auto addList = [&work](std::vector<std::unique_ptr<SimObject>>& list) {
        for (size_t i = 0; i < list.size(); ++i) {
            work.emplace_back(list[i].get(), i + 1 < list.size() ? list[i + 1].get() : nullptr);
        }
    };
    addList(objects);
    while (!work.empty()) {
        auto [o, next] = work.back();
        work.pop_back();
        o->next = next;
        o->down = o->children.empty() ? nullptr : o->children.front().get();
        addList(o->children);
        for (SimObject* cache : {o->cache.get(), o->deformCache.get()}) {
            if (cache != nullptr) {
                work.emplace_back(cache, nullptr);
            }
        }
    }
}

std::vector<SimNode*> SimDocument::selection() const {
    std::vector<SimNode*> out;
    for (SimObject* o : allObjects()) {
        if (o->selected) {
            out.push_back(o);
        }
        for (const auto& t : o->tags) {
            if (t->selected) {
                out.push_back(t.get());
            }
        }
    }
    return out;
}

void SimDocument::evaluate() {
    const double t = timeSeconds(time);
    for (SimObject* o : allObjects()) {
        for (const auto& tr : o->tracks) {
            if (tr->depth != 2 || !tr->hasCurve || tr->curve.keys.empty()) {
                continue;
            }
            RdHostVector* target = nullptr;
            switch (tr->descId[0]) {
                case host::objectParam::kPosition:
                    target = &o->position;
                    break;
                case host::objectParam::kRotation:
                    target = &o->rotation;
                    break;
                case host::objectParam::kScale:
                    target = &o->scale;
                    break;
                default:
                    break;
            }
            if (target == nullptr) {
                continue;
            }
            const double v = tr->valueAt(t);
            switch (tr->descId[1]) {
                case host::vectorComponent::kX:
                    target->x = v;
                    break;
                case host::vectorComponent::kY:
                    target->y = v;
                    break;
                case host::vectorComponent::kZ:
                    target->z = v;
                    break;
                default:
                    break;
            }
        }
        o->updateMatrix();
    }
}

}  // namespace raydeck::hostsim
