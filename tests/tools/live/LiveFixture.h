// Shared by the stand-in tests: a per-test folder with the runtime and scene folders, renderer
// processes started from it (ended with their objects: SIGTERM, then SIGKILL after a bounded
// wait), and the live library loaded by its built path.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "platform/dynlib.h"
#include "platform/utf.h"
#include "raydecklive_api.h"
#include "tests/support/FileText.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"

namespace livetest {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Polls `done` every 20 ms until it holds or `seconds` passed.
template <typename F>
bool waitFor(F done, double seconds) {
    const Clock::time_point start = Clock::now();
    while (!done()) {
        if (secondsSince(start) > seconds) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// One raydeck-renderer, the test's own child.
class RendererProcess {
  public:
    // Starts it with the given environment settings on top of the test's; waits until it has
    // announced itself. Its standard output and error go to `log`.
    bool start(const std::string& runtimeDir, const std::map<std::string, std::string>& env,
               const std::string& log) {
        runtimeDir_ = runtimeDir;
        log_ = log;
        RunOptions options;
        for (const auto& [name, value] : env) {
            options.environment.push_back(name + "=" + value);
        }
        options.stdoutPath = options.stderrPath = log;
        return child_.start(RAYDECK_RENDERER_EXE, {}, options) &&
               waitFor([&] { return announced() || exited(); }, 10) && announced();
    }

    pid_t pid() const { return child_.pid(); }  // also after it ended
    std::string announcement() const { return runtimeDir_ + "/" + std::to_string(pid()) + ".xml"; }
    bool announced() const { return std::filesystem::exists(announcement()); }
    std::string output() const { return readFile(log_); }

    // True once the process ended (reaped here); how is then in result().
    bool exited() { return child_.ended(); }
    ProgramRun result() const { return child_.result(); }

    // SIGTERM and a bounded wait, then SIGKILL.
    void stop() { child_.stop(SIGTERM); }
    void kill9() { child_.stop(SIGKILL); }

  private:
    ChildProcess child_;
    std::string runtimeDir_;
    std::string log_;
};

// The live library, loaded by its built path; one root per test.
class LiveLibrary {
  public:
    LiveLibrary() {
        std::u16string path;
        platform::utf8ToUtf16(RAYDECK_LIVE_LIBRARY, path);
        if (!platform::loadLibrary(path, handle_).ok()) {
            return;
        }
        void* symbol = nullptr;
        if (platform::findSymbol(handle_, "raydeck_live_initialize", symbol).ok()) {
            root_ = reinterpret_cast<raydeck_live_initialize_fn>(symbol)();
        }
    }
    ~LiveLibrary() {
        delete root_;
        if (handle_ != nullptr) {
            platform::freeLibrary(handle_);
        }
    }
    LiveRoot* root() const { return root_; }
    trvScene_api* scene() const { return root_->sceneApi(); }
    QueryApi* query() const { return root_->queryApi(); }

  private:
    platform::LibraryHandle handle_ = nullptr;
    LiveRoot* root_ = nullptr;
};

// A test folder whose runtime and scene folders the test process and its renderers share.
class LiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(temp_.path().empty());
        runtime_ = temp_.path() + "/run";
        scenes_ = temp_.path() + "/scenes";
        setenv("RAYDECK_RUNTIME_DIR", runtime_.c_str(), 1);
        setenv("RAYDECK_SCENE_DIR", scenes_.c_str(), 1);
        // No registry: the renderers take a port from the system.
        setenv("RAYDECK_REGISTRY", (temp_.path() + "/none.reg").c_str(), 1);
        setenv("RAYDECK_LIVE_SEND_TIMEOUT_MS", "1000", 1);
        setenv("RAYDECK_LIVE_ACK_TIMEOUT_MS", "5000", 1);
    }
    void TearDown() override {
        for (const char* name : {"RAYDECK_RUNTIME_DIR", "RAYDECK_SCENE_DIR", "RAYDECK_REGISTRY",
                                 "RAYDECK_LIVE_SEND_TIMEOUT_MS", "RAYDECK_LIVE_ACK_TIMEOUT_MS"}) {
            unsetenv(name);
        }
    }

    bool startRenderer(RendererProcess& r, std::map<std::string, std::string> env = {}) {
        const std::string log = temp_.path() + "/renderer-" + std::to_string(++renderers_) + ".log";
        return r.start(runtime_, env, log);
    }

    TempDir temp_;
    std::string runtime_;
    std::string scenes_;
    int renderers_ = 0;
};

}  // namespace livetest
