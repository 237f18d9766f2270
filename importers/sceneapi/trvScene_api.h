// trvScene_api: the streaming scene description interface shared by every producer (builder,
// nodes, converters) and every sink (the text writer, the renderer's live library).
//
// The order of the virtual operations is a binary contract with the live library: slot N of
// the table is operation N below, slot 0 being the destructor. Never reorder, insert or remove.
#pragma once

#include <cstdint>

// Lets compilers that know the attribute check printf-style arguments against their format;
// `f` and `a` count from 1, the object being 1 for a member function.
#if defined(__GNUC__) || defined(__clang__)
#define TRV_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define TRV_PRINTF_FORMAT(f, a)
#endif

// Attribute type codes: how many bytes the value pointer covers and how a sink reads them.
namespace trvType {
constexpr int vec3f = 1;             // 3 floats
constexpr int vec4f = 2;             // 4 floats
constexpr int float_ = 3;            // 1 float
constexpr int double_ = 4;           // 1 double
constexpr int vec3d = 5;             // 3 doubles
constexpr int int_ = 6;              // 1 signed 32-bit integer
constexpr int bool_ = 7;             // 1 32-bit integer, zero is false
constexpr int matrix = 9;            // 16 doubles
constexpr int string = 10;           // the characters themselves
constexpr int string_ref = 13;       // pointer to a character pointer
constexpr int vec2f = 14;            // 2 floats
constexpr int float4 = 15;           // 4 floats
constexpr int int2 = 16;             // 2 signed 32-bit integers
constexpr int int3 = 17;             // 3 signed 32-bit integers
constexpr int int4 = 18;             // 4 signed 32-bit integers
constexpr int int_alt = 23;          // like int_
constexpr int array_bit = 0x8000;    // base | array_bit: the value is a trvArray
constexpr int shader_ref = 0x10000;  // pointer to a captured shader handle
}  // namespace trvType

// Shader kinds for shader() and shaderId().
namespace trvShaderKind {
constexpr int surface = 0;
constexpr int shadow = 1;
constexpr int volume = 2;
constexpr int reflection_map = 3;
}  // namespace trvShaderKind

// Bits of setFlags (slot 56): the sink's output options.
namespace trvOutputFlag {
constexpr unsigned pack_arrays = 0x2;     // numeric arrays as raw bytes
constexpr unsigned no_indent = 0x400000;  // lines not indented by depth
constexpr unsigned initial = 0x400001;    // a sink's options before any setFlags
}  // namespace trvOutputFlag

// Bits of flags (slot 63): tags on what follows.
namespace trvNodeFlag {
constexpr unsigned group = 0x1;  // the document walk's group of one host object
}  // namespace trvNodeFlag

// The value of an array type code: the first element and the element count (in elements of
// the base type). A sink reads only the 32 bits of the count.
struct trvArray {
    const void* data;
    uint32_t count;
};

// Opaque handle of an anonymous shader whose text a sink captured; owned by the sink and valid
// until the sink is destroyed.
struct trvCapturedShader;
typedef trvCapturedShader* trvShaderHandle;

class trvScene_api {
  public:
    virtual ~trvScene_api() {}                                                      // 0
    virtual void reserved1() = 0;                                                   // 1
    virtual bool connect(const char* host, unsigned port, int wait) = 0;            // 2
    virtual bool disconnect() = 0;                                                  // 3
    virtual bool reserved4() = 0;                                                   // 4
    virtual bool beginGroup(const char* name, bool plain) = 0;                      // 5
    virtual void endGroup() = 0;                                                    // 6
    virtual bool beginObject(const char* name, bool plain) = 0;                     // 7
    virtual void endObject() = 0;                                                   // 8
    virtual bool beginGeometry(const char* type) = 0;                               // 9
    virtual void endGeometry() = 0;                                                 // 10
    virtual bool beginAnimation(const char* type, const char* name) = 0;            // 11
    virtual int endAnimation() = 0;                                                 // 12
    virtual bool beginLoad(const char* module) = 0;                                 // 13
    virtual void endLoad() = 0;                                                     // 14
    virtual bool beginOptions() = 0;                                                // 15
    virtual void endOptions() = 0;                                                  // 16
    virtual bool beginCamera(const char* name) = 0;                                 // 17
    virtual void endCamera() = 0;                                                   // 18
    virtual bool beginImage() = 0;                                                  // 19
    virtual void endImage() = 0;                                                    // 20
    virtual bool beginOutput(const char* a, const char* b, const char* c) = 0;      // 21
    virtual void endOutput() = 0;                                                   // 22
    virtual bool beginLight(const char* name) = 0;                                  // 23
    virtual void endLight() = 0;                                                    // 24
    virtual bool beginAccel(const char* name) = 0;                                  // 25
    virtual void endAccel() = 0;                                                    // 26
    virtual void transform(const double* m16) = 0;                                  // 27
    virtual void setTransform(const double* m16) = 0;                               // 28
    virtual void scale(const double& x, const double& y, const double& z) = 0;      // 29
    virtual void rotate(const double& x, const double& y, const double& z) = 0;     // 30
    virtual void translate(const double& x, const double& y, const double& z) = 0;  // 31
    virtual bool beginMatrix(const char* name) = 0;                                 // 32
    virtual void endMatrix() = 0;                                                   // 33
    virtual bool beginMaterial(const char* name, bool plain) = 0;                   // 34
    virtual bool useMaterial(const char* name) = 0;                                 // 35
    virtual void endMaterial() = 0;                                                 // 36
    virtual void shader(int kind, trvShaderHandle handle) = 0;                      // 37
    virtual void shaderId(int kind, int id) = 0;                                    // 38
    virtual bool beginShader(const char* name, const char* type) = 0;               // 39
    virtual bool beginShaderId(const char* type, unsigned id) = 0;                  // 40
    virtual void endShader() = 0;                                                   // 41
    virtual trvShaderHandle currentShader() = 0;                                    // 42
    virtual void pushShader() = 0;                                                  // 43
    virtual void popShader() = 0;                                                   // 44
    virtual bool attribute(const char* name, int type, const void* value) = 0;      // 45
    virtual bool attributeShaderId(const char* name, unsigned id) = 0;              // 46
    virtual bool attributeShader(const char* name, trvShaderHandle handle) = 0;     // 47
    virtual bool beginArray(const char* name) = 0;                                  // 48
    virtual void endArray() = 0;                                                    // 49
    virtual void arrayValue(int type, const void* value) = 0;                       // 50
    virtual int reserved51() = 0;                                                   // 51
    virtual int reserved52() = 0;                                                   // 52
    virtual void* reserved53() = 0;                                                 // 53
    virtual void declareAttribute(const char* name, const char* type) = 0;          // 54
    virtual void printf(const char* format, ...) TRV_PRINTF_FORMAT(2, 3) = 0;       // 55
    virtual void setFlags(int flags) = 0;                                           // 56
    virtual void version(int version) = 0;                                          // 57
    virtual void reserved58() = 0;                                                  // 58
    virtual void progress(const char* text, float fraction) = 0;                    // 59
    virtual void icon(const void* bytes, int length) = 0;                           // 60
    virtual void namedBlock(const char* name, const void* bytes, int length) = 0;   // 61
    virtual void id(unsigned value) = 0;                                            // 62
    virtual void flags(unsigned value) = 0;                                         // 63
    virtual bool reserved64() = 0;                                                  // 64
    virtual bool render() = 0;                                                      // 65
    virtual void print(const char* text) = 0;                                       // 66
    virtual void error(const char* text) = 0;                                       // 67
};
