// trvSceneFormat: the words of the scene text (block keywords, the statement words the readers
// look for, the light shaders' types), how it spells single values, detects names that need the
// hex form, hex-encodes bytes and lays out the header of a packed array block; and the reading
// half that undoes the last two for the readers of scene text (tools/rdk, tools/live). Pure
// functions over caller buffers: no output, no allocation, no dependence on the process locale.
//
// A new statement of the format touches: its word below (a block keyword also in
// kBlockKeywords), the writer (trvScene_api_file.cpp, and a spelling helper here when it has a
// new kind of value), the readers (tools/rdk/RdkReader.cpp, and tools/live/SceneScanner.cpp when
// it can stand before the first group or is a progress line), the check and summary
// (tools/rdk/RdkCheck.cpp, RdkSummary.cpp), and the golden files under tests/data/sceneapi. A
// new light shader: its type below and in kLightShaders, and the light converter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/hex.h"

namespace trvFormat {

// --- Words

// The words that open a block ("group \"name\" {"), the prefixes that stand before some of
// them, and the statements the readers look for. The writer writes them from here and the
// readers compare with them, so that both halves change together. Each is a literal, so its
// data() ends in a NUL for interfaces that take a C string.
namespace keyword {
constexpr std::string_view group = "group";
constexpr std::string_view object = "object";
constexpr std::string_view geometry = "geometry";
constexpr std::string_view animation = "animation";
constexpr std::string_view load = "load";
constexpr std::string_view options = "options";
constexpr std::string_view camera = "camera";
constexpr std::string_view image = "image";
constexpr std::string_view output = "output";
constexpr std::string_view light = "light";
constexpr std::string_view accel = "accel";
constexpr std::string_view matrix = "matrix";
constexpr std::string_view material = "material";  // also the line that names a material
constexpr std::string_view shader = "shader";

constexpr std::string_view define = "#define";  // a block defined for use by name
constexpr std::string_view modify = "#modify";  // before a camera section that changes one

// Lines whose text is verbatim, and the statements read on their own.
constexpr std::string_view print = "#print";
constexpr std::string_view error = "#error";
constexpr std::string_view comment = "//";
constexpr std::string_view version = "version";
constexpr std::string_view progress = "progress";
}  // namespace keyword

constexpr std::string_view kBlockKeywords[] = {
    keyword::group,   keyword::object, keyword::geometry, keyword::animation, keyword::load,
    keyword::options, keyword::camera, keyword::image,    keyword::output,    keyword::light,
    keyword::accel,   keyword::matrix, keyword::material, keyword::shader};

// True for the keywords that open a block (any other word before a brace names a shader type).
constexpr bool isBlockKeyword(std::string_view word) {
    for (std::string_view k : kBlockKeywords) {
        if (word == k) {
            return true;
        }
    }
    return false;
}

// The length of the verbatim line keyword (#print, #error) that `text` starts with, or 0.
constexpr size_t verbatimKeywordLength(std::string_view text) {
    for (std::string_view k : {keyword::print, keyword::error}) {
        if (text.substr(0, k.size()) == k) {
            return k.size();
        }
    }
    return 0;
}
constexpr size_t kLongestVerbatimKeyword = 6;

// The surface shaders of the light proxies: a point light's and an area light's.
namespace lightShader {
constexpr std::string_view point = "trv_point_light";
constexpr std::string_view mesh = "trv_mesh_light";
}  // namespace lightShader

constexpr std::string_view kLightShaders[] = {lightShader::point, lightShader::mesh};

// True for the shader types of kLightShaders.
constexpr bool isLightShader(std::string_view type) {
    for (std::string_view k : kLightShaders) {
        if (type == k) {
            return true;
        }
    }
    return false;
}

// --- Values

// Room that any single value text needs (the widest is a double of 1e308 with 16 decimals).
constexpr size_t kMaxValueText = 512;

// Value texts differ between an attribute's own value and an element of a text-form array
// (doubles get finite replacement, bools read 0/1, matrices are not narrowed).
enum class Context { scalar, arrayElement };

// Spells the value of numeric type code `type` read from `value` (any alignment) into `out`,
// which must hold kMaxValueText bytes; returns the byte count. Strings, shader references,
// arrays and unassigned codes have no numeric text and give 0. No value is spelled inf or nan:
// float scalars and double array elements outside the open float range read -1; any other NaN
// reads 0 and any other infinity (or double too large for the float it is narrowed to) the
// largest finite value of its sign. Each value so replaced counts in *clamped when given.
size_t spellValue(int type, const void* value, Context context, char* out,
                  size_t* clamped = nullptr);

// The entries of the matrix last spelled as an array element, with their texts.
struct MatrixMemo {
    static constexpr size_t kEntryText = 16;  // the longest "%g" text is 13 bytes
    bool filled = false;
    uint64_t bits[16];
    uint8_t length[16];
    bool clamped[16];
    char text[16][kEntryText] = {};
};

// The text of one matrix as an element of a text-form array, exactly as spellValue spells it;
// an entry with the same bits as the same entry of the memo's matrix reuses its text. The memo
// then holds this matrix. `out` must hold kMaxValueText bytes; bytes past the returned count may
// be overwritten.
size_t spellArrayMatrix(const void* value, MatrixMemo& memo, char* out, size_t* clamped = nullptr);

// True for the type codes that spellValue spells (codes 1-7, 9, 14-18 and 23).
bool hasNumericText(int type);

// The "%g" and "%.<precision>f" texts of a double, printf-exact in the "C" locale; `out`
// must hold kMaxValueText bytes.
size_t spellG(double value, char* out);
size_t spellFixed(double value, int precision, char* out);
size_t spellInt(long long value, char* out);

// Size in bytes of one element of a text-form array of `baseType`; 0 for types that have no
// array form.
size_t elementSize(int baseType);

// True when the name cannot stand between double quotes: it holds a line feed, a carriage
// return, a double quote or a byte of 0x80 and above.
bool needsHexForm(const char* name, size_t length);

// Writes two lowercase hex digits per input byte, high nibble first; returns 2 * length.
size_t hexDigits(const void* bytes, size_t length, char* out);

// Packed array block kind for an attribute array of `baseType`: 'c', 'f', 'r', 'i', or 0 when
// the base type is never packed.
char packedKind(int baseType);

// The first element of a packed block of `kind` ('c', 'f' or 'r') that is an infinity or NaN;
// `words` when there is none (and for the other kinds).
size_t firstNonFinitePacked(char kind, const void* data, size_t words);
// Replaces every infinity and NaN of a packed block in place as the text form spells them: -1
// in 'f' and 'r' blocks; in 'c' blocks NaN 0 and an infinity the largest float of its sign.
// Returns how many it replaced.
size_t clampPacked(char kind, void* data, size_t words);

// The 8-byte header of a packed block: 01 02 03, the kind letter, N as little-endian 32 bits.
void packedHeader(char kind, uint32_t count, unsigned char out[8]);

// --- Reading ---

// The bytes 01 02 03 that open a packed block.
constexpr unsigned char kPackedMagic[3] = {0x01, 0x02, 0x03};
constexpr size_t kPackedHeaderBytes = 8;

// True for the kind letters packedKind gives.
bool isPackedKind(char kind);

// The element count of a packed block from header bytes 4 to 7 (little-endian).
uint32_t packedCount(const unsigned char countBytes[4]);

// Bytes of the data that follows a packed header: 8 per element of kind 'r', 4 otherwise ('c'
// counts floats, not vectors).
uint64_t packedPayloadBytes(char kind, uint32_t count);

// The value of a hex digit of either case; -1 for any other byte.
using platform::hexDigitValue;

}  // namespace trvFormat
