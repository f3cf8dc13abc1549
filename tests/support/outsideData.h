// Real camera video and crowds of real faces that may not be redistributed
// live outside the repository (shared/testdata beside the clone). A user's
// clone has no such folder: a test program that needs it reports itself as
// skipped, with one line saying what is missing, rather than failing or
// passing on nothing; CI sets QUILO_REQUIRE_TESTDATA=1, under which a missing
// folder fails the program instead, so that these tests cannot go unrun.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quilo::test {

// The folder of the outside data: $QUILO_TESTDATA_DIR when set, else the one
// the build was configured with.
inline std::filesystem::path OutsideDataRoot() {
    const char* set = std::getenv("QUILO_TESTDATA_DIR");
    if (set != nullptr && *set != '\0') return set;
    return QUILO_TESTDATA_DIR;
}

// A file or folder of the outside data.
inline std::filesystem::path OutsideData(const std::string& relative) { return OutsideDataRoot() / relative; }

enum class OutsideDataVerdict { Run, Skip, Fail };

// What a program whose tests need `entries` below `root` does: run when all
// are there, else skip, or fail where the data is `required`. `line` gets the
// one line to print; ctest knows a skip by its words "needs the outside test
// data", which the failure's line does not contain.
inline OutsideDataVerdict CheckOutsideData(const std::filesystem::path& root, const std::vector<std::string>& entries,
                                           bool required, std::string* line) {
    std::string missing;
    for (const std::string& entry : entries) {
        std::error_code error;
        if (std::filesystem::exists(root / entry, error)) continue;
        missing += (missing.empty() ? "" : ", ") + (root / entry).string();
    }
    if (missing.empty()) return OutsideDataVerdict::Run;
    if (required) {
        *line = "QUILO_REQUIRE_TESTDATA=1, but " + missing +
                " is missing: set QUILO_TESTDATA_DIR to the shared/testdata folder";
        return OutsideDataVerdict::Fail;
    }
    *line = "skipped: needs the outside test data " + missing +
            ", which is missing; put shared/testdata beside the clone or set "
            "QUILO_TESTDATA_DIR to its folder";
    return OutsideDataVerdict::Skip;
}

inline bool OutsideDataRequired() {
    const char* required = std::getenv("QUILO_REQUIRE_TESTDATA");
    return required != nullptr && std::string(required) == "1";
}

// Skips or fails every test of the program before the first one runs.
class OutsideDataEnvironment : public ::testing::Environment {
public:
    explicit OutsideDataEnvironment(std::vector<std::string> entries) : entries_(std::move(entries)) {}

    void SetUp() override {
        std::string line;
        switch (CheckOutsideData(OutsideDataRoot(), entries_, OutsideDataRequired(), &line)) {
            case OutsideDataVerdict::Run: return;
            case OutsideDataVerdict::Skip: GTEST_SKIP() << line;
            case OutsideDataVerdict::Fail: FAIL() << line;
        }
    }

private:
    std::vector<std::string> entries_;
};

}  // namespace quilo::test

// In one source file of a test program whose every test reads the outside
// data: the files and folders below its root that they need.
#define QUILO_TESTS_NEED_OUTSIDE_DATA(...)                                              \
    [[maybe_unused]] static ::testing::Environment* const quiloOutsideDataEnvironment = \
        ::testing::AddGlobalTestEnvironment(new ::quilo::test::OutsideDataEnvironment({__VA_ARGS__}))
