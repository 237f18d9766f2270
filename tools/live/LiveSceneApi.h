// LiveSceneApi: the stand-in live library's trvScene_api. Streams every call to a stand-in
// renderer over a TCP connection on loopback, as the scene text that the file writer produces
// with packed arrays, behind the same four header lines the file factory writes. The renderer
// thus stores a file equal to an export of the same calls.
//
// Before connect() only id() is kept (the header carries it); every other call is dropped, as
// is every call after the renderer stopped taking data. Writes never raise SIGPIPE and never
// wait longer than the send timeout for the renderer to take more.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "platform/socket.h"
#include "trvScene_api.h"
#include "trvScene_api_file.h"

namespace raydeck::live {

struct LiveTimeouts {
    int sendMs = 10000;  // the longest a write waits for the renderer to take any data
    int ackMs = 30000;   // the longest disconnect() waits for the renderer's acknowledgement
};

class LiveSceneApi : public trvScene_api {
  public:
    explicit LiveSceneApi(LiveTimeouts timeouts = {});
    ~LiveSceneApi() override;  // abandons an open connection (the renderer discards it)
    LiveSceneApi(const LiveSceneApi&) = delete;
    LiveSceneApi& operator=(const LiveSceneApi&) = delete;

    bool connected() const { return writer_ != nullptr; }
    // True once a write to the renderer failed; every call is dropped until disconnect().
    bool broken() const;

    void reserved1() override;
    // host "localhost" or "127.0.0.1" only, port 1..65535; retries until `wait` seconds have
    // passed (at least one attempt). False while already connected.
    bool connect(const char* host, unsigned port, int wait) override;
    // True only when the whole scene went out and the renderer acknowledged storing it.
    bool disconnect() override;
    bool reserved4() override;
    bool beginGroup(const char* name, bool plain) override;
    void endGroup() override;
    bool beginObject(const char* name, bool plain) override;
    void endObject() override;
    bool beginGeometry(const char* type) override;
    void endGeometry() override;
    bool beginAnimation(const char* type, const char* name) override;
    int endAnimation() override;
    bool beginLoad(const char* module) override;
    void endLoad() override;
    bool beginOptions() override;
    void endOptions() override;
    bool beginCamera(const char* name) override;
    void endCamera() override;
    bool beginImage() override;
    void endImage() override;
    bool beginOutput(const char* a, const char* b, const char* c) override;
    void endOutput() override;
    bool beginLight(const char* name) override;
    void endLight() override;
    bool beginAccel(const char* name) override;
    void endAccel() override;
    void transform(const double* m16) override;
    void setTransform(const double* m16) override;
    void scale(const double& x, const double& y, const double& z) override;
    void rotate(const double& x, const double& y, const double& z) override;
    void translate(const double& x, const double& y, const double& z) override;
    bool beginMatrix(const char* name) override;
    void endMatrix() override;
    bool beginMaterial(const char* name, bool plain) override;
    bool useMaterial(const char* name) override;
    void endMaterial() override;
    void shader(int kind, trvShaderHandle handle) override;
    void shaderId(int kind, int id) override;
    bool beginShader(const char* name, const char* type) override;
    bool beginShaderId(const char* type, unsigned id) override;
    void endShader() override;
    trvShaderHandle currentShader() override;
    void pushShader() override;
    void popShader() override;
    bool attribute(const char* name, int type, const void* value) override;
    bool attributeShaderId(const char* name, unsigned id) override;
    bool attributeShader(const char* name, trvShaderHandle handle) override;
    bool beginArray(const char* name) override;
    void endArray() override;
    void arrayValue(int type, const void* value) override;
    int reserved51() override;
    int reserved52() override;
    void* reserved53() override;
    void declareAttribute(const char* name, const char* type) override;
    TRV_PRINTF_FORMAT(2, 3) void printf(const char* format, ...) override;
    void setFlags(int flags) override;
    void version(int version) override;
    void reserved58() override;
    void progress(const char* text, float fraction) override;
    void icon(const void* bytes, int length) override;
    void namedBlock(const char* name, const void* bytes, int length) override;
    void id(unsigned value) override;
    void flags(unsigned value) override;
    bool reserved64() override;
    bool render() override;
    void print(const char* text) override;
    void error(const char* text) override;

    // The socket side of the stdio stream the writer writes to. Where the stream delivers on a
    // thread of its own (Windows), `failed` is set there while the writer goes on here.
    struct Channel {
        platform::Socket fd = platform::kNoSocket;
        int sendMs = 0;
        std::uint64_t sent = 0;  // scene bytes the renderer's side has taken
        std::atomic<bool> failed{false};

        void reset() {
            fd = platform::kNoSocket;
            sendMs = 0;
            sent = 0;
            failed = false;
        }
    };

  private:
    // The writer when connected and still delivering; null otherwise (the call is dropped).
    trvScene_api_file* live() const;
    void closeConnection();

    LiveTimeouts timeouts_;
    unsigned headerId_ = 1;
    Channel channel_;
    FILE* stream_ = nullptr;
    std::unique_ptr<char[]> streamBuffer_;
    std::unique_ptr<trvScene_api_file> writer_;
    std::unique_ptr<char[]> formatBuffer_;  // printf's text before it goes to the writer
};

}  // namespace raydeck::live
