#include "support/outsideData.h"

#include <gtest/gtest.h>

#include "support/process.h"
#include "support/tempFolder.h"

namespace quilo::test {
namespace {

namespace fs = std::filesystem;

// Sets (or, for nullptr, unsets) an environment variable while it lives.
class ScopedValue {
public:
    ScopedValue(std::string name, const char* value) : name_(std::move(name)), old_(GetEnvironmentValue(name_)) {
        SetEnvironmentValue(name_, value ? std::optional<std::string>(value) : std::nullopt);
    }
    ~ScopedValue() { SetEnvironmentValue(name_, old_); }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// Whether a program runs, skips or fails on the outside data, and the line
// it prints: ctest takes a skip by its words, so a failure must not carry them.
TEST(OutsideData, MissingDataSkipsOrFailsAsRequired) {
    TempFolder root;
    fs::create_directory(root.path() / "webcam-head-motion");
    struct Case {
        std::vector<std::string> entries;
        bool required;
        OutsideDataVerdict verdict;
        const char* named;  // a missing entry the line names
    };
    const Case cases[] = {
        {{"webcam-head-motion"}, false, OutsideDataVerdict::Run, nullptr},
        {{"webcam-head-motion"}, true, OutsideDataVerdict::Run, nullptr},
        {{}, true, OutsideDataVerdict::Run, nullptr},
        {{"faces-annotated"}, false, OutsideDataVerdict::Skip, "faces-annotated"},
        {{"webcam-head-motion", "faces-annotated"}, false, OutsideDataVerdict::Skip, "faces-annotated"},
        {{"faces-annotated"}, true, OutsideDataVerdict::Fail, "faces-annotated"},
        {{"webcam-head-motion", "faces-annotated"}, true, OutsideDataVerdict::Fail, "faces-annotated"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.entries) + (c.required ? " required" : ""));
        std::string line;
        EXPECT_EQ(CheckOutsideData(root.path(), c.entries, c.required, &line), c.verdict);
        if (c.verdict == OutsideDataVerdict::Run) {
            EXPECT_EQ(line, "");
            continue;
        }
        EXPECT_NE(line.find((root.path() / c.named).string()), std::string::npos) << line;
        EXPECT_EQ(line.find("webcam-head-motion"), std::string::npos) << "present, yet named: " << line;
        EXPECT_NE(line.find("QUILO_TESTDATA_DIR"), std::string::npos) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        EXPECT_EQ(line.find("needs the outside test data") != std::string::npos, c.verdict == OutsideDataVerdict::Skip)
            << line;
    }
}

// The environment chooses the folder and whether the data is required, as
// CI's QUILO_REQUIRE_TESTDATA=1 does.
TEST(OutsideData, TheEnvironmentPointsAtTheFolderAndRequiresIt) {
    struct Case {
        const char* folder;
        const char* required;
        fs::path root;
        bool isRequired;
    };
    const Case cases[] = {
        {nullptr, nullptr, QUILO_TESTDATA_DIR, false},
        {"", "0", QUILO_TESTDATA_DIR, false},
        {"/data/faces", "1", "/data/faces", true},
        {"/data/faces", "yes", "/data/faces", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.folder ? c.folder : "(unset)") + " " + (c.required ? c.required : "(unset)"));
        const ScopedValue folder("QUILO_TESTDATA_DIR", c.folder);
        const ScopedValue required("QUILO_REQUIRE_TESTDATA", c.required);
        EXPECT_EQ(OutsideDataRoot(), c.root);
        EXPECT_EQ(OutsideData("faces-annotated/eyes.csv"), c.root / "faces-annotated/eyes.csv");
        EXPECT_EQ(OutsideDataRequired(), c.isRequired);
    }
}

}  // namespace
}  // namespace quilo::test
