// Headless Chromium driven through its DevTools protocol, for tests: a page
// is opened, asked about its state until a condition holds (in real time,
// with a deadline as the failure bound) and photographed. The browser
// listens on a port of 127.0.0.1 it chose and is killed when the object goes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_no_tls_client.hpp>

#include "childProcess.h"

namespace quilo::test {

// The first Chromium found in the usual places, if any.
inline std::optional<std::filesystem::path> FindChromium() {
    for (const char* candidate : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
        std::error_code error;
        if (std::filesystem::exists(candidate, error)) return std::filesystem::path(candidate);
    }
    return std::nullopt;
}

// One DevTools connection: commands answered in order of their ids, events
// kept until asked for. Every wait has a deadline and throws past it.
class DevToolsConnection {
public:
    using Client = websocketpp::client<websocketpp::config::asio_client>;
    using Clock = std::chrono::steady_clock;

    explicit DevToolsConnection(const std::string& uri) {
        client_.clear_access_channels(websocketpp::log::alevel::all);
        client_.clear_error_channels(websocketpp::log::elevel::all);
        client_.init_asio();
        client_.set_message_handler([this](websocketpp::connection_hdl, Client::message_ptr message) {
            nlohmann::json parsed = nlohmann::json::parse(message->get_payload(), nullptr, false);
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!parsed.is_discarded()) messages_.push_back(std::move(parsed));
            changed_.notify_all();
        });
        client_.set_open_handler([this](websocketpp::connection_hdl) {
            const std::lock_guard<std::mutex> lock(mutex_);
            open_ = true;
            changed_.notify_all();
        });
        const auto done = [this](websocketpp::connection_hdl) {
            const std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
            changed_.notify_all();
        };
        client_.set_close_handler(done);
        client_.set_fail_handler(done);
        websocketpp::lib::error_code error;
        connection_ = client_.get_connection(uri, error);
        if (error) throw std::runtime_error("DevTools address " + uri + ": " + error.message());
        client_.connect(connection_);
        thread_ = std::thread([this] { client_.run(); });
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(30), [&] { return open_ || closed_; }) || !open_) {
            lock.unlock();
            Stop();
            throw std::runtime_error("no DevTools connection to " + uri);
        }
    }
    ~DevToolsConnection() { Stop(); }
    DevToolsConnection(const DevToolsConnection&) = delete;
    DevToolsConnection& operator=(const DevToolsConnection&) = delete;

    // The result of `method`, sent to the page of `session` (or the browser
    // when empty); throws with the browser's error, or when no answer comes
    // by `deadline`.
    nlohmann::json Call(const std::string& method, nlohmann::json params, const std::string& session,
                        Clock::time_point deadline) {
        const int id = ++lastId_;
        nlohmann::json command = {{"id", id}, {"method", method}, {"params", std::move(params)}};
        if (!session.empty()) command["sessionId"] = session;
        websocketpp::lib::error_code error;
        client_.send(connection_, command.dump(), websocketpp::frame::opcode::text, error);
        if (error) throw std::runtime_error(method + ": " + error.message());
        nlohmann::json answer =
            Take(deadline, method, [&](const nlohmann::json& m) { return m.contains("id") && m["id"] == id; });
        if (answer.contains("error")) throw std::runtime_error(method + ": " + answer["error"].dump());
        return answer.value("result", nlohmann::json::object());
    }

    // The next event `method` of `session`, waited for until `deadline`.
    nlohmann::json WaitForEvent(const std::string& method, const std::string& session, Clock::time_point deadline) {
        return Take(deadline, method, [&](const nlohmann::json& m) {
            return m.value("method", "") == method && m.value("sessionId", "") == session;
        });
    }

private:
    template <typename Matches>
    nlohmann::json Take(Clock::time_point deadline, const std::string& what, Matches matches) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            for (auto it = messages_.begin(); it != messages_.end(); ++it) {
                if (matches(*it)) {
                    nlohmann::json found = std::move(*it);
                    messages_.erase(it);
                    return found;
                }
            }
            if (closed_) throw std::runtime_error(what + ": the browser closed the connection");
            if (changed_.wait_until(lock, deadline) == std::cv_status::timeout)
                throw std::runtime_error(what + ": no answer from the browser in time");
        }
    }

    void Stop() {
        client_.stop();
        if (thread_.joinable()) thread_.join();
    }

    Client client_;
    Client::connection_ptr connection_;
    int lastId_ = 0;  // used by the test's thread only
    // Guards what the connection's thread hands over: messages and state.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<nlohmann::json> messages_;
    bool open_ = false, closed_ = false;
    std::thread thread_;
};

// A headless Chromium with a profile of its own and one page.
class HeadlessBrowser {
public:
    HeadlessBrowser(const std::filesystem::path& chromium, const std::filesystem::path& profile, int width, int height)
        : process_(chromium.string(),
                   {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    "--user-data-dir=" + profile.string(), "--remote-debugging-address=127.0.0.1",
                    "--remote-debugging-port=0", "about:blank"}),
          width_(width),
          height_(height) {
        std::smatch match;
        if (!process_.WaitForErrorLine(std::regex("DevTools listening on (ws://\\S+)"), &match,
                                       std::chrono::seconds(60)))
            throw std::runtime_error("chromium did not open its DevTools port:\n" + process_.errors());
        devTools_.emplace(match[1].str());
    }
    ~HeadlessBrowser() {
        devTools_.reset();
        process_.Terminate();
        process_.Wait(std::chrono::seconds(30));
    }

    // Opens `url` in a new page and waits for its load event.
    void Open(const std::string& url, std::chrono::seconds timeout) {
        const auto deadline = DevToolsConnection::Clock::now() + timeout;
        const std::string target = devTools_->Call("Target.createTarget", {{"url", "about:blank"}}, "", deadline)
                                       .at("targetId")
                                       .get<std::string>();
        session_ = devTools_->Call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}}, "", deadline)
                       .at("sessionId")
                       .get<std::string>();
        devTools_->Call("Emulation.setDeviceMetricsOverride",
                        {{"width", width_}, {"height", height_}, {"deviceScaleFactor", 1}, {"mobile", false}}, session_,
                        deadline);
        devTools_->Call("Page.enable", nlohmann::json::object(), session_, deadline);
        devTools_->Call("Page.navigate", {{"url", url}}, session_, deadline);
        devTools_->WaitForEvent("Page.loadEventFired", session_, deadline);
    }

    // The value of the JavaScript `expression` in the page; a promise is
    // waited for, within `timeout`.
    nlohmann::json Evaluate(const std::string& expression, std::chrono::seconds timeout) {
        const auto deadline = DevToolsConnection::Clock::now() + timeout;
        const nlohmann::json result = devTools_->Call(
            "Runtime.evaluate", {{"expression", expression}, {"awaitPromise", true}, {"returnByValue", true}}, session_,
            deadline);
        if (result.contains("exceptionDetails"))
            throw std::runtime_error("the page threw: " + result["exceptionDetails"].dump());
        return result.at("result").value("value", nlohmann::json());
    }

    // The page as a PNG file's bytes.
    std::vector<uint8_t> Screenshot(std::chrono::seconds timeout) {
        const auto deadline = DevToolsConnection::Clock::now() + timeout;
        const nlohmann::json result =
            devTools_->Call("Page.captureScreenshot", {{"format", "png"}}, session_, deadline);
        return DecodeBase64(result.at("data").get<std::string>());
    }

    const std::string& errors() const { return process_.errors(); }

private:
    static std::vector<uint8_t> DecodeBase64(const std::string& text) {
        std::vector<uint8_t> bytes;
        uint32_t bits = 0;
        int count = 0;
        for (const char c : text) {
            int value;
            if (c >= 'A' && c <= 'Z') value = c - 'A';
            else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
            else if (c >= '0' && c <= '9') value = c - '0' + 52;
            else if (c == '+') value = 62;
            else if (c == '/') value = 63;
            else if (c == '=') break;
            else throw std::runtime_error("not base64");
            bits = (bits << 6) | static_cast<uint32_t>(value);
            if ((count += 6) >= 8) {
                count -= 8;
                bytes.push_back(static_cast<uint8_t>(bits >> count));
            }
        }
        return bytes;
    }

    ChildProcess process_;
    int width_, height_;
    std::optional<DevToolsConnection> devTools_;
    std::string session_;
};

}  // namespace quilo::test
