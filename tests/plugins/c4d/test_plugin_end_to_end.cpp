// raydeck-host with the real plug-in file: Export to a file and to standard output, Render and
// Update without a renderer, Export into a missing folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/FileText.h"
#include "tests/support/TempDir.h"

namespace {

struct HostRun {
    int exitCode = -1;
    std::string out, err;
};

class PluginEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        doc_ = dir_.path() + "/scene.json";
        std::ofstream(doc_) << R"({"format": "raydeck-host-document", "version": 1,
            "objects": [{"name": "Cube", "type": 5159, "cache": {"name": "Cube", "type": 5100,
              "points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]], "polygons": [[0,1,2,3]]}}]})";
    }

    // Runs raydeck-host with the build's plug-in; no installation is found (empty registry).
    HostRun host(const std::vector<std::string>& args) {
        const std::string outPath = dir_.path() + "/stdout", errPath = dir_.path() + "/stderr";
        std::vector<std::string> argv = {RAYDECK_HOST_EXE, "--plugin", RAYDECK_PLUGIN_FILE};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string registry = "RAYDECK_REGISTRY=" + dir_.path() + "/none.reg";
        const std::string runtime = "RAYDECK_RUNTIME_DIR=" + dir_.path() + "/run";
        pid_t pid = fork();
        if (pid == 0) {
            int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(o, 1);
            dup2(e, 2);
            if (chdir(dir_.path().c_str()) != 0) {
                _exit(126);
            }
            std::vector<char*> cargv;
            for (std::string& a : argv) {
                cargv.push_back(&a[0]);
            }
            cargv.push_back(nullptr);
            std::vector<char*> env = {const_cast<char*>(registry.c_str()),
                                      const_cast<char*>(runtime.c_str()), nullptr};
            execve(cargv[0], cargv.data(), env.data());
            _exit(127);
        }
        HostRun r;
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = readFile(outPath);
        r.err = readFile(errPath);
        return r;
    }

    TempDir dir_;
    std::string doc_;
};

const char kHeader[] =
    "//---tarvik:dal:7---\n//---import:dal:1---\n//---id:1---\n// This is a Raydeck scene file\n";

}  // namespace

TEST_F(PluginEndToEnd, ExportToFileAndToStandardOutputWriteTheSameScene) {
    const std::string file = dir_.path() + "/out.rdk";
    HostRun toFile = host({"export", doc_, "-o", file});
    EXPECT_EQ(toFile.exitCode, 0) << toFile.err;
    const std::string scene = readFile(file);
    EXPECT_EQ(scene.rfind(kHeader, 0), 0u);
    EXPECT_NE(scene.find("load \"trvrtopt.so\" {"), std::string::npos);
    EXPECT_NE(scene.find("group \"scene\" {"), std::string::npos);
    EXPECT_NE(scene.find("object \"Cube\" {"), std::string::npos);

    HostRun toStdout = host({"export", doc_, "-o", "-"});
    EXPECT_EQ(toStdout.exitCode, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out, scene);
}

TEST_F(PluginEndToEnd, RenderAndUpdateWithoutRendererFailWithTheLinksReason) {
    for (const char* command : {"render", "update"}) {
        SCOPED_TRACE(command);
        HostRun r = host({command, doc_});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("Failed to connect."), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(PluginEndToEnd, ExportIntoMissingFolderFailsWithTheOpenError) {
    const std::string file = dir_.path() + "/missing/out.rdk";
    HostRun r = host({"export", doc_, "-o", file});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("could not open file: \"" + file + "\""), std::string::npos) << r.err;
}
