// The live library loader against stand-in libraries copied into a temporary installation:
// file names by version, the current-directory fallback, failed initialisation, reuse and
// unloading, and its log lines.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "platform/dynlib.h"
#include "raydecklive_loader.h"
#include "tests/support/FileText.h"
#include "tests/support/RegistryFile.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using trv::link::getQueryApi;
using trv::link::getSceneApi;
using trv::link::liveLoader;
using trv::link::unloadLive;

namespace {

// The log stream stays open for the whole process, so every test's installation names the same
// resource folder.
TempDir* g_resources = nullptr;

class ResourceEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { g_resources = new TempDir(); }
    void TearDown() override {
        delete g_resources;
        g_resources = nullptr;
    }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ResourceEnvironment);

class LiveLoader : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        bin_ = dir_.path() + "/bin";
        fs::create_directory(bin_);
        registry_ = dir_.path() + "/registry.reg";
        setenv("RAYDECK_REGISTRY", registry_.c_str(), 1);
        installVersion(7);
        logStart_ = readFile(logPath()).size();
    }
    void TearDown() override { unloadLive(); }

    void installVersion(int version) {
        const std::string renderer = dir_.path() + "/renderer";
        std::ofstream(renderer) << "";
        std::ofstream(registry_) << installationReg(renderer, bin_, g_resources->path(), "",
                                                    version);
    }
    static void copyLibrary(const char* from, const std::string& to) {
        fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    }
    static std::string logPath() { return g_resources->path() + "/sceneapi.log"; }
    // What this test added to the log.
    std::string logTail() const { return readFile(logPath()).substr(logStart_); }

    // The file the loaded library came from.
    static std::string loadedFrom() {
        void* symbol = nullptr;
        if (liveLoader() == nullptr ||
            !platform::findSymbol(liveLoader()->handle, "raydeck_fixture_path", symbol).ok()) {
            return "";
        }
        return reinterpret_cast<const char* (*)()>(symbol)();
    }
    static bool stillMapped(const std::string& path) {
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle != nullptr) {
            dlclose(handle);
        }
        return handle != nullptr;
    }

    TempDir dir_;
    std::string bin_;
    std::string registry_;
    std::size_t logStart_ = 0;
};

// Restores the working folder however the test ends.
class ChangeDirectory {
  public:
    explicit ChangeDirectory(const std::string& to) : back_(fs::current_path()) {
        fs::current_path(to);
    }
    ~ChangeDirectory() {
        std::error_code ec;
        fs::current_path(back_, ec);
    }

  private:
    fs::path back_;
};

}  // namespace

TEST_F(LiveLoader, Version7LoadsTheVersionedNameAndFallsBackFrom32To64) {
    copyLibrary(RAYDECK_LIVE_FIXTURE, bin_ + "/trvraydecklive32.so");
    std::ofstream(bin_ + "/trvraydecklive6_32.so") << "not a library of this word size";
    copyLibrary(RAYDECK_LIVE_FIXTURE, bin_ + "/trvraydecklive6_64.so");

    trvScene_api* scene = getSceneApi(7, 8);
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(fs::path(loadedFrom()).filename(), "trvraydecklive6_64.so");
    EXPECT_NE(getQueryApi(7, 8), nullptr);

    const std::string log = logTail();
    EXPECT_NE(log.find("DEBUG4:  " + bin_ + "\n"), std::string::npos) << log;
    EXPECT_TRUE(std::regex_search(
        log, std::regex(R"(raydecklive_loader\.cpp:\d+ - \d\d:\d\d:\d\d\.\d{3} DEBUG4:  )"
                        R"(initialize shared handle: 0x[0-9a-f]+\n)")))
        << log;
    EXPECT_NE(log.find("DEBUG4:  Raydeck live: 0x"), std::string::npos) << log;
    EXPECT_NE(log.find("DEBUG4:  trv_get_query_api -> raydeck_live_loader: 0x"), std::string::npos)
        << log;
    EXPECT_EQ(log.find("NO shared handle"), std::string::npos);
}

TEST_F(LiveLoader, Version5LoadsThePlainNameAndPrefers32) {
    installVersion(5);
    copyLibrary(RAYDECK_LIVE_FIXTURE, bin_ + "/trvraydecklive6_32.so");
    copyLibrary(RAYDECK_LIVE_FIXTURE, bin_ + "/trvraydecklive32.so");
    copyLibrary(RAYDECK_LIVE_FIXTURE, bin_ + "/trvraydecklive64.so");
    ASSERT_NE(getSceneApi(5, 8), nullptr);
    EXPECT_EQ(fs::path(loadedFrom()).filename(), "trvraydecklive32.so");
}

TEST_F(LiveLoader, LibraryOnlyInTheCurrentDirectoryIsLoadedFromThere) {
    const std::string cwd = dir_.path() + "/cwd";
    fs::create_directory(cwd);
    copyLibrary(RAYDECK_LIVE_FIXTURE, cwd + "/trvraydecklive6_64.so");
    ChangeDirectory in(cwd);
    ASSERT_NE(getSceneApi(7, 8), nullptr);
    EXPECT_TRUE(fs::equivalent(loadedFrom(), cwd + "/trvraydecklive6_64.so")) << loadedFrom();
}

TEST_F(LiveLoader, SecondCallReusesTheLibraryWhateverTheRangeAndUnloadDeletesTheRoot) {
    copyLibrary(RAYDECK_LIVE_FIXTURE, bin_ + "/trvraydecklive6_64.so");
    trvScene_api* scene = getSceneApi(7, 8);
    ASSERT_NE(scene, nullptr);
    const trv::link::LiveLoader* loader = liveLoader();
    void* handle = loader->handle;
    // The installation is gone and the range names none: the loaded library still answers.
    fs::remove(registry_);
    EXPECT_EQ(getSceneApi(1, 2), scene);
    EXPECT_NE(getQueryApi(1, 2), nullptr);
    EXPECT_EQ(liveLoader(), loader);
    EXPECT_EQ(liveLoader()->handle, handle);

    int deleted = 0;
    void* count = nullptr;
    ASSERT_TRUE(platform::findSymbol(handle, "raydeck_fixture_count_deletions", count).ok());
    reinterpret_cast<void (*)(int*)>(count)(&deleted);
    unloadLive();
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(liveLoader(), nullptr);
    unloadLive();  // nothing loaded: nothing happens

    // Loading again needs the installation again.
    EXPECT_EQ(getSceneApi(7, 8), nullptr);
    installVersion(7);
    EXPECT_NE(getSceneApi(7, 8), nullptr);
    EXPECT_NE(liveLoader(), nullptr);
}

TEST_F(LiveLoader, LibraryThatCannotInitialiseIsFreedAgain) {
    const struct {
        const char* fixture;
        const char* what;
    } cases[] = {{RAYDECK_LIVE_FIXTURE_NO_EXPORT, "no export"},
                 {RAYDECK_LIVE_FIXTURE_NULL_ROOT, "null root"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = bin_ + "/trvraydecklive6_32.so";
        copyLibrary(c.fixture, file);
        logStart_ = readFile(logPath()).size();
        EXPECT_EQ(getSceneApi(7, 8), nullptr);
        EXPECT_EQ(getQueryApi(7, 8), nullptr);
        EXPECT_EQ(liveLoader(), nullptr);
        EXPECT_FALSE(stillMapped(file));
        const std::string log = logTail();
        // It did load: this is not the missing-library warning.
        EXPECT_EQ(log.find("NO shared handle"), std::string::npos) << log;
        EXPECT_NE(log.find("DEBUG4:  Raydeck live: 0\n"), std::string::npos) << log;
        fs::remove(file);
    }
}

TEST_F(LiveLoader, NoLibraryAnywhereWarnsAndNoInstallationLoadsNothing) {
    EXPECT_EQ(getSceneApi(7, 8), nullptr);
    EXPECT_EQ(liveLoader(), nullptr);
    const std::string log = logTail();
    EXPECT_TRUE(std::regex_search(
        log, std::regex(R"(raydecklive_loader\.cpp:\d+ - \d\d:\d\d:\d\d\.\d{3} WARNING:  )"
                        R"(NO shared handle\n)")))
        << log;
    EXPECT_NE(log.find("initialize shared handle: 0\n"), std::string::npos) << log;

    // An installation outside the range is no installation: not even the folder is logged.
    logStart_ = readFile(logPath()).size();
    EXPECT_EQ(getSceneApi(8, 9), nullptr);
    EXPECT_EQ(logTail(), "");
}
