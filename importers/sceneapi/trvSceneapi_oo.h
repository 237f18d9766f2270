// trv::trvSceneapi_oo: the object-oriented front of trvScene_api. Typed attribute setters,
// groups, shaders, transforms, the node mechanism (apply) and the id and shader counters.
// Also the factory interface trv::LightFactory and the node interface trv::LightNode.
// Virtual operations stand in a fixed slot order; keep it.
#pragma once

#include <string>
#include <vector>

#include "trvScene_api.h"

namespace trv {

struct vec3f {
    float x, y, z;
};

struct vec3d {
    double x, y, z;
};

// A vec3f array kept as a flat sequence of floats x, y, z, x, y, z, ...; the count sent is the
// number of floats divided by 3 (a trailing partial triple is not counted).
struct vec3fArray {
    std::vector<float> floats;
};

// 16 doubles: X axis, 0, Y axis, 0, Z axis, 0, offset, 1 (row-major, points as rows).
struct matrix {
    double m[16];
};

class trvSceneapi_oo;

// The source of a back end; the builder is constructed from one.
class LightFactory {
public:
    virtual ~LightFactory() {}                          // 0
    virtual trvScene_api* backend() = 0;                // 1: null when the sink cannot be opened
    virtual void beginScene(trvSceneapi_oo& builder) = 0;  // 2: what every scene begins with
    virtual void close() = 0;                           // 3: release the back end
};

// A self-contained piece of scene written through a builder.
class LightNode {
public:
    virtual bool emit(trvSceneapi_oo& builder) = 0;  // 0
    virtual void reserved1() {}                      // 1
    virtual bool reserved2() { return false; }       // 2
    virtual ~LightNode() {}                          // 3
};

class trvSceneapi_oo {
public:
    explicit trvSceneapi_oo(LightFactory* factory);
    trvSceneapi_oo(const trvSceneapi_oo&) = delete;
    trvSceneapi_oo& operator=(const trvSceneapi_oo&) = delete;

    virtual ~trvSceneapi_oo();                                                     // 0
    virtual int attach(trvScene_api* b);                                           // 1
    virtual int writeId();                                                         // 2
    virtual bool apply(LightNode& node);                                           // 3
    virtual void progress(const std::string& text, float fraction);               // 4
    virtual bool beginGroup(const std::string& name);                             // 5
    virtual void endGroup();                                                       // 6
    virtual int beginShader(const std::string& type);                             // 7
    virtual void endShader();                                                      // 8
    virtual bool setAttribute(const std::string& name, const char* value);        // 9: throws
    virtual bool setAttribute(const std::string& name, const std::string& value);  // 10
    virtual bool setAttribute(const std::string& name, const vec3f& value);        // 11
    virtual bool setAttribute(const std::string& name, const vec3d& value);        // 12
    virtual bool setAttribute(const std::string& name, double value);              // 13
    virtual bool setAttribute(const std::string& name, float value);               // 14
    virtual bool setAttribute(const std::string& name, int value);                 // 15
    virtual bool setAttribute(const std::string& name, bool value);                // 16
    virtual bool setAttribute(const std::string& name, const std::vector<matrix>& v);  // 17
    virtual bool setAttribute(const std::string& name, const std::vector<int>& v);     // 18
    virtual bool setAttribute(const std::string& name, const std::vector<float>& v);   // 19
    virtual bool setAttribute(const std::string& name, const std::vector<double>& v);  // 20
    virtual bool setAttribute(const std::string& name, const vec3fArray& v);            // 21
    virtual void transform(const matrix& m);                                       // 22
    virtual void transform(const matrix& m, bool set);                             // 23
    virtual void flags(unsigned value);                                            // 24
    virtual trvScene_api* backend();                                               // 25

private:
    trvScene_api* backend_ = nullptr;  // borrowed from the factory
    LightFactory* factory_ = nullptr;  // borrowed
    int shaderCounter_ = 0;
    int idCounter_ = 0;
};

}  // namespace trv
