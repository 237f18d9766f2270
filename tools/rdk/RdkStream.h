// RdkStream: reads scene text in chunks and reports each statement as it is read, so that the
// check and the summary hold one statement at a time instead of the whole scene. Memory stays
// within the chunk, the open blocks and the longest word; packed arrays and text arrays pass by
// as counts and a few marks (the first element that is not finite, not an integer, negative,
// outside a limit). The reader keeps its open blocks on a stack of its own, not on the call
// stack, so a deep scene needs no deep stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/rdk/RdkReader.h"

namespace rdk {

// Where the bytes come from.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Up to `size` bytes into `buffer`; 0 at the end, or after a failure (then failed()).
    virtual size_t read(char* buffer, size_t size) = 0;
    virtual bool failed() const { return false; }
};

class MemorySource : public ByteSource {
  public:
    explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
    size_t read(char* buffer, size_t size) override;

  private:
    std::string_view bytes_;
};

// Reads an open stream from where it stands; the caller keeps and closes it.
class FileSource : public ByteSource {
  public:
    explicit FileSource(std::FILE* file) : file_(file) {}
    size_t read(char* buffer, size_t size) override;
    bool failed() const override { return file_ == nullptr || std::ferror(file_) != 0; }

  private:
    std::FILE* file_;
};

// One place in an array that a check may point at.
struct ArrayMark {
    bool found = false;
    uint64_t index = 0;   // the component
    uint64_t offset = 0;  // packed: the element's bytes; text: the element that holds it
    double value = 0;
};

// An array as it streamed past.
struct ArrayInfo {
    bool packed = false;
    char kind = 0;            // packed: 'c', 'f', 'r' or 'i'
    uint64_t dataOffset = 0;  // packed: the first element
    uint64_t components = 0;  // numbers (text), or the block's count (packed)
    uint64_t elements = 0;    // elements as written, numeric or not; 'c' blocks: triples
    uint64_t items = 0;       // text elements that are not numbers (texts, on/off, shaders)
    uint32_t width = 0;       // components per element when all agree, else 0
    // Filled only when the reader's events want numbers.
    ArrayMark nonFinite;   // first component that is not finite
    ArrayMark nonInteger;  // first one that is no integer in the int32 range
    ArrayMark negative;    // first one below 0
    ArrayMark outside;     // first one below 0 or at or past `limit`
    ArrayMark maximum;     // first place of the largest
    int64_t limit = -1;    // what `outside` was measured against; -1 none
    double sum = 0;        // of all components
};

// The value of an attribute: Value's kinds, with arrays as ArrayInfo and shaders by type.
struct StreamValue {
    static constexpr size_t kKeptNumbers = 16;

    Value::Kind kind = Value::Kind::none;
    uint64_t offset = 0;
    std::vector<double> numbers;  // the first kKeptNumbers
    size_t numberCount = 0;       // all of them
    std::string text;
    bool on = false;
    bool link = false;
    ArrayInfo array;         // array and packed
    std::string shaderType;  // shader

    bool isNumbers() const { return kind == Value::Kind::numbers; }
    bool isArray() const { return kind == Value::Kind::array || kind == Value::Kind::packed; }
    double number(size_t i = 0) const { return i < numbers.size() ? numbers[i] : 0.0; }
};

// An attribute line, reported when it ends (after any shader captured in it).
struct Attribute {
    uint64_t offset = 0;
    std::string name;
    std::vector<std::string> args;
    StreamValue value;
};

// A block, reported when its brace opens; its attributes and inner blocks follow, then its end.
struct BlockStart {
    uint64_t offset = 0;
    std::string name;  // "shader" for a captured shader
    std::vector<std::string> args;
    bool define = false;
    bool modify = false;
    bool captured = false;
    bool inArray = false;  // a captured shader that is an element of an array
    std::string valueOf;   // a captured shader: the name of the attribute it is the value of
};

class SceneEvents {
  public:
    virtual ~SceneEvents() = default;
    // A comment line before the first statement.
    virtual void headerLine(uint64_t /*offset*/, const std::string& /*text*/) {}
    virtual void blockStart(const BlockStart& /*block*/) {}
    virtual void blockEnd(uint64_t /*closeOffset*/) {}
    virtual void attribute(const Attribute& /*attribute*/) {}
    // The end of the text, after every block closed.
    virtual void end(uint64_t /*size*/) {}
    // Whether arrays' marks are wanted (they cost a look at every element).
    virtual bool wantsNumbers() const { return false; }
    // For an array that starts under `name`: the limit its `outside` mark is measured against,
    // or -1.
    virtual int64_t indexLimit(const std::string& /*name*/) { return -1; }
};

// Reads the scene text from `source` to its end, reporting to `events`. False with `error` set
// on the first fault, as parseScene reports it; a failed read is a fault at the offset reached.
bool streamScene(ByteSource& source, SceneEvents& events, ReadError& error);

// Opens the file at the UTF-8 path for streamScene; false with `reason` when it cannot.
bool openSceneFile(const std::string& path, std::FILE*& file, std::string& reason);

}  // namespace rdk
