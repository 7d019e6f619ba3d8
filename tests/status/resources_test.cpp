// What quorvstat.exe carries in its file: the menu, the accelerator, the
// main window and About templates, the string table, icon and banner, all in
// English (United States), and its import of Tessaflat by ordinal only.
#include <doctest/doctest.h>

#include <fstream>
#include <iterator>

#include "resource.h"
#include "resources.h"
#include "uidriver.h"

struct StatusResources {
    HMODULE module;
    StatusResources() : module(ui::openResources(ui::pathBeside("quorvstat.exe"))) { REQUIRE(module != nullptr); }
    ~StatusResources() { FreeLibrary(module); }
};

TEST_CASE("menu 1 holds the two popups with their commands, in order")
{
    StatusResources resources;
    std::vector<ui::MenuItemTemplate> items;
    REQUIRE(ui::readMenuTemplate(resources.module, IDR_MAIN_MENU, items));
    const struct {
        int depth;
        const char *text;
        int id;
        WORD flags;
    } expected[] = {
        { 0, "&Status", 0, MF_POPUP },
        { 1, "&List Shares...", 10, 0 },
        { 1, "List &Sessions...", 11, 0 },
        { 1, "", 0, 0 },
        { 1, "Show &Name", 12, 0 },
        { 1, "List &Tasks...", 13, 0 },
        { 1, "Check Net&DDE...", 14, 0 },
        { 1, "Select &Computer...", 16, 0 },
        { 1, "", 0, 0 },
        { 1, "E&xit", 15, MF_END },
        { 0, "&Help", 0, MF_POPUP | MF_END },
        { 1, "&Contents... \tF1", 20, 0 },
        { 1, "&How to Use Help...", 21, 0 },
        { 1, "", 0, 0 },
        { 1, "&About...", 22, MF_END },
    };
    REQUIRE(items.size() == std::size(expected));
    for (size_t i = 0; i < items.size(); ++i) {
        CAPTURE(i);
        CHECK(items[i].depth == expected[i].depth);
        CHECK(items[i].text == expected[i].text);
        CHECK(items[i].id == expected[i].id);
        CHECK(items[i].flags == expected[i].flags);
    }
}

TEST_CASE("accelerator table 1 has the one F1 entry for command 20")
{
    StatusResources resources;
    std::vector<ui::AcceleratorEntry> entries;
    REQUIRE(ui::readAccelerators(resources.module, IDR_ACCELERATORS, entries));
    REQUIRE(entries.size() == 1);
    CHECK(entries[0].flags == 0x81);
    CHECK(entries[0].key == VK_F1);
    CHECK(entries[0].command == IDM_HELP_CONTENTS);
}

static void checkItem(const ui::DialogItemTemplate *item, const char *className, DWORD style, int x, int y,
                      int width, int height)
{
    REQUIRE(item != nullptr);
    CHECK(item->className == className);
    CHECK(item->style == style);
    CHECK(item->x == x);
    CHECK(item->y == y);
    CHECK(item->width == width);
    CHECK(item->height == height);
}

// What every template of the program has in common: placed at 20,20, no
// menu, 8-point MS Sans Serif; and its own style, size, class and title.
static void checkDialogHeader(const ui::DialogTemplate &dialog, DWORD style, int width, int height,
                              const char *className, const char *title)
{
    CHECK(dialog.style == style);
    CHECK(dialog.x == 20);
    CHECK(dialog.y == 20);
    CHECK(dialog.width == width);
    CHECK(dialog.height == height);
    CHECK(dialog.menu == "");
    CHECK(dialog.className == className);
    CHECK(dialog.title == title);
    CHECK(dialog.pointSize == 8);
    CHECK(dialog.fontName == "MS Sans Serif");
}

TEST_CASE("dialog template 1 makes the main window of class Quorvane")
{
    StatusResources resources;
    ui::DialogTemplate dialog;
    REQUIRE(ui::readDialogTemplate(resources.module, IDD_MAIN_WINDOW, dialog));
    checkDialogHeader(dialog, 0x00CA0040, 270, 240, "Quorvane", "32-bit Network DDE Status");
    REQUIRE(dialog.items.size() == 1);
    checkItem(dialog.item(IDC_TITLE_SLOT), "static", 0x50020000, 0, 0, 0, 0);
    CHECK(dialog.items[0].text == "");
}

TEST_CASE("dialog template 20 is the About box")
{
    StatusResources resources;
    ui::DialogTemplate dialog;
    REQUIRE(ui::readDialogTemplate(resources.module, IDD_ABOUT, dialog));
    checkDialogHeader(dialog, 0x80C800C0, 166, 68, "", "");
    REQUIRE(dialog.items.size() == 4);

    const ui::DialogItemTemplate &icon = dialog.items[0];
    checkItem(&icon, "static", 0x50000003, 8, 8, 20, 20);
    CHECK(icon.textOrdinal == IDI_PROGRAM);
    checkItem(dialog.itemWithText("Network DDE Status\nversion 1.02"), "static", 0x50020000, 36, 12, 72, 16);
    const ui::DialogItemTemplate &credits = dialog.items[2];
    checkItem(&credits, "static", 0x50020000, 36, 40, 72, 16);
    CHECK(std::count(credits.text.begin(), credits.text.end(), '\n') == 1);
    checkItem(dialog.item(IDOK), "button", 0x50030001, 112, 8, 48, 14);
    CHECK(dialog.item(IDOK)->text == "OK");
}

TEST_CASE("the string table holds strings 1 to 21 with their exact texts")
{
    StatusResources resources;
    const char *expected[] = {
        "Quorvane",
        "button",
        "quorvhelp.hlp",
        "winhelp.hlp",
        "Britannic Bold",
        "(end of list)",
        "%#08lx",
        "%s is no longer running !",
        "Session %s",
        "Close session '%s' ?",
        "Delete share '%s' ?",
        "Item '%s' already exists !",
        "Delete item '%s' ?",
        "Cannot insert item before itself !",
        "My node name is '%s'.",
        "NDDEAPI.DLL reports error #%u.\r\n%s.",
        "Share name",
        "Topic",
        "Password #1",
        "Password #2",
        " '%s' is invalid !",
    };
    for (int id = 1; id <= 21; ++id) {
        CAPTURE(id);
        std::string text;
        REQUIRE(ui::readString(resources.module, id, text));
        CHECK(text == expected[id - 1]);
    }
}

TEST_CASE("dialog template 21 is Select Computer; strings 23 and 24 caption another node and refuse a name")
{
    StatusResources resources;
    ui::DialogTemplate dialog;
    REQUIRE(ui::readDialogTemplate(resources.module, IDD_SELECT_COMPUTER, dialog));
    checkDialogHeader(dialog, 0x80C800C0, 180, 48, "", "");
    REQUIRE(dialog.items.size() == 4);
    checkItem(dialog.itemWithText("Computer Name:"), "static", 0x50020000, 8, 8, 104, 8);
    checkItem(dialog.item(IDC_COMPUTER_NAME), "edit", 0x50810088, 8, 18, 104, 12);
    checkItem(dialog.item(IDOK), "button", 0x50030001, 124, 8, 48, 14);
    checkItem(dialog.item(IDCANCEL), "button", 0x50010000, 124, 26, 48, 14);
    std::string text;
    REQUIRE(ui::readString(resources.module, IDS_COMPUTER_CAPTION, text));
    CHECK(text == "32-bit Network DDE Status - %s");
    REQUIRE(ui::readString(resources.module, IDS_INVALID_COMPUTER, text));
    CHECK(text == "Computer name '%s' is invalid !");
}

TEST_CASE("icon 1 has 32x32 and 16x16 images of 16 colours; bitmap 1 is 400x300 at 1 bit per pixel")
{
    StatusResources resources;
    std::vector<ui::IconImage> images;
    REQUIRE(ui::readIconGroup(resources.module, IDI_PROGRAM, images));
    REQUIRE(images.size() == 2);
    CHECK(images[0].width == 32);
    CHECK(images[0].height == 32);
    CHECK(images[1].width == 16);
    CHECK(images[1].height == 16);
    for (const ui::IconImage &image : images) {
        CHECK(image.colourCount == 16);
        CHECK(image.bitCount == 4);
    }

    BITMAPINFOHEADER banner;
    REQUIRE(ui::readBitmapHeader(resources.module, IDB_BANNER, banner));
    CHECK(banner.biWidth == 400);
    CHECK(banner.biHeight == 300);
    CHECK(banner.biBitCount == 1);
}

TEST_CASE("every resource exists once, in English (United States)")
{
    StatusResources resources;
    const std::vector<WORD> english = { ui::EnglishUnitedStates };
    CHECK(ui::resourceLanguages(resources.module, RT_MENU, IDR_MAIN_MENU) == english);
    CHECK(ui::resourceLanguages(resources.module, RT_ACCELERATOR, IDR_ACCELERATORS) == english);
    CHECK(ui::resourceLanguages(resources.module, RT_GROUP_ICON, IDI_PROGRAM) == english);
    CHECK(ui::resourceLanguages(resources.module, RT_BITMAP, IDB_BANNER) == english);
    for (int dialog : { IDD_MAIN_WINDOW, IDD_SHARE_LIST, IDD_SHARE_EDITOR, IDD_ITEM_EDITOR, IDD_SESSION_LIST,
                        IDD_CONNECTION_LIST, IDD_TASK_LIST, IDD_TASK_PROPERTIES, IDD_ABOUT,
                        IDD_SELECT_COMPUTER }) {
        CAPTURE(dialog);
        CHECK(ui::resourceLanguages(resources.module, RT_DIALOG, dialog) == english);
    }
    for (int block : { 1, 2 }) {
        CAPTURE(block);
        CHECK(ui::resourceLanguages(resources.module, RT_STRING, block) == english);
    }
}

// ---- The import table of the file ------------------------------------------------------

struct ImportedFunction {
    bool byOrdinal;
    DWORD ordinal;
};

// The functions quorvstat.exe imports from `library`, read from its file.
static std::vector<ImportedFunction> importsFrom(const std::string &library)
{
    std::ifstream file(ui::pathBeside("quorvstat.exe"), std::ios::binary);
    std::vector<unsigned char> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    REQUIRE(image.size() > sizeof(IMAGE_DOS_HEADER));
    auto at = [&](DWORD offset, DWORD size) {
        REQUIRE(offset + size <= image.size());
        return image.data() + offset;
    };
    const IMAGE_DOS_HEADER *dos = (const IMAGE_DOS_HEADER *)at(0, sizeof(IMAGE_DOS_HEADER));
    const IMAGE_NT_HEADERS32 *nt = (const IMAGE_NT_HEADERS32 *)at(dos->e_lfanew, sizeof(IMAGE_NT_HEADERS32));
    REQUIRE(nt->Signature == IMAGE_NT_SIGNATURE);
    const IMAGE_SECTION_HEADER *sections = IMAGE_FIRST_SECTION(nt);
    auto fileOffset = [&](DWORD address) -> DWORD {
        for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER &section = sections[i];
            if (address >= section.VirtualAddress && address < section.VirtualAddress + section.Misc.VirtualSize)
                return address - section.VirtualAddress + section.PointerToRawData;
        }
        FAIL("address outside every section");
        return 0;
    };

    std::vector<ImportedFunction> functions;
    bool found = false;
    DWORD descriptorAddress = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (;; descriptorAddress += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const IMAGE_IMPORT_DESCRIPTOR *descriptor =
            (const IMAGE_IMPORT_DESCRIPTOR *)at(fileOffset(descriptorAddress), sizeof(IMAGE_IMPORT_DESCRIPTOR));
        if (descriptor->Name == 0)
            break;
        const char *name = (const char *)at(fileOffset(descriptor->Name), 1);
        if (lstrcmpiA(name, library.c_str()) != 0)
            continue;
        found = true;
        DWORD thunkAddress = descriptor->OriginalFirstThunk ? descriptor->OriginalFirstThunk : descriptor->FirstThunk;
        for (;; thunkAddress += 4) {
            DWORD thunk = *(const DWORD *)at(fileOffset(thunkAddress), 4);
            if (thunk == 0)
                break;
            functions.push_back({ (thunk & IMAGE_ORDINAL_FLAG32) != 0, thunk & 0xFFFF });
        }
    }
    REQUIRE(found);
    return functions;
}

TEST_CASE("quorvstat.exe imports Tessaflat.dll by ordinal only, from the ordinals 100 to 114")
{
    std::vector<ImportedFunction> functions = importsFrom("Tessaflat.dll");
    REQUIRE_FALSE(functions.empty());
    for (const ImportedFunction &function : functions) {
        CAPTURE(function.ordinal);
        CHECK(function.byOrdinal);
        CHECK(function.ordinal >= 100);
        CHECK(function.ordinal <= 114);
    }
}
