// Loading plugin libraries beside the engine library and through the loader's
// search path, and looking up their exports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "common/exception.h"
#include "common/paths.h"
#include "common/plugin.h"
#include "support/logCapture.h"
#include "support/process.h"
#include "support/sandbox.h"
#include "support/system.h"
#include "support/tempFolder.h"

using quilo::test::IsLibraryLoaded;
using quilo::test::Sandbox;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

constexpr const char* kName = "quiloTestPlugin";

std::string NameOf(const quilo::PluginLibrary& library) {
    return quilo::PluginFunction<const char*()>(library, "TestPlugin_Name")();
}

std::string WarnLine(const std::filesystem::path& path) {
    return "[Plugin] Failed to load library at path \"" + path.string() + "\". Looking in PATH.";
}

class PluginLibraryTest : public ::testing::Test {
protected:
    Sandbox sandbox_;
    quilo::test::LogCapture log_;
};

TEST_F(PluginLibraryTest, TheSandboxIsTheFolderBesideTheEngine) {
    EXPECT_TRUE(std::filesystem::equivalent(quilo::GetLibraryPath().parent_path(), Sandbox::Directory()));
}

TEST_F(PluginLibraryTest, LoadsTheLibraryBesideTheEngineAndUnloadsItWhenDestroyed) {
    const auto path = Sandbox::Install("quiloTestBlinkDetectorScripted", kName);
    {
        quilo::PluginLibrary library(kName);
        EXPECT_TRUE(IsLibraryLoaded(path));
        EXPECT_EQ(NameOf(library), "scripted");
    }
    EXPECT_FALSE(IsLibraryLoaded(path));
    EXPECT_EQ(log_.Count(spdlog::level::warn, "[Plugin]"), 0u);
    EXPECT_EQ(log_.Count(spdlog::level::debug, "[Plugin] Successfully loaded library \"quiloTestPlugin\""), 1u);
}

TEST_F(PluginLibraryTest, EachLibraryObjectHoldsItsOwnReference) {
    const auto path = Sandbox::Install("quiloTestBlinkDetectorScripted", kName);
    auto first = std::make_unique<quilo::PluginLibrary>(kName);
    auto second = std::make_unique<quilo::PluginLibrary>(kName);
    first.reset();
    EXPECT_TRUE(IsLibraryLoaded(path));
    second.reset();
    EXPECT_FALSE(IsLibraryLoaded(path));
}

TEST_F(PluginLibraryTest, ALibraryFoundNowhereThrowsWithTheLoadersMessage) {
    try {
        quilo::PluginLibrary library("quiloTestPluginMissing");
        FAIL() << "loaded a missing library";
    } catch (const quilo::Exception& e) {
        // The base name in the message, the file name in the loader's text.
        EXPECT_THAT(
            e.what(),
            StartsWith("failed to load library \"quiloTestPluginMissing\": " +
                       quilo::test::LibraryNotFoundText(quilo::PluginLibrary::FileName("quiloTestPluginMissing"))));
        EXPECT_THAT(e.what(), HasSubstr(" in quilo::PluginLibrary::PluginLibrary common/plugin.cpp:"));
        EXPECT_THAT(
            quilo::GetLastErrorAsString(),
            HasSubstr(quilo::test::LibraryNotFoundText(quilo::PluginLibrary::FileName("quiloTestPluginMissing"))));
    }
    // The warning names the full path tried first.
    EXPECT_EQ(log_.Count(spdlog::level::warn,
                         WarnLine(Sandbox::Directory() / quilo::PluginLibrary::FileName("quiloTestPluginMissing"))),
              1u);
    EXPECT_EQ(log_.Count("Successfully loaded"), 0u);
}

TEST_F(PluginLibraryTest, AFileThatIsNotASharedObjectIsRejected) {
    const auto path = Sandbox::InstallFile(kName, std::string(200, 'x'));
    EXPECT_THROW(quilo::PluginLibrary library(kName), quilo::Exception);
    // Why the library beside the engine was not taken is logged.
    EXPECT_EQ(log_.Count(spdlog::level::debug, path.string() + "\": " + quilo::test::NotALibraryText(path)), 1u);
    EXPECT_FALSE(IsLibraryLoaded(path));
}

TEST_F(PluginLibraryTest, ALibraryWithAnUnresolvedSymbolFailsAtLoadTime) {
    if (!quilo::test::CanBuildLibrariesWithUnresolvedSymbols())
        GTEST_SKIP() << "this system links every import of a library when it is built";
    const auto path = Sandbox::Install("quiloTestBlinkDetectorUnresolved", kName);
    EXPECT_THROW(quilo::PluginLibrary library(kName), quilo::Exception);
    EXPECT_EQ(log_.Count(spdlog::level::debug, "undefined symbol: quiloTestUndefinedFunction"), 1u);
    EXPECT_FALSE(IsLibraryLoaded(path));
}

TEST_F(PluginLibraryTest, AMissingExportThrowsNamingTheSymbolAndTheSignature) {
    const auto path = Sandbox::Install("quiloTestBlinkDetectorScripted", kName);
    quilo::PluginLibrary library(kName);
    try {
        quilo::PluginFunction<void(int)> function(library, "NoSuchExport");
        FAIL() << "found a missing export";
    } catch (const quilo::Exception& e) {
        EXPECT_THAT(e.what(), StartsWith("failed to load symbol \"NoSuchExport\": " +
                                         quilo::test::MissingExportText(path, "NoSuchExport") +
                                         " in quilo::PluginFunction<void(int)>::PluginFunction common/plugin.h:"));
    }
    // The library itself stays usable.
    EXPECT_EQ(NameOf(library), "scripted");
}

TEST_F(PluginLibraryTest, TheLastErrorIsClearedBySuccessAndFollowsTheErrorNumber) {
    Sandbox::Install("quiloTestBlinkDetectorScripted", kName);
    EXPECT_THROW(quilo::PluginLibrary library("quiloTestPluginMissing"), quilo::Exception);
    { quilo::PluginLibrary library(kName); }
    using quilo::test::SystemError;
    quilo::test::SetLastSystemError(SystemError::kNone);
    EXPECT_EQ(quilo::GetLastErrorAsString(), "");
    quilo::test::SetLastSystemError(SystemError::kAccessDenied);
    EXPECT_EQ(quilo::GetLastErrorAsString(), quilo::test::SystemErrorText(SystemError::kAccessDenied));
    quilo::test::SetLastSystemError(SystemError::kNone);
}

// The loader's search path (LD_LIBRARY_PATH, read when a process starts; PATH
// on Windows) is given to a child process; the parent prepares the folders.
TEST_F(PluginLibraryTest, ALibraryOnlyOnTheSearchPathIsFoundThereAfterAWarning) {
    quilo::test::TempFolder elsewhere;
    Sandbox::Install("quiloTestBlinkDetectorNullCreate", kName, elsewhere.path());
    EXPECT_EQ(quilo::test::RunChildTests("PluginSearchChild.*", {quilo::test::LibrarySearchPathWith(elsewhere.path()),
                                                                 {"QUILO_TEST_EXPECT_PLUGIN", "nullCreate"},
                                                                 {"QUILO_TEST_EXPECT_WARNING", "1"}}),
              0);
}

TEST_F(PluginLibraryTest, ALibraryBesideTheEngineWinsOverTheSearchPath) {
    quilo::test::TempFolder elsewhere;
    Sandbox::Install("quiloTestBlinkDetectorNullCreate", kName, elsewhere.path());
    Sandbox::Install("quiloTestBlinkDetectorScripted", kName);
    EXPECT_EQ(quilo::test::RunChildTests("PluginSearchChild.*", {quilo::test::LibrarySearchPathWith(elsewhere.path()),
                                                                 {"QUILO_TEST_EXPECT_PLUGIN", "scripted"},
                                                                 {"QUILO_TEST_EXPECT_WARNING", "0"}}),
              0);
}

TEST(PluginSearchChild, LoadsTheExpectedLibrary) {
    if (!quilo::test::IsChildProcess()) GTEST_SKIP() << "runs in a child process only";
    quilo::test::LogCapture log;
    const auto expected = quilo::test::GetEnvironmentValue("QUILO_TEST_EXPECT_PLUGIN").value_or("?");
    const bool warning = quilo::test::GetEnvironmentValue("QUILO_TEST_EXPECT_WARNING") == "1";

    quilo::PluginLibrary library(kName);
    EXPECT_EQ(NameOf(library), expected);

    std::vector<std::string> lines;
    for (const auto& line : log.lines()) {
        if (line.level != spdlog::level::debug || line.text.rfind("[Plugin] Successfully", 0) == 0) {
            lines.push_back(line.text);
        }
    }
    std::vector<std::string> expectedLines;
    if (warning) {
        expectedLines.push_back(WarnLine(Sandbox::Directory() / quilo::PluginLibrary::FileName("quiloTestPlugin")));
    }
    expectedLines.push_back("[Plugin] Successfully loaded library \"quiloTestPlugin\"");
    EXPECT_EQ(lines, expectedLines);
}

}  // namespace
