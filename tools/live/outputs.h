// The live program's outputs: opentrack's UDP input and a WebSocket feed of
// JSON messages with, optionally, a small web server for the demo page.
// Each owns its sockets and threads and releases them when destroyed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "tools/live/liveFrame.h"

namespace quilo::live {

// An output that cannot be set up (an address that does not resolve, a port
// in use); the message says which and why.
class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "HOST:PORT" split; Throws OutputError unless the port is 1..65535 and the
// host is not empty. "[::1]:4242" takes an IPv6 address.
std::pair<std::string, uint16_t> SplitHostPort(const std::string& text);

// Sends one datagram per frame with a tracked face to opentrack.
class OpentrackSender {
public:
    // Resolves `host` (a name or an address) and opens a UDP socket. Throws
    // OutputError when the host does not resolve.
    OpentrackSender(const std::string& host, uint16_t port);
    ~OpentrackSender();
    OpentrackSender(const OpentrackSender&) = delete;
    OpentrackSender& operator=(const OpentrackSender&) = delete;

    // Sends the frame's packet, if it has one. A failed send (nobody
    // listening yet, a network that went away) is counted, never thrown:
    // opentrack may start after us.
    void Send(const LiveFrame& frame);

    uint64_t sent() const;
    uint64_t failed() const;
    std::string Describe() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// A WebSocket server sending every frame's JSON message to every client, and
// an HTTP server for the demo page's files, on one thread of their own.
class FeedServer {
public:
    struct Options {
        std::string bindAddress = "127.0.0.1";
        // Either port may be 0 for one the system chooses (see the ports
        // below); -1 leaves that server out.
        int32_t websocketPort = -1;
        int32_t httpPort = -1;
        // The demo page's folder: its files are read once, at start, and
        // served by name; config.json, made here, tells the page the
        // WebSocket port.
        std::filesystem::path demoFolder;
    };

    // Listens on the ports. Throws OutputError when the address is not one,
    // a port is in use, or the demo folder has no index.html.
    explicit FeedServer(const Options& options);
    // Closes every connection and joins the thread.
    ~FeedServer();
    FeedServer(const FeedServer&) = delete;
    FeedServer& operator=(const FeedServer&) = delete;

    // Queues `frame`'s message for every open WebSocket connection; a client
    // that has more than a second's worth queued misses frames until it
    // catches up. Any thread.
    void Send(const LiveFrame& frame);
    // Sends an already encoded message, as Send does.
    void SendText(const std::string& message);

    // The ports listened on (0 for a server left out).
    uint16_t websocketPort() const;
    uint16_t httpPort() const;
    size_t clients() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace quilo::live
