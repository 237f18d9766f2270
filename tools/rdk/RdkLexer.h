// RdkLexer: the words of scene text as both readers (the tree reader and the streaming one) take
// them apart, and how the parts of a statement divide into a block's head or an attribute's
// name, arguments and value. The readers differ only in where the bytes come from and what
// they keep of a value; a rule of the text is written here once.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "tools/rdk/RdkReader.h"
#include "tools/rdk/RdkStream.h"
#include "trvSceneFormat.h"

namespace rdk::lex {

// The bytes that end a word.
inline bool isDelimiter(char c) {
    switch (c) {
        case ' ':
        case '\t':
        case '\r':
        case '\n':
        case ',':
        case '{':
        case '}':
        case '[':
        case ']':
        case '"':
            return true;
        default:
            return false;
    }
}

// The whole of [b, e) as a number (a leading '+' taken, which the writer never writes).
bool parseNumber(const char* b, const char* e, double& out);

// The end of the decimal spelling the writer uses ("-1.5", "2e-05", "0") that starts at `b`,
// read no further than `e`; null when none starts there or it could leave a double's range (more
// than 300 mantissa digits, three exponent digits), which parseNumber decides instead.
inline const char* plainDecimalEnd(const char* b, const char* e) {
    const auto digits = [e](const char* p) {
        while (p < e && static_cast<unsigned char>(*p - '0') < 10) {
            ++p;
        }
        return p;
    };
    const char* p = b < e && (*b == '-' || *b == '+') ? b + 1 : b;
    const char* integer = p;
    p = digits(p);
    size_t mantissa = static_cast<size_t>(p - integer);
    if (p < e && *p == '.') {
        const char* fraction = ++p;
        p = digits(p);
        mantissa += static_cast<size_t>(p - fraction);
    }
    if (mantissa == 0 || mantissa > 300) {
        return nullptr;
    }
    if (p < e && (*p == 'e' || *p == 'E')) {
        ++p;
        p += p < e && (*p == '-' || *p == '+') ? 1 : 0;
        const char* exponent = p;
        p = digits(p);
        if (p == exponent || p - exponent > 2) {
            return nullptr;
        }
    }
    return p;
}

// True when the whole of [b, e) is such a decimal, decided without a conversion; anything else
// (inf, nan, a word, what may overflow) is left to parseNumber.
inline bool isPlainDecimal(const char* b, const char* e) {
    return plainDecimalEnd(b, e) == e;
}

// "0x" and two lowercase hex digits.
std::string hexByte(unsigned char c);

// What a word is: a number, a hex text (xX...), a byte block (bX...), a plain word, or a hex form
// with an odd number of digits (a fault).
enum class WordKind { number, text, bytes, word, oddHexDigits };

// Reads the word [b, e): a number into `number`, the bytes of a hex text or byte block into
// `decoded`.
WordKind readWord(const char* b, const char* e, double& number, std::string& decoded);

// One piece of a statement or of an array element. V holds what a value part carries
// (arrays, shaders, bytes): a Value in the tree, a StreamValue behind a pointer in the stream.
template <typename V>
struct BasicPart {
    enum Type { word, number, text, value };
    Type type = word;
    uint64_t offset = 0;
    std::string s;  // word or text
    double n = 0;
    V v;
};

inline Value& held(Value& v) {
    return v;
}
inline StreamValue& held(std::unique_ptr<StreamValue>& v) {
    return *v;
}
// A value part's value, made empty.
inline Value& fresh(Value& v) {
    v = Value();
    return v;
}
inline StreamValue& fresh(std::unique_ptr<StreamValue>& v) {
    v = std::make_unique<StreamValue>();
    return *v;
}

// Fills `part`, whose offset is set, from the word [b, e); false for a hex form with an odd
// number of digits.
template <typename P>
bool wordPart(const char* b, const char* e, P& part) {
    std::string decoded;
    switch (readWord(b, e, part.n, decoded)) {
        case WordKind::number:
            part.type = P::number;
            return true;
        case WordKind::oddHexDigits:
            return false;
        case WordKind::text:
            part.type = P::text;
            part.s = std::move(decoded);
            return true;
        case WordKind::bytes: {
            part.type = P::value;
            auto& v = fresh(part.v);
            v.kind = Value::Kind::bytes;
            v.offset = part.offset;
            v.text = std::move(decoded);
            return true;
        }
        case WordKind::word:
            break;
    }
    part.type = P::word;
    part.s.assign(b, e);
    return true;
}

// A part as an argument text: a number in its "%g" spelling.
std::string numberText(double n);
template <typename P>
std::string partText(const P& part) {
    return part.type == P::number ? numberText(part.n) : part.s;
}

inline bool isOnOff(const std::string& word) {
    return word == "on" || word == "off";
}

// Whether a brace after these parts opens a block (else it opens a captured shader).
template <typename P>
bool opensBlock(const std::vector<P>& parts) {
    if (parts.empty() || parts[0].type != P::word) {
        return false;
    }
    const std::string& w = parts[0].s;
    return w == trvFormat::keyword::define || w == trvFormat::keyword::modify ||
           trvFormat::isBlockKeyword(w);
}

// A block's head: its prefixes, keyword and the texts after it.
struct BlockHead {
    bool define = false;
    bool modify = false;
    std::string name;
    std::vector<std::string> args;
};

// False when no keyword follows the prefixes.
template <typename P>
bool blockHead(const std::vector<P>& parts, BlockHead& head) {
    size_t i = 0;
    for (; i < parts.size() && parts[i].type == P::word; ++i) {
        if (parts[i].s == trvFormat::keyword::define) {
            head.define = true;
        } else if (parts[i].s == trvFormat::keyword::modify) {
            head.modify = true;
        } else {
            break;
        }
    }
    if (i == parts.size() || parts[i].type != P::word) {
        return false;
    }
    head.name = parts[i++].s;
    for (; i < parts.size(); ++i) {
        head.args.push_back(partText(parts[i]));
    }
    return true;
}

// Splits an attribute statement: sets `name` and `args`, and gives the index where its value
// starts (parts.size() when it has none). A quoted first part is the name; directive lines name
// the attribute verbatim, blanks included: every leading word up to the first value ("visible
// to the eye on"). The value is the trailing run of numbers, or else the last part; texts
// before it are the arguments.
template <typename P>
size_t splitAttribute(const std::vector<P>& parts, std::string& name,
                      std::vector<std::string>& args) {
    const size_t n = parts.size();
    size_t i = 0;
    if (parts[0].type == P::text) {
        name = parts[0].s;
        i = 1;
    } else {
        for (; i < n && parts[i].type == P::word; ++i) {
            if (i == n - 1 && i > 0 && isOnOff(parts[i].s)) {
                break;
            }
            if (!name.empty()) {
                name += ' ';
            }
            name += parts[i].s;
        }
    }
    if (i == n) {
        return n;
    }
    size_t valueStart = n - 1;
    if (parts[n - 1].type == P::number) {
        while (valueStart > i && parts[valueStart - 1].type == P::number) {
            --valueStart;
        }
    }
    for (size_t a = i; a < valueStart; ++a) {
        args.push_back(partText(parts[a]));
    }
    return valueStart;
}

// The value of an attribute whose value starts at parts[from] (from < parts.size()); the last
// part is moved from. The stream keeps the first kKeptNumbers numbers and counts them all.
template <typename P, typename V>
void attributeValue(std::vector<P>& parts, size_t from, V& v) {
    const size_t n = parts.size();
    P& last = parts[n - 1];
    if (last.type == P::number) {
        v.kind = Value::Kind::numbers;
        v.offset = parts[from].offset;
        size_t keep = n - from;
        if constexpr (std::is_same_v<V, StreamValue>) {
            keep = std::min(keep, StreamValue::kKeptNumbers);
            v.numberCount = n - from;
        }
        for (size_t k = from; k < from + keep; ++k) {
            v.numbers.push_back(parts[k].n);
        }
    } else if (last.type == P::value) {
        v = std::move(held(last.v));
    } else if (last.type == P::word && isOnOff(last.s)) {
        v.kind = Value::Kind::boolean;
        v.on = last.s == "on";
        v.offset = last.offset;
    } else {
        v.kind = Value::Kind::text;
        v.text = std::move(last.s);
        v.offset = last.offset;
    }
}

}  // namespace rdk::lex
