// trvScene_api_file: the file sink of trvScene_api. Turns each call into the scene text format
// on a stdio stream it does not own; anonymous shaders are captured into buffers that the writer
// owns until it is destroyed. Holds the "C" numeric locale for its whole life.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "trvScene_api.h"

// A captured anonymous shader: the text written between its begin and end.
struct trvCapturedShader {
    char* text;        // owned, NUL-terminated (null while nothing is allocated)
    int32_t length;    // bytes in text
    int32_t capacity;  // bytes reserved; -1 while nothing is allocated
    bool rawBytes;     // bytes were appended by length: emit by length, not as a C string
    bool placed;       // already copied into another capture (see placeable())
};

class trvScene_api_file : public trvScene_api {
  public:
    // `stream` may be null: every operation then writes nothing but keeps its state.
    trvScene_api_file(FILE* stream, bool packArrays);
    ~trvScene_api_file() override;
    trvScene_api_file(const trvScene_api_file&) = delete;
    trvScene_api_file& operator=(const trvScene_api_file&) = delete;

    // True once any write to the stream was short or the stream reports an error, or a value
    // could not be represented (so a caller can report the file as damaged).
    bool writeFailed() const;

    // Values written as the nearest finite value because they had none (an infinity, NaN, or a
    // double too large for the float it is narrowed to), and the attribute or statement that held
    // the first of them ("" while there is none). The scene never holds inf or nan.
    size_t clampedValues() const { return clamped_; }
    const std::string& firstClamped() const { return firstClamped_; }

    // Writes "#modify " and opens a camera section like beginCamera(name). The writer's own
    // table slot (68), after the interface's operations.
    virtual bool modify(const char* name);

    void reserved1() override;
    bool connect(const char* host, unsigned port, int wait) override;
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

  private:
    // The three writers of the output channel.
    enum class Pen { indented, plain, bytes };

    void put(Pen pen, const char* data, size_t length);
    void put(Pen pen, std::string_view text) { put(pen, text.data(), text.size()); }
    // One indented write made of consecutive pieces (no formatting, so nothing is cut).
    void putIndented(std::initializer_list<std::string_view> pieces);
    void putNumber(Pen pen, long long value);
    void sink(const char* data, size_t length, bool raw);
    void appendCapture(trvCapturedShader* target, const char* data, size_t length, bool raw);
    // Gives back a finished capture's spare room: its text stays until the writer ends, and with
    // many pieces the room that growing it left would be most of what the writer holds.
    static void fitCapture(trvCapturedShader* capture);
    bool atLineStart() const;
    bool indentOn() const { return (flagsWord_ & trvOutputFlag::no_indent) == 0; }

    void quoted(const char* name, Pen pen);
    void directiveName(const char* name);
    void byteBlock(const void* bytes, int length);
    void hexRun(const char* bytes, size_t length);
    void capturedText(trvCapturedShader* handle);
    // Whether `handle` may be written where the output goes now; marks it placed when that is a
    // capture.
    bool placeable(trvCapturedShader* handle);
    void kindWord(int kind, bool trailingBlank);
    bool value(int type, const void* value);
    bool scalarValue(int type, const void* value);
    bool arrayText(int baseType, const trvArray* array);
    void packed(char kind, const void* data, uint32_t count, size_t bytes);
    // Names `where` as the first place that clamped when values were clamped since `before`.
    void noteClamps(size_t before, const char* where);
    void matrixLine(const char* keyword, const double* m16);
    void vectorLine(const char* keyword, double x, double y, double z);
    void endBlock();
    // The head pieces with the keyword last (indented), a blank, the quoted name, " {" and a
    // line feed; one level deeper.
    void openBlock(std::initializer_list<std::string_view> head, const char* name);
    // Blocks that set their own attribute style save the one around them, and restore it on end.
    void enterStyle(bool directive);
    void leaveStyle();
    void closeStyledBlock();
    bool beginSection(int kind);
    void endSection(int kind);

    template <typename T>
    static void push(std::vector<T>& stack, T value);
    template <typename T>
    static void pop(std::vector<T>& stack, T& into);

    FILE* stream_;
    int32_t depth_ = 0;
    bool directiveStyle_ = false;
    int32_t section_ = 0;
    bool packArrays_;
    uint32_t flagsWord_ = trvOutputFlag::initial;
    bool capturing_ = false;
    trvCapturedShader* captureTarget_ = nullptr;
    int64_t arrayCount_ = 0;
    char packKind_ = 'f';
    std::vector<uint32_t> packBuffer_;
    std::vector<int32_t> depthStack_;
    std::vector<uint8_t> styleStack_;
    std::vector<uint8_t> captureFlagStack_;
    std::vector<trvCapturedShader*> targetStack_;
    std::vector<trvCapturedShader*> allCaptures_;
    std::unique_ptr<char[]> formatBuffer_;
    std::unique_ptr<char[]> indentBuffer_;
    std::string savedNumericLocale_;
    bool streamAtLineStart_ = true;
    bool failed_ = false;
    size_t clamped_ = 0;
    std::string firstClamped_;
    std::string arrayName_;           // the open beginArray's name
    std::vector<char> clampScratch_;  // a packed array's copy with its values made finite
};
