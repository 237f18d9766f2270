// RdkStream: the same grammar as RdkReader's tree reader (words, block heads and attribute values
// taken apart by the same RdkLexer), driven by a loop over a stack of open constructs (blocks,
// statements, text arrays) instead of by recursion, over a window of the text that slides as it
// is consumed.
#include "tools/rdk/RdkStream.h"

#include <cmath>
#include <cstring>
#include <memory>

#include "platform/file.h"
#include "platform/utf.h"
#include "tools/host/DocumentLimits.h"
#include "tools/rdk/RdkLexer.h"
#include "trvSceneFormat.h"

namespace rdk {

namespace kw = trvFormat::keyword;

size_t MemorySource::read(char* buffer, size_t size) {
    const size_t n = std::min(size, bytes_.size());
    std::memcpy(buffer, bytes_.data(), n);
    bytes_.remove_prefix(n);
    return n;
}

size_t FileSource::read(char* buffer, size_t size) {
    return file_ == nullptr ? 0 : std::fread(buffer, 1, size, file_);
}

bool openSceneFile(const std::string& path, std::FILE*& file, std::string& reason) {
    file = nullptr;
    std::u16string wide;
    if (!platform::utf8ToUtf16(path, wide).ok()) {
        reason = "the path is not valid UTF-8";
        return false;
    }
    if (!platform::fileOpensForReading(wide)) {
        // Also refuses a folder, which fopen would open on POSIX.
        const platform::Status opened = platform::openFile(wide, u"rb", file);
        if (file != nullptr) {
            std::fclose(file);
            file = nullptr;
        }
        reason = opened.ok() ? std::string(std::strerror(EISDIR)) : opened.message();
        return false;
    }
    const platform::Status opened = platform::openFile(wide, u"rb", file);
    if (!opened.ok()) {
        reason = opened.message();
        return false;
    }
    return true;
}

namespace {

constexpr size_t kChunk = 1u << 20;

using lex::hexByte;
using lex::isDelimiter;
using lex::isPlainDecimal;
// Value parts only carry a value: most parts are words and numbers.
using Part = lex::BasicPart<std::unique_ptr<StreamValue>>;

// Adds one component to an array's marks.
void markNumber(ArrayInfo& a, uint64_t i, double x, uint64_t offset) {
    auto mark = [&](ArrayMark& m) {
        if (!m.found) {
            m = ArrayMark{true, i, offset, x};
        }
    };
    if (!std::isfinite(x)) {
        mark(a.nonFinite);
    }
    if (x != std::floor(x) || std::fabs(x) > 2147483647.0) {
        mark(a.nonInteger);
    }
    if (x < 0) {
        mark(a.negative);
    }
    if (a.limit >= 0 && (x < 0 || x >= static_cast<double>(a.limit))) {
        mark(a.outside);
    }
    if (!a.maximum.found || x > a.maximum.value) {
        if (!std::isnan(x)) {
            a.maximum = ArrayMark{true, i, offset, x};
        }
    }
    a.sum += std::isfinite(x) ? std::trunc(x) : 0.0;
}

class Streamer {
  public:
    Streamer(ByteSource& source, SceneEvents& events, ReadError& error)
        : source_(source), events_(events), error_(error), numbers_(events.wantsNumbers()) {
        buffer_.resize(kChunk);
    }

    bool run() {
        frames_.push_back(Frame{});
        frames_.back().kind = Frame::block;
        frames_.back().top = true;
        while (!frames_.empty()) {
            bool ok = false;
            switch (frames_.back().kind) {
                case Frame::block:
                    ok = stepBlock();
                    break;
                case Frame::statement:
                    ok = stepStatement();
                    break;
                case Frame::array:
                    ok = stepArray();
                    break;
            }
            if (!ok) {
                return false;
            }
        }
        if (source_.failed()) {
            return fail(offset(), "read error");
        }
        events_.end(offset());
        return true;
    }

  private:
    // An open construct.
    struct Frame {
        enum Kind { block, statement, array };
        Kind kind = block;
        // block
        bool top = false;
        bool headerOpen = true;
        uint64_t openOffset = 0;
        bool captured = false;
        bool capturedLink = false;
        std::string shaderType;
        // statement: its parts; array: the parts of the element being read, its numbers counted
        // into `value`
        uint64_t start = 0;
        std::vector<Part> parts;
        bool link = false;
        // array
        std::unique_ptr<StreamValue> value;
        uint64_t elementOffset = 0;
        uint32_t elementNumbers = 0;
        bool elementHasNumbers = false;
        bool widthSet = false;
    };

    // ---- the window over the text

    uint64_t offset() const { return base_ + pos_; }

    // Makes at least `need` bytes from pos_ available when the text has them; false at its end.
    bool fill(size_t need) {
        if (len_ - pos_ >= need) {
            return true;
        }
        if (pos_ > 0) {
            std::memmove(buffer_.data(), buffer_.data() + pos_, len_ - pos_);
            len_ -= pos_;
            base_ += pos_;
            pos_ = 0;
        }
        if (need > buffer_.size()) {
            buffer_.resize(std::max(need, buffer_.size() * 2));
        }
        while (len_ < need && !eof_) {
            const size_t n = source_.read(buffer_.data() + len_, buffer_.size() - len_);
            if (n == 0) {
                eof_ = true;
            }
            len_ += n;
        }
        return len_ - pos_ >= need;
    }

    // The byte `i` past the current one, or -1 past the end.
    int at(size_t i) {
        if (pos_ + i < len_ || fill(i + 1)) {
            return static_cast<unsigned char>(buffer_[pos_ + i]);
        }
        return -1;
    }
    const char* here() const { return buffer_.data() + pos_; }
    void advance(size_t n) { pos_ += n; }

    bool fail(uint64_t where, std::string message) {
        error_.offset = where;
        error_.message = std::move(message);
        return false;
    }

    // Blanks (and line feeds with `lines`), scanned in the window without a call per byte.
    void skip(bool lines) {
        for (;;) {
            while (pos_ < len_) {
                const char c = buffer_[pos_];
                if (c != ' ' && c != '\t' && c != '\r' && (c != '\n' || !lines)) {
                    return;
                }
                ++pos_;
            }
            if (!fill(1)) {
                return;
            }
        }
    }
    void skipBlanks() { skip(false); }
    void skipWhite() { skip(true); }

    // Length of the run before the first delimiter (or the end), within kMaxWordBytes.
    bool runLength(size_t& n) {
        n = 0;
        for (;;) {
            while (pos_ + n < len_ && !isDelimiter(buffer_[pos_ + n])) {
                ++n;
            }
            if (n > kMaxWordBytes) {
                return fail(offset(),
                            "a word longer than " + std::to_string(kMaxWordBytes >> 20) + " MiB");
            }
            if (pos_ + n < len_ || !fill(n + 1)) {
                return true;
            }
        }
    }

    // ---- blocks

    bool openBlock(Frame frame) {
        if (++depth_ > kMaxDepth) {
            return fail(frame.openOffset,
                        "blocks nested deeper than " + std::to_string(kMaxDepth) + " levels");
        }
        frames_.push_back(std::move(frame));
        return true;
    }

    bool stepBlock() {
        Frame& f = frames_.back();
        skipWhite();
        const int c = at(0);
        if (c < 0) {
            if (!f.top) {
                return fail(f.openOffset, "block not closed at the end of the file");
            }
            frames_.pop_back();
            return true;
        }
        if (c == '}') {
            if (f.top) {
                return fail(offset(), "closing brace without an open block");
            }
            const uint64_t close = offset();
            advance(1);
            return closeBlock(close);
        }
        if (c == ',') {
            advance(1);
            return true;
        }
        if (c == '/' && at(1) == '/') {
            return comment(f);
        }
        f.headerOpen = false;
        if (at(0) == '#') {
            fill(trvFormat::kLongestVerbatimKeyword);
            if (const size_t n =
                    trvFormat::verbatimKeywordLength(std::string_view(here(), len_ - pos_))) {
                return printLine(n);
            }
        }
        Frame statement;
        statement.kind = Frame::statement;
        statement.start = offset();
        frames_.push_back(std::move(statement));
        return true;
    }

    bool closeBlock(uint64_t close) {
        Frame done = std::move(frames_.back());
        frames_.pop_back();
        --depth_;
        events_.blockEnd(close);
        if (!done.captured) {
            return true;
        }
        // A captured shader is a value of the statement or array element it stands in.
        Part part;
        part.type = Part::value;
        part.offset = done.openOffset;
        part.v = std::make_unique<StreamValue>();
        part.v->kind = Value::Kind::shader;
        part.v->offset = done.openOffset;
        part.v->link = done.capturedLink;
        part.v->shaderType = std::move(done.shaderType);
        return addPart(frames_.back(), std::move(part));
    }

    bool comment(Frame& f) {
        const uint64_t start = offset();
        size_t n = 0;
        for (int c; (c = at(n)) >= 0 && c != '\n';) {
            if (++n > kMaxWordBytes) {
                return fail(start, "a comment line longer than " +
                                       std::to_string(kMaxWordBytes >> 20) + " MiB");
            }
        }
        if (f.top && f.headerOpen) {
            std::string text(here(), n);
            if (!text.empty() && text.back() == '\r') {
                text.pop_back();
            }
            events_.headerLine(start, text);
        }
        advance(n);
        return true;
    }

    // "#print" and "#error": the text between the double quotes, to the first double quote that
    // ends a line.
    bool printLine(size_t keywordLength) {
        Attribute a;
        a.offset = offset();
        a.name.assign(here(), keywordLength);
        size_t b = keywordLength;
        while (at(b) == ' ') {
            ++b;
        }
        if (at(b) != '"') {
            return fail(a.offset, a.name + " without a text in double quotes");
        }
        size_t close = 0;
        for (size_t q = b + 1;; ++q) {
            const int c = at(q);
            if (c < 0 || q - b > kMaxWordBytes) {
                return fail(a.offset, a.name + " text not closed");
            }
            if (c == '"') {
                const int next = at(q + 1);
                if (next < 0 || next == '\n' || (next == '\r' && at(q + 2) == '\n')) {
                    close = q;
                    break;
                }
            }
        }
        a.value.kind = Value::Kind::text;
        a.value.offset = a.offset + b;
        a.value.text.assign(here() + b + 1, close - b - 1);
        advance(close + 1);
        events_.attribute(a);
        return true;
    }

    // ---- statements

    bool addPart(Frame& f, Part part) {
        if (f.kind == Frame::array) {
            return elementPart(f, std::move(part));
        }
        if (f.parts.size() >= kMaxStatementParts) {
            return fail(f.start, "a statement of more than " + std::to_string(kMaxStatementParts) +
                                     " parts");
        }
        f.parts.push_back(std::move(part));
        return true;
    }

    bool stepStatement() {
        Frame& f = frames_.back();
        skipBlanks();
        const int c = at(0);
        if (c < 0 || c == '}') {
            return endStatement();
        }
        if (c == '\n' || c == ',') {
            advance(1);
            return endStatement();
        }
        if (c == ']') {
            return fail(offset(), "']' without '['");
        }
        if (c == '!') {
            f.link = true;
            advance(1);
            return true;
        }
        if (c == '{' && lex::opensBlock(f.parts)) {
            advance(1);
            return startBlock();
        }
        if (c == '[') {
            return startArray();
        }
        return token(f, f.link, "opening brace without a block keyword or shader type");
    }

    bool startBlock() {
        Frame statement = std::move(frames_.back());
        frames_.pop_back();
        BlockStart b;
        b.offset = statement.start;
        lex::BlockHead head;
        if (!lex::blockHead(statement.parts, head)) {
            return fail(b.offset, "block without a keyword");
        }
        b.define = head.define;
        b.modify = head.modify;
        b.name = std::move(head.name);
        b.args = std::move(head.args);
        Frame block;
        block.kind = Frame::block;
        block.openOffset = b.offset;
        if (!openBlock(std::move(block))) {
            return false;
        }
        events_.blockStart(b);
        return true;
    }

    // A quoted text, a captured shader or a word, into the statement or array element `f`.
    bool token(Frame& f, bool link, const char* noType) {
        const int c = at(0);
        if (c == '"') {
            Part part;
            part.type = Part::text;
            part.offset = offset();
            if (!quoted(part.s)) {
                return false;
            }
            return addPart(f, std::move(part));
        }
        if (c == '{') {
            if (f.parts.empty() || f.parts.back().type != Part::text) {
                return fail(offset(), noType);
            }
            Part type = std::move(f.parts.back());
            f.parts.pop_back();
            advance(1);
            BlockStart b;
            b.offset = type.offset;
            b.name = kw::shader;
            b.captured = true;
            b.args.push_back(type.s);
            b.inArray = f.kind == Frame::array;
            if (f.kind == Frame::statement) {
                b.valueOf = attributeName(f.parts);
            }
            Frame block;
            block.kind = Frame::block;
            block.openOffset = type.offset;
            block.captured = true;
            block.capturedLink = link;
            block.shaderType = type.s;
            if (!openBlock(std::move(block))) {
                return false;
            }
            events_.blockStart(b);
            return true;
        }
        Part part;
        // Numbers in arrays count only through their marks: without marks their value is not
        // needed, only that they are numbers.
        if (!word(part, numbers_ || f.kind == Frame::statement)) {
            return false;
        }
        if (part.type == Part::number && link && f.kind == Frame::statement) {
            part.type = Part::value;
            part.v = std::make_unique<StreamValue>();
            part.v->kind = Value::Kind::shaderId;
            part.v->offset = part.offset;
            part.v->numbers.push_back(part.n);
            part.v->numberCount = 1;
            part.v->link = true;
        }
        return addPart(f, std::move(part));
    }

    bool quoted(std::string& out) {
        const uint64_t start = offset();
        size_t e = 1;
        for (int c; (c = at(e)) >= 0 && c != '"' && c != '\n';) {
            if (++e > kMaxWordBytes) {
                return fail(start,
                            "a text longer than " + std::to_string(kMaxWordBytes >> 20) + " MiB");
            }
        }
        if (at(e) != '"') {
            return fail(start, "text in double quotes not closed on its line");
        }
        out.assign(here() + 1, e - 1);
        advance(e + 1);
        return true;
    }

    bool word(Part& part, bool value) {
        size_t n = 0;
        if (!runLength(n)) {
            return false;
        }
        const char* b = here();
        const char* e = b + n;
        part.offset = offset();
        for (const char* q = b; q < e; ++q) {
            // Scene text holds control bytes only inside texts: anything else is no scene.
            if (static_cast<unsigned char>(*q) < 0x20) {
                return fail(part.offset + static_cast<uint64_t>(q - b),
                            "byte " + hexByte(static_cast<unsigned char>(*q)) + " outside a text");
            }
        }
        advance(n);
        if (!value && isPlainDecimal(b, e)) {
            part.type = Part::number;
            return true;
        }
        if (!lex::wordPart(b, e, part)) {
            return fail(part.offset, "odd number of hex digits");
        }
        return true;
    }

    // The attribute name that the parts read so far give.
    static std::string attributeName(const std::vector<Part>& parts) {
        if (parts.empty()) {
            return std::string();
        }
        if (parts[0].type == Part::text) {
            return parts[0].s;
        }
        std::string name;
        for (const Part& p : parts) {
            if (p.type != Part::word) {
                break;
            }
            if (!name.empty()) {
                name += ' ';
            }
            name += p.s;
        }
        return name;
    }

    bool endStatement() {
        Frame statement = std::move(frames_.back());
        frames_.pop_back();
        std::vector<Part>& parts = statement.parts;
        if (parts.empty()) {
            return true;
        }
        Attribute a;
        a.offset = statement.start;
        const size_t value = lex::splitAttribute(parts, a.name, a.args);
        if (value < parts.size()) {
            lex::attributeValue(parts, value, a.value);
        }
        events_.attribute(a);
        return true;
    }

    // ---- arrays

    bool startArray() {
        Frame& statement = frames_.back();
        const uint64_t open = offset();
        auto value = std::make_unique<StreamValue>();
        value->kind = Value::Kind::array;
        value->offset = open;
        value->link = statement.link;
        if (numbers_) {
            value->array.limit = events_.indexLimit(attributeName(statement.parts));
        }
        advance(1);
        skipWhite();
        if (at(0) == trvFormat::kPackedMagic[0] && at(1) == trvFormat::kPackedMagic[1] &&
            at(2) == trvFormat::kPackedMagic[2]) {
            if (!packed(*value)) {
                return false;
            }
            Part part;
            part.type = Part::value;
            part.offset = open;
            part.v = std::move(value);
            return addPart(statement, std::move(part));
        }
        Frame array;
        array.kind = Frame::array;
        array.start = open;
        array.value = std::move(value);
        frames_.push_back(std::move(array));
        return true;
    }

    // Without marks, the plain numbers of an array only need counting: counted here, in the
    // window, without a part for each. Stops (consuming nothing more) at anything else, and at
    // a number that the window cuts, for the general path to take. One pass over each number,
    // through local pointers: the long animations are megabytes of nothing but these, and the
    // export's summary line reads them all.
    bool countNumbers(Frame& f) {
        if (numbers_ || !f.parts.empty()) {
            return true;
        }
        ArrayInfo& a = f.value->array;
        const char* const start = buffer_.data();
        const char* const end = start + len_;
        const char* p = start + pos_;
        // The element's count is kept here and handed back at each comma and at the end.
        uint32_t numbers = f.elementNumbers;
        uint64_t counted = 0;
        const auto handBack = [&] {
            f.elementNumbers = numbers;
            a.components += counted;
            counted = 0;
            pos_ = static_cast<size_t>(p - start);
        };
        while (p < end) {
            const char c = *p;
            if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
                ++p;
                continue;
            }
            if (c == ',') {
                ++p;
                handBack();
                if (!finishElement(f)) {
                    return false;
                }
                numbers = 0;
                continue;
            }
            // A plain decimal that a delimiter ends (a number the window cuts is left to the
            // general path); the one-digit numbers that most of a matrix is go the short way.
            const char* q = p + 1;
            if (!(static_cast<unsigned char>(c - '0') < 10 && q < end && isDelimiter(*q))) {
                q = lex::plainDecimalEnd(p, end);
                if (q == nullptr || q == end || !isDelimiter(*q)) {
                    break;
                }
            }
            if (numbers == 0 && !f.elementHasNumbers) {
                f.elementOffset = base_ + static_cast<uint64_t>(p - start);
                f.elementHasNumbers = true;
            }
            ++numbers;
            ++counted;
            p = q;
        }
        handBack();
        return true;
    }

    bool stepArray() {
        Frame& f = frames_.back();
        if (!countNumbers(f)) {
            return false;
        }
        skipWhite();
        const int c = at(0);
        if (c < 0) {
            return fail(f.start, "array not closed at the end of the file");
        }
        if (c == ']') {
            advance(1);
            if (!finishElement(f)) {
                return false;
            }
            ArrayInfo& a = f.value->array;
            if (a.items > 0 && a.components > 0) {
                return fail(f.start, "array mixes texts and numbers");
            }
            Part part;
            part.type = Part::value;
            part.offset = f.start;
            part.v = std::move(f.value);
            frames_.pop_back();
            return addPart(frames_.back(), std::move(part));
        }
        if (c == ',') {
            advance(1);
            return finishElement(f);
        }
        if (c == '[') {
            return fail(offset(), "array inside an array");
        }
        if (c == '}') {
            return fail(offset(), "closing brace inside an array");
        }
        if (c == '!') {
            f.link = true;
            advance(1);
            return true;
        }
        return token(f, f.link, "opening brace without a shader type");
    }

    // A part of the array element being read: numbers are counted at once, other parts wait for
    // the element's end.
    bool elementPart(Frame& f, Part part) {
        if (!f.elementHasNumbers && f.parts.empty()) {
            f.elementOffset = part.offset;
        }
        if (part.type == Part::number) {
            ArrayInfo& a = f.value->array;
            if (numbers_) {
                markNumber(a, a.components, part.n, f.elementOffset);
            }
            ++a.components;
            ++f.elementNumbers;
            f.elementHasNumbers = true;
            return true;
        }
        if (f.parts.size() >= kMaxStatementParts) {
            return fail(f.elementOffset, "an array element of more than " +
                                             std::to_string(kMaxStatementParts) + " parts");
        }
        f.parts.push_back(std::move(part));
        return true;
    }

    bool finishElement(Frame& f) {
        ArrayInfo& a = f.value->array;
        if (f.parts.empty() && !f.elementHasNumbers) {
            return true;
        }
        if (f.parts.empty()) {
            if (!f.widthSet) {
                a.width = f.elementNumbers;
                f.widthSet = true;
            } else if (a.width != f.elementNumbers) {
                a.width = 0;
            }
        } else if (!f.elementHasNumbers && f.parts.size() == 1) {
            ++a.items;
        } else {
            return fail(f.elementOffset, "array element mixes texts and numbers");
        }
        ++a.elements;
        f.parts.clear();
        f.elementNumbers = 0;
        f.elementHasNumbers = false;
        f.link = false;
        if (a.items > 0) {
            a.width = 0;
        }
        return true;
    }

    bool packed(StreamValue& out) {
        const uint64_t header = offset();
        if (!fill(trvFormat::kPackedHeaderBytes)) {
            return fail(header, "packed block header runs past the end of the file");
        }
        const char kind = here()[3];
        if (!trvFormat::isPackedKind(kind)) {
            return fail(header,
                        "unknown packed block kind " + hexByte(static_cast<unsigned char>(kind)));
        }
        const uint32_t count =
            trvFormat::packedCount(reinterpret_cast<const unsigned char*>(here() + 4));
        const uint64_t bytes = trvFormat::packedPayloadBytes(kind, count);
        advance(trvFormat::kPackedHeaderBytes);
        ArrayInfo& a = out.array;
        out.kind = Value::Kind::packed;
        a.packed = true;
        a.kind = kind;
        a.components = count;
        a.elements = kind == 'c' ? count / 3 : count;
        a.width = kind == 'c' ? 3 : 1;
        a.dataOffset = offset();
        const size_t size = kind == 'r' ? 8 : 4;
        uint64_t left = bytes;
        uint64_t index = 0;
        while (left > 0) {
            if (!fill(static_cast<size_t>(std::min<uint64_t>(left, size))) &&
                len_ - pos_ < std::min<uint64_t>(left, size)) {
                return fail(header, "packed block of " + std::to_string(count) +
                                        " elements runs past the end of the file");
            }
            size_t take = static_cast<size_t>(std::min<uint64_t>(left, len_ - pos_));
            if (numbers_) {
                take -= take % size;
                const char* p = here();
                for (size_t k = 0; k < take; k += size, ++index) {
                    double x = 0;
                    if (kind == 'r') {
                        std::memcpy(&x, p + k, 8);
                    } else if (kind == 'i') {
                        int32_t v;
                        std::memcpy(&v, p + k, 4);
                        x = v;
                    } else {
                        float v;
                        std::memcpy(&v, p + k, 4);
                        x = v;
                    }
                    markNumber(a, index, x, a.dataOffset + index * size);
                }
            }
            advance(take);
            left -= take;
        }
        skipWhite();
        if (at(0) != ']') {
            return fail(offset(), "packed block not followed by ']'");
        }
        advance(1);
        return true;
    }

    static constexpr int kMaxDepth =
        raydeck::hostsim::kMaxObjectDepth + raydeck::hostsim::kSceneBlocksBeyondObjects;

    ByteSource& source_;
    SceneEvents& events_;
    ReadError& error_;
    const bool numbers_;
    std::vector<char> buffer_;
    size_t pos_ = 0;
    size_t len_ = 0;
    uint64_t base_ = 0;
    bool eof_ = false;
    int depth_ = 0;
    std::vector<Frame> frames_;
};

}  // namespace

bool streamScene(ByteSource& source, SceneEvents& events, ReadError& error) {
    Streamer streamer(source, events, error);
    return streamer.run();
}

}  // namespace rdk
