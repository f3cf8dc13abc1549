// The replay tool's and the recorder's answers to malformed input and
// options: exit code 1 and an "error:" line naming the fault, found before
// the face detector is loaded, so these run without a model or a camera.
#include <fstream>
#include <functional>
#include <sstream>

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/process.h"
#include "support/tempFolder.h"
#include "tools/replay/sequence.h"

namespace quilo::replay {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

void WriteFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Outcome {
    int exitCode;
    std::string errors;
};

Outcome RunProgramWith(const char* program, const std::vector<std::string>& arguments, const fs::path& scratch) {
    std::string command = fmt::format("'{}'", program);
    for (const std::string& argument : arguments) command += fmt::format(" '{}'", argument);
    const fs::path errors = scratch / "errors.txt";
    command += fmt::format(" > /dev/null 2> '{}'", errors.string());
    return {test::RunProgram("/bin/sh", {"-c", command}, {}), ReadText(errors)};
}

// A two-frame 4 x 3 sequence of PGM images in `folder`.
void WriteSequenceOf(const fs::path& folder, const std::string& secondImage) {
    Sequence sequence;
    sequence.intrinsics.width = 4;
    sequence.intrinsics.height = 3;
    sequence.intrinsics.fx = sequence.intrinsics.fy = 4.0f;
    sequence.frames = {{"a.pgm", 0.0, std::nullopt, std::nullopt}, {"b.pgm", 40.0, std::nullopt, std::nullopt}};
    WriteSequence(folder, sequence);
    WriteFile(folder / "a.pgm", "P5\n4 3\n255\n" + std::string(12, '\x40'));
    WriteFile(folder / "b.pgm", secondImage);
}

TEST(ReplayProgram, MalformedInputEndsWithExitCodeOneAndTheFault) {
    const std::string header = "P5\n4 3\n255\n";
    struct Case {
        const char* program;
        // What the sequence's second image holds ("" for an empty folder);
        // the arguments, in which "SEQ" and "OUT" stand for the sequence
        // folder and an existing file. Options are checked before the
        // sequence is read.
        std::string image;
        std::vector<std::string> arguments;
        int exitCode;
        std::string message;
    };
    const Case cases[] = {
        {QUILO_REPLAY_PROGRAM, header + std::string(6, '\x40'), {"SEQ"}, 1, "b.pgm: truncated"},
        {QUILO_REPLAY_PROGRAM,
         "P5\n4 3\n0\n" + std::string(12, '\x40'),
         {"SEQ"},
         1,
         "b.pgm: the PGM header's maximum value 0"},
        {QUILO_REPLAY_PROGRAM,
         "",
         {"SEQ", "--camera-position", "0,inf,0"},
         1,
         "camera position: a value is not finite"},
        {QUILO_REPLAY_PROGRAM, "", {"SEQ", "--max-faces", "99999999999"}, 1, "--max-faces"},
        {QUILO_REPLAY_PROGRAM, "", {"SEQ", "--overlay-every", "-1"}, 1, "--overlay-every"},
        {QUILO_REPLAY_PROGRAM, "", {"SEQ", "--output"}, 1, "--output"},
        {QUILO_REPLAY_PROGRAM,
         header + std::string(12, '\x40'),
         {"SEQ", "--output", "OUT"},
         1,
         "OUT: exists and is not a folder"},
        {QUILO_REPLAY_PROGRAM, "", {"--help"}, 0, ""},
        {QUILO_RECORD_PROGRAM, "", {"SEQ", "--frames", "0"}, 1, "--frames must be at least 1"},
        {QUILO_RECORD_PROGRAM, "", {"SEQ", "--frames", "-3"}, 1, "--frames must be at least 1"},
        {QUILO_RECORD_PROGRAM, "", {"SEQ", "--seconds", "-1"}, 1, "--seconds must be"},
        {QUILO_RECORD_PROGRAM, "", {"--help"}, 0, ""},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        test::TempFolder scratch;
        const fs::path folder = scratch.path() / "sequence";
        const fs::path existing = scratch.path() / "existing";
        fs::create_directory(folder);
        if (!c.image.empty()) WriteSequenceOf(folder, c.image);
        WriteFile(existing, "not a folder");
        std::vector<std::string> arguments;
        for (const std::string& argument : c.arguments) {
            arguments.push_back(argument == "SEQ" ? folder.string() : argument == "OUT" ? existing.string() : argument);
        }
        const Outcome outcome = RunProgramWith(c.program, arguments, scratch.path());
        EXPECT_EQ(outcome.exitCode, c.exitCode) << "case " << i << ": " << outcome.errors;
        if (c.exitCode == 0) continue;
        EXPECT_THAT(outcome.errors, HasSubstr("error: ")) << "case " << i;
        std::string message = c.message;
        if (message.rfind("OUT", 0) == 0) message = existing.string() + message.substr(3);
        EXPECT_THAT(outcome.errors, HasSubstr(message)) << "case " << i;
        EXPECT_EQ(ReadText(existing), "not a folder") << "case " << i;
    }
}

}  // namespace
}  // namespace quilo::replay
