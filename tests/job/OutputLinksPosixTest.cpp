// An output reaching one of the inputs through a symbolic or hard link is the same file:
// refused before anything is created or truncated, the links left as they were.
#include <gtest/gtest.h>

#include <filesystem>

#include "job/FailureTexts.h"
#include "job/JobMessages.h"
#include "tests/support/JobHarness.h"

namespace {

namespace fs = std::filesystem;

TEST(OutputLinks, AnOutputLinkedToAnInputIsRefusedAndTouchesNothing) {
    ScratchDir dir;
    const std::string input = dir.file("in.wav");
    const std::string impulse = dir.file("impulse.wav");
    writeFileBytes(input, pcmWav(1, 32000, {11, -22, 33}));
    writeFileBytes(impulse, pcmWav(2, 32000, {100, 200}));
    fs::create_directories(dir.file("real"));
    fs::create_directory_symlink(dir.path, dir.file("real/up"));
    for (const std::string& target : {input, impulse}) {
        const std::string name = fs::path(target).filename().string();
        fs::create_symlink(target, dir.file("symlink-" + name));
        fs::create_symlink(dir.file("symlink-" + name), dir.file("chain-" + name));
        fs::create_symlink(name, dir.file("relative-" + name));
        fs::create_hard_link(target, dir.file("hardlink-" + name));
        for (const std::string& output :
             {dir.file("symlink-" + name), dir.file("chain-" + name), dir.file("relative-" + name),
              dir.file("hardlink-" + name), dir.file("real/up/" + name)}) {
            SCOPED_TRACE("output " + output);
            const FileSnapshot in = snapshot(input);
            const FileSnapshot ir = snapshot(impulse);
            const JobRun run = runJob(input, impulse, output);
            EXPECT_EQ(run.message, WM_JOB_FAILED);
            EXPECT_EQ(run.errorText, kTextOutputIsAnInput);
            EXPECT_TRUE(unchanged(in));
            EXPECT_TRUE(unchanged(ir));
        }
        EXPECT_TRUE(fs::is_symlink(dir.file("symlink-" + name)));
        EXPECT_TRUE(fs::is_symlink(dir.file("chain-" + name)));
        EXPECT_EQ(fs::hard_link_count(target), 2u);
    }
    // The inputs reached through links, the output the real file: the same refusal.
    const JobRun run = runJob(dir.file("symlink-in.wav"), dir.file("hardlink-impulse.wav"), input);
    EXPECT_EQ(run.errorText, kTextOutputIsAnInput);
    const JobRun again =
        runJob(dir.file("chain-in.wav"), dir.file("relative-impulse.wav"), impulse);
    EXPECT_EQ(again.errorText, kTextOutputIsAnInput);
}

TEST(OutputLinks, ALinkLoopCannotBeCreated) {
    ScratchDir dir;
    const std::string input = dir.file("in.wav");
    const std::string impulse = dir.file("impulse.wav");
    writeFileBytes(input, pcmWav(1, 32000, {11, -22, 33}));
    writeFileBytes(impulse, pcmWav(1, 32000, {100}));
    fs::create_symlink(dir.file("loop-b"), dir.file("loop-a"));
    fs::create_symlink(dir.file("loop-a"), dir.file("loop-b"));
    const JobRun run = runJob(input, impulse, dir.file("loop-a"));
    EXPECT_EQ(run.message, WM_JOB_FAILED);
    EXPECT_EQ(run.errorText, kTextOutputNotCreated);
    EXPECT_TRUE(fs::is_symlink(dir.file("loop-a")));
}

} // namespace
