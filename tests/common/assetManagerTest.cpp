// Reading assets from the folder beside a module, and every way it can fail.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "common/assetManager.h"
#include "common/exception.h"
#include "common/paths.h"
#include "support/tempFolder.h"

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

void FunctionInTheTestProgram() {}

class AssetManagerTest : public ::testing::Test {
protected:
    std::filesystem::path Write(const std::string& name, const std::string& bytes) {
        const auto path = folder_.path() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // Expects `read` to throw a message starting with `message`, thrown by `function`.
    template <typename Read>
    void ExpectFailure(Read read, const std::string& message, const std::string& function) {
        try {
            read();
            ADD_FAILURE() << "no exception";
        } catch (const quilo::Exception& e) {
            EXPECT_THAT(e.what(), StartsWith(message + " in "));
            EXPECT_THAT(e.what(), HasSubstr("FileAssetManager::" + function + " common/assetManager.cpp:"));
        }
    }

    quilo::test::TempFolder folder_;
    quilo::AssetLocation location_{folder_.path(), nullptr};
    std::unique_ptr<quilo::AssetManager> manager_ = quilo::AssetManager::Create(nullptr);
};

TEST_F(AssetManagerTest, AssetsLieInTheAssetsFolderBesideTheModule) {
    EXPECT_EQ(manager_->GetAssetPath("model.dat", nullptr),
              quilo::GetLibraryPath().parent_path() / "assets" / "model.dat");

    // A caller's location is filled in on first use and kept from then on.
    quilo::AssetLocation location{{}, reinterpret_cast<const void*>(&FunctionInTheTestProgram)};
    const auto expected = quilo::GetExecutablePath().parent_path() / "assets";
    EXPECT_EQ(manager_->GetAssetPath("a", &location), expected / "a");
    EXPECT_EQ(location.assetsDirectory, expected);
    location.moduleAddress = nullptr;
    EXPECT_EQ(manager_->GetAssetPath("b", &location), expected / "b");
}

TEST_F(AssetManagerTest, ReadsTheBytesUnchanged) {
    const std::string bytes("line\r\n\0\xff end", 12);
    Write("model.dat", bytes);

    const auto buffer = manager_->ReadBytes("model.dat", &location_);
    ASSERT_EQ(buffer.size, 12);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data.get()), 12), bytes);
    EXPECT_EQ(manager_->ReadText("model.dat", &location_), bytes);
}

TEST_F(AssetManagerTest, AMissingAssetCannotBeOpened) {
    const auto path = (folder_.path() / "missing.dat").string();
    ExpectFailure([&] { manager_->ReadBytes("missing.dat", &location_); },
                  "failed to open asset \"missing.dat\" (\"" + path + "\")", "ReadBytes");
    ExpectFailure([&] { manager_->ReadText("missing.dat", &location_); },
                  "failed to open asset \"missing.dat\" (\"" + path + "\")", "ReadText");
}

TEST_F(AssetManagerTest, AFolderIsNotAnAsset) {
    std::filesystem::create_directory(folder_.path() / "folder");
    ExpectFailure([&] { manager_->ReadText("folder", &location_); },
                  "failed to open asset \"folder\" (\"" + (folder_.path() / "folder").string() + "\")", "ReadText");
}

TEST_F(AssetManagerTest, AnEmptyAssetIsInvalid) {
    const auto path = Write("empty.dat", "").string();
    ExpectFailure([&] { manager_->ReadBytes("empty.dat", &location_); },
                  "invalid asset \"empty.dat\" (\"" + path + "\"): pos=0", "ReadBytes");
    ExpectFailure([&] { manager_->ReadText("empty.dat", &location_); },
                  "invalid asset \"empty.dat\" (\"" + path + "\"): pos=0", "ReadText");
}

// Kernel attribute files claim a size of a page but hold a few bytes: the
// read comes up short.
TEST_F(AssetManagerTest, AShortReadFails) {
    quilo::AssetLocation kernel{"/sys/kernel", nullptr};
    if (!std::filesystem::exists("/sys/kernel/uevent_seqnum")) {
        GTEST_SKIP() << "no /sys/kernel/uevent_seqnum";
    }
    ExpectFailure([&] { manager_->ReadBytes("uevent_seqnum", &kernel); },
                  "failed to read asset \"uevent_seqnum\" (\"" +
                      (std::filesystem::path("/sys/kernel") / "uevent_seqnum").string() + "\")",
                  "ReadBytes");
}

}  // namespace
