// Fuzz target: the scene text writer driven by a decoded sequence of interface calls with
// arbitrary names, strings, values, arrays and captured shaders. Each call's arguments are valid
// for its type (the writer trusts sizes and pointers as any sink does); everything else,
// including the order of begin and end calls, is the input's choice.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzTargets.h"
#include "importers/sceneapi/trvSceneFormat.h"
#include "importers/sceneapi/trvScene_api_file.h"

namespace raydeck::fuzz {

namespace {

// Type codes worth trying: every assigned one, unassigned ones and the shader reference.
const int kTypes[] = {trvType::vec3f,
                      trvType::vec4f,
                      trvType::float_,
                      trvType::double_,
                      trvType::vec3d,
                      trvType::int_,
                      trvType::bool_,
                      trvType::matrix,
                      trvType::string,
                      trvType::string_ref,
                      trvType::vec2f,
                      trvType::float4,
                      trvType::int2,
                      trvType::int3,
                      trvType::int4,
                      trvType::int_alt,
                      0,
                      8,
                      11,
                      99};

// Storage for one value of any kind; pointers into it stay valid for the call.
struct Value {
    std::vector<std::uint8_t> raw;
    std::vector<std::string> strings;
    std::vector<const char*> pointers;
    const char* textPointer = nullptr;
    trvShaderHandle handle = nullptr;
    trvArray array{nullptr, 0};
};

class Driver {
  public:
    Driver(FuzzInput& in, trvScene_api_file& api) : in_(in), api_(api) {}

    void run() {
        // Bounded so that one input cannot run for long however it decodes.
        for (int calls = 0; calls < 4096 && !in_.empty(); ++calls) {
            step();
        }
    }

  private:
    std::string name() { return in_.text(); }
    const char* nameOrNull(std::string& keep) {
        keep = name();
        return (in_.byte() & 7) == 0 ? nullptr : keep.c_str();
    }
    trvShaderHandle handle() {
        const unsigned i = in_.byte();
        return i < handles_.size() ? handles_[i] : nullptr;
    }

    // A value of type `type` (array bit and shader reference included) for attribute().
    const void* value(int type, Value& v) {
        if (type == trvType::shader_ref) {
            v.handle = handle();
            return &v.handle;
        }
        const int base = type & ~trvType::array_bit;
        if ((type & trvType::array_bit) != 0) {
            const unsigned count = in_.below(40);
            if (base == trvType::string || base == trvType::string_ref) {
                for (unsigned i = 0; i < count; ++i) {
                    v.strings.push_back(name());
                }
                for (unsigned i = 0; i < count; ++i) {
                    v.pointers.push_back((in_.byte() & 15) == 0 ? nullptr : v.strings[i].c_str());
                }
                v.array = {v.pointers.data(), count};
            } else {
                v.raw = in_.bytes(count * trvFormat::elementSize(base));
                v.array = {v.raw.empty() ? nullptr : v.raw.data(), count};
            }
            return (in_.byte() & 31) == 0 ? nullptr : &v.array;
        }
        if (base == trvType::string) {
            v.strings.push_back(name());
            return v.strings[0].c_str();
        }
        if (base == trvType::string_ref) {
            v.strings.push_back(name());
            v.textPointer = (in_.byte() & 15) == 0 ? nullptr : v.strings[0].c_str();
            return &v.textPointer;
        }
        v.raw = in_.bytes(16 * sizeof(double));  // the largest value, a matrix
        return v.raw.data();
    }
    int type() {
        const unsigned pick = in_.byte();
        if (pick >= 240) {
            return trvType::shader_ref;
        }
        const int base = kTypes[pick % (sizeof kTypes / sizeof kTypes[0])];
        return (pick & 0x80) != 0 ? (base | trvType::array_bit) : base;
    }
    double number() {
        const std::vector<std::uint8_t> b = in_.bytes(sizeof(double));
        double d;
        std::memcpy(&d, b.data(), sizeof d);
        return d;
    }

    void step() {
        std::string a, b, c;
        Value v;
        switch (in_.below(48)) {
            case 0:
                api_.beginGroup(nameOrNull(a), in_.byte() & 1);
                break;
            case 1:
                api_.endGroup();
                break;
            case 2:
                api_.beginObject(nameOrNull(a), in_.byte() & 1);
                break;
            case 3:
                api_.endObject();
                break;
            case 4:
                api_.beginGeometry(nameOrNull(a));
                break;
            case 5:
                api_.endGeometry();
                break;
            case 6:
                api_.beginAnimation(nameOrNull(a), nameOrNull(b));
                break;
            case 7:
                api_.endAnimation();
                break;
            case 8:
                api_.beginLoad(nameOrNull(a));
                break;
            case 9:
                api_.endLoad();
                break;
            case 10:
                api_.beginOptions();
                break;
            case 11:
                api_.endOptions();
                break;
            case 12:
                api_.beginCamera(nameOrNull(a));
                break;
            case 13:
                api_.endCamera();
                break;
            case 14:
                api_.beginImage();
                break;
            case 15:
                api_.endImage();
                break;
            case 16:
                api_.beginOutput(nameOrNull(a), nameOrNull(b), nameOrNull(c));
                break;
            case 17:
                api_.endOutput();
                break;
            case 18:
                api_.beginLight(nameOrNull(a));
                break;
            case 19:
                api_.endLight();
                break;
            case 20:
                api_.beginAccel(nameOrNull(a));
                break;
            case 21:
                api_.endAccel();
                break;
            case 22: {
                v.raw = in_.bytes(16 * sizeof(double));
                std::vector<double> m(16);
                std::memcpy(m.data(), v.raw.data(), 16 * sizeof(double));
                if (in_.byte() & 1) {
                    api_.transform(m.data());
                } else {
                    api_.setTransform(m.data());
                }
                break;
            }
            case 23: {
                const double x = number(), y = number(), z = number();
                switch (in_.below(3)) {
                    case 0:
                        api_.scale(x, y, z);
                        break;
                    case 1:
                        api_.rotate(x, y, z);
                        break;
                    default:
                        api_.translate(x, y, z);
                        break;
                }
                break;
            }
            case 24:
                api_.beginMatrix(nameOrNull(a));
                break;
            case 25:
                api_.endMatrix();
                break;
            case 26:
                api_.beginMaterial(nameOrNull(a), in_.byte() & 1);
                break;
            case 27:
                api_.useMaterial(nameOrNull(a));
                break;
            case 28:
                api_.endMaterial();
                break;
            case 29:
                api_.shader(static_cast<int>(in_.byte()) - 2, handle());
                break;
            case 30:
                api_.shaderId(static_cast<int>(in_.byte()) - 2, static_cast<int>(in_.u32()));
                break;
            case 31:
                api_.beginShader(nameOrNull(a), nameOrNull(b));
                break;
            case 32:
                api_.beginShaderId(nameOrNull(a), in_.u32());
                break;
            case 33:
                api_.endShader();
                break;
            case 34:
                if (trvShaderHandle h = api_.currentShader()) {
                    handles_.push_back(h);
                }
                break;
            case 35:
                api_.pushShader();
                break;
            case 36:
                api_.popShader();
                break;
            case 37: {
                const int t = type();
                const void* p = value(t, v);
                api_.attribute(nameOrNull(a), t, p);
                break;
            }
            case 38:
                api_.attributeShaderId(nameOrNull(a), in_.u32());
                break;
            case 39:
                api_.attributeShader(nameOrNull(a), handle());
                break;
            case 40:
                api_.beginArray(nameOrNull(a));
                break;
            case 41:
                api_.endArray();
                break;
            case 42: {
                const int t = type() & ~trvType::array_bit;
                const void* p = value(t, v);
                api_.arrayValue(t, (in_.byte() & 31) == 0 ? nullptr : p);
                break;
            }
            case 43:
                api_.declareAttribute(nameOrNull(a), nameOrNull(b));
                break;
            case 44:
                a = name();
                api_.printf("%s", a.c_str());
                break;
            case 45:
                api_.setFlags(static_cast<int>(in_.u32()));
                break;
            case 46: {
                v.raw = in_.bytes(in_.byte());
                const int length = static_cast<int>(v.raw.size()) - (in_.byte() & 1);
                switch (in_.below(3)) {
                    case 0:
                        api_.icon(v.raw.empty() ? nullptr : v.raw.data(), length);
                        break;
                    case 1:
                        api_.namedBlock(nameOrNull(a), v.raw.empty() ? nullptr : v.raw.data(),
                                        length);
                        break;
                    default:
                        api_.progress(nameOrNull(a), static_cast<float>(number()));
                        break;
                }
                break;
            }
            default:
                switch (in_.below(6)) {
                    case 0:
                        api_.version(static_cast<int>(in_.u32()));
                        break;
                    case 1:
                        api_.id(in_.u32());
                        break;
                    case 2:
                        api_.flags(in_.u32());
                        break;
                    case 3:
                        api_.print(nameOrNull(a));
                        break;
                    case 4:
                        api_.error(nameOrNull(a));
                        break;
                    default:
                        api_.render();
                        break;
                }
                break;
        }
    }

    FuzzInput& in_;
    trvScene_api_file& api_;
    std::vector<trvShaderHandle> handles_;
};

}  // namespace

int sceneWriter(const std::uint8_t* data, std::size_t size) {
    // One scratch stream per process, rewound for each input; what lands in it is not checked
    // here, only that writing it is safe and bounded.
    static std::FILE* const stream = std::tmpfile();
    if (stream == nullptr) {
        return 0;
    }
    std::rewind(stream);
    FuzzInput in(data, size);
    const bool packed = (in.byte() & 1) != 0;
    {
        trvScene_api_file api(stream, packed);
        Driver(in, api).run();
    }
    std::fflush(stream);
    return 0;
}

}  // namespace raydeck::fuzz
