// The renderer link over a fake query interface and a fake back end: reading the instance list,
// choosing a renderer, launching and polling, the Live Link port and the port scan.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "raydecklive_api.h"
#include "raydecklive_link.h"
#include "tests/importers/sceneapi/RecordingApi.h"
#include "tests/support/RegistryFile.h"
#include "tests/support/TempDir.h"

using trv::link::LinkState;
using trv::link::RendererInstance;

namespace {

// One running renderer as the instance list shows it.
std::string entry(int version, long pid, int port) {
    return "<instance><version_major>" + std::to_string(version) + "</version_major><process_id>" +
           std::to_string(pid) + "</process_id><livelink_port>" + std::to_string(port) +
           "</livelink_port></instance>";
}
std::string listOf(const std::string& entries) {
    return "<instances>" + entries + "</instances>";
}

const char kEmptyScene[] = "<scene><modelsets><set/></modelsets></scene>";
const char kBusyScene[] = "<scene><modelsets><set><object/></set></modelsets></scene>";

// Answers from scripted texts and records every call.
class FakeQuery : public QueryApi {
  public:
    std::vector<std::string> lists;  // one per instanceList() call; the last one repeats
    bool nullList = false;
    std::map<std::int64_t, std::string> scenes;  // by process id; missing: null text
    std::set<std::int64_t> refused;              // selectInstance fails for these
    std::vector<std::string> calls;
    std::vector<std::string> misuse;  // selections over a held one, releases and scene questions
                                      // without one
    bool holding = false;

    const char* instanceList() override {
        calls.push_back("list");
        if (nullList || lists.empty()) {
            return nullptr;
        }
        current_ = lists[std::min(listCalls_++, lists.size() - 1)];
        return current_.c_str();
    }
    bool selectInstance(std::int64_t pid) override {
        calls.push_back("select " + std::to_string(pid));
        if (holding) {
            misuse.push_back("select " + std::to_string(pid) + " over a held selection");
        }
        selected_ = pid;
        holding = refused.count(pid) == 0;
        return holding;
    }
    void reserved2() override {}
    bool releaseInstance() override {
        calls.push_back("release");
        if (!holding) {
            misuse.push_back("release without a selection");
        }
        holding = false;
        return true;
    }
    void reserved4() override {}
    void reserved5() override {}
    const char* sceneInfo() override {
        calls.push_back("scene");
        if (!holding) {
            misuse.push_back("scene without a selection");
        }
        auto it = scenes.find(selected_);
        return it == scenes.end() ? nullptr : it->second.c_str();
    }

    int count(const std::string& call) const {
        return static_cast<int>(std::count(calls.begin(), calls.end(), call));
    }

  private:
    std::string current_;
    std::size_t listCalls_ = 0;
    std::int64_t selected_ = 0;
};

// A back end that accepts connections on the given ports only.
class PortApi : public RecordingApi {
  public:
    std::set<unsigned> accepting;
    std::vector<std::string> connects;
    bool connect(const char* host, unsigned port, int wait) override {
        connects.push_back(std::string(host) + ":" + std::to_string(port) + "/" +
                           std::to_string(wait));
        return accepting.count(port) != 0;
    }
};

// The live library is the fakes; launch, ports and sleep are scripted unless `realInstallation`.
class FakeServices : public trv::link::LinkServices {
  public:
    PortApi api;
    FakeQuery query;
    bool haveSceneApi = true;
    bool haveQueryApi = true;
    bool realInstallation = false;
    bool launchWorks = true;
    int launches = 0;
    int portStatus = 0;
    int firstPort = 9000;
    int lastPort = 9003;
    std::vector<int> sleeps;

    trvScene_api* sceneApi(int, int) override { return haveSceneApi ? &api : nullptr; }
    QueryApi* queryApi(int, int) override { return haveQueryApi ? &query : nullptr; }
    bool launch(int lo, int hi) override {
        ++launches;
        return realInstallation ? LinkServices::launch(lo, hi) : launchWorks;
    }
    int liveLinkPorts(int lo, int hi, int& first, int& last) override {
        if (realInstallation) {
            return LinkServices::liveLinkPorts(lo, hi, first, last);
        }
        if (portStatus >= -1) {
            first = firstPort;
        }
        if (portStatus == 0) {
            last = lastPort;
        }
        return portStatus;
    }
    void sleepMs(int ms) override { sleeps.push_back(ms); }
};

LinkState renderState() {
    LinkState s;
    s.minVersion = 7;
    s.maxVersion = 8;
    s.retryDelayMs = 5;
    return s;
}
LinkState updateState(const std::string& scene) {
    LinkState s = renderState();
    s.sceneName = scene;
    s.acceptAnyInstance = true;
    return s;
}

// The instances listed from `xml`, as (version, process id, port).
using Fields = std::vector<std::tuple<int, std::int64_t, int>>;
Fields listed(const std::string& xml) {
    FakeQuery q;
    q.lists = {xml};
    Fields fields;
    for (const RendererInstance& r : trv::link::listInstances(q, renderState())) {
        fields.emplace_back(r.versionMajor, r.processId, r.livelinkPort);
    }
    return fields;
}

}  // namespace

// --- the instance list -----------------------------------------------------------------------

TEST(InstanceList, ReadsFieldsInOrderAndDropsVersionsOutsideTheRange) {
    EXPECT_EQ(listed(listOf(entry(7, 11, 9001) + entry(9, 12, 9002) + entry(6, 13, 0) +
                            entry(8, -2, 9004))),
              (Fields{{7, 11, 9001}, {8, -2, 9004}}));  // -2 sign-extended
}

TEST(InstanceList, FieldsAreFoundDepthFirstAnywhereInTheEntryAndTheFirstWins) {
    EXPECT_EQ(listed("<l><r><a><b><version_major>8</version_major></b></a>"
                     "<info><process_id> 42 </process_id><process_id>43</process_id></info>"
                     "<livelink_port>\n9005\n</livelink_port></r></l>"),
              (Fields{{8, 42, 9005}}));
}

// Fields read as decimal numbers: blanks before, digits up to the first other character; text
// without digits is 0, which drops the entry only for the version.
TEST(InstanceList, FieldsReadTheLeadingDecimalNumberOfTheirText) {
    const std::pair<const char*, int> versions[] = {
        {"7x", 7},  {"\n   7\n", 7}, {"7 8", 7}, {"7.0", 7}, {"+8", 8}, {"\t8", 8},
        {"0x7", 0}, {"x7", 0},       {"", 0},    {"--7", 0}, {"+", 0},  {"- 7", 0}};
    for (const auto& [text, version] : versions) {
        SCOPED_TRACE(text);
        EXPECT_EQ(listed(listOf(std::string("<i><version_major>") + text +
                                "</version_major><process_id>1</process_id>"
                                "<livelink_port>1</livelink_port></i>")),
                  version == 0 ? Fields{} : (Fields{{version, 1, 1}}));
    }
    // An indenting renderer, and fields without digits that read 0 (a port of 0: the
    // registry's port range is scanned).
    EXPECT_EQ(listed("<list>\n  <instance>\n    <version_major>\n      8\n    </version_major>\n"
                     "    <process_id> 4711 (main)</process_id>\n"
                     "    <livelink_port>\n 9001\n</livelink_port>\n  </instance>\n"
                     "  <instance><version_major>7</version_major><process_id/>"
                     "<livelink_port>none</livelink_port></instance>\n</list>\n"),
              (Fields{{8, 4711, 9001}, {7, 0, 0}}));
}

TEST(InstanceList, EntriesWithMissingOrOutOfRangeFieldsAreSkipped) {
    for (const char* bad : {"2147483648", "-2147483649", "99999999999999999999999"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(listed(listOf(std::string("<i><version_major>7</version_major><process_id>") +
                                bad + "</process_id><livelink_port>1</livelink_port></i>")),
                  Fields{});
    }
    // Only the last two entries are whole.
    EXPECT_EQ(
        listed(listOf("<i><version_major>7</version_major><livelink_port>1</livelink_port></i>"
                      "<i><version_major>7</version_major><process_id>1</process_id></i>"
                      "<i><process_id>1</process_id><livelink_port>1</livelink_port></i>"
                      "<i><version_major><x>7</x></version_major><process_id>1</process_id>"
                      "<livelink_port>1</livelink_port></i>" +
                      entry(7, 5, -3) + entry(7, -2147483647 - 1, 2147483647))),
        (Fields{{7, 5, -3}, {7, -2147483647 - 1, 2147483647}}));
}

TEST(InstanceList, NullGarbageRootlessDeepAndHugeTextsGiveNoEntries) {
    FakeQuery q;
    q.nullList = true;
    EXPECT_TRUE(trv::link::listInstances(q, renderState()).empty());

    const std::string deep = std::string(200000, '<') + std::string(200000, '>');
    std::string nested;
    for (int i = 0; i < 100000; ++i) {
        nested += "<a>";
    }
    const std::string huge = listOf("<i><version_major>" + std::string(8 << 20, '7') +
                                    "</version_major><process_id>1</process_id>"
                                    "<livelink_port>1</livelink_port></i>");
    for (const std::string& text :
         {std::string(), std::string("no xml at all"), std::string("<!-- only a comment -->"),
          std::string("<l><i><version_major>7"), deep, nested, huge}) {
        SCOPED_TRACE(text.substr(0, 40));
        EXPECT_EQ(listed(text), Fields{});
    }
}

TEST(InstanceList, DeeplyNestedEntryWithinTheParserLimitIsSearchedWithoutRecursion) {
    // Just below the parser's depth limit: the field search walks 95 levels.
    std::string open, close;
    for (int i = 0; i < 95; ++i) {
        open += "<d>";
        close += "</d>";
    }
    EXPECT_EQ(listed("<l><i>" + open + "<version_major>7</version_major>" + close +
                     "<process_id>3</process_id><livelink_port>4</livelink_port></i></l>"),
              (Fields{{7, 3, 4}}));
}

// --- the choice --------------------------------------------------------------------------------

TEST(InstanceChoice, RenderTakesTheNewestEmptyRendererAndTheEarlierAmongEquals) {
    FakeQuery q;
    q.scenes = {{1, kEmptyScene}, {2, kEmptyScene}, {3, kEmptyScene}, {4, kBusyScene}};
    LinkState s = renderState();
    const std::vector<RendererInstance> list = {
        {7, 1, 9001}, {8, 2, 9002}, {8, 3, 9003}, {8, 4, 9004}};
    RendererInstance pick = trv::link::chooseInstance(q, list, s);
    EXPECT_EQ(pick.processId, 2);
    EXPECT_FALSE(s.sceneFound);

    // Busy renderers are never taken by Render; neither are scenes without a model-set list.
    q.scenes = {{1, kBusyScene}, {2, "<scene/>"}};
    EXPECT_EQ(trv::link::chooseInstance(q, {{8, 1, 1}, {8, 2, 2}}, s).versionMajor, 0);
}

TEST(InstanceChoice, UpdatePrefersTheMatchThenAnyThenEmpty) {
    const std::string holding =
        "<scene><modelsets><set name=\"car\" modelset=\"active\"><o/></set></modelsets></scene>";
    FakeQuery q;
    q.scenes = {{1, kEmptyScene}, {2, kBusyScene}, {3, holding}};
    LinkState s = updateState("car");

    RendererInstance pick = trv::link::chooseInstance(q, {{8, 1, 1}, {8, 2, 2}, {7, 3, 3}}, s);
    EXPECT_EQ(pick.processId, 3);  // an older renderer holding the scene beats newer ones
    EXPECT_TRUE(s.sceneFound);

    pick = trv::link::chooseInstance(q, {{7, 1, 1}, {8, 2, 2}}, s);
    EXPECT_EQ(pick.processId, 2);  // any content, newest
    EXPECT_FALSE(s.sceneFound);

    // "Any" also covers empty scenes: the newest of all wins, so an empty 8 beats a busy 7.
    pick = trv::link::chooseInstance(q, {{7, 2, 2}, {8, 1, 1}}, s);
    EXPECT_EQ(pick.processId, 1);
}

TEST(InstanceChoice, ModelSetMustBeActiveExactlyNamedAndWithinTheVersionsDepth) {
    struct Case {
        const char* scene;
        int version;
        bool found;
    };
    const Case cases[] = {
        {"<s><l><m name=\"car\" modelset=\"active\"/></l></s>", 7, true},
        {"<s><l><m name=\"car\"/></l></s>", 7, true},
        {"<s><l><m name=\"car\" modelset=\"inactive\"/></l></s>", 7, false},
        {"<s><l><m name=\"car\" modelset=\"Active\"/></l></s>", 7, false},
        // A set that is not active hides everything below it.
        {"<s><l modelset=\"off\"><m name=\"car\"/></l></s>", 7, false},
        {"<s><l><m name=\"Car\"/></l></s>", 7, false},
        {"<s><l><m name=\"car \"/></l></s>", 7, false},
        {"<s><l><g><m name=\"car\"/></g></l></s>", 7, true},  // fourth level
        {"<s><l><g><m name=\"car\"/></g></l></s>", 6, false},
        {"<s><l><m name=\"car\"/></l></s>", 6, true},
        {"<s><l><g><h><m name=\"car\"/></h></g></l></s>", 8, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scene);
        FakeQuery q;
        q.scenes = {{1, c.scene}};
        LinkState s = updateState("car");
        trv::link::chooseInstance(q, {{c.version, 1, 1}}, s);
        EXPECT_EQ(s.sceneFound, c.found);
    }
    // Render names no scene and never finds one, even a set named "".
    FakeQuery q;
    q.scenes = {{1, "<s><l><m name=\"\"/></l></s>"}};
    LinkState s = renderState();
    trv::link::chooseInstance(q, {{7, 1, 1}}, s);
    EXPECT_FALSE(s.sceneFound);
}

TEST(InstanceChoice, EverySuccessfulSelectIsReleasedAndUnreadableScenesTellNothing) {
    FakeQuery q;
    q.refused = {2};
    q.scenes = {{3, "<scene><modelsets><set/>"}, {4, "not xml"}, {5, "<!-- -->"}};
    LinkState s = updateState("car");
    RendererInstance pick =
        trv::link::chooseInstance(q, {{8, 1, 1}, {8, 2, 2}, {8, 3, 3}, {8, 4, 4}, {8, 5, 5}}, s);
    // 1 has no scene text, 3 to 5 do not parse or have no root: none of them counts even as
    // "any"; 2 refused the selection and is not released.
    EXPECT_EQ(pick.versionMajor, 0);
    for (int pid = 1; pid <= 5; ++pid) {
        EXPECT_EQ(q.count("select " + std::to_string(pid)), 1) << pid;
    }
    EXPECT_EQ(q.count("scene"), 4);
    EXPECT_EQ(q.count("release"), 4);
    EXPECT_TRUE(q.misuse.empty()) << q.misuse.front();
    EXPECT_FALSE(q.holding);
}

// --- connect -------------------------------------------------------------------------------

TEST(LinkConnect, RunningEmptyRendererIsConnectedOnItsPortAfterDeclaringTheSceneId) {
    FakeServices env;
    env.query.lists = {listOf(entry(7, 1, 9001) + entry(8, 2, 9002) + entry(9, 3, 9003))};
    env.query.scenes = {{1, kEmptyScene}, {2, kEmptyScene}, {3, kEmptyScene}};
    env.api.accepting = {9002};
    LinkState s = renderState();
    s.sceneId = 5;
    ASSERT_TRUE(trv::link::connect(s, env));
    EXPECT_EQ(s.backend, &env.api);
    EXPECT_EQ(env.api.calls.at(0), "id 5");
    EXPECT_EQ(env.api.connects, (std::vector<std::string>{"localhost:9002/4"}));
    EXPECT_EQ(env.query.count("select 3"), 0);  // version 9 never queried
    EXPECT_EQ(env.launches, 0);
    EXPECT_TRUE(env.sleeps.empty());
}

TEST(LinkConnect, MissingSceneOrQueryApiGiveTheirMessages) {
    FakeServices env;
    env.haveSceneApi = false;
    LinkState s = renderState();
    EXPECT_FALSE(trv::link::connect(s, env));
    EXPECT_EQ(s.lastError, "Could not get a scene api. Please check your Raydeck installation.\n");

    env.haveSceneApi = true;
    env.haveQueryApi = false;
    EXPECT_FALSE(trv::link::connect(s, env));
    EXPECT_EQ(s.lastError, "Could not get a query api. Please check your Raydeck installation.\n");
    EXPECT_EQ(s.backend, nullptr);
}

TEST(LinkConnect, LaunchedRendererFoundOnTheThirdPollIsConnectedOnItsPort) {
    FakeServices env;
    env.query.lists = {listOf(""), listOf(""), listOf(""), listOf(entry(7, 9, 9100))};
    env.query.scenes = {{9, kEmptyScene}};
    env.api.accepting = {9100};
    LinkState s = renderState();
    ASSERT_TRUE(trv::link::connect(s, env));
    EXPECT_EQ(env.launches, 1);
    EXPECT_EQ(env.query.count("list"), 4);  // the first look and three polls
    EXPECT_EQ(env.sleeps, (std::vector<int>{5, 5, 5}));
    EXPECT_EQ(env.api.connects, (std::vector<std::string>{"localhost:9100/4"}));
}

TEST(LinkConnect, RendererThatNeverComesUpIsPolledRetriesMinusOneTimesThenThePortsAreScanned) {
    FakeServices env;
    env.query.lists = {listOf("")};
    env.api.accepting = {9002, 9003};
    LinkState s = renderState();
    s.retries = 4;
    ASSERT_TRUE(trv::link::connect(s, env));
    EXPECT_EQ(env.sleeps.size(), 3u);
    EXPECT_EQ(env.api.connects, (std::vector<std::string>{"127.0.0.1:9000/1", "127.0.0.1:9001/1",
                                                          "127.0.0.1:9002/1"}));
}

TEST(LinkConnect, PortZeroScansInIncreasingOrderAndARefusingReportedPortIsNotScanned) {
    FakeServices env;
    env.query.lists = {listOf(entry(8, 1, 0))};
    env.query.scenes = {{1, kEmptyScene}};
    env.api.accepting = {9001};
    LinkState s = renderState();
    ASSERT_TRUE(trv::link::connect(s, env));
    EXPECT_EQ(env.api.connects, (std::vector<std::string>{"127.0.0.1:9000/1", "127.0.0.1:9001/1"}));

    env.api.connects.clear();
    env.query.lists = {listOf(entry(8, 1, 9005))};
    EXPECT_FALSE(trv::link::connect(s, env));
    EXPECT_EQ(env.api.connects, (std::vector<std::string>{"localhost:9005/4"}));
    EXPECT_EQ(s.lastError,
              "Could not connect on any known port. Please check your Raydeck installation and "
              "Live Link settings.");
    EXPECT_EQ(s.backend, nullptr);
}

TEST(LinkConnect, ScanIsLimitedToRealPortsAndFailsOnAnInvertedOrUnreadableRange) {
    FakeServices env;
    env.query.lists = {listOf(entry(8, 1, 70000))};  // no port a socket can have
    env.query.scenes = {{1, kEmptyScene}};
    env.firstPort = -2;
    env.lastPort = 1;
    LinkState s = renderState();
    EXPECT_FALSE(trv::link::connect(s, env));
    EXPECT_EQ(env.api.connects, (std::vector<std::string>{"127.0.0.1:1/1"}));

    // Ending at INT_MAX must neither wrap around nor try ports above 65535.
    env.api.connects.clear();
    env.firstPort = 65534;
    env.lastPort = 2147483647;
    EXPECT_FALSE(trv::link::connect(s, env));
    EXPECT_EQ(env.api.connects,
              (std::vector<std::string>{"127.0.0.1:65534/1", "127.0.0.1:65535/1"}));

    for (int status : {-1, -2, -3}) {
        SCOPED_TRACE(status);
        env.api.connects.clear();
        env.portStatus = status;
        env.firstPort = 9000;
        EXPECT_FALSE(trv::link::connect(s, env));
        EXPECT_TRUE(env.api.connects.empty());
    }
}

// The installation itself answers launch and the port range here.
class LinkConnectWithRegistry : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        registry_ = dir_.path() + "/registry.reg";
        setenv("RAYDECK_REGISTRY", registry_.c_str(), 1);
    }
    void writeRegistry(const std::string& values) {
        const std::string bin = dir_.path() + "/renderer";
        std::ofstream(bin) << "";
        std::ofstream(registry_) << installationReg(bin, "", "", values);
    }
    TempDir dir_;
    std::string registry_;
};

TEST_F(LinkConnectWithRegistry, NoInstallationToLaunchGivesTheLaunchMessageWithoutPolling) {
    FakeServices env;
    env.realInstallation = true;
    env.query.lists = {listOf("")};
    LinkState s = renderState();
    EXPECT_FALSE(trv::link::connect(s, env));
    EXPECT_EQ(s.lastError, "Unabled to launch Raydeck. Please check your Raydeck installation.");
    EXPECT_EQ(env.query.count("list"), 1);
    EXPECT_TRUE(env.sleeps.empty());
    EXPECT_EQ(s.backend, nullptr);
}

TEST_F(LinkConnectWithRegistry, InvertedRegistryPortRangeGivesThePortMessageWithoutConnecting) {
    writeRegistry("\"LiveLinkPort\"=dword:00002328\r\n\"LiveLinkMaxPort\"=dword:00002327\r\n");
    FakeServices env;
    env.realInstallation = true;
    env.query.lists = {listOf(entry(7, 1, 0))};
    env.query.scenes = {{1, kEmptyScene}};
    LinkState s = renderState();
    EXPECT_FALSE(trv::link::connect(s, env));
    EXPECT_TRUE(env.api.connects.empty());
    EXPECT_EQ(s.lastError,
              "Could not connect on any known port. Please check your Raydeck installation and "
              "Live Link settings.");

    writeRegistry("\"LiveLinkPort\"=\"9000\"\r\n\"LiveLinkMaxPort\"=\"9001\"\r\n");
    env.api.accepting = {9001};
    EXPECT_TRUE(trv::link::connect(s, env));
    EXPECT_EQ(env.api.connects, (std::vector<std::string>{"127.0.0.1:9000/1", "127.0.0.1:9001/1"}));
}
