// The bounded model import: a child process of raydeck-host reads the model under a memory bound
// and hands the document back whole through a file in a private temporary folder; the parent
// waits with a time bound. A reader that crashes, loops or balloons ends the child, not the tool.
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <type_traits>

#include "platform/child.h"
#include "platform/process.h"
#include "platform/program.h"
#include "tools/host/ModelImport.h"

namespace raydeck::hostsim {

namespace {

// ---- the document as bytes --------------------------------------------------------------------
// Native byte order and layout: the file goes from a child to its own parent, the same program.

constexpr char kMagic[8] = {'R', 'D', 'K', 'M', 'O', 'D', 'L', '1'};

// Appends to `out`; with a stream, hands what gathered to it every megabyte and at the end
// (flush), so that a large document is not held twice.
class Writer {
  public:
    explicit Writer(std::string& out, std::ostream* stream = nullptr)
        : out_(out), stream_(stream) {}
    bool flush() {
        if (stream_ != nullptr && !out_.empty()) {
            stream_->write(out_.data(), static_cast<std::streamsize>(out_.size()));
            out_.clear();
        }
        return stream_ == nullptr || static_cast<bool>(*stream_);
    }
    template <typename T>
    void pod(const T& v) {
        static_assert(std::is_trivially_copyable<T>::value, "plain data only");
        out_.append(reinterpret_cast<const char*>(&v), sizeof v);
    }
    void text(const std::string& s) {
        pod<uint64_t>(s.size());
        out_.append(s);
    }
    template <typename T>
    void array(const std::vector<T>& v) {
        static_assert(std::is_trivially_copyable<T>::value, "plain data only");
        pod<uint64_t>(v.size());
        out_.append(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(T));
        if (out_.size() >= (size_t(1) << 20)) {
            flush();
        }
    }

  private:
    std::string& out_;
    std::ostream* stream_;
};

// Reads what Writer wrote, from a stream of `size` bytes; every read checks the bytes left, so
// that a short or damaged file is an error, never a read past its end. Arrays go from the
// stream straight into their vectors: a large document is not held twice.
class Reader {
  public:
    Reader(std::istream& in, uint64_t size) : in_(in), size_(size) {}
    bool ok() const { return ok_; }
    bool atEnd() const { return pos_ == size_; }
    template <typename T>
    T pod() {
        T v{};
        if (!take(&v, sizeof v)) {
            v = T{};
        }
        return v;
    }
    std::string text() {
        const uint64_t n = count(1);
        std::string s(n, '\0');
        return n > 0 && take(&s[0], n) ? s : std::string();
    }
    template <typename T>
    std::vector<T> array() {
        const uint64_t n = count(sizeof(T));
        std::vector<T> v;
        if (n > 0) {
            v.resize(n);
            if (!take(v.data(), n * sizeof(T))) {
                v.clear();
            }
        }
        return v;
    }
    // An element count whose elements (at least `size` bytes each) fit in what is left.
    uint64_t count(uint64_t size) {
        const uint64_t n = pod<uint64_t>();
        if (!ok_ || n > (size_ - pos_) / size) {
            ok_ = false;
            return 0;
        }
        return n;
    }

  private:
    bool take(void* to, uint64_t n) {
        if (!ok_ || n > size_ - pos_ ||
            !in_.read(static_cast<char*>(to), static_cast<std::streamsize>(n))) {
            ok_ = false;
            return false;
        }
        pos_ += n;
        return true;
    }
    std::istream& in_;
    const uint64_t size_;
    uint64_t pos_ = 0;
    bool ok_ = true;
};

void writeNode(Writer& w, const SimNode& n) {
    w.pod(n.type);
    w.text(n.name);
    w.text(n.id);
    w.pod<uint64_t>(n.params.size());
    for (const auto& [key, v] : n.params) {
        w.pod(key);
        w.pod(static_cast<int32_t>(v.kind));
        w.pod(v.number);
        w.pod(v.vector);
        w.text(v.text);
        w.text(v.linkId);
        w.pod<uint64_t>(v.gradient.size());
        for (const GradientKnot& k : v.gradient) {
            w.pod(k.position);
            w.pod(k.color);
        }
    }
}

void readNode(Reader& r, SimNode& n, NodeKind kind, SimDocument& doc) {
    n.kind = kind;
    n.document = &doc;
    n.type = r.pod<int32_t>();
    n.name = r.text();
    n.id = r.text();
    for (uint64_t i = 0, count = r.count(8); i < count && r.ok(); ++i) {
        const int32_t key = r.pod<int32_t>();
        SimValue v;
        const int32_t kind = r.pod<int32_t>();
        if (kind < 0 || kind > static_cast<int32_t>(SimValue::Kind::Gradient)) {
            r.count(UINT64_MAX);  // fails the read
            return;
        }
        v.kind = static_cast<SimValue::Kind>(kind);
        v.number = r.pod<double>();
        v.vector = r.pod<RdHostVector>();
        v.text = r.text();
        v.linkId = r.text();
        for (uint64_t k = 0, knots = r.count(8); k < knots && r.ok(); ++k) {
            GradientKnot g;
            g.position = r.pod<double>();
            g.color = r.pod<RdHostVector>();
            v.gradient.push_back(g);
        }
        n.params[key] = std::move(v);
    }
}

void writeObject(Writer& w, const SimObject& o) {
    writeNode(w, o);
    w.pod(o.guid);
    w.pod<uint8_t>(o.hasGuid);
    w.pod(o.position);
    w.pod(o.rotation);
    w.pod(o.scale);
    w.pod(o.rotationOrder);
    w.pod<uint8_t>(o.explicitMatrix);
    w.pod(o.matrix);
    w.pod<uint8_t>(o.generatorInput);
    w.pod<uint8_t>(o.selected);
    w.text(o.layerId);
    w.array(o.points);
    w.array(o.polygons);
    w.pod<uint64_t>(o.tags.size());
    for (const auto& t : o.tags) {
        writeNode(w, *t);
        w.text(t->materialId);
        w.pod(t->textureMatrix);
        w.array(t->uvw);
        std::vector<int32_t> ranges;  // a pair's copy is not plain data
        for (const auto& [first, last] : t->ranges) {
            ranges.push_back(first);
            ranges.push_back(last);
        }
        w.array(ranges);
        w.pod<uint8_t>(t->hasNormals);
        w.array(t->normals);
        w.pod<uint8_t>(t->selected);
    }
    w.pod<uint64_t>(o.tracks.size());
    for (const auto& t : o.tracks) {
        writeNode(w, *t);
        w.pod(t->depth);
        w.pod(t->descId);
        w.pod<uint8_t>(t->hasCurve);
        w.pod<int32_t>(t->interpolation == Interpolation::Step);
        w.array(t->curve.keys);
    }
    w.pod<uint8_t>(o.hasHair);
    w.pod(o.hair.segments);
    w.array(o.hair.points);
    w.array(o.hair.rootUV);
    // The hierarchy is as deep as a document may be (the import refuses deeper models), so
    // recursion stays within a few thousand frames.
    w.pod<uint8_t>(o.cache != nullptr);
    if (o.cache) {
        writeObject(w, *o.cache);
    }
    w.pod<uint8_t>(o.deformCache != nullptr);
    if (o.deformCache) {
        writeObject(w, *o.deformCache);
    }
    w.pod<uint64_t>(o.children.size());
    for (const auto& c : o.children) {
        writeObject(w, *c);
    }
}

std::unique_ptr<SimObject> readObject(Reader& r, SimDocument& doc, int depth) {
    auto o = std::make_unique<SimObject>();
    if (depth > kMaxObjectDepth * 3) {  // children, caches and deform caches each add one
        r.count(UINT64_MAX);
        return o;
    }
    readNode(r, *o, NodeKind::Object, doc);
    o->guid = r.pod<uint64_t>();
    o->hasGuid = r.pod<uint8_t>() != 0;
    o->position = r.pod<RdHostVector>();
    o->rotation = r.pod<RdHostVector>();
    o->scale = r.pod<RdHostVector>();
    o->rotationOrder = r.pod<int32_t>();
    o->explicitMatrix = r.pod<uint8_t>() != 0;
    o->matrix = r.pod<RdHostMatrix>();
    o->generatorInput = r.pod<uint8_t>() != 0;
    o->selected = r.pod<uint8_t>() != 0;
    o->layerId = r.text();
    o->points = r.array<RdHostVector>();
    o->polygons = r.array<RdHostPolygon>();
    for (uint64_t i = 0, n = r.count(8); i < n && r.ok(); ++i) {
        auto t = std::make_unique<SimTag>();
        readNode(r, *t, NodeKind::Tag, doc);
        t->owner = o.get();
        t->materialId = r.text();
        t->textureMatrix = r.pod<RdHostMatrix>();
        t->uvw = r.array<RdHostUVWPolygon>();
        const std::vector<int32_t> ranges = r.array<int32_t>();
        for (size_t k = 0; k + 1 < ranges.size(); k += 2) {
            t->ranges.emplace_back(ranges[k], ranges[k + 1]);
        }
        t->hasNormals = r.pod<uint8_t>() != 0;
        t->normals = r.array<float>();
        t->selected = r.pod<uint8_t>() != 0;
        o->tags.push_back(std::move(t));
    }
    for (uint64_t i = 0, n = r.count(8); i < n && r.ok(); ++i) {
        auto t = std::make_unique<SimTrack>();
        readNode(r, *t, NodeKind::Track, doc);
        t->depth = r.pod<int32_t>();
        const auto ids = r.pod<std::array<int32_t, 2>>();
        t->descId[0] = ids[0];
        t->descId[1] = ids[1];
        t->hasCurve = r.pod<uint8_t>() != 0;
        t->interpolation = r.pod<int32_t>() != 0 ? Interpolation::Step : Interpolation::Linear;
        t->curve.keys = r.array<SimKey>();
        o->tracks.push_back(std::move(t));
    }
    o->hasHair = r.pod<uint8_t>() != 0;
    o->hair.segments = r.pod<int32_t>();
    o->hair.points = r.array<RdHostVector>();
    o->hair.rootUV = r.array<RdHostVector>();
    if (r.pod<uint8_t>() != 0 && r.ok()) {
        o->cache = readObject(r, doc, depth + 1);
    }
    if (r.pod<uint8_t>() != 0 && r.ok()) {
        o->deformCache = readObject(r, doc, depth + 1);
    }
    for (uint64_t i = 0, n = r.count(8); i < n && r.ok(); ++i) {
        o->children.push_back(readObject(r, doc, depth + 1));
    }
    return o;
}

// The pointers between nodes, rebuilt from the ids as the import made them.
bool relink(SimDocument& doc) {
    doc.linkObjects();
    std::vector<SimNode*> nodes;
    for (auto& l : doc.layers) {
        nodes.push_back(l.get());
    }
    for (auto& m : doc.materials) {
        nodes.push_back(m.get());
        for (size_t i = 0; i < m->shaders.size(); ++i) {
            m->shaders[i]->next = i + 1 < m->shaders.size() ? m->shaders[i + 1].get() : nullptr;
            nodes.push_back(m->shaders[i].get());
        }
    }
    const std::vector<SimObject*> objects = doc.allObjects();
    for (SimObject* o : objects) {
        nodes.push_back(o);
    }
    for (SimNode* n : nodes) {
        if (!n->id.empty() && !doc.links.emplace(n->id, n).second) {
            return false;
        }
    }
    auto resolve = [&doc](SimNode& n) {
        for (auto& [key, v] : n.params) {
            if (v.kind == SimValue::Kind::Link && (v.link = doc.find(v.linkId)) == nullptr) {
                return false;
            }
        }
        return true;
    };
    for (SimNode* n : nodes) {
        if (!resolve(*n)) {
            return false;
        }
    }
    for (SimObject* o : objects) {
        o->layer = o->layerId.empty() ? nullptr : doc.find(o->layerId);
        for (size_t i = 0; i < o->tags.size(); ++i) {
            SimTag& t = *o->tags[i];
            t.next = i + 1 < o->tags.size() ? o->tags[i + 1].get() : nullptr;
            t.material = t.materialId.empty() ? nullptr : doc.find(t.materialId);
            if (!resolve(t)) {
                return false;
            }
        }
        for (size_t i = 0; i < o->tracks.size(); ++i) {
            o->tracks[i]->next = i + 1 < o->tracks.size() ? o->tracks[i + 1].get() : nullptr;
            if (!resolve(*o->tracks[i])) {
                return false;
            }
        }
    }
    return true;
}

std::string signalName(int signal) {
    switch (signal) {
        case 4:
            return "SIGILL";
        case 6:
            return "SIGABRT";
        case 7:
            return "SIGBUS";
        case 8:
            return "SIGFPE";
        case 9:
            return "SIGKILL";
        case 11:
            return "SIGSEGV";
        default:
            return "signal " + std::to_string(signal);
    }
}

// Why a child that did not end with 0 or 2 ended: POSIX children report 128 + the signal,
// Windows ones the exception code.
std::string abnormalEnd(int code) {
    if (code > 128 && code < 128 + 65) {
        return "it crashed (" + signalName(code - 128) + ")";
    }
    std::ostringstream s;
    s << "it ended with exit code " << code;
    if (static_cast<unsigned>(code) >= 0xC0000000u) {
        s << " (0x" << std::hex << static_cast<unsigned>(code) << ")";
    }
    return s.str();
}

// A private temporary folder, removed with what it holds however the import ends.
class ScratchFolder {
  public:
    ScratchFolder() { status_ = platform::makeTempFolder("raydeck-import-", path_); }
    ~ScratchFolder() {
        if (status_.ok()) {
            std::error_code ignored;
            std::filesystem::remove_all(std::filesystem::u8path(path_), ignored);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const platform::Status& status() const { return status_; }
    std::string file(const std::string& name) const {
        return (std::filesystem::u8path(path_) / name).u8string();
    }

  private:
    std::string path_;
    platform::Status status_;
};

uint64_t boundFromEnvironment(const char* name, uint64_t fallback) {
    std::string text;
    if (!platform::getEnvironment(name, text) || text.empty()) {
        return fallback;
    }
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || value > UINT64_MAX / 10 - 9) {
            return fallback;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value > 0 ? value : fallback;
}

}  // namespace

const char* const kModelImportChildCommand = "--model-import-child";

namespace {

bool encode(const SimDocument* doc, const std::string& error,
            const std::vector<std::string>& warnings, std::string& out, std::ostream* stream) {
    out.assign(kMagic, sizeof kMagic);
    Writer w(out, stream);
    w.text(error);
    w.pod<uint64_t>(warnings.size());
    for (const std::string& s : warnings) {
        w.text(s);
    }
    w.pod<uint8_t>(doc != nullptr);
    if (doc == nullptr) {
        return w.flush();
    }
    w.text(doc->fileName);
    w.text(doc->folder);
    w.pod(doc->time);
    w.pod(doc->minTime);
    w.pod<uint8_t>(doc->hairService);
    w.pod<uint8_t>(doc->gradientService);
    w.pod<uint64_t>(doc->layers.size());
    for (const auto& l : doc->layers) {
        writeNode(w, *l);
    }
    w.pod<uint64_t>(doc->materials.size());
    for (const auto& m : doc->materials) {
        writeNode(w, *m);
        w.pod<uint64_t>(m->channels.size());
        for (int32_t c : m->channels) {
            w.pod(c);
        }
        if (!m->container.empty()) {
            return false;  // the import makes none
        }
        w.pod<uint64_t>(m->shaders.size());
        for (const auto& s : m->shaders) {
            writeNode(w, *s);
        }
    }
    w.pod<uint64_t>(doc->objects.size());
    for (const auto& o : doc->objects) {
        writeObject(w, *o);
    }
    return w.flush();
}

}  // namespace

bool encodeImportResult(const SimDocument* doc, const std::string& error,
                        const std::vector<std::string>& warnings, std::string& out) {
    return encode(doc, error, warnings, out, nullptr);
}

namespace {

std::unique_ptr<SimDocument> decode(std::istream& in, uint64_t size, std::string& error,
                                    std::vector<std::string>& warnings) {
    std::array<char, sizeof kMagic> magic;
    std::memcpy(magic.data(), kMagic, sizeof kMagic);
    Reader r(in, size);
    if (r.pod<std::array<char, sizeof kMagic>>() != magic) {
        error = "not an import result";
        return nullptr;
    }
    std::string given = r.text();
    std::vector<std::string> said;
    for (uint64_t i = 0, n = r.count(8); i < n && r.ok(); ++i) {
        said.push_back(r.text());
    }
    const bool hasDocument = r.pod<uint8_t>() != 0;
    if (!r.ok()) {
        error = "the import result is cut short";
        return nullptr;
    }
    if (!hasDocument) {
        error = given.empty() ? "the import result holds no document" : given;
        warnings.insert(warnings.end(), said.begin(), said.end());
        return nullptr;
    }
    auto doc = std::make_unique<SimDocument>();
    doc->fileName = r.text();
    doc->folder = r.text();
    doc->time = r.pod<RdHostTime>();
    doc->minTime = r.pod<RdHostTime>();
    doc->hairService = r.pod<uint8_t>() != 0;
    doc->gradientService = r.pod<uint8_t>() != 0;
    for (uint64_t i = 0, n = r.count(8); i < n && r.ok(); ++i) {
        auto l = std::make_unique<SimLayer>();
        readNode(r, *l, NodeKind::Layer, *doc);
        doc->layers.push_back(std::move(l));
    }
    for (uint64_t i = 0, n = r.count(8); i < n && r.ok(); ++i) {
        auto m = std::make_unique<SimMaterial>();
        readNode(r, *m, NodeKind::Material, *doc);
        for (uint64_t c = 0, channels = r.count(4); c < channels && r.ok(); ++c) {
            m->channels.insert(r.pod<int32_t>());
        }
        for (uint64_t s = 0, shaders = r.count(8); s < shaders && r.ok(); ++s) {
            auto sh = std::make_unique<SimShader>();
            readNode(r, *sh, NodeKind::Shader, *doc);
            m->shaders.push_back(std::move(sh));
        }
        doc->materials.push_back(std::move(m));
    }
    for (uint64_t i = 0, n = r.count(8); i < n && r.ok(); ++i) {
        doc->objects.push_back(readObject(r, *doc, 1));
    }
    if (!r.ok() || !r.atEnd() || !relink(*doc)) {
        error = "the import result is damaged";
        return nullptr;
    }
    warnings.insert(warnings.end(), said.begin(), said.end());
    return doc;
}

}  // namespace

std::unique_ptr<SimDocument> decodeImportResult(const std::string& bytes, std::string& error,
                                                std::vector<std::string>& warnings) {
    std::istringstream in(bytes);
    return decode(in, bytes.size(), error, warnings);
}

ImportBounds importBoundsFromEnvironment() {
    ImportBounds b;
    b.seconds = boundFromEnvironment("RAYDECK_IMPORT_SECONDS", b.seconds);
    b.memoryMiB = boundFromEnvironment("RAYDECK_IMPORT_MEMORY_MIB", b.memoryMiB);
    return b;
}

int runModelImportChild(const std::vector<std::string>& args) {
    // MODEL RESULT MEMORY_MIB
    if (args.size() != 3) {
        return 3;
    }
    const std::string& path = args[0];
    // The child ends after one import: the memory a reader frees is worth more to the import's
    // next allocation than to the system (page faults were a third of a large mesh's import).
    // Best effort: an import without it is only slower.
    platform::keepFreedMemory();
    uint64_t mib = 0;
    for (char c : args[2]) {
        mib = mib * 10 + static_cast<uint64_t>(c - '0');
    }
#ifndef RAYDECK_SANITIZED
    // The sanitizers reserve terabytes of address space up front: no bound fits beside them.
    platform::limitOwnMemory(mib << 20);
#endif
    std::string error, bytes;
    std::vector<std::string> warnings;
    std::unique_ptr<SimDocument> doc;
    std::ofstream out(std::filesystem::u8path(args[1]), std::ios::binary);
    const std::string tooLarge = path + ": cannot read the model: it needs more than the " +
                                 std::to_string(mib) +
                                 " MiB the import may use (RAYDECK_IMPORT_MEMORY_MIB)";
    try {
        doc = importModelFile(path, error, warnings);
        // Assimp turns a failed allocation into its error text.
        if (!doc && error.find("bad_alloc") != std::string::npos) {
            error = tooLarge;
        }
        if (!encode(doc.get(), error, warnings, bytes, &out)) {
            return 3;
        }
    } catch (const std::bad_alloc&) {
        doc.reset();
        bytes = std::string();
        error = tooLarge;
        out.seekp(0);
        if (!encode(nullptr, error, warnings, bytes, &out)) {
            return 3;
        }
    }
    out.close();
    if (!out) {
        return 3;
    }
    return doc ? 0 : 2;
}

std::unique_ptr<SimDocument> importModelBounded(const std::string& path, const ImportBounds& bounds,
                                                std::string& error,
                                                std::vector<std::string>& warnings) {
    if (bounds.childProgram.empty()) {
        return importModelFile(path, error, warnings);
    }
    const std::string failed = path + ": the model reader failed: ";
    ScratchFolder scratch;
    if (!scratch.status().ok()) {
        error = failed + "no temporary folder for it: " + scratch.status().message();
        return nullptr;
    }
    const std::string result = scratch.file("document.bin");
    platform::ChildOptions options;
    // What a reader prints goes nowhere: the result says what the user needs.
    options.outputFile = scratch.file("output.txt");
    options.errorFile = scratch.file("errors.txt");
    platform::Child child;
    const platform::Status started = platform::spawnChild(
        bounds.childProgram,
        {kModelImportChildCommand, path, result, std::to_string(bounds.memoryMiB)}, options, child);
    if (!started.ok()) {
        error = failed + "cannot start it: " + started.message();
        return nullptr;
    }
    bool exited = false;
    int code = 0;
    const uint64_t limitMs = bounds.seconds * 1000;
    const int timeoutMs = limitMs > INT32_MAX ? -1 : static_cast<int>(limitMs);
    platform::Status waited = platform::waitChild(child, timeoutMs, exited, code);
    if (!waited.ok() || !exited) {
        platform::killChild(child);
        platform::waitChild(child, -1, exited, code);
        error = waited.ok() ? failed + "it did not finish within " +
                                  std::to_string(bounds.seconds) + " s (RAYDECK_IMPORT_SECONDS)"
                            : failed + "cannot wait for it: " + waited.message();
        return nullptr;
    }
    if (code != 0 && code != 2) {
        error = failed + abnormalEnd(code);
        return nullptr;
    }
    std::string decodeError;
    std::error_code ec;
    const uint64_t size = std::filesystem::file_size(std::filesystem::u8path(result), ec);
    std::ifstream in(std::filesystem::u8path(result), std::ios::binary);
    if (ec || !in) {
        error = failed + "it left no result";
        return nullptr;
    }
    auto doc = decode(in, size, decodeError, warnings);
    if (!doc) {
        error = code == 2 ? decodeError : failed + decodeError;
    }
    return doc;
}

}  // namespace raydeck::hostsim
