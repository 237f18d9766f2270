// RdkReader: a recursive-descent reader of the scene text. Statements end at a line feed or a
// comma; blocks and captured shaders nest in braces, arrays in brackets; packed array blocks
// are recognised by their 01 02 03 header right after the opening bracket and skipped by length.
// Words, block heads and attribute values are taken apart by RdkLexer, as the stream does.
#include "tools/rdk/RdkReader.h"

#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/utf.h"
#include "tools/host/DocumentLimits.h"
#include "tools/rdk/RdkLexer.h"
#include "trvSceneFormat.h"

namespace rdk {

namespace kw = trvFormat::keyword;

double PackedArray::number(size_t index) const {
    switch (kind) {
        case 'r':
            return r(index);
        case 'i':
            return i(index);
        default:
            return f(index);
    }
}

size_t Value::componentCount() const {
    if (kind == Kind::packed) {
        return packed.count;
    }
    return kind == Kind::array ? numbers.size() : 0;
}

double Value::component(size_t i) const {
    return kind == Kind::packed ? packed.number(i) : numbers[i];
}

uint64_t Value::componentOffset(size_t i) const {
    if (kind == Kind::packed) {
        return packed.offsetOf(i);
    }
    // Text form: the offset of the element that holds component i.
    if (ends.empty()) {
        return offset;
    }
    size_t lo = 0;
    size_t hi = ends.size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (ends[mid] <= i) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo < offsets.size() ? offsets[lo] : offset;
}

size_t Value::elementCount() const {
    if (kind == Kind::packed) {
        return packed.kind == 'c' ? packed.count / 3 : packed.count;
    }
    if (kind != Kind::array) {
        return 0;
    }
    return items.empty() ? ends.size() : items.size();
}

size_t Value::width() const {
    if (kind == Kind::packed) {
        return packed.kind == 'c' ? 3 : 1;
    }
    if (kind != Kind::array || ends.empty() || !items.empty()) {
        return 0;
    }
    size_t w = ends[0];
    for (size_t e = 1; e < ends.size(); ++e) {
        if (ends[e] - ends[e - 1] != w) {
            return 0;
        }
    }
    return w;
}

const Node* Node::attribute(std::string_view attributeName) const {
    for (const Node& child : children) {
        if (child.kind == Kind::attribute && child.name == attributeName) {
            return &child;
        }
    }
    return nullptr;
}

const Node* Node::block(std::string_view keyword) const {
    for (const Node& child : children) {
        if (child.isBlock(keyword)) {
            return &child;
        }
    }
    return nullptr;
}

namespace {

using lex::isDelimiter;
using Part = lex::BasicPart<Value>;

class Parser {
  public:
    Parser(const char* base, size_t size, ReadError& error)
        : base_(base), p_(base), end_(base + size), error_(error) {}

    bool run(Scene& scene) {
        bool headerOpen = true;
        uint64_t close = 0;
        return items(scene.nodes, false, 0, close, &scene.header, &headerOpen);
    }

  private:
    uint64_t at(const char* q) const { return static_cast<uint64_t>(q - base_); }

    bool fail(const char* where, std::string message) {
        return fail(at(where), std::move(message));
    }
    bool fail(uint64_t where, std::string message) {
        error_.offset = where;
        error_.message = std::move(message);
        return false;
    }

    void skipBlanks() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r')) {
            ++p_;
        }
    }
    void skipWhite() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r' || *p_ == '\n')) {
            ++p_;
        }
    }
    const char* lineEnd(const char* from) const {
        const void* lf = std::memchr(from, '\n', static_cast<size_t>(end_ - from));
        return lf ? static_cast<const char*>(lf) : end_;
    }

    // Statements until the closing brace of the block (inBlock) or the end of the file.
    bool items(std::vector<Node>& out, bool inBlock, uint64_t openOffset, uint64_t& closeOffset,
               std::vector<HeaderLine>* header, bool* headerOpen) {
        // Each level costs stack in this reader: refuse nesting that no export produces.
        if (inBlock && ++depth_ > kMaxDepth) {
            return fail(openOffset,
                        "blocks nested deeper than " + std::to_string(kMaxDepth) + " levels");
        }
        struct Leave {
            int& depth;
            bool counted;
            ~Leave() {
                if (counted) {
                    --depth;
                }
            }
        } leave{depth_, inBlock};
        for (;;) {
            skipWhite();
            if (p_ == end_) {
                if (inBlock) {
                    return fail(openOffset, "block not closed at the end of the file");
                }
                return true;
            }
            if (*p_ == '}') {
                if (!inBlock) {
                    return fail(p_, "closing brace without an open block");
                }
                closeOffset = at(p_);
                ++p_;
                return true;
            }
            if (*p_ == ',') {  // the separator after a block used as a value
                ++p_;
                continue;
            }
            if (end_ - p_ >= 2 && p_[0] == '/' && p_[1] == '/') {
                const char* e = lineEnd(p_);
                if (header != nullptr && *headerOpen) {
                    std::string text(p_, e);
                    if (!text.empty() && text.back() == '\r') {
                        text.pop_back();
                    }
                    header->push_back({at(p_), std::move(text)});
                }
                p_ = e;
                continue;
            }
            if (headerOpen != nullptr) {
                *headerOpen = false;
            }
            const size_t before = out.size();
            if (!statement(out)) {
                return false;
            }
            joinModify(out, before);
        }
    }

    // The writer puts "#modify " in front of a camera section whose own text starts with a line
    // feed, so the prefix stands alone on the line before the block it belongs to.
    static void joinModify(std::vector<Node>& out, size_t before) {
        if (before == 0 || out.size() != before + 1 || !out.back().isBlock()) {
            return;
        }
        Node& prefix = out[before - 1];
        if (prefix.isBlock() || prefix.name != kw::modify || !prefix.args.empty() ||
            prefix.value.kind != Value::Kind::none) {
            return;
        }
        Node block = std::move(out.back());
        block.modify = true;
        block.offset = prefix.offset;
        out.pop_back();
        out.back() = std::move(block);
    }

    // "#print" and "#error": the text between the double quotes, verbatim. The text itself may
    // hold double quotes and line feeds, so it ends at the first double quote that ends a line.
    bool printLine(std::vector<Node>& out, size_t keywordLength) {
        Node node;
        node.offset = at(p_);
        node.name.assign(p_, keywordLength);
        const char* b = p_ + keywordLength;
        while (b < end_ && *b == ' ') {
            ++b;
        }
        if (b == end_ || *b != '"') {
            return fail(p_, node.name + " without a text in double quotes");
        }
        const char* close = nullptr;
        for (const char* q = b + 1; q < end_; ++q) {
            if (*q == '"' &&
                (q + 1 == end_ || q[1] == '\n' || (q[1] == '\r' && q + 2 < end_ && q[2] == '\n'))) {
                close = q;
                break;
            }
        }
        if (close == nullptr) {
            return fail(p_, node.name + " text not closed");
        }
        node.value.kind = Value::Kind::text;
        node.value.offset = at(b);
        node.value.text.assign(b + 1, close);
        out.push_back(std::move(node));
        p_ = close + 1;
        return true;
    }

    // A quoted text; `p_` is at the opening double quote.
    bool quoted(std::string& out) {
        const char* b = p_ + 1;
        const char* e = b;
        while (e < end_ && *e != '"' && *e != '\n') {
            ++e;
        }
        if (e == end_ || *e != '"') {
            return fail(p_, "text in double quotes not closed on its line");
        }
        out.assign(b, e);
        p_ = e + 1;
        return true;
    }

    // One part of a statement or of an array element at `p_`, after the caller has handled its
    // own delimiters: a quoted text, a captured shader (its brace; `parts` ends with the shader
    // type, which the captured value replaces) or a word. `noType` is the message for a brace
    // that follows no shader type.
    bool token(std::vector<Part>& parts, bool link, const char* noType, Part& part) {
        if (*p_ == '"') {
            part.type = Part::text;
            part.offset = at(p_);
            return quoted(part.s);
        }
        if (*p_ != '{') {
            return word(part);
        }
        if (parts.empty() || parts.back().type != Part::text) {
            return fail(p_, noType);
        }
        Part type = std::move(parts.back());
        parts.pop_back();
        ++p_;
        part.type = Part::value;
        part.offset = type.offset;
        return capturedShader(type.s, type.offset, link, part.v);
    }

    // A word, a number, a hex text (xX...) or a byte block (bX...); `p_` is at its start.
    bool word(Part& part) {
        const char* b = p_;
        while (p_ < end_ && !isDelimiter(*p_)) {
            ++p_;
        }
        part.offset = at(b);
        if (!lex::wordPart(b, p_, part)) {
            return fail(b, "odd number of hex digits");
        }
        return true;
    }

    // The children of a captured shader whose "{" was just read; `type` names it.
    bool capturedShader(const std::string& type, uint64_t offset, bool link, Value& out) {
        auto node = std::make_shared<Node>();
        node->kind = Node::Kind::block;
        node->name = kw::shader;
        node->captured = true;
        node->offset = offset;
        node->args.push_back(type);
        if (!items(node->children, true, offset, node->endOffset, nullptr, nullptr)) {
            return false;
        }
        out.kind = Value::Kind::shader;
        out.offset = offset;
        out.link = link;
        out.shader = std::move(node);
        return true;
    }

    // An array; `p_` is at "[".
    bool array(Value& out) {
        const char* open = p_;
        out.kind = Value::Kind::array;
        out.offset = at(open);
        ++p_;
        skipWhite();
        if (end_ - p_ >= 3 &&
            std::memcmp(p_, trvFormat::kPackedMagic, sizeof trvFormat::kPackedMagic) == 0) {
            return packed(out);
        }
        std::vector<Part> element;
        bool elementLink = false;
        auto finish = [&]() -> bool {
            if (element.empty()) {
                return true;
            }
            bool numeric = true;
            for (const Part& q : element) {
                numeric = numeric && q.type == Part::number;
            }
            if (numeric) {
                out.offsets.push_back(element[0].offset);
                for (const Part& q : element) {
                    out.numbers.push_back(q.n);
                }
                out.ends.push_back(static_cast<uint32_t>(out.numbers.size()));
            } else if (element.size() == 1) {
                Part& q = element[0];
                Value v;
                if (q.type == Part::value) {
                    v = std::move(q.v);
                } else if (lex::isOnOff(q.s)) {
                    v.kind = Value::Kind::boolean;
                    v.on = q.s == "on";
                } else {
                    v.kind = Value::Kind::text;
                    v.text = q.s;
                }
                v.offset = q.offset;
                out.items.push_back(std::move(v));
            } else {
                return fail(element[0].offset, "array element mixes texts and numbers");
            }
            element.clear();
            elementLink = false;
            return true;
        };
        for (;;) {
            skipWhite();
            if (p_ == end_) {
                return fail(open, "array not closed at the end of the file");
            }
            const char c = *p_;
            if (c == ']') {
                ++p_;
                if (!finish()) {
                    return false;
                }
                break;
            }
            if (c == ',') {
                ++p_;
                if (!finish()) {
                    return false;
                }
                continue;
            }
            if (c == '[') {
                return fail(p_, "array inside an array");
            }
            if (c == '}') {
                return fail(p_, "closing brace inside an array");
            }
            if (linkMark(c, elementLink)) {
                continue;
            }
            Part part;
            if (!token(element, elementLink, "opening brace without a shader type", part)) {
                return false;
            }
            if (element.size() >= kMaxStatementParts) {
                return fail(element[0].offset, "an array element of more than " +
                                                   std::to_string(kMaxStatementParts) + " parts");
            }
            element.push_back(std::move(part));
        }
        if (!out.items.empty() && !out.numbers.empty()) {
            return fail(out.offset, "array mixes texts and numbers");
        }
        return true;
    }

    bool packed(Value& out) {
        const char* header = p_;
        if (end_ - p_ < static_cast<ptrdiff_t>(trvFormat::kPackedHeaderBytes)) {
            return fail(header, "packed block header runs past the end of the file");
        }
        const char kind = p_[3];
        if (!trvFormat::isPackedKind(kind)) {
            return fail(header, "unknown packed block kind " +
                                    lex::hexByte(static_cast<unsigned char>(kind)));
        }
        const uint32_t count =
            trvFormat::packedCount(reinterpret_cast<const unsigned char*>(p_ + 4));
        const uint64_t bytes = trvFormat::packedPayloadBytes(kind, count);
        const char* data = p_ + trvFormat::kPackedHeaderBytes;
        if (bytes > static_cast<uint64_t>(end_ - data)) {
            return fail(header, "packed block of " + std::to_string(count) +
                                    " elements runs past the end of the file");
        }
        out.kind = Value::Kind::packed;
        out.packed.kind = kind;
        out.packed.count = count;
        out.packed.data = reinterpret_cast<const unsigned char*>(data);
        out.packed.dataOffset = at(data);
        p_ = data + bytes;
        skipWhite();
        if (p_ == end_ || *p_ != ']') {
            return fail(p_, "packed block not followed by ']'");
        }
        ++p_;
        return true;
    }

    // A '!' before a token makes it a link: consumed, and `link` set.
    bool linkMark(char c, bool& link) {
        if (c != '!') {
            return false;
        }
        link = true;
        ++p_;
        return true;
    }

    // One statement: an attribute line, or a block with its children.
    bool statement(std::vector<Node>& out) {
        if (const size_t n = trvFormat::verbatimKeywordLength(
                std::string_view(p_, static_cast<size_t>(end_ - p_)))) {
            return printLine(out, n);
        }
        const char* start = p_;
        std::vector<Part> parts;
        bool link = false;
        for (;;) {
            skipBlanks();
            if (p_ == end_) {
                break;
            }
            const char c = *p_;
            if (c == '\n' || c == ',') {
                ++p_;
                break;
            }
            if (c == '}') {
                break;  // the enclosing block ends right after the last statement
            }
            if (c == ']') {
                return fail(p_, "']' without '['");
            }
            if (linkMark(c, link)) {
                continue;
            }
            if (c == '{' && lex::opensBlock(parts)) {
                ++p_;
                return block(out, parts, at(start));
            }
            Part part;
            if (c == '[') {
                part.type = Part::value;
                part.offset = at(p_);
                if (!array(part.v)) {
                    return false;
                }
                part.v.link = link;
            } else if (!token(parts, link, "opening brace without a block keyword or shader type",
                              part)) {
                return false;
            } else if (part.type == Part::number && link) {
                part.type = Part::value;
                part.v.kind = Value::Kind::shaderId;
                part.v.offset = part.offset;
                part.v.numbers.push_back(part.n);
                part.v.link = true;
            }
            if (parts.size() >= kMaxStatementParts) {
                return fail(start, "a statement of more than " +
                                       std::to_string(kMaxStatementParts) + " parts");
            }
            parts.push_back(std::move(part));
        }
        if (!parts.empty()) {
            out.push_back(attributeNode(parts, at(start)));
        }
        return true;
    }

    bool block(std::vector<Node>& out, std::vector<Part>& parts, uint64_t offset) {
        lex::BlockHead head;
        if (!lex::blockHead(parts, head)) {
            return fail(offset, "block without a keyword");
        }
        Node node;
        node.kind = Node::Kind::block;
        node.offset = offset;
        node.define = head.define;
        node.modify = head.modify;
        node.name = std::move(head.name);
        node.args = std::move(head.args);
        if (!items(node.children, true, offset, node.endOffset, nullptr, nullptr)) {
            return false;
        }
        out.push_back(std::move(node));
        return true;
    }

    static Node attributeNode(std::vector<Part>& parts, uint64_t offset) {
        Node node;
        node.offset = offset;
        const size_t value = lex::splitAttribute(parts, node.name, node.args);
        if (value < parts.size()) {
            lex::attributeValue(parts, value, node.value);
        }
        return node;
    }

    // As deep as an export of the deepest host document the simulator loads.
    static constexpr int kMaxDepth =
        raydeck::hostsim::kMaxObjectDepth + raydeck::hostsim::kSceneBlocksBeyondObjects;

    int depth_ = 0;
    const char* base_;
    const char* p_;
    const char* end_;
    ReadError& error_;
};

}  // namespace

bool parseScene(std::shared_ptr<const std::vector<char>> bytes, Scene& scene, ReadError& error) {
    scene = Scene();
    scene.bytes = std::move(bytes);
    scene.size = scene.bytes->size();
    Parser parser(scene.bytes->data(), scene.bytes->size(), error);
    return parser.run(scene);
}

bool parseScene(std::string_view text, Scene& scene, ReadError& error) {
    auto bytes = std::make_shared<std::vector<char>>(text.begin(), text.end());
    return parseScene(std::move(bytes), scene, error);
}

bool readFileBytes(const std::string& path, std::vector<char>& out, std::string& reason) {
    std::u16string wide;
    if (!platform::utf8ToUtf16(path, wide).ok()) {
        reason = "the path is not valid UTF-8";
        return false;
    }
    bool opened = false;
    const platform::Status status = platform::readWholeFile(wide, out, opened, kMaxSceneBytes);
    if (!opened) {
        reason = status.message();
        return false;
    }
    if (!status.ok()) {
        reason = status.message();
        return false;
    }
    return true;
}

bool readScene(const std::string& path, Scene& scene, ReadError& error, bool& readable) {
    auto bytes = std::make_shared<std::vector<char>>();
    std::string reason;
    if (!readFileBytes(path, *bytes, reason)) {
        readable = false;
        error.offset = 0;
        error.message = "cannot read " + path + ": " + reason;
        return false;
    }
    readable = true;
    return parseScene(std::move(bytes), scene, error);
}

bool fileReadable(const std::string& path) {
    std::u16string wide;
    return !path.empty() && platform::utf8ToUtf16(path, wide).ok() &&
           platform::fileOpensForReading(wide);
}

}  // namespace rdk
