// The JSON text of a host document below the level of its members: scalar values as the reader
// sees them, JSON paths as messages spell them, positions in the text, byte-order marks, and the
// nearest known member name for a misspelt one. Shared by the document reader and the sniffing
// of file content; internal to tools/host.
#ifndef RAYDECK_TOOLS_HOST_DOCUMENTTEXT_H
#define RAYDECK_TOOLS_HOST_DOCUMENTTEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace raydeck::hostsim::doctext {

// One scalar value of the text.
struct Scalar {
    enum class Kind { Null, Bool, Int, Uint, Float, String };
    Kind kind = Kind::Null;
    bool b = false;
    int64_t i = 0;
    uint64_t u = 0;
    double d = 0.0;
    const std::string* s = nullptr;

    bool isNumber() const { return kind == Kind::Int || kind == Kind::Uint || kind == Kind::Float; }
    double asDouble() const;
    // As JSON spells it (numbers in the shortest form that reads back).
    std::string spelled() const;
};

// A JSON number's text as the kind and value it stands for: a non-negative integer, a negative
// one, else (a fraction, an exponent, an integer beyond 64 bits) the nearest double. False when
// it is beyond every double.
bool parseNumber(const char* b, const char* e, Scalar& out);

// Appends "/key" to a JSON pointer, with '~' and '/' escaped.
void appendKey(std::string& path, std::string_view key);

// A path as messages show it: "/" for the root; the middle of a very deep one left out.
std::string pathOrRoot(const std::string& path);

// "at line L, column C" of a byte offset.
std::string textPosition(std::string_view text, size_t offset);

// Where a multi-byte UTF-8 sequence starts that the end of `text` cuts off; text.size() when none
// does. The JSON library validates such a sequence by taking all of its continuation bytes, and
// so would read past the text's terminating NUL.
size_t truncatedUtf8AtEnd(std::string_view text);

// The byte-order mark at the start of `text`: its length (3 for UTF-8, 0 for none) and, for a
// mark of an encoding the reader does not take (UTF-16, UTF-32), its name in `foreign`.
size_t byteOrderMark(std::string_view text, const char*& foreign);

// The candidate closest to `name` by edit distance (the first of equals); "" without candidates.
class NearestName {
  public:
    explicit NearestName(std::string_view name) : name_(name) {}
    void consider(std::string_view candidate);
    const std::string& best() const { return best_; }

  private:
    std::string_view name_;
    std::string best_;
    size_t bestDistance_ = 0;
};

}  // namespace raydeck::hostsim::doctext

#endif
