// Installation discovery over per-test `.reg` files with real files for "BinName".
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Installation.h"
#include "RegistryFixture.h"
#include "platform/clock.h"
#include "platform/utf.h"

namespace {

using trv::link::Installation;

std::string narrow(const std::u16string& s) {
    std::string out;
    EXPECT_TRUE(platform::utf16ToUtf8(s, out).ok());
    return out;
}

const Installation& inst() {
    return Installation::instance();
}

// The BinFolder value of the chosen installation, "version:folder", or "none".
std::string chosen(int minVersion, int maxVersion) {
    int version = 0;
    const std::u16string folder = inst().binFolder(minVersion, maxVersion, version);
    if (version < 0) {
        return "none";
    }
    return std::to_string(version) + ":" + narrow(folder);
}

class InstallationTest : public RegistryFixture {
  protected:
    std::string folder(const std::string& name) {
        return "\"BinFolder\"=" + regQuoted(name) + "\n";
    }
};

TEST(InstallationVersionFromPath, Examples) {
    EXPECT_EQ(Installation::versionFromPath(u"C:\\Programs\\Raydeck 7\\"), 7);
    EXPECT_EQ(Installation::versionFromPath(u"C:\\Programs\\Raydeck7"), 7);
    EXPECT_EQ(Installation::versionFromPath(u"C:\\Programs\\Raydeck\\"), -1);
    EXPECT_EQ(Installation::versionFromPath(u"/opt/Raydeck 12/"), 12);
    EXPECT_EQ(Installation::versionFromPath(u"Raydeck 7"), -1);       // no separator
    EXPECT_EQ(Installation::versionFromPath(u"C:\\Bin\\"), -1);       // none of the letters
    EXPECT_EQ(Installation::versionFromPath(u"C:\\Raydeck x\\"), 0);  // no digits
}

TEST_F(InstallationTest, NoRegistryOrNoKeyFindsNothing) {
    EXPECT_EQ(chosen(7, 8), "none");
    int first = 11, last = 12;
    EXPECT_EQ(inst().liveLinkPorts(5, 20, first, last), -3);
    EXPECT_EQ(first, 11);
    EXPECT_EQ(last, 12);
    writeRegistry("[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n");
    EXPECT_EQ(chosen(7, 8), "none");
    EXPECT_TRUE(inst().binName(7, 8).empty());
    EXPECT_FALSE(inst().launch(7, 8));
}

TEST_F(InstallationTest, CurrentUserWinsTiesAndHigherVersionWinsAcrossRoots) {
    const std::string bin = makeProgram("raydeck");
    writeRegistry(installation(kUser, "Raydeck 7", bin, folder("user7")) +
                  installation(kMachine, "Raydeck 7", bin, folder("machine7")));
    EXPECT_EQ(chosen(7, 8), "7:user7");

    writeRegistry(installation(kUser, "Raydeck 7", bin, folder("user7")) +
                  installation(kMachine, "Raydeck 8", bin, folder("machine8")));
    EXPECT_EQ(chosen(7, 8), "8:machine8");
    EXPECT_EQ(chosen(7, 7), "7:user7");
}

TEST_F(InstallationTest, KeyWhoseProgramIsMissingIsSkipped) {
    const std::string bin = makeProgram("raydeck");
    std::filesystem::create_directory(dir() + "/folder");
    writeRegistry(installation(kUser, "Raydeck 8", dir() + "/missing", folder("eight")) +
                  installation(kUser, "Raydeck 7", bin, folder("seven")) +
                  installation(kUser, "Raydeck 6", dir() + "/folder", folder("folder")));
    EXPECT_EQ(chosen(7, 8), "7:seven");
    // A folder does not open as a file either.
    EXPECT_EQ(chosen(6, 6), "none");
    // The BinName file is found through `\` separators too.
    writeRegistry(installation(kUser, "Raydeck 7", dir() + "\\raydeck", folder("slashed")));
    EXPECT_EQ(chosen(7, 8), "7:slashed");
}

TEST_F(InstallationTest, ActivePathThenVersionValueThenScan) {
    const std::string bin = makeProgram("raydeck");
    const std::string all = installation(kUser, "Raydeck 7", bin, folder("seven")) +
                            installation(kUser, "Raydeck 8", bin, folder("eight")) +
                            installation(kUser, "Raydeck 9", bin, folder("nine"));
    // Active path to 9 is out of 7..8: ignored although valid; the version value decides.
    writeRegistry(
        "[HKEY_CURRENT_USER\\SOFTWARE\\Tarvik]\n"
        "\"RaydeckActivePath\"=\"C:\\\\Programs\\\\Raydeck 9\\\\\"\n"
        "\"RaydeckVersion\"=\"Raydeck 7\"\n" +
        all);
    EXPECT_EQ(chosen(7, 8), "7:seven");
    EXPECT_EQ(chosen(7, 9), "9:nine");
    // Without a usable version value the scan takes the highest accepted version.
    writeRegistry(
        "[HKEY_CURRENT_USER\\SOFTWARE\\Tarvik]\n"
        "\"RaydeckActivePath\"=\"C:\\\\Programs\\\\Raydeck 9\\\\\"\n" +
        all);
    EXPECT_EQ(chosen(7, 8), "8:eight");
    // The active path wins over a higher installed version.
    writeRegistry(
        "[HKEY_CURRENT_USER\\SOFTWARE\\Tarvik]\n"
        "\"RaydeckActivePath\"=\"C:\\\\Programs\\\\Raydeck 7\\\\\"\n"
        "\"RaydeckVersion\"=\"Raydeck 8\"\n" +
        all);
    EXPECT_EQ(chosen(7, 9), "7:seven");
}

TEST_F(InstallationTest, VersionValueWithoutBlankIsRejected) {
    const std::string bin = makeProgram("raydeck");
    writeRegistry("[HKEY_CURRENT_USER\\SOFTWARE\\Tarvik]\n\"RaydeckVersion\"=\"Raydeck7\"\n" +
                  installation(kUser, "Raydeck7", bin, folder("joined")));
    EXPECT_EQ(chosen(7, 8), "none");
    // With the blank the same kind of key is taken, even outside the scanned names.
    writeRegistry(
        "[HKEY_CURRENT_USER\\SOFTWARE\\Tarvik]\n\"RaydeckVersion\"=\"Raydeck  8 beta\"\n" +
        installation(kUser, "Raydeck  8 beta", bin, folder("beta")));
    EXPECT_EQ(chosen(7, 8), "8:beta");
}

TEST_F(InstallationTest, PortsAsNumbersOrText) {
    const std::string bin = makeProgram("raydeck");
    auto ports = [&](const std::string& values, int& first, int& last) {
        writeRegistry(installation(kUser, "Raydeck 7", bin, values));
        return inst().liveLinkPorts(5, 20, first, last);
    };
    int first = -5, last = -6;
    EXPECT_EQ(
        ports("\"LiveLinkPort\"=dword:00002328\n\"LiveLinkMaxPort\"=dword:00002332\n", first, last),
        0);
    EXPECT_EQ(first, 9000);
    EXPECT_EQ(last, 9010);

    first = last = -1;
    EXPECT_EQ(ports("\"LiveLinkPort\"=\"9000\"\n\"LiveLinkMaxPort\"=\"9010\"\n", first, last), 0);
    EXPECT_EQ(first, 9000);
    EXPECT_EQ(last, 9010);

    first = last = -1;
    EXPECT_EQ(ports("\"LiveLinkPort\"=\"9000\"\n", first, last), -1);
    EXPECT_EQ(first, 9000);
    EXPECT_EQ(last, -1);

    first = last = -1;
    EXPECT_EQ(ports("\"LiveLinkMaxPort\"=dword:00002332\n", first, last), -2);
    EXPECT_EQ(first, -1);
    EXPECT_EQ(last, -1);

    // Binary data is neither a number nor text.
    EXPECT_EQ(ports("\"LiveLinkPort\"=hex:28,23,00,00\n", first, last), -2);
    // A number and a text make a range too.
    EXPECT_EQ(ports("\"LiveLinkPort\"=dword:00002328\n\"LiveLinkMaxPort\"=\"9010\"\n", first, last),
              0);
    EXPECT_EQ(last, 9010);
}

TEST_F(InstallationTest, ValuesTooLongForTheirBuffersFail) {
    const std::string bin = makeProgram("raydeck");
    const std::string fits(259, 'f');     // 520 bytes with the NUL
    const std::string tooLong(260, 't');  // 522
    writeRegistry(installation(kUser, "Raydeck 7", bin, folder(fits)));
    EXPECT_EQ(chosen(7, 7), "7:" + fits);
    writeRegistry(installation(kUser, "Raydeck 7", bin, folder(tooLong)));
    EXPECT_EQ(chosen(7, 7), "7:");

    int first = 1, last = 2;
    writeRegistry(
        installation(kUser, "Raydeck 7", bin,
                     "\"LiveLinkPort\"=" + regQuoted("9000" + std::string(252, ' ')) + "\n"));
    EXPECT_EQ(inst().liveLinkPorts(7, 7, first, last), -2);  // 257 units: 516 bytes
    EXPECT_EQ(first, 1);

    // A 300-unit program path validates the key (2048 bytes) but is too long to be started
    // (520 bytes).
    std::string longDir = dir() + "/" + std::string(200, 'd');
    std::filesystem::create_directory(longDir);
    const std::string longBin = longDir + "/" + std::string(300 - longDir.size() - 1, 'b');
    ASSERT_EQ(longBin.size(), 300u);
    std::ofstream(longBin) << "#!/bin/sh\n";
    writeRegistry(installation(kUser, "Raydeck 7", longBin, folder("long")));
    EXPECT_EQ(chosen(7, 7), "7:long");
    EXPECT_TRUE(inst().binName(7, 7).empty());
    EXPECT_FALSE(inst().launch(7, 7));

    // A version value over 2048 bytes is not read: the scan decides.
    writeRegistry("[HKEY_CURRENT_USER\\SOFTWARE\\Tarvik]\n\"RaydeckVersion\"=" +
                  regQuoted("Raydeck 7" + std::string(1100, ' ')) + "\n" +
                  installation(kUser, "Raydeck 7" + std::string(1100, ' '), bin, folder("huge")) +
                  installation(kUser, "Raydeck 8", bin, folder("eight")));
    EXPECT_EQ(chosen(7, 8), "8:eight");
}

TEST_F(InstallationTest, WrongValueTypesFail) {
    const std::string bin = makeProgram("raydeck");
    writeRegistry(installation(kUser, "Raydeck 7", bin,
                               "\"BinFolder\"=dword:00000001\n\"ResourceFolder\"=hex:41,00\n"));
    EXPECT_EQ(chosen(7, 7), "7:");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(inst().resourceFolder(7, 7).empty());
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Could not find Raydeck resource folder\n");
    // A BinName that is not text leaves the key invalid.
    writeRegistry("[HKEY_CURRENT_USER\\SOFTWARE\\Tarvik\\Raydeck 7]\n\"BinName\"=dword:00000001\n");
    EXPECT_EQ(chosen(7, 7), "none");
}

TEST_F(InstallationTest, ResourceFolderMessageOnlyWhenTheKeyExists) {
    const std::string bin = makeProgram("raydeck");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(inst().resourceFolder(5, 20).empty());
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    writeRegistry(installation(kUser, "Raydeck 7", bin, "\"ResourceFolder\"=\"/res\"\n"));
    testing::internal::CaptureStdout();
    EXPECT_EQ(inst().resourceFolder(5, 20), u"/res");
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(inst().binName(5, 20), std::u16string(bin.begin(), bin.end()));
}

TEST_F(InstallationTest, LaunchStartsTheProgram) {
    const std::string marker = dir() + "/started";
    const std::string bin = makeProgram(
        "raydeck", "echo $# > '" + marker + ".tmp'\nmv '" + marker + ".tmp' '" + marker + "'\n");
    writeRegistry(installation(kUser, "Raydeck 7", bin));
    ASSERT_TRUE(inst().launch(7, 8));
    bool started = false;
    for (int i = 0; i < 500 && !started; ++i) {
        started = std::filesystem::exists(marker);
        if (!started) {
            platform::sleepMs(10);
        }
    }
    ASSERT_TRUE(started);
    std::ifstream in(marker);
    std::string args;
    std::getline(in, args);
    EXPECT_EQ(args, "0");
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);  // nothing of ours left to reap
}

}  // namespace
