// Which reader a host file goes to, decided by its content; the same in every build, whether or
// not it can read model files.
#include "tools/host/HostFile.h"

#include "rapidjson/encodedstream.h"
#include "rapidjson/memorystream.h"
#include "rapidjson/reader.h"

namespace raydeck::hostsim {

namespace {

// Reads only as far as the top-level keys decide; everything else is skipped as it streams by.
class TopLevelKeys : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, TopLevelKeys> {
  public:
    enum class Seen { Nothing, Format, Asset };
    Seen seen = Seen::Nothing;
    bool objectStarted = false;

    bool Default() { return true; }
    bool StartObject() {
        if (depth_ == 0) {
            objectStarted = true;
        }
        ++depth_;
        return true;
    }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        const std::string k(text, length);
        if (depth_ == 1 && (k == "format" || k == "asset")) {
            seen = k == "format" ? Seen::Format : Seen::Asset;
            return false;  // decided: stop reading
        }
        return true;
    }
    bool EndObject(rapidjson::SizeType) {
        --depth_;
        return true;
    }
    bool StartArray() {
        ++depth_;
        return true;
    }
    bool EndArray(rapidjson::SizeType) {
        --depth_;
        return true;
    }

  private:
    int depth_ = 0;
};

}  // namespace

FileKind classifyFileContent(const std::string& content) {
    if (jsonInAnotherEncoding(content) != nullptr) {
        return FileKind::JsonOrModel;  // JSON in another encoding, which the loader names
    }
    TopLevelKeys keys;
    rapidjson::MemoryStream bytes(content.data(), content.size());
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> in(bytes);  // BOM
    rapidjson::Reader reader;
    const rapidjson::ParseResult parsed =
        reader.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseCommentsFlag |
                     rapidjson::kParseValidateEncodingFlag>(in, keys);
    if (keys.seen == TopLevelKeys::Seen::Format) {
        return FileKind::HostDocument;
    }
    if (keys.seen == TopLevelKeys::Seen::Asset) {
        return FileKind::Model;
    }
    // The reader takes a NUL byte for the end of the text; in JSON it is an error wherever it is.
    const bool parseFailed = !parsed || content.find('\0') != std::string::npos;
    if (!parseFailed) {
        return FileKind::HostDocument;  // JSON, but not glTF: the loader names what is missing
    }
    return keys.objectStarted ? FileKind::JsonOrModel : FileKind::Model;
}

std::unique_ptr<SimDocument> loadHostFile(const std::string& path, std::string& error,
                                          std::vector<std::string>& warnings,
                                          const ImportBounds& bounds) {
    std::string content;
    if (!readDocumentFile(path, content, error)) {
        return nullptr;
    }
    std::string fileName, folder;
    switch (classifyFileContent(content)) {
        case FileKind::HostDocument:
            documentNameAndFolder(path, fileName, folder);
            return loadDocumentText(content, fileName, folder, error, path);
        case FileKind::Model:
            return importModelBounded(path, bounds, error, warnings);
        case FileKind::JsonOrModel: {
            std::string modelError;
            std::vector<std::string> modelWarnings;
            auto doc = importModelBounded(path, bounds, modelError, modelWarnings);
            if (doc) {
                warnings.insert(warnings.end(), modelWarnings.begin(), modelWarnings.end());
                return doc;
            }
            documentNameAndFolder(path, fileName, folder);
            return loadDocumentText(content, fileName, folder, error, path);
        }
    }
    return nullptr;
}

}  // namespace raydeck::hostsim
