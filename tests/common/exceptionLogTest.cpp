#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/exception.h"
#include "common/log.h"
#include "common/paths.h"

using ::testing::HasSubstr;

namespace {

void ThrowFromHere() { QUILO_THROW("bad value {}", 42); }  // line 17

struct Thrower {
    template <typename T>
    void Member(const T&, int) {
        QUILO_THROW("from member");
    }
};

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

TEST(Exception, TextCarriesMessageFunctionFileAndLine) {
    quilo::Exception e("msg", quilo::SourceLocation{"a/b.cpp", 12, "quilo::X::Y"});
    EXPECT_STREQ(e.what(), "msg in quilo::X::Y a/b.cpp:12");
}

TEST(Exception, WithoutFunctionTheTextIsTheMessage) {
    quilo::Exception e("only the message", quilo::SourceLocation{"a/b.cpp", 12, nullptr});
    EXPECT_STREQ(e.what(), "only the message");
    EXPECT_STREQ(quilo::Exception("plain").what(), "plain");
}

TEST(Exception, ThrowMacroFillsTheThrowSite) {
    try {
        ThrowFromHere();
        FAIL();
    } catch (const quilo::Exception& e) {
        // Project-relative file, the real line, the qualified name without its signature.
        EXPECT_STREQ(e.what(), "bad value 42 in {anonymous}::ThrowFromHere tests/common/exceptionLogTest.cpp:17");
    }
    try {
        Thrower{}.Member(std::string("x"), 1);
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_THAT(e.what(), HasSubstr("from member in {anonymous}::Thrower::Member "));
    }
}

TEST(Exception, QualifiedFunctionNameStripsReturnTypeAndParameters) {
    using quilo::detail::QualifiedFunctionName;
    EXPECT_EQ(QualifiedFunctionName("void quilo::head::KalmanFilter::Update(const quilo::head::KalmanCoeffs&, "
                                    "const vec3&, float)"),
              "quilo::head::KalmanFilter::Update");
    EXPECT_EQ(QualifiedFunctionName("quilo::head::Engine::Engine(const quilo::head::EngineInitArgs&)"),
              "quilo::head::Engine::Engine");
    EXPECT_EQ(QualifiedFunctionName("quilo::PluginFunction<Signature>::PluginFunction(const "
                                    "quilo::PluginLibrary&, const char*) [with Signature = void(int)]"),
              "quilo::PluginFunction<Signature>::PluginFunction");
}

TEST(LogLevels, NamesAndMapping) {
    EXPECT_STREQ(quilo_log_level_to_string(0), "Default");
    EXPECT_STREQ(quilo_log_level_to_string(7), "Off");
    EXPECT_STREQ(quilo_log_level_to_string(8), "Unknown");
    EXPECT_STREQ(quilo_log_level_to_string(-1), "Unknown");

    EXPECT_EQ(quilo::ToSpdlog(0), spdlog::level::info);
    EXPECT_EQ(quilo::ToSpdlog(8), spdlog::level::info);
    EXPECT_EQ(quilo::ToSpdlog(-3), spdlog::level::info);
    EXPECT_EQ(quilo::ToSpdlog(1), spdlog::level::trace);
    EXPECT_EQ(quilo::ToSpdlog(7), spdlog::level::off);
    EXPECT_EQ(quilo::FromSpdlog(spdlog::level::off), 7);
    EXPECT_EQ(quilo::FromSpdlog(spdlog::level::trace), 1);
    for (int level = 1; level <= 7; ++level) EXPECT_EQ(quilo::FromSpdlog(quilo::ToSpdlog(level)), level);
}

TEST(DefaultLogger, WritesTheTruncatedFileBesideTheLibrary) {
    const auto file = quilo::GetDefaultLogsDirectory() / "HeadTracking.txt";
    EXPECT_EQ(quilo::GetDefaultLogsDirectory().filename(), "VARDOLogs");
    EXPECT_EQ(quilo::GetDefaultLogsDirectory().parent_path(), quilo::GetLibraryPath().parent_path());
    EXPECT_EQ(quilo::GetLibraryPath().filename(), QUILO_ENGINE_FILE_NAME);

    quilo::CreateDefaultLogger();
    auto logger = quilo::GetDefaultLogger();
    ASSERT_TRUE(logger);
    EXPECT_EQ(logger->name(), "HeadTracking");
    logger->info("first run line");
    logger->flush();
    EXPECT_THAT(ReadFile(file), HasSubstr("first run line"));

    // A second creation starts the file empty again.
    quilo::CreateDefaultLogger();
    quilo::GetDefaultLogger()->info("second run line");
    quilo::GetDefaultLogger()->flush();
    const auto text = ReadFile(file);
    EXPECT_THAT(text, HasSubstr("second run line"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("first run line")));
}

TEST(AssertDeathTest, AbortsEvenWhenLoggingIsOff) {
    EXPECT_DEATH(
        {
            quilo::CreateDefaultLogger();
            quilo::GetDefaultLogger()->set_level(spdlog::level::off);
            quiloAssert("f.cpp", 3, "fn", "boom");
        },
        "");
    EXPECT_DEATH(quiloAssert("f.cpp", 3, "fn", "boom"), "");
}
