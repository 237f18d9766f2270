// What raydeck-host adds after a command: the export summary, the reason behind a scene file that
// cannot be opened, the renderer's log after Render and Update, and the registry that held no
// installation.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "tests/support/RegistryFile.h"
#include "tests/support/TempDir.h"
#include "tools/host/HostReport.h"
#include "tools/host/ProgressLine.h"
#include "tools/host/RendererProgress.h"

namespace fs = std::filesystem;
using namespace raydeck::hostsim;

namespace {

std::string summaryOf(const std::string& where, const std::string& text, double seconds,
                      double loadSeconds = -1) {
    rdk::MemorySource source(text);
    return exportSummary(where, source, seconds, loadSeconds);
}

}  // namespace

TEST(ExportSummary, CountsWhatTheSceneHoldsAndNamesASceneThatDoesNotRead) {
    const std::string scene =
        "//---tarvik:dal:7---\nversion 8\n"
        "camera \"Cam\" {\n  fov 40\n}\n"
        "group \"scene\" {\n"
        "  object \"Quad\" {\n"
        "    geometry \"triangles\" {\n"
        "      \"vertices\" [0 0 0 1 0 0 1 1 0 0 1 0]\n"
        "      \"triangles\" [0 1 2 0 2 3]\n"
        "    }\n"
        "  }\n"
        "}\n";
    EXPECT_EQ(summaryOf("q.rdk", scene, 0.25),
              "q.rdk: " + std::to_string(scene.size()) +
                  " bytes, 1 object, 2 triangles, 0 materials, 1 camera, 0 lights in 0.25 s");
    EXPECT_EQ(summaryOf("q.rdk", scene, 0.25, 1.5),
              "q.rdk: " + std::to_string(scene.size()) +
                  " bytes, 1 object, 2 triangles, 0 materials, 1 camera, 0 lights in 0.25 s "
                  "(document loaded in 1.50 s)");
    // The size counts the whole text, also past the place where reading stopped.
    EXPECT_EQ(summaryOf("x", "group \"a\" {\n}\n}\n\n\n", 1),
              "x: 18 bytes in 1.00 s (not read back as a scene: offset 14: closing brace without "
              "an open block)");
    EXPECT_EQ(summaryOf("x", "group \"a\" {\n", 1),
              "x: 12 bytes in 1.00 s (not read back as a scene: offset 0: block not closed at the "
              "end of the file)");
    EXPECT_NE(summaryOf("big", std::string(20 * 1024, '\n'), 0).find("big: 20.0 KiB"),
              std::string::npos);
}

TEST(ProgressLine, RedrawsOneLineOnATerminalAndNothingElsewhere) {
    std::ostringstream terminal, pipe;
    {
        ProgressLine line(terminal, true);
        line.update("Cube", 42);
        line.update("Sphere\n", 43);
        ProgressLine quiet(pipe, false);
        quiet.update("Cube", 42);
    }
    EXPECT_EQ(terminal.str(),
              "\rraydeck-host: 42% Cube\x1b[K\rraydeck-host: 43% Sphere \x1b[K\r\x1b[K");
    EXPECT_EQ(pipe.str(), "");
    // A long name is cut at a whole character: "é" is two bytes.
    EXPECT_EQ(ProgressLine::format("ab\xc3\xa9", 5, 20), "raydeck-host: 5% ab");
    EXPECT_EQ(ProgressLine::format("ab\xc3\xa9", 5, 21), "raydeck-host: 5% ab\xc3\xa9");
}

TEST(RendererProgress, ReadsImportLinesAndNothingElse) {
    std::string name;
    int percent = -1;
    EXPECT_TRUE(RendererProgress::parseImportLine(
        "2026-01-01 10:00:00 raydeck-renderer: importing \"Cube \"7\"\" 0.425", name, percent));
    EXPECT_EQ(name, "Cube \"7\"");
    EXPECT_EQ(percent, 43);
    EXPECT_TRUE(RendererProgress::parseImportLine("t raydeck-renderer: importing \"\" 3.000", name,
                                                  percent));
    EXPECT_EQ(percent, 100);  // never past the end
    for (const char* line : {"t raydeck-renderer: scene complete: model set \"a\", 3 bytes",
                             "t raydeck-renderer: importing \"Cube\" ", "importing \"Cube\" 0.5",
                             "t raydeck-renderer: importing \"Cube\" -0.5",
                             "t raydeck-renderer: importing \"Cube\" 0.5x"}) {
        EXPECT_FALSE(RendererProgress::parseImportLine(line, name, percent)) << line;
    }
}

// Render and Update were silent on the terminal: the renderer's import showed only in its log.
TEST(RendererProgress, FollowsTheLogsFromWhereTheyStoodAndNewOnesFromTheirStart) {
    TempDir dir;
    const fs::path folder = fs::u8path(dir.path());
    const fs::path old = folder / "100.log";
    std::ofstream(old) << "t raydeck-renderer: importing \"Earlier\" 1.000\n";
    std::mutex mutex;
    std::vector<std::pair<std::string, int>> seen;
    RendererProgress watch(dir.path(), [&](const std::string& name, int percent) {
        std::lock_guard<std::mutex> lock(mutex);
        seen.emplace_back(name, percent);
    });
    std::ofstream(old, std::ios::app) << "t raydeck-renderer: importing \"Cube\" 0.500\n";
    std::ofstream(folder / "200.log") << "t raydeck-renderer: started\n"
                                      << "t raydeck-renderer: importing \"Sphere\" 1.000\n";
    std::ofstream(folder / "notes.txt") << "t raydeck-renderer: importing \"No\" 1.000\n";
    // The watcher's own thread finds both.
    for (int i = 0; i < 100; ++i) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (seen.size() >= 2) {
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    watch.stop();
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, int>>{{"Cube", 50}, {"Sphere", 100}}));

    // A line still being written is read once it ends.
    seen.clear();
    std::ofstream(old, std::ios::app) << "t raydeck-renderer: importing \"Half\" 0.2";
    watch.poll();
    EXPECT_TRUE(seen.empty());
    std::ofstream(old, std::ios::app) << "50\n";
    watch.poll();
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, int>>{{"Half", 25}}));
}

TEST(OutputProblem, NamesFoldersMissingFoldersAndLeavesNoFileBehind) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const fs::path root = dir.path();
    fs::create_directory(root / "sub");
    std::ofstream(root / "plain") << "x";
    EXPECT_EQ(outputProblem((root / "sub").string()), "is a folder");
    EXPECT_EQ(outputProblem((root / "none" / "a.rdk").string()),
              "the folder " + (root / "none").string() + " does not exist");
    EXPECT_EQ(outputProblem((root / "plain" / "a.rdk").string()),
              (root / "plain").string() + " is not a folder");
    // A place that takes the file shows no reason, and asking must not leave a file there.
    EXPECT_EQ(outputProblem((root / "sub" / "a.rdk").string()), "");
    EXPECT_FALSE(fs::exists(root / "sub" / "a.rdk"));
    EXPECT_EQ(outputProblem((root / "plain").string()), "");
    EXPECT_EQ(std::ifstream(root / "plain").get(), 'x');
}

TEST(RendererNews, TheNewestLogSinceTheCommandWithItsLastStoredScene) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const fs::path run = dir.path();
    std::ofstream(run / "11.log") << "x raydeck-renderer: scene complete: model set \"old\"\n";
    std::ofstream(run / "11.xml") << "<renderer/>";
    const auto since = fs::file_time_type::clock::now();
    fs::last_write_time(run / "11.log", since - std::chrono::seconds(5));
    RendererNews news;
    EXPECT_FALSE(findRendererNews(run.string(), since, news));

    {
        // A long log: only its end is read, so the last scene must come from there.
        std::ofstream log(run / "22.log");
        log << "x raydeck-renderer: scene complete: model set \"a\", 5 bytes, stored in /s/1.rdk\n";
        for (int i = 0; i < 5000; ++i) {
            log << "x raydeck-renderer: importing \"b\" 0.500\n";
        }
        log << "x raydeck-renderer: scene complete: model set \"b\", 9 bytes, stored in /s/2.rdk\n"
               "x raydeck-renderer: importing \"c\" 0.100\n";
    }
    fs::last_write_time(run / "22.log", since + std::chrono::seconds(1));
    ASSERT_TRUE(findRendererNews(run.string(), since, news));
    EXPECT_EQ(news.log, (run / "22.log").string());
    EXPECT_EQ(news.scene, "scene complete: model set \"b\", 9 bytes, stored in /s/2.rdk");
}

TEST(MissingInstallation, SaysWhichRegistryFileWasReadAndWhatItLacks) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string reg = dir.path() + "/raydeck.reg";
    setenv("RAYDECK_REGISTRY", reg.c_str(), 1);
    EXPECT_EQ(missingInstallation(7, 8),
              "no Raydeck 7 to 8 installation: the registry file " + reg +
                  " does not exist (RAYDECK_REGISTRY names the file to read)");

    const std::string renderer = dir.path() + "/renderer";
    auto writeRegistry = [&](const std::string& binName) {
        std::ofstream(reg) << installationReg(binName);
    };
    writeRegistry(renderer);  // names a file that is not there
    EXPECT_EQ(missingInstallation(7, 8),
              "no Raydeck 7 to 8 installation whose BinName names an existing file in the "
              "registry file " +
                  reg);
    std::ofstream(renderer) << "#!/bin/sh\n";
    EXPECT_EQ(missingInstallation(7, 8), "");
    EXPECT_NE(missingInstallation(9, 9), "");
    unsetenv("RAYDECK_REGISTRY");
}
