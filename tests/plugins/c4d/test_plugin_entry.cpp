// The plug-in file's entry: start count, API version check, message answers, registration of the
// three commands, and its export table. Each test loads its own copy of the plug-in file, so the
// entry's process-wide state starts fresh.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/child.h"
#include "platform/dynlib.h"
#include "platform/utf.h"
#include "plugins/c4d/host/BaseDocument.h"
#include "plugins/c4d/host/CommandData.h"
#include "plugins/c4d/host/HostInterface.h"
#include "tests/support/TempDir.h"
#include "tools/host/SimHost.h"

namespace fs = std::filesystem;
using raydeck::hostsim::SimHost;

namespace {

using C4dMain = int32_t (*)(int32_t, void*, void*, void*);

// A private copy of the plug-in file (with or without its "res" folder), loaded.
class PluginCopy {
  public:
    explicit PluginCopy(bool withResources = true) {
        const fs::path source(RAYDECK_PLUGIN_FILE);
        file_ = (fs::path(dir_.path()) / source.filename()).string();
        fs::copy_file(source, file_);
        if (withResources) {
            fs::copy(source.parent_path() / "res", fs::path(dir_.path()) / "res",
                     fs::copy_options::recursive);
        }
        std::u16string wide;
        EXPECT_TRUE(platform::utf8ToUtf16(file_, wide).ok());
        EXPECT_TRUE(platform::loadLibrary(wide, library_).ok());
        void* symbol = nullptr;
        EXPECT_TRUE(platform::findSymbol(library_, "c4d_main", symbol).ok());
        main_ = reinterpret_cast<C4dMain>(symbol);
    }
    ~PluginCopy() {
        if (library_) {
            platform::freeLibrary(library_);
        }
    }
    int32_t send(int32_t message, void* p1 = nullptr, void* p3 = nullptr) {
        return main_ ? main_(message, p1, nullptr, p3) : -100;
    }
    const std::string& file() const { return file_; }

  private:
    TempDir dir_;
    std::string file_;
    platform::LibraryHandle library_ = nullptr;
    C4dMain main_ = nullptr;
};

// The simulator's host with a file name object holding the plug-in's path.
struct Host {
    SimHost sim;
    RdHostInterface table = *sim.table();
    RdHostFilename* path = nullptr;

    explicit Host(const std::string& pluginFile) {
        path = table.filenameAlloc();
        RdHostString* text = table.stringAlloc();
        table.stringSetCString(text, pluginFile.data(), static_cast<int32_t>(pluginFile.size()),
                               RD_HOST_ENCODING_UTF8);
        table.filenameSetString(path, text);
        table.stringFree(text);
    }
    ~Host() {
        sim.destroyCommands();
        table.filenameFree(path);
    }
};

}  // namespace

TEST(PluginEntry, StartCountReleasesThePathOnlyAtTheLastEnd) {
    PluginCopy plugin;
    Host host(plugin.file());
    ASSERT_EQ(host.table.apiVersion, 16000);  // exactly the lowest accepted version
    const int64_t before = host.sim.liveHandles();
    EXPECT_EQ(plugin.send(RD_HOST_MSG_START, &host.table, host.path), 1);
    const int64_t started = host.sim.liveHandles();
    EXPECT_GT(started, before);  // the plug-in's copy of its path
    EXPECT_EQ(plugin.send(RD_HOST_MSG_START, &host.table, host.path), 1);
    EXPECT_EQ(host.sim.liveHandles(), started);  // a second start-up only counts

    EXPECT_EQ(plugin.send(RD_HOST_MSG_END), 1);
    EXPECT_EQ(host.sim.liveHandles(), started);
    EXPECT_EQ(plugin.send(RD_HOST_MSG_END), 1);
    EXPECT_EQ(host.sim.liveHandles(), before);
}

TEST(PluginEntry, RefusesOldHostsAndMissingPath) {
    {
        PluginCopy plugin;
        Host host(plugin.file());
        host.table.apiVersion = 15999;
        EXPECT_EQ(plugin.send(RD_HOST_MSG_START, &host.table, host.path), -3);
        // The count stays raised: a repeated start-up only counts, whatever its table.
        host.table.apiVersion = 16000;
        EXPECT_EQ(plugin.send(RD_HOST_MSG_START, &host.table, host.path), 1);
    }
    {
        PluginCopy plugin;
        Host host(plugin.file());
        EXPECT_EQ(plugin.send(RD_HOST_MSG_START, &host.table, nullptr), -3);
    }
    {
        PluginCopy plugin;
        EXPECT_EQ(plugin.send(RD_HOST_MSG_START, nullptr, nullptr), -3);
    }
}

TEST(PluginEntry, AnswersVersionQueryPluginMessagesAndUnknownMessages) {
    PluginCopy plugin;
    Host host(plugin.file());
    ASSERT_EQ(plugin.send(RD_HOST_MSG_START, &host.table, host.path), 1);
    EXPECT_EQ(plugin.send(RD_HOST_MSG_VERSION), 5);
    EXPECT_EQ(plugin.send(RD_HOST_MSG_PLUGIN_MESSAGE, reinterpret_cast<void*>(intptr_t{0})), 1);
    EXPECT_EQ(plugin.send(RD_HOST_MSG_PLUGIN_MESSAGE, reinterpret_cast<void*>(intptr_t{1})), 1);
    EXPECT_EQ(plugin.send(RD_HOST_MSG_PLUGIN_MESSAGE, reinterpret_cast<void*>(intptr_t{2})), -1);
    EXPECT_EQ(plugin.send(5), -1);
    EXPECT_EQ(plugin.send(RD_HOST_MSG_END), 1);
}

TEST(PluginEntry, RegistersRenderUpdateExportInOrderWithTextsAndIcons) {
    PluginCopy plugin;
    Host host(plugin.file());
    ASSERT_EQ(plugin.send(RD_HOST_MSG_START, &host.table, host.path), 1);
    EXPECT_EQ(plugin.send(RD_HOST_MSG_INIT), 1);

    const auto& regs = host.sim.registrations();
    ASSERT_EQ(regs.size(), 3u);
    const int32_t ids[] = {1033591, 1034393, 1034420};
    const char* names[] = {"Render", "Update", "Export"};
    const char* helps[] = {"Render in Raydeck", "Update Raydeck scene", "Export to .rdk"};
    const char* icons[] = {"render.png", "update.png", "export.png"};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(regs[i].pluginId, ids[i]);
        EXPECT_EQ(regs[i].name, names[i]);
        EXPECT_EQ(regs[i].help, helps[i]);
        EXPECT_NE(regs[i].icon.find(icons[i]), std::string::npos) << regs[i].icon;
        EXPECT_EQ(regs[i].iconScale, 1.0);
        EXPECT_EQ(regs[i].apiVersion, 16000);
        EXPECT_EQ(regs[i].pluginKind, 4);
        EXPECT_EQ(regs[i].info, 0);
        ASSERT_NE(regs[i].command, nullptr);
        auto* command = static_cast<raydeck::host::CommandData*>(regs[i].command);
        // The framework's default state, for any document, none included.
        EXPECT_EQ(command->getState(raydeck::host::BaseDocument()), 0x40000000);
    }
    host.sim.destroyCommands();
    EXPECT_EQ(plugin.send(RD_HOST_MSG_END), 1);
}

TEST(PluginEntry, MissingIconFilesRegisterTheCommandsWithoutIcons) {
    PluginCopy plugin(/*withResources=*/false);
    Host host(plugin.file());
    ASSERT_EQ(plugin.send(RD_HOST_MSG_START, &host.table, host.path), 1);
    EXPECT_EQ(plugin.send(RD_HOST_MSG_INIT), 1);
    ASSERT_EQ(host.sim.registrations().size(), 3u);
    for (const auto& r : host.sim.registrations()) {
        EXPECT_EQ(r.icon, "") << r.name;
        EXPECT_NE(r.command, nullptr);
    }
    host.sim.destroyCommands();
    EXPECT_EQ(plugin.send(RD_HOST_MSG_END), 1);
}

// Through platform/child.h, which this suite (built for Windows too) can use everywhere; the
// case itself needs nm, which Windows lacks, and is skipped there.
TEST(PluginFile, ExportsC4dMainAndNothingElse) {
    TempDir dir;
    std::string nm;
    ASSERT_TRUE(platform::findProgram("nm", nm).ok()) << "no nm on PATH";
    platform::ChildOptions options;
    options.nullInput = true;
    options.outputFile = dir.path() + "/symbols.txt";
    options.errorFile = dir.path() + "/errors.txt";
    platform::Child child;
    ASSERT_TRUE(
        platform::spawnChild(nm, {"-D", "--defined-only", RAYDECK_PLUGIN_FILE}, options, child)
            .ok());
    bool exited = false;
    int code = -1;
    ASSERT_TRUE(platform::waitChild(child, 60000, exited, code).ok());
    if (!exited) {
        platform::killChild(child);
        platform::waitChild(child, -1, exited, code);
        FAIL() << "nm did not finish";
    }
    ASSERT_EQ(code, 0) << "nm failed";
    std::vector<std::string> symbols;
    std::ifstream listing(fs::u8path(options.outputFile));
    for (std::string s; std::getline(listing, s);) {
        while (!s.empty() && s.back() == '\r') {
            s.pop_back();
        }
        const size_t space = s.find_last_of(' ');
        symbols.push_back(space == std::string::npos ? s : s.substr(space + 1));
    }
    EXPECT_EQ(symbols, std::vector<std::string>{"c4d_main"});
}
