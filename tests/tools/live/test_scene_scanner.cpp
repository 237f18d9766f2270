// The renderer's scene scanner, the end line and acknowledgement, and announcements.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/importers/sceneapi/scene_file_test_util.h"
#include "tools/live/LiveAnnouncement.h"
#include "tools/live/LiveProtocol.h"
#include "tools/live/SceneScanner.h"
#include "trvScene_api_file.h"

namespace {

using raydeck::live::SceneScanner;

struct Scanned {
    std::string modelSet;
    std::vector<std::pair<std::string, double>> progress;
};

Scanned scan(const std::string& text, size_t piece) {
    Scanned out;
    SceneScanner scanner([&](const std::string& t, double f) { out.progress.emplace_back(t, f); });
    for (size_t at = 0; at < text.size(); at += piece) {
        scanner.feed(text.data() + at, std::min(piece, text.size() - at));
    }
    out.modelSet = scanner.modelSetName().value_or("<none>");
    return out;
}

// Packed bytes that read as text would close the open blocks and open a top-level group.
TEST(SceneScanner, PackedBytesThatSpellAGroupAreSkipped) {
    const char forged[] = "\n}\n}\n}\ngroup \"evil\" {\nprogress \"evil\" 1\n";
    std::vector<int32_t> words((sizeof forged + 3) / 4 + 4, 0x0a0a0a0a);
    std::memcpy(words.data(), forged, sizeof forged - 1);
    const std::string text = writtenBy(true, [&](trvScene_api_file& w) {
        w.beginLoad("trvrtopt.so");
        trvArray a{words.data(), static_cast<uint32_t>(words.size())};
        w.attribute("ints", trvType::int_ | trvType::array_bit, &a);
        w.endLoad();
        w.beginGroup("Real", true);
        w.progress("Shelf", 0.25f);
        w.beginGroup("Inner", true);
        w.endGroup();
        w.endGroup();
        w.beginGroup("Later", true);
        w.endGroup();
    });
    ASSERT_NE(text.find("group \"evil\""), std::string::npos);  // the bytes are in the stream
    for (size_t piece : {text.size(), size_t{1}, size_t{7}}) {
        Scanned s = scan(text, piece);
        EXPECT_EQ(s.modelSet, "Real") << "piece " << piece;
        ASSERT_EQ(s.progress.size(), 1u) << "piece " << piece;
        EXPECT_EQ(s.progress[0].first, "Shelf");
        EXPECT_DOUBLE_EQ(s.progress[0].second, 0.25);
    }
}

TEST(SceneScanner, NamesInHexFormQuotesAndControlBytes) {
    const std::string text = writtenBy(true, [&](trvScene_api_file& w) {
        w.print("progress \"not this\" 0.5 and a { brace");
        w.progress("Caf\xc3\xa9", 0.5f);
        w.beginGroup("Caf\xc3\xa9 \"1\"", true);
        w.endGroup();
    });
    Scanned s = scan(text, 3);
    EXPECT_EQ(s.modelSet, "Caf\xc3\xa9 \"1\"");
    ASSERT_EQ(s.progress.size(), 1u);
    EXPECT_EQ(s.progress[0].first, "Caf\xc3\xa9");

    // A byte 1 inside a quoted name is text, not the start of a packed block.
    const std::string control = writtenBy(true, [&](trvScene_api_file& w) {
        w.beginGroup(
            "a\x01\x02\x03"
            "cbcdefgh",
            true);
        w.endGroup();
        w.beginGroup("second", true);
        w.endGroup();
    });
    EXPECT_EQ(scan(control, control.size()).modelSet,
              "a\x01\x02\x03"
              "cbcdefgh");
}

TEST(SceneScanner, NoGroupNoModelSet) {
    const std::string text = writtenBy(true, [&](trvScene_api_file& w) {
        w.beginCamera(nullptr);
        w.endCamera();
        w.beginShader("named", "trv_diffuse");
        w.endShader();
    });
    EXPECT_EQ(scan(text, 5).modelSet, "<none>");
}

TEST(LiveProtocol, EndLineMustCountTheBytesBeforeIt) {
    const std::string scene = "group \"a\" {\n}\n";
    const std::string stream = scene + raydeck::live::endOfSceneLine(scene.size());
    std::uint64_t n = 0;
    ASSERT_TRUE(raydeck::live::parseEndOfScene(stream, stream.size(), n));
    EXPECT_EQ(n, scene.size());
    // Tail only, as the scanner keeps it.
    SceneScanner scanner;
    scanner.feed(stream.data(), stream.size());
    EXPECT_TRUE(raydeck::live::parseEndOfScene(scanner.tail(), scanner.bytes(), n));

    // A count that does not match, a cut end line, and no end line at all.
    const std::string wrong = scene + raydeck::live::endOfSceneLine(scene.size() + 1);
    EXPECT_FALSE(raydeck::live::parseEndOfScene(wrong, wrong.size(), n));
    EXPECT_FALSE(
        raydeck::live::parseEndOfScene(stream.substr(0, stream.size() - 1), stream.size() - 1, n));
    EXPECT_FALSE(raydeck::live::parseEndOfScene(scene, scene.size(), n));

    EXPECT_TRUE(raydeck::live::parseAcknowledgement(raydeck::live::acknowledgement(42), n));
    EXPECT_EQ(n, 42u);
    EXPECT_FALSE(raydeck::live::parseAcknowledgement("stored 4", n));
    EXPECT_FALSE(raydeck::live::parseAcknowledgement("stored x\n", n));
}

TEST(LiveAnnouncement, RoundTripsNamesThatNeedEscaping) {
    raydeck::live::Announcement a;
    a.versionMajor = 8;
    a.processId = 4242;
    a.livelinkPort = 9001;
    a.modelSets = {"a<b>&\"c\"", "Caf\xc3\xa9"};
    raydeck::live::Announcement back;
    ASSERT_TRUE(raydeck::live::parseAnnouncement(raydeck::live::announcementXml(a), back));
    EXPECT_EQ(back.versionMajor, 8);
    EXPECT_EQ(back.processId, 4242);
    EXPECT_EQ(back.livelinkPort, 9001);
    EXPECT_EQ(back.modelSets, a.modelSets);

    EXPECT_FALSE(raydeck::live::parseAnnouncement("<renderer/>", back));
    EXPECT_FALSE(raydeck::live::parseAnnouncement(
        "<renderer><version_major>7</version_major><process_id>x</process_id>"
        "<livelink_port>1</livelink_port></renderer>",
        back));
    EXPECT_EQ(raydeck::live::sceneInfoXml({}), "<scene><modelsets/></scene>");
}

}  // namespace
