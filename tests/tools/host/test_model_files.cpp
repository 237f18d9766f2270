// Real model files end to end: every model of the installed Assimp test set goes through
// `raydeck-host export` with the real plug-in and then `rdk-inspect check` and `summary`, and
// the scene's triangles must equal the source's as Assimp triangulates it. A few models by name
// show their materials, textures, animation blocks and a preview picture. Each run is a child
// process in a temporary folder of its own, killed when it exceeds a generous time limit. Files
// Assimp cannot read are skipped with its reason, which the test list carries too; Assimp reads
// here under a bound on the address space (not under the sanitizers), so that a file claiming a
// huge size is refused at once instead of after half a minute of paging.
#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "rapidjson/document.h"
#include "rapidjson/stringbuffer.h"
#include "rapidjson/writer.h"
#include "tests/support/FileText.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"
#include "tools/host/ModelImport.h"

namespace fs = std::filesystem;

namespace {

const char* const kModelRoot = "/usr/share/assimp/models";

#ifdef RAYDECK_SANITIZED
// Instrumented runs are several times slower (the whole set still takes about two minutes on two
// cores, so every model runs).
constexpr int kRunSeconds = 600;

// Some of Assimp's readers (AMF, IRR, and several of those that refuse a file) leak what they
// allocated; the library is not ours to fix, so its leaks are not reported, here or in the tools.
const char* const kAssimpLeaks = "leak:libassimp.so\n";
extern "C" const char* __lsan_default_suppressions() {
    return kAssimpLeaks;
}
#else
constexpr int kRunSeconds = 180;
#endif

// Assimp's readers allocate what a file's header claims before they look further: with this
// bound on the address space such a file fails at once (std::bad_alloc) rather than after the
// pages are touched. Every model of the set that reads at all reads within it. Not under the
// sanitizers: their shadow memory alone is far larger, and their allocator ends the process on
// a refused operator new instead of throwing.
constexpr rlim_t kReadAddressSpace = rlim_t{4} << 30;
#ifdef RAYDECK_SANITIZED
constexpr bool kBoundedReads = false;
#else
constexpr bool kBoundedReads = true;
#endif

// Without the bound, a file whose header claims hundreds of millions of vertices makes Assimp
// touch over ten gigabytes before it gives up: enough to have the machine's memory killer end
// this or another process. Under the sanitizers such files are refused by name, unread.
const char* refusedUnbounded(const std::string& path) {
    const std::string name = "/invalid/OutOfMemory.off";
    if (!kBoundedReads && path.size() >= name.size() &&
        path.compare(path.size() - name.size(), name.size(), name) == 0) {
        return "its header claims 353 million vertices; read without a bound (as under the "
               "sanitizers) that takes over 10 GB";
    }
    return nullptr;
}

// Lowers the address-space limit of this process for the duration of an Assimp read; the tools
// started later run without it.
class ReadBound {
  public:
    ReadBound() {
        if (kBoundedReads && getrlimit(RLIMIT_AS, &saved_) == 0 &&
            (saved_.rlim_cur == RLIM_INFINITY || saved_.rlim_cur > kReadAddressSpace)) {
            rlimit bound = saved_;
            bound.rlim_cur = kReadAddressSpace;
            active_ = setrlimit(RLIMIT_AS, &bound) == 0;
        }
    }
    ~ReadBound() {
        if (active_) {
            setrlimit(RLIMIT_AS, &saved_);
        }
    }
    ReadBound(const ReadBound&) = delete;
    ReadBound& operator=(const ReadBound&) = delete;

  private:
    rlimit saved_{};
    bool active_ = false;
};

// Every point and area light object carries the plug-in's proxy shape: 8 triangles.
constexpr size_t kLightProxyTriangles = 8;

// Runs `exe args` in `folder` (with `environment` on top of the test's), standard output and
// error into files there; kills it after kRunSeconds.
ProgramRun runTool(const std::string& exe, std::vector<std::string> args, const fs::path& folder,
                   std::vector<std::string> environment = {}) {
    RunOptions options;
    options.workingFolder = folder.string();
    options.environment = std::move(environment);
    options.timeoutSeconds = kRunSeconds;
#ifdef RAYDECK_SANITIZED
    // The tools' own leak checks with the suppression above, from a file in the folder.
    const fs::path suppressions = folder / ".lsan-suppressions";
    std::ofstream(suppressions) << kAssimpLeaks;
    const char* given = getenv("LSAN_OPTIONS");
    options.environment.push_back(
        "LSAN_OPTIONS=" + (given != nullptr && *given != '\0' ? std::string(given) + ":" : "") +
        "suppressions=" + suppressions.string());
#endif
    const ProgramRun run = runProgram(exe, std::move(args), options);
    EXPECT_TRUE(run.started) << "it did not start";
    return run;
}

// The simulator with the images that models embed written into `folder`, never beside the
// installed (read-only for everyone but root) test models.
ProgramRun host(std::vector<std::string> args, const fs::path& folder,
                std::vector<std::string> environment = {}) {
    args.insert(args.begin(), {"--plugin", RAYDECK_PLUGIN});
    if (environment.empty()) {
        environment.push_back("RAYDECK_EMBEDDED_TEXTURES=" + (folder / "embedded").string());
    }
    return runTool(RAYDECK_HOST_EXE, std::move(args), folder, std::move(environment));
}

ProgramRun inspect(std::vector<std::string> args, const fs::path& folder) {
    return runTool(RAYDECK_INSPECT_EXE, std::move(args), folder);
}

// Reading rdk-inspect's JSON summary: a missing member is null, a missing number `fallback`.
const rapidjson::Value& at(const rapidjson::Value& v, const char* key) {
    static const rapidjson::Value kNull;
    if (!v.IsObject()) {
        return kNull;
    }
    const auto it = v.FindMember(key);
    return it == v.MemberEnd() ? kNull : it->value;
}
const rapidjson::Value& front(const rapidjson::Value& v) {
    static const rapidjson::Value kNull;
    return v.IsArray() && !v.Empty() ? v[0] : kNull;
}
std::vector<const rapidjson::Value*> items(const rapidjson::Value& v) {
    std::vector<const rapidjson::Value*> out;
    if (v.IsArray()) {
        for (const auto& e : v.GetArray()) {
            out.push_back(&e);
        }
    }
    return out;
}
size_t count(const rapidjson::Value& v) {
    return v.IsArray() ? v.Size() : 0;
}
double number(const rapidjson::Value& v, double fallback = -1.0) {
    return v.IsNumber() ? v.GetDouble() : fallback;
}
std::string text(const rapidjson::Value& v) {
    return v.IsString() ? std::string(v.GetString(), v.GetStringLength()) : std::string();
}
bool flag(const rapidjson::Value& v) {
    return v.IsBool() && v.GetBool();
}
std::string dump(const rapidjson::Value& v) {
    rapidjson::StringBuffer out;
    rapidjson::Writer<rapidjson::StringBuffer> writer(out);
    v.Accept(writer);
    return out.GetString();
}

rapidjson::Document summaryOf(const fs::path& scene, const fs::path& folder) {
    const ProgramRun r = inspect({"summary", scene.string(), "--json"}, folder);
    EXPECT_EQ(r.code, 0) << r.err;
    rapidjson::Document j;
    j.Parse(r.out.c_str(), r.out.size());
    EXPECT_TRUE(!j.HasParseError() && j.IsObject()) << r.out;
    return j;
}

// Exports `model` to scene.rdk in `folder`, has rdk-inspect check it, and answers its summary
// (null when the export failed, which is then a failure of the test).
rapidjson::Document exportChecked(const std::string& model, const fs::path& folder) {
    const ProgramRun exported = host({"export", model, "-o", "scene.rdk"}, folder);
    EXPECT_FALSE(exported.timedOut) << "export killed after " << kRunSeconds << " s";
    EXPECT_EQ(exported.code, 0) << exported.err;
    if (exported.code != 0) {
        return rapidjson::Document();
    }
    const ProgramRun check = inspect({"check", "scene.rdk"}, folder);
    EXPECT_FALSE(check.timedOut);
    EXPECT_EQ(check.code, 0) << check.out << check.err;
    return summaryOf(folder / "scene.rdk", folder);
}

// A model file read by the simulator's import, with what it reported.
struct Imported {
    std::unique_ptr<raydeck::hostsim::SimDocument> doc;
    std::string error;
    std::vector<std::string> warnings;
};
Imported importModel(const std::string& path) {
    Imported m;
    m.doc = raydeck::hostsim::importModelFile(path, m.error, m.warnings);
    return m;
}

// ---- the reference ----------------------------------------------------------------------------

// The settings the import reads with, so that the reference sees the same meshes (no stand-in
// skeleton meshes among them).
void configure(Assimp::Importer& importer) {
    importer.SetPropertyBool(AI_CONFIG_IMPORT_COLLADA_IGNORE_UP_DIRECTION, true);
    importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    importer.SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
}
constexpr unsigned kReadFlags = aiProcess_JoinIdenticalVertices | aiProcess_ValidateDataStructure;

// The source as the reference reads it; null (and a failure) when Assimp cannot read it.
const aiScene* readSource(Assimp::Importer& importer, const std::string& path) {
    configure(importer);
    const aiScene* scene = importer.ReadFile(path, kReadFlags);
    EXPECT_NE(scene, nullptr) << path << ": " << importer.GetErrorString();
    return scene;
}

bool finite(const aiVector3D& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}
bool finiteFace(const aiMesh& m, const aiFace& f) {
    return std::all_of(f.mIndices, f.mIndices + f.mNumIndices,
                       [&](unsigned i) { return finite(m.mVertices[i]); });
}

void countInstances(const aiNode& n, std::vector<size_t>& instances) {
    for (unsigned i = 0; i < n.mNumMeshes; ++i) {
        ++instances[n.mMeshes[i]];
    }
    for (unsigned i = 0; i < n.mNumChildren; ++i) {
        countInstances(*n.mChildren[i], instances);
    }
}

// Lights the document holds as light objects: nodes named after a light that is not directional
// or ambient (and not after a camera, which takes precedence).
size_t countLights(const aiScene& s, const aiNode& n) {
    const std::string name = n.mName.C_Str();
    size_t count = 0;
    bool camera = false;
    for (unsigned i = 0; i < s.mNumCameras; ++i) {
        camera = camera || name == s.mCameras[i]->mName.C_Str();
    }
    for (unsigned i = 0; i < s.mNumLights && !camera; ++i) {
        const aiLight& l = *s.mLights[i];
        if (name == l.mName.C_Str()) {
            count = l.mType != aiLightSource_DIRECTIONAL && l.mType != aiLightSource_AMBIENT;
            break;
        }
    }
    for (unsigned i = 0; i < n.mNumChildren; ++i) {
        count += countLights(s, *n.mChildren[i]);
    }
    return count;
}

struct Reference {
    bool readable = false;
    std::string error;
    size_t triangles = 0;  // over every node that references a mesh
    size_t lights = 0;
};

// The source's triangle count: Assimp's triangulation (aiProcess_Triangulate) counted over every
// node that references a mesh, lines and points left out. Three corrections, each for behaviour
// that is right, each exact:
//  - A face with a corner at a non-finite position is not imported (a renderer cannot place it):
//    its triangles leave the count. The untriangulated read tells these faces; their corners
//    appear in the triangulated read as triangles touching a non-finite vertex.
//  - Assimp's ear clipping gives up on polygons that are not simple (self-intersecting or
//    non-planar ones) and emits fewer than n - 2 triangles for them; every cut of an n-gon
//    without new points has n - 2, which the import's fan gives. Only meshes holding polygons
//    of more than four corners may fall short, and the shortfall is added back.
//  - The host marks a triangle by its last two corners being one point, so a quad of the fan
//    whose last two corners are one vertex (after identical vertices are joined) is a triangle
//    there; its zero-area second half is not written.
Reference reference(const std::string& path) {
    Reference ref;
    if (const char* refused = refusedUnbounded(path)) {
        ref.error = refused;
        return ref;
    }
    Assimp::Importer plain, cut;
    configure(plain);
    configure(cut);
    const aiScene* source = nullptr;
    const aiScene* triangulated = nullptr;
    {
        ReadBound bound;
        source = plain.ReadFile(path, kReadFlags);
        if (source == nullptr) {
            ref.error = plain.GetErrorString();
            return ref;
        }
        triangulated = cut.ReadFile(path, kReadFlags | aiProcess_Triangulate);
    }
    ref.readable = true;
    if (triangulated == nullptr || triangulated->mNumMeshes != source->mNumMeshes) {
        ADD_FAILURE() << "the triangulated read differs: " << cut.GetErrorString();
        return ref;
    }
    std::vector<size_t> instances(source->mNumMeshes, 0);
    if (source->mRootNode != nullptr) {
        countInstances(*source->mRootNode, instances);
        ref.lights = countLights(*source, *source->mRootNode);
    }
    for (unsigned i = 0; i < source->mNumMeshes; ++i) {
        const aiMesh& s = *source->mMeshes[i];
        const aiMesh& t = *triangulated->mMeshes[i];
        size_t assimpTriangles = 0, polygonTriangles = 0, halves = 0;
        bool large = false;
        for (unsigned f = 0; f < t.mNumFaces; ++f) {
            assimpTriangles += t.mFaces[f].mNumIndices == 3 && finiteFace(t, t.mFaces[f]);
        }
        for (unsigned f = 0; f < s.mNumFaces; ++f) {
            const aiFace& face = s.mFaces[f];
            if (face.mNumIndices < 3 || !finiteFace(s, face)) {
                continue;
            }
            large = large || face.mNumIndices > 4;
            polygonTriangles += face.mNumIndices - 2;
            for (unsigned k = 1; k + 2 < face.mNumIndices; k += 2) {
                halves += face.mIndices[k + 1] == face.mIndices[k + 2];
            }
        }
        if (large) {
            EXPECT_LE(assimpTriangles, polygonTriangles) << "mesh " << i;
        } else {
            EXPECT_EQ(assimpTriangles, polygonTriangles) << "mesh " << i;
        }
        const size_t shortfall =
            large && polygonTriangles > assimpTriangles ? polygonTriangles - assimpTriangles : 0;
        ref.triangles += instances[i] * (assimpTriangles + shortfall - halves);
    }
    return ref;
}

// ---- the file list ----------------------------------------------------------------------------

struct ModelFile {
    std::string path;
    std::string name;        // a test name: the path below the root, sanitised
    std::string unreadable;  // when the list was asked for: why Assimp cannot read it
};

// Test output names the file, not the bytes of the struct; in the test list (and so in the
// summary of the test runner) an unreadable file carries the reason it is skipped.
void PrintTo(const ModelFile& m, std::ostream* os) {
    *os << m.path;
    if (!m.unreadable.empty()) {
        *os << " (skipped: Assimp cannot read it: " << m.unreadable << ")";
    }
}

// Assimp's reason for refusing the file, empty when it reads it.
std::string readFailure(const std::string& path) {
    if (const char* refused = refusedUnbounded(path)) {
        return refused;
    }
    Assimp::Importer importer;
    configure(importer);
    ReadBound bound;
    if (importer.ReadFile(path, kReadFlags) != nullptr) {
        return std::string();
    }
    const std::string error = importer.GetErrorString();
    return error == "std::bad_alloc" ? error + ": it asks for more memory than the read bound"
                                     : error;
}

// A reason fit for a test name: one line of plain characters, not too long.
std::string listedReason(std::string reason) {
    for (char& c : reason) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (!(std::isalnum(u) || std::strchr(" .,:'_-+/=", c) != nullptr)) {
            c = ' ';
        }
    }
    constexpr size_t kMost = 100;
    if (reason.size() > kMost) {
        reason = reason.substr(0, kMost) + "...";
    }
    return reason.empty() ? "no reason given" : reason;
}

// Files Assimp recognises by extension, without the side files some formats claim too
// (material libraries, buffers, pictures, notes, shaders).
std::vector<ModelFile> modelFiles() {
    std::vector<ModelFile> files;
    std::error_code ec;
    if (!fs::is_directory(kModelRoot, ec)) {
        return files;
    }
    static const std::set<std::string> side = {".mtl",  ".bin",  ".png",      ".jpg",     ".jpeg",
                                               ".tga",  ".bmp",  ".dds",      ".txt",     ".glsl",
                                               ".vert", ".frag", ".material", ".skeleton"};
    Assimp::Importer probe;
    std::set<std::string> names;
    for (auto it = fs::recursive_directory_iterator(kModelRoot, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec)) {
            continue;
        }
        std::string ext = it->path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (ext.empty() || side.count(ext) != 0 || !probe.IsExtensionSupported(ext)) {
            continue;
        }
        ModelFile m;
        m.path = it->path().string();
        std::string name = fs::relative(it->path(), kModelRoot).string();
        for (char& c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c))) {
                c = '_';
            }
        }
        for (int k = 2; names.count(name) != 0; ++k) {
            name += "_" + std::to_string(k);
        }
        names.insert(name);
        m.name = name;
        files.push_back(m);
    }
    std::sort(files.begin(), files.end(),
              [](const ModelFile& a, const ModelFile& b) { return a.path < b.path; });
    // Only the listing (the test runner's discovery) reads every file, a few seconds in all;
    // a single test reads its own. Without the read bound (under the sanitizers) one file alone
    // takes longer than a listing may, so there only the tests tell the reason.
    if (GTEST_FLAG_GET(list_tests) && kBoundedReads) {
        for (ModelFile& m : files) {
            const std::string failure = readFailure(m.path);
            m.unreadable = failure.empty() ? std::string() : listedReason(failure);
        }
    }
    return files;
}

size_t lightProxies(const rapidjson::Value& summary) {
    size_t n = 0;
    for (const rapidjson::Value* l : items(at(summary, "lights"))) {
        const std::string shader = text(at(*l, "shader"));
        n += shader == "trv_point_light" || shader == "trv_mesh_light";
    }
    return n;
}

class AssimpTestModel : public ::testing::TestWithParam<ModelFile> {};

}  // namespace

TEST_P(AssimpTestModel, ExportsAndChecksCleanWithTheSourcesTriangles) {
    const ModelFile& model = GetParam();
    const Reference ref = reference(model.path);
    if (!ref.readable) {
        GTEST_SKIP() << "Assimp cannot read it: " << ref.error;
    }
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const rapidjson::Document summary = exportChecked(model.path, dir.path());
    ASSERT_TRUE(summary.IsObject());
    EXPECT_FALSE(fs::exists(model.path + ".textures")) << "written beside the installed model";
    const size_t proxies = lightProxies(summary);
    EXPECT_EQ(proxies, ref.lights);
    EXPECT_EQ(number(at(summary, "triangles"), 0), ref.triangles + kLightProxyTriangles * proxies);
}

INSTANTIATE_TEST_SUITE_P(Set, AssimpTestModel, ::testing::ValuesIn(modelFiles()),
                         [](const ::testing::TestParamInfo<ModelFile>& info) {
                             return info.param.name;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(AssimpTestModel);

// The files Assimp cannot read are no failures of ours: they are listed in
// model_files_unreadable.txt in the build folder and as test properties, and raydeck-host refuses
// each kind of them as a bad document.
TEST(AssimpTestModelSet, FilesAssimpCannotReadAreRecordedAndRefused) {
    const std::vector<ModelFile> files = modelFiles();
    if (files.empty()) {
        GTEST_SKIP() << "the Assimp test models are not installed (" << kModelRoot << ")";
    }
    std::vector<std::pair<std::string, std::string>> unreadable;
    // Per extension the file Assimp refuses fastest: without the bound some take half a minute
    // to fail (the reader of invalid/OutOfMemory.off allocates for what the header claims), and
    // raydeck-host reads without it.
    std::map<std::string, std::pair<double, std::string>> fastest;
    for (const ModelFile& m : files) {
        const auto start = std::chrono::steady_clock::now();
        const std::string failure = readFailure(m.path);
        if (!failure.empty()) {
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            unreadable.emplace_back(m.path, failure);
            const std::string ext = fs::path(m.path).extension().string();
            auto it = fastest.find(ext);
            if (it == fastest.end() || seconds < it->second.first) {
                fastest[ext] = {seconds, m.path};
            }
        }
    }
    const fs::path list = fs::path(RAYDECK_BINARY_DIR) / "model_files_unreadable.txt";
    {
        std::ofstream out(list);
        for (const auto& [path, reason] : unreadable) {
            out << path << "\t" << reason << "\n";
        }
    }
    RecordProperty("models", static_cast<int>(files.size()));
    RecordProperty("unreadable", static_cast<int>(unreadable.size()));
    RecordProperty("unreadable_list", list.string());
    EXPECT_EQ(std::count(std::istreambuf_iterator<char>(std::ifstream(list).rdbuf()), {}, '\n'),
              static_cast<long>(unreadable.size()));
    // Most of the set reads; the rest are deliberately broken files and formats read only in part.
    EXPECT_GT(files.size(), 2 * unreadable.size());

    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    for (const auto& [ext, timed] : fastest) {
        const std::string& path = timed.second;
        const ProgramRun r = host({"export", path, "-o", "scene.rdk"}, dir.path());
        EXPECT_EQ(r.code, 2) << path;
        // An empty file is refused before Assimp sees it.
        EXPECT_TRUE(r.err.find(": cannot read the model: ") != std::string::npos ||
                    r.err.find(": the document file is empty") != std::string::npos)
            << path << r.err;
        EXPECT_FALSE(fs::exists(fs::path(dir.path()) / "scene.rdk")) << path;
    }
}

// ---- a few by name ----------------------------------------------------------------------------

namespace {

class NamedModel : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::is_directory(kModelRoot)) {
            GTEST_SKIP() << "the Assimp test models are not installed (" << kModelRoot << ")";
        }
        ASSERT_FALSE(dir_.path().empty());
    }

    // Exports the model (relative to the test set) into the temporary folder and returns its
    // summary.
    rapidjson::Document exportAndSummarize(const std::string& relative) {
        return exportChecked(std::string(kModelRoot) + "/" + relative, folder());
    }

    fs::path folder() const { return dir_.path(); }

    // Whether the preview of scene.rdk covers more than `least` and less than `most` of the
    // picture.
    void expectCovered(double least, double most) {
        const double share = coveredShare();
        EXPECT_GT(share, least);
        EXPECT_LT(share, most);
    }
    // Previews scene.rdk at 320 x 200 and answers the share of pixels that are not background.
    double coveredShare() {
        const ProgramRun r =
            inspect({"preview", "scene.rdk", "-o", "preview.png", "--size", "320x200"}, folder());
        EXPECT_EQ(r.code, 0) << r.err;
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (png_image_begin_read_from_file(&image, (folder() / "preview.png").c_str()) == 0) {
            ADD_FAILURE() << "no preview";
            return 0.0;
        }
        image.format = PNG_FORMAT_RGB;
        std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
        EXPECT_NE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr), 0);
        EXPECT_EQ(image.width, 320u);
        EXPECT_EQ(image.height, 200u);
        size_t covered = 0;
        for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
            covered += !(rgb[i] == 48 && rgb[i + 1] == 48 && rgb[i + 2] == 56);
        }
        return static_cast<double>(covered) / (image.width * image.height);
    }

    TempDir dir_;
};

RdHostVector apply(const RdHostMatrix& m, const RdHostVector& p) {
    return RdHostVector{m.off.x + m.v1.x * p.x + m.v2.x * p.y + m.v3.x * p.z,
                        m.off.y + m.v1.y * p.x + m.v2.y * p.y + m.v3.y * p.z,
                        m.off.z + m.v1.z * p.x + m.v2.z * p.y + m.v3.z * p.z};
}
RdHostMatrix product(const RdHostMatrix& a, const RdHostMatrix& b) {
    const RdHostVector zero{0, 0, 0};
    auto axis = [&](const RdHostVector& v) {
        const RdHostVector w = apply(a, v), o = apply(a, zero);
        return RdHostVector{w.x - o.x, w.y - o.y, w.z - o.z};
    };
    return RdHostMatrix{apply(a, b.off), axis(b.v1), axis(b.v2), axis(b.v3)};
}

std::set<std::string> textureFileNames(const rapidjson::Value& summary, bool& allFound) {
    std::set<std::string> names;
    allFound = true;
    for (const rapidjson::Value* t : items(at(summary, "textures"))) {
        std::string path = text(at(*t, "path"));
        const size_t cut = path.find_last_of("/\\");
        names.insert(cut == std::string::npos ? path : path.substr(cut + 1));
        allFound = allFound && flag(at(*t, "found"));
    }
    return names;
}

}  // namespace

TEST_F(NamedModel, TexturedGltfBoxFindsItsTextureBesideTheModel) {
    const rapidjson::Document s = exportAndSummarize("glTF2/BoxTextured-glTF/BoxTextured.gltf");
    EXPECT_EQ(number(at(s, "triangles")), 12);
    EXPECT_EQ(number(at(at(s, "materials"), "count")), 1);
    bool found = false;
    EXPECT_EQ(textureFileNames(s, found), std::set<std::string>{"CesiumLogoFlat.png"});
    EXPECT_TRUE(found) << dump(at(s, "textures"));
    EXPECT_EQ(number(at(at(s, "animations"), "blocks")), 0);
}

TEST_F(NamedModel, ObjWithSeveralMaterialsWritesEachWithItsTextures) {
    const rapidjson::Document s = exportAndSummarize("OBJ/spider.obj");
    // The reference: the materials the meshes use, and their diffuse textures.
    Assimp::Importer importer;
    const aiScene* src = readSource(importer, std::string(kModelRoot) + "/OBJ/spider.obj");
    ASSERT_NE(src, nullptr);
    std::set<std::string> used, textures;
    for (unsigned i = 0; i < src->mNumMeshes; ++i) {
        const aiMaterial& m = *src->mMaterials[src->mMeshes[i]->mMaterialIndex];
        used.insert(m.GetName().C_Str());
        aiString path;
        if (m.GetTexture(aiTextureType_DIFFUSE, 0, &path) == AI_SUCCESS) {
            const std::string p = path.C_Str();
            textures.insert(p.substr(p.find_last_of("/\\") + 1));
        }
    }
    ASSERT_GT(used.size(), 1u);
    // Each object writes its own material block, named after the source's material.
    EXPECT_EQ(number(at(at(s, "materials"), "count")), number(at(s, "objects")));
    std::set<std::string> written;
    const std::string scene = readFile(folder() / "scene.rdk");
    const std::string opening = "\nmaterial \"";
    for (size_t at = scene.find(opening); at != std::string::npos;
         at = scene.find(opening, at + 1)) {
        const size_t from = at + opening.size();
        written.insert(scene.substr(from, scene.find('"', from) - from));
    }
    EXPECT_EQ(written, used);
    bool found = false;
    EXPECT_EQ(textureFileNames(s, found), textures);
    EXPECT_TRUE(found) << dump(at(s, "textures"));
    EXPECT_EQ(textures.count("SpiderTex.jpg"), 1u);
}

TEST_F(NamedModel, AnimatedColladaAndFbxWriteABlockPerAnimatedPart) {
    for (const std::string relative :
         {"Collada/box_nested_animation.dae", "FBX/animation_with_skeleton.fbx"}) {
        SCOPED_TRACE(relative);
        const rapidjson::Document s = exportAndSummarize(relative);
        Assimp::Importer importer;
        const aiScene* src = readSource(importer, std::string(kModelRoot) + "/" + relative);
        ASSERT_NE(src, nullptr);
        ASSERT_GT(src->mNumAnimations, 0u);
        const aiAnimation& a = *src->mAnimations[0];
        const double ticks = a.mTicksPerSecond > 0 ? a.mTicksPerSecond : 25.0;
        // Three blocks (x, y, z) per moving part of each channel; a part with one key is at rest.
        size_t blocks = 0;
        double longest = 0;
        for (unsigned c = 0; c < a.mNumChannels; ++c) {
            const aiNodeAnim& ch = *a.mChannels[c];
            if (src->mRootNode->FindNode(ch.mNodeName) == nullptr) {
                continue;
            }
            blocks += 3 * ((ch.mNumPositionKeys > 1) + (ch.mNumRotationKeys > 1) +
                           (ch.mNumScalingKeys > 1));
            for (unsigned k = 0; k < ch.mNumPositionKeys; ++k) {
                longest = std::max(longest, ch.mPositionKeys[k].mTime / ticks);
            }
        }
        ASSERT_GT(blocks, 0u);
        EXPECT_EQ(number(at(at(s, "animations"), "blocks")), blocks);
        for (const rapidjson::Value* b : items(at(at(s, "animations"), "list"))) {
            EXPECT_GT(number(at(*b, "samples"), 0), 1) << dump(*b);
            EXPECT_GT(number(at(*b, "duration"), 0), 0.0) << dump(*b);
            EXPECT_LE(number(at(*b, "startTime"), 0) + number(at(*b, "duration"), 0),
                      longest + 1e-6)
                << dump(*b);
        }
    }
}

TEST_F(NamedModel, PreviewOfTheTexturedBoxHasItsSizeAndCoversAPartOfThePicture) {
    exportAndSummarize("glTF2/BoxTextured-glTF/BoxTextured.gltf");
    expectCovered(0.05, 0.8);  // the framing view shows the whole box with room around it
}

// The duck's camera stands under a node scaled by 0.01: placed with its local matrix alone it
// saw one pixel of the duck.
TEST_F(NamedModel, PreviewOfTheDuckFromItsCameraInAScaledNodeShowsTheDuck) {
    const rapidjson::Document s = exportAndSummarize("Collada/duck.dae");
    ASSERT_EQ(count(at(s, "cameras")), 1u);
    EXPECT_EQ(text(at(front(at(s, "cameras")), "name")), "camera1");
    expectCovered(0.02, 0.5);
}

// A camera 500 units in front of a box, both moved 1000 units along x, the camera inside a null:
// the export's preview showed nothing.
TEST_F(NamedModel, CameraInAMovedNullSeesTheBoxInFrontOfIt) {
    const fs::path doc = folder() / "rig.json";
    std::ofstream(doc) << R"({"format": "raydeck-host-document", "version": 1, "objects": [
        {"name": "Box", "type": 5100, "position": [1000, 0, 0],
         "points": [[-50,-50,-50],[50,-50,-50],[50,50,-50],[-50,50,-50],
                    [-50,-50,50],[50,-50,50],[50,50,50],[-50,50,50]],
         "polygons": [[0,3,2,1],[4,5,6,7],[0,1,5,4],[2,3,7,6],[1,2,6,5],[0,4,7,3]]},
        {"name": "Rig", "type": 5140, "position": [1000, 0, 0], "children": [
          {"name": "Cam", "type": 5103, "position": [0, 0, -500],
           "params": {"1008": 0.8}}]}]})";
    ASSERT_TRUE(exportChecked(doc.string(), folder()).IsObject());
    expectCovered(0.02, 0.5);
}

// spider.fbx shows one close-up face from its camera, and rightly so: the file holds the default
// camera and lamp of the tool that wrote it, where a new scene there has them (7.48, -6.51, 5.34
// metres, written in centimetres with the axes turned to y up), beside spider meshes 200 units
// across scaled by 100 in their own nodes. The camera stands inside the spider as the file places
// it; the import and the plug-in keep that placement.
TEST_F(NamedModel, SpiderFbxCameraStandsInsideTheSpiderAsTheFilePlacesIt) {
    const Imported spider = importModel(std::string(kModelRoot) + "/FBX/spider.fbx");
    ASSERT_TRUE(spider.doc) << spider.error;
    const auto& doc = spider.doc;
    struct Placed {
        const raydeck::hostsim::SimObject* object;
        RdHostMatrix world;
    };
    std::vector<Placed> pending;
    for (const auto& o : doc->objects) {
        pending.push_back({o.get(), o->matrix});
    }
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    const RdHostMatrix* camera = nullptr;
    std::vector<Placed> all;
    while (!pending.empty()) {
        all.push_back(pending.back());
        pending.pop_back();
        const Placed& p = all.back();
        for (const auto& c : p.object->children) {
            pending.push_back({c.get(), product(p.world, c->matrix)});
        }
    }
    for (const Placed& p : all) {
        if (p.object->type == 5103) {
            camera = &p.world;
        }
        for (const RdHostVector& v : p.object->points) {
            const RdHostVector w = apply(p.world, v);
            const double c[3] = {w.x, w.y, w.z};
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], c[k]);
                hi[k] = std::max(hi[k], c[k]);
            }
        }
    }
    ASSERT_NE(camera, nullptr);
    EXPECT_NEAR(camera->off.x, 748.113, 1e-3);
    EXPECT_NEAR(camera->off.y, 534.367, 1e-3);
    EXPECT_NEAR(camera->off.z, -650.764, 1e-3);  // the file's z, mirrored into the host's
    const double at[3] = {camera->off.x, camera->off.y, camera->off.z};
    for (int k = 0; k < 3; ++k) {
        EXPECT_LT(lo[k], at[k]);
        EXPECT_GT(hi[k], at[k]);
        EXPECT_GT(hi[k] - lo[k], 5000.0);  // the spider, 100 times its vertices' size
    }
}

// cameras.dae holds three cameras and no geometry. Assimp adds a stand-in mesh of 36 triangles
// to scenes without geometry unless asked not to; the import asks, as the reference does.
TEST_F(NamedModel, CamerasWithoutGeometryExportNoStandInMesh) {
    const rapidjson::Document s = exportAndSummarize("Collada/cameras.dae");
    EXPECT_EQ(count(at(s, "cameras")), 3u);
    EXPECT_EQ(number(at(s, "triangles")), 0);
    EXPECT_EQ(reference(std::string(kModelRoot) + "/Collada/cameras.dae").triangles, 0u);
}

// ---- images a model embeds --------------------------------------------------------------------

namespace {

// The installed textured box as a GLB, copied into `folder`; empty when the set is missing.
std::string copyTexturedGlb(const fs::path& folder) {
    const fs::path source = fs::path(kModelRoot) / "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb";
    std::error_code ec;
    fs::copy_file(source, folder / "BoxTextured.glb", ec);
    return ec ? std::string() : (folder / "BoxTextured.glb").string();
}

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(EmbeddedTextures, GlbImageIsWrittenOnceBesideTheModelAndFoundByTheScene) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const fs::path folder = dir.path();
    const std::string glb = copyTexturedGlb(folder);
    if (glb.empty()) {
        GTEST_SKIP() << "the Assimp test models are not installed (" << kModelRoot << ")";
    }
    const fs::path image = folder / "BoxTextured.glb.textures" / "image0.png";
    std::string first;
    for (int pass = 0; pass < 2; ++pass) {
        // Nothing that redirects the images: they go beside the model.
        const ProgramRun r =
            host({"export", glb, "-o", "scene.rdk"}, folder, {"RAYDECK_EMBEDDED_TEXTURES="});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err.find("embedded"), std::string::npos) << r.err;
        EXPECT_EQ(filesIn(folder / "BoxTextured.glb.textures"),
                  std::vector<std::string>{"image0.png"});
        const std::string bytes = readFile(image);
        EXPECT_EQ(bytes.compare(0, 4, "\x89PNG"), 0);
        if (pass == 0) {
            first = bytes;
        } else {
            EXPECT_EQ(bytes, first);
        }
        const rapidjson::Document s = summaryOf(folder / "scene.rdk", folder);
        ASSERT_EQ(count(at(s, "textures")), 1u) << dump(s);
        EXPECT_EQ(text(at(front(at(s, "textures")), "path")), image.string());
        EXPECT_TRUE(flag(at(front(at(s, "textures")), "found")));
    }
}

// FBX embeds an image under its own file name, and 3D GameStudio's MDL gives one as raw pixels:
// both were left out (the FBX's name was searched for beside the model, the pixels skipped).
// Each is written once as a file the scene finds, the pixels as a PNG of the texture's size.
TEST(EmbeddedTextures, FbxImageUnderAFileNameAndRawPixelsAreWrittenAndFound) {
    const struct {
        const char* relative;
        const char* suffix;  // of the written image
    } models[] = {{"FBX/embedded_ascii/box_embedded_texture_fragmented.fbx", ""},
                  {"MDL/MDL3 (3DGS A4)/minigun.MDL", ".png"}};
    for (const auto& m : models) {
        SCOPED_TRACE(m.relative);
        const fs::path source = fs::path(kModelRoot) / m.relative;
        if (!fs::exists(source)) {
            GTEST_SKIP() << "the Assimp test models are not installed (" << kModelRoot << ")";
        }
        Assimp::Importer importer;
        const aiScene* src = readSource(importer, source.string());
        ASSERT_NE(src, nullptr);
        ASSERT_EQ(src->mNumTextures, 1u);
        TempDir dir;
        ASSERT_FALSE(dir.path().empty());
        const fs::path folder = dir.path();
        const fs::path model = folder / source.filename();
        fs::copy_file(source, model);
        const ProgramRun r = host({"export", model.string(), "-o", "scene.rdk"}, folder,
                                  {"RAYDECK_EMBEDDED_TEXTURES="});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err.find("embedded texture"), std::string::npos) << r.err;
        const fs::path images = folder / (source.filename().string() + ".textures");
        const std::vector<std::string> written = filesIn(images);
        ASSERT_EQ(written.size(), 1u);
        EXPECT_EQ(written[0].rfind("image0.", 0), 0u) << written[0];
        const rapidjson::Document s = summaryOf(folder / "scene.rdk", folder);
        ASSERT_EQ(count(at(s, "textures")), 1u) << dump(s);
        EXPECT_EQ(text(at(front(at(s, "textures")), "path")), (images / written[0]).string());
        EXPECT_TRUE(flag(at(front(at(s, "textures")), "found")));
        const aiTexture& t = *src->mTextures[0];
        if (t.mHeight == 0) {
            EXPECT_EQ(readFile(images / written[0]),
                      std::string(reinterpret_cast<const char*>(t.pcData), t.mWidth));
            continue;
        }
        EXPECT_EQ(fs::path(written[0]).extension().string(), m.suffix);
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_NE(png_image_begin_read_from_file(&image, (images / written[0]).c_str()), 0);
        EXPECT_EQ(image.width, t.mWidth);
        EXPECT_EQ(image.height, t.mHeight);
        image.format = PNG_FORMAT_BGRA;
        std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
        ASSERT_NE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr), 0);
        EXPECT_EQ(std::memcmp(pixels.data(), t.pcData, pixels.size()), 0);
    }
}

// A folder beside the model that cannot be made (here a file stands in its way) sends the images
// to the per-user folder, which the warning names.
TEST(EmbeddedTextures, UnwritableFolderSendsTheImagesToTheUsersFolderWithAWarning) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const fs::path folder = dir.path();
    const std::string glb = copyTexturedGlb(folder);
    if (glb.empty()) {
        GTEST_SKIP() << "the Assimp test models are not installed (" << kModelRoot << ")";
    }
    std::ofstream(folder / "BoxTextured.glb.textures") << "in the way";
    const ProgramRun r =
        host({"export", glb, "-o", "scene.rdk"}, folder,
             {"RAYDECK_EMBEDDED_TEXTURES=", "XDG_CACHE_HOME=" + (folder / "cache").string()});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string users = (folder / "cache" / "raydeck" / "embedded-textures").string();
    EXPECT_NE(r.err.find("BoxTextured.glb: wrote 1 embedded texture to " + users),
              std::string::npos)
        << r.err;
    const rapidjson::Document s = summaryOf(folder / "scene.rdk", folder);
    ASSERT_EQ(count(at(s, "textures")), 1u) << dump(s);
    const std::string path = text(at(front(at(s, "textures")), "path"));
    EXPECT_EQ(path.rfind(users, 0), 0u) << path;
    EXPECT_TRUE(flag(at(front(at(s, "textures")), "found")));
    EXPECT_NE(r.err.find(fs::path(path).parent_path().string()), std::string::npos) << r.err;
}

// ---- faults of the import that the test set showed --------------------------------------------

namespace {

const raydeck::hostsim::SimObject* firstPolygonObject(const raydeck::hostsim::SimObject& o) {
    if (o.type == 5100) {
        return &o;
    }
    for (const auto& c : o.children) {
        if (const auto* p = firstPolygonObject(*c)) {
            return p;
        }
    }
    return nullptr;
}

}  // namespace

TEST(ModelImportFaults, FacesWithACornerAtInfinityAreSkippedNotPassedToTheScene) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const fs::path obj = fs::path(dir.path()) / "inf.obj";
    std::ofstream(obj) << "v inf 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 3\nf 2 4 3\n";
    const Imported m = importModel(obj.string());
    ASSERT_TRUE(m.doc) << m.error;
    ASSERT_EQ(m.doc->objects.size(), 1u);
    const auto* mesh = firstPolygonObject(*m.doc->objects[0]);
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->polygons.size(), 1u);  // only the finite triangle 2 4 3
    for (int32_t i : {mesh->polygons[0].a, mesh->polygons[0].b, mesh->polygons[0].c}) {
        EXPECT_TRUE(std::isfinite(mesh->points[i].x));
    }
    EXPECT_EQ(m.warnings,
              std::vector<std::string>{"inf.obj: skipped 1 face with a non-finite point"});

    // End to end the scene then checks clean.
    EXPECT_TRUE(exportChecked(obj.string(), dir.path()).IsObject());
}

// A scene whose only top node holds a mesh and a child with one: Assimp makes that node the root,
// and both meshes must come through.
TEST(ModelImportFaults, MeshesOnTheRootNodeComeThrough) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const fs::path gltf = fs::path(dir.path()) / "root.gltf";
    std::ofstream(gltf) << R"({"asset": {"version": "2.0"}, "scene": 0,
        "scenes": [{"nodes": [0]}],
        "nodes": [{"name": "Top", "mesh": 0, "children": [1]},
                  {"name": "Child", "mesh": 0, "translation": [2, 0, 0]}],
        "meshes": [{"primitives": [{"attributes": {"POSITION": 0}}]}],
        "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
                       "min": [0, 0, 0], "max": [1, 1, 0]}],
        "bufferViews": [{"buffer": 0, "byteLength": 36}],
        "buffers": [{"byteLength": 36, "uri":
            "data:application/octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA"}]})";
    Assimp::Importer importer;
    const aiScene* src = readSource(importer, gltf.string());
    ASSERT_NE(src, nullptr);
    ASSERT_GT(src->mRootNode->mNumMeshes, 0u);  // the case at hand: meshes on the root
    const Imported m = importModel(gltf.string());
    ASSERT_TRUE(m.doc) << m.error;
    ASSERT_EQ(m.doc->objects.size(), 1u);
    EXPECT_EQ(m.doc->objects[0]->type, 5100);
    EXPECT_EQ(m.doc->objects[0]->polygons.size(), 1u);
    EXPECT_EQ(reference(gltf.string()).triangles, 2u);
    EXPECT_EQ(number(at(exportChecked(gltf.string(), dir.path()), "triangles")), 2);
}

TEST(ModelImportFaults, NonFiniteNormalsBecomeTheFaceNormal) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    // A binary STL file: two triangles with their face normals, the second's not a number.
    const fs::path obj = fs::path(dir.path()) / "nan.stl";
    {
        std::ofstream out(obj, std::ios::binary);
        const std::string header(80, ' ');
        out.write(header.data(), 80);
        const uint32_t count = 2;
        out.write(reinterpret_cast<const char*>(&count), 4);
        const float nan = std::nanf("");
        const float triangles[2][12] = {{0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0},
                                        {nan, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 0}};
        const uint16_t attributes = 0;
        for (const auto& t : triangles) {
            out.write(reinterpret_cast<const char*>(t), sizeof t);
            out.write(reinterpret_cast<const char*>(&attributes), 2);
        }
    }
    const Imported m = importModel(obj.string());
    ASSERT_TRUE(m.doc) << m.error;
    const auto* mesh = firstPolygonObject(*m.doc->objects[0]);
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->polygons.size(), 2u);
    const raydeck::hostsim::SimTag* phong = nullptr;
    for (const auto& t : mesh->tags) {
        if (t->type == 5612) {
            phong = t.get();
        }
    }
    ASSERT_NE(phong, nullptr);
    ASSERT_EQ(phong->normals.size(), 24u);
    for (float v : phong->normals) {
        EXPECT_TRUE(std::isfinite(v));
    }
    // The second triangle (1,0,0) (1,1,0) (0,1,0) faces the file's +z at every corner: the
    // host's -z.
    for (int corner = 0; corner < 4; ++corner) {
        EXPECT_FLOAT_EQ(phong->normals[12 + 3 * corner + 2], -1.0f);
    }
    EXPECT_EQ(m.warnings,
              std::vector<std::string>{
                  "nan.stl: skipped 1 polygon's non-finite normals (face normals instead)"});
}
