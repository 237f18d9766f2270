// Render and Update end to end: raydeck-host runs the real plug-in file, which finds the
// installation in a registry file, loads the stand-in live library, picks or launches a stand-in
// renderer and streams the document into it. Each test has its own folder for the registry, the
// renderers' announcements and their stored scenes, and ends every renderer it started or that
// the plug-in launched (the test process adopts launched renderers as their subreaper).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/FileText.h"
#include "tests/support/RegistryFile.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using Result = ProgramRun;

// The scene from the builder's banner on, with the import options block cut out: what a stored
// renderer scene and an exported file must share byte for byte.
std::string sceneBody(const std::string& scene) {
    const size_t banner = scene.find("#print ");
    if (banner == std::string::npos) {
        return "<no banner>";
    }
    std::string body = scene.substr(banner);
    const size_t load = body.find("load \"trvrtopt.so\" {\n");
    if (load != std::string::npos) {
        const size_t end = body.find("\n}\n", load);
        if (end != std::string::npos) {
            body.erase(load, end + 3 - load);
        }
    }
    return body;
}

// The import options block, or "" without one.
std::string importOptions(const std::string& scene) {
    const size_t load = scene.find("load \"trvrtopt.so\" {\n");
    const size_t end = load == std::string::npos ? load : scene.find("\n}\n", load);
    return end == std::string::npos ? std::string() : scene.substr(load, end + 3 - load);
}

// A loopback port nobody listens on right now, with `count - 1` free ones after it.
int freePortRange(int count) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            close(s);
            continue;
        }
        close(s);
        const int base = ntohs(a.sin_port);
        if (base + count >= 65535) {
            continue;
        }
        bool allFree = true;
        for (int p = base; p < base + count && allFree; ++p) {
            int t = socket(AF_INET, SOCK_STREAM, 0);
            a.sin_port = htons(static_cast<uint16_t>(p));
            allFree = bind(t, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            close(t);
        }
        if (allFree) {
            return base;
        }
    }
    return -1;
}

class LiveCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(tmp_.path().empty());
        dir_ = tmp_.path();
        for (const char* sub : {"run", "scenes", "res", "docs"}) {
            fs::create_directories(dir_ / sub);
        }
        // Renderers that the plug-in launches are orphaned on purpose; adopt them so that the
        // test can end and reap them.
        ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        setenv("RAYDECK_REGISTRY", (dir_ / "registry.reg").c_str(), 1);
        setenv("RAYDECK_RUNTIME_DIR", (dir_ / "run").c_str(), 1);
        setenv("RAYDECK_SCENE_DIR", (dir_ / "scenes").c_str(), 1);
        setenv("RAYDECK_RENDERER_IDLE_S", "120", 1);
        unsetenv("RAYDECK_RENDERER_VERSION");
        unsetenv("RAYDECK_RENDERER_REPORT_PORT");
        writeRegistry(RAYDECK_RENDERER);
        fs::copy_file(fs::path(RAYDECK_SOURCE_DIR) / "examples" / "workshop.json",
                      dir_ / "docs" / "workshop.json");
    }

    void TearDown() override {
        // The renderers this test started end with their objects; the ones the plug-in launched
        // are known only by their announcements and were adopted, not forked here, so they are
        // ended and reaped by hand.
        for (auto& r : renderers_) {
            r->stop();
        }
        std::set<pid_t> pids;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir_ / "run", ec)) {
            if (e.path().extension() == ".xml") {
                pids.insert(static_cast<pid_t>(std::atol(e.path().stem().c_str())));
            }
        }
        for (pid_t pid : pids) {
            if (pid > 1) {
                kill(pid, SIGTERM);
            }
        }
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < deadline) {
            const pid_t r = waitpid(-1, nullptr, WNOHANG);
            if (r < 0) {
                break;  // no children left
            }
            if (r == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        for (pid_t pid : pids) {
            if (pid > 1 && kill(pid, 0) == 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
        prctl(PR_SET_CHILD_SUBREAPER, 0);
    }

    // The installation "Raydeck 7" under the current user; `extra` holds further value lines.
    void writeRegistry(const std::string& binName, const std::string& extra = "") {
        std::ofstream(dir_ / "registry.reg", std::ios::binary)
            << installationReg(binName, RAYDECK_LIVE_DIR, (dir_ / "res").string(), extra);
    }

    static std::string portRange(int first, int last) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "\"LiveLinkPort\"=dword:%08x\r\n\"LiveLinkMaxPort\"=dword:%08x\r\n", first,
                      last);
        return text;
    }

    fs::path announcement(pid_t pid) const { return dir_ / "run" / (std::to_string(pid) + ".xml"); }

    // Starts a renderer of this test with extra environment (NAME=value); waits for its
    // announcement.
    pid_t startRenderer(std::vector<std::string> env = {}) {
        RunOptions options;
        options.environment = std::move(env);
        options.stdoutPath = options.stderrPath =
            (dir_ / ("renderer-" + std::to_string(renderers_.size() + 1) + ".log")).string();
        renderers_.push_back(std::make_unique<ChildProcess>());
        ChildProcess& renderer = *renderers_.back();
        EXPECT_TRUE(renderer.start(RAYDECK_RENDERER, {}, options));
        const pid_t pid = renderer.pid();
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!fs::exists(announcement(pid)) && Clock::now() < deadline && !renderer.ended()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(fs::exists(announcement(pid))) << "renderer " << pid << " did not announce";
        return pid;
    }

    // Runs raydeck-host with the real plug-in in the test folder and waits for it.
    ProgramRun host(std::vector<std::string> args) {
        RunOptions options;
        options.workingFolder = (dir_ / "docs").string();
        options.outputFolder = dir_.string();
        args.insert(args.begin(), {"--plugin", RAYDECK_PLUGIN});
        return runProgram(RAYDECK_HOST_EXE, std::move(args), options);
    }

    // Stored scenes by file name.
    std::map<std::string, std::string> storedScenes() const {
        std::map<std::string, std::string> scenes;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir_ / "scenes", ec)) {
            if (e.path().extension() == ".rdk") {
                scenes[e.path().filename().string()] = readFile(e.path());
            }
        }
        return scenes;
    }

    std::string exported() {
        const ProgramRun r =
            host({"export", "workshop.json", "-o", (dir_ / "export.rdk").string()});
        EXPECT_EQ(r.code, 0) << r.err;
        return readFile(dir_ / "export.rdk");
    }

    TempDir tmp_;
    fs::path dir_;
    std::vector<std::unique_ptr<ChildProcess>> renderers_;
};

TEST_F(LiveCommands, RenderLaunchesARendererThatStoresWhatExportWrites) {
    const Result r = host({"render", "workshop.json"});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    const auto scenes = storedScenes();
    ASSERT_EQ(scenes.size(), 1u);
    const std::string& stored = scenes.begin()->second;
    EXPECT_EQ(stored.rfind("//---tarvik:dal:7---\n", 0), 0u);
    const std::string file = exported();
    EXPECT_EQ(sceneBody(stored), sceneBody(file));
    EXPECT_NE(sceneBody(stored).find("group \"workshop\" {"), std::string::npos);
    // The launched renderer announced itself from the registry's BinName and is still running.
    std::error_code ec;
    size_t announcements = 0;
    for (const auto& e : fs::directory_iterator(dir_ / "run", ec)) {
        announcements += e.path().extension() == ".xml" ? 1 : 0;
    }
    EXPECT_EQ(announcements, 1u);
    // raydeck-host says where the scene went and where the renderer's log is.
    const std::string storedPath = (dir_ / "scenes" / scenes.begin()->first).string();
    const std::smatch logLine = [&] {
        std::smatch m;
        std::regex_search(r.err, m, std::regex("raydeck-host: the renderer's log: (.*)\n"));
        return m;
    }();
    ASSERT_EQ(logLine.size(), 2u) << r.err;
    EXPECT_EQ(fs::path(logLine[1].str()).parent_path(), dir_ / "run");
    EXPECT_NE(readFile(logLine[1].str()).find("scene complete: model set \"workshop\""),
              std::string::npos);
    EXPECT_NE(r.err.find("raydeck-host: the renderer says: scene complete: model set "
                         "\"workshop\", " +
                         std::to_string(stored.size()) + " bytes, stored in " + storedPath + "\n"),
              std::string::npos)
        << r.err;
}

TEST_F(LiveCommands, UpdateStreamsIntoTheRendererThatHoldsTheDocument) {
    const pid_t holder = startRenderer();
    ASSERT_EQ(host({"render", "workshop.json"}).code, 0);
    const pid_t second = startRenderer();  // empty, so Update must not prefer it
    const Result r = host({"update", "workshop.json"});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    const auto scenes = storedScenes();
    const std::string name = "scene-" + std::to_string(holder) + "-2.rdk";
    ASSERT_EQ(scenes.count(name), 1u) << "stored: " << scenes.size();
    EXPECT_EQ(scenes.count("scene-" + std::to_string(second) + "-1.rdk"), 0u);
    const std::string& update = scenes.at(name);
    // Found in the renderer: Update's camera and environment adjustments are on (they are off
    // when Update has to use a renderer without the scene, below).
    const std::string options = importOptions(update);
    EXPECT_NE(options.find("\"import_adjust_camera\" on"), std::string::npos) << options;
    EXPECT_NE(options.find("\"import_adjust_environment\" on"), std::string::npos) << options;
    EXPECT_NE(r.out.find("whoa"), std::string::npos);
    // Only the selected floor brings its mesh; the crate's does not come along.
    const std::string render = scenes.at("scene-" + std::to_string(holder) + "-1.rdk");
    EXPECT_NE(render.find("\"Crate wood\""), std::string::npos);
    EXPECT_EQ(update.find("\"Crate wood\""), std::string::npos);

    // A document that no renderer holds goes to any running one, without the adjustments.
    std::string shedDoc = readFile(dir_ / "docs" / "workshop.json");
    shedDoc.replace(shedDoc.find("\"workshop.c4d\""), 14, "\"shed.c4d\"");
    std::ofstream(dir_ / "docs" / "shed.json", std::ios::binary) << shedDoc;
    ASSERT_EQ(host({"update", "shed.json"}).code, 0);
    const auto after = storedScenes();
    ASSERT_EQ(after.size(), scenes.size() + 1);
    std::string shed;
    for (const auto& [file, text] : after) {
        if (scenes.count(file) == 0) {
            shed = text;
        }
    }
    EXPECT_NE(importOptions(shed).find("\"import_adjust_camera\" off"), std::string::npos);
    EXPECT_NE(shed.find("group \"shed\" {"), std::string::npos);
}

TEST_F(LiveCommands, RenderPicksTheNewestEmptyRendererAndNeverAVersionOutOfRange) {
    const pid_t v7 = startRenderer({"RAYDECK_RENDERER_VERSION=7"});
    const pid_t v8 = startRenderer({"RAYDECK_RENDERER_VERSION=8"});
    const pid_t v9 = startRenderer({"RAYDECK_RENDERER_VERSION=9"});
    ASSERT_EQ(host({"render", "workshop.json"}).code, 0);
    auto scenes = storedScenes();
    ASSERT_EQ(scenes.size(), 1u);
    EXPECT_EQ(scenes.begin()->first, "scene-" + std::to_string(v8) + "-1.rdk");
    // v7 is still empty and v9 never counts.
    ASSERT_EQ(host({"render", "workshop.json"}).code, 0);
    scenes = storedScenes();
    EXPECT_EQ(scenes.count("scene-" + std::to_string(v7) + "-1.rdk"), 1u);
    EXPECT_EQ(scenes.count("scene-" + std::to_string(v9) + "-1.rdk"), 0u);
}

TEST_F(LiveCommands, ARendererReportingPortZeroIsFoundByScanningTheRegistryRange) {
    const int first = freePortRange(4);
    ASSERT_GT(first, 0);
    writeRegistry(RAYDECK_RENDERER, portRange(first, first + 3));
    const pid_t pid = startRenderer({"RAYDECK_RENDERER_REPORT_PORT=0"});
    const Result r = host({"render", "workshop.json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(storedScenes().count("scene-" + std::to_string(pid) + "-1.rdk"), 1u);
}

TEST_F(LiveCommands, FailuresReachTheHostConsoleWithTheFactorysMessage) {
    // No installation at all.
    fs::remove(dir_ / "registry.reg");
    Result r = host({"render", "workshop.json"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Failed to connect. Could not get a scene api. Please check your "
                         "Raydeck installation.\nraydeck-host: no Raydeck 7 to 8 installation: "
                         "the registry file " +
                         (dir_ / "registry.reg").string() + " does not exist"),
              std::string::npos)
        << r.err;

    // An installation whose renderer cannot be started: the launch message, and no polling.
    const fs::path notAProgram = dir_ / "renderer.txt";
    std::ofstream(notAProgram) << "not a program\n";
    writeRegistry(notAProgram.string());
    r = host({"render", "workshop.json"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Failed to connect. Unabled to launch Raydeck. Please check your "
                         "Raydeck installation."),
              std::string::npos)
        << r.err;
    EXPECT_LT(r.seconds, 5.0);
    EXPECT_TRUE(storedScenes().empty());
}

TEST_F(LiveCommands, ARendererThatNeverAppearsEndsInThePortMessageAfterThePolls) {
    const fs::path quiet = dir_ / "quiet.sh";
    std::ofstream(quiet) << "#!/bin/sh\nexit 0\n";
    fs::permissions(quiet, fs::perms::owner_all);
    const int first = freePortRange(2);
    ASSERT_GT(first, 0);
    writeRegistry(quiet.string(), portRange(first, first + 1));
    const Result r = host({"render", "workshop.json"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Failed to connect. Could not connect on any known port. Please check "
                         "your Raydeck installation and Live Link settings."),
              std::string::npos)
        << r.err;
    EXPECT_GE(r.seconds, 18.0);  // 19 one-second pauses
    EXPECT_LT(r.seconds, 40.0);
}

TEST_F(LiveCommands, ARendererThatDiesOrStallsMidStreamEndsTheCommandWithAMessage) {
    for (const char* mode : {"exit", "stall"}) {
        SCOPED_TRACE(mode);
        const pid_t pid = startRenderer({"RAYDECK_RENDERER_FAIL_AFTER_BYTES=4096",
                                         std::string("RAYDECK_RENDERER_FAIL_MODE=") + mode});
        const Result r = host({"render", "workshop.json"});
        EXPECT_EQ(r.code, 1) << r.out << r.err;
        EXPECT_NE(r.err.find("did not arrive whole"), std::string::npos) << r.err;
        EXPECT_LT(r.seconds, 60.0);
        renderers_.back()->stop(SIGKILL);
        fs::remove(announcement(pid));
    }
}

}  // namespace
