// RdkReader: reads a scene text file into a tree of blocks and attributes with typed values.
// Every node and value keeps the byte offset in the file where it starts, so that tools can
// point at the place of a fault. Packed arrays are spans into the file's bytes, which the
// Scene owns; nothing is copied out of them.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace rdk {

struct Node;

// A packed array block: the kind letter and the raw little-endian elements in the file.
struct PackedArray {
    char kind = 0;                        // 'c' float triples, 'f' floats, 'r' doubles, 'i' int32
    uint32_t count = 0;                   // words ('c', 'f', 'i') or doubles ('r')
    const unsigned char* data = nullptr;  // first element, inside the Scene's bytes
    uint64_t dataOffset = 0;              // file offset of the first element

    size_t elementBytes() const { return kind == 'r' ? 8 : 4; }
    float f(size_t i) const { return load<float>(i); }
    int32_t i(size_t i) const { return load<int32_t>(i); }
    double r(size_t i) const { return load<double>(i); }
    // Element i as a double, whatever the kind.
    double number(size_t i) const;
    uint64_t offsetOf(size_t i) const { return dataOffset + i * elementBytes(); }

  private:
    template <typename T>
    T load(size_t index) const {
        T v;
        std::memcpy(&v, data + index * sizeof(T), sizeof(T));
        return v;
    }
};

// The value of an attribute or an element of a text-form array.
struct Value {
    enum class Kind {
        none,      // no value (a keyword alone, such as "render")
        numbers,   // one to sixteen numbers: "0.5", "0 1.5 -10", a matrix
        boolean,   // on / off
        text,      // a quoted or hex-encoded text
        bytes,     // a byte block (bX...)
        array,     // a text-form array: elements in `numbers` (all numeric) or `items`
        packed,    // a packed array block
        shader,    // a captured shader: `shader` holds its block
        shaderId,  // "! <id>": a reference to a shader defined by number
    };

    Kind kind = Kind::none;
    uint64_t offset = 0;
    std::vector<double> numbers;    // numbers; array: every numeric component in order
    std::vector<uint32_t> ends;     // array of numbers: one past each element's last component
    std::vector<Value> items;       // array of non-numeric elements (texts, on/off, shaders)
    std::vector<uint64_t> offsets;  // array of numbers: file offset of each element
    std::string text;               // text, or the decoded bytes
    bool on = false;
    PackedArray packed;
    std::shared_ptr<Node> shader;
    bool link = false;  // the value followed a "!" (a shader connected to a parameter)

    bool isNumbers() const { return kind == Kind::numbers; }
    double number(size_t i = 0) const { return i < numbers.size() ? numbers[i] : 0.0; }

    // Arrays (text or packed) as flat sequences of numbers, so that callers need not care which
    // form the writer chose. For 'c' blocks and text arrays of triples a "component" is one
    // float; elementCount() counts the elements as written (triples, matrices, ...).
    bool isArray() const { return kind == Kind::array || kind == Kind::packed; }
    size_t componentCount() const;
    double component(size_t i) const;
    uint64_t componentOffset(size_t i) const;
    size_t elementCount() const;
    // Components per element when every element has the same number of them; 0 otherwise or
    // when there are no elements. A 'c' block has width 3.
    size_t width() const;
};

// A block ("group", "object", "geometry", "material", "camera", a captured shader ...) or an
// attribute line ("transform", "flags", "\"vertices\" [ ... ]", "visible to the eye on").
struct Node {
    enum class Kind { block, attribute };

    Kind kind = Kind::attribute;
    uint64_t offset = 0;
    // Block: the keyword ("group", "shader", ...); a captured shader is a block named "shader"
    // with `captured` set. Attribute: its name ("transform", "vertices", "#print").
    std::string name;
    bool define = false;  // written with "#define"
    bool modify = false;  // written with "#modify"
    bool captured = false;
    // Block: the texts after the keyword (group name; animation type and name; shader type).
    // Attribute: texts before the value ("progress \"Cube\" 1.000" holds "Cube").
    std::vector<std::string> args;
    Value value;
    std::vector<Node> children;
    uint64_t endOffset = 0;  // block: offset of its closing brace

    bool isBlock() const { return kind == Kind::block; }
    bool isBlock(std::string_view keyword) const { return isBlock() && name == keyword; }
    std::string arg(size_t i) const { return i < args.size() ? args[i] : std::string(); }
    // The first attribute child with this name, or null.
    const Node* attribute(std::string_view attributeName) const;
    // The first block child with this keyword, or null.
    const Node* block(std::string_view keyword) const;
};

// A leading comment line ("//---tarvik:dal:7---").
struct HeaderLine {
    uint64_t offset = 0;
    std::string text;  // without the line feed
};

// The longest word, text or printed line the readers take, and the most parts in a statement or
// array element: beyond these a statement is refused, so that one statement cannot take memory
// without bound.
constexpr size_t kMaxWordBytes = 16u << 20;
constexpr size_t kMaxStatementParts = 4096;

// The largest scene the in-memory reader takes (the preview holds it whole).
constexpr uint64_t kMaxSceneBytes = uint64_t{4} << 30;

struct ReadError {
    uint64_t offset = 0;
    std::string message;
};

class Scene {
  public:
    Scene() = default;
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;
    Scene(Scene&&) = default;
    Scene& operator=(Scene&&) = default;

    std::vector<HeaderLine> header;  // the comment lines before the first statement
    std::vector<Node> nodes;         // top-level statements in file order
    uint64_t size = 0;               // bytes in the file

    // Keeps the bytes that packed arrays point into.
    std::shared_ptr<const std::vector<char>> bytes;
};

// Parses scene text held in `bytes` (kept by the scene). False with `error` set on the first
// fault: an unterminated text, an unbalanced brace, a packed block that runs past the end.
bool parseScene(std::shared_ptr<const std::vector<char>> bytes, Scene& scene, ReadError& error);
bool parseScene(std::string_view text, Scene& scene, ReadError& error);

// Reads the whole file (UTF-8 path) and parses it. A file that cannot be read gives false with
// `readable` false; a parse fault gives false with `readable` true.
bool readScene(const std::string& path, Scene& scene, ReadError& error, bool& readable);

// Reads a whole file into memory; false when it cannot be opened or read, or holds more than
// kMaxSceneBytes.
bool readFileBytes(const std::string& path, std::vector<char>& out, std::string& reason);

// True when a file at the UTF-8 path can be opened for reading (`\` counts as a separator).
bool fileReadable(const std::string& path);

}  // namespace rdk
