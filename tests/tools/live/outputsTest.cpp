// The outputs on the loopback address: opentrack's datagrams, the WebSocket
// feed, the demo page's server, and their refusals.
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "netClients.h"
#include "support/tempFolder.h"
#include "tools/live/outputs.h"

namespace quilo::live {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

TEST(HostPort, SplitOrRefused) {
    struct Case {
        std::string text;
        std::string host;  // empty: refused
        uint16_t port;
    };
    const Case cases[] = {
        {"127.0.0.1:4242", "127.0.0.1", 4242},
        {"localhost:1", "localhost", 1},
        {"[::1]:5000", "::1", 5000},
        {"127.0.0.1", "", 0},
        {":4242", "", 0},
        {"127.0.0.1:0", "", 0},
        {"127.0.0.1:65536", "", 0},
        {"127.0.0.1:42x", "", 0},
    };
    for (const Case& c : cases) {
        if (c.host.empty()) {
            EXPECT_THROW(SplitHostPort(c.text), OutputError) << c.text;
            continue;
        }
        const auto [host, port] = SplitHostPort(c.text);
        EXPECT_EQ(host, c.host);
        EXPECT_EQ(port, c.port);
    }
}

LiveFrame FrameWithFace(uint64_t index) {
    LiveFrame frame;
    frame.index = index;
    LiveFace face;
    face.head = {10.0 * static_cast<double>(index), -5.0, 650.0};
    face.rightEye = face.head + glm::dvec3(31.0, 0.0, 0.0);
    face.leftEye = face.head - glm::dvec3(31.0, 0.0, 0.0);
    face.yawDeg = 3.0;
    frame.faces = {face};
    return frame;
}

TEST(OpentrackSender, OneDatagramPerTrackedFrameNoneWithoutAFace) {
    test::UdpReceiver receiver;
    OpentrackSender sender("127.0.0.1", receiver.port());
    sender.Send(FrameWithFace(1));
    sender.Send(LiveFrame{});  // nobody tracked: nothing
    sender.Send(FrameWithFace(2));
    for (const uint64_t index : {1u, 2u}) {
        const auto datagram = receiver.Receive(std::chrono::seconds(60));
        ASSERT_TRUE(datagram);
        ASSERT_EQ(datagram->size(), kOpentrackPacketSize);
        OpentrackPacket packet;
        std::copy(datagram->begin(), datagram->end(), packet.begin());
        EXPECT_EQ(packet, *EncodeOpentrack(FrameWithFace(index)));
    }
    EXPECT_EQ(sender.sent(), 2u);
}

// A demo folder with a page and a script.
void WriteDemo(const fs::path& folder) {
    std::ofstream(folder / "index.html") << "<html>page</html>";
    std::ofstream(folder / "demo.js") << "let x = 1;";
}

TEST(FeedServer, ServesTheDemoFilesAndTheFeedsPort) {
    test::TempFolder folder;
    WriteDemo(folder.path());
    FeedServer::Options options;
    options.websocketPort = 0;
    options.httpPort = 0;
    options.demoFolder = folder.path();
    FeedServer server(options);
    ASSERT_NE(server.httpPort(), 0);
    struct Case {
        std::string path;
        std::string status;
        std::string type;
        std::string body;
    };
    const Case cases[] = {
        {"/", "200", "text/html", "<html>page</html>"},
        {"/index.html?x=1", "200", "text/html", "<html>page</html>"},
        {"/demo.js", "200", "text/javascript", "let x = 1;"},
        {"/config.json", "200", "application/json", ""},
        {"/../index.html", "404", "", ""},
        {"/missing.css", "404", "", ""},
    };
    for (const Case& c : cases) {
        const test::HttpResponse response = test::HttpGet(server.httpPort(), c.path);
        EXPECT_THAT(response.status, HasSubstr(c.status)) << c.path;
        if (!c.type.empty()) {
            EXPECT_THAT(response.headers, HasSubstr(c.type)) << c.path;
        }
        if (!c.body.empty()) {
            EXPECT_EQ(response.body, c.body) << c.path;
        }
        if (c.path == "/config.json") {
            EXPECT_EQ(nlohmann::json::parse(response.body)["websocketPort"], server.websocketPort());
        }
    }
}

TEST(FeedServer, EveryClientGetsEveryFrameAfterItConnected) {
    FeedServer::Options options;
    options.websocketPort = 0;
    FeedServer server(options);
    const std::string uri = "ws://127.0.0.1:" + std::to_string(server.websocketPort()) + "/";
    test::WebSocketClient first(uri), second(uri);
    ASSERT_TRUE(first.WaitOpen(std::chrono::seconds(60)));
    ASSERT_TRUE(second.WaitOpen(std::chrono::seconds(60)));
    // The server counts a client once its handshake is done on its side.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (server.clients() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ASSERT_EQ(server.clients(), 2u);
    for (uint64_t i = 0; i < 5; ++i) server.Send(FrameWithFace(i));
    for (test::WebSocketClient* client : {&first, &second}) {
        const auto messages = client->WaitForMessages(5, std::chrono::seconds(60));
        ASSERT_EQ(messages.size(), 5u);
        for (uint64_t i = 0; i < 5; ++i) {
            const auto message = nlohmann::json::parse(messages[i]);
            EXPECT_EQ(message["frame"], i);
            EXPECT_EQ(message["faces"][0]["head"][0], 10.0 * static_cast<double>(i));
        }
    }
}

TEST(FeedServer, RefusesWhatItCannotServe) {
    test::TempFolder folder;
    FeedServer::Options busy;
    busy.websocketPort = 0;
    const FeedServer first(busy);
    struct Case {
        std::string bind;
        int32_t websocketPort, httpPort;
        bool demo;
        std::string message;
    };
    const Case cases[] = {
        {"127.0.0.1", first.websocketPort(), -1, false, "websocket: cannot listen on 127.0.0.1:"},
        {"127.0.0.1", 0, 0, false, "has no index.html"},
        {"not-an-address", 0, -1, false, "\"not-an-address\" is not an IP address"},
        {"127.0.0.1", -1, first.websocketPort(), true, "http: cannot listen on"},
    };
    for (const Case& c : cases) {
        FeedServer::Options options;
        options.bindAddress = c.bind;
        options.websocketPort = c.websocketPort;
        options.httpPort = c.httpPort;
        options.demoFolder = folder.path();
        if (c.demo) WriteDemo(folder.path());
        try {
            FeedServer server(options);
            ADD_FAILURE() << c.message;
        } catch (const OutputError& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.message));
        }
    }
}

}  // namespace
}  // namespace quilo::live
