// Captures the lines logged through the default logger while it lives.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

namespace quilo::test {

struct LogLine {
    spdlog::level::level_enum level;
    std::string text;
};

// Installs a default logger named "capture" at trace level that keeps every
// line; restores the previous default logger when it goes.
class LogCapture {
public:
    LogCapture() : previous_(spdlog::default_logger()) {
        auto logger = std::make_shared<spdlog::logger>("capture", sink_);
        logger->set_level(spdlog::level::trace);
        spdlog::set_default_logger(std::move(logger));
    }
    ~LogCapture() { spdlog::set_default_logger(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogLine> lines() const { return sink_->lines(); }
    // Lines at `level` whose text contains `part`.
    size_t Count(spdlog::level::level_enum level, const std::string& part) const {
        size_t n = 0;
        for (const auto& line : lines()) {
            n += line.level == level && line.text.find(part) != std::string::npos;
        }
        return n;
    }
    // Lines at any level whose text contains `part`.
    size_t Count(const std::string& part) const {
        size_t n = 0;
        for (const auto& line : lines()) n += line.text.find(part) != std::string::npos;
        return n;
    }
    void Clear() { sink_->Clear(); }

private:
    class Sink final : public spdlog::sinks::base_sink<std::mutex> {
    public:
        std::vector<LogLine> lines() {
            std::lock_guard<std::mutex> lock(mutex_);
            return lines_;
        }
        void Clear() {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.clear();
        }

    protected:
        void sink_it_(const spdlog::details::log_msg& msg) override {
            lines_.push_back({msg.level, std::string(msg.payload.data(), msg.payload.size())});
        }
        void flush_() override {}

    private:
        std::vector<LogLine> lines_;
    };

    std::shared_ptr<Sink> sink_ = std::make_shared<Sink>();
    std::shared_ptr<spdlog::logger> previous_;
};

}  // namespace quilo::test
