// The library logger beside an engine library whose log folder cannot be
// written: the console goes on alone, with one warning that says why.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/log.h"
#include "common/paths.h"
#include "common/platform.h"
#include "support/sandbox.h"

using ::testing::HasSubstr;

namespace {

namespace fs = std::filesystem;

TEST(LogFolder, AnUnwritableFolderLeavesTheConsoleAlone) {
    const fs::path folder = quilo::GetDefaultLogsDirectory();
    ASSERT_EQ(folder.parent_path(), quilo::test::Sandbox::Directory());
    // Ways the file cannot be opened, even for a privileged user.
    const struct {
        const char* name;
        void (*prepare)(const fs::path& folder);
    } cases[] = {
        {"the folder is a file", [](const fs::path& f) { std::ofstream(f) << "not a folder"; }},
        {"the log file is a folder", [](const fs::path& f) { fs::create_directories(f / "HeadTracking.txt"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        quilo::test::Sandbox sandbox;
        c.prepare(folder);
        ::testing::internal::CaptureStdout();
        ASSERT_NO_THROW(quilo::CreateDefaultLogger());
        const auto logger = quilo::GetDefaultLogger();
        logger->info("still logging");
        logger->flush();
        const std::string console = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(logger->sinks().size(), 1u);
        EXPECT_THAT(console, HasSubstr("Logging to the console only: cannot write the log file in " + folder.string()));
        EXPECT_THAT(console, HasSubstr("still logging"));
        // The engine's platform, which installs the logger for a host, works on.
        EXPECT_TRUE(quilo::Platform::Create(quilo::PlatformInitArgs{}));
    }
    spdlog::set_default_logger(nullptr);
}

}  // namespace
