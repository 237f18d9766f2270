// LiveSceneApi: trvScene_api over a loopback TCP connection (see LiveSceneApi.h).
#include "tools/live/LiveSceneApi.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <string>
#include <thread>

#include "platform/functionstream.h"
#include "tools/live/LiveProtocol.h"

namespace raydeck::live {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kStreamBuffer = 4u << 20;  // few, large sends: the scene is mostly arrays
constexpr size_t kFormatBuffer = 1u << 20;  // as much as the writer formats in one write

int msUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Sends everything, waiting at most `sendMs` each time the renderer takes nothing.
bool sendAll(LiveSceneApi::Channel& ch, const char* data, size_t size) {
    while (size > 0) {
        size_t n = 0;
        if (!platform::sendSome(ch.fd, data, size, n).ok()) {
            return false;
        }
        if (n > 0) {
            data += n;
            size -= n;
            ch.sent += n;
            continue;
        }
        bool ready = false;
        if (!platform::waitWritable(ch.fd, ch.sendMs, ready).ok() || !ready) {
            return false;
        }
    }
    return true;
}

// The stdio stream's write side. A failed channel drops what it is given, so the writer never
// sees a short write and nothing waits again after the first timeout.
void channelWrite(void* cookie, const char* data, size_t size) {
    auto* ch = static_cast<LiveSceneApi::Channel*>(cookie);
    if (!ch->failed && !sendAll(*ch, data, size)) {
        ch->failed = true;
    }
}

// Reads the renderer's "stored <n>" line; true when it counts exactly `sceneBytes`.
bool awaitAcknowledgement(platform::Socket fd, int ackMs, std::uint64_t sceneBytes) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ackMs);
    std::string answer;
    while (answer.size() < 64 && (answer.empty() || answer.back() != '\n')) {
        bool ready = false;
        if (!platform::waitReadable(fd, msUntil(deadline), ready).ok() || !ready) {
            return false;
        }
        char buffer[64];
        size_t n = 0;
        if (!platform::receiveSome(fd, buffer, sizeof buffer, n).ok() || n == 0) {
            break;
        }
        answer.append(buffer, n);
    }
    std::uint64_t stored = 0;
    return parseAcknowledgement(answer, stored) && stored == sceneBytes;
}

}  // namespace

LiveSceneApi::LiveSceneApi(LiveTimeouts timeouts)
    : timeouts_(timeouts), formatBuffer_(new char[kFormatBuffer]) {}

LiveSceneApi::~LiveSceneApi() {
    channel_.failed = true;  // abandoning: the last flush must not wait
    closeConnection();
}

bool LiveSceneApi::broken() const {
    return channel_.failed;
}

trvScene_api_file* LiveSceneApi::live() const {
    return channel_.failed ? nullptr : writer_.get();
}

void LiveSceneApi::closeConnection() {
    writer_.reset();
    if (stream_ != nullptr) {
        platform::closeFunctionStream(stream_);
        stream_ = nullptr;
    }
    platform::closeSocket(channel_.fd);
    channel_.reset();
    headerId_ = 1;
}

bool LiveSceneApi::connect(const char* host, unsigned port, int wait) {
    if (writer_ != nullptr || host == nullptr || port < 1 || port > 65535) {
        return false;
    }
    // The renderers listen on loopback only; anything else would leave the machine.
    if (std::strcmp(host, "localhost") != 0 && std::strcmp(host, "127.0.0.1") != 0) {
        return false;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(wait > 0 ? wait : 0);
    platform::Socket fd = platform::kNoSocket;
    for (;;) {
        if (platform::connectLoopback(static_cast<int>(port), std::max(msUntil(deadline), 1000), fd)
                .ok() ||
            Clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(100, msUntil(deadline))));
    }
    if (fd == platform::kNoSocket) {
        return false;
    }
    channel_.reset();
    channel_.fd = fd;
    channel_.sendMs = timeouts_.sendMs;
    if (!platform::openFunctionStream(channelWrite, &channel_, stream_).ok()) {
        stream_ = nullptr;
        platform::closeSocket(fd);
        channel_.reset();
        return false;
    }
    if (!streamBuffer_) {
        streamBuffer_.reset(new char[kStreamBuffer]);
    }
    std::setvbuf(stream_, streamBuffer_.get(), _IOFBF, kStreamBuffer);
    writer_.reset(new trvScene_api_file(stream_, true));
    // The header of a scene file, as the file factory writes it.
    writer_->printf("//---tarvik:dal:7---\n");
    writer_->printf("//---import:dal:1---\n");
    writer_->printf("//---id:%u---\n", headerId_);
    writer_->printf("// This is a Raydeck scene file\n\n");
    return true;
}

bool LiveSceneApi::disconnect() {
    if (writer_ == nullptr) {
        return false;
    }
    bool ok = !writer_->writeFailed();
    writer_.reset();
    ok = std::fflush(stream_) == 0 && ok;
    ok = platform::closeFunctionStream(stream_).ok() && ok;  // every byte handed to the socket
    stream_ = nullptr;
    ok = ok && !channel_.failed;
    if (ok) {
        const std::uint64_t sceneBytes = channel_.sent;
        const std::string end = endOfSceneLine(sceneBytes);
        ok = sendAll(channel_, end.data(), end.size()) &&
             platform::shutdownSending(channel_.fd).ok() &&
             awaitAcknowledgement(channel_.fd, timeouts_.ackMs, sceneBytes);
    }
    closeConnection();
    return ok;
}

// ---- forwarding: the writer when live, the dropped call's answer otherwise ------------------

void LiveSceneApi::reserved1() {}

bool LiveSceneApi::reserved4() {
    return false;
}

bool LiveSceneApi::beginGroup(const char* name, bool plain) {
    trvScene_api_file* w = live();
    return w != nullptr && w->beginGroup(name, plain);
}

void LiveSceneApi::endGroup() {
    if (trvScene_api_file* w = live()) {
        w->endGroup();
    }
}

bool LiveSceneApi::beginObject(const char* name, bool plain) {
    trvScene_api_file* w = live();
    return w != nullptr && w->beginObject(name, plain);
}

void LiveSceneApi::endObject() {
    if (trvScene_api_file* w = live()) {
        w->endObject();
    }
}

bool LiveSceneApi::beginGeometry(const char* type) {
    trvScene_api_file* w = live();
    return w != nullptr && w->beginGeometry(type);
}

void LiveSceneApi::endGeometry() {
    if (trvScene_api_file* w = live()) {
        w->endGeometry();
    }
}

bool LiveSceneApi::beginAnimation(const char* type, const char* name) {
    trvScene_api_file* w = live();
    return w != nullptr && w->beginAnimation(type, name);
}

int LiveSceneApi::endAnimation() {
    trvScene_api_file* w = live();
    return w != nullptr ? w->endAnimation() : 0;
}

bool LiveSceneApi::beginLoad(const char* module) {
    trvScene_api_file* w = live();
    return w != nullptr && w->beginLoad(module);
}

void LiveSceneApi::endLoad() {
    if (trvScene_api_file* w = live()) {
        w->endLoad();
    }
}

bool LiveSceneApi::beginOptions() {
    trvScene_api_file* w = live();
    return w != nullptr && w->beginOptions();
}

void LiveSceneApi::endOptions() {
    if (trvScene_api_file* w = live()) {
        w->endOptions();
    }
}

bool LiveSceneApi::beginCamera(const char* name) {
    trvScene_api_file* w = live();
    return w != nullptr && w->beginCamera(name);
}

void LiveSceneApi::endCamera() {
    if (trvScene_api_file* w = live()) {
        w->endCamera();
    }
}

bool LiveSceneApi::beginImage() {
    trvScene_api_file* w = live();
    return w != nullptr && w->beginImage();
}

void LiveSceneApi::endImage() {
    if (trvScene_api_file* w = live()) {
        w->endImage();
    }
}

bool LiveSceneApi::beginOutput(const char* a, const char* b, const char* c) {
    trvScene_api_file* w = live();
    return w != nullptr && w->beginOutput(a, b, c);
}

void LiveSceneApi::endOutput() {
    if (trvScene_api_file* w = live()) {
        w->endOutput();
    }
}

bool LiveSceneApi::beginLight(const char* name) {
    trvScene_api_file* w = live();
    return w != nullptr && w->beginLight(name);
}

void LiveSceneApi::endLight() {
    if (trvScene_api_file* w = live()) {
        w->endLight();
    }
}

bool LiveSceneApi::beginAccel(const char* name) {
    trvScene_api_file* w = live();
    return w != nullptr && w->beginAccel(name);
}

void LiveSceneApi::endAccel() {
    if (trvScene_api_file* w = live()) {
        w->endAccel();
    }
}

void LiveSceneApi::transform(const double* m16) {
    if (trvScene_api_file* w = live()) {
        w->transform(m16);
    }
}

void LiveSceneApi::setTransform(const double* m16) {
    if (trvScene_api_file* w = live()) {
        w->setTransform(m16);
    }
}

void LiveSceneApi::scale(const double& x, const double& y, const double& z) {
    if (trvScene_api_file* w = live()) {
        w->scale(x, y, z);
    }
}

void LiveSceneApi::rotate(const double& x, const double& y, const double& z) {
    if (trvScene_api_file* w = live()) {
        w->rotate(x, y, z);
    }
}

void LiveSceneApi::translate(const double& x, const double& y, const double& z) {
    if (trvScene_api_file* w = live()) {
        w->translate(x, y, z);
    }
}

bool LiveSceneApi::beginMatrix(const char* name) {
    trvScene_api_file* w = live();
    return w != nullptr && w->beginMatrix(name);
}

void LiveSceneApi::endMatrix() {
    if (trvScene_api_file* w = live()) {
        w->endMatrix();
    }
}

bool LiveSceneApi::beginMaterial(const char* name, bool plain) {
    trvScene_api_file* w = live();
    return w != nullptr && w->beginMaterial(name, plain);
}

bool LiveSceneApi::useMaterial(const char* name) {
    trvScene_api_file* w = live();
    return w != nullptr && w->useMaterial(name);
}

void LiveSceneApi::endMaterial() {
    if (trvScene_api_file* w = live()) {
        w->endMaterial();
    }
}

void LiveSceneApi::shader(int kind, trvShaderHandle handle) {
    if (trvScene_api_file* w = live()) {
        w->shader(kind, handle);
    }
}

void LiveSceneApi::shaderId(int kind, int id) {
    if (trvScene_api_file* w = live()) {
        w->shaderId(kind, id);
    }
}

bool LiveSceneApi::beginShader(const char* name, const char* type) {
    trvScene_api_file* w = live();
    return w != nullptr && w->beginShader(name, type);
}

bool LiveSceneApi::beginShaderId(const char* type, unsigned id) {
    trvScene_api_file* w = live();
    return w != nullptr && w->beginShaderId(type, id);
}

void LiveSceneApi::endShader() {
    if (trvScene_api_file* w = live()) {
        w->endShader();
    }
}

trvShaderHandle LiveSceneApi::currentShader() {
    trvScene_api_file* w = live();
    return w != nullptr ? w->currentShader() : nullptr;
}

void LiveSceneApi::pushShader() {
    if (trvScene_api_file* w = live()) {
        w->pushShader();
    }
}

void LiveSceneApi::popShader() {
    if (trvScene_api_file* w = live()) {
        w->popShader();
    }
}

bool LiveSceneApi::attribute(const char* name, int type, const void* value) {
    trvScene_api_file* w = live();
    return w != nullptr && w->attribute(name, type, value);
}

bool LiveSceneApi::attributeShaderId(const char* name, unsigned id) {
    trvScene_api_file* w = live();
    return w != nullptr && w->attributeShaderId(name, id);
}

bool LiveSceneApi::attributeShader(const char* name, trvShaderHandle handle) {
    trvScene_api_file* w = live();
    return w != nullptr && w->attributeShader(name, handle);
}

bool LiveSceneApi::beginArray(const char* name) {
    trvScene_api_file* w = live();
    return w != nullptr && w->beginArray(name);
}

void LiveSceneApi::endArray() {
    if (trvScene_api_file* w = live()) {
        w->endArray();
    }
}

void LiveSceneApi::arrayValue(int type, const void* value) {
    if (trvScene_api_file* w = live()) {
        w->arrayValue(type, value);
    }
}

int LiveSceneApi::reserved51() {
    return 10;
}

int LiveSceneApi::reserved52() {
    return 10;
}

void* LiveSceneApi::reserved53() {
    return nullptr;
}

void LiveSceneApi::declareAttribute(const char* name, const char* type) {
    if (trvScene_api_file* w = live()) {
        w->declareAttribute(name, type);
    }
}

void LiveSceneApi::printf(const char* format, ...) {
    trvScene_api_file* w = live();
    if (w == nullptr || format == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(formatBuffer_.get(), kFormatBuffer, format, args);
    va_end(args);
    if (n >= 0) {
        w->printf("%s", formatBuffer_.get());
    }
}

void LiveSceneApi::setFlags(int flags) {
    if (trvScene_api_file* w = live()) {
        w->setFlags(flags);
    }
}

void LiveSceneApi::version(int version) {
    if (trvScene_api_file* w = live()) {
        w->version(version);
    }
}

void LiveSceneApi::reserved58() {}

void LiveSceneApi::progress(const char* text, float fraction) {
    if (trvScene_api_file* w = live()) {
        w->progress(text, fraction);
    }
}

void LiveSceneApi::icon(const void* bytes, int length) {
    if (trvScene_api_file* w = live()) {
        w->icon(bytes, length);
    }
}

void LiveSceneApi::namedBlock(const char* name, const void* bytes, int length) {
    if (trvScene_api_file* w = live()) {
        w->namedBlock(name, bytes, length);
    }
}

void LiveSceneApi::id(unsigned value) {
    if (writer_ == nullptr) {
        headerId_ = value;  // the next scene's header carries it
        return;
    }
    if (trvScene_api_file* w = live()) {
        w->id(value);
    }
}

void LiveSceneApi::flags(unsigned value) {
    if (trvScene_api_file* w = live()) {
        w->flags(value);
    }
}

bool LiveSceneApi::reserved64() {
    return false;
}

bool LiveSceneApi::render() {
    trvScene_api_file* w = live();
    return w != nullptr && w->render();
}

void LiveSceneApi::print(const char* text) {
    if (trvScene_api_file* w = live()) {
        w->print(text);
    }
}

void LiveSceneApi::error(const char* text) {
    if (trvScene_api_file* w = live()) {
        w->error(text);
    }
}

}  // namespace raydeck::live
