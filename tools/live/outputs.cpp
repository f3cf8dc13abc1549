#include "tools/live/outputs.h"

#include <atomic>
#include <charconv>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include <asio.hpp>
#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

namespace quilo::live {

namespace fs = std::filesystem;

std::pair<std::string, uint16_t> SplitHostPort(const std::string& text) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        throw OutputError(fmt::format("\"{}\": expected HOST:PORT", text));
    }
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    const std::string portText = text.substr(colon + 1);
    unsigned port = 0;
    const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || error != std::errc() || end != portText.data() + portText.size() || port == 0 ||
        port > 65535) {
        throw OutputError(fmt::format("\"{}\": the port must be a number from 1 to 65535", text));
    }
    return {host, static_cast<uint16_t>(port)};
}

// ---- opentrack ----

struct OpentrackSender::State {
    asio::io_context io;
    asio::ip::udp::socket socket{io};
    asio::ip::udp::endpoint target;
    std::string host;
    std::atomic<uint64_t> sent{0}, failed{0};
};

OpentrackSender::OpentrackSender(const std::string& host, uint16_t port) : state_(std::make_unique<State>()) {
    state_->host = fmt::format("{}:{}", host, port);
    asio::error_code error;
    asio::ip::udp::resolver resolver(state_->io);
    const auto results = resolver.resolve(asio::ip::udp::v4(), host, std::to_string(port), error);
    if (error || results.empty()) {
        // An IPv6 name or address, before giving up.
        const auto results6 = resolver.resolve(asio::ip::udp::v6(), host, std::to_string(port), error);
        if (error || results6.empty()) {
            throw OutputError(fmt::format("opentrack: cannot resolve the host \"{}\" ({})", host,
                                          error ? error.message() : "no address"));
        }
        state_->target = *results6.begin();
    } else {
        state_->target = *results.begin();
    }
    state_->socket.open(state_->target.protocol(), error);
    if (error) throw OutputError(fmt::format("opentrack: cannot open a UDP socket ({})", error.message()));
}

OpentrackSender::~OpentrackSender() = default;

void OpentrackSender::Send(const LiveFrame& frame) {
    const std::optional<OpentrackPacket> packet = EncodeOpentrack(frame);
    if (!packet) return;
    asio::error_code error;
    state_->socket.send_to(asio::buffer(*packet), state_->target, 0, error);
    (error ? state_->failed : state_->sent).fetch_add(1);
}

uint64_t OpentrackSender::sent() const { return state_->sent.load(); }
uint64_t OpentrackSender::failed() const { return state_->failed.load(); }
std::string OpentrackSender::Describe() const { return "opentrack UDP to " + state_->host; }

// ---- WebSocket feed and demo page ----

namespace {

using Server = websocketpp::server<websocketpp::config::asio>;

// Bytes a client may have queued before it misses frames: about a second
// of messages with three faces at 90 frames per second.
constexpr size_t kMaxQueuedBytes = 1 << 20;

const char* ContentType(const fs::path& name) {
    const std::string extension = name.extension().string();
    if (extension == ".html") return "text/html; charset=utf-8";
    if (extension == ".js") return "text/javascript; charset=utf-8";
    if (extension == ".css") return "text/css; charset=utf-8";
    if (extension == ".json") return "application/json";
    if (extension == ".png") return "image/png";
    if (extension == ".svg") return "image/svg+xml";
    return "application/octet-stream";
}

void Quiet(Server& server) {
    // Our own error lines say what went wrong; the library's logs would
    // interleave with the status line.
    server.clear_access_channels(websocketpp::log::alevel::all);
    server.clear_error_channels(websocketpp::log::elevel::all);
}

uint16_t Listen(Server& server, const asio::ip::address& address, int32_t port, const char* what) {
    websocketpp::lib::error_code error;
    server.set_reuse_addr(true);
    server.listen(asio::ip::tcp::endpoint(address, static_cast<uint16_t>(port)), error);
    if (!error) server.start_accept(error);
    if (error) {
        throw OutputError(
            fmt::format("{}: cannot listen on {}:{} ({})", what, address.to_string(), port, error.message()));
    }
    asio::error_code local;
    const asio::ip::tcp::endpoint endpoint = server.get_local_endpoint(local);
    if (local) throw OutputError(fmt::format("{}: {}", what, local.message()));
    return endpoint.port();
}

}  // namespace

struct FeedServer::State {
    asio::io_context io;
    Server websocket;
    Server http;
    bool hasWebsocket = false, hasHttp = false;
    uint16_t websocketPort = 0, httpPort = 0;
    // The io thread's alone.
    std::vector<websocketpp::connection_hdl> connections;
    std::atomic<size_t> clientCount{0};
    std::map<std::string, std::pair<std::string, std::string>> files;  // "/name": type, body
    std::thread thread;
};

FeedServer::FeedServer(const Options& options) : state_(std::make_unique<State>()) {
    State& s = *state_;
    asio::error_code parseError;
    const asio::ip::address address = asio::ip::make_address(options.bindAddress, parseError);
    if (parseError) {
        throw OutputError(fmt::format("--bind: \"{}\" is not an IP address", options.bindAddress));
    }
    if (options.websocketPort >= 0) {
        Quiet(s.websocket);
        s.websocket.init_asio(&s.io);
        s.websocket.set_open_handler([&s](websocketpp::connection_hdl hdl) {
            s.connections.push_back(hdl);
            s.clientCount.store(s.connections.size());
        });
        const auto forget = [&s](websocketpp::connection_hdl hdl) {
            const auto gone = hdl.lock();
            auto& list = s.connections;
            list.erase(std::remove_if(list.begin(), list.end(),
                                      [&](const websocketpp::connection_hdl& h) {
                                          const auto held = h.lock();
                                          return !held || held == gone;
                                      }),
                       list.end());
            s.clientCount.store(list.size());
        };
        s.websocket.set_close_handler(forget);
        s.websocket.set_fail_handler(forget);
        s.websocketPort = Listen(s.websocket, address, options.websocketPort, "websocket");
        s.hasWebsocket = true;
    }
    if (options.httpPort >= 0) {
        std::error_code error;
        if (!fs::is_regular_file(options.demoFolder / "index.html", error)) {
            throw OutputError(
                fmt::format("http: the demo page's folder {} has no index.html", options.demoFolder.string()));
        }
        for (const auto& entry : fs::directory_iterator(options.demoFolder, error)) {
            if (!entry.is_regular_file()) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::stringstream body;
            body << in.rdbuf();
            s.files["/" + entry.path().filename().string()] = {ContentType(entry.path()), body.str()};
        }
        s.files["/"] = s.files["/index.html"];
        s.files["/config.json"] = {"application/json", fmt::format("{{\"websocketPort\": {}}}", s.websocketPort)};
        Quiet(s.http);
        s.http.init_asio(&s.io);
        s.http.set_http_handler([&s](websocketpp::connection_hdl hdl) {
            const Server::connection_ptr connection = s.http.get_con_from_hdl(hdl);
            std::string resource = connection->get_resource();
            resource = resource.substr(0, resource.find('?'));
            const auto found = s.files.find(resource);
            if (found == s.files.end() || connection->get_request().get_method() != "GET") {
                connection->set_status(websocketpp::http::status_code::not_found);
                connection->set_body("not found\n");
                connection->append_header("Content-Type", "text/plain");
                return;
            }
            connection->set_status(websocketpp::http::status_code::ok);
            connection->append_header("Content-Type", found->second.first);
            connection->append_header("Cache-Control", "no-store");
            connection->set_body(found->second.second);
        });
        s.httpPort = Listen(s.http, address, options.httpPort, "http");
        s.hasHttp = true;
    }
    s.thread = std::thread([&s] {
        // A handler's exception would end the thread and so the feed: log
        // nothing, keep serving.
        for (;;) {
            try {
                s.io.run();
                return;
            } catch (const std::exception&) {
            }
        }
    });
}

FeedServer::~FeedServer() {
    State& s = *state_;
    asio::post(s.io, [&s] {
        websocketpp::lib::error_code ignored;
        if (s.hasWebsocket) {
            s.websocket.stop_listening(ignored);
            for (const auto& hdl : s.connections) {
                s.websocket.close(hdl, websocketpp::close::status::going_away, "the tracker stops", ignored);
            }
        }
        if (s.hasHttp) s.http.stop_listening(ignored);
    });
    // The close frames go out with what is queued; a client that does not
    // answer is not waited for.
    asio::post(s.io, [&s] { s.io.stop(); });
    if (s.thread.joinable()) s.thread.join();
}

void FeedServer::Send(const LiveFrame& frame) {
    if (!state_->hasWebsocket || state_->clientCount.load() == 0) return;
    SendText(EncodeJson(frame));
}

void FeedServer::SendText(const std::string& message) {
    State& s = *state_;
    if (!s.hasWebsocket || s.clientCount.load() == 0) return;
    asio::post(s.io, [&s, text = std::make_shared<const std::string>(message)] {
        for (const auto& hdl : s.connections) {
            websocketpp::lib::error_code error;
            const Server::connection_ptr connection = s.websocket.get_con_from_hdl(hdl, error);
            if (error || connection->get_buffered_amount() > kMaxQueuedBytes) continue;
            connection->send(*text, websocketpp::frame::opcode::text);
        }
    });
}

uint16_t FeedServer::websocketPort() const { return state_->websocketPort; }
uint16_t FeedServer::httpPort() const { return state_->httpPort; }
size_t FeedServer::clients() const { return state_->clientCount.load(); }

}  // namespace quilo::live
