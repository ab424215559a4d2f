// Where the output cannot go: a folder that is not there, a path through a regular file, a
// folder itself, and any other spelling of one of the inputs. Each is reported and leaves
// every file as it was; nothing new appears.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "job/FailureTexts.h"
#include "job/JobMessages.h"
#include "job/JobState.h"
#include "tests/support/JobHarness.h"

namespace {

namespace fs = std::filesystem;

std::set<std::string> treeOf(const std::string& root) {
    std::set<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        entries.insert(entry.path().generic_string());
    }
    return entries;
}

struct TwoInputs {
    ScratchDir dir;
    std::string input = dir.file("in.wav");
    std::string impulse = dir.file("impulse.wav");

    TwoInputs() {
        fs::create_directories(dir.file("sub"));
        writeFileBytes(input, pcmWav(2, 44100, {1, 2, 3, 4, 5, 6}));
        writeFileBytes(impulse, pcmWav(1, 44100, {30000, -30000, 5}));
    }

    // Runs the job towards output and checks that it failed with text and that the folder
    // holds exactly what it held before, every file unchanged.
    void expectRefused(const std::string& output, const char* text) {
        SCOPED_TRACE("output " + output);
        const FileSnapshot in = snapshot(input);
        const FileSnapshot ir = snapshot(impulse);
        const std::set<std::string> before = treeOf(dir.path);
        EXPECT_TRUE(endedWith(runJob(input, impulse, output), WM_JOB_FAILED, text));
        EXPECT_TRUE(unchanged(in));
        EXPECT_TRUE(unchanged(ir));
        EXPECT_EQ(treeOf(dir.path), before);
    }
};

TEST(OutputPath, WhereNoFileCanBeCreatedTheJobSaysSo) {
    TwoInputs files;
    files.expectRefused(files.dir.file("missing/out.wav"), kTextOutputNotCreated);
    files.expectRefused(files.dir.file("missing/deeper/out.wav"), kTextOutputNotCreated);
    // A regular file where a folder should be.
    files.expectRefused(files.input + "/out.wav", kTextOutputNotCreated);
    // A folder where the file should be: an empty one, and the one holding the inputs.
    files.expectRefused(files.dir.file("sub"), kTextOutputNotCreated);
    files.expectRefused(files.dir.path, kTextOutputNotCreated);
    files.expectRefused("", kTextOutputNotCreated);
    // A folder no one may write, whatever the permissions say: even root cannot create a
    // file in /proc. (The tests run as root, so a folder's permission bits stop nothing.)
    std::error_code error;
    if (fs::is_directory("/proc/self", error)) {
        const JobRun run = runJob(files.input, files.impulse, "/proc/convoluzione-out.wav");
        EXPECT_EQ(run.errorText, kTextOutputNotCreated);
        EXPECT_FALSE(fileExists("/proc/convoluzione-out.wav"));
    }
}

// Told not to replace anything, the job takes the name only if nothing holds it when the
// file is created (not only when the front end looked): a file, or a link to nothing.
TEST(OutputPath, AnOutputThatMustBeNewNeverReplacesWhatIsThere) {
    TwoInputs files;
    const std::string old = files.dir.file("old.wav");
    writeFileBytes(old, pcmWav(1, 44100, {7, 7}));
    jobState.outputMustBeNew = 1;
    files.expectRefused(old, kTextOutputNotCreated);
    std::error_code linked;
    fs::create_symlink(files.dir.file("nowhere.wav"), files.dir.file("dangling.wav"), linked);
    if (!linked) {
        files.expectRefused(files.dir.file("dangling.wav"), kTextOutputNotCreated);
    }
    EXPECT_TRUE(
        endedWith(runJob(files.input, files.impulse, files.dir.file("new.wav")), WM_JOB_DONE));
    jobState.outputMustBeNew = 0;
}

TEST(OutputPath, AnotherSpellingOfAnInputIsRefused) {
    TwoInputs files;
    const std::string& root = files.dir.path;
    for (const char* name : {"in.wav", "impulse.wav"}) {
        const std::string file = files.dir.file(name);
        files.expectRefused(file, kTextOutputIsAnInput);
        files.expectRefused(root + "/./" + name, kTextOutputIsAnInput);
        files.expectRefused(root + "/sub/../" + name, kTextOutputIsAnInput);
        files.expectRefused(root + "//" + name, kTextOutputIsAnInput);
    }
    // A hard link is the same file under another name, on every system that has them.
    std::error_code linked;
    fs::create_hard_link(files.impulse, files.dir.file("link.wav"), linked);
    ASSERT_FALSE(linked) << linked.message();
    files.expectRefused(files.dir.file("link.wav"), kTextOutputIsAnInput);
    // Relative spellings, from inside the folder so that one exists on every system (a
    // temporary folder may be on another drive than the current one).
    const fs::path previous = fs::current_path();
    fs::current_path(root);
    const std::string folder = fs::path(root).filename().string();
    for (const std::string name : {"in.wav", "impulse.wav"}) {
        files.expectRefused(name, kTextOutputIsAnInput);
        files.expectRefused("sub/../" + name, kTextOutputIsAnInput);
        files.expectRefused("../" + folder + "/" + name, kTextOutputIsAnInput);
    }
    fs::current_path(previous);
    // Where names ignore case (Windows), another case is another spelling too.
    if (fs::exists(root + "/IN.WAV")) {
        files.expectRefused(root + "/IN.WAV", kTextOutputIsAnInput);
        files.expectRefused(root + "/Impulse.Wav", kTextOutputIsAnInput);
    }
}

} // namespace
