// The three choosers and the rule that enables the start button.
#include <string>

#include <windows.h>

#include <commdlg.h>
#include <gtest/gtest.h>

#include "tests/ui/DialogDriver.h"
#include "tests/ui/DialogFiles.h"
#include "tests/ui/StandIns.h"
#include "ui/DialogIds.h"

namespace {

using Chooser = DialogTest;
using StartRule = DialogTest;

const std::string kWaveFilter("Wave file (*.wav)\0*.wav\0\0", 25);

// Picks path through the browse button beside the field.
::testing::AssertionResult pick(HWND dialog, int browseId, const std::string& path) {
    answerNextChooser(path);
    return press(dialog, browseId);
}

TEST_F(Chooser, AsksForAnExistingWaveFileForTheInputAndTheImpulse) {
    ASSERT_TRUE(pick(dialog, ID_INPUT_BROWSE, dialogFiles().input));
    ASSERT_TRUE(pick(dialog, ID_IMPULSE_BROWSE, dialogFiles().impulse));
    const auto requests = recorded().choosers;
    ASSERT_EQ(requests.size(), 2u);
    for (const ChooserRequest& request : requests) {
        EXPECT_EQ(request.structSize, static_cast<DWORD>(OPENFILENAME_SIZE_VERSION_400A));
        // The original form's size for this build's pointers; the chooser refuses others.
        EXPECT_EQ(request.structSize, sizeof(void*) == 8 ? 136u : 76u);
        EXPECT_EQ(request.owner, dialog);
        EXPECT_EQ(request.filter, kWaveFilter);
        EXPECT_EQ(request.filterIndex, 0u);
        EXPECT_EQ(request.bufferSize, 260u);
        EXPECT_EQ(request.flags, 0x00A01800u);
        EXPECT_EQ(request.preloaded, "");
        EXPECT_FALSE(request.anythingElse);
    }
    EXPECT_EQ(controlText(dialog, ID_INPUT_PATH), dialogFiles().input);
    EXPECT_EQ(controlText(dialog, ID_IMPULSE_PATH), dialogFiles().impulse);
}

TEST_F(Chooser, AsksForTheOutputWithTheCreatePromptAndStartsFromTheFieldsPath) {
    const std::string first = freshOutputPath("primo");
    const std::string second = freshOutputPath("secondo");
    ASSERT_TRUE(pick(dialog, ID_OUTPUT_BROWSE, first));
    ASSERT_TRUE(pick(dialog, ID_OUTPUT_BROWSE, second));
    const auto requests = recorded().choosers;
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].flags, 0x00A02802u);
    EXPECT_EQ(requests[0].filter, kWaveFilter);
    EXPECT_EQ(requests[0].preloaded, "");
    EXPECT_EQ(requests[1].preloaded, first); // the chooser opens on the current path
    EXPECT_EQ(controlText(dialog, ID_OUTPUT_PATH), second);
    EXPECT_EQ(controlText(dialog, ID_INPUT_PATH), "");
}

TEST_F(Chooser, CancelledLeavesFieldAndButtonAsTheyWere) {
    ASSERT_TRUE(pick(dialog, ID_INPUT_BROWSE, dialogFiles().input));
    ASSERT_TRUE(pick(dialog, ID_IMPULSE_BROWSE, dialogFiles().impulse));
    const std::string output = freshOutputPath("uscita");
    ASSERT_TRUE(pick(dialog, ID_OUTPUT_BROWSE, output));
    ASSERT_EQ(lookOf(dialog), idleLook(true));

    cancelNextChooser();
    ASSERT_TRUE(press(dialog, ID_INPUT_BROWSE));
    cancelNextChooser();
    ASSERT_TRUE(press(dialog, ID_OUTPUT_BROWSE));
    EXPECT_EQ(recorded().choosers.size(), 5u);
    EXPECT_EQ(controlText(dialog, ID_INPUT_PATH), dialogFiles().input);
    EXPECT_EQ(controlText(dialog, ID_OUTPUT_PATH), output);
    EXPECT_EQ(lookOf(dialog), idleLook(true));
}

TEST_F(StartRule, NeedsAllThreePathsButNeverLooksAtTheOutputsFolder) {
    ASSERT_TRUE(pick(dialog, ID_INPUT_BROWSE, dialogFiles().input));
    EXPECT_EQ(lookOf(dialog), idleLook(false));
    ASSERT_TRUE(pick(dialog, ID_IMPULSE_BROWSE, dialogFiles().impulse));
    EXPECT_EQ(lookOf(dialog), idleLook(false)) << "no output yet";
    ASSERT_TRUE(pick(dialog, ID_OUTPUT_BROWSE, dialogFiles().missing + "/in/nessuna/cartella.wav"));
    EXPECT_EQ(lookOf(dialog), idleLook(true));
}

TEST_F(StartRule, RefusesFoldersAndMissingFilesForInputAndImpulse) {
    const std::string output = freshOutputPath("uscita");
    ASSERT_TRUE(pick(dialog, ID_OUTPUT_BROWSE, output));
    ASSERT_TRUE(pick(dialog, ID_IMPULSE_BROWSE, dialogFiles().impulse));

    ASSERT_TRUE(pick(dialog, ID_INPUT_BROWSE, dialogFiles().folder));
    EXPECT_EQ(lookOf(dialog), idleLook(false)) << "input is a folder";
    ASSERT_TRUE(pick(dialog, ID_INPUT_BROWSE, dialogFiles().missing));
    EXPECT_EQ(lookOf(dialog), idleLook(false)) << "input is missing";
    ASSERT_TRUE(pick(dialog, ID_INPUT_BROWSE, dialogFiles().input));
    EXPECT_EQ(lookOf(dialog), idleLook(true));

    ASSERT_TRUE(pick(dialog, ID_IMPULSE_BROWSE, dialogFiles().folder));
    EXPECT_EQ(lookOf(dialog), idleLook(false)) << "impulse is a folder";
    ASSERT_TRUE(pick(dialog, ID_IMPULSE_BROWSE, dialogFiles().missing));
    EXPECT_EQ(lookOf(dialog), idleLook(false)) << "impulse is missing";
}

} // namespace
