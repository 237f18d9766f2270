// Which reader a host file goes to, decided by its content; the same in every build, whether or
// not it can read model files.
#include <nlohmann/json.hpp>

#include "tools/host/ModelImport.h"

namespace raydeck::hostsim {

namespace {

// Reads only as far as the top-level keys decide; everything else is skipped as it streams by.
class TopLevelKeys : public nlohmann::json_sax<nlohmann::json> {
  public:
    enum class Seen { Nothing, Format, Asset };
    Seen seen = Seen::Nothing;
    bool objectStarted = false;
    bool parseFailed = false;

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override {
        if (depth_ == 0) {
            objectStarted = true;
        }
        ++depth_;
        return true;
    }
    bool key(string_t& k) override {
        if (depth_ == 1 && (k == "format" || k == "asset")) {
            seen = k == "format" ? Seen::Format : Seen::Asset;
            return false;  // decided: stop reading
        }
        return true;
    }
    bool end_object() override {
        --depth_;
        return true;
    }
    bool start_array(std::size_t) override {
        ++depth_;
        return true;
    }
    bool end_array() override {
        --depth_;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        parseFailed = true;
        return false;
    }

  private:
    int depth_ = 0;
};

}  // namespace

FileKind classifyFileContent(const std::string& content) {
    if (jsonInAnotherEncoding(content) != nullptr) {
        return FileKind::JsonOrModel;  // JSON in another encoding, which the loader names
    }
    TopLevelKeys sax;
    nlohmann::json::sax_parse(content, &sax, nlohmann::json::input_format_t::json,
                              /*strict=*/true, /*ignore_comments=*/true);
    if (sax.seen == TopLevelKeys::Seen::Format) {
        return FileKind::HostDocument;
    }
    if (sax.seen == TopLevelKeys::Seen::Asset) {
        return FileKind::Model;
    }
    if (!sax.parseFailed) {
        return FileKind::HostDocument;  // JSON, but not glTF: the loader names what is missing
    }
    return sax.objectStarted ? FileKind::JsonOrModel : FileKind::Model;
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
