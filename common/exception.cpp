#include "common/exception.h"

#include <cstdlib>
#include <string_view>

#include "common/log.h"

namespace quilo {

Exception::Exception(const std::string& message, SourceLocation location)
    : text_(location.function == nullptr ? message
                                         : fmt::format("{} in {} {}:{}", message, location.function,
                                                       location.file ? location.file : "", location.line)) {}

Exception::Exception(std::string message) : text_(std::move(message)) {}

Exception::~Exception() = default;

const char* Exception::what() const noexcept { return text_.c_str(); }

namespace detail {

std::string QualifiedFunctionName(const char* prettyFunction) {
    if (prettyFunction == nullptr) return {};
    std::string_view s(prettyFunction);
    // GCC appends template arguments as " [with T = ...]".
    if (auto with = s.find(" [with "); with != std::string_view::npos) s = s.substr(0, with);

    // The parameter list is the last parenthesised group outside template
    // brackets; what precedes it, after the last blank at the same depth, is
    // the name. The blank separates a return type, which constructors lack.
    int angle = 0;
    int paren = 0;
    size_t nameEnd = s.size();
    for (size_t i = s.size(); i-- > 0;) {
        char c = s[i];
        if (c == ')') ++paren;
        else if (c == '(') {
            if (--paren == 0 && angle == 0) {
                nameEnd = i;
                break;
            }
        }
    }
    size_t nameBegin = 0;
    for (size_t i = 0; i < nameEnd; ++i) {
        char c = s[i];
        if (c == '<') ++angle;
        else if (c == '>') --angle;
        else if (c == '(') ++paren;
        else if (c == ')') --paren;
        else if (c == ' ' && angle == 0 && paren == 0) nameBegin = i + 1;
    }
    return std::string(s.substr(nameBegin, nameEnd - nameBegin));
}

}  // namespace detail
}  // namespace quilo

extern "C" void quiloAssert(const char* file, int line, const char* function, const char* message) {
    if (auto logger = quilo::GetDefaultLogger()) {
        logger->critical("Assertion failed in {} at {}:{} - {}", function ? function : "", file ? file : "", line,
                         message ? message : "");
        logger->flush();
    }
    std::abort();
}
