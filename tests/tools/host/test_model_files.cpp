// Real model files end to end: every model of the installed Assimp test set goes through
// `raydeck-host export` with the real plug-in and then `rdk-inspect check` and `summary`, and
// the scene's triangles must equal the source's as Assimp triangulates it. A few models by name
// show their materials, textures, animation blocks and a preview picture. Each run is a child
// process in a temporary folder of its own, killed when it exceeds a generous time limit.
#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/TempDir.h"
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

// Every point and area light object carries the plug-in's proxy shape: 8 triangles.
constexpr size_t kLightProxyTriangles = 8;

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct ToolRun {
    int code = -1;  // the exit code; -1 when killed or not started
    bool timedOut = false;
    std::string out, err;
};

// Runs `exe args` in `folder`, standard output and error into files there; kills it after
// kRunSeconds.
ToolRun runTool(const std::string& exe, std::vector<std::string> args, const fs::path& folder) {
    const fs::path outFile = folder / ".stdout", errFile = folder / ".stderr";
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0) {
            _exit(127);
        }
        const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0) {
            _exit(127);
        }
        dup2(out, 1);
        dup2(err, 2);
#ifdef RAYDECK_SANITIZED
        // The tools' own leak checks with the suppression above.
        const fs::path suppressions = folder / ".lsan-suppressions";
        std::ofstream(suppressions) << kAssimpLeaks;
        const char* given = getenv("LSAN_OPTIONS");
        const std::string options =
            (given != nullptr && *given != '\0' ? std::string(given) + ":" : "") +
            "suppressions=" + suppressions.string();
        setenv("LSAN_OPTIONS", options.c_str(), 1);
#endif
        std::vector<char*> argv;
        std::string name = exe;
        argv.push_back(name.data());
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execv(name.c_str(), argv.data());
        _exit(127);
    }
    ToolRun r;
    if (pid < 0) {
        ADD_FAILURE() << "fork failed";
        return r;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunSeconds);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            break;
        }
        if (done < 0) {
            ADD_FAILURE() << "waitpid failed";
            return r;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            r.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!r.timedOut && WIFEXITED(status)) {
        r.code = WEXITSTATUS(status);
    }
    r.out = readFile(outFile);
    r.err = readFile(errFile);
    return r;
}

ToolRun host(std::vector<std::string> args, const fs::path& folder) {
    args.insert(args.begin(), {"--plugin", RAYDECK_PLUGIN});
    return runTool(RAYDECK_HOST_EXE, std::move(args), folder);
}

ToolRun inspect(std::vector<std::string> args, const fs::path& folder) {
    return runTool(RAYDECK_INSPECT_EXE, std::move(args), folder);
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
    Assimp::Importer plain, cut;
    configure(plain);
    configure(cut);
    const aiScene* source = plain.ReadFile(path, kReadFlags);
    if (source == nullptr) {
        ref.error = plain.GetErrorString();
        return ref;
    }
    const aiScene* triangulated = cut.ReadFile(path, kReadFlags | aiProcess_Triangulate);
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
    std::string name;  // a test name: the path below the root, sanitised
};

// Test output names the file, not the bytes of the struct.
void PrintTo(const ModelFile& m, std::ostream* os) {
    *os << m.path;
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
    return files;
}

nlohmann::json summaryOf(const fs::path& scene, const fs::path& folder) {
    const ToolRun r = inspect({"summary", scene.string(), "--json"}, folder);
    EXPECT_EQ(r.code, 0) << r.err;
    nlohmann::json j = nlohmann::json::parse(r.out, nullptr, /*allow_exceptions=*/false);
    EXPECT_TRUE(j.is_object()) << r.out;
    return j;
}

size_t lightProxies(const nlohmann::json& summary) {
    size_t n = 0;
    for (const auto& l : summary.value("lights", nlohmann::json::array())) {
        n +=
            l.value("shader", "") == "trv_point_light" || l.value("shader", "") == "trv_mesh_light";
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
    const fs::path folder = dir.path();

    const ToolRun exported = host({"export", model.path, "-o", "scene.rdk"}, folder);
    ASSERT_FALSE(exported.timedOut) << "export killed after " << kRunSeconds << " s";
    ASSERT_EQ(exported.code, 0) << exported.err;

    const ToolRun check = inspect({"check", "scene.rdk"}, folder);
    ASSERT_FALSE(check.timedOut);
    EXPECT_EQ(check.code, 0) << check.out << check.err;

    const nlohmann::json summary = summaryOf(folder / "scene.rdk", folder);
    const size_t proxies = lightProxies(summary);
    EXPECT_EQ(proxies, ref.lights);
    EXPECT_EQ(summary.value("triangles", size_t{0}),
              ref.triangles + kLightProxyTriangles * proxies);
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
    // Per extension the file Assimp refuses fastest: some take half a minute to fail (the
    // reader of invalid/OutOfMemory.off allocates for what the header claims).
    std::map<std::string, std::pair<double, std::string>> fastest;
    for (const ModelFile& m : files) {
        Assimp::Importer importer;
        configure(importer);
        const auto start = std::chrono::steady_clock::now();
        if (importer.ReadFile(m.path, kReadFlags) == nullptr) {
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            unreadable.emplace_back(m.path, importer.GetErrorString());
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
        const ToolRun r = host({"export", path, "-o", "scene.rdk"}, dir.path());
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
    nlohmann::json exportAndSummarize(const std::string& relative) {
        const ToolRun r =
            host({"export", std::string(kModelRoot) + "/" + relative, "-o", "scene.rdk"}, folder());
        EXPECT_EQ(r.code, 0) << r.err;
        return summaryOf(folder() / "scene.rdk", folder());
    }

    fs::path folder() const { return dir_.path(); }

    TempDir dir_;
};

std::set<std::string> textureFileNames(const nlohmann::json& summary, bool& allFound) {
    std::set<std::string> names;
    allFound = true;
    for (const auto& t : summary["textures"]) {
        std::string path = t.value("path", "");
        const size_t cut = path.find_last_of("/\\");
        names.insert(cut == std::string::npos ? path : path.substr(cut + 1));
        allFound = allFound && t.value("found", false);
    }
    return names;
}

}  // namespace

TEST_F(NamedModel, TexturedGltfBoxFindsItsTextureBesideTheModel) {
    const nlohmann::json s = exportAndSummarize("glTF2/BoxTextured-glTF/BoxTextured.gltf");
    EXPECT_EQ(s["triangles"], 12);
    EXPECT_EQ(s["materials"]["count"], 1);
    bool found = false;
    EXPECT_EQ(textureFileNames(s, found), std::set<std::string>{"CesiumLogoFlat.png"});
    EXPECT_TRUE(found) << s["textures"].dump();
    EXPECT_EQ(s["animations"]["blocks"], 0);
}

TEST_F(NamedModel, ObjWithSeveralMaterialsWritesEachWithItsTextures) {
    const nlohmann::json s = exportAndSummarize("OBJ/spider.obj");
    // The reference: the materials the meshes use, and their diffuse textures.
    Assimp::Importer importer;
    configure(importer);
    const aiScene* src = importer.ReadFile(std::string(kModelRoot) + "/OBJ/spider.obj", kReadFlags);
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
    EXPECT_EQ(s["materials"]["count"], s["objects"]);
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
    EXPECT_TRUE(found) << s["textures"].dump();
    EXPECT_EQ(textures.count("SpiderTex.jpg"), 1u);
}

TEST_F(NamedModel, AnimatedColladaAndFbxWriteABlockPerAnimatedPart) {
    for (const std::string relative :
         {"Collada/box_nested_animation.dae", "FBX/animation_with_skeleton.fbx"}) {
        SCOPED_TRACE(relative);
        const nlohmann::json s = exportAndSummarize(relative);
        Assimp::Importer importer;
        configure(importer);
        const aiScene* src =
            importer.ReadFile(std::string(kModelRoot) + "/" + relative, kReadFlags);
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
        EXPECT_EQ(s["animations"]["blocks"], blocks);
        for (const auto& b : s["animations"]["list"]) {
            EXPECT_GT(b.value("samples", 0), 1) << b.dump();
            EXPECT_GT(b.value("duration", 0.0), 0.0) << b.dump();
            EXPECT_LE(b.value("startTime", 0.0) + b.value("duration", 0.0), longest + 1e-6)
                << b.dump();
        }
    }
}

TEST_F(NamedModel, PreviewOfTheTexturedBoxHasItsSizeAndCoversAPartOfThePicture) {
    exportAndSummarize("glTF2/BoxTextured-glTF/BoxTextured.gltf");
    const ToolRun r =
        inspect({"preview", "scene.rdk", "-o", "box.png", "--size", "320x200"}, folder());
    ASSERT_EQ(r.code, 0) << r.err;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&image, (folder() / "box.png").c_str()), 0);
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_NE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr), 0);
    EXPECT_EQ(image.width, 320u);
    EXPECT_EQ(image.height, 200u);
    size_t covered = 0;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
        covered += !(rgb[i] == 48 && rgb[i + 1] == 48 && rgb[i + 2] == 56);
    }
    const double share = static_cast<double>(covered) / (image.width * image.height);
    // The framing view shows the whole box with room around it.
    EXPECT_GT(share, 0.05);
    EXPECT_LT(share, 0.8);
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
    std::string error;
    std::vector<std::string> warnings;
    auto doc = raydeck::hostsim::importModelFile(obj.string(), error, warnings);
    ASSERT_TRUE(doc) << error;
    ASSERT_EQ(doc->objects.size(), 1u);
    const auto* mesh = firstPolygonObject(*doc->objects[0]);
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->polygons.size(), 1u);  // only the finite triangle 2 4 3
    for (int32_t i : {mesh->polygons[0].a, mesh->polygons[0].b, mesh->polygons[0].c}) {
        EXPECT_TRUE(std::isfinite(mesh->points[i].x));
    }
    EXPECT_EQ(warnings,
              std::vector<std::string>{"inf.obj: skipped 1 face with a non-finite point"});

    // End to end the scene then checks clean.
    const ToolRun exported = host({"export", obj.string(), "-o", "scene.rdk"}, dir.path());
    ASSERT_EQ(exported.code, 0) << exported.err;
    EXPECT_EQ(inspect({"check", "scene.rdk"}, dir.path()).code, 0);
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
    std::string error;
    std::vector<std::string> warnings;
    auto doc = raydeck::hostsim::importModelFile(obj.string(), error, warnings);
    ASSERT_TRUE(doc) << error;
    const auto* mesh = firstPolygonObject(*doc->objects[0]);
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
    // The second triangle (1,0,0) (1,1,0) (0,1,0) faces +z at every corner.
    for (int corner = 0; corner < 4; ++corner) {
        EXPECT_FLOAT_EQ(phong->normals[12 + 3 * corner + 2], 1.0f);
    }
    EXPECT_EQ(warnings,
              std::vector<std::string>{
                  "nan.stl: skipped 1 polygon's non-finite normals (face normals instead)"});
}
