// The JSON text of a host document below the level of its members (DocumentText.h).
#include "tools/host/DocumentText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace raydeck::hostsim::doctext {

double Scalar::asDouble() const {
    switch (kind) {
        case Kind::Int:
            return static_cast<double>(i);
        case Kind::Uint:
            return static_cast<double>(u);
        default:
            return d;
    }
}

std::string Scalar::spelled() const {
    switch (kind) {
        case Kind::Bool:
            return b ? "true" : "false";
        case Kind::Int:
            return std::to_string(i);
        case Kind::Uint:
            return std::to_string(u);
        case Kind::Float: {
            char buf[32];
            const auto r = std::to_chars(buf, buf + sizeof buf, d);
            std::string out(buf, r.ptr);
            if (out.find_first_of(".e") == std::string::npos) {
                out += ".0";  // still reads as a fraction
            }
            return out;
        }
        case Kind::String: {
            std::string out = "\"";
            for (const char c : *s) {
                if (c == '"' || c == '\\') {
                    out += '\\';
                    out += c;
                } else if (static_cast<unsigned char>(c) < 0x20) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
                    out += esc;
                } else {
                    out += c;
                }
            }
            return out + "\"";
        }
        default:
            return "null";
    }
}

bool parseNumber(const char* b, const char* e, Scalar& out) {
    bool integral = true;
    for (const char* p = b; p != e; ++p) {
        if (*p == '.' || *p == 'e' || *p == 'E') {
            integral = false;
            break;
        }
    }
    if (integral) {
        if (*b == '-') {
            auto r = std::from_chars(b, e, out.i);
            if (r.ec == std::errc() && r.ptr == e) {
                out.kind = Scalar::Kind::Int;
                return true;
            }
        } else {
            auto r = std::from_chars(b, e, out.u);
            if (r.ec == std::errc() && r.ptr == e) {
                out.kind = Scalar::Kind::Uint;
                return true;
            }
        }
    }
    out.kind = Scalar::Kind::Float;
    auto r = std::from_chars(b, e, out.d);
    if (r.ec == std::errc() && r.ptr == e) {
        return true;
    }
    // Out of range: strtod tells an underflow (a tiny value, kept as it rounds) from an overflow.
    const std::string text(b, e);
    out.d = std::strtod(text.c_str(), nullptr);
    return std::isfinite(out.d);
}

void appendKey(std::string& path, std::string_view key) {
    path += '/';
    for (char c : key) {
        if (c == '~') {
            path += "~0";
        } else if (c == '/') {
            path += "~1";
        } else {
            path += c;
        }
    }
}

std::string pathOrRoot(const std::string& p) {
    constexpr size_t kEnds = 80;
    if (p.empty()) {
        return "/";
    }
    if (p.size() <= 3 * kEnds) {
        return p;
    }
    const size_t head = p.rfind('/', kEnds);
    size_t tail = p.find('/', p.size() - kEnds);
    if (tail == std::string::npos) {
        tail = p.size() - kEnds;  // a long last key
    }
    return p.substr(0, head) + "/..." + p.substr(tail);
}

std::string textPosition(std::string_view text, size_t offset) {
    offset = std::min(offset, text.size());
    size_t line = 1, lineStart = 0;
    for (const char* p = text.data();
         (p = static_cast<const char*>(std::memchr(p, '\n', text.data() + offset - p))) != nullptr;
         ++p) {
        ++line;
        lineStart = static_cast<size_t>(p - text.data()) + 1;
    }
    return "at line " + std::to_string(line) + ", column " + std::to_string(offset - lineStart + 1);
}

size_t truncatedUtf8AtEnd(std::string_view text) {
    const size_t n = text.size();
    for (size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto lead = static_cast<unsigned char>(text[n - back]);
        const size_t tails = lead >= 0xF0 && lead <= 0xF4   ? 3
                             : lead >= 0xE0 && lead <= 0xEF ? 2
                             : lead >= 0xC0 && lead <= 0xDF ? 1
                                                            : 0;
        if (tails >= back) {
            return n - back;
        }
    }
    return n;
}

size_t byteOrderMark(std::string_view text, const char*& foreign) {
    struct Mark {
        std::string_view bytes;
        const char* name;  // null: read
    };
    // UTF-32 LE first: its mark begins with UTF-16 LE's.
    static const Mark kMarks[] = {
        {std::string_view("\xEF\xBB\xBF", 3), nullptr},
        {std::string_view("\xFF\xFE\x00\x00", 4), "UTF-32 (little-endian)"},
        {std::string_view("\x00\x00\xFE\xFF", 4), "UTF-32 (big-endian)"},
        {std::string_view("\xFF\xFE", 2), "UTF-16 (little-endian)"},
        {std::string_view("\xFE\xFF", 2), "UTF-16 (big-endian)"},
    };
    foreign = nullptr;
    for (const Mark& m : kMarks) {
        if (text.substr(0, m.bytes.size()) == m.bytes) {
            foreign = m.name;
            return m.bytes.size();
        }
    }
    return 0;
}

namespace {

// Levenshtein distance, one row at a time.
size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

void NearestName::consider(std::string_view candidate) {
    // A misspelt name is short; a very long one needs no exact distance to find no match.
    const size_t d = editDistance(name_.substr(0, 256), candidate);
    if (best_.empty() || d < bestDistance_) {
        best_.assign(candidate);
        bestDistance_ = d;
    }
}

}  // namespace raydeck::hostsim::doctext
