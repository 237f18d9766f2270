// The stand-in live library and renderer end to end: scenes streamed through the library arrive
// as files equal to an export, the query object reports the running renderers and their model
// sets, and no failure of the other side makes a call hang or raise SIGPIPE.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <tinyxml2.h>

#include <regex>
#include <set>
#include <vector>

#include "LiveFixture.h"
#include "tests/support/BorrowedFactory.h"
#include "tools/live/LiveAnnouncement.h"
#include "trvFactories.h"
#include "trvSceneapi_oo.h"

namespace {

using livetest::Clock;
using livetest::LiveLibrary;
using livetest::LiveTest;
using livetest::RendererProcess;
using livetest::secondsSince;
using livetest::waitFor;

// Hands the builder a back end that is already connected.

// A scene with what the stream must carry unchanged: a large packed array (several send
// buffers), packed bytes that read like a top-level group, captured shaders, hex names,
// progress and a message with quotes and braces.
void writeScene(trv::trvSceneapi_oo& b, const std::string& root) {
    trvScene_api* api = b.backend();
    api->beginLoad("trvrtopt.so");
    b.setAttribute("import_mode", true);
    api->endLoad();
    b.beginGroup(root);
    api->declareAttribute("source file", "source file");
    b.progress("Shelf", 0.5f);
    b.beginGroup("Shelf");
    api->beginObject("Shelf", true);
    api->beginGeometry("triangles");
    trv::vec3fArray points;
    points.floats.resize(3 * 700000);
    for (size_t i = 0; i < points.floats.size(); ++i) {
        points.floats[i] = static_cast<float>(i % 1013) * 0.25f;
    }
    b.setAttribute("points", points);
    const char forged[] = "\n}\n}\n}\ngroup \"evil\" {\n";
    std::vector<int> indices(3000, 10);
    std::memcpy(indices.data(), forged, sizeof forged - 1);
    b.setAttribute("indices", indices);
    api->endGeometry();
    api->beginShader(nullptr, "texture2_rgb");
    b.setAttribute("file", std::string("planks.png"));
    api->endShader();
    trvShaderHandle texture = api->currentShader();
    api->beginShader(nullptr, "trv_diffuse");
    api->attributeShader("diffuse", texture);
    api->endShader();
    trvShaderHandle surface = api->currentShader();
    api->beginMaterial("Wood", true);
    api->shader(trvShaderKind::surface, surface);
    api->endMaterial();
    api->endObject();
    b.endGroup();
    b.beginGroup("Caf\xc3\xa9");
    b.endGroup();
    api->print("a \"quoted\" {message}");
    b.progress("Done", 1.0f);
    b.endGroup();
}

raydeck::live::Announcement announcementOf(const RendererProcess& r) {
    raydeck::live::Announcement a;
    raydeck::live::parseAnnouncement(readFile(r.announcement()), a);
    return a;
}

std::vector<std::string> modelSets(QueryApi* query, std::int64_t pid) {
    std::vector<std::string> names;
    if (!query->selectInstance(pid)) {
        return {"<not selectable>"};
    }
    const char* info = query->sceneInfo();
    tinyxml2::XMLDocument doc;
    if (info != nullptr && doc.Parse(info) == tinyxml2::XML_SUCCESS && doc.RootElement()) {
        const tinyxml2::XMLElement* list = doc.RootElement()->FirstChildElement();
        for (const tinyxml2::XMLElement* s = list ? list->FirstChildElement() : nullptr; s;
             s = s->NextSiblingElement()) {
            if (s->Attribute("modelset", "active") && s->FirstChildElement() != nullptr) {
                names.emplace_back(s->Attribute("name"));
            }
        }
    }
    query->releaseInstance();
    return names;
}

struct Instance {
    int version;
    std::int64_t pid;
    int port;
};

std::vector<Instance> instances(QueryApi* query) {
    std::vector<Instance> out;
    tinyxml2::XMLDocument doc;
    const char* text = query->instanceList();
    if (text == nullptr || doc.Parse(text) != tinyxml2::XML_SUCCESS || !doc.RootElement()) {
        return out;
    }
    for (const tinyxml2::XMLElement* e = doc.RootElement()->FirstChildElement(); e;
         e = e->NextSiblingElement()) {
        Instance i{};
        e->FirstChildElement("version_major")->QueryIntText(&i.version);
        e->FirstChildElement("process_id")->QueryInt64Text(&i.pid);
        e->FirstChildElement("livelink_port")->QueryIntText(&i.port);
        out.push_back(i);
    }
    return out;
}

// A plain loopback server socket of the test's own.
struct PlainServer {
    int fd = -1;
    unsigned port = 0;
    PlainServer() {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(fd, 4) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
            port = ntohs(addr.sin_port);
        }
    }
    ~PlainServer() { close(fd); }
};

std::set<std::string> sceneFiles(const std::string& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        names.insert(it->path().filename().string());
    }
    return names;
}

TEST_F(LiveTest, StreamedSceneIsStoredEqualToAnExport) {
    RendererProcess renderer;
    ASSERT_TRUE(startRenderer(renderer));
    const raydeck::live::Announcement a = announcementOf(renderer);
    ASSERT_GT(a.livelinkPort, 0);

    LiveLibrary lib;
    ASSERT_NE(lib.root(), nullptr);
    trvScene_api* live = lib.scene();
    live->beginGroup("dropped before connect", true);  // only id() counts before connect
    live->endGroup();
    live->id(1);
    ASSERT_TRUE(live->connect("localhost", static_cast<unsigned>(a.livelinkPort), 4));
    {
        BorrowedFactory factory(live);
        trv::trvSceneapi_oo builder(&factory);
        writeScene(builder, "Kitchen");
    }
    EXPECT_TRUE(live->disconnect());

    const std::string exported = temp_.path() + "/exported.rdk";
    {
        trv::LightFileFactory factory(exported);
        trv::trvSceneapi_oo builder(&factory);
        writeScene(builder, "Kitchen");
        factory.close();
    }
    const std::string stored = scenes_ + "/scene-" + std::to_string(renderer.pid()) + "-1.rdk";
    const std::string storedText = readFile(stored);
    EXPECT_GT(storedText.size(), 8u << 20);
    EXPECT_TRUE(storedText == readFile(exported)) << "stored " << storedText.size() << " bytes";

    EXPECT_EQ(modelSets(lib.query(), renderer.pid()), std::vector<std::string>{"Kitchen"});
    const std::string out = renderer.output();
    EXPECT_NE(out.find("importing \"Shelf\" 0.500"), std::string::npos) << out;
    EXPECT_NE(out.find("importing \"Done\" 1.000"), std::string::npos) << out;
    EXPECT_NE(out.find("scene complete: model set \"Kitchen\""), std::string::npos) << out;
    // The log beside the announcement holds the same lines with their time, and outlives the
    // renderer, whose standard output leads nowhere when the plug-in launched it.
    renderer.stop();
    const std::string log = readFile(raydeck::live::logPath(runtime_, renderer.pid()));
    const std::regex complete(
        "(^|\n)[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} raydeck-renderer: scene "
        "complete: model set \"Kitchen\", [0-9]+ bytes, stored in " +
        stored + "\n");
    EXPECT_TRUE(std::regex_search(log, complete)) << log;
    EXPECT_NE(log.find("raydeck-renderer: importing \"Done\" 1.000\n"), std::string::npos);
}

// --help used to start a listening renderer: it must only print.
TEST_F(LiveTest, HelpAndVersionStartNoRendererAndOtherArgumentsAreUsageErrors) {
    struct Case {
        const char* arg;
        int code;
        const char* text;
    };
    for (const Case& c : {Case{"--help", 0, "RAYDECK_RUNTIME_DIR"},
                          Case{"--version", 0, "raydeck-renderer " RAYDECK_VERSION},
                          Case{"--port=1", 2, "raydeck-renderer --help"}}) {
        RunOptions options;
        options.outputFolder = temp_.path();
        options.timeoutSeconds = 10;
        const ProgramRun run = runProgram(RAYDECK_RENDERER_EXE, {c.arg}, options);
        EXPECT_FALSE(run.timedOut) << c.arg;
        EXPECT_EQ(run.code, c.code) << c.arg;
        EXPECT_NE((run.out + run.err).find(c.text), std::string::npos) << run.out << run.err;
        std::error_code ec;
        EXPECT_FALSE(std::filesystem::exists(runtime_, ec) &&
                     !std::filesystem::is_empty(runtime_, ec))
            << c.arg << ": something was announced";
    }
}

TEST_F(LiveTest, LaterScenesReplaceTheirModelSetAndCarryTheirId) {
    RendererProcess renderer;
    ASSERT_TRUE(startRenderer(renderer));
    const unsigned port = static_cast<unsigned>(announcementOf(renderer).livelinkPort);
    LiveLibrary lib;
    trvScene_api* live = lib.scene();
    const char* roots[] = {"Kitchen", "Garage", "Kitchen"};
    for (unsigned i = 0; i < 3; ++i) {
        live->id(i + 5);
        ASSERT_TRUE(live->connect("127.0.0.1", port, 1)) << i;
        live->beginGroup(roots[i], true);
        live->endGroup();
        ASSERT_TRUE(live->disconnect()) << i;
    }
    EXPECT_EQ(modelSets(lib.query(), renderer.pid()),
              (std::vector<std::string>{"Garage", "Kitchen"}));
    const std::string prefix = scenes_ + "/scene-" + std::to_string(renderer.pid()) + "-";
    EXPECT_EQ(readFile(prefix + "2.rdk"),
              "//---tarvik:dal:7---\n//---import:dal:1---\n//---id:6---\n"
              "// This is a Raydeck scene file\n\n\ngroup \"Garage\" {\n}\n");
    EXPECT_NE(readFile(prefix + "3.rdk").find("//---id:7---"), std::string::npos);
}

TEST_F(LiveTest, QueriesOfAnEmptyRendererAndOfUnknownOnes) {
    RendererProcess renderer;
    ASSERT_TRUE(startRenderer(renderer));
    LiveLibrary lib;
    QueryApi* query = lib.query();
    const std::vector<Instance> list = instances(query);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].version, 7);
    EXPECT_EQ(list[0].pid, renderer.pid());
    EXPECT_EQ(list[0].port, announcementOf(renderer).livelinkPort);

    ASSERT_TRUE(query->selectInstance(renderer.pid()));
    ASSERT_NE(query->sceneInfo(), nullptr);
    EXPECT_STREQ(query->sceneInfo(), "<scene><modelsets/></scene>");
    EXPECT_TRUE(query->releaseInstance());
    EXPECT_EQ(query->sceneInfo(), nullptr);  // no selection

    EXPECT_FALSE(query->selectInstance(getpid()));  // running, but not a renderer
    EXPECT_EQ(query->sceneInfo(), nullptr);
}

TEST_F(LiveTest, TwoRenderersOfVersions7And8AreBothListed) {
    RendererProcess seven;
    RendererProcess eight;
    ASSERT_TRUE(startRenderer(seven));
    ASSERT_TRUE(startRenderer(eight, {{"RAYDECK_RENDERER_VERSION", "8"}}));
    LiveLibrary lib;
    std::vector<Instance> list = instances(lib.query());
    ASSERT_EQ(list.size(), 2u);
    std::map<std::int64_t, int> versions;
    for (const Instance& i : list) {
        versions[i.pid] = i.version;
        EXPECT_GT(i.port, 0);
    }
    EXPECT_EQ(versions[seven.pid()], 7);
    EXPECT_EQ(versions[eight.pid()], 8);
    EXPECT_NE(list[0].port, list[1].port);
}

TEST_F(LiveTest, DeadAndUnreadableAnnouncementsAreSkipped) {
    RendererProcess renderer;
    ASSERT_TRUE(startRenderer(renderer, {{"RAYDECK_RENDERER_REPORT_PORT", "0"}}));
    // A process that has certainly ended: a reaped child.
    ChildProcess ended;
    RunOptions options;
    options.outputFolder = temp_.path();
    ASSERT_TRUE(ended.startCall([] { return 0; }, options));
    ASSERT_TRUE(ended.waitEnd(0));
    const pid_t dead = ended.pid();
    raydeck::live::Announcement ghost;
    ghost.versionMajor = 7;
    ghost.processId = dead;
    ghost.livelinkPort = 1234;
    ASSERT_TRUE(raydeck::live::writeAnnouncement(runtime_, ghost));
    std::ofstream(runtime_ + "/" + std::to_string(getpid()) + ".xml") << "<renderer><version";

    LiveLibrary lib;
    const std::vector<Instance> list = instances(lib.query());
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].pid, renderer.pid());
    EXPECT_EQ(list[0].port, 0);  // the reported port, for the port-scan case
    EXPECT_FALSE(lib.query()->selectInstance(dead));
    EXPECT_FALSE(lib.query()->selectInstance(getpid()));
}

TEST_F(LiveTest, IdleRendererExitsAndRemovesItsAnnouncement) {
    RendererProcess renderer;
    const Clock::time_point start = Clock::now();
    ASSERT_TRUE(startRenderer(renderer, {{"RAYDECK_RENDERER_IDLE_S", "1"}}));
    ASSERT_TRUE(waitFor([&] { return renderer.exited(); }, 10));
    EXPECT_GE(secondsSince(start), 0.9);
    ASSERT_TRUE(renderer.result().exited);
    EXPECT_EQ(renderer.result().code, 0);
    EXPECT_FALSE(renderer.announced());
    EXPECT_NE(renderer.output().find("idle for 1 s, exiting"), std::string::npos);
}

TEST_F(LiveTest, TerminationSignalsRemoveTheAnnouncement) {
    for (int sig : {SIGTERM, SIGINT}) {
        RendererProcess renderer;
        ASSERT_TRUE(startRenderer(renderer));
        ASSERT_EQ(kill(renderer.pid(), sig), 0);
        ASSERT_TRUE(waitFor([&] { return renderer.exited(); }, 10));
        ASSERT_TRUE(renderer.result().exited) << sig;
        EXPECT_EQ(renderer.result().code, 0);
        EXPECT_FALSE(renderer.announced()) << sig;
    }
}

TEST_F(LiveTest, BrokenOffStreamKeepsNoModelSetAndTheRendererGoesOn) {
    RendererProcess renderer;
    ASSERT_TRUE(startRenderer(renderer));
    const unsigned port = static_cast<unsigned>(announcementOf(renderer).livelinkPort);
    {
        // A sender that dies half way: the scene has no end line.
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        const std::string half = "//---tarvik:dal:7---\n\ngroup \"Half\" {\n";
        ASSERT_EQ(send(fd, half.data(), half.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(half.size()));
        close(fd);
    }
    ASSERT_TRUE(
        waitFor([&] { return renderer.output().find("broken off") != std::string::npos; }, 10));
    EXPECT_TRUE(sceneFiles(scenes_).empty());

    LiveLibrary lib;
    EXPECT_STREQ((lib.query()->selectInstance(renderer.pid()), lib.query()->sceneInfo()),
                 "<scene><modelsets/></scene>");
    lib.query()->releaseInstance();
    trvScene_api* live = lib.scene();
    ASSERT_TRUE(live->connect("localhost", port, 4));
    live->beginGroup("Whole", true);
    live->endGroup();
    EXPECT_TRUE(live->disconnect());
    EXPECT_EQ(modelSets(lib.query(), renderer.pid()), std::vector<std::string>{"Whole"});
    EXPECT_EQ(sceneFiles(scenes_),
              std::set<std::string>{"scene-" + std::to_string(renderer.pid()) + "-2.rdk"});
}

TEST_F(LiveTest, RendererKilledMidStreamFailsDisconnectWithoutSigpipe) {
    signal(SIGPIPE, SIG_DFL);  // a SIGPIPE would end this test process
    RendererProcess renderer;
    ASSERT_TRUE(startRenderer(renderer));
    const unsigned port = static_cast<unsigned>(announcementOf(renderer).livelinkPort);
    LiveLibrary lib;
    trvScene_api* live = lib.scene();
    ASSERT_TRUE(live->connect("localhost", port, 4));
    live->beginGroup("Doomed", true);
    renderer.kill9();

    const Clock::time_point start = Clock::now();
    std::vector<float> floats(3 * 1000000, 1.0f);
    trvArray array{floats.data(), 1000000};
    for (int i = 0; i < 8; ++i) {  // about 100 MB: far more than the socket buffers hold
        live->attribute("points", trvType::vec3f | trvType::array_bit, &array);
    }
    live->endGroup();
    EXPECT_FALSE(live->disconnect());
    EXPECT_LT(secondsSince(start), 5.0);
    EXPECT_FALSE(live->connect("localhost", port, 0));  // nobody listens there any more
}

TEST_F(LiveTest, PeerThatNeverReadsEndsCallsAndDisconnectInBoundedTime) {
    setenv("RAYDECK_LIVE_ACK_TIMEOUT_MS", "1000", 1);
    PlainServer server;
    ASSERT_GT(server.port, 0u);
    LiveLibrary lib;
    trvScene_api* live = lib.scene();

    // A small scene fits the socket buffers; then no acknowledgement comes.
    ASSERT_TRUE(live->connect("127.0.0.1", server.port, 1));
    int first = accept(server.fd, nullptr, nullptr);
    live->beginGroup("Small", true);
    live->endGroup();
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(live->disconnect());
    EXPECT_LT(secondsSince(start), 4.0);
    close(first);

    // A large one fills them: the writes give up after the send timeout, later calls drop.
    ASSERT_TRUE(live->connect("127.0.0.1", server.port, 1));
    int second = accept(server.fd, nullptr, nullptr);
    start = Clock::now();
    std::vector<float> floats(3 * 1000000, 2.0f);
    trvArray array{floats.data(), 1000000};
    for (int i = 0; i < 8; ++i) {
        live->attribute("points", trvType::vec3f | trvType::array_bit, &array);
    }
    EXPECT_FALSE(live->disconnect());
    EXPECT_LT(secondsSince(start), 6.0);
    close(second);
}

TEST_F(LiveTest, ConnectAcceptsLoopbackOnly) {
    PlainServer server;
    ASSERT_GT(server.port, 0u);
    LiveLibrary lib;
    trvScene_api* live = lib.scene();
    for (const char* host : {"example.com", "0.0.0.0", "::1", "127.0.0.2", "LOCALHOST", ""}) {
        EXPECT_FALSE(live->connect(host, server.port, 0)) << host;
    }
    EXPECT_FALSE(live->connect(nullptr, server.port, 0));
    EXPECT_FALSE(live->connect("localhost", 0, 0));
    EXPECT_FALSE(live->connect("localhost", 65536, 0));

    // With nobody listening, connect keeps trying for its wait and then gives up.
    PlainServer closed;
    const unsigned unused = closed.port;
    close(closed.fd);
    closed.fd = -1;
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(live->connect("localhost", unused, 1));
    EXPECT_GE(secondsSince(start), 0.9);
    EXPECT_LT(secondsSince(start), 3.0);

    ASSERT_TRUE(live->connect("localhost", server.port, 0));
    EXPECT_FALSE(live->connect("localhost", server.port, 0));  // already connected
    int peer = accept(server.fd, nullptr, nullptr);
    close(peer);  // closes without an acknowledgement
    EXPECT_FALSE(live->disconnect());
}

// Announcements that once stalled the link: a FIFO (its open blocked the query), a file far too
// large to be one (read whole on every query), and one whose process id a later process took
// over (the link tried its port and failed instead of launching a renderer). The first two are
// skipped; the stale ones (a dead renderer's, a reused id's) are removed.
TEST_F(LiveTest, HostileAndStaleAnnouncementsAreSkippedAndStaleOnesRemoved) {
    RendererProcess renderer;
    ASSERT_TRUE(startRenderer(renderer));
    ChildProcess big, reused, dead;
    RunOptions options;
    options.outputFolder = temp_.path();
    ASSERT_TRUE(big.startCall([] { return sleep(30), 0; }, options));
    ASSERT_TRUE(reused.startCall([] { return sleep(30), 0; }, options));
    ASSERT_TRUE(dead.startCall([] { return 0; }, options));
    ASSERT_TRUE(dead.waitEnd(5));
    const auto file = [&](pid_t pid) { return runtime_ + "/" + std::to_string(pid) + ".xml"; };
    raydeck::live::Announcement a;
    a.versionMajor = 7;
    a.livelinkPort = 1234;
    for (pid_t pid : {reused.pid(), dead.pid()}) {
        a.processId = pid;
        ASSERT_TRUE(raydeck::live::writeAnnouncement(runtime_, a));
    }
    // Written an hour before its process started: that id belonged to a renderer long gone.
    std::filesystem::last_write_time(
        file(reused.pid()), std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    a.processId = big.pid();
    std::string text = raydeck::live::announcementXml(a);
    text.insert(text.size() - 1, raydeck::live::kMaxAnnouncementBytes, ' ');
    std::ofstream(file(big.pid()), std::ios::binary) << text;
    ASSERT_EQ(mkfifo(file(getpid()).c_str(), 0600), 0);

    LiveLibrary lib;
    ASSERT_NE(lib.root(), nullptr);
    const Clock::time_point start = Clock::now();
    const std::vector<Instance> list = instances(lib.query());
    EXPECT_LT(secondsSince(start), 5.0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].pid, renderer.pid());
    EXPECT_FALSE(lib.query()->selectInstance(big.pid()));
    EXPECT_FALSE(lib.query()->selectInstance(getpid()));
    EXPECT_FALSE(std::filesystem::exists(file(reused.pid())));
    EXPECT_FALSE(std::filesystem::exists(file(dead.pid())));
    EXPECT_TRUE(std::filesystem::exists(file(big.pid())));  // current, only too large
    big.stop(SIGKILL);
    reused.stop(SIGKILL);
}

// With no runtime folder set, <temp>/raydeck-<uid> was used whoever owned it, and another user
// received the scene. A folder that others may write into is refused by both stand-ins.
TEST_F(LiveTest, RuntimeFolderThatOthersMayWriteIsRefused) {
    ASSERT_TRUE(std::filesystem::create_directory(runtime_));
    ASSERT_EQ(chmod(runtime_.c_str(), 0777), 0);
    {
        LiveLibrary lib;
        EXPECT_EQ(lib.root(), nullptr);
    }
    RendererProcess renderer;
    EXPECT_FALSE(startRenderer(renderer));
    ASSERT_TRUE(waitFor([&] { return renderer.exited(); }, 10));
    EXPECT_EQ(renderer.result().code, 1);
    EXPECT_NE(renderer.output().find("may be written by other users (mode 777)"), std::string::npos)
        << renderer.output();
    std::string why;
    EXPECT_FALSE(raydeck::live::privateRuntimeFolder(runtime_, why));
    EXPECT_NE(why.find(runtime_), std::string::npos) << why;

    const std::string link = temp_.path() + "/link";
    std::filesystem::create_directory_symlink(runtime_, link);
    EXPECT_FALSE(raydeck::live::privateRuntimeFolder(link, why));
    EXPECT_NE(why.find("symbolic link"), std::string::npos) << why;

    ASSERT_EQ(chmod(runtime_.c_str(), 0755), 0);
    LiveLibrary lib;
    EXPECT_NE(lib.root(), nullptr);
}

}  // namespace
