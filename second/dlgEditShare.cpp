// dlgEditShare: one share's name, application, topic, first item,
// additional items and two access entries (password and permissions).
// Opened by "Add..." it starts empty and adds a share; opened by "Edit..."
// it reads the share selected in the share list and stores it back under
// its name, or adds a new share when the name was changed. The additional
// items are a working copy in lbxAddItems that reaches the library only
// through OK.
#include <vector>

#include "marrowby.h"
#include "modMain.h"

bool IsAddMode(const Form &editor)
{
    return GetText(editor.hwnd).find('A') != std::string::npos;
}

namespace dlgEditShare {

// The longest share name the record's shareName holds with its terminator.
static const size_t MaxShareNameLength = ShareNameSize - 1;
// The record's texts are shown from buffers of this many characters, the
// passwords from buffers of PasswordTextLength.
static const int RecordTextLength = 256;
static const int PasswordTextLength = 16;

// The check boxes of each access entry, in the order of the permission
// bits Request 0x01, Advise 0x02, Poke 0x04, Execute 0x08, StartApp 0x10.
static const int PermissionBoxCount = 5;
static const int access1Boxes[PermissionBoxCount] = {chkRequest1, chkAdvise1, chkPoke1, chkExecute1, chkStartApp1};
static const int access2Boxes[PermissionBoxCount] = {chkRequest2, chkAdvise2, chkPoke2, chkExecute2, chkStartApp2};
// Item permissions sent to the library: Request, Advise and Poke only.
static const DWORD ItemPermissionMask = Request | Advise | Poke;

// The library takes the strings it only reads through non-const pointers.
static LPSTR LibraryText(const std::string &text)
{
    return const_cast<LPSTR>(text.c_str());
}

static std::string InCapitals(std::string text)
{
    if (!text.empty())
        CharUpperBuffA(&text[0], (DWORD)text.size());
    return text;
}

// A box counts as ticked only when its value is 1 (not greyed).
static SharePermissions TickedPermissions(const int (&boxes)[PermissionBoxCount])
{
    SharePermissions permissions = 0;
    for (int bit = 0; bit < PermissionBoxCount; bit++)
        if (CheckValue(form[boxes[bit]]) == BST_CHECKED)
            permissions |= 1u << bit;
    return permissions;
}

static void TickPermissions(const int (&boxes)[PermissionBoxCount], SharePermissions permissions)
{
    for (int bit = 0; bit < PermissionBoxCount; bit++)
        SetCheckValue(form[boxes[bit]], (permissions >> bit) & 1 ? BST_CHECKED : BST_UNCHECKED);
}

static HWND ShareList()
{
    return dlgListShares::form[dlgListShares::lbxShareList];
}

// --- Storing a share ------------------------------------------------------

// A share as the editor hands it to the library: the record, and held apart
// from it the texts and the item array its pointers point to. Built in
// place and never copied, so the pointers stay valid for the call.
struct ShareRecord {
    ShareInfo info = {};
    std::string appName, topic, password1, password2, firstItem;
    std::vector<std::string> itemNames;
    std::vector<AddItemInfo> items;
    // Not the record's size: 112, each text's length + 1, each item's
    // 8 + name length + 1, and one byte more.
    DWORD bufferSize = 0;
};

// Takes the editor's values for the share `name`, checks them (the first
// refused value is reported) and builds the record. False when a value was
// refused; nothing has then been sent to the library but the checks.
static bool BuildShareRecord(const std::string &name, ShareRecord &share)
{
    share.appName = GetText(form[txtAppName]);
    share.topic = GetText(form[txtTopic]);
    share.password1 = InCapitals(GetText(form[txtPassword1]));
    share.password2 = InCapitals(GetText(form[txtPassword2]));
    share.firstItem = GetText(form[txtFirstItem]);
    HWND itemList = form[lbxAddItems];
    int itemCount = ListCount(itemList);
    for (int i = 0; i < itemCount; i++)
        share.itemNames.push_back(ListText(itemList, i));

    const std::string *texts[] = {&name, &share.appName, &share.topic, &share.firstItem, &share.password1,
                                  &share.password2};
    share.bufferSize = ShareInfoHeaderSize;
    for (const std::string *text : texts)
        share.bufferSize += (DWORD)text->size() + 1;
    for (const std::string &itemName : share.itemNames)
        share.bufferSize += sizeof(AddItemInfo) + (DWORD)itemName.size() + 1;
    share.bufferSize += 1;

    // A name the record cannot hold with its terminator is refused before
    // the library sees it.
    if (name.size() > MaxShareNameLength || !Tessaflat::NDdeIsValidShareName(LibraryText(name))) {
        ShowInvalidField(1, name);
        return false;
    }
    if (!Tessaflat::NDdeIsValidTopic(LibraryText(share.topic))) {
        ShowInvalidField(2, share.topic);
        return false;
    }
    if (!Tessaflat::NDdeIsValidPassword(LibraryText(share.password1))) {
        ShowInvalidField(3, share.password1);
        return false;
    }
    if (!Tessaflat::NDdeIsValidPassword(LibraryText(share.password2))) {
        ShowInvalidField(4, share.password2);
        return false;
    }

    ShareInfo &info = share.info;
    lstrcpynA(info.shareName, name.c_str(), ShareNameSize);
    info.appName = LibraryText(share.appName);
    info.topicName = LibraryText(share.topic);
    info.password1 = (BYTE *)LibraryText(share.password1);
    info.password1Length = (DWORD)share.password1.size();
    info.permissions1 = TickedPermissions(access1Boxes);
    info.password2 = (BYTE *)LibraryText(share.password2);
    info.password2Length = (DWORD)share.password2.size();
    info.permissions2 = TickedPermissions(access2Boxes);
    info.firstItem = LibraryText(share.firstItem);
    for (int i = 0; i < itemCount; i++)
        share.items.push_back({LibraryText(share.itemNames[i]), ListItemData(itemList, i) & ItemPermissionMask});
    info.addItemCount = itemCount;
    info.addItems = share.items.empty() ? nullptr : share.items.data();
    return true;
}

// Adds the share under the name shown, in capitals, completed with "$"
// when it has none; the share list gains the name.
static bool AddShare()
{
    std::string name = InCapitals(GetText(form[txtShareName]));
    size_t dollar = name.find('$');
    if (dollar != std::string::npos && dollar + 1 < name.size()) {
        ShowInvalidField(1, name);
        return false;
    }
    if (dollar == std::string::npos)
        name += '$';
    ShareRecord share;
    if (!BuildShareRecord(name, share))
        return false;
    UINT result = Tessaflat::NDdeShareAdd(ManagedServer(), 2, (LPBYTE)&share.info, share.bufferSize);
    if (result != NDDE_NO_ERROR) {
        ReportApiError(result);
        return false;
    }
    ListAddItem(ShareList(), share.info.shareName);
    FitListHorizontalExtent(ShareList());
    return true;
}

// Stores the share back under the name it was read with; a changed name
// adds a new share and leaves the old one in place.
static bool UpdateShare()
{
    HWND shares = ShareList();
    int selected = ListIndex(shares);
    std::string shown = GetText(form[txtShareName]);
    if (selected < 0 || lstrcmpiA(ListText(shares, selected).c_str(), shown.c_str()) != 0)
        return AddShare();
    std::string name = InCapitals(shown);
    ShareRecord share;
    if (!BuildShareRecord(name, share))
        return false;
    UINT result = Tessaflat::NDdeShareSetInfo(ManagedServer(), LibraryText(name), 2, (LPBYTE)&share.info, share.bufferSize, 0);
    if (result != NDDE_NO_ERROR) {
        ReportApiError(result);
        return false;
    }
    return true;
}

// --- Reading a share ------------------------------------------------------

// The share record the library placed in a buffer of the program's: the
// header's numbers are read byte by byte, its strings and item table
// through the addresses it holds, which must lie inside the buffer.
class RecordReader {
public:
    explicit RecordReader(const std::vector<BYTE> &buffer) : buffer(buffer) {}

    LONG Field(size_t offset) const
    {
        return MakeInt32(buffer[offset], buffer[offset + 1], buffer[offset + 2], buffer[offset + 3]);
    }

    // The offset in the buffer of an address that points at `length` bytes
    // inside it; false when they do not lie inside.
    bool OffsetOf(LONG address, size_t length, size_t &offset) const
    {
        DWORD start = (DWORD)(UINT_PTR)buffer.data();
        offset = (DWORD)address - start;
        return (DWORD)address >= start && offset < buffer.size() && length <= buffer.size() - offset;
    }

    // The string at address, as a buffer of `length` zero characters shows
    // it after the copy: at most length - 1 characters, ending at the first
    // zero byte, and never read past the buffer.
    bool String(LONG address, int length, std::string &text) const
    {
        size_t offset;
        if (!OffsetOf(address, 1, offset))
            return false;
        size_t left = buffer.size() - offset;
        std::vector<char> copy(length, '\0');
        kernel32::lstrcpynA(copy.data(), (LPCSTR)(buffer.data() + offset), left < (size_t)length ? (int)left : length);
        text = copy.data();
        return true;
    }

    // The share name inline at the start: up to the first zero byte, at
    // most 68 characters and not past the byte total.
    std::string ShareName(DWORD total) const
    {
        std::string name;
        for (size_t offset = 0; offset < (size_t)ShareNameSize && offset < total && buffer[offset] != 0; offset++)
            name += (char)buffer[offset];
        return TrimNulSpace(name);
    }

private:
    const std::vector<BYTE> &buffer;
};

struct ShownItem {
    std::string name;
    DWORD permissions;
};

static void ReportUnreadableShare(const std::string &name)
{
    MsgBox("The library's record of share '" + name + "' cannot be read.", MB_OK | MB_ICONEXCLAMATION, "Error");
}

// Reads the share selected in the share list into the editor. The first
// buffer holds the header and the items the library last named; after each
// code 2 the buffer is sized to the total the library asked for, one byte
// more, as long as that is more than it was offered.
static bool LoadSelectedShare()
{
    HWND shares = ShareList();
    int selected = ListIndex(shares);
    if (selected < 0)
        return false;
    std::string name = ListText(shares, selected);

    std::vector<BYTE> buffer;   // one byte more than the library is told
    WORD itemCount = 0;
    DWORD total = 0, size;
    UINT result;
    do {
        size = ShareInfoHeaderSize + sizeof(AddItemInfo) * itemCount;
        if (total > size)
            size = total;
        size++;
        buffer.assign(size + 1, 0);
        result = Tessaflat::NDdeShareGetInfo(ManagedServer(), LibraryText(name), 2, buffer.data(), size, &total, &itemCount);
    } while (result == NDDE_BUF_TOO_SMALL && total > size && total < LibraryBufferLimit);
    if (result != NDDE_NO_ERROR) {
        ReportApiError(result);
        return false;
    }

    // The header fields at 68, 72, ... 108; the lengths and the record's
    // own item count play no part: the items shown are the count the call
    // returned.
    RecordReader record(buffer);
    LONG appName = record.Field(68), topicName = record.Field(72), password1 = record.Field(76);
    SharePermissions permissions1 = record.Field(84);
    LONG password2 = record.Field(88);
    SharePermissions permissions2 = record.Field(96);
    LONG firstItem = record.Field(100), addItems = record.Field(108);

    std::string appText, topicText, firstItemText, password1Text, password2Text;
    std::vector<ShownItem> items;
    bool readable = record.String(appName, RecordTextLength, appText) &&
                    record.String(topicName, RecordTextLength, topicText) &&
                    record.String(firstItem, RecordTextLength, firstItemText) &&
                    record.String(password1, PasswordTextLength, password1Text) &&
                    record.String(password2, PasswordTextLength, password2Text);
    size_t table = 0;
    if (readable && itemCount > 0)
        readable = record.OffsetOf(addItems, sizeof(AddItemInfo) * itemCount, table);
    for (WORD i = 0; readable && i < itemCount; i++) {
        size_t entry = table + sizeof(AddItemInfo) * i;
        ShownItem item = {"", (DWORD)record.Field(entry + 4)};
        readable = record.String(record.Field(entry), RecordTextLength, item.name);
        items.push_back(item);
    }
    if (!readable) {
        ReportUnreadableShare(name);
        return false;
    }

    SetText(form[txtShareName], record.ShareName(total));
    SetText(form[txtAppName], appText);
    SetText(form[txtTopic], topicText);
    SetText(form[txtFirstItem], firstItemText);
    SetText(form[txtPassword1], password1Text);
    TickPermissions(access1Boxes, permissions1);
    SetText(form[txtPassword2], password2Text);
    TickPermissions(access2Boxes, permissions2);
    if (!items.empty()) {
        for (const ShownItem &item : items)
            ListAddItem(form[lbxAddItems], item.name, item.permissions);
        FitListHorizontalExtent(form[lbxAddItems]);
    }
    return true;
}

// --- Additional items -----------------------------------------------------

static void EnableItemButtons(BOOL enable)
{
    EnableWindow(form[btnEdit], enable);
    EnableWindow(form[btnDelete], enable);
}

// --- Handlers -------------------------------------------------------------

static void SetWaitPointer(MousePointer pointer)
{
    SetBusyPointer(form, pointer);
    SetMousePointer(dlgListShares::form, pointer);
}

static void Form_Load()
{
    PlaceDialog(form, dlgListShares::form, PlaceBesideDialog);
    SetText(form.hwnd, CommandTitle());
    // Names and passwords are typed, shown and stored in capitals.
    for (int textBox : {txtShareName, txtPassword1, txtPassword2}) {
        HWND window = form[textBox];
        user32::SetWindowLongA(window, GWL_STYLE, user32::GetWindowLongA(window, GWL_STYLE) | ES_UPPERCASE);
    }
    if (!IsAddMode(form))
        form.bError = !LoadSelectedShare();
}

static void lbxAddItems_Click()
{
    EnableItemButtons(TRUE);
}

static void btnAdd_Click()
{
    OpenAddDialog(dlgEditItem::form, form, GetText(form[btnAdd]));
}

// A moved item is no longer selected: its buttons go off with it.
static void btnEdit_Click()
{
    OpenCommandDialog(dlgEditItem::form, form, GetText(form[btnEdit]));
    if (ListIndex(form[lbxAddItems]) < 0)
        EnableItemButtons(FALSE);
}

static void lbxAddItems_DblClick()
{
    btnEdit_Click();
}

static void btnDelete_Click()
{
    if (RemoveSelectedLine(form, form[lbxAddItems], "Delete item", nullptr))
        EnableItemButtons(FALSE);
}

static void btnOK_Click()
{
    SetWaitPointer(Hourglass);
    bool stored = IsAddMode(form) ? AddShare() : UpdateShare();
    SetWaitPointer(DefaultPointer);
    if (stored)
        UnloadForm(form);
}

static void btnCancel_Click()
{
    UnloadForm(form);
}

static void Form_Unload()
{
    ReleaseForm(form);
}

static void txtShareName_GotFocus()
{
    SelectWholeText(form[txtShareName]);
}

static void txtAppName_GotFocus()
{
    SelectWholeText(form[txtAppName]);
}

static void txtTopic_GotFocus()
{
    SelectWholeText(form[txtTopic]);
}

static void txtFirstItem_GotFocus()
{
    SelectWholeText(form[txtFirstItem]);
}

static void txtPassword1_GotFocus()
{
    SelectWholeText(form[txtPassword1]);
}

static void txtPassword2_GotFocus()
{
    SelectWholeText(form[txtPassword2]);
}

static const ControlDesign controls[] = {
    {Label, "Label1", "Share Name:", 240, 240, 1215, 255, AlignRight},
    {TextBox, "txtShareName", "", 1560, 240, 2415, 285},
    {Label, "Label2", "Application:", 240, 720, 1215, 255, AlignRight},
    {TextBox, "txtAppName", "", 1560, 720, 2415, 285},
    {Label, "Label3", "Topic:", 240, 1200, 1215, 255, AlignRight},
    {TextBox, "txtTopic", "", 1560, 1200, 2415, 285},
    {Label, "Label4", "First Item:", 240, 1680, 1215, 255, AlignRight},
    {TextBox, "txtFirstItem", "", 1560, 1680, 2415, 285},
    {Label, "Label5", "Additional Items:", 240, 2160, 1215, 255, AlignRight},
    {ListBox, "lbxAddItems", "", 1560, 2160, 2415, 1230},
    {Frame, "frmAccess1", "Access #1:", 240, 3600, 2415, 2055},
    {Label, "Label6", "Password #1:", 240, 360, 1935, 255, InFrame},
    {TextBox, "txtPassword1", "", 240, 600, 1935, 285, InFrame},
    {CheckBox, "chkRequest1", "Request", 240, 960, 975, 255, InFrame},
    {CheckBox, "chkAdvise1", "Advise", 240, 1320, 975, 255, InFrame},
    {CheckBox, "chkPoke1", "Poke", 240, 1680, 975, 255, InFrame},
    {CheckBox, "chkExecute1", "Execute", 1200, 960, 1095, 255, InFrame},
    {CheckBox, "chkStartApp1", "Start app.", 1200, 1320, 1095, 255, InFrame},
    {Frame, "frmAccess2", "Access #2:", 2880, 3600, 2415, 2055},
    {Label, "Label7", "Password #2:", 240, 360, 1935, 255, InFrame},
    {TextBox, "txtPassword2", "", 240, 600, 1935, 285, InFrame},
    {CheckBox, "chkRequest2", "Request", 240, 960, 975, 255, InFrame},
    {CheckBox, "chkAdvise2", "Advise", 240, 1320, 975, 255, InFrame},
    {CheckBox, "chkPoke2", "Poke", 240, 1680, 975, 255, InFrame},
    {CheckBox, "chkExecute2", "Execute", 1200, 960, 1095, 255, InFrame},
    {CheckBox, "chkStartApp2", "Start app.", 1200, 1320, 1095, 255, InFrame},
    {CommandButton, "btnOK", "OK", 4200, 240, 1080, 315, DefaultButton},
    {CommandButton, "btnCancel", "Cancel", 4200, 720, 1080, 315, CancelButton},
    {CommandButton, "btnAdd", "Add...", 4200, 2160, 1080, 315},
    {CommandButton, "btnEdit", "Edit...", 4200, 2640, 1080, 315, Disabled},
    {CommandButton, "btnDelete", "Delete", 4200, 3120, 1080, 315, Disabled},
};

static const EventBinding events[] = {
    {txtShareName, GotFocus, txtShareName_GotFocus},
    {txtAppName, GotFocus, txtAppName_GotFocus},
    {txtTopic, GotFocus, txtTopic_GotFocus},
    {txtFirstItem, GotFocus, txtFirstItem_GotFocus},
    {lbxAddItems, Click, lbxAddItems_Click},
    {lbxAddItems, DblClick, lbxAddItems_DblClick},
    {txtPassword1, GotFocus, txtPassword1_GotFocus},
    {txtPassword2, GotFocus, txtPassword2_GotFocus},
    {btnOK, Click, btnOK_Click},
    {btnCancel, Click, btnCancel_Click},
    {btnAdd, Click, btnAdd_Click},
    {btnEdit, Click, btnEdit_Click},
    {btnDelete, Click, btnDelete_Click},
};

static const FormDesign design = {
    .name = "dlgEditShare",
    .caption = "Share",
    .border = FixedDialog,
    .units = Twips,
    .left = 540, .top = 825, .width = 5505, .height = 5835,
    .controls = Table(controls),
    .events = Table(events),
    .load = Form_Load,
    .unload = Form_Unload,
};

Form form = {design};

}
