// A trvScene_api that records every call as one line of text ("op arg arg ..."), naming type
// codes ("int", "vec3f[]") and decoding attribute values by them, so tests read as the scene;
// tests ask it whether a line is there, where, and which lines start alike.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "trvScene_api.h"

class RecordingApi : public trvScene_api {
  public:
    std::vector<std::string> calls;

    // Where `line` was recorded first at or after `from`; calls.size() when it was not.
    std::size_t indexOf(const std::string& line, std::size_t from = 0) const {
        for (std::size_t i = from; i < calls.size(); ++i) {
            if (calls[i] == line) {
                return i;
            }
        }
        return calls.size();
    }
    bool called(const std::string& line) const { return indexOf(line) < calls.size(); }
    // The lines after the first `open` and before the next `close` after it; empty when either
    // is missing.
    std::vector<std::string> block(const std::string& open, const std::string& close) const {
        const std::size_t begin = indexOf(open);
        const std::size_t end = begin < calls.size() ? indexOf(close, begin) : calls.size();
        if (end == calls.size()) {
            return {};
        }
        return std::vector<std::string>(calls.begin() + begin + 1, calls.begin() + end);
    }
    // Whether `line` stands in that block.
    bool inside(const std::string& line, const std::string& open, const std::string& close) const {
        const std::vector<std::string> lines = block(open, close);
        for (const std::string& l : lines) {
            if (l == line) {
                return true;
            }
        }
        return false;
    }
    // The recorded lines that start with `prefix`, in their order.
    std::vector<std::string> callsStarting(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& c : calls) {
            if (c.compare(0, prefix.size(), prefix) == 0) {
                found.push_back(c);
            }
        }
        return found;
    }

    bool acceptSections = true;  // what beginCamera and beginLoad answer
    int disconnects = 0;

    // clang-format off
    void reserved1() override { rec("reserved1"); }
    bool connect(const char* h, unsigned p, int w) override { return !rec("connect", h, p, w); }
    bool disconnect() override { ++disconnects; return rec("disconnect"); }
    bool reserved4() override { return !rec("reserved4"); }
    bool beginGroup(const char* n, bool plain) override { return rec("beginGroup", n, plain); }
    void endGroup() override { rec("endGroup"); }
    bool beginObject(const char* n, bool plain) override { return rec("beginObject", n, plain); }
    void endObject() override { rec("endObject"); }
    bool beginGeometry(const char* t) override { return rec("beginGeometry", t); }
    void endGeometry() override { rec("endGeometry"); }
    bool beginAnimation(const char* t, const char* n) override { return rec("beginAnimation", t, n); }
    int endAnimation() override { return !rec("endAnimation"); }
    bool beginLoad(const char* m) override { return rec("beginLoad", m) && acceptSections; }
    void endLoad() override { rec("endLoad"); }
    bool beginOptions() override { return rec("beginOptions"); }
    void endOptions() override { rec("endOptions"); }
    bool beginCamera(const char* n) override { return rec("beginCamera", n) && acceptSections; }
    void endCamera() override { rec("endCamera"); }
    bool beginImage() override { return rec("beginImage"); }
    void endImage() override { rec("endImage"); }
    bool beginOutput(const char* a, const char* b, const char* c) override { return rec("beginOutput", a, b, c); }
    void endOutput() override { rec("endOutput"); }
    bool beginLight(const char* n) override { return rec("beginLight", n); }
    void endLight() override { rec("endLight"); }
    bool beginAccel(const char* n) override { return rec("beginAccel", n); }
    void endAccel() override { rec("endAccel"); }
    void transform(const double* m) override { rec("transform", list(m, 16)); }
    void setTransform(const double* m) override { rec("setTransform", list(m, 16)); }
    void scale(const double& x, const double& y, const double& z) override { rec("scale", x, y, z); }
    void rotate(const double& x, const double& y, const double& z) override { rec("rotate", x, y, z); }
    void translate(const double& x, const double& y, const double& z) override { rec("translate", x, y, z); }
    bool beginMatrix(const char* n) override { return rec("beginMatrix", n); }
    void endMatrix() override { rec("endMatrix"); }
    bool beginMaterial(const char* n, bool plain) override { return rec("beginMaterial", n, plain); }
    bool useMaterial(const char* n) override { return rec("useMaterial", n); }
    void endMaterial() override { rec("endMaterial"); }
    void shader(int kind, trvShaderHandle h) override { rec("shader", kind, handle(h)); }
    void shaderId(int kind, int id) override { rec("shaderId", kind, id); }
    bool beginShader(const char* n, const char* t) override { ++anonymous_; return rec("beginShader", n, t); }
    bool beginShaderId(const char* t, unsigned id) override { return rec("beginShaderId", t, id); }
    void endShader() override { rec("endShader"); }
    // Handles are the running number of the shader begun last: #1, #2, ...
    trvShaderHandle currentShader() override {
        rec("currentShader");
        return reinterpret_cast<trvShaderHandle>(static_cast<std::uintptr_t>(anonymous_));
    }
    void pushShader() override { rec("pushShader"); }
    void popShader() override { rec("popShader"); }
    bool attribute(const char* n, int type, const void* v) override { return rec("attribute", n, typeName(type), decode(type, v)); }
    bool attributeShaderId(const char* n, unsigned id) override { return rec("attributeShaderId", n, id); }
    bool attributeShader(const char* n, trvShaderHandle h) override { return rec("attributeShader", n, handle(h)); }
    bool beginArray(const char* n) override { return rec("beginArray", n); }
    void endArray() override { rec("endArray"); }
    void arrayValue(int type, const void* v) override { rec("arrayValue", typeName(type), decode(type, v)); }
    int reserved51() override { return rec("reserved51") ? 10 : 0; }
    int reserved52() override { return rec("reserved52") ? 10 : 0; }
    void* reserved53() override { rec("reserved53"); return nullptr; }
    void declareAttribute(const char* n, const char* t) override { rec("declareAttribute", n, t); }
    void setFlags(int f) override { rec("setFlags", f); }
    void version(int v) override { rec("version", v); }
    void reserved58() override { rec("reserved58"); }
    void progress(const char* t, float f) override { rec("progress", t, f); }
    void icon(const void*, int length) override { rec("icon", length); }
    void namedBlock(const char* n, const void*, int length) override { rec("namedBlock", n, length); }
    void id(unsigned v) override { rec("id", v); }
    void flags(unsigned v) override { rec("flags", v); }
    bool reserved64() override { return !rec("reserved64"); }
    bool render() override { return rec("render"); }
    void print(const char* t) override { rec("print", t); }
    void error(const char* t) override { rec("error", t); }
    // clang-format on
    void printf(const char* format, ...) override {
        char buf[4096];
        va_list args;
        va_start(args, format);
        std::vsnprintf(buf, sizeof buf, format, args);
        va_end(args);
        rec("printf", std::string(buf));
    }

  private:
    int anonymous_ = 0;

    static std::string text(const char* s) { return s == nullptr ? "(null)" : s; }
    static std::string text(const std::string& s) { return s; }
    static std::string text(bool b) { return b ? "plain" : "define"; }
    template <typename T>
    static std::string text(T v) {
        std::ostringstream out;
        out << v;
        return out.str();
    }
    template <typename... A>
    bool rec(const char* op, const A&... args) {
        std::string line = op;
        ((line += " " + text(args)), ...);
        calls.push_back(line);
        return true;
    }
    static std::string handle(trvShaderHandle h) {
        return "#" + std::to_string(reinterpret_cast<std::uintptr_t>(h));
    }
    template <typename T>
    static std::string list(const T* p, std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i) {
            // Integers exactly: a rounded "%g" would hide values near the int32 limits.
            if constexpr (std::is_integral_v<T>) {
                s += (i == 0 ? "" : ",") + std::to_string(p[i]);
            } else {
                s += (i == 0 ? "" : ",") + text(static_cast<double>(p[i]));
            }
        }
        return s;
    }
    // The trvType name of a code; an array is its base's name with "[]"; unnamed codes in decimal.
    static std::string typeName(int type) {
        if (type & trvType::shader_ref) {
            return "shader_ref";
        }
        if (type & trvType::array_bit) {
            return typeName(type & ~trvType::array_bit) + "[]";
        }
        switch (type) {
            case trvType::vec3f:
                return "vec3f";
            case trvType::vec4f:
                return "vec4f";
            case trvType::float_:
                return "float";
            case trvType::double_:
                return "double";
            case trvType::vec3d:
                return "vec3d";
            case trvType::int_:
                return "int";
            case trvType::bool_:
                return "bool";
            case trvType::matrix:
                return "matrix";
            case trvType::string:
                return "string";
            case trvType::string_ref:
                return "string_ref";
            case trvType::vec2f:
                return "vec2f";
            case trvType::float4:
                return "float4";
            case trvType::int2:
                return "int2";
            case trvType::int3:
                return "int3";
            case trvType::int4:
                return "int4";
            case trvType::int_alt:
                return "int_alt";
            default:
                return std::to_string(type);
        }
    }
    // The numbers of `count` values of type `type` at `p`, or "?" for a type without numbers.
    static std::string numbers(int type, const void* p, std::size_t count) {
        switch (type) {
            case trvType::vec2f:
                return list(static_cast<const float*>(p), 2 * count);
            case trvType::vec3f:
                return list(static_cast<const float*>(p), 3 * count);
            case trvType::float4:
                return list(static_cast<const float*>(p), 4 * count);
            case trvType::float_:
                return list(static_cast<const float*>(p), count);
            case trvType::double_:
                return list(static_cast<const double*>(p), count);
            case trvType::vec3d:
                return list(static_cast<const double*>(p), 3 * count);
            case trvType::matrix:
                return list(static_cast<const double*>(p), 16 * count);
            case trvType::int_:
            case trvType::bool_:
                return list(static_cast<const int*>(p), count);
            default:
                return "?";
        }
    }
    static std::string decode(int type, const void* v) {
        if (type & trvType::shader_ref) {
            return handle(*static_cast<const trvShaderHandle*>(v));
        }
        if (type & trvType::array_bit) {
            const trvArray* a = static_cast<const trvArray*>(v);
            const std::string values = numbers(type & ~trvType::array_bit, a->data, a->count);
            return "count=" + std::to_string(a->count) + " " + (values == "?" ? "" : values);
        }
        return type == trvType::string ? text(static_cast<const char*>(v)) : numbers(type, v, 1);
    }
};
