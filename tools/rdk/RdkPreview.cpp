// RdkPreview: gathers the geometry with its world matrices (group transforms composed from the
// root down, so the root's z mirror applies to everything, as it does for the camera section,
// which carries the mirror itself), sets up the view and rasterises with a z-buffer.
#include "tools/rdk/RdkPreview.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>

#include "platform/file.h"
#include "platform/utf.h"
#include "tools/rdk/RdkMath.h"
#include "trvSceneFormat.h"

namespace rdk {

namespace kw = trvFormat::keyword;
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Look {
    double color[3] = {0.65, 0.65, 0.65};
    bool emissive = false;
    bool hidden = false;
};

struct Drawable {
    const Node* geometry = nullptr;
    Mat4 world;
    Look look;
};

bool matrixOf(const Node& attr, Mat4& out) {
    if (!attr.value.isNumbers() || attr.value.numbers.size() != 16) {
        return false;
    }
    out = Mat4::fromArray(attr.value.numbers.data());
    return true;
}

Vec3 vec3Of(const Node* block, const char* name, Vec3 fallback) {
    const Node* a = block ? block->attribute(name) : nullptr;
    if (a == nullptr || !a->value.isNumbers() || a->value.numbers.size() < 3) {
        return fallback;
    }
    return {a->value.numbers[0], a->value.numbers[1], a->value.numbers[2]};
}

const Node* surfaceOf(const Node& material) {
    for (const Node& c : material.children) {
        if (!c.isBlock() && c.name == "surface" && c.value.kind == Value::Kind::shader) {
            return c.value.shader.get();
        }
    }
    return nullptr;
}

Look lookOf(const Node* material) {
    Look look;
    const Node* surface = material ? surfaceOf(*material) : nullptr;
    if (surface == nullptr) {
        return look;
    }
    const std::string type = surface->arg(0);
    const bool light = trvFormat::isLightShader(type);
    const char* names[] = {"diffuse", "kd", "color"};
    for (const char* name : names) {
        for (const Node& c : surface->children) {
            if (!c.isBlock() && c.name == name && c.value.isNumbers() &&
                c.value.numbers.size() >= 3) {
                for (int i = 0; i < 3; ++i) {
                    look.color[i] = std::clamp(c.value.numbers[i], 0.0, 1.0);
                }
                goto found;
            }
        }
    }
found:
    look.emissive = light;
    if (const Node* eye = surface->attribute("visible to the eye")) {
        look.hidden = eye->value.kind == Value::Kind::boolean && !eye->value.on;
    }
    return look;
}

class Collector {
  public:
    std::vector<Drawable> drawables;
    const Node* camera = nullptr;

    void collect(const std::vector<Node>& nodes) {
        defines(nodes);
        walk(nodes, Mat4());
    }

  private:
    void defines(const std::vector<Node>& nodes) {
        for (const Node& n : nodes) {
            if (n.isBlock(kw::material) && n.define) {
                materials_.emplace(n.arg(0), &n);
            }
            if (n.isBlock()) {
                defines(n.children);
            }
        }
    }

    void walk(const std::vector<Node>& nodes, const Mat4& parent) {
        Mat4 local;
        Mat4 world = parent;
        for (const Node& n : nodes) {
            if (!n.isBlock()) {
                Mat4 m;
                if (n.name == "transform" && matrixOf(n, m)) {
                    local = m * local;
                    world = local * parent;
                } else if (n.name == "set transform" && matrixOf(n, m)) {
                    local = m;
                    world = local * parent;
                }
                continue;
            }
            if (n.name == kw::camera) {
                if (camera == nullptr) {
                    camera = &n;
                }
            } else if (n.name == kw::group) {
                walk(n.children, world);
            } else if (n.name == kw::object) {
                object(n, world);
            }
        }
    }

    void object(const Node& obj, const Mat4& parent) {
        const Node* material = obj.block(kw::material);
        if (material == nullptr) {
            if (const Node* use = obj.attribute(kw::material)) {
                auto it = materials_.find(use->value.text);
                if (it != materials_.end()) {
                    material = it->second;
                }
            }
        }
        Look look = lookOf(material);
        Mat4 local;
        for (const Node& n : obj.children) {
            Mat4 m;
            if (!n.isBlock() && n.name == "transform" && matrixOf(n, m)) {
                local = m * local;
            }
        }
        Mat4 world = local * parent;
        for (const Node& n : obj.children) {
            if (n.isBlock(kw::geometry) && !look.hidden) {
                drawables.push_back({&n, world, look});
            } else if (n.isBlock(kw::object)) {
                object(n, world);
            } else if (n.isBlock(kw::group)) {
                walk(n.children, world);
            }
        }
    }

    std::map<std::string, const Node*> materials_;
};

const Node* pointsOf(const Node& geometry) {
    const Node* v = geometry.attribute(geometry.arg(0) == "triangles" ? "vertices" : "p");
    if (v == nullptr) {
        v = geometry.attribute("p");
    }
    return v && v->value.isArray() ? v : nullptr;
}

struct View {
    Vec3 eye, right, up, dir;
    bool ortho = false;
    double l = -1, r = 1, b = -1, t = 1;  // window at distance 1 (or in units, ortho)
    double nearZ = 1e-6;
};

struct Raster {
    int w, h;
    std::vector<uint8_t>& rgb;
    std::vector<float> depth;  // larger is nearer
    size_t covered = 0;

    Raster(int width, int height, std::vector<uint8_t>& out)
        : w(width), h(height), rgb(out), depth(static_cast<size_t>(width) * height, -1e30f) {}

    void plot(int x, int y, float d, const uint8_t c[3]) {
        size_t i = static_cast<size_t>(y) * w + x;
        if (d > depth[i]) {
            if (depth[i] == -1e30f) {
                ++covered;
            }
            depth[i] = d;
            std::copy(c, c + 3, rgb.begin() + static_cast<std::ptrdiff_t>(i * 3));
        }
    }

    // Screen-space triangle (x, y, depth key) filled with one colour.
    void triangle(const double* a, const double* b, const double* c, const uint8_t col[3]) {
        double area = (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
        if (area == 0 || !std::isfinite(area)) {
            return;
        }
        // Clamped before the conversion: a far-off corner must not overflow an int.
        auto clampTo = [](double v, int hi) {
            return static_cast<int>(std::clamp(v, -1.0, static_cast<double>(hi)));
        };
        int x0 = std::max(0, clampTo(std::floor(std::min({a[0], b[0], c[0]})), w));
        int x1 = std::min(w - 1, clampTo(std::ceil(std::max({a[0], b[0], c[0]})), w));
        int y0 = std::max(0, clampTo(std::floor(std::min({a[1], b[1], c[1]})), h));
        int y1 = std::min(h - 1, clampTo(std::ceil(std::max({a[1], b[1], c[1]})), h));
        const double inv = 1.0 / area;
        for (int y = y0; y <= y1; ++y) {
            const double py = y + 0.5;
            for (int x = x0; x <= x1; ++x) {
                const double px = x + 0.5;
                double w0 = ((b[0] - px) * (c[1] - py) - (b[1] - py) * (c[0] - px)) * inv;
                double w1 = ((c[0] - px) * (a[1] - py) - (c[1] - py) * (a[0] - px)) * inv;
                double w2 = 1.0 - w0 - w1;
                if (w0 < 0 || w1 < 0 || w2 < 0) {
                    continue;
                }
                plot(x, y, static_cast<float>(w0 * a[2] + w1 * b[2] + w2 * c[2]), col);
            }
        }
    }

    void line(const double* a, const double* b, const uint8_t col[3]) {
        const double far = 1e7;
        for (const double* p : {a, b}) {
            if (!(std::fabs(p[0]) < far && std::fabs(p[1]) < far)) {
                return;  // a segment reaching that far out of the picture is left out
            }
        }
        double dx = b[0] - a[0];
        double dy = b[1] - a[1];
        int steps = static_cast<int>(std::ceil(std::max(std::fabs(dx), std::fabs(dy))));
        steps = std::clamp(steps, 1, 4 * (w + h));
        for (int s = 0; s <= steps; ++s) {
            double f = static_cast<double>(s) / steps;
            int x = static_cast<int>(std::floor(a[0] + dx * f));
            int y = static_cast<int>(std::floor(a[1] + dy * f));
            if (x >= 0 && y >= 0 && x < w && y < h) {
                plot(x, y, static_cast<float>(a[2] + (b[2] - a[2]) * f), col);
            }
        }
    }
};

class Renderer {
  public:
    Renderer(const View& view, Raster& raster) : v_(view), r_(raster) {}

    Vec3 toCamera(Vec3 p) const {
        Vec3 d = p - v_.eye;
        return {dot(d, v_.right), dot(d, v_.up), dot(d, v_.dir)};
    }

    void screen(Vec3 c, double* out) const {
        double x = c.x;
        double y = c.y;
        double key = -c.z;
        if (!v_.ortho) {
            x /= c.z;
            y /= c.z;
            key = 1.0 / c.z;
        }
        out[0] = (x - v_.l) / (v_.r - v_.l) * r_.w;
        out[1] = (v_.t - y) / (v_.t - v_.b) * r_.h;
        out[2] = key;
    }

    // A camera-space triangle, clipped at the near plane.
    void triangle(Vec3 a, Vec3 b, Vec3 c, const Look& look) {
        Vec3 n = normalized(cross(b - a, c - a));
        Vec3 toEye = v_.ortho ? Vec3{0, 0, -1} : normalized((a + b + c) * (-1.0 / 3));
        double shade = look.emissive ? 1.0 : 0.2 + 0.8 * std::fabs(dot(n, toEye));
        uint8_t col[3];
        for (int i = 0; i < 3; ++i) {
            col[i] = static_cast<uint8_t>(
                std::lround(std::clamp(look.color[i] * shade, 0.0, 1.0) * 255));
        }
        Vec3 in[3] = {a, b, c};
        Vec3 poly[4];
        int count = 0;
        if (v_.ortho) {
            std::copy(in, in + 3, poly);
            count = 3;
        } else {
            for (int i = 0; i < 3; ++i) {
                Vec3 p = in[i];
                Vec3 q = in[(i + 1) % 3];
                bool pin = p.z > v_.nearZ;
                bool qin = q.z > v_.nearZ;
                if (pin) {
                    poly[count++] = p;
                }
                if (pin != qin && count < 4) {
                    double f = (v_.nearZ - p.z) / (q.z - p.z);
                    poly[count++] = p + (q - p) * f;
                }
            }
        }
        if (count < 3) {
            return;
        }
        double s[4][3];
        for (int i = 0; i < count; ++i) {
            screen(poly[i], s[i]);
        }
        ++triangles;
        for (int i = 1; i + 1 < count; ++i) {
            r_.triangle(s[0], s[i], s[i + 1], col);
        }
    }

    void segment(Vec3 a, Vec3 b, const Look& look) {
        if (!v_.ortho) {
            if (a.z <= v_.nearZ && b.z <= v_.nearZ) {
                return;
            }
            if (a.z <= v_.nearZ) {
                a = a + (b - a) * ((v_.nearZ - a.z) / (b.z - a.z));
            } else if (b.z <= v_.nearZ) {
                b = b + (a - b) * ((v_.nearZ - b.z) / (a.z - b.z));
            }
        }
        uint8_t col[3];
        for (int i = 0; i < 3; ++i) {
            col[i] = static_cast<uint8_t>(std::lround(look.color[i] * 255));
        }
        double s[2][3];
        screen(a, s[0]);
        screen(b, s[1]);
        r_.line(s[0], s[1], col);
    }

    size_t triangles = 0;

  private:
    const View& v_;
    Raster& r_;
};

void cameraSpacePoints(const Node& points, const Mat4& world, const Renderer& renderer,
                       std::vector<Vec3>& out) {
    const Value& v = points.value;
    const size_t n = v.componentCount() / 3;
    out.resize(n);
    for (size_t i = 0; i < n; ++i) {
        Vec3 p{v.component(3 * i), v.component(3 * i + 1), v.component(3 * i + 2)};
        out[i] = renderer.toCamera(world.point(p));
    }
}

void drawGeometry(const Drawable& d, Renderer& renderer, std::vector<Vec3>& cam) {
    const Node& g = *d.geometry;
    const Node* points = pointsOf(g);
    if (points == nullptr) {
        return;
    }
    cameraSpacePoints(*points, d.world, renderer, cam);
    const size_t n = cam.size();
    if (g.arg(0) == "trv_bezier_curves") {
        const Node* counts = g.attribute("nvertices");
        if (counts == nullptr) {
            return;
        }
        size_t at = 0;
        for (size_t c = 0; c < counts->value.componentCount(); ++c) {
            double k = counts->value.component(c);
            if (!(k >= 0) || at + static_cast<size_t>(k) > n) {
                return;
            }
            for (size_t j = 1; j < static_cast<size_t>(k); ++j) {
                renderer.segment(cam[at + j - 1], cam[at + j], d.look);
            }
            at += static_cast<size_t>(k);
        }
        return;
    }
    const Node* tris = g.attribute("triangles");
    if (tris == nullptr) {
        return;
    }
    const Value& t = tris->value;
    const size_t corners = t.componentCount() / 3 * 3;
    for (size_t i = 0; i < corners; i += 3) {
        double ia = t.component(i), ib = t.component(i + 1), ic = t.component(i + 2);
        if (!(ia >= 0 && ib >= 0 && ic >= 0 && ia < n && ib < n && ic < n)) {
            continue;  // a broken index: the check command reports it
        }
        renderer.triangle(cam[static_cast<size_t>(ia)], cam[static_cast<size_t>(ib)],
                          cam[static_cast<size_t>(ic)], d.look);
    }
}

struct Bounds {
    Vec3 lo{1e300, 1e300, 1e300};
    Vec3 hi{-1e300, -1e300, -1e300};
    bool empty = true;
    void add(Vec3 p) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
            return;
        }
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
        empty = false;
    }
};

Bounds worldBounds(const std::vector<Drawable>& drawables) {
    Bounds b;
    for (const Drawable& d : drawables) {
        const Node* points = pointsOf(*d.geometry);
        if (points == nullptr) {
            continue;
        }
        const Value& v = points->value;
        for (size_t i = 0; i + 2 < v.componentCount(); i += 3) {
            b.add(d.world.point({v.component(i), v.component(i + 1), v.component(i + 2)}));
        }
    }
    return b;
}

void setWindow(View& view, double hfovDegrees, int width, int height) {
    double hfov = std::clamp(hfovDegrees, 1e-3, 179.0) * kPi / 180.0;
    view.r = std::tan(hfov / 2);
    view.l = -view.r;
    view.t = view.r * height / width;
    view.b = -view.t;
}

}  // namespace

PreviewImage renderPreview(const Scene& scene, int width, int height, PreviewStats* stats) {
    PreviewImage image;
    image.width = std::max(1, width);
    image.height = std::max(1, height);
    image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
    for (size_t i = 0; i < image.rgb.size(); i += 3) {
        std::copy(kPreviewBackground, kPreviewBackground + 3,
                  image.rgb.begin() + static_cast<std::ptrdiff_t>(i));
    }
    Collector collector;
    collector.collect(scene.nodes);
    Bounds bounds = worldBounds(collector.drawables);
    Vec3 center = bounds.empty ? Vec3{} : (bounds.lo + bounds.hi) * 0.5;
    double radius = bounds.empty ? 1.0 : std::max(1e-9, length(bounds.hi - bounds.lo) * 0.5);

    View view;
    PreviewStats local;
    if (const Node* cam = collector.camera) {
        Mat4 placement;
        if (const Node* t = cam->attribute("transform")) {
            matrixOf(*t, placement);
        }
        // The camera's own frame, as the camera node writes it by default.
        Vec3 position = vec3Of(cam, "position", {0, 0, 0});
        Vec3 direction = vec3Of(cam, "direction", {0, 0, -1});
        Vec3 up = vec3Of(cam, "up", {0, 1, 0});
        if (const Node* at = cam->attribute("look_at")) {
            if (at->value.isNumbers() && at->value.numbers.size() >= 3) {
                direction = Vec3{at->value.numbers[0], at->value.numbers[1], at->value.numbers[2]} -
                            position;
            }
        }
        view.eye = placement.point(position);
        view.dir = normalized(placement.vector(direction));
        Vec3 worldUp = placement.vector(up);
        view.right = normalized(cross(view.dir, worldUp));
        view.up = cross(view.right, view.dir);
        const Node* projection = cam->attribute("projection");
        view.ortho = projection && projection->value.text == "orthographic";
        const Node* fov4 = cam->attribute("fov4");
        if (view.ortho) {
            double half = radius;
            view.r = half;
            view.l = -half;
            view.t = half * image.height / image.width;
            view.b = -view.t;
        } else if (fov4 && fov4->value.isNumbers() && fov4->value.numbers.size() == 4 &&
                   fov4->value.numbers[0] < fov4->value.numbers[1] &&
                   fov4->value.numbers[2] < fov4->value.numbers[3]) {
            view.l = fov4->value.numbers[0];
            view.r = fov4->value.numbers[1];
            view.b = fov4->value.numbers[2];
            view.t = fov4->value.numbers[3];
        } else {
            const Node* fov = cam->attribute("fov");
            setWindow(view, fov && fov->value.isNumbers() ? fov->value.number() : 60.0, image.width,
                      image.height);
        }
        local.fromCamera = true;
        local.camera = cam->arg(0);
    } else {
        // Framing view: from the front (the viewer on the +z side of the mirrored scene),
        // a little to the right and above, the whole bounding sphere in sight.
        setWindow(view, 50.0, image.width, image.height);
        double halfAngle = std::atan(std::min(view.r, view.t));
        double distance = radius / std::sin(halfAngle) * 1.05;
        view.eye = center + normalized(Vec3{0.5, 0.4, 1.0}) * distance;
        view.dir = normalized(center - view.eye);
        view.right = normalized(cross(view.dir, Vec3{0, 1, 0}));
        view.up = cross(view.right, view.dir);
    }
    // A fixed near plane: one taken from the scene size would cut everything when a single
    // vertex lies far out.
    view.nearZ = 1e-6;

    Raster raster(image.width, image.height, image.rgb);
    Renderer renderer(view, raster);
    std::vector<Vec3> scratch;
    for (const Drawable& d : collector.drawables) {
        drawGeometry(d, renderer, scratch);
    }
    local.triangles = renderer.triangles;
    local.pixels = raster.covered;
    if (stats != nullptr) {
        *stats = local;
    }
    return image;
}

namespace {

struct PngFailure {
    std::jmp_buf jump;
    char message[256] = {0};
};

void pngError(png_structp png, png_const_charp message) {
    auto* failure = static_cast<PngFailure*>(png_get_error_ptr(png));
    std::snprintf(failure->message, sizeof failure->message, "%s", message);
    std::longjmp(failure->jump, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// Kept free of C++ objects with destructors: libpng reports errors by longjmp.
bool writePngStream(FILE* file, const PreviewImage& image, png_bytep* rows, PngFailure& failure) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, pngError, pngWarning);
    if (png == nullptr) {
        std::snprintf(failure.message, sizeof failure.message, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(failure.jump) != 0) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
                 static_cast<png_uint_32>(image.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool writePng(const std::string& path, const PreviewImage& image, std::string& reason) {
    if (image.width <= 0 || image.height <= 0 ||
        image.rgb.size() != static_cast<size_t>(image.width) * image.height * 3) {
        reason = "empty image";
        return false;
    }
    std::u16string wide;
    if (!platform::utf8ToUtf16(path, wide).ok()) {
        reason = "the path is not valid UTF-8";
        return false;
    }
    // Written beside the target and put in its place only when complete: a failed preview
    // leaves an older PNG as it was.
    platform::ReplacingFile file;
    platform::Status status = file.open(wide);
    if (!status.ok()) {
        reason = status.message();
        return false;
    }
    std::vector<png_bytep> rows(static_cast<size_t>(image.height));
    for (int y = 0; y < image.height; ++y) {
        rows[static_cast<size_t>(y)] =
            const_cast<png_bytep>(image.rgb.data() + static_cast<size_t>(y) * image.width * 3);
    }
    PngFailure failure;
    errno = 0;
    bool ok = writePngStream(file.stream(), image, rows.data(), failure);
    if (!ok) {
        // A failed write says only "Write Error"; the system's reason is more use.
        const int err = errno;
        reason = std::ferror(file.stream()) != 0 && err != 0 ? std::strerror(err) : failure.message;
        file.discard();
        return false;
    }
    status = file.commit();
    if (!status.ok()) {
        ok = false;
        reason = status.message();
    }
    return ok;
}

}  // namespace rdk
