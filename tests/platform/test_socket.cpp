// Loopback sockets: a listener on a system-chosen port, a connection, data both ways with the
// sender's shutdown seen as the end, a timed-out wait, and a refused connection.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/socket.h"

namespace {

std::string receiveAll(platform::Socket s) {
    std::string got;
    char buffer[4096];
    for (;;) {
        bool ready = false;
        if (!platform::waitReadable(s, 10000, ready).ok() || !ready) {
            return got + "<timeout>";
        }
        size_t n = 0;
        if (!platform::receiveSome(s, buffer, sizeof buffer, n).ok() || n == 0) {
            return got;
        }
        got.append(buffer, n);
    }
}

bool sendAll(platform::Socket s, const std::string& data) {
    size_t at = 0;
    while (at < data.size()) {
        size_t n = 0;
        if (!platform::sendSome(s, data.data() + at, data.size() - at, n).ok()) {
            return false;
        }
        bool ready = true;
        if (n == 0 && (!platform::waitWritable(s, 10000, ready).ok() || !ready)) {
            return false;
        }
        at += n;
    }
    return true;
}

}  // namespace

TEST(Socket, LoopbackRoundTripWithShutdownAsTheEnd) {
    platform::Socket listener = platform::kNoSocket;
    int port = 0;
    ASSERT_TRUE(platform::listenLoopback(0, listener, port).ok());
    ASSERT_GT(port, 0);

    const std::string request(3 << 20, 'r');  // more than any socket buffer holds
    std::string answer;
    std::thread server([&] {
        bool ready = false;
        platform::Socket client = platform::kNoSocket;
        if (platform::waitReadable(listener, 10000, ready).ok() && ready &&
            platform::acceptConnection(listener, client).ok()) {
            const std::string got = receiveAll(client);
            sendAll(client, "got " + std::to_string(got.size()));
            platform::closeSocket(client);
        }
    });
    platform::Socket s = platform::kNoSocket;
    ASSERT_TRUE(platform::connectLoopback(port, 5000, s).ok());
    EXPECT_TRUE(sendAll(s, request));
    EXPECT_TRUE(platform::shutdownSending(s).ok());
    EXPECT_EQ(receiveAll(s), "got " + std::to_string(request.size()));
    server.join();
    EXPECT_TRUE(platform::closeSocket(s).ok());

    // Nobody connects: the wait times out without being ready.
    bool ready = true;
    EXPECT_TRUE(platform::waitReadable(listener, 50, ready).ok());
    EXPECT_FALSE(ready);
    EXPECT_TRUE(platform::closeSocket(listener).ok());

    // The port is closed now: refused (or timed out), never a socket.
    platform::Socket refused = platform::kNoSocket;
    EXPECT_FALSE(platform::connectLoopback(port, 2000, refused).ok());
    EXPECT_EQ(refused, platform::kNoSocket);
}
