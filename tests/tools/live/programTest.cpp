// quiloHeadTrackingLive as a person runs it, against the replay tool's
// results for the same frames: a sample rendered here, read as fast as it
// goes, sent to a UDP receiver and a WebSocket client on 127.0.0.1.
#include <algorithm>
#include <fstream>
#include <regex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "childProcess.h"
#include "netClients.h"
#include "support/tempFolder.h"
#include "tools/live/liveFrame.h"
#include "tools/replay/replay.h"
#include "tools/replay/sampleGenerator.h"

namespace quilo::live {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

// A short sample: the whole path in 30 frames.
replay::Sequence MakeShortSample(const fs::path& folder) {
    const fs::path sampleFolder = fs::path(QUILO_SOURCE_DIR) / "tools/replay/sample";
    const replay::GreyImage photo = replay::ReadPhotoAsGrey(sampleFolder / "astronaut.png");
    const replay::EyePixels eyes = replay::ReadEyePixels(sampleFolder / "astronaut-eyes.csv", "astronaut.png");
    replay::SampleOptions options;
    options.frameCount = 30;
    options.pathStep = 5;
    return replay::GenerateSample(photo, eyes, options, folder);
}

TEST(LiveProgram, OpentrackPacketsCarryTheReplaysPositionsInCentimetres) {
    test::TempFolder folder;
    const replay::Sequence sequence = MakeShortSample(folder.path());
    const replay::ReplayResult replayed = replay::Replay(folder.path(), sequence, replay::ReplayOptions{});

    test::UdpReceiver receiver;
    test::ChildProcess program(QUILO_LIVE_PROGRAM, {"--sequence", folder.path().string(), "--fast", "--quiet",
                                                    "--opentrack", "127.0.0.1:" + std::to_string(receiver.port())});
    std::vector<std::array<double, 6>> packets;
    // Until the program has ended and nothing more is queued.
    std::optional<int> exitCode;
    for (;;) {
        if (auto datagram = receiver.Receive(exitCode ? 500ms : 2000ms)) {
            ASSERT_EQ(datagram->size(), kOpentrackPacketSize);
            OpentrackPacket packet;
            std::copy(datagram->begin(), datagram->end(), packet.begin());
            packets.push_back(DecodeOpentrack(packet));
            continue;
        }
        if (exitCode) break;
        exitCode = program.Wait(120s);
        ASSERT_TRUE(exitCode) << "the program did not end";
    }
    ASSERT_EQ(*exitCode, 0) << program.errors();

    // One packet per frame with a tracked face, in order.
    std::vector<const replay::FrameResult*> tracked;
    for (const replay::FrameResult& frame : replayed.frames) {
        if (!frame.faces.empty()) tracked.push_back(&frame);
    }
    ASSERT_GE(tracked.size(), 25u);
    ASSERT_EQ(packets.size(), tracked.size());
    for (size_t i = 0; i < packets.size(); ++i) {
        const glm::vec3 position = tracked[i]->faces[0].position;
        // x, y, z in cm of the display's space, as the replay's mm.
        EXPECT_NEAR(packets[i][0] * 10.0, position.x, 0.05) << i;
        EXPECT_NEAR(packets[i][1] * 10.0, position.y, 0.05) << i;
        EXPECT_NEAR(packets[i][2] * 10.0, position.z, 0.05) << i;
        // Angles in degrees: the sample's card turns up to 12 degrees.
        for (int k = 3; k < 6; ++k) EXPECT_LT(std::abs(packets[i][k]), 30.0) << i << " " << k;
        const glm::dvec3 angles = DisplayAngles(tracked[i]->faces[0].angles, glm::mat3(1.0f));
        EXPECT_NEAR(packets[i][3], angles.x, 1e-3) << i;
        EXPECT_NEAR(packets[i][4], angles.y, 1e-3) << i;
        EXPECT_NEAR(packets[i][5], angles.z, 1e-3) << i;
    }
}

TEST(LiveProgram, WebSocketClientsGetEveryFaceWithEyesAndTheProgramStopsOnSigterm) {
    test::TempFolder folder;
    MakeShortSample(folder.path());
    test::ChildProcess program(QUILO_LIVE_PROGRAM, {"--sequence", folder.path().string(), "--loop", "--quiet",
                                                    "--websocket", "0", "--max-faces", "3"});
    std::smatch match;
    ASSERT_TRUE(program.WaitForLine(std::regex("websocket: (ws://127\\.0\\.0\\.1:[0-9]+/)"), &match, 30s))
        << program.output();
    test::WebSocketClient client(match[1].str());
    ASSERT_TRUE(client.WaitOpen(30s));
    const std::vector<std::string> messages = client.WaitForMessages(20, 120s);
    ASSERT_GE(messages.size(), 20u);
    size_t withFace = 0;
    uint64_t lastFrame = 0;
    for (size_t i = 0; i < messages.size(); ++i) {
        const nlohmann::json message = nlohmann::json::parse(messages[i]);
        if (i > 0) {
            EXPECT_GT(message["frame"].get<uint64_t>(), lastFrame);
        }
        lastFrame = message["frame"].get<uint64_t>();
        EXPECT_GE(message["latency"].get<double>(), 0.0);
        EXPECT_GT(message["timestamp"].get<double>(), 1.5e12);  // the system clock's ms
        for (const auto& face : message["faces"]) {
            const glm::dvec3 right(face["rightEye"][0], face["rightEye"][1], face["rightEye"][2]);
            const glm::dvec3 left(face["leftEye"][0], face["leftEye"][1], face["leftEye"][2]);
            const glm::dvec3 head(face["head"][0], face["head"][1], face["head"][2]);
            // A person's eyes, in mm, in front of the display, the head between them.
            EXPECT_NEAR(glm::distance(right, left), 63.0, 15.0);
            EXPECT_GT(head.z, 400.0);
            EXPECT_LT(head.z, 1300.0);
            EXPECT_NEAR(glm::distance(head, 0.5 * (right + left)), 0.0, 1e-6);
            EXPECT_TRUE(face["velocity"].is_array());
            EXPECT_TRUE(face["angles"]["yaw"].is_number());
        }
        withFace += message["faces"].empty() ? 0 : 1;
    }
    EXPECT_GE(withFace, messages.size() - 2);

    program.Terminate();
    const std::optional<int> exitCode = program.Wait(60s);
    ASSERT_TRUE(exitCode) << "the program did not stop";
    EXPECT_EQ(*exitCode, 0) << program.errors();
    EXPECT_TRUE(client.WaitClosed(30s));
}

TEST(LiveProgram, WhatItCannotDoEndsWithOneErrorLine) {
    test::TempFolder folder;
    std::ofstream(folder / "garbage.mp4") << "no video";
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const std::string garbage = (folder / "garbage.mp4").string();
    const Case cases[] = {
        {{"--video", garbage}, "garbage.mp4: cannot read the video"},
        {{"--video", (folder / "none.mp4").string()}, "none.mp4: no such video file"},
        {{"--webcam", (folder / "video9").string()}, "cannot open the webcam"},
        {{"--sequence", folder.path().string()}, "sequence.json"},
        {{"--video", garbage, "--opentrack", "127.0.0.1:99999"}, "the port must be a number from 1 to 65535"},
        {{"--video", garbage, "--websocket", "0", "--bind", "nowhere"}, "is not an IP address"},
        {{"--video", garbage, "--webcam", "0"}, "error:"},
        {{}, "error:"},
    };
    for (const Case& c : cases) {
        test::ChildProcess program(QUILO_LIVE_PROGRAM, c.arguments);
        const std::optional<int> exitCode = program.Wait(60s);
        ASSERT_TRUE(exitCode) << c.message;
        EXPECT_EQ(*exitCode, 1) << c.message;
        EXPECT_THAT(program.errors(), HasSubstr("error: ")) << c.message;
        EXPECT_THAT(program.errors(), HasSubstr(c.message));
        // One line, no crash report after it.
        EXPECT_EQ(std::count(program.errors().begin(), program.errors().end(), '\n'),
                  program.errors().find("Run with --help") == std::string::npos ? 1 : 2)
            << program.errors();
    }
}

TEST(LiveProgram, APortInUseIsNamed) {
    test::TempFolder folder;
    MakeShortSample(folder.path());
    test::ChildProcess first(QUILO_LIVE_PROGRAM,
                             {"--sequence", folder.path().string(), "--loop", "--quiet", "--websocket", "0"});
    std::smatch match;
    ASSERT_TRUE(first.WaitForLine(std::regex("websocket: ws://127\\.0\\.0\\.1:([0-9]+)/"), &match, 30s));
    const std::string port = match[1].str();
    test::ChildProcess second(QUILO_LIVE_PROGRAM,
                              {"--sequence", folder.path().string(), "--quiet", "--websocket", port});
    const std::optional<int> exitCode = second.Wait(60s);
    ASSERT_TRUE(exitCode);
    EXPECT_EQ(*exitCode, 1);
    EXPECT_THAT(second.errors(), HasSubstr("error: websocket: cannot listen on 127.0.0.1:" + port));
    first.Terminate();
    EXPECT_EQ(first.Wait(60s), std::optional<int>(0));
}

}  // namespace
}  // namespace quilo::live
