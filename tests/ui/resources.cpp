// Reading a program's resources (see resources.h).
#include "resources.h"

namespace ui {

HMODULE openResources(const std::string &path)
{
    return LoadLibraryExA(path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
}

static BOOL CALLBACK collectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR found)
{
    ((std::vector<WORD> *)found)->push_back(language);
    return TRUE;
}

std::vector<WORD> resourceLanguages(HMODULE module, LPCSTR type, int id)
{
    std::vector<WORD> languages;
    EnumResourceLanguagesA(module, type, MAKEINTRESOURCEA(id), collectLanguage, (LONG_PTR)&languages);
    return languages;
}

// The bytes of one resource, or an empty range.
struct ResourceBytes {
    const BYTE *data = nullptr;
    DWORD size = 0;
};

static ResourceBytes findResource(HMODULE module, LPCSTR type, int id)
{
    ResourceBytes bytes;
    HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id), EnglishUnitedStates);
    HGLOBAL loaded = found ? LoadResource(module, found) : NULL;
    if (loaded) {
        bytes.data = (const BYTE *)LockResource(loaded);
        bytes.size = SizeofResource(module, found);
    }
    return bytes;
}

// Walks a resource's bytes; every read is bounded by its size.
class Reader {
public:
    explicit Reader(ResourceBytes bytes) : bytes_(bytes) {}
    bool ok() const { return ok_; }
    DWORD offset() const { return offset_; }
    bool atEnd() const { return offset_ >= bytes_.size; }

    WORD word()
    {
        WORD value = 0;
        copy(&value, sizeof value);
        return value;
    }
    DWORD dword()
    {
        DWORD value = 0;
        copy(&value, sizeof value);
        return value;
    }
    short shortValue() { return (short)word(); }
    BYTE byte()
    {
        BYTE value = 0;
        copy(&value, sizeof value);
        return value;
    }
    // A zero-terminated UTF-16 string, converted.
    std::string wideString()
    {
        std::wstring wide;
        for (WORD c = word(); ok_ && c; c = word())
            wide.push_back((wchar_t)c);
        return narrow(wide);
    }
    // `count` UTF-16 characters, converted.
    std::string wideCharacters(int count)
    {
        std::wstring wide;
        for (int i = 0; i < count && ok_; ++i)
            wide.push_back((wchar_t)word());
        return narrow(wide);
    }
    // A name or a number: 0 for none, 0xFFFF and a number, or a string.
    void nameOrNumber(std::string &name, int &number)
    {
        number = -1;
        name.clear();
        WORD first = word();
        if (first == 0)
            return;
        if (first == 0xFFFF) {
            number = word();
            return;
        }
        offset_ -= 2;
        name = wideString();
    }
    void skip(DWORD count)
    {
        if (offset_ + count > bytes_.size)
            ok_ = false;
        offset_ += count;
    }
    void alignToDword() { skip((4 - offset_ % 4) % 4); }

private:
    static std::string narrow(const std::wstring &wide)
    {
        std::vector<char> text(wide.size() * 2 + 1, 0);
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), (int)wide.size(), text.data(), (int)text.size() - 1,
                            NULL, NULL);
        return std::string(text.data());
    }
    void copy(void *to, DWORD count)
    {
        if (!ok_ || offset_ + count > bytes_.size) {
            ok_ = false;
            return;
        }
        memcpy(to, bytes_.data + offset_, count);
        offset_ += count;
    }

    ResourceBytes bytes_;
    DWORD offset_ = 0;
    bool ok_ = true;
};

const DialogItemTemplate *DialogTemplate::item(int id) const
{
    for (const DialogItemTemplate &candidate : items)
        if (candidate.id == id)
            return &candidate;
    return nullptr;
}

const DialogItemTemplate *DialogTemplate::itemWithText(const std::string &text) const
{
    for (const DialogItemTemplate &candidate : items)
        if (candidate.text == text)
            return &candidate;
    return nullptr;
}

static std::string predefinedClassName(int number)
{
    switch (number) {
    case 0x80: return "button";
    case 0x81: return "edit";
    case 0x82: return "static";
    case 0x83: return "listbox";
    case 0x84: return "scrollbar";
    case 0x85: return "combobox";
    }
    return "#" + std::to_string(number);
}

static std::string lowerCase(std::string text)
{
    for (char &c : text)
        c = (char)tolower((unsigned char)c);
    return text;
}

bool readDialogTemplate(HMODULE module, int id, DialogTemplate &dialog)
{
    Reader reader(findResource(module, RT_DIALOG, id));
    dialog = DialogTemplate();
    dialog.style = reader.dword();
    dialog.extendedStyle = reader.dword();
    int itemCount = reader.word();
    dialog.x = reader.shortValue();
    dialog.y = reader.shortValue();
    dialog.width = reader.shortValue();
    dialog.height = reader.shortValue();
    int number;
    reader.nameOrNumber(dialog.menu, number);
    if (number >= 0)
        dialog.menu = "#" + std::to_string(number);
    reader.nameOrNumber(dialog.className, number);
    if (number >= 0)
        dialog.className = "#" + std::to_string(number);
    dialog.title = reader.wideString();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = reader.word();
        dialog.fontName = reader.wideString();
    }
    for (int i = 0; i < itemCount && reader.ok(); ++i) {
        reader.alignToDword();
        DialogItemTemplate item;
        item.style = reader.dword();
        item.extendedStyle = reader.dword();
        item.x = reader.shortValue();
        item.y = reader.shortValue();
        item.width = reader.shortValue();
        item.height = reader.shortValue();
        item.id = reader.shortValue();
        reader.nameOrNumber(item.className, number);
        item.className = number >= 0 ? predefinedClassName(number) : lowerCase(item.className);
        reader.nameOrNumber(item.text, item.textOrdinal);
        reader.skip(reader.word());
        dialog.items.push_back(item);
    }
    return reader.ok() && (int)dialog.items.size() == itemCount;
}

static bool readMenuLevel(Reader &reader, int depth, std::vector<MenuItemTemplate> &items)
{
    for (int guard = 0; guard < 1000 && reader.ok(); ++guard) {
        MenuItemTemplate item;
        item.depth = depth;
        item.flags = reader.word();
        if (!(item.flags & MF_POPUP))
            item.id = reader.word();
        item.text = reader.wideString();
        items.push_back(item);
        if ((item.flags & MF_POPUP) && !readMenuLevel(reader, depth + 1, items))
            return false;
        if (item.flags & MF_END)
            return reader.ok();
    }
    return false;
}

bool readMenuTemplate(HMODULE module, int id, std::vector<MenuItemTemplate> &items)
{
    Reader reader(findResource(module, RT_MENU, id));
    items.clear();
    WORD version = reader.word();
    WORD headerSize = reader.word();
    reader.skip(headerSize);
    return reader.ok() && version == 0 && readMenuLevel(reader, 0, items);
}

bool readAccelerators(HMODULE module, int id, std::vector<AcceleratorEntry> &entries)
{
    Reader reader(findResource(module, RT_ACCELERATOR, id));
    entries.clear();
    while (!reader.atEnd() && reader.ok()) {
        AcceleratorEntry entry;
        entry.flags = reader.word();
        entry.key = reader.word();
        entry.command = reader.word();
        reader.word();
        if (reader.ok())
            entries.push_back(entry);
    }
    return reader.ok() && !entries.empty();
}

bool readString(HMODULE module, int id, std::string &text)
{
    Reader reader(findResource(module, RT_STRING, id / 16 + 1));
    for (int index = 0; index < 16 && reader.ok(); ++index) {
        int length = reader.word();
        if (index == id % 16) {
            text = reader.wideCharacters(length);
            return reader.ok() && length > 0;
        }
        reader.skip(length * 2);
    }
    return false;
}

bool readIconGroup(HMODULE module, int id, std::vector<IconImage> &images)
{
    Reader reader(findResource(module, RT_GROUP_ICON, id));
    images.clear();
    reader.word();
    WORD type = reader.word();
    int count = reader.word();
    for (int i = 0; i < count && reader.ok(); ++i) {
        IconImage image;
        image.width = reader.byte();
        image.height = reader.byte();
        image.colourCount = reader.byte();
        reader.byte();
        reader.word();
        image.bitCount = reader.word();
        reader.dword();
        reader.word();
        if (reader.ok())
            images.push_back(image);
    }
    return reader.ok() && type == 1 && (int)images.size() == count;
}

bool readBitmapHeader(HMODULE module, int id, BITMAPINFOHEADER &header)
{
    ResourceBytes bytes = findResource(module, RT_BITMAP, id);
    if (bytes.size < sizeof header)
        return false;
    memcpy(&header, bytes.data, sizeof header);
    return header.biSize >= sizeof header;
}

} // namespace ui
