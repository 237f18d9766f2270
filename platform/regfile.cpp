// Reading a `.reg` text: its lines (UTF-16LE or UTF-8), sections, value lines and data kinds,
// and reading a key's values back with the checks Windows makes (type, buffer size).
#include "platform/regfile.h"

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "platform/hex.h"
#include "platform/utf.h"

namespace platform {
namespace regfile {
namespace {

// Windows value types that matter here.
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegMultiSz = 7;

std::string foldAscii(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

std::string trim(const std::string& s) {
    const char* blanks = " \t\r\n";
    const std::size_t b = s.find_first_not_of(blanks);
    if (b == std::string::npos) {
        return std::string();
    }
    const std::size_t e = s.find_last_not_of(blanks);
    return s.substr(b, e - b + 1);
}

// `\`-separated path with empty components dropped, folded for comparison.
std::string normalKeyPath(const std::string& path) {
    std::string out;
    std::string part;
    auto flush = [&]() {
        if (!part.empty()) {
            if (!out.empty()) {
                out += '\\';
            }
            out += part;
            part.clear();
        }
    };
    for (char c : path) {
        if (c == '\\') {
            flush();
        } else {
            part += c;
        }
    }
    flush();
    return foldAscii(out);
}

// Splits "HKEY_CURRENT_USER\Software\X" into root and path; false for other roots.
bool splitRoot(const std::string& full, RegistryRoot& root, std::string& path) {
    const std::size_t sep = full.find('\\');
    const std::string head = foldAscii(sep == std::string::npos ? full : full.substr(0, sep));
    if (head == "hkey_current_user" || head == "hkcu") {
        root = RegistryRoot::current_user;
    } else if (head == "hkey_local_machine" || head == "hklm") {
        root = RegistryRoot::local_machine;
    } else {
        return false;
    }
    path = normalKeyPath(sep == std::string::npos ? std::string() : full.substr(sep + 1));
    return true;
}

std::vector<std::uint8_t> utf16Bytes(const std::u16string& s, bool withNul) {
    std::vector<std::uint8_t> out;
    out.reserve((s.size() + 1) * 2);
    for (char16_t u : s) {
        out.push_back(static_cast<std::uint8_t>(u & 0xFF));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    if (withNul) {
        out.push_back(0);
        out.push_back(0);
    }
    return out;
}

// A quoted text starting at s[pos] == '"' with the escapes \\ and \". On success `pos` is just
// past the closing quote.
bool parseQuoted(const std::string& s, std::size_t& pos, std::string& out) {
    out.clear();
    if (pos >= s.size() || s[pos] != '"') {
        return false;
    }
    for (std::size_t i = pos + 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out += s[i + 1];
            ++i;
        } else if (c == '"') {
            pos = i + 1;
            return true;
        } else {
            out += c;
        }
    }
    return false;
}

// "00,4a,ff" (blanks and line continuations already reduced to blanks) into bytes.
bool parseHexBytes(const std::string& s, std::vector<std::uint8_t>& out) {
    out.clear();
    std::string item;
    auto take = [&]() {
        const std::string t = trim(item);
        item.clear();
        if (t.size() == 1 || t.size() == 2) {
            int v = 0;
            for (char c : t) {
                const int d = hexDigitValue(c);
                if (d < 0) {
                    return false;
                }
                v = v * 16 + d;
            }
            out.push_back(static_cast<std::uint8_t>(v));
            return true;
        }
        return false;
    };
    if (trim(s).empty()) {
        return true;
    }
    for (char c : s) {
        if (c == ',') {
            if (!take()) {
                return false;
            }
        } else {
            item += c;
        }
    }
    return take();
}

// REGEDIT4 stores the string kinds of hex(n) data as 8-bit text; version 5.00 as UTF-16LE.
bool hexStringToUtf16(const std::vector<std::uint8_t>& bytes, std::vector<std::uint8_t>& out) {
    std::string text(bytes.begin(), bytes.end());
    std::u16string wide;
    // Keep embedded NULs (multi-strings): convert each piece on its own.
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\0', start);
        const bool last = end == std::string::npos;
        if (last) {
            end = text.size();
        }
        std::u16string piece;
        if (!utf8ToUtf16(text.substr(start, end - start), piece).ok()) {
            return false;
        }
        wide += piece;
        if (last) {
            break;
        }
        wide += u'\0';
        start = end + 1;
    }
    out = utf16Bytes(wide, false);
    return true;
}

// The data after `=`: "text", dword:xxxxxxxx, hex:.., hex(n):.. or - (delete). `erase` is set
// for the last.
bool parseData(const std::string& raw, bool unicodeFile, Value& value, bool& erase) {
    const std::string d = trim(raw);
    erase = false;
    if (d == "-") {
        erase = true;
        return true;
    }
    if (!d.empty() && d[0] == '"') {
        std::size_t pos = 0;
        std::string text;
        if (!parseQuoted(d, pos, text) || !trim(d.substr(pos)).empty()) {
            return false;
        }
        std::u16string wide;
        if (!utf8ToUtf16(text, wide).ok()) {
            return false;
        }
        value.type = kRegSz;
        value.data = utf16Bytes(wide, true);
        return true;
    }
    const std::string lower = foldAscii(d);
    if (lower.compare(0, 6, "dword:") == 0) {
        const std::string digits = trim(d.substr(6));
        if (digits.empty() || digits.size() > 8) {
            return false;
        }
        std::uint32_t v = 0;
        for (char c : digits) {
            const int h = hexDigitValue(c);
            if (h < 0) {
                return false;
            }
            v = (v << 4) | static_cast<std::uint32_t>(h);
        }
        value.type = kRegDword;
        value.data = {static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>(v >> 8),
                      static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
        return true;
    }
    if (lower.compare(0, 3, "hex") != 0) {
        return false;
    }
    std::size_t pos = 3;
    std::uint32_t type = kRegBinary;
    if (pos < lower.size() && lower[pos] == '(') {
        const std::size_t close = lower.find(')', pos);
        if (close == std::string::npos || close == pos + 1 || close - pos > 9) {
            return false;
        }
        type = 0;
        for (std::size_t i = pos + 1; i < close; ++i) {
            const int h = hexDigitValue(lower[i]);
            if (h < 0) {
                return false;
            }
            type = (type << 4) | static_cast<std::uint32_t>(h);
        }
        pos = close + 1;
    }
    if (pos >= lower.size() || lower[pos] != ':') {
        return false;
    }
    std::vector<std::uint8_t> bytes;
    if (!parseHexBytes(d.substr(pos + 1), bytes)) {
        return false;
    }
    const bool stringKind = type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
    if (stringKind && !unicodeFile) {
        if (!hexStringToUtf16(bytes, bytes)) {
            return false;
        }
    }
    value.type = type;
    value.data = std::move(bytes);
    return true;
}

// A key with every parent up to the root.
void createKey(Keys& keys, RegistryRoot root, const std::string& path) {
    std::size_t sep = 0;
    keys[{root, std::string()}];
    while ((sep = path.find('\\', sep)) != std::string::npos) {
        keys[{root, path.substr(0, sep)}];
        ++sep;
    }
    keys[{root, path}];
}

// A key and every key below it; a key whose name merely starts with the same text stays.
void deleteKey(Keys& keys, RegistryRoot root, const std::string& path) {
    for (auto it = keys.begin(); it != keys.end();) {
        const std::string& p = it->first.second;
        const bool match =
            it->first.first == root &&
            (p == path || (p.size() > path.size() && p.compare(0, path.size(), path) == 0 &&
                           p[path.size()] == '\\'));
        it = match ? keys.erase(it) : std::next(it);
    }
}

// The file as lines of UTF-8 text; false when it is not a registry file at all.
bool fileLines(const std::string& bytes, std::vector<std::string>& lines, bool& unicodeFile) {
    lines.clear();
    std::string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        // UTF-16LE: split into lines first so that one bad line does not lose the file.
        std::u16string line;
        auto flush = [&]() {
            std::string utf8;
            // An unconvertible line becomes one that the parser skips.
            lines.push_back(utf16ToUtf8(line, utf8).ok() ? utf8 : std::string("\x01"));
            line.clear();
        };
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            const char16_t u =
                static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
            if (u == u'\n') {
                flush();
            } else if (u != u'\r') {
                line += u;
            }
        }
        flush();
    } else {
        std::size_t start = 0;
        if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            start = 3;
        }
        std::string line;
        for (std::size_t i = start; i < bytes.size(); ++i) {
            if (bytes[i] == '\n') {
                lines.push_back(line);
                line.clear();
            } else if (bytes[i] != '\r') {
                line += bytes[i];
            }
        }
        lines.push_back(line);
    }
    // The first line that is not blank names the format.
    for (std::string& l : lines) {
        const std::string t = trim(l);
        if (t.empty()) {
            continue;
        }
        if (t == "REGEDIT4") {
            unicodeFile = false;
        } else if (t == "Windows Registry Editor Version 5.00") {
            unicodeFile = true;
        } else {
            return false;
        }
        l.clear();
        return true;
    }
    return false;
}

// One value line: "name"=data or @=data.
void applyValueLine(const std::string& line, bool unicodeFile, Values& values) {
    std::string name;
    std::size_t pos = 0;
    if (line[0] == '@') {
        pos = 1;
    } else if (!parseQuoted(line, pos, name)) {
        return;
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) {
        ++pos;
    }
    if (pos >= line.size() || line[pos] != '=') {
        return;
    }
    Value value;
    bool erase = false;
    if (!parseData(line.substr(pos + 1), unicodeFile, value, erase)) {
        return;
    }
    if (erase) {
        values.erase(foldAscii(name));
    } else {
        values[foldAscii(name)] = std::move(value);
    }
}

Status missing(const char* what) {
    return Status(StatusCode::not_found, ENOENT, what);
}

const Value* findValue(const Values& values, const std::u16string& name, Status& st) {
    std::string utf8;
    if (!utf16ToUtf8(name, utf8).ok()) {
        st = Status(StatusCode::invalid_argument, EINVAL, "value name is not valid UTF-16");
        return nullptr;
    }
    const auto it = values.find(foldAscii(utf8));
    if (it == values.end()) {
        st = missing("registry value not found");
        return nullptr;
    }
    return &it->second;
}

}  // namespace

Keys parse(const std::string& text) {
    Keys keys;
    std::vector<std::string> lines;
    bool unicodeFile = false;
    if (!fileLines(text, lines, unicodeFile)) {
        return keys;
    }
    Values* current = nullptr;  // the section's key; null in a deletion or foreign section
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string line = trim(lines[i]);
        if (line.empty() || line[0] == ';') {
            continue;
        }
        if (line[0] == '[') {
            current = nullptr;
            if (line.back() != ']') {
                continue;
            }
            std::string inner = line.substr(1, line.size() - 2);
            const bool deletion = !inner.empty() && inner[0] == '-';
            if (deletion) {
                inner.erase(0, 1);
            }
            RegistryRoot root = RegistryRoot::current_user;
            std::string path;
            if (!splitRoot(trim(inner), root, path)) {
                continue;
            }
            if (deletion) {
                deleteKey(keys, root, path);
            } else {
                createKey(keys, root, path);
                current = &keys[{root, path}];
            }
            continue;
        }
        // Hex lists go on over lines that end in `\` (a text value always ends in a quote).
        while (line.back() == '\\' && i + 1 < lines.size()) {
            line.pop_back();
            line += ' ';
            line += trim(lines[++i]);
        }
        if (current != nullptr) {
            applyValueLine(line, unicodeFile, *current);
        }
    }
    return keys;
}

Status findKey(const Keys& keys, RegistryRoot root, const std::u16string& path,
               const Values*& out) {
    out = nullptr;
    std::string utf8;
    if (!utf16ToUtf8(path, utf8).ok()) {
        return Status(StatusCode::invalid_argument, EINVAL, "key path is not valid UTF-16");
    }
    const auto it = keys.find({root, normalKeyPath(utf8)});
    if (it == keys.end()) {
        return missing("registry key not found");
    }
    out = &it->second;
    return Status::success();
}

Status readString(const Values& key, const std::u16string& name, std::size_t bufferBytes,
                  std::u16string& out) {
    out.clear();
    Status st;
    const Value* v = findValue(key, name, st);
    if (v == nullptr) {
        return st;
    }
    if (v->type != kRegSz && v->type != kRegExpandSz) {
        return Status(StatusCode::invalid_argument, EINVAL, "registry value is not text");
    }
    std::u16string text;
    for (std::size_t i = 0; i + 1 < v->data.size(); i += 2) {
        const char16_t u = static_cast<char16_t>(v->data[i] | (v->data[i + 1] << 8));
        if (u == 0) {
            break;
        }
        text += u;
    }
    // Windows needs room for the data as stored; the caller also needs room for a NUL when the
    // stored data lacks one.
    const std::size_t stored = (v->data.size() + 1) / 2 * 2;
    const std::size_t needed = std::max(stored, (text.size() + 1) * 2);
    if (needed > bufferBytes) {
        return Status(StatusCode::io_error, ERANGE, "registry value does not fit the buffer");
    }
    out = std::move(text);
    return Status::success();
}

Status readDword(const Values& key, const std::u16string& name, std::uint32_t& out) {
    Status st;
    const Value* v = findValue(key, name, st);
    if (v == nullptr) {
        return st;
    }
    if (v->type != kRegDword || v->data.size() != 4) {
        return Status(StatusCode::invalid_argument, EINVAL, "registry value is not a dword");
    }
    out = static_cast<std::uint32_t>(v->data[0]) | (static_cast<std::uint32_t>(v->data[1]) << 8) |
          (static_cast<std::uint32_t>(v->data[2]) << 16) |
          (static_cast<std::uint32_t>(v->data[3]) << 24);
    return Status::success();
}

}  // namespace regfile
}  // namespace platform
