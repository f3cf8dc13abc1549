// The platform object with the library's logger start-up and shutdown, the
// path helpers and the small utilities.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <spdlog/sinks/stdout_color_sinks.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "common/buildInfo.h"
#include "common/log.h"
#include "common/paths.h"
#include "common/platform.h"
#include "common/utils.h"
#include "support/logCapture.h"
#include "support/process.h"
#include "support/system.h"
#include "support/tempFolder.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

std::string ReadLogFile() {
    quilo::GetDefaultLogger()->flush();
    std::ifstream in(quilo::GetDefaultLogsDirectory() / "HeadTracking.txt");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Leaves the logging library as it found it: default logger, levels, and no
// library logger kept by the platform.
class PlatformTest : public ::testing::Test {
protected:
    void TearDown() override {
        quilo::Platform::OnLibraryUnload();
        spdlog::details::registry::instance().set_levels({}, nullptr);
        spdlog::set_default_logger(previous_);
        spdlog::set_level(spdlog::level::info);
        quilo::test::SetEnvironmentValue("SPDLOG_LEVEL", std::nullopt);
    }

    // The unnamed console logger the logging library installs when it starts.
    static void InstallLoggingLibrarysOwnLogger() {
        spdlog::set_default_logger(
            std::make_shared<spdlog::logger>("", std::make_shared<spdlog::sinks::stdout_color_sink_mt>()));
    }

    std::shared_ptr<spdlog::logger> previous_ = spdlog::default_logger();
};

TEST_F(PlatformTest, CreateReplacesTheLoggingLibrarysOwnLoggerAndLogsTheVersion) {
    InstallLoggingLibrarysOwnLogger();
    quilo::PlatformInitArgs args;
    args.logLevel = kQuiloLogLevelDebug;
    auto platform = quilo::Platform::Create(args);
    ASSERT_TRUE(platform);

    auto logger = quilo::GetDefaultLogger();
    ASSERT_TRUE(logger);
    EXPECT_EQ(logger->name(), "HeadTracking");
    EXPECT_EQ(logger->level(), spdlog::level::debug);

    const std::string version =
        fmt::format("version: {} ({} - {})", QUILO_HEAD_TRACKING_VERSION, QUILO_BUILD_GIT_REF, QUILO_BUILD_GIT_COMMIT);
    EXPECT_THAT(ReadLogFile(), HasSubstr(version));
    const std::string commit = QUILO_BUILD_GIT_COMMIT;
    EXPECT_EQ(commit.size(), 40u);
    EXPECT_EQ(commit.find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST_F(PlatformTest, CreateWithoutAnyLoggerInstallsTheLibraryLoggerOnce) {
    spdlog::set_default_logger(nullptr);
    auto platform = quilo::Platform::Create({});
    auto logger = quilo::GetDefaultLogger();
    ASSERT_TRUE(logger);
    EXPECT_EQ(logger->name(), "HeadTracking");
    EXPECT_EQ(logger->level(), spdlog::level::info);  // the default level

    auto second = quilo::Platform::Create({});
    EXPECT_EQ(quilo::GetDefaultLogger(), logger);
}

TEST_F(PlatformTest, AHostLoggerIsKeptAndEveryLoggerTakesTheRequestedLevel) {
    quilo::test::LogCapture capture;
    auto host = quilo::GetDefaultLogger();
    quilo::PlatformInitArgs args;
    args.logLevel = kQuiloLogLevelError;
    auto platform = quilo::Platform::Create(args);

    EXPECT_EQ(quilo::GetDefaultLogger(), host);
    EXPECT_EQ(host->level(), spdlog::level::err);
    EXPECT_EQ(capture.Count("version:"), 0u);
    auto later = spdlog::stdout_color_mt("quiloPlatformTestLater");
    EXPECT_EQ(later->level(), spdlog::level::err);
    spdlog::drop("quiloPlatformTestLater");

    // The host still holds its logger: shutdown leaves logging alone.
    quilo::Platform::OnLibraryLoad();
    quilo::Platform::OnLibraryUnload();
    EXPECT_EQ(quilo::GetDefaultLogger(), host);
}

TEST_F(PlatformTest, ShutdownEndsLoggingWhenOnlyTheLibraryUsesTheLogger) {
    spdlog::set_default_logger(nullptr);
    quilo::Platform::OnLibraryLoad();
    ASSERT_TRUE(quilo::GetDefaultLogger());
    quilo::Platform::OnLibraryUnload();
    EXPECT_FALSE(quilo::GetDefaultLogger());
    // A second shutdown has nothing to drop.
    quilo::Platform::OnLibraryUnload();
    EXPECT_FALSE(quilo::GetDefaultLogger());
}

TEST_F(PlatformTest, SpdlogLevelConfiguresTheNewLogger) {
    spdlog::set_default_logger(nullptr);
    quilo::test::SetEnvironmentValue("SPDLOG_LEVEL", "HeadTracking=warn");
    quilo::Platform::OnLibraryLoad();
    EXPECT_EQ(quilo::GetDefaultLogger()->level(), spdlog::level::warn);
    // Applied before the version line, which is then below the level.
    EXPECT_THAT(ReadLogFile(), Not(HasSubstr("version:")));
}

TEST_F(PlatformTest, AnEmptySpdlogLevelChangesNothing) {
    spdlog::set_default_logger(nullptr);
    spdlog::set_level(spdlog::level::debug);
    quilo::test::SetEnvironmentValue("SPDLOG_LEVEL", "");
    quilo::Platform::OnLibraryLoad();
    EXPECT_EQ(quilo::GetDefaultLogger()->level(), spdlog::level::info);
    EXPECT_THAT(ReadLogFile(), HasSubstr("version:"));
    // The level for loggers made later is still the one set before.
    auto later = spdlog::stdout_color_mt("quiloPlatformTestLater");
    EXPECT_EQ(later->level(), spdlog::level::debug);
    spdlog::drop("quiloPlatformTestLater");
}

TEST(Platform, SystemTimeIsNanosecondsSince1970) {
    auto platform = quilo::Platform::Create({});
    const auto ns = [] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    const int64_t before = ns();
    const int64_t now = platform->GetSystemTimeNs();
    const int64_t after = ns();
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

void FunctionInTheTestProgram() {}

TEST(Paths, ModulesAreFoundByAnAddressInside) {
    const auto executable = quilo::GetExecutablePath();
    EXPECT_TRUE(executable.is_absolute());
    EXPECT_EQ(executable.stem(), "quiloCommonTests");
    EXPECT_TRUE(std::filesystem::exists(executable));

    EXPECT_EQ(quilo::GetLibraryPath(reinterpret_cast<const void*>(&FunctionInTheTestProgram)), executable);
    EXPECT_EQ(quilo::GetLibraryPath(nullptr), quilo::GetLibraryPath());
    EXPECT_EQ(quilo::GetLibraryPath().filename(), QUILO_ENGINE_FILE_NAME);

    // Another library: canonical, so the real file and not a link to it.
    const auto other = quilo::GetLibraryPath(quilo::test::AddressInAnotherLibrary());
    EXPECT_TRUE(other.is_absolute());
    EXPECT_THAT(other.filename().string(), ::testing::StartsWith(quilo::test::AnotherLibraryFileNamePrefix()));
    EXPECT_EQ(other, std::filesystem::canonical(other));
}

TEST(Paths, AnAddressOutsideEveryModuleGivesAnEmptyPathAndAnError) {
    quilo::test::LogCapture log;
    auto heap = std::make_unique<int>(0);
    EXPECT_EQ(quilo::GetLibraryPath(heap.get()), std::filesystem::path());
    EXPECT_EQ(log.Count(spdlog::level::err, "Failed to query module handle: ec="), 1u);
}

TEST(Paths, AppDataIsTheMachineWideFolder) {
    EXPECT_FALSE(quilo::GetAppDataPath().empty());
    EXPECT_EQ(quilo::GetAppDataPath(), quilo::test::ExpectedMachineDataDirectory());
}

TEST(Paths, LastErrorTextFollowsTheErrorNumber) {
    using quilo::test::SystemError;
    quilo::test::SetLastSystemError(SystemError::kNone);
    EXPECT_EQ(quilo::GetLastErrorAsString(), "");
    quilo::test::SetLastSystemError(SystemError::kAccessDenied);
    const std::string text = quilo::GetLastErrorAsString();
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text, quilo::test::SystemErrorText(SystemError::kAccessDenied));
    quilo::test::SetLastSystemError(SystemError::kNone);
}

// The executable's path is read into a buffer that starts at 1024 bytes; a
// copy of this program deep in a folder tree runs a child test that checks it
// gets its whole path.
TEST(Paths, AnExecutablePathLongerThanTheFirstBufferIsReturnedWhole) {
    quilo::test::TempFolder temporary;
    auto folder = temporary.path();
    while (folder.string().size() < 2500) folder /= std::string(200, 'd');
    std::filesystem::create_directories(folder);
    const auto copy = folder / quilo::test::ThisProgram().filename();
    std::filesystem::copy_file(quilo::test::ThisProgram(), copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);

    const int code =
        quilo::test::RunProgram(copy, {"--gtest_filter=PathsChild.*"},
                                {{"QUILO_TEST_CHILD", "1"},
                                 {"QUILO_TEST_EXPECT_EXECUTABLE", copy.string()},
                                 quilo::test::LibrarySearchPathWith(quilo::GetLibraryPath().parent_path())});
    EXPECT_EQ(code, 0);
}

TEST(PathsChild, ExecutablePathIsTheExpectedOne) {
    if (!quilo::test::IsChildProcess()) GTEST_SKIP() << "runs in a child process only";
    EXPECT_EQ(quilo::GetExecutablePath().string(),
              quilo::test::GetEnvironmentValue("QUILO_TEST_EXPECT_EXECUTABLE").value_or("?"));
}

TEST(WaitForDebugger, ReturnsOnceADebuggerIsAttached) {
    // The leak checker of sanitizer builds traces the process itself at exit,
    // which a process that is already traced refuses.
    const auto asan = quilo::test::GetEnvironmentValue("ASAN_OPTIONS").value_or("");
    const int code = quilo::test::RunProgramTraced(
        quilo::test::ThisProgram(), {"--gtest_filter=WaitForDebuggerChild.*"},
        {{"QUILO_TEST_CHILD", "1"}, {"ASAN_OPTIONS", asan + (asan.empty() ? "" : ":") + "detect_leaks=0"}});
    if (code == -2) GTEST_SKIP() << "this system does not let a process trace its child";
    EXPECT_EQ(code, 0);
}

TEST(WaitForDebuggerChild, Returns) {
    if (!quilo::test::IsChildProcess()) GTEST_SKIP() << "runs in a child process only";
    quilo::WaitForDebugger();
}

TEST(StringReplace, ReplacesEveryOccurrenceWithoutRescanningTheReplacement) {
    auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        quilo::stringReplace(text, from, to);
        return text;
    };
    EXPECT_EQ(replaced("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(replaced("aaa", "aa", "b"), "ba");  // no overlapping occurrences
    EXPECT_EQ(replaced("a.b.c", ".", ""), "abc");
    EXPECT_EQ(replaced("x{}y{}", "{}", "{}{}"), "x{}{}y{}{}");
    EXPECT_EQ(replaced("abc", "", "z"), "abc");
    EXPECT_EQ(replaced("", "a", "z"), "");
    EXPECT_EQ(replaced("abc", "abcd", "z"), "abc");
}

}  // namespace
