// trvScene_api_file: the scene text writer. Every piece of text goes through one output channel
// (indented, plain or byte writer) to the stream or to the capture buffer of an anonymous
// shader; values are spelled by trvSceneFormat.
#include "trvScene_api_file.h"

#include <algorithm>
#include <clocale>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "trvSceneFormat.h"

namespace {

namespace kw = trvFormat::keyword;

constexpr size_t kWorkBuffer = 1u << 20;  // each of the two work areas
constexpr int32_t kCaptureLimit = 0x7FFFFFFF - 2;

constexpr int kSectionOptions = 1;
constexpr int kSectionCamera = 2;
constexpr int kSectionImage = 3;
constexpr int kSectionObject = 4;

std::string_view orEmpty(const char* s) {
    return s ? std::string_view(s) : std::string_view();
}

template <typename T>
T loadAt(const void* base, size_t index) {
    T v;
    std::memcpy(&v, static_cast<const char*>(base) + index * sizeof(T), sizeof(T));
    return v;
}

}  // namespace

trvScene_api_file::trvScene_api_file(FILE* stream, bool packArrays)
    : stream_(stream),
      packArrays_(packArrays),
      formatBuffer_(new char[kWorkBuffer]),
      indentBuffer_(new char[kWorkBuffer]) {
    const char* current = std::setlocale(LC_NUMERIC, nullptr);
    savedNumericLocale_ = current ? current : "C";
    std::setlocale(LC_NUMERIC, "C");
    depthStack_.reserve(32);
    styleStack_.reserve(32);
    captureFlagStack_.reserve(32);
    targetStack_.reserve(32);
    allCaptures_.reserve(32);
}

trvScene_api_file::~trvScene_api_file() {
    std::setlocale(LC_NUMERIC, savedNumericLocale_.c_str());
    for (trvCapturedShader* capture : allCaptures_) {
        std::free(capture->text);
        delete capture;
    }
}

bool trvScene_api_file::writeFailed() const {
    return failed_ || (stream_ != nullptr && std::ferror(stream_) != 0);
}

// ---- stacks ---------------------------------------------------------------------------------

template <typename T>
void trvScene_api_file::push(std::vector<T>& stack, T value) {
    if (stack.size() + 1 >= stack.capacity()) {
        stack.reserve(2 * stack.capacity() + 32);
    }
    stack.push_back(value);
}

template <typename T>
void trvScene_api_file::pop(std::vector<T>& stack, T& into) {
    // An unmatched pop keeps the value it would have replaced.
    if (!stack.empty()) {
        into = stack.back();
        stack.pop_back();
    }
}

// ---- output channel -------------------------------------------------------------------------

bool trvScene_api_file::atLineStart() const {
    if (capturing_) {
        const trvCapturedShader* t = captureTarget_;
        return t == nullptr || t->length == 0 || t->text[t->length - 1] == '\n';
    }
    return streamAtLineStart_;
}

void trvScene_api_file::appendCapture(trvCapturedShader* t, const char* data, size_t length,
                                      bool raw) {
    if (length == 0) {
        return;
    }
    const int64_t need = static_cast<int64_t>(t->length) + static_cast<int64_t>(length) + 1;
    if (need > kCaptureLimit) {
        failed_ = true;  // a capture cannot hold more; losing it silently would corrupt output
        return;
    }
    if (need >= t->capacity) {
        int64_t grown =
            static_cast<int64_t>(length) + 2 * (static_cast<int64_t>(t->capacity) + 256);
        if (grown > kCaptureLimit) {
            grown = kCaptureLimit;
        }
        // The data may be this very buffer (a captured shader placed into itself).
        std::less_equal<const char*> le;
        std::ptrdiff_t offset = -1;
        if (t->text != nullptr && le(t->text, data) && !le(t->text + t->length, data)) {
            offset = data - t->text;
        }
        char* text = static_cast<char*>(std::realloc(t->text, static_cast<size_t>(grown) + 2));
        if (text == nullptr) {
            failed_ = true;
            return;
        }
        t->text = text;
        t->capacity = static_cast<int32_t>(grown);
        if (offset >= 0) {
            data = text + offset;
        }
    }
    char* at = t->text + t->length;
    std::memmove(at, data, length);
    t->length += static_cast<int32_t>(length);
    t->text[t->length] = '\0';
    // A NUL inside the text would cut it when emitted as a C string.
    if (raw || std::memchr(at, '\0', length) != nullptr) {
        t->rawBytes = true;
    }
}

void trvScene_api_file::sink(const char* data, size_t length, bool raw) {
    if (capturing_) {
        if (captureTarget_ != nullptr) {
            appendCapture(captureTarget_, data, length, raw);
        }
        return;
    }
    if (length == 0) {
        return;
    }
    streamAtLineStart_ = data[length - 1] == '\n';
    if (stream_ == nullptr) {
        return;
    }
    if (std::fwrite(data, 1, length, stream_) != length) {
        failed_ = true;
    }
}

void trvScene_api_file::put(Pen pen, const char* data, size_t length) {
    if (pen != Pen::indented || !indentOn() || depth_ <= 0) {
        sink(data, length, pen == Pen::bytes);
        return;
    }
    // Indent into the work area; a write whose indented form does not fit goes out in pieces.
    char* buffer = indentBuffer_.get();
    size_t fill = 0;
    auto flush = [&] {
        if (fill > 0) {
            sink(buffer, fill, false);
            fill = 0;
        }
    };
    auto spaces = [&] {
        for (size_t left = static_cast<size_t>(depth_); left > 0;) {
            size_t k = std::min(left, kWorkBuffer - fill);
            std::memset(buffer + fill, ' ', k);
            fill += k;
            left -= k;
            if (fill == kWorkBuffer) {
                flush();
            }
        }
    };
    if (atLineStart()) {
        spaces();
    }
    size_t i = 0;
    while (i < length) {
        const void* lf = std::memchr(data + i, '\n', length - i);
        size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - data) + 1 : length;
        while (i < end) {
            size_t k = std::min(end - i, kWorkBuffer - fill);
            std::memcpy(buffer + fill, data + i, k);
            fill += k;
            i += k;
            if (fill == kWorkBuffer) {
                flush();
            }
        }
        if (lf != nullptr && i < length) {
            spaces();
        }
    }
    flush();
}

void trvScene_api_file::putIndented(std::initializer_list<std::string_view> pieces) {
    // Consecutive non-empty pieces indent exactly like the single write they make up.
    bool wrote = false;
    for (std::string_view piece : pieces) {
        if (!piece.empty()) {
            put(Pen::indented, piece);
            wrote = true;
        }
    }
    if (!wrote) {
        put(Pen::indented, "", 0);
    }
}

void trvScene_api_file::putNumber(Pen pen, long long value) {
    char text[trvFormat::kMaxValueText];
    put(pen, text, trvFormat::spellInt(value, text));
}

// ---- names, byte blocks, captured texts ------------------------------------------------------

void trvScene_api_file::quoted(const char* name, Pen pen) {
    std::string_view text = orEmpty(name);
    if (!trvFormat::needsHexForm(text.data(), text.size())) {
        if (pen == Pen::indented) {
            putIndented({"\"", text, "\""});
        } else {
            put(Pen::plain, "\"", 1);
            put(Pen::plain, text);
            put(Pen::plain, "\"", 1);
        }
        return;
    }
    put(Pen::bytes, "xX", 2);
    hexRun(text.data(), text.size());
}

void trvScene_api_file::hexRun(const char* bytes, size_t length) {
    // Hex-encoded through the work area, half of it at a time (two digits per byte).
    char* hex = formatBuffer_.get();
    for (size_t at = 0; at < length;) {
        size_t k = std::min(length - at, kWorkBuffer / 2);
        put(Pen::bytes, hex, trvFormat::hexDigits(bytes + at, k, hex));
        at += k;
    }
}

void trvScene_api_file::directiveName(const char* name) {
    std::string_view text = orEmpty(name);
    // A line break in a directive name would split the line: such names take the hex form.
    if (text.find_first_of("\n\r") != std::string_view::npos) {
        quoted(name, Pen::indented);
        put(Pen::plain, " ", 1);
        return;
    }
    putIndented({text, " "});
}

void trvScene_api_file::byteBlock(const void* bytes, int length) {
    put(Pen::bytes, "bX", 2);
    if (bytes == nullptr || length <= 0) {
        return;
    }
    hexRun(static_cast<const char*>(bytes), static_cast<size_t>(length));
}

bool trvScene_api_file::placeable(trvCapturedShader* handle) {
    if (!capturing_ || captureTarget_ == nullptr) {
        return true;  // into the stream: one copy per call
    }
    // Into a capture the text is copied, and copies of copies double with every call: a capture
    // placed into itself, or one capture into others again and again, fills any memory within
    // a few hundred calls. Producers place a capture into at most one other, never into itself,
    // so that is what is allowed.
    if (handle == captureTarget_ || handle->placed) {
        return false;
    }
    handle->placed = true;
    return true;
}

void trvScene_api_file::capturedText(trvCapturedShader* handle) {
    const bool raw = handle->rawBytes;
    const int32_t length = handle->text != nullptr ? handle->length : 0;
    if (length <= 0) {
        if (!raw) {
            put(Pen::indented, "", 0);
        }
        return;
    }
    // Staged through the work area: the handle may be the buffer being written to, whose text
    // moves when it grows. Not cut at the format limit: the text was already formatted.
    char* stage = formatBuffer_.get();
    for (int32_t at = 0; at < length;) {
        size_t k = std::min(static_cast<size_t>(length - at), kWorkBuffer);
        std::memcpy(stage, handle->text + at, k);
        put(raw ? Pen::bytes : Pen::indented, stage, k);
        at += static_cast<int32_t>(k);
    }
}

// ---- values ---------------------------------------------------------------------------------

bool trvScene_api_file::value(int type, const void* value) {
    if (type != trvType::shader_ref && (type & trvType::array_bit) != 0) {
        return arrayText(type & ~trvType::array_bit, static_cast<const trvArray*>(value));
    }
    return scalarValue(type, value);
}

bool trvScene_api_file::scalarValue(int type, const void* value) {
    switch (type) {
        case trvType::string:
            if (value == nullptr) {
                return false;
            }
            quoted(static_cast<const char*>(value), Pen::plain);
            return true;
        case trvType::string_ref: {
            const char* text = value ? loadAt<const char*>(value, 0) : nullptr;
            if (text == nullptr) {
                return false;
            }
            quoted(text, Pen::plain);
            return true;
        }
        case trvType::shader_ref: {
            trvShaderHandle handle = value ? loadAt<trvShaderHandle>(value, 0) : nullptr;
            if (handle == nullptr || !placeable(handle)) {
                return false;
            }
            int32_t saved = depth_;
            depth_ = 2;
            capturedText(handle);
            depth_ = saved;
            return true;
        }
        default:
            break;
    }
    if (!trvFormat::hasNumericText(type)) {
        return true;  // unassigned codes carry no value
    }
    if (value == nullptr) {
        return false;
    }
    char text[trvFormat::kMaxValueText];
    put(Pen::plain, text,
        trvFormat::spellValue(type, value, trvFormat::Context::scalar, text, &clamped_));
    return true;
}

void trvScene_api_file::noteClamps(size_t before, const char* where) {
    if (clamped_ > before && firstClamped_.empty()) {
        firstClamped_ = where != nullptr ? where : "(null)";
    }
}

void trvScene_api_file::packed(char kind, const void* data, uint32_t count, size_t bytes) {
    unsigned char header[8];
    trvFormat::packedHeader(kind, count, header);
    put(Pen::bytes, reinterpret_cast<const char*>(header), sizeof header);
    if (bytes > 0) {
        put(Pen::bytes, static_cast<const char*>(data), bytes);  // the array's memory, as is
    }
}

bool trvScene_api_file::arrayText(int base, const trvArray* array) {
    if (trvFormat::elementSize(base) == 0) {
        return true;  // no array form: nothing to write
    }
    if (array == nullptr) {
        return false;
    }
    const uint32_t count = array->count;
    const char* data = static_cast<const char*>(array->data);
    if (count > 0 && data == nullptr) {
        return false;
    }
    const char kind = packArrays_ ? trvFormat::packedKind(base) : 0;
    uint64_t words = 0;
    if (kind != 0) {
        words = base == trvType::vec3f ? 3ull * count : count;
        if (words > 0xFFFFFFFFull) {
            failed_ = true;  // the block's 32-bit count cannot describe it
            return false;
        }
    }
    put(Pen::plain, "[ ", 2);
    if (kind != 0) {
        const size_t bytes = trvFormat::packedPayloadBytes(kind, static_cast<uint32_t>(words));
        if (trvFormat::firstNonFinitePacked(kind, data, words) < words) {
            // The caller's memory is not ours to change: the copy is made finite.
            clampScratch_.assign(data, data + bytes);
            clamped_ += trvFormat::clampPacked(kind, clampScratch_.data(), words);
            data = clampScratch_.data();
        }
        packed(kind, data, static_cast<uint32_t>(words), bytes);
    } else if (base == trvType::matrix) {
        // One matrix a line, gathered in the work area; entries repeated from the matrix before
        // reuse its text (sampled animation changes few entries from one matrix to the next).
        char* batch = formatBuffer_.get();
        size_t fill = 0;
        const size_t stride = trvFormat::elementSize(base);
        const bool indentLines = indentOn() && depth_ > 0;
        trvFormat::MatrixMemo memo;
        for (uint32_t i = 0; i < count; ++i) {
            if (indentLines || fill > kWorkBuffer - trvFormat::kMaxValueText - 2) {
                put(Pen::plain, batch, fill);
                fill = 0;
                if (indentLines) {
                    put(Pen::indented, "", 0);
                }
            }
            fill += trvFormat::spellArrayMatrix(data + static_cast<size_t>(i) * stride, memo,
                                                batch + fill, &clamped_);
            if (i + 1 < count) {
                batch[fill++] = ',';
            }
            batch[fill++] = '\n';
        }
        put(Pen::plain, batch, fill);
    } else if (base == trvType::string || base == trvType::string_ref) {
        for (uint32_t i = 0; i < count; ++i) {
            const char* text = loadAt<const char*>(data, i);
            if (text != nullptr) {
                quoted(text, Pen::indented);
            }
            put(Pen::plain, i + 1 < count ? "," : " ", 1);
            put(Pen::plain, "\n", 1);
        }
    } else {
        // Elements are gathered in the work area and written in large plain writes.
        char* batch = formatBuffer_.get();
        size_t fill = 0;
        const size_t stride = trvFormat::elementSize(base);
        const bool indentLines = indentOn() && depth_ > 0;
        for (uint32_t i = 0; i < count; ++i) {
            if (fill > kWorkBuffer - trvFormat::kMaxValueText - 2) {
                put(Pen::plain, batch, fill);
                fill = 0;
            }
            fill +=
                trvFormat::spellValue(base, data + static_cast<size_t>(i) * stride,
                                      trvFormat::Context::arrayElement, batch + fill, &clamped_);
            batch[fill++] = i + 1 < count ? ',' : ' ';
            if (i > 0 && i % 8 == 0) {
                batch[fill++] = '\n';
                if (indentLines) {
                    put(Pen::plain, batch, fill);
                    fill = 0;
                    put(Pen::indented, "", 0);
                }
            }
        }
        put(Pen::plain, batch, fill);
    }
    put(Pen::plain, "] ", 2);
    return true;
}

// ---- blocks and sections --------------------------------------------------------------------

void trvScene_api_file::endBlock() {
    --depth_;
    put(Pen::indented, "}\n");
}

void trvScene_api_file::openBlock(std::initializer_list<std::string_view> head, const char* name) {
    putIndented(head);
    put(Pen::indented, " ", 1);
    quoted(name, Pen::indented);
    put(Pen::plain, " {\n");
    ++depth_;
}

void trvScene_api_file::enterStyle(bool directive) {
    push<uint8_t>(styleStack_, directiveStyle_);
    directiveStyle_ = directive;
}

void trvScene_api_file::leaveStyle() {
    uint8_t style = directiveStyle_;
    pop(styleStack_, style);
    directiveStyle_ = style;
}

void trvScene_api_file::closeStyledBlock() {
    endBlock();
    leaveStyle();
}

bool trvScene_api_file::beginGroup(const char* name, bool plain) {
    put(Pen::plain, "\n", 1);
    if (!plain) {
        putIndented({kw::define, " "});
    }
    openBlock({kw::group}, name);
    enterStyle(true);
    return true;
}

void trvScene_api_file::endGroup() {
    closeStyledBlock();
}

bool trvScene_api_file::beginObject(const char* name, bool plain) {
    if (plain) {
        openBlock({kw::object}, name);
    } else {
        openBlock({kw::define, " ", kw::object}, name);
    }
    enterStyle(true);
    section_ = kSectionObject;
    return true;
}

void trvScene_api_file::endObject() {
    closeStyledBlock();
    section_ = 0;
}

bool trvScene_api_file::beginGeometry(const char* type) {
    openBlock({kw::geometry}, type);
    enterStyle(false);
    return true;
}

void trvScene_api_file::endGeometry() {
    closeStyledBlock();
}

bool trvScene_api_file::beginAnimation(const char* type, const char* name) {
    putIndented({kw::animation, " "});
    quoted(type, Pen::indented);
    put(Pen::plain, " ", 1);
    quoted(name, Pen::indented);
    put(Pen::plain, " {\n");
    ++depth_;
    enterStyle(false);
    return true;
}

int trvScene_api_file::endAnimation() {
    closeStyledBlock();
    return 0;
}

bool trvScene_api_file::beginLoad(const char* module) {
    openBlock({kw::load}, module);
    return true;
}

void trvScene_api_file::endLoad() {
    endBlock();
}

bool trvScene_api_file::beginSection(int kind) {
    if (section_ != 0) {
        return false;
    }
    // Sections stand at top level: they go to the stream even if a capture was left open.
    capturing_ = false;
    putIndented({"\n", kind == kSectionOptions ? kw::options : kw::image, " {\n"});
    directiveStyle_ = true;
    section_ = kind;
    ++depth_;
    return true;
}

void trvScene_api_file::endSection(int kind) {
    // The end of a section that is not open (its begin was refused inside an object or another
    // section) changes nothing: resetting here would leave the open block in the wrong style
    // and let a section open inside it.
    if (section_ != kind) {
        return;
    }
    endBlock();
    directiveStyle_ = false;
    section_ = 0;
}

bool trvScene_api_file::beginOptions() {
    return beginSection(kSectionOptions);
}

void trvScene_api_file::endOptions() {
    endSection(kSectionOptions);
}

bool trvScene_api_file::beginCamera(const char* name) {
    if (section_ != 0) {
        return false;
    }
    capturing_ = false;
    if (name != nullptr) {
        putIndented({"\n", kw::camera, " "});
        quoted(name, Pen::indented);
        put(Pen::plain, " {\n");
    } else {
        putIndented({"\n", kw::camera, " {\n"});
    }
    directiveStyle_ = true;
    section_ = kSectionCamera;
    ++depth_;
    return true;
}

void trvScene_api_file::endCamera() {
    endSection(kSectionCamera);
}

bool trvScene_api_file::beginImage() {
    return beginSection(kSectionImage);
}

void trvScene_api_file::endImage() {
    endSection(kSectionImage);
}

bool trvScene_api_file::modify(const char* name) {
    // A refused camera leaves no dangling "#modify " in front of the next line.
    if (section_ != 0) {
        return false;
    }
    putIndented({kw::modify, " "});
    return beginCamera(name);
}

bool trvScene_api_file::beginOutput(const char* a, const char* b, const char* c) {
    putIndented({kw::output, " "});
    quoted(a, Pen::indented);
    put(Pen::plain, " ", 1);
    quoted(b, Pen::indented);
    put(Pen::plain, " ", 1);
    quoted(c, Pen::indented);
    put(Pen::plain, " {\n");
    directiveStyle_ = false;
    ++depth_;
    return true;
}

void trvScene_api_file::endOutput() {
    endBlock();
    directiveStyle_ = true;
}

bool trvScene_api_file::beginLight(const char* name) {
    put(Pen::plain, "\n", 1);
    openBlock({kw::light}, name);
    return true;
}

void trvScene_api_file::endLight() {
    endBlock();
}

bool trvScene_api_file::beginAccel(const char* name) {
    openBlock({"\n", kw::accel}, name);
    enterStyle(false);
    return true;
}

void trvScene_api_file::endAccel() {
    closeStyledBlock();
}

bool trvScene_api_file::beginMatrix(const char* name) {
    openBlock({kw::define, " ", kw::matrix}, name);
    return true;
}

void trvScene_api_file::endMatrix() {
    endBlock();
}

bool trvScene_api_file::beginMaterial(const char* name, bool plain) {
    if (!plain) {
        putIndented({"\n", kw::define, " "});
    }
    openBlock({kw::material}, name);
    return true;
}

bool trvScene_api_file::useMaterial(const char* name) {
    putIndented({kw::material, " "});
    quoted(name, Pen::indented);
    put(Pen::plain, "\n", 1);
    return true;
}

void trvScene_api_file::endMaterial() {
    endBlock();
}

// ---- transforms -----------------------------------------------------------------------------

void trvScene_api_file::matrixLine(const char* keyword, const double* m16) {
    if (m16 == nullptr) {
        return;
    }
    char text[trvFormat::kMaxValueText];
    const size_t before = clamped_;
    size_t n =
        trvFormat::spellValue(trvType::matrix, m16, trvFormat::Context::scalar, text, &clamped_);
    noteClamps(before, keyword);
    putIndented({keyword, " ", std::string_view(text, n), "\n"});
}

void trvScene_api_file::vectorLine(const char* keyword, double x, double y, double z) {
    const double v[3] = {x, y, z};
    char text[trvFormat::kMaxValueText];
    const size_t before = clamped_;
    size_t n =
        trvFormat::spellValue(trvType::vec3d, v, trvFormat::Context::scalar, text, &clamped_);
    noteClamps(before, keyword);
    putIndented({keyword, " ", std::string_view(text, n), "\n"});
}

void trvScene_api_file::transform(const double* m16) {
    matrixLine("transform", m16);
}

void trvScene_api_file::setTransform(const double* m16) {
    matrixLine("set transform", m16);
}

void trvScene_api_file::scale(const double& x, const double& y, const double& z) {
    vectorLine("scale", x, y, z);
}

void trvScene_api_file::rotate(const double& x, const double& y, const double& z) {
    vectorLine("rotate", x, y, z);
}

void trvScene_api_file::translate(const double& x, const double& y, const double& z) {
    vectorLine("translate", x, y, z);
}

// ---- shaders --------------------------------------------------------------------------------

void trvScene_api_file::kindWord(int kind, bool trailingBlank) {
    static const char* const words[] = {"surface", "shadow", "volume", "reflection map"};
    if (kind < 0 || kind > 3) {
        put(Pen::indented, "// assuming surface shader\n");
        kind = 0;
    }
    putIndented({words[kind], trailingBlank ? " " : ""});
}

void trvScene_api_file::shader(int kind, trvShaderHandle handle) {
    if (handle == nullptr || !placeable(handle)) {
        return;
    }
    kindWord(kind, true);
    capturedText(handle);
    put(Pen::indented, "\n", 1);
}

void trvScene_api_file::shaderId(int kind, int id) {
    kindWord(kind, false);
    put(Pen::plain, " ", 1);
    putNumber(Pen::plain, id);
    put(Pen::plain, "\n", 1);
}

bool trvScene_api_file::beginShader(const char* name, const char* type) {
    push<uint8_t>(captureFlagStack_, capturing_);
    push(targetStack_, captureTarget_);
    enterStyle(false);
    if (name != nullptr) {
        capturing_ = false;
        putIndented({kw::define, " ", kw::shader, " "});
        quoted(name, Pen::indented);
        put(Pen::plain, " ", 1);
        quoted(type, Pen::indented);
        put(Pen::plain, " {\n");
        ++depth_;
        return true;
    }
    trvCapturedShader* capture = new trvCapturedShader{nullptr, 0, -1, false, false};
    allCaptures_.push_back(capture);
    captureTarget_ = capture;
    capturing_ = true;
    push(depthStack_, depth_);
    depth_ = 0;  // the captured text is indented relative to itself
    quoted(type, Pen::indented);
    put(Pen::plain, " {\n");
    ++depth_;
    return true;
}

bool trvScene_api_file::beginShaderId(const char* type, unsigned id) {
    push<uint8_t>(captureFlagStack_, capturing_);
    push(targetStack_, captureTarget_);
    enterStyle(false);
    capturing_ = false;
    char number[trvFormat::kMaxValueText];
    size_t n = trvFormat::spellInt(static_cast<int>(id), number);
    putIndented({kw::define, " ", kw::shader, " ", std::string_view(number, n), " ", orEmpty(type),
                 " {\n"});
    ++depth_;
    return true;
}

void trvScene_api_file::fitCapture(trvCapturedShader* capture) {
    // Small slack is left: shrinking costs a call for nothing.
    if (capture == nullptr || capture->text == nullptr ||
        capture->capacity - capture->length < 64) {
        return;
    }
    char* text =
        static_cast<char*>(std::realloc(capture->text, static_cast<size_t>(capture->length) + 2));
    if (text != nullptr) {  // a failed shrink keeps the larger buffer, which is as good
        capture->text = text;
        capture->capacity = capture->length;
    }
}

void trvScene_api_file::endShader() {
    --depth_;
    if (capturing_) {
        put(Pen::indented, "}", 1);
        pop(depthStack_, depth_);
        fitCapture(captureTarget_);
    } else {
        put(Pen::indented, "}\n");
    }
    leaveStyle();
    // The saved target is dropped, not restored: the finished capture stays current.
    if (!targetStack_.empty()) {
        targetStack_.pop_back();
    }
    uint8_t flag = capturing_;
    pop(captureFlagStack_, flag);
    capturing_ = flag;
}

trvShaderHandle trvScene_api_file::currentShader() {
    return captureTarget_;
}

void trvScene_api_file::pushShader() {
    push(targetStack_, captureTarget_);
}

void trvScene_api_file::popShader() {
    pop(targetStack_, captureTarget_);
}

// ---- attributes and arrays ------------------------------------------------------------------

bool trvScene_api_file::attribute(const char* name, int type, const void* value) {
    if (directiveStyle_) {
        directiveName(name);
    } else {
        quoted(name, Pen::indented);
        put(Pen::plain, " ", 1);
    }
    const size_t before = clamped_;
    bool ok = this->value(type, value);
    noteClamps(before, name);
    put(Pen::plain, directiveStyle_ ? "\n" : ",\n");
    return ok;
}

bool trvScene_api_file::attributeShaderId(const char* name, unsigned id) {
    quoted(name, Pen::indented);
    put(Pen::plain, " ! ");
    putNumber(Pen::plain, static_cast<int>(id));
    put(Pen::plain, ",\n");
    return true;
}

bool trvScene_api_file::attributeShader(const char* name, trvShaderHandle handle) {
    if (handle == nullptr || !placeable(handle)) {
        return false;  // nothing to refer to: no half-written attribute
    }
    quoted(name, Pen::indented);
    put(Pen::plain, " ! ");
    capturedText(handle);
    put(Pen::indented, ",\n");
    return true;
}

bool trvScene_api_file::beginArray(const char* name) {
    quoted(name, Pen::indented);
    put(Pen::plain, " [\n");
    ++depth_;
    put(Pen::indented, "", 0);
    arrayCount_ = 0;
    packBuffer_.clear();
    arrayName_ = name != nullptr ? name : "(null)";
    return true;
}

void trvScene_api_file::arrayValue(int type, const void* value) {
    if (value == nullptr) {
        return;
    }
    if (packArrays_ &&
        (type == trvType::vec3f || type == trvType::float_ || type == trvType::int_)) {
        const size_t words = type == trvType::vec3f ? 3 : 1;
        const size_t count = packBuffer_.size();
        if (count + words > packBuffer_.capacity()) {
            packBuffer_.reserve(std::max(count + packBuffer_.capacity() + 65536, count + words));
        }
        for (size_t i = 0; i < words; ++i) {
            packBuffer_.push_back(loadAt<uint32_t>(value, i));
        }
        packKind_ = type == trvType::vec3f ? 'c' : (type == trvType::float_ ? 'f' : 'i');
        return;
    }
    // A null string or shader behind the pointer is a caller error: the element is left out.
    if ((type == trvType::string_ref && loadAt<const char*>(value, 0) == nullptr) ||
        (type == trvType::shader_ref && loadAt<trvShaderHandle>(value, 0) == nullptr)) {
        return;
    }
    if (arrayCount_ > 0) {
        const bool lineBreak = type == trvType::vec3f ? arrayCount_ % 2 == 0 : arrayCount_ % 6 == 0;
        if (lineBreak) {
            put(Pen::plain, ",\n");
            put(Pen::indented, "", 0);
        } else {
            put(Pen::plain, ", ");
        }
    }
    const size_t before = clamped_;
    scalarValue(type, value);
    noteClamps(before, arrayName_.c_str());
    ++arrayCount_;
}

void trvScene_api_file::endArray() {
    if (packArrays_ && !packBuffer_.empty()) {
        const size_t words = packBuffer_.size();
        if (words > 0xFFFFFFFFull) {
            failed_ = true;
        } else {
            const size_t before = clamped_;
            clamped_ += trvFormat::clampPacked(packKind_, packBuffer_.data(), words);
            noteClamps(before, arrayName_.c_str());
            packed(packKind_, packBuffer_.data(), static_cast<uint32_t>(words), words * 4);
        }
    }
    packBuffer_.clear();  // emptied, not freed: the next array reuses it
    put(Pen::plain, " ],\n");
    --depth_;
}

// ---- other operations -----------------------------------------------------------------------

void trvScene_api_file::reserved1() {}

bool trvScene_api_file::connect(const char*, unsigned, int) {
    return false;
}

bool trvScene_api_file::disconnect() {
    return false;
}

bool trvScene_api_file::reserved4() {
    return false;
}

int trvScene_api_file::reserved51() {
    return 10;
}

int trvScene_api_file::reserved52() {
    return 10;
}

void* trvScene_api_file::reserved53() {
    return nullptr;
}

void trvScene_api_file::reserved58() {}

bool trvScene_api_file::reserved64() {
    return false;
}

void trvScene_api_file::declareAttribute(const char* name, const char* type) {
    put(Pen::indented, "attribute ");
    quoted(name, Pen::indented);
    put(Pen::plain, " ", 1);
    quoted(type, Pen::indented);
    put(Pen::plain, "\n", 1);
}

void trvScene_api_file::printf(const char* format, ...) {
    if (format == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(formatBuffer_.get(), kWorkBuffer, format, args);
    va_end(args);
    if (n < 0) {
        return;
    }
    put(Pen::indented, formatBuffer_.get(), std::min(static_cast<size_t>(n), kWorkBuffer - 1));
}

void trvScene_api_file::setFlags(int flags) {
    flagsWord_ = static_cast<uint32_t>(flags);
    packArrays_ = (flagsWord_ & trvOutputFlag::pack_arrays) != 0;
}

void trvScene_api_file::version(int version) {
    char number[trvFormat::kMaxValueText];
    size_t n = trvFormat::spellInt(version == -1 ? 8 : version, number);
    putIndented({kw::version, " ", std::string_view(number, n), "\n\n"});
}

void trvScene_api_file::progress(const char* text, float fraction) {
    putIndented({kw::progress, " "});
    quoted(text, Pen::indented);
    char number[trvFormat::kMaxValueText];
    size_t n = trvFormat::spellFixed(fraction, 3, number);
    put(Pen::plain, " ", 1);
    put(Pen::plain, number, n);
    put(Pen::plain, "\n\n");
}

void trvScene_api_file::icon(const void* bytes, int length) {
    put(Pen::indented, "icon ");
    byteBlock(bytes, length);
    put(Pen::indented, "\n", 1);
}

void trvScene_api_file::namedBlock(const char* name, const void* bytes, int length) {
    putIndented({orEmpty(name), " "});
    byteBlock(bytes, length);
    put(Pen::indented, "\n", 1);
}

void trvScene_api_file::id(unsigned value) {
    char number[trvFormat::kMaxValueText];
    size_t n = trvFormat::spellInt(value, number);
    putIndented({"id ", std::string_view(number, n), "\n"});
}

void trvScene_api_file::flags(unsigned value) {
    char number[trvFormat::kMaxValueText];
    size_t n = trvFormat::spellInt(value, number);
    putIndented({"flags ", std::string_view(number, n), "\n"});
}

bool trvScene_api_file::render() {
    put(Pen::indented, "\nrender\n");
    return true;
}

void trvScene_api_file::print(const char* text) {
    putIndented({kw::print, " \"", orEmpty(text)});
    put(Pen::plain, "\"\n");
}

void trvScene_api_file::error(const char* text) {
    putIndented({kw::error, " \"", orEmpty(text)});
    put(Pen::plain, "\"\n");
}
