// Host document files: their bytes, and their text checked and handed to the reader
// (DocumentParser.h).
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "platform/file.h"
#include "platform/utf.h"
#include "rapidjson/error/en.h"
#include "rapidjson/reader.h"
#include "tools/host/DocumentParser.h"
#include "tools/host/SimDocument.h"

namespace raydeck::hostsim {

namespace {

using doctext::textPosition;

// Comments as the format allows; numbers as their text, converted as the C library would; text
// checked to be UTF-8.
constexpr unsigned kParseFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseCommentsFlag |
                                 rapidjson::kParseNumbersAsStringsFlag |
                                 rapidjson::kParseValidateEncodingFlag;

// Why `text` (a document's text after its byte-order mark) cannot be handed to the JSON library,
// or "": a NUL byte, which the library would take for the end, or a UTF-8 sequence cut off by
// the end, which it would read past.
std::string unsafeText(std::string_view text) {
    if (const void* nul = std::memchr(text.data(), '\0', text.size())) {
        const size_t at = static_cast<size_t>(static_cast<const char*>(nul) - text.data());
        return "not JSON: a NUL byte " + textPosition(text, at);
    }
    if (const size_t cut = doctext::truncatedUtf8AtEnd(text); cut != text.size()) {
        return "not JSON: a UTF-8 sequence cut off by the end of the text " +
               textPosition(text, cut);
    }
    return {};
}

// The first fault of the text, or "" for a good document read into `doc`.
std::string readText(const std::string& whole, SimDocument& doc) {
    const char* foreign = nullptr;
    const size_t mark = doctext::byteOrderMark(whole, foreign);
    if (foreign != nullptr) {
        return std::string("not JSON: the text starts with the byte-order mark of ") + foreign +
               "; save the document as UTF-8";
    }
    // A UTF-8 mark is read as nothing; positions count from after it, as editors show them.
    const std::string_view text = std::string_view(whole).substr(mark);
    if (std::string fault = unsafeText(text); !fault.empty()) {
        return fault;
    }
    docread::Reader reader(doc, text.size());
    rapidjson::Reader json;
    rapidjson::StringStream in(whole.c_str() + mark);
    const rapidjson::ParseResult r = json.Parse<kParseFlags>(in, reader);
    if (r.Code() == rapidjson::kParseErrorNumberTooBig) {
        reader.refuse("number out of range of a double " + textPosition(text, r.Offset()));
    } else if (r.IsError() && !reader.stopped()) {
        reader.syntaxError(std::string(rapidjson::GetParseError_En(r.Code())) + " " +
                           textPosition(text, r.Offset()));
    }
    return reader.finish();
}

}  // namespace

const char* foreignByteOrderMark(const std::string& text) {
    const char* foreign = nullptr;
    doctext::byteOrderMark(text, foreign);
    return foreign;
}

const char* jsonInAnotherEncoding(const std::string& text) {
    const char* foreign = nullptr;
    const size_t mark = doctext::byteOrderMark(text, foreign);
    if (foreign == nullptr) {
        return nullptr;
    }
    // UTF-16 marks are two bytes long, UTF-32 marks four; big-endian ones start with 0xFE or 0.
    const size_t unit = mark;
    const bool bigEndian = text[0] != '\xFF';
    for (size_t at = mark; at + unit <= text.size(); at += unit) {
        uint32_t c = 0;
        for (size_t i = 0; i < unit; ++i) {
            const auto byte = static_cast<unsigned char>(text[at + (bigEndian ? i : unit - 1 - i)]);
            c = (c << 8) | byte;
        }
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
            return c == '{' ? foreign : nullptr;
        }
    }
    return nullptr;
}

std::unique_ptr<SimDocument> loadDocumentText(const std::string& text, const std::string& fileName,
                                              const std::string& folder, std::string& error,
                                              const std::string& errorName) {
    const std::string name =
        errorName.empty() ? (fileName.empty() ? "document" : fileName) : errorName;
    auto doc = std::make_unique<SimDocument>();
    doc->fileName = fileName;
    doc->folder = folder;
    std::string fault;
    try {
        fault = readText(text, *doc);
    } catch (const std::exception& e) {
        fault = std::string("cannot load the document: ") + e.what();
    }
    if (!fault.empty()) {
        error = name + ": " + fault;
        return nullptr;
    }
    doc->evaluate();
    return doc;
}

bool readDocumentFile(const std::string& path, std::string& content, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(std::filesystem::u8path(path), ec)) {
        error = path + ": is a folder, not a document file";
        return false;
    }
    // By its UTF-16 name, so that names outside the ANSI code page open on Windows too.
    std::u16string wide;
    bool opened = false;
    std::string why = std::strerror(EINVAL);
    bool read = false;
    if (platform::utf8ToUtf16(path, wide).ok()) {
        const platform::Status status =
            platform::readWholeFile(wide, content, opened, kMaxDocumentBytes);
        read = status.ok();
        why = status.message();
    }
    if (!read) {
        error = path +
                (opened ? ": cannot read the document file" : ": cannot open the document file") +
                (why.empty() ? std::string() : ": " + why);
        return false;
    }
    if (content.empty()) {
        error = path + ": the document file is empty";
        return false;
    }
    return true;
}

void documentNameAndFolder(const std::string& path, std::string& fileName, std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path full = fs::absolute(fs::u8path(path), ec);
    if (ec) {
        full = fs::u8path(path);
    }
    full = full.lexically_normal();
    fileName = full.filename().u8string();
    folder = full.parent_path().u8string();
}

std::unique_ptr<SimDocument> loadDocumentFile(const std::string& path, std::string& error) {
    std::string text;
    if (!readDocumentFile(path, text, error)) {
        return nullptr;
    }
    std::string fileName, folder;
    documentNameAndFolder(path, fileName, folder);
    return loadDocumentText(text, fileName, folder, error, path);
}

}  // namespace raydeck::hostsim
