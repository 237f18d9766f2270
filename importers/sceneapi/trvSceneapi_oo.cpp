// trv::trvSceneapi_oo: each operation forwards to one trvScene_api operation.
#include "trvSceneapi_oo.h"

#include <stdexcept>

namespace trv {

namespace {

const char kBannerPrefix[] = "Raydeck SceneApi oo ";
const int kVersionMajor = 9;
const int kVersionMinor = 0;
const int kVersionBuild = 45;
const char kBuildStamp[] = "Wed Feb 20 10:46:13 2019";
const int kFormatVersion = 8;

template <typename T>
bool sendArray(trvScene_api* api, const std::string& name, int type, const std::vector<T>& v) {
    // The record holds only 32 bits of count; larger vectors are truncated by design.
    const trvArray record = {v.data(), static_cast<uint32_t>(v.size())};
    return api->attribute(name.c_str(), type, &record);
}

}  // namespace

trvSceneapi_oo::trvSceneapi_oo(LightFactory* factory) : factory_(factory) {
    attach(factory_->backend());
    if (backend_ == nullptr) {
        return;
    }
    factory_->beginScene(*this);
    const std::string banner = std::string(kBannerPrefix) + std::to_string(kVersionMajor) + "." +
                               std::to_string(kVersionMinor) + "." + std::to_string(kVersionBuild) +
                               "  (built " + kBuildStamp + ")";
    backend_->print(banner.c_str());
    backend_->version(kFormatVersion);
}

trvSceneapi_oo::~trvSceneapi_oo() {}

int trvSceneapi_oo::attach(trvScene_api* b) {
    backend_ = b;
    shaderCounter_ = 0;
    idCounter_ = 0;
    return 0;
}

int trvSceneapi_oo::writeId() {
    idCounter_ += 1;
    backend_->id(static_cast<unsigned>(idCounter_));
    return idCounter_;
}

bool trvSceneapi_oo::apply(LightNode& node) {
    return node.emit(*this);
}

void trvSceneapi_oo::progress(const std::string& text, float fraction) {
    backend_->progress(text.c_str(), fraction);
}

bool trvSceneapi_oo::beginGroup(const std::string& name) {
    return backend_->beginGroup(name.c_str(), true);
}

void trvSceneapi_oo::endGroup() {
    backend_->endGroup();
}

int trvSceneapi_oo::beginShader(const std::string& type) {
    shaderCounter_ += 1;
    backend_->beginShaderId(type.c_str(), static_cast<unsigned>(shaderCounter_));
    return shaderCounter_;
}

void trvSceneapi_oo::endShader() {
    backend_->endShader();
}

bool trvSceneapi_oo::setAttribute(const std::string&, const char*) {
    // Exists so that a literal cannot silently bind to the bool overload; callers pass
    // std::string.
    throw std::invalid_argument("const char * are deprecated");
}

bool trvSceneapi_oo::setAttribute(const std::string& name, const std::string& value) {
    return backend_->attribute(name.c_str(), trvType::string, value.c_str());
}

bool trvSceneapi_oo::setAttribute(const std::string& name, const vec3f& value) {
    return backend_->attribute(name.c_str(), trvType::vec3f, &value);
}

bool trvSceneapi_oo::setAttribute(const std::string& name, const vec3d& value) {
    return backend_->attribute(name.c_str(), trvType::vec3d, &value);
}

bool trvSceneapi_oo::setAttribute(const std::string& name, double value) {
    return backend_->attribute(name.c_str(), trvType::double_, &value);
}

bool trvSceneapi_oo::setAttribute(const std::string& name, float value) {
    return backend_->attribute(name.c_str(), trvType::float_, &value);
}

bool trvSceneapi_oo::setAttribute(const std::string& name, int value) {
    return backend_->attribute(name.c_str(), trvType::int_, &value);
}

bool trvSceneapi_oo::setAttribute(const std::string& name, bool value) {
    const int32_t v = value ? 1 : 0;
    return backend_->attribute(name.c_str(), trvType::bool_, &v);
}

bool trvSceneapi_oo::setAttribute(const std::string& name, const std::vector<matrix>& v) {
    return sendArray(backend_, name, trvType::array_bit | trvType::matrix, v);
}

bool trvSceneapi_oo::setAttribute(const std::string& name, const std::vector<int>& v) {
    return sendArray(backend_, name, trvType::array_bit | trvType::int_, v);
}

bool trvSceneapi_oo::setAttribute(const std::string& name, const std::vector<float>& v) {
    return sendArray(backend_, name, trvType::array_bit | trvType::float_, v);
}

bool trvSceneapi_oo::setAttribute(const std::string& name, const std::vector<double>& v) {
    return sendArray(backend_, name, trvType::array_bit | trvType::double_, v);
}

bool trvSceneapi_oo::setAttribute(const std::string& name, const vec3fArray& v) {
    const trvArray record = {v.floats.data(), static_cast<uint32_t>(v.floats.size() / 3)};
    return backend_->attribute(name.c_str(), trvType::array_bit | trvType::vec3f, &record);
}

void trvSceneapi_oo::transform(const matrix& m) {
    transform(m, false);
}

void trvSceneapi_oo::transform(const matrix& m, bool set) {
    if (set) {
        backend_->setTransform(m.m);
    } else {
        backend_->transform(m.m);
    }
}

void trvSceneapi_oo::flags(unsigned value) {
    backend_->flags(value);
}

trvScene_api* trvSceneapi_oo::backend() {
    return backend_;
}

}  // namespace trv
