// A trvScene_api that records every call as one line of text, decoding attribute values by their
// type code, so tests can compare whole call sequences.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "trvScene_api.h"

class RecordingApi : public trvScene_api {
  public:
    std::vector<std::string> calls;
    bool acceptSections = true;  // what beginCamera/beginLoad answer
    int disconnects = 0;

    void reserved1() override { add("reserved1"); }
    bool connect(const char* host, unsigned port, int wait) override {
        add("connect " + str(host) + " " + std::to_string(port) + " " + std::to_string(wait));
        return false;
    }
    bool disconnect() override {
        ++disconnects;
        add("disconnect");
        return true;
    }
    bool reserved4() override { return add("reserved4"); }
    bool beginGroup(const char* n, bool plain) override {
        return add("beginGroup " + str(n) + (plain ? " plain" : " define"));
    }
    void endGroup() override { add("endGroup"); }
    bool beginObject(const char* n, bool plain) override {
        return add("beginObject " + str(n) + (plain ? " plain" : " define"));
    }
    void endObject() override { add("endObject"); }
    bool beginGeometry(const char* t) override { return add("beginGeometry " + str(t)); }
    void endGeometry() override { add("endGeometry"); }
    bool beginAnimation(const char* t, const char* n) override {
        return add("beginAnimation " + str(t) + " " + str(n));
    }
    int endAnimation() override {
        add("endAnimation");
        return 0;
    }
    bool beginLoad(const char* m) override {
        add("beginLoad " + str(m));
        return acceptSections;
    }
    void endLoad() override { add("endLoad"); }
    bool beginOptions() override { return add("beginOptions"); }
    void endOptions() override { add("endOptions"); }
    bool beginCamera(const char* n) override {
        add("beginCamera " + str(n));
        return acceptSections;
    }
    void endCamera() override { add("endCamera"); }
    bool beginImage() override { return add("beginImage"); }
    void endImage() override { add("endImage"); }
    bool beginOutput(const char* a, const char* b, const char* c) override {
        return add("beginOutput " + str(a) + " " + str(b) + " " + str(c));
    }
    void endOutput() override { add("endOutput"); }
    bool beginLight(const char* n) override { return add("beginLight " + str(n)); }
    void endLight() override { add("endLight"); }
    bool beginAccel(const char* n) override { return add("beginAccel " + str(n)); }
    void endAccel() override { add("endAccel"); }
    void transform(const double* m) override { add("transform " + doubles(m, 16)); }
    void setTransform(const double* m) override { add("setTransform " + doubles(m, 16)); }
    void scale(const double& x, const double& y, const double& z) override {
        add("scale " + num(x) + " " + num(y) + " " + num(z));
    }
    void rotate(const double& x, const double& y, const double& z) override {
        add("rotate " + num(x) + " " + num(y) + " " + num(z));
    }
    void translate(const double& x, const double& y, const double& z) override {
        add("translate " + num(x) + " " + num(y) + " " + num(z));
    }
    bool beginMatrix(const char* n) override { return add("beginMatrix " + str(n)); }
    void endMatrix() override { add("endMatrix"); }
    bool beginMaterial(const char* n, bool plain) override {
        return add("beginMaterial " + str(n) + (plain ? " plain" : " define"));
    }
    bool useMaterial(const char* n) override { return add("useMaterial " + str(n)); }
    void endMaterial() override { add("endMaterial"); }
    void shader(int kind, trvShaderHandle h) override {
        add("shader " + std::to_string(kind) + " " + handle(h));
    }
    void shaderId(int kind, int id) override {
        add("shaderId " + std::to_string(kind) + " " + std::to_string(id));
    }
    bool beginShader(const char* n, const char* t) override {
        ++shadersBegun_;
        return add("beginShader " + str(n) + " " + str(t));
    }
    bool beginShaderId(const char* t, unsigned id) override {
        return add("beginShaderId " + str(t) + " " + std::to_string(id));
    }
    void endShader() override { add("endShader"); }
    trvShaderHandle currentShader() override {
        add("currentShader");
        return reinterpret_cast<trvShaderHandle>(static_cast<std::uintptr_t>(shadersBegun_));
    }
    void pushShader() override { add("pushShader"); }
    void popShader() override { add("popShader"); }
    bool attribute(const char* name, int type, const void* value) override {
        return add("attribute " + str(name) + " " + std::to_string(type) + " " +
                   decode(type, value));
    }
    bool attributeShaderId(const char* n, unsigned id) override {
        return add("attributeShaderId " + str(n) + " " + std::to_string(id));
    }
    bool attributeShader(const char* n, trvShaderHandle h) override {
        return add("attributeShader " + str(n) + " " + handle(h));
    }
    bool beginArray(const char* n) override { return add("beginArray " + str(n)); }
    void endArray() override { add("endArray"); }
    void arrayValue(int type, const void* value) override {
        add("arrayValue " + std::to_string(type) + " " + decode(type, value));
    }
    int reserved51() override { return add("reserved51") ? 10 : 0; }
    int reserved52() override { return add("reserved52") ? 10 : 0; }
    void* reserved53() override {
        add("reserved53");
        return nullptr;
    }
    void declareAttribute(const char* n, const char* t) override {
        add("declareAttribute " + str(n) + " " + str(t));
    }
    void printf(const char* format, ...) override {
        char buf[4096];
        va_list args;
        va_start(args, format);
        std::vsnprintf(buf, sizeof buf, format, args);
        va_end(args);
        add("printf " + std::string(buf));
    }
    void setFlags(int f) override { add("setFlags " + std::to_string(f)); }
    void version(int v) override { add("version " + std::to_string(v)); }
    void reserved58() override { add("reserved58"); }
    void progress(const char* t, float f) override { add("progress " + str(t) + " " + num(f)); }
    void icon(const void*, int length) override { add("icon " + std::to_string(length)); }
    void namedBlock(const char* n, const void*, int length) override {
        add("namedBlock " + str(n) + " " + std::to_string(length));
    }
    void id(unsigned v) override { add("id " + std::to_string(v)); }
    void flags(unsigned v) override { add("flags " + std::to_string(v)); }
    bool reserved64() override { return !add("reserved64"); }
    bool render() override { return add("render"); }
    void print(const char* t) override { add("print " + str(t)); }
    void error(const char* t) override { add("error " + str(t)); }

    static std::string num(double v) {
        std::ostringstream out;
        out << v;
        return out.str();
    }

  private:
    int shadersBegun_ = 0;

    bool add(const std::string& line) {
        calls.push_back(line);
        return true;
    }
    static std::string str(const char* s) { return s == nullptr ? "(null)" : std::string(s); }
    static std::string handle(trvShaderHandle h) {
        return "#" + std::to_string(reinterpret_cast<std::uintptr_t>(h));
    }
    template <typename T>
    static std::string list(const T* p, std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i) {
            s += (i == 0 ? "" : ",") + num(static_cast<double>(p[i]));
        }
        return s;
    }
    static std::string doubles(const double* p, std::size_t n) { return list(p, n); }

    static std::string decode(int type, const void* v) {
        if (type & trvType::shader_ref) {
            return handle(*static_cast<const trvShaderHandle*>(v));
        }
        if (type & trvType::array_bit) {
            const trvArray* a = static_cast<const trvArray*>(v);
            const int base = type & ~trvType::array_bit;
            std::size_t per = 0;
            if (base == trvType::vec3f)
                per = 3;
            if (base == trvType::float_)
                per = 1;
            std::string s = "count=" + std::to_string(a->count);
            if (base == trvType::int_) {
                s += " " + list(static_cast<const int*>(a->data), a->count);
            } else if (base == trvType::double_) {
                s += " " + list(static_cast<const double*>(a->data), a->count);
            } else if (base == trvType::matrix) {
                s += " " + list(static_cast<const double*>(a->data), a->count * 16u);
            } else if (per != 0) {
                s += " " + list(static_cast<const float*>(a->data), a->count * per);
            }
            return s;
        }
        switch (type) {
            case trvType::vec3f:
                return list(static_cast<const float*>(v), 3);
            case trvType::vec4f:
            case trvType::float4:
                return list(static_cast<const float*>(v), 4);
            case trvType::vec2f:
                return list(static_cast<const float*>(v), 2);
            case trvType::float_:
                return list(static_cast<const float*>(v), 1);
            case trvType::double_:
                return list(static_cast<const double*>(v), 1);
            case trvType::vec3d:
                return list(static_cast<const double*>(v), 3);
            case trvType::int_:
            case trvType::bool_:
                return list(static_cast<const int*>(v), 1);
            case trvType::string:
                return str(static_cast<const char*>(v));
            default:
                return "?";
        }
    }
};
