// Template 101 as the resource compiler laid it down, field by field, and the program's
// copy of it; then what the dialog looks like when it first appears.
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include "job/JobMessages.h"
#include "tests/ui/DialogDriver.h"
#include "tests/ui/StandIns.h"
#include "ui/DialogIds.h"

namespace {

// ---- Reading a DLGTEMPLATE (the classic form, not DLGTEMPLATEEX) ----

struct TemplateReader {
    const uint8_t* at;
    const uint8_t* end;
    bool ok = true;

    uint16_t word() {
        if (end - at < 2) {
            ok = false;
            return 0;
        }
        const uint16_t value = static_cast<uint16_t>(at[0] | at[1] << 8);
        at += 2;
        return value;
    }
    uint32_t dword() {
        const uint32_t low = word();
        return low | static_cast<uint32_t>(word()) << 16;
    }
    std::string text() {
        std::string value;
        for (uint16_t c = word(); ok && c != 0; c = word()) {
            value.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        return value;
    }
    // A name or an ordinal: "#n" for the ordinal n, "" for none.
    std::string nameOrOrdinal() {
        const uint16_t first = word();
        if (first == 0) {
            return "";
        }
        if (first == 0xFFFF) {
            return "#" + std::to_string(word());
        }
        at -= 2;
        return text();
    }
    void alignTo4(const uint8_t* base) {
        while ((at - base) % 4 != 0) {
            ++at;
        }
    }
};

struct ItemTemplate {
    uint32_t style;
    uint32_t extendedStyle;
    int x, y, width, height;
    uint16_t id;
    std::string className; // "#128" button, "#129" edit, "#130" static, or a name
    std::string text;
};

struct DialogTemplate {
    bool readable;
    uint32_t style;
    uint32_t extendedStyle;
    int x, y, width, height;
    std::string menu, className, caption, font;
    int pointSize;
    std::vector<ItemTemplate> items;
};

DialogTemplate parseTemplate(const uint8_t* bytes, size_t size) {
    TemplateReader read{bytes, bytes + size};
    DialogTemplate dialog{};
    dialog.style = read.dword();
    dialog.extendedStyle = read.dword();
    const uint16_t count = read.word();
    dialog.x = static_cast<int16_t>(read.word());
    dialog.y = static_cast<int16_t>(read.word());
    dialog.width = static_cast<int16_t>(read.word());
    dialog.height = static_cast<int16_t>(read.word());
    dialog.menu = read.nameOrOrdinal();
    dialog.className = read.nameOrOrdinal();
    dialog.caption = read.text();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = read.word();
        dialog.font = read.text();
    }
    for (uint16_t i = 0; i < count && read.ok; ++i) {
        read.alignTo4(bytes);
        ItemTemplate item{};
        item.style = read.dword();
        item.extendedStyle = read.dword();
        item.x = static_cast<int16_t>(read.word());
        item.y = static_cast<int16_t>(read.word());
        item.width = static_cast<int16_t>(read.word());
        item.height = static_cast<int16_t>(read.word());
        item.id = read.word();
        item.className = read.nameOrOrdinal();
        item.text = read.nameOrOrdinal();
        read.at += read.word(); // creation data
        dialog.items.push_back(item);
    }
    dialog.readable = read.ok;
    return dialog;
}

std::string templateBytes(HMODULE module) {
    const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(ID_MAIN_DIALOG), RT_DIALOG);
    const HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    if (loaded == nullptr) {
        return "";
    }
    return std::string(static_cast<const char*>(LockResource(loaded)),
                       SizeofResource(module, found));
}

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

constexpr uint32_t kVisibleChild = WS_CHILD | WS_VISIBLE;
constexpr uint32_t kLabel = kVisibleChild | WS_GROUP | SS_RIGHT;
constexpr uint32_t kPathEdit =
    kVisibleChild | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL | ES_READONLY;
constexpr uint32_t kButton = kVisibleChild | WS_TABSTOP | BS_PUSHBUTTON;
constexpr uint32_t kBar = kVisibleChild | WS_BORDER | PBS_SMOOTH;
constexpr uint16_t kNoId = 0xFFFF;

TEST(DialogTemplate, IsLaidOutControlByControlInTabOrder) {
    const std::string bytes = templateBytes(GetModuleHandleA(nullptr));
    ASSERT_FALSE(bytes.empty()) << "template 101 is missing";
    const DialogTemplate dialog =
        parseTemplate(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ASSERT_TRUE(dialog.readable);

    EXPECT_EQ(dialog.style, static_cast<uint32_t>(WS_POPUP | WS_CAPTION | WS_SYSMENU |
                                                  WS_MINIMIZEBOX | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(dialog.extendedStyle, 0u);
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.width, 250);
    EXPECT_EQ(dialog.height, 87);
    EXPECT_EQ(dialog.menu, "");
    EXPECT_EQ(dialog.className, "");
    EXPECT_EQ(dialog.caption, "Convoluzione");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.font, "MS Sans Serif");

    const std::vector<ItemTemplate> expected = {
        {kLabel, 0, 7, 15, 63, 10, kNoId, "#130", "File da processare:"},
        {kPathEdit, 0, 73, 13, 148, 13, ID_INPUT_PATH, "#129", ""},
        {kButton, 0, 225, 13, 16, 13, ID_INPUT_BROWSE, "#128", "..."},
        {kLabel, 0, 7, 34, 63, 10, kNoId, "#130", "File impulso: "},
        {kPathEdit, 0, 73, 32, 148, 13, ID_IMPULSE_PATH, "#129", ""},
        {kButton, 0, 225, 32, 16, 13, ID_IMPULSE_BROWSE, "#128", "..."},
        {kButton, 0, 184, 68, 59, 13, ID_START, "#128", "&Avvia"},
        {kBar, 0, 7, 68, 170, 12, ID_PROGRESS, "MSCTLS_PROGRESS32", "Progress1"},
        {kLabel, 0, 7, 51, 63, 10, kNoId, "#130", "File output: "},
        {kPathEdit, 0, 73, 49, 148, 13, ID_OUTPUT_PATH, "#129", ""},
        {kButton, 0, 225, 49, 16, 13, ID_OUTPUT_BROWSE, "#128", "..."},
    };
    ASSERT_EQ(dialog.items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("control " + std::to_string(i) + " \"" + expected[i].text + "\"");
        const ItemTemplate& item = dialog.items[i];
        EXPECT_EQ(item.style, expected[i].style);
        EXPECT_EQ(item.extendedStyle, 0u);
        EXPECT_EQ(item.x, expected[i].x);
        EXPECT_EQ(item.y, expected[i].y);
        EXPECT_EQ(item.width, expected[i].width);
        EXPECT_EQ(item.height, expected[i].height);
        EXPECT_EQ(item.id, expected[i].id);
        // Class names are not case-sensitive; resource compilers differ in how they store them.
        EXPECT_EQ(upper(item.className), expected[i].className);
        EXPECT_EQ(item.text, expected[i].text);
    }
}

std::string resourceId(LPCSTR value) {
    return IS_INTRESOURCE(value) ? "#" + std::to_string(reinterpret_cast<uintptr_t>(value))
                                 : std::string(value);
}

BOOL CALLBACK listResource(HMODULE, LPCSTR type, LPSTR name, LONG_PTR list) {
    reinterpret_cast<std::vector<std::string>*>(list)->push_back(resourceId(type) + "/" +
                                                                 resourceId(name));
    return TRUE;
}

BOOL CALLBACK listResourcesOfType(HMODULE module, LPSTR type, LONG_PTR list) {
    EnumResourceNamesA(module, type, listResource, list);
    return TRUE;
}

TEST(DialogTemplate, IsTheProgramsOnlyResource) {
    const HMODULE program = LoadLibraryExA(CONVOLUZIONE_PROGRAM, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr) << "cannot open " << CONVOLUZIONE_PROGRAM;
    // The program carries the very template checked above.
    EXPECT_EQ(templateBytes(program), templateBytes(GetModuleHandleA(nullptr)));

    std::vector<std::string> resources;
    EnumResourceTypesA(program, listResourcesOfType, reinterpret_cast<LONG_PTR>(&resources));
    FreeLibrary(program);
    EXPECT_EQ(resources, std::vector<std::string>{"#5/#101"}); // RT_DIALOG 101 alone
}

// ---- The dialog as it first appears ----

using InitialDialog = DialogTest;

TEST_F(InitialDialog, IsIdleWithEmptyLimitedFieldsAtTheTopLeftCorner) {
    for (int id : {ID_INPUT_PATH, ID_IMPULSE_PATH, ID_OUTPUT_PATH}) {
        EXPECT_EQ(controlText(dialog, id), "") << id;
        EXPECT_EQ(SendDlgItemMessageA(dialog, id, EM_GETLIMITTEXT, 0, 0), 260) << id;
    }
    EXPECT_EQ(lookOf(dialog), idleLook(false));
    PBRANGE range{};
    SendDlgItemMessageA(dialog, ID_PROGRESS, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 10000);
    RECT frame{};
    GetWindowRect(dialog, &frame);
    EXPECT_EQ(frame.left, 0);
    EXPECT_EQ(frame.top, 0);
}

TEST_F(InitialDialog, IgnoresEnterEscapeAndStrayJobMessages) {
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    SendMessageA(dialog, WM_JOB_DONE, 0, 0);
    SendMessageA(dialog, WM_JOB_FAILED, 0, 0);
    SendMessageA(dialog, WM_JOB_STOPPED, 0, 0);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_FALSE(run.ended);
    EXPECT_TRUE(recorded().boxes.empty());
    EXPECT_EQ(lookOf(dialog), idleLook(false));
}

} // namespace
