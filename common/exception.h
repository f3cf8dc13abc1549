// The one exception type of the engine, and the fatal assertion.
#pragma once

#include <exception>
#include <string>

#include <fmt/format.h>

#include "common/export.h"

namespace quilo {

// Where an exception was thrown. `function` may be null, in which case the
// exception text is the bare message.
struct SourceLocation {
    const char* file = nullptr;
    int line = 0;
    const char* function = nullptr;
};

class QUILO_API Exception : public std::exception {
public:
    // Text: "{message} in {function} {file}:{line}", or the message alone when
    // `location.function` is null.
    Exception(const std::string& message, SourceLocation location);
    // Text: the message itself.
    explicit Exception(std::string message);
    ~Exception() override;

    // Valid as long as the exception lives.
    const char* what() const noexcept override;

private:
    std::string text_;
};

namespace detail {
// The qualified function name ("quilo::head::Engine::Engine") out of the
// compiler's decorated signature (__PRETTY_FUNCTION__).
QUILO_API std::string QualifiedFunctionName(const char* prettyFunction);
}  // namespace detail

}  // namespace quilo

// Logs "Assertion failed in {function} at {file}:{line} - {message}" at
// critical level and aborts the process. Never returns.
extern "C" [[noreturn]] QUILO_API void quiloAssert(const char* file, int line, const char* function,
                                                   const char* message);

// Throws quilo::Exception with an fmt-formatted message and the throw site's
// file, line and qualified function name.
#define QUILO_THROW(...)                            \
    throw ::quilo::Exception(                       \
        ::fmt::format(__VA_ARGS__),                 \
        ::quilo::SourceLocation{__FILE__, __LINE__, \
                                ::quilo::detail::QualifiedFunctionName(__PRETTY_FUNCTION__).c_str()})

#define QUILO_ASSERT(condition, message)                                          \
    do {                                                                          \
        if (!(condition)) ::quiloAssert(__FILE__, __LINE__, __func__, (message)); \
    } while (false)
