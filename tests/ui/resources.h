// Reading a program's resources as they are stored in its file: dialog
// templates, menus, accelerator tables, strings, icon groups and bitmaps.
// The driver tests compare them with what the program must carry.
#ifndef UI_RESOURCES_H
#define UI_RESOURCES_H

#include <windows.h>

#include <string>
#include <vector>

namespace ui {

const WORD EnglishUnitedStates = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// Opens a program's file for reading its resources (nothing of it runs).
// Free with FreeLibrary.
HMODULE openResources(const std::string &path);
// The languages in which a resource exists.
std::vector<WORD> resourceLanguages(HMODULE module, LPCSTR type, int id);

struct DialogItemTemplate {
    DWORD style = 0;
    DWORD extendedStyle = 0;
    int x = 0, y = 0, width = 0, height = 0;
    int id = 0;                 // -1 for 0xFFFF (no id)
    std::string className;      // predefined classes by name, lower case: "button", "static", ...
    std::string text;
    int textOrdinal = -1;       // a resource number given as the text (an icon), else -1
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD extendedStyle = 0;
    int x = 0, y = 0, width = 0, height = 0;
    std::string menu;           // empty: none; "#N" for a number
    std::string className;      // empty: the system's dialog class
    std::string title;
    int pointSize = 0;
    std::string fontName;
    std::vector<DialogItemTemplate> items;

    // The first item with that id, or null.
    const DialogItemTemplate *item(int id) const;
    // The first item with that text, or null (for labels without an id).
    const DialogItemTemplate *itemWithText(const std::string &text) const;
};

// Reads dialog template `id` (English, United States).
bool readDialogTemplate(HMODULE module, int id, DialogTemplate &dialog);

struct MenuItemTemplate {
    int depth = 0;              // 0 for the menu bar's popups
    WORD flags = 0;             // MF_POPUP, MF_END, MF_SEPARATOR, ...
    int id = 0;                 // 0 for popups
    std::string text;           // empty for separators
};

// Reads menu `id` in template order, each popup followed by its items.
bool readMenuTemplate(HMODULE module, int id, std::vector<MenuItemTemplate> &items);

struct AcceleratorEntry {
    WORD flags = 0;             // FVIRTKEY, ..., 0x80 on the last entry
    WORD key = 0;
    WORD command = 0;
};
bool readAccelerators(HMODULE module, int id, std::vector<AcceleratorEntry> &entries);

// Reads string `id` of the English (United States) string table; false when
// the table has no such string.
bool readString(HMODULE module, int id, std::string &text);

struct IconImage {
    int width = 0;
    int height = 0;
    int colourCount = 0;
    int bitCount = 0;
};
bool readIconGroup(HMODULE module, int id, std::vector<IconImage> &images);

bool readBitmapHeader(HMODULE module, int id, BITMAPINFOHEADER &header);

} // namespace ui

#endif
