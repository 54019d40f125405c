// The compiled resources of quickdock, read back from this test program (which
// links the same resource script): texts, icon images and their depths, the
// popup menu, the About box template, the link cursor and the version record.
#include "launcher/about.h"
#include "launcher/resource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

HMODULE Module() {
    return GetModuleHandleA(nullptr);
}

const BYTE* Resource(LPCSTR type, UINT id, DWORD* size = nullptr) {
    HRSRC found = FindResourceA(Module(), MAKEINTRESOURCEA(id), type);
    if (found == nullptr) return nullptr;
    if (size != nullptr) *size = SizeofResource(Module(), found);
    return static_cast<const BYTE*>(LockResource(LoadResource(Module(), found)));
}

WORD Word(const BYTE* p) {
    return static_cast<WORD>(p[0] | p[1] << 8);
}
DWORD Dword(const BYTE* p) {
    return Word(p) | static_cast<DWORD>(Word(p + 2)) << 16;
}

TEST(ResourceTest, StringTableHoldsTitleAndClassName) {
    char text[100];
    ASSERT_GT(LoadStringA(Module(), IDS_APP_TITLE, text, sizeof text), 0);
    EXPECT_STREQ(text, "Quillon for Oracle");
    ASSERT_GT(LoadStringA(Module(), IDS_WINDOW_CLASS, text, sizeof text), 0);
    EXPECT_STREQ(text, "QUILLON_SYSTRAY");
}

TEST(ResourceTest, IconsHaveTheirSizesAndDepths) {
    // Group icon directory: 6-byte header, then 14-byte entries (width at 0,
    // bit count at 6).
    for (UINT id = 100; id <= 130; ++id) {
        const BYTE* group = Resource(RT_GROUP_ICON, id);
        if (id == 120 || id == 121 || id == 123) {
            EXPECT_EQ(group, nullptr) << "no icon " << id;
            continue;
        }
        ASSERT_NE(group, nullptr) << id;
        std::vector<int> widths;
        for (WORD i = 0; i < Word(group + 4); ++i) {
            const BYTE* entry = group + 6 + 14 * i;
            widths.push_back(entry[0]);
            const WORD bits = Word(entry + 6);
            EXPECT_TRUE(bits == 4 || bits == 24) << id << ": " << bits << " bits";
            if (id == 100 || id == 112) {
                EXPECT_EQ(bits, 4) << id << " has 16 colours";
            }
        }
        const bool smallOnly = id == 104 || id == 109 || id == 111 || id == 112;
        const std::vector<int> expected =
            smallOnly ? std::vector<int>{16} : std::vector<int>{16, 32};
        EXPECT_EQ(widths, expected) << id;
    }
}

TEST(ResourceTest, PopupMenuListsEveryEntryInOrder) {
    // clang-format off
    const struct { UINT id; const char *caption; } expected[] = {
        {40008, "Home Board"}, {0, ""}, {32773, "Session Watch"}, {40001, "Schema Compare"},
        {40002, "Key Advisor"}, {40003, "Query Advisor"}, {40029, "Storage Planner"},
        {40031, "Resource Ranker"}, {40034, "Privilege Review"}, {40009, "Statistics Archive"},
        {40004, "Redo Reader"}, {40022, "Event Notifier"}, {40006, "Change Tracker"},
        {40035, "Fix Installer"}, {40023, "Task Scheduler"}, {40026, "Module Inspector"},
        {0, ""}, {40007, "Script Writer && Stepper"}, {40024, "Statement Timer"},
        {40025, "Class Workbench"}, {40005, "Load Tester"}, {40021, "Archive Packer"},
        {40030, "Data Mover"}, {40027, "Flat File Importer"},
        {40028, "Blob Browser && Importer"}, {40033, "Sample Row Maker"}, {0, ""},
        {104, "About Quillon..."}, {105, "Quit"},
    };
    // clang-format on
    HMENU bar = LoadMenuA(Module(), MAKEINTRESOURCEA(IDR_TRAY_MENU));
    ASSERT_NE(bar, nullptr);
    char caption[255];
    ASSERT_EQ(GetMenuItemCount(bar), 1);
    GetMenuStringA(bar, 0, caption, 254, MF_BYPOSITION);
    EXPECT_STREQ(caption, "POPUP");
    HMENU popup = GetSubMenu(bar, 0);
    ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(std::size(expected)));
    for (UINT position = 0; position < std::size(expected); ++position) {
        MENUITEMINFOA item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE;
        ASSERT_TRUE(GetMenuItemInfoA(popup, position, TRUE, &item));
        caption[0] = '\0';
        GetMenuStringA(popup, position, caption, 254, MF_BYPOSITION);
        EXPECT_EQ(item.wID, expected[position].id) << position;
        EXPECT_STREQ(caption, expected[position].caption) << position;
        EXPECT_EQ((item.fType & MFT_SEPARATOR) != 0, expected[position].id == 0) << position;
        if (expected[position].id != 0) {
            EXPECT_EQ(item.fState & (MFS_CHECKED | MFS_GRAYED), 0u) << position;
        }
    }
    DestroyMenu(bar);
}

TEST(ResourceTest, AboutBoxTemplateHeader) {
    // DLGTEMPLATEEX: version 1, signature 0xFFFF, help id, extended style,
    // style, item count, x, y, cx, cy.
    const BYTE* dialog = Resource(RT_DIALOG, IDD_ABOUT);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Word(dialog), 1);
    EXPECT_EQ(Word(dialog + 2), 0xFFFF);
    EXPECT_EQ(Dword(dialog + 8), static_cast<DWORD>(WS_EX_TOOLWINDOW));
    EXPECT_EQ(Dword(dialog + 12),
              static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(Word(dialog + 16), 5);
    EXPECT_EQ(Word(dialog + 18), 22);
    EXPECT_EQ(Word(dialog + 20), 17);
    EXPECT_EQ(Word(dialog + 22), 230);
    EXPECT_EQ(Word(dialog + 24), 75);
}

TEST(ResourceTest, LinkCursorIsAHandWithItsHotSpotAtTheFingertip) {
    HCURSOR cursor = LoadCursorA(Module(), MAKEINTRESOURCEA(IDCUR_LINK_HAND));
    ASSERT_NE(cursor, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(cursor, &info));
    EXPECT_FALSE(info.fIcon);
    EXPECT_EQ(info.xHotspot, 6u);
    EXPECT_EQ(info.yHotspot, 0u);
    BITMAP mask = {};
    GetObjectA(info.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, 32);
    EXPECT_EQ(mask.bmHeight, 64) << "monochrome: AND and XOR masks in one bitmap";
    EXPECT_EQ(info.hbmColor, nullptr);
    DeleteObject(info.hbmMask);
}

TEST(ResourceTest, VersionRecordNamesTheProduct) {
    DWORD size = 0;
    const BYTE* record = Resource(RT_VERSION, 1, &size);
    ASSERT_NE(record, nullptr);
    // VerQueryValueA wants a writable copy of the record.
    std::vector<BYTE> copy(record, record + size);
    copy.resize(size * 3);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(copy.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x0000001Cu); // 2.0.0.28
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00060001u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000003u); // 6.1.0.3
    const struct {
        const char *name, *value;
    } strings[] = {
        {"ProductName", "Quillon for Oracle"}, {"InternalName", "quickdock"},
        {"OriginalFilename", "quickdock"},     {"FileVersion", "2.0.0.28"},
        {"ProductVersion", "6.1.0.3"},
    };
    for (const auto& row : strings) {
        char* value = nullptr;
        const std::string path = std::string("\\StringFileInfo\\040904e4\\") + row.name;
        ASSERT_TRUE(
            VerQueryValueA(copy.data(), path.c_str(), reinterpret_cast<void**>(&value), &length))
            << row.name;
        EXPECT_STREQ(value, row.value);
    }
}

} // namespace
