// Face detectors from plugin libraries: creation, ownership of the library,
// backend probing, and every way a plugin can fail.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "common/assetManager.h"
#include "headTracking/engine/blinkDetector.h"
#include "support/logCapture.h"
#include "support/process.h"
#include "support/sandbox.h"
#include "support/system.h"
#include "support/tempFolder.h"
#include "testPlugins/scriptedDetector.h"

using quilo::head::BlinkDetectorConfiguration;
using quilo::head::CreateBlinkDetector;
using quilo::head::FaceDetector;
using quilo::head::GetSupportedFaceDetectorBackends;
using quilo::head::IsBlinkDetectorBackendSupported;
using quilo::test::DetectorOperation;
using quilo::test::IsLibraryLoaded;
using quilo::test::Sandbox;
using ::testing::HasSubstr;

namespace {

const std::string kCpu = "quiloHeadTrackingBlinkDetectorcpu";
const std::string kGpu = "quiloHeadTrackingBlinkDetectorgpu";
const std::string kScripted = "quiloTestBlinkDetectorScripted";

class BlinkDetectorTest : public ::testing::Test {
protected:
    void SetUp() override { quilo::test::ResetScriptedDetector(); }
    void TearDown() override { quilo::test::ResetScriptedDetector(); }

    // The one error line of a failed creation, or "" when there is none.
    std::string FailureLine() const {
        for (const auto& line : log_.lines()) {
            if (line.level == spdlog::level::err && line.text.rfind("[BlinkDetectorLoader] Failed to load: ", 0) == 0) {
                return line.text;
            }
        }
        return "";
    }

    Sandbox sandbox_;
    quilo::test::LogCapture log_;
    quilo::head::FaceDetectorConfiguration settings_{3, kQuiloFaceDetectorBackendCPU};
    BlinkDetectorConfiguration configuration_{settings_, "options"};
};

TEST_F(BlinkDetectorTest, CreatesTheDetectorOfTheBackendWithTheGivenArguments) {
    Sandbox::Install("quiloTestBlinkDetectorNullCreate", kCpu);
    Sandbox::Install(kScripted, kGpu);
    std::filesystem::create_directory(Sandbox::Directory() / "assets");
    std::ofstream(Sandbox::Directory() / "assets" / "model.txt") << "model data";
    quilo::test::DetectorScript script;
    script.assetToRead = "model.txt";
    quilo::test::ResetScriptedDetector(script);
    const auto assets = quilo::AssetManager::Create(nullptr);

    settings_.backend = kQuiloFaceDetectorBackendGPU;
    const auto detector = CreateBlinkDetector(configuration_, assets.get());
    ASSERT_TRUE(detector);
    EXPECT_EQ(detector->GetBackend(), kQuiloFaceDetectorBackendGPU);
    EXPECT_EQ(detector->GetMaxNumOfDetectedFaces(), 3);

    const auto record = quilo::test::GetScriptedDetectorRecord();
    EXPECT_EQ(record.created, 1);
    EXPECT_EQ(record.settings.maxNumOfFaces, 3);
    EXPECT_EQ(record.settings.backend, kQuiloFaceDetectorBackendGPU);
    EXPECT_EQ(record.detectorOptions, "options");
    EXPECT_EQ(record.assetManager, assets.get());
    EXPECT_EQ(record.assetText, "model data");  // read beside the engine, through the manager
    EXPECT_EQ(FailureLine(), "");
}

TEST_F(BlinkDetectorTest, TheLibraryStaysLoadedExactlyAsLongAsTheDetector) {
    const auto path = Sandbox::Install(kScripted, kCpu);
    bool loadedWhileDeleting = false;
    quilo::test::DetectorScript script;
    script.onDelete = [&] { loadedWhileDeleting = IsLibraryLoaded(path); };
    quilo::test::ResetScriptedDetector(script);

    auto detector = CreateBlinkDetector(configuration_, nullptr);
    ASSERT_TRUE(detector);
    auto copy = detector;
    const std::weak_ptr<FaceDetector> observer = detector;
    detector.reset();
    EXPECT_TRUE(IsLibraryLoaded(path));
    EXPECT_EQ(quilo::test::GetScriptedDetectorRecord().deleted, 0);

    copy.reset();
    EXPECT_TRUE(loadedWhileDeleting);
    EXPECT_EQ(quilo::test::GetScriptedDetectorRecord().deleted, 1);
    // Unloaded although a weak reference keeps the shared control block.
    EXPECT_FALSE(IsLibraryLoaded(path));
    EXPECT_TRUE(observer.expired());
}

TEST_F(BlinkDetectorTest, TwoDetectorsKeepTheLibraryLoadedUntilBothAreGone) {
    const auto path = Sandbox::Install(kScripted, kCpu);
    auto first = CreateBlinkDetector(configuration_, nullptr);
    auto second = CreateBlinkDetector(configuration_, nullptr);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    first.reset();
    EXPECT_TRUE(IsLibraryLoaded(path));
    second.reset();
    EXPECT_FALSE(IsLibraryLoaded(path));
    EXPECT_EQ(quilo::test::GetScriptedDetectorRecord().Count(DetectorOperation::Delete), 2);
}

TEST_F(BlinkDetectorTest, ACreateFunctionReturningNullGivesNothingAndLogsNothing) {
    const auto path = Sandbox::Install("quiloTestBlinkDetectorNullCreate", kCpu);
    EXPECT_FALSE(CreateBlinkDetector(configuration_, nullptr));
    EXPECT_EQ(log_.Count("[BlinkDetectorLoader]"), 0u);
    EXPECT_FALSE(IsLibraryLoaded(path));
}

TEST_F(BlinkDetectorTest, ACreateFunctionThatThrowsIsLogged) {
    const auto path = Sandbox::Install("quiloTestBlinkDetectorThrowingCreate", kCpu);
    EXPECT_FALSE(CreateBlinkDetector(configuration_, nullptr));
    EXPECT_EQ(FailureLine(), "[BlinkDetectorLoader] Failed to load: scripted create failure");
    EXPECT_FALSE(IsLibraryLoaded(path));
}

TEST_F(BlinkDetectorTest, AFailingAssetReadInCreateIsLogged) {
    Sandbox::Install(kScripted, kCpu);
    quilo::test::DetectorScript script;
    script.assetToRead = "absent.bin";
    quilo::test::ResetScriptedDetector(script);
    const auto assets = quilo::AssetManager::Create(nullptr);
    EXPECT_FALSE(CreateBlinkDetector(configuration_, assets.get()));
    EXPECT_THAT(FailureLine(), HasSubstr("Failed to load: failed to open asset \"absent.bin\""));
}

TEST_F(BlinkDetectorTest, AMissingLibraryIsLogged) {
    EXPECT_FALSE(CreateBlinkDetector(configuration_, nullptr));
    EXPECT_THAT(FailureLine(),
                HasSubstr("Failed to load: failed to load library \"quiloHeadTrackingBlinkDetectorcpu\": " +
                          quilo::test::LibraryNotFoundText(quilo::PluginLibrary::FileName(kCpu))));
}

TEST_F(BlinkDetectorTest, AFileThatIsNotALibraryIsLogged) {
    Sandbox::InstallFile(kCpu, "#!/bin/sh\necho not a library\n");
    EXPECT_FALSE(CreateBlinkDetector(configuration_, nullptr));
    EXPECT_THAT(FailureLine(),
                HasSubstr("Failed to load: failed to load library \"quiloHeadTrackingBlinkDetectorcpu\""));
}

TEST_F(BlinkDetectorTest, AMissingDeleteExportUnloadsTheLibrary) {
    const auto path = Sandbox::Install("quiloTestBlinkDetectorNoDelete", kCpu);
    EXPECT_FALSE(CreateBlinkDetector(configuration_, nullptr));
    EXPECT_THAT(FailureLine(),
                HasSubstr("Failed to load: failed to load symbol \"Plugin_DeleteBlinkDetector\": " +
                          quilo::test::MissingExportText(path, "Plugin_DeleteBlinkDetector") +
                          " in quilo::PluginFunction<void(quilo::head::FaceDetector*)>::PluginFunction"));
    EXPECT_FALSE(IsLibraryLoaded(path));
}

TEST_F(BlinkDetectorTest, AMissingCreateExportStopsBeforeTheDeleteExport) {
    const auto path = Sandbox::Install("quiloTestBlinkDetectorNoCreate", kCpu);
    EXPECT_FALSE(CreateBlinkDetector(configuration_, nullptr));
    EXPECT_THAT(FailureLine(),
                HasSubstr("Failed to load: failed to load symbol \"Plugin_CreateBlinkDetector\": " +
                          quilo::test::MissingExportText(path, "Plugin_CreateBlinkDetector") +
                          " in quilo::PluginFunction<quilo::head::FaceDetector*(const "
                          "quilo::head::BlinkDetectorConfiguration&, quilo::AssetManager*)>::PluginFunction"));
    EXPECT_FALSE(IsLibraryLoaded(path));
}

TEST_F(BlinkDetectorTest, SupportedBackendsFollowTheLibrariesPresent) {
    EXPECT_EQ(GetSupportedFaceDetectorBackends(), 0u);
    // For each backend in turn: the first attempt's warning, then the reason.
    std::vector<std::string> lines;
    for (const auto& line : log_.lines()) {
        if (line.level != spdlog::level::debug || line.text.rfind("[BlinkDetectorLoader]", 0) == 0) {
            lines.push_back(line.text.substr(0, line.text.find(": ")));
        }
    }
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "[Plugin] Failed to load library at path \"" +
                      (Sandbox::Directory() / quilo::PluginLibrary::FileName(kCpu)).string() + "\". Looking in PATH.",
                  "[BlinkDetectorLoader] kQuiloFaceDetectorBackendCPU backend is not supported",
                  "[Plugin] Failed to load library at path \"" +
                      (Sandbox::Directory() / quilo::PluginLibrary::FileName(kGpu)).string() + "\". Looking in PATH.",
                  "[BlinkDetectorLoader] kQuiloFaceDetectorBackendGPU backend is not supported",
              }));

    const auto gpu = Sandbox::Install(kScripted, kGpu);
    EXPECT_EQ(GetSupportedFaceDetectorBackends(), 2u);
    const auto cpu = Sandbox::Install("quiloTestBlinkDetectorNullCreate", kCpu);
    EXPECT_EQ(GetSupportedFaceDetectorBackends(), 3u);
    std::filesystem::remove(gpu);
    EXPECT_EQ(GetSupportedFaceDetectorBackends(), 1u);
    // Probing creates no detector and leaves nothing loaded.
    EXPECT_EQ(quilo::test::GetScriptedDetectorRecord().created, 0);
    EXPECT_FALSE(IsLibraryLoaded(cpu));
}

TEST_F(BlinkDetectorTest, ALibraryLackingAnExportDoesNotSupportItsBackend) {
    Sandbox::Install("quiloTestBlinkDetectorNoDelete", kCpu);
    EXPECT_FALSE(IsBlinkDetectorBackendSupported(kQuiloFaceDetectorBackendCPU));
    EXPECT_EQ(log_.Count(spdlog::level::debug,
                         "[BlinkDetectorLoader] kQuiloFaceDetectorBackendCPU backend is not "
                         "supported: failed to "
                         "load symbol \"Plugin_DeleteBlinkDetector\""),
              1u);
}

TEST_F(BlinkDetectorTest, AnUnknownBackendFallsBackToTheCpuLibrary) {
    Sandbox::Install(kScripted, kCpu);
    EXPECT_TRUE(IsBlinkDetectorBackendSupported(kQuiloFaceDetectorBackendUnknown));
    EXPECT_EQ(log_.Count(spdlog::level::err, "[BlinkDetectorLoader] unsupported backend: 0. Falling back to CPU."), 1u);

    settings_.backend = static_cast<quilo_face_detector_backend_e>(7);
    const auto detector = CreateBlinkDetector(configuration_, nullptr);
    EXPECT_TRUE(detector);
    EXPECT_EQ(log_.Count(spdlog::level::err, "[BlinkDetectorLoader] unsupported backend: 7. Falling back to CPU."), 1u);
}

// Plugins found only through the loader's search path (LD_LIBRARY_PATH is read
// when a process starts, hence the child process; PATH on Windows).
TEST_F(BlinkDetectorTest, BackendsAreFoundThroughTheSearchPath) {
    quilo::test::TempFolder elsewhere;
    Sandbox::Install(kScripted, kGpu, elsewhere.path());
    EXPECT_EQ(quilo::test::RunChildTests("BlinkDetectorSearchChild.*",
                                         {quilo::test::LibrarySearchPathWith(elsewhere.path())}),
              0);
}

TEST(BlinkDetectorSearchChild, FindsTheGpuLibraryAndMakesADetector) {
    if (!quilo::test::IsChildProcess()) GTEST_SKIP() << "runs in a child process only";
    quilo::test::LogCapture log;
    EXPECT_EQ(GetSupportedFaceDetectorBackends(), 2u);
    EXPECT_EQ(log.Count(spdlog::level::warn, "Looking in PATH."), 2u);

    quilo::head::FaceDetectorConfiguration settings{1, kQuiloFaceDetectorBackendGPU};
    const auto detector = CreateBlinkDetector({settings, ""}, nullptr);
    ASSERT_TRUE(detector);
    EXPECT_EQ(detector->GetBackend(), kQuiloFaceDetectorBackendGPU);
}

}  // namespace
