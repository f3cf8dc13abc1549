// Clients for the live program's outputs, for tests: a UDP receiver, a
// WebSocket client (websocketpp) and a one-request HTTP GET, all on the
// loopback address. Every wait has a deadline.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <asio.hpp>
#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_no_tls_client.hpp>

namespace quilo::test {

// Datagrams sent to a port of 127.0.0.1 the system chose.
class UdpReceiver {
public:
    UdpReceiver() : socket_(io_, asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {
        // Room for a whole run's packets while the test does other things.
        socket_.set_option(asio::socket_base::receive_buffer_size(1 << 20));
    }
    uint16_t port() const { return socket_.local_endpoint().port(); }

    // The next datagram, or nothing within `timeout`.
    std::optional<std::vector<uint8_t>> Receive(std::chrono::milliseconds timeout) {
        std::vector<uint8_t> data(2048);
        std::optional<std::vector<uint8_t>> result;
        socket_.async_receive(asio::buffer(data), [&](const asio::error_code& error, size_t size) {
            if (!error) {
                data.resize(size);
                result = data;
            }
        });
        io_.restart();
        io_.run_for(timeout);
        if (!result) {
            socket_.cancel();
            io_.restart();
            io_.run();
        }
        return result;
    }

private:
    asio::io_context io_;
    asio::ip::udp::socket socket_;
};

// Keeps every text message of one WebSocket connection.
class WebSocketClient {
public:
    using Client = websocketpp::client<websocketpp::config::asio_client>;

    explicit WebSocketClient(const std::string& uri) {
        client_.clear_access_channels(websocketpp::log::alevel::all);
        client_.clear_error_channels(websocketpp::log::elevel::all);
        client_.init_asio();
        client_.set_message_handler([this](websocketpp::connection_hdl, Client::message_ptr message) {
            const std::lock_guard<std::mutex> lock(mutex_);
            messages_.push_back(message->get_payload());
            changed_.notify_all();
        });
        const auto done = [this](websocketpp::connection_hdl) {
            const std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
            changed_.notify_all();
        };
        client_.set_open_handler([this](websocketpp::connection_hdl) {
            const std::lock_guard<std::mutex> lock(mutex_);
            open_ = true;
            changed_.notify_all();
        });
        client_.set_close_handler(done);
        client_.set_fail_handler(done);
        websocketpp::lib::error_code error;
        connection_ = client_.get_connection(uri, error);
        if (error) throw std::runtime_error(error.message());
        client_.connect(connection_);
        thread_ = std::thread([this] { client_.run(); });
    }
    ~WebSocketClient() {
        client_.stop();
        thread_.join();
    }

    bool WaitOpen(std::chrono::seconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return open_ || closed_; }) && open_;
    }
    // The first `count` messages, or fewer when they do not come within `timeout`.
    std::vector<std::string> WaitForMessages(size_t count, std::chrono::seconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return messages_.size() >= count || closed_; });
        return messages_;
    }
    bool WaitClosed(std::chrono::seconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return closed_; });
    }

private:
    Client client_;
    Client::connection_ptr connection_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> messages_;
    bool open_ = false, closed_ = false;
    std::thread thread_;
};

struct HttpResponse {
    std::string status;  // the status line
    std::string headers;
    std::string body;
};

// GET `path` from 127.0.0.1:`port`, the connection closed after the answer.
inline HttpResponse HttpGet(uint16_t port, const std::string& path) {
    asio::io_context io;
    asio::ip::tcp::socket socket(io);
    socket.connect({asio::ip::make_address("127.0.0.1"), port});
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    asio::write(socket, asio::buffer(request));
    std::string answer;
    asio::error_code error;
    asio::read(socket, asio::dynamic_buffer(answer), error);
    HttpResponse response;
    const size_t lineEnd = answer.find("\r\n");
    const size_t headEnd = answer.find("\r\n\r\n");
    response.status = answer.substr(0, lineEnd);
    if (headEnd != std::string::npos) {
        response.headers = answer.substr(lineEnd + 2, headEnd - lineEnd - 2);
        response.body = answer.substr(headEnd + 4);
    }
    return response;
}

}  // namespace quilo::test
