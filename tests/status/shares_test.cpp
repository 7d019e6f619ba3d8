// Driver tests of quorvstat's share list, share editor and item editor: the
// real program, the real library and the real share store, worked from
// outside with window messages. Each test checks what the dialogs show and
// what the store then holds, read back through Tessaflat.dll.
//
// A scripted partner (share_script_partner.cpp, run from a folder of its
// own) stands in for the store where a test needs answers the store never
// gives: a password longer than the store allows, library errors in the
// share list, a list that never fits its buffer.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "resource.h"
#include "netdde_fixture.h"
#include "resources.h"
#include "share_store.h"
#include "sharestore.h"
#include "tessaflat.h"
#include "uidriver.h"

namespace {

const char ShareListCaption[] = "List Shares...";
const char AddCaption[] = "Add...";
const char EditCaption[] = "Edit...";
const char SystemCaption[] = "Error";   // the caption of a message box given none
const DWORD ReplyTimeout = 5000;

// ---- The store, read and written through the library -------------------------------

// Takes every share out of the store for one test and puts them back
// afterwards, value by value, as they were stored.
class EmptiedStore {
public:
    EmptiedStore()
    {
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ShareStoreKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key_, NULL) !=
            ERROR_SUCCESS)
            return;
        for (;;) {
            char name[256];
            DWORD nameLength = sizeof name, type = 0, size = 0;
            if (RegEnumValueA(key_, 0, name, &nameLength, NULL, &type, NULL, &size) != ERROR_SUCCESS)
                break;
            Value value{name, type, std::vector<BYTE>(size)};
            nameLength = sizeof name;
            RegEnumValueA(key_, 0, name, &nameLength, NULL, &type, value.data.data(), &size);
            if (RegDeleteValueA(key_, name) != ERROR_SUCCESS)
                break;
            saved_.push_back(value);
        }
    }
    ~EmptiedStore()
    {
        if (!key_)
            return;
        for (const Value &value : saved_)
            RegSetValueExA(key_, value.name.c_str(), 0, value.type, value.data.data(), (DWORD)value.data.size());
        RegCloseKey(key_);
    }
    bool isReady() const { return key_ != NULL; }

private:
    struct Value {
        std::string name;
        DWORD type;
        std::vector<BYTE> data;
    };
    HKEY key_ = NULL;
    std::vector<Value> saved_;
};

// ---- The program -----------------------------------------------------------------------

// The status program (status_program.h, netdde_fixture.h) with what the
// share tests do with its share dialogs.
class ShareProgram : public nf::StatusProgram {
public:
    HWND openShareList() { return open(IDM_LIST_SHARES, ShareListCaption); }
    using nf::StatusProgram::open;
    // Clicks a button that opens a nested dialog and waits for it.
    HWND open(HWND dialog, int buttonId, const char *caption)
    {
        if (!ui::clickButton(dialog, buttonId))
            return NULL;
        return waitForNestedDialog(dialog, caption);
    }
    // A dialog owned by `dialog`, with that caption (the share editor and
    // the item editor it opens share their captions), once its buttons are
    // there.
    HWND waitForNestedDialog(HWND dialog, const char *caption, DWORD timeout = ui::DefaultTimeout)
    {
        HWND found = nf::StatusProgram::waitForNestedDialog(dialog, caption, timeout);
        return found && ui::waitUntil([&] { return GetDlgItem(found, IDCANCEL) != NULL; }, timeout) ? found : NULL;
    }
    HWND openShare(HWND shareList, const std::string &name)
    {
        return selectLine(shareList, IDC_SHARE_LIST, name) ? open(shareList, IDC_EDIT_BUTTON, EditCaption) : NULL;
    }
    // Presses a button that closes a nested dialog, and waits until its
    // owner has finished what follows (it puts its own caption back into
    // the title slot, then adjusts its buttons before it reads messages).
    bool close(HWND dialog, int buttonId)
    {
        HWND owner = ui::owner(dialog);
        return ui::clickButton(dialog, buttonId) && ui::waitForWindowToClose(dialog) &&
               titleBecomes(ui::text(owner), ui::DefaultTimeout) && settle(owner);
    }
    bool confirm(HWND dialog) { return close(dialog, IDOK); }
    // Waits until the dialog's thread has finished the message it is
    // handling: a sent message is only answered between messages.
    static bool settle(HWND dialog)
    {
        DWORD_PTR result;
        return SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, ReplyTimeout, &result) != 0;
    }
    // Selects a line of list 110 or 124 as a click does, and waits until the
    // dialog has enabled its "Edit..." and "Delete" buttons in answer.
    static bool selectLine(HWND dialog, int listId, int index)
    {
        return nf::StatusProgram::selectLine(dialog, listId, index, IDC_EDIT_BUTTON) && settle(dialog);
    }
    static bool selectLine(HWND dialog, int listId, const std::string &line)
    {
        std::vector<std::string> lines = ui::listLines(dialog, listId);
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i] == line)
                return selectLine(dialog, listId, (int)i);
        return false;
    }
};

// Fills the share editor's texts; passwords and names are typed.
void fillShareEditor(HWND editor, const ShareValues &values)
{
    ui::typeText(editor, IDC_SHARE_NAME, values.name);
    ui::setText(editor, IDC_APPLICATION, values.application);
    ui::setText(editor, IDC_TOPIC, values.topic);
    ui::setText(editor, IDC_FIRST_ITEM, values.firstItem);
    ui::typeText(editor, IDC_PASSWORD1, values.password1);
    ui::typeText(editor, IDC_PASSWORD2, values.password2);
}

const int PermissionBits = 5;

int permissionBox(int group, int bit)
{
    return IDC_ACCESS1_REQUEST + 2 * bit + group;
}

void checkPermissionBoxes(HWND editor, int group, DWORD permissions)
{
    for (int bit = 0; bit < PermissionBits; ++bit)
        ui::setChecked(editor, permissionBox(group, bit), (permissions >> bit) & 1);
}

DWORD shownPermissions(HWND editor, int group)
{
    DWORD permissions = 0;
    for (int bit = 0; bit < PermissionBits; ++bit)
        if (ui::isChecked(editor, permissionBox(group, bit)))
            permissions |= 1u << bit;
    return permissions;
}

// Adds an item through the item editor opened with the share editor's
// "Add..." button, placed before combo entry `before` (-1: as preset).
bool addItem(ShareProgram &program, HWND editor, const std::string &name, DWORD permissions, int before = -1)
{
    HWND itemEditor = program.open(editor, IDC_ADD_BUTTON, AddCaption);
    if (!itemEditor)
        return false;
    ui::setText(itemEditor, IDC_ITEM_NAME, name);
    if (before >= 0)
        ui::selectComboLine(itemEditor, IDC_INSERT_BEFORE, before);
    for (int bit = 0; bit < 3; ++bit)
        ui::setChecked(itemEditor, IDC_ITEM_REQUEST + bit, (permissions >> bit) & 1);
    return program.confirm(itemEditor);
}

std::vector<ShareItem> listedItems(HWND editor)
{
    std::vector<ShareItem> items;
    std::vector<std::string> lines = ui::listLines(editor, IDC_ADDITIONAL_ITEMS);
    for (size_t i = 0; i < lines.size(); ++i)
        items.push_back({lines[i], (DWORD)ui::listData(editor, IDC_ADDITIONAL_ITEMS, (int)i)});
    return items;
}

// A folder with the program, the library and the scripted partner as
// Tessaseg.dll; removed when the test ends.
class ScriptedPartnerFolder {
public:
    explicit ScriptedPartnerFolder(const char *script)
    {
        SetEnvironmentVariableA("SHARE_SCRIPT", script);
        directory = ui::makeScratchDirectory("share-script");
        ready = !directory.empty() && ui::copyFileInto(ui::pathBeside(StatusProgramFile), directory) &&
                ui::copyFileInto(ui::pathBeside("Tessaflat.dll"), directory) &&
                CopyFileA(ui::pathBeside("share-script\\Tessaseg.dll").c_str(),
                          (directory + "Tessaseg.dll").c_str(), FALSE);
    }
    ~ScriptedPartnerFolder()
    {
        SetEnvironmentVariableA("SHARE_SCRIPT", NULL);
        ui::removeDirectory(directory);
    }
    std::string directory;
    bool ready = false;
};

} // namespace

// ---- Templates ---------------------------------------------------------------------------

TEST_CASE("templates 10, 11 and 12 carry their controls, styles, rectangles and texts")
{
    nf::checkDialogTemplate({IDD_SHARE_LIST, 180, 104, {
        {-1, "static", "My Shares:", 0x50020000, 8, 8, 104, 8},
        {110, "listbox", "", 0x50B10103, 8, 16, 104, 80},
        {111, "button", "Add...", 0x50030001, 124, 8, 48, 14},
        {112, "button", "Edit...", 0x58010000, 124, 26, 48, 14},
        {113, "button", "Delete", 0x58010000, 124, 44, 48, 14},
        {2, "button", "Cancel", 0x50010000, 124, 62, 48, 14},
    }});
    nf::checkDialogTemplate({IDD_SHARE_EDITOR, 244, 234, {
        {-1, "static", "Share Name:", 0x50020002, 8, 10, 60, 8},
        {120, "edit", "", 0x50810088, 72, 8, 104, 12},
        {-1, "static", "Application:", 0x50020002, 8, 30, 60, 8},
        {121, "edit", "", 0x50810080, 72, 28, 104, 12},
        {-1, "static", "Topic:", 0x50020002, 8, 50, 60, 8},
        {122, "edit", "", 0x50810080, 72, 48, 104, 12},
        {-1, "static", "First Item:", 0x50020002, 8, 70, 60, 8},
        {123, "edit", "", 0x50810080, 72, 68, 104, 12},
        {-1, "static", "Additional Items:", 0x50020002, 8, 90, 60, 8},
        {124, "listbox", "", 0x50B10101, 72, 88, 104, 48},
        {111, "button", "Add...", 0x50030000, 188, 87, 48, 14},
        {112, "button", "Edit...", 0x58010000, 188, 105, 48, 14},
        {113, "button", "Delete", 0x58010000, 188, 123, 48, 14},
        {-1, "button", "Access #1:", 0x50020007, 8, 148, 108, 78},
        {-1, "static", "Password #1:", 0x50020000, 16, 160, 92, 8},
        {125, "edit", "", 0x50810088, 16, 168, 92, 12},
        {127, "button", "Request", 0x50020003, 16, 186, 40, 10},
        {129, "button", "Advise", 0x50000003, 16, 198, 40, 10},
        {131, "button", "Poke", 0x50000003, 16, 210, 40, 10},
        {133, "button", "Execute", 0x50000003, 68, 186, 42, 10},
        {135, "button", "Start app.", 0x50000003, 68, 198, 42, 10},
        {-1, "button", "Access #2:", 0x50020007, 128, 148, 108, 78},
        {-1, "static", "Password #2:", 0x50020000, 136, 160, 92, 8},
        {126, "edit", "", 0x50810088, 136, 168, 92, 12},
        {128, "button", "Request", 0x50020003, 136, 186, 40, 10},
        {130, "button", "Advise", 0x50000003, 136, 198, 40, 10},
        {132, "button", "Poke", 0x50000003, 136, 210, 40, 10},
        {134, "button", "Execute", 0x50000003, 188, 186, 42, 10},
        {136, "button", "Start app.", 0x50000003, 188, 198, 42, 10},
        {1, "button", "OK", 0x50030001, 188, 8, 48, 14},
        {2, "button", "Cancel", 0x50010000, 188, 26, 48, 14},
    }});
    nf::checkDialogTemplate({IDD_ITEM_EDITOR, 180, 124, {
        {-1, "static", "Item Name:", 0x50020000, 8, 8, 104, 8},
        {123, "edit", "", 0x50810080, 8, 16, 104, 12},
        {-1, "static", "Insert Before:", 0x50020000, 8, 32, 104, 8},
        {140, "combobox", "", 0x50210003, 8, 40, 104, 72},
        {-1, "button", "Access:", 0x50020007, 30, 64, 64, 52},
        {141, "button", "Request", 0x50020003, 38, 76, 45, 10},
        {142, "button", "Advise", 0x50000003, 38, 88, 45, 10},
        {143, "button", "Poke", 0x50000003, 38, 100, 45, 10},
        {1, "button", "OK", 0x50030001, 124, 8, 48, 14},
        {2, "button", "Cancel", 0x50010000, 124, 26, 48, 14},
    }});
}

// ---- Adding shares ------------------------------------------------------------------------

TEST_CASE("a new share's name is completed with $ and stays completed after a refusal")
{
    StoreCleanup cleanup({"ABC$"});
    ShareProgram program;
    REQUIRE(program.start());
    HWND shareList = program.openShareList();
    REQUIRE(shareList != NULL);
    HWND editor = program.open(shareList, IDC_ADD_BUTTON, AddCaption);
    REQUIRE(editor != NULL);

    // Typed abc: the field shows ABC, the share is created as ABC$ and the
    // list gains that line.
    fillShareEditor(editor, {"abc", "Server", "Topic", "First", "", "", 0, 0, {}});
    CHECK(ui::text(editor, IDC_SHARE_NAME) == "ABC");
    REQUIRE(program.confirm(editor));
    CHECK(ui::listLines(shareList, IDC_SHARE_LIST) == std::vector<std::string>{"ABC$"});
    ShareContents stored = readStoredShare("ABC$");
    REQUIRE(stored.result == NDDE_NO_ERROR);
    CHECK(stored.name == "ABC$");
    CHECK(stored.application == "Server");
    CHECK(stored.topic == "Topic");
    CHECK(stored.firstItem == "First");
    CHECK(stored.items.empty());

    // abc again: completed to ABC$ in the field, then refused by the store;
    // the editor stays open with everything typed.
    editor = program.open(shareList, IDC_ADD_BUTTON, AddCaption);
    REQUIRE(editor != NULL);
    fillShareEditor(editor, {"abc", "Other", "Topic2", "", "", "", 0, 0, {}});
    REQUIRE(ui::clickButton(editor, IDOK));
    ui::MessageBoxView box = program.answer(IDOK);
    CHECK(box.text == apiErrorText(NDDE_SHARE_ALREADY_EXIST));
    CHECK(box.icon == ui::Icon::Exclamation);
    CHECK(IsWindowVisible(editor));
    CHECK(ui::text(editor, IDC_SHARE_NAME) == "ABC$");
    CHECK(ui::text(editor, IDC_APPLICATION) == "Other");
    CHECK(ui::text(editor, IDC_TOPIC) == "Topic2");
    CHECK(readStoredShare("ABC$").application == "Server");

    // An empty name becomes "$", which the library's check refuses.
    ui::typeText(editor, IDC_SHARE_NAME, "");
    ui::setText(editor, IDC_TOPIC, "Topic");
    REQUIRE(ui::clickButton(editor, IDOK));
    box = program.answer(IDOK);
    CHECK(box.text == "Share name '$' is invalid !");
    CHECK(ui::text(editor, IDC_SHARE_NAME) == "$");
    CHECK(NDdeIsValidShareName((LPSTR) "$") == 0);
    CHECK_FALSE(isStored("$"));
    CHECK(ui::listLines(shareList, IDC_SHARE_LIST) == std::vector<std::string>{"ABC$"});
}

TEST_CASE("names the program refuses itself never reach the library")
{
    // Behind this partner every check passes and an added share comes back
    // as an error naming what was handed over.
    ScriptedPartnerFolder partner("accept-all");
    REQUIRE(partner.ready);
    ShareProgram program;
    REQUIRE(program.start(partner.directory));
    HWND shareList = program.openShareList();
    REQUIRE(shareList != NULL);
    HWND editor = program.open(shareList, IDC_ADD_BUTTON, AddCaption);
    REQUIRE(editor != NULL);
    ui::setText(editor, IDC_TOPIC, "Topic");

    // A $ in the middle.
    ui::typeText(editor, IDC_SHARE_NAME, "a$b");
    REQUIRE(ui::clickButton(editor, IDOK));
    ui::MessageBoxView box = program.answer(IDOK);
    CHECK(box.text == "Share name 'A$B' is invalid !");
    CHECK(box.caption == SystemCaption);
    CHECK(box.owner == NULL);
    CHECK(box.icon == ui::Icon::Exclamation);
    CHECK(ui::text(editor, IDC_SHARE_NAME) == "A$B");

    // 63 characters leave no room for the $ and the terminator in the
    // record's name: refused, and the field keeps what was typed.
    std::string tooLong(63, 'N');
    ui::typeText(editor, IDC_SHARE_NAME, tooLong);
    REQUIRE(ui::clickButton(editor, IDOK));
    box = program.answer(IDOK);
    CHECK(box.text == "Share name '" + tooLong + "' is invalid !");
    CHECK(ui::text(editor, IDC_SHARE_NAME) == tooLong);

    // 62 characters take the $ and reach the library whole.
    std::string longest(62, 'N');
    ui::typeText(editor, IDC_SHARE_NAME, longest);
    REQUIRE(ui::clickButton(editor, IDOK));
    box = program.answer(IDOK);
    CHECK(box.text.find("error #23.") != std::string::npos);
    CHECK(box.text.find("added " + longest + "$.") != std::string::npos);
    CHECK(ui::text(editor, IDC_SHARE_NAME) == longest + "$");
    CHECK(IsWindowVisible(editor));
}

TEST_CASE("passwords are stored upper-case with their length, permissions round-trip through every box")
{
    StoreCleanup cleanup({"PERMA$", "PERMB$"});
    ShareProgram program;
    REQUIRE(program.start());
    HWND shareList = program.openShareList();
    REQUIRE(shareList != NULL);

    // PERMA: password #1 typed in lower case (the field shows it upper-case),
    // password #2 kept in lower case in its field; alternate boxes checked.
    HWND editor = program.open(shareList, IDC_ADD_BUTTON, AddCaption);
    REQUIRE(editor != NULL);
    fillShareEditor(editor, {"perma", "App", "Topic", "", "secret", "", 0, 0, {}});
    ui::allowLowerCase(editor, IDC_PASSWORD2);
    ui::setText(editor, IDC_PASSWORD2, "mixed7");
    CHECK(ui::text(editor, IDC_PASSWORD1) == "SECRET");
    CHECK(ui::text(editor, IDC_PASSWORD2) == "mixed7");
    checkPermissionBoxes(editor, 0, Request | Poke | StartApp);
    checkPermissionBoxes(editor, 1, Advise | Execute);
    REQUIRE(program.confirm(editor));

    // PERMB: the other boxes, no passwords.
    editor = program.open(shareList, IDC_ADD_BUTTON, AddCaption);
    REQUIRE(editor != NULL);
    fillShareEditor(editor, {"permb", "App", "Topic", "", "", "", 0, 0, {}});
    checkPermissionBoxes(editor, 0, Advise | Execute);
    checkPermissionBoxes(editor, 1, Request | Poke | StartApp);
    REQUIRE(program.confirm(editor));

    ShareContents first = readStoredShare("PERMA$");
    REQUIRE(first.result == NDDE_NO_ERROR);
    CHECK(first.password1 == "SECRET");
    CHECK(first.password2 == "MIXED7");
    CHECK(first.permissions1 == (Request | Poke | StartApp));
    CHECK(first.permissions2 == (Advise | Execute));
    ShareContents second = readStoredShare("PERMB$");
    REQUIRE(second.result == NDDE_NO_ERROR);
    CHECK(second.password1.empty());
    CHECK(second.password2.empty());
    CHECK(second.permissions1 == (Advise | Execute));
    CHECK(second.permissions2 == (Request | Poke | StartApp));

    // Read back, every box shows what the store holds.
    editor = program.openShare(shareList, "PERMA$");
    REQUIRE(editor != NULL);
    CHECK(ui::text(editor, IDC_SHARE_NAME) == "PERMA$");
    CHECK(ui::text(editor, IDC_PASSWORD1) == "SECRET");
    CHECK(ui::text(editor, IDC_PASSWORD2) == "MIXED7");
    CHECK(shownPermissions(editor, 0) == (Request | Poke | StartApp));
    CHECK(shownPermissions(editor, 1) == (Advise | Execute));
    REQUIRE(program.close(editor, IDCANCEL));
    editor = program.openShare(shareList, "PERMB$");
    REQUIRE(editor != NULL);
    CHECK(ui::text(editor, IDC_PASSWORD1) == "");
    CHECK(shownPermissions(editor, 0) == (Advise | Execute));
    CHECK(shownPermissions(editor, 1) == (Request | Poke | StartApp));
}

TEST_CASE("edit mode reads a share, updates it under its name, and adds one under another")
{
    StoreCleanup cleanup({"CASED$", "COPY$", "LARGE$"});
    ShareValues large{"LARGE$", std::string(90, 'a'), "LargeTopic", "FirstOfMany", "PW1", "PW2",
                    Request | Execute, Advise | StartApp,
                    {{"Alpha", Request | Advise | Poke | Execute | StartApp}, {"Beta", Advise}, {"Gamma", 0}}};
    REQUIRE(storeShare(large) == NDDE_NO_ERROR);
    REQUIRE(storeShare({"CASED$", "Before", "Topic", "", "", "", 0, 0, {}}) == NDDE_NO_ERROR);
    ShareProgram program;
    REQUIRE(program.start());
    HWND shareList = program.openShareList();
    REQUIRE(shareList != NULL);

    // A share far larger than the first 113-byte buffer shows whole, with
    // its items in order and their stored permissions.
    HWND editor = program.openShare(shareList, "LARGE$");
    REQUIRE(editor != NULL);
    CHECK(ui::text(editor, IDC_APPLICATION) == large.application);
    CHECK(ui::text(editor, IDC_TOPIC) == "LargeTopic");
    CHECK(ui::text(editor, IDC_FIRST_ITEM) == "FirstOfMany");
    CHECK(ui::text(editor, IDC_PASSWORD1) == "PW1");
    CHECK(ui::text(editor, IDC_PASSWORD2) == "PW2");
    CHECK(shownPermissions(editor, 0) == (Request | Execute));
    CHECK(shownPermissions(editor, 1) == (Advise | StartApp));
    CHECK(listedItems(editor) == large.items);
    CHECK_FALSE(ui::isEnabled(editor, IDC_EDIT_BUTTON));
    CHECK_FALSE(ui::isEnabled(editor, IDC_DELETE_BUTTON));

    // Storing it again with a new last item: the items keep the list's
    // order and lose every bit above Poke.
    REQUIRE(addItem(program, editor, "Delta", Request | Poke));
    REQUIRE(program.confirm(editor));
    ShareContents stored = readStoredShare("LARGE$");
    REQUIRE(stored.result == NDDE_NO_ERROR);
    CHECK(stored.items == std::vector<ShareItem>{{"Alpha", Request | Advise | Poke}, {"Beta", Advise},
                                                  {"Gamma", 0}, {"Delta", Request | Poke}});
    CHECK(stored.application == large.application);

    // The name changed only in case: the same share is updated.
    editor = program.openShare(shareList, "CASED$");
    REQUIRE(editor != NULL);
    ui::allowLowerCase(editor, IDC_SHARE_NAME);
    ui::setText(editor, IDC_SHARE_NAME, "cased$");
    ui::setText(editor, IDC_APPLICATION, "After");
    REQUIRE(program.confirm(editor));
    CHECK(readStoredShare("CASED$").application == "After");
    CHECK(ui::listLines(shareList, IDC_SHARE_LIST) == std::vector<std::string>{"CASED$", "LARGE$"});

    // Another name: a second share, completed with its $, and the first
    // stays as it was.
    editor = program.openShare(shareList, "CASED$");
    REQUIRE(editor != NULL);
    ui::typeText(editor, IDC_SHARE_NAME, "copy");
    ui::setText(editor, IDC_APPLICATION, "Copied");
    REQUIRE(program.confirm(editor));
    CHECK(readStoredShare("CASED$").application == "After");
    CHECK(readStoredShare("COPY$").application == "Copied");
    CHECK(ui::listLines(shareList, IDC_SHARE_LIST) == std::vector<std::string>{"CASED$", "COPY$", "LARGE$"});
}

TEST_CASE("deleting a share asks first; a double-click opens the editor")
{
    StoreCleanup cleanup({"DELA$", "DELB$"});
    REQUIRE(storeShare({"DELA$", "App", "Topic", "", "", "", 0, 0, {}}) == NDDE_NO_ERROR);
    REQUIRE(storeShare({"DELB$", "AppB", "TopicB", "", "", "", 0, 0, {}}) == NDDE_NO_ERROR);
    ShareProgram program;
    REQUIRE(program.start());
    HWND shareList = program.openShareList();
    REQUIRE(shareList != NULL);
    CHECK(ui::listLines(shareList, IDC_SHARE_LIST) == std::vector<std::string>{"DELA$", "DELB$"});
    CHECK_FALSE(ui::isEnabled(shareList, IDC_EDIT_BUTTON));
    CHECK_FALSE(ui::isEnabled(shareList, IDC_DELETE_BUTTON));

    REQUIRE(ShareProgram::selectLine(shareList, IDC_SHARE_LIST, "DELA$"));
    CHECK(ui::isEnabled(shareList, IDC_EDIT_BUTTON));
    CHECK(ui::isEnabled(shareList, IDC_DELETE_BUTTON));

    // No: nothing changes.
    REQUIRE(ui::clickButton(shareList, IDC_DELETE_BUTTON));
    ui::MessageBoxView box = program.answer(IDNO);
    CHECK(box.text == "Delete share 'DELA$' ?");
    CHECK(box.caption == ShareListCaption);
    CHECK(box.owner == shareList);
    CHECK(box.icon == ui::Icon::Question);
    CHECK(box.buttons == std::vector<int>{IDYES, IDNO});
    CHECK(ui::listLines(shareList, IDC_SHARE_LIST) == std::vector<std::string>{"DELA$", "DELB$"});
    CHECK(isStored("DELA$"));
    CHECK(ui::isEnabled(shareList, IDC_DELETE_BUTTON));

    // Yes, with the default on "Edit..." (tabbed to): the line goes, the
    // buttons are disabled, and "Cancel" takes the default and the focus.
    REQUIRE(PostMessageA(shareList, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(shareList, IDC_EDIT_BUTTON), TRUE));
    REQUIRE(ui::waitUntil([&] { return ui::isDefaultButton(shareList, IDC_EDIT_BUTTON); }));
    REQUIRE(ui::clickButton(shareList, IDC_DELETE_BUTTON));
    box = program.answer(IDYES);
    CHECK(box.text == "Delete share 'DELA$' ?");
    REQUIRE(ui::waitUntil([&] { return !ui::isEnabled(shareList, IDC_DELETE_BUTTON); }));
    REQUIRE(ShareProgram::settle(shareList));
    CHECK(ui::listLines(shareList, IDC_SHARE_LIST) == std::vector<std::string>{"DELB$"});
    CHECK_FALSE(isStored("DELA$"));
    CHECK(isStored("DELB$"));
    CHECK_FALSE(ui::isEnabled(shareList, IDC_EDIT_BUTTON));
    CHECK_FALSE(ui::isEnabled(shareList, IDC_DELETE_BUTTON));
    CHECK(ui::isDefaultButton(shareList, IDCANCEL));
    CHECK_FALSE(ui::isDefaultButton(shareList, IDC_EDIT_BUTTON));
    CHECK_FALSE(ui::isDefaultButton(shareList, IDC_DELETE_BUTTON));
    CHECK(ui::focusedWindow(program.threadId()) == GetDlgItem(shareList, IDCANCEL));

    // A double-click on a name opens the editor in edit mode.
    REQUIRE(ui::doubleClickListLine(shareList, IDC_SHARE_LIST, 0));
    HWND editor = program.waitForNestedDialog(shareList, EditCaption);
    REQUIRE(editor != NULL);
    CHECK(ui::text(editor, IDC_SHARE_NAME) == "DELB$");
    CHECK(ui::text(editor, IDC_APPLICATION) == "AppB");
    CHECK(ui::text(editor, IDC_TOPIC) == "TopicB");
}

TEST_CASE("an empty store shows an empty list with Edit and Delete disabled")
{
    EmptiedStore emptied;
    REQUIRE(emptied.isReady());
    ShareProgram program;
    REQUIRE(program.start());
    HWND shareList = program.openShareList();
    REQUIRE(shareList != NULL);
    CHECK(ui::listCount(shareList, IDC_SHARE_LIST) == 0);
    CHECK(ui::listHorizontalExtent(shareList, IDC_SHARE_LIST) == 0);
    CHECK(ui::isEnabled(shareList, IDC_ADD_BUTTON));
    CHECK_FALSE(ui::isEnabled(shareList, IDC_EDIT_BUTTON));
    CHECK_FALSE(ui::isEnabled(shareList, IDC_DELETE_BUTTON));
    CHECK_FALSE(ui::hasMessageBox(program.processId()));
}

TEST_CASE("a share the store cannot read is reported and the editor never shows")
{
    StoreCleanup cleanup({"BROKEN$"});
    REQUIRE(storeBrokenRecord("BROKEN$"));
    ShareProgram program;
    REQUIRE(program.start());
    HWND shareList = program.openShareList();
    REQUIRE(shareList != NULL);
    REQUIRE(ShareProgram::selectLine(shareList, IDC_SHARE_LIST, "BROKEN$"));
    REQUIRE(ui::clickButton(shareList, IDC_EDIT_BUTTON));
    ui::MessageBoxView box = program.answer(IDOK);
    CHECK(box.text == apiErrorText(NDDE_SHARE_DATA_CORRUPTED));
    CHECK(box.owner == NULL);
    CHECK(program.waitForNestedDialog(shareList, EditCaption, 1000) == NULL);
    CHECK(IsWindowVisible(shareList));
    CHECK(ui::text(program.main, IDC_TITLE_SLOT) == ShareListCaption);
}

TEST_CASE("library errors in the share list end it after the report")
{
    SUBCASE("an error code")
    {
        ScriptedPartnerFolder partner("list-error");
        REQUIRE(partner.ready);
        ShareProgram program;
        REQUIRE(program.start(partner.directory));
        REQUIRE(ui::chooseCommand(program.main, IDM_LIST_SHARES));
        ui::MessageBoxView box = program.answer(IDOK);
        CHECK(box.text.find("NDDEAPI.DLL reports error #23.\r\ncode 23; lists 1;") == 0);
        CHECK(ui::waitForDialog(program.processId(), ShareListCaption, 1000) == NULL);
        CHECK(ui::waitUntil([&] { return ui::text(program.main, IDC_TITLE_SLOT).empty(); }));
    }
    SUBCASE("a list that never asks for more than it was offered")
    {
        ScriptedPartnerFolder partner("stalled-names");
        REQUIRE(partner.ready);
        ShareProgram program;
        REQUIRE(program.start(partner.directory));
        REQUIRE(ui::chooseCommand(program.main, IDM_LIST_SHARES));
        ui::MessageBoxView box = program.answer(IDOK);
        // Offered nothing, then the 40 bytes asked for; asked for 40 again,
        // the list stops there.
        CHECK(box.text.find("NDDEAPI.DLL reports error #2.\r\ncode 2; lists 2;") == 0);
        CHECK(ui::waitForDialog(program.processId(), ShareListCaption, 1000) == NULL);
    }
    SUBCASE("a list that grows while it is read")
    {
        ScriptedPartnerFolder partner("growing-names");
        REQUIRE(partner.ready);
        ShareProgram program;
        REQUIRE(program.start(partner.directory));
        HWND shareList = program.openShareList();
        REQUIRE(shareList != NULL);
        CHECK(ui::listLines(shareList, IDC_SHARE_LIST) == std::vector<std::string>{"GROWN$"});
        CHECK_FALSE(ui::hasMessageBox(program.processId()));
    }
}

TEST_CASE("a stored password longer than 15 bytes shows its first 15")
{
    ScriptedPartnerFolder partner("long-password");
    REQUIRE(partner.ready);
    ShareProgram program;
    REQUIRE(program.start(partner.directory));
    HWND shareList = program.openShareList();
    REQUIRE(shareList != NULL);
    HWND editor = program.openShare(shareList, "LONGPASS$");
    REQUIRE(editor != NULL);
    CHECK(ui::text(editor, IDC_PASSWORD1) == "ABCDEFGHIJKLMNO");
    CHECK(ui::text(editor, IDC_PASSWORD2) == "0123456789ABCDE");
    CHECK(ui::text(editor, IDC_APPLICATION) == "LONGAPP");
    CHECK(ui::text(editor, IDC_TOPIC) == "LONGTOPIC");
    CHECK(ui::text(editor, IDC_FIRST_ITEM) == "FIRST");
    CHECK(shownPermissions(editor, 0) == (Request | Poke));
    CHECK(shownPermissions(editor, 1) == (Advise | StartApp));
    CHECK(listedItems(editor) == std::vector<ShareItem>{{"ONLYITEM", Advise}});

    // Storing it fails behind this partner; its report tells the sizes the
    // record was read with: 113 bytes first, then one more than the 192 the
    // partner asked for (header 112, texts 8 + 10 + 6, password slots 21 and
    // 17, one item 8 + 9, closing byte 1). The passwords stored are each
    // read back from a 15-byte field.
    REQUIRE(ui::clickButton(editor, IDOK));
    ui::MessageBoxView box = program.answer(IDOK);
    CHECK(box.text.find("reads 113 193; stored ABCDEFGHIJKLMN/14 0123456789ABCD/14;") != std::string::npos);
    CHECK(IsWindowVisible(editor));
    CHECK(ui::text(editor, IDC_PASSWORD1) == "ABCDEFGHIJKLMNO");
}

TEST_CASE("the item editor appends, inserts, moves, re-permissions and refuses")
{
    StoreCleanup cleanup({"ITEMS$"});
    ShareProgram program;
    REQUIRE(program.start());
    HWND shareList = program.openShareList();
    REQUIRE(shareList != NULL);
    HWND editor = program.open(shareList, IDC_ADD_BUTTON, AddCaption);
    REQUIRE(editor != NULL);
    fillShareEditor(editor, {"items", "App", "Topic", "", "", "", 0, 0, {}});

    // A new item editor offers only "(end of list)", and appends there.
    HWND itemEditor = program.open(editor, IDC_ADD_BUTTON, AddCaption);
    REQUIRE(itemEditor != NULL);
    CHECK(ui::comboLines(itemEditor, IDC_INSERT_BEFORE) == std::vector<std::string>{"(end of list)"});
    CHECK(ui::comboSelection(itemEditor, IDC_INSERT_BEFORE) == 0);
    ui::setText(itemEditor, IDC_ITEM_NAME, "A");
    ui::setChecked(itemEditor, IDC_ITEM_REQUEST, true);
    REQUIRE(program.confirm(itemEditor));
    REQUIRE(addItem(program, editor, "B", Advise));
    REQUIRE(addItem(program, editor, "C", Poke));
    CHECK(listedItems(editor) == std::vector<ShareItem>{{"A", Request}, {"B", Advise}, {"C", Poke}});
    CHECK(ui::listHorizontalExtent(editor, IDC_ADDITIONAL_ITEMS) > 0);

    // A name differing only in case is a duplicate.
    itemEditor = program.open(editor, IDC_ADD_BUTTON, AddCaption);
    REQUIRE(itemEditor != NULL);
    CHECK(ui::comboLines(itemEditor, IDC_INSERT_BEFORE) ==
          std::vector<std::string>{"A", "B", "C", "(end of list)"});
    CHECK(ui::comboSelection(itemEditor, IDC_INSERT_BEFORE) == 3);
    ui::setText(itemEditor, IDC_ITEM_NAME, "b");
    REQUIRE(ui::clickButton(itemEditor, IDOK));
    ui::MessageBoxView box = program.answer(IDOK);
    CHECK(box.text == "Item 'b' already exists !");
    CHECK(box.owner == itemEditor);
    CHECK(box.caption == SystemCaption);
    CHECK(box.icon == ui::Icon::Exclamation);
    CHECK(IsWindowVisible(itemEditor));
    REQUIRE(program.close(itemEditor, IDCANCEL));

    // Choosing an item inserts before it.
    REQUIRE(addItem(program, editor, "D", Request | Advise, 1));
    CHECK(ui::listLines(editor, IDC_ADDITIONAL_ITEMS) == std::vector<std::string>{"A", "D", "B", "C"});

    // Deleting an item asks, captioned with the share editor's caption.
    REQUIRE(ShareProgram::selectLine(editor, IDC_ADDITIONAL_ITEMS, 1));
    REQUIRE(ui::clickButton(editor, IDC_DELETE_BUTTON));
    box = program.answer(IDNO);
    CHECK(box.text == "Delete item 'D' ?");
    CHECK(box.caption == AddCaption);
    CHECK(box.owner == editor);
    CHECK(box.icon == ui::Icon::Question);
    CHECK(ui::listLines(editor, IDC_ADDITIONAL_ITEMS) == std::vector<std::string>{"A", "D", "B", "C"});
    REQUIRE(ui::clickButton(editor, IDC_DELETE_BUTTON));
    box = program.answer(IDYES);
    REQUIRE(ui::waitUntil([&] { return !ui::isEnabled(editor, IDC_DELETE_BUTTON); }));
    REQUIRE(ShareProgram::settle(editor));
    CHECK(ui::listLines(editor, IDC_ADDITIONAL_ITEMS) == std::vector<std::string>{"A", "B", "C"});
    CHECK_FALSE(ui::isEnabled(editor, IDC_EDIT_BUTTON));
    CHECK_FALSE(ui::isEnabled(editor, IDC_DELETE_BUTTON));

    // Editing A of A, B, C: preset to stay before B; moved before C.
    REQUIRE(ShareProgram::selectLine(editor, IDC_ADDITIONAL_ITEMS, 0));
    itemEditor = program.open(editor, IDC_EDIT_BUTTON, EditCaption);
    REQUIRE(itemEditor != NULL);
    CHECK(ui::text(itemEditor, IDC_ITEM_NAME) == "A");
    CHECK(ui::comboSelection(itemEditor, IDC_INSERT_BEFORE) == 1);
    CHECK(ui::isChecked(itemEditor, IDC_ITEM_REQUEST));
    CHECK_FALSE(ui::isChecked(itemEditor, IDC_ITEM_ADVISE));
    REQUIRE(ui::selectComboLine(itemEditor, IDC_INSERT_BEFORE, 2));
    REQUIRE(program.confirm(itemEditor));
    CHECK(listedItems(editor) == std::vector<ShareItem>{{"B", Advise}, {"A", Request}, {"C", Poke}});

    // A, now between B and C: before itself is refused, before C (where it
    // stands) changes only its permissions.
    REQUIRE(ShareProgram::selectLine(editor, IDC_ADDITIONAL_ITEMS, 1));
    itemEditor = program.open(editor, IDC_EDIT_BUTTON, EditCaption);
    REQUIRE(itemEditor != NULL);
    CHECK(ui::comboSelection(itemEditor, IDC_INSERT_BEFORE) == 2);
    REQUIRE(ui::selectComboLine(itemEditor, IDC_INSERT_BEFORE, 1));
    REQUIRE(ui::clickButton(itemEditor, IDOK));
    box = program.answer(IDOK);
    CHECK(box.text == "Cannot insert item before itself !");
    CHECK(box.owner == itemEditor);
    CHECK(box.caption == SystemCaption);
    CHECK(box.icon == ui::Icon::Exclamation);
    CHECK(IsWindowVisible(itemEditor));
    CHECK(ui::listLines(editor, IDC_ADDITIONAL_ITEMS) == std::vector<std::string>{"B", "A", "C"});
    REQUIRE(ui::selectComboLine(itemEditor, IDC_INSERT_BEFORE, 2));
    ui::setChecked(itemEditor, IDC_ITEM_REQUEST, false);
    ui::setChecked(itemEditor, IDC_ITEM_POKE, true);
    REQUIRE(program.confirm(itemEditor));
    CHECK(listedItems(editor) == std::vector<ShareItem>{{"B", Advise}, {"A", Poke}, {"C", Poke}});
    CHECK(ui::listSelection(editor, IDC_ADDITIONAL_ITEMS) == 1);
    CHECK(ui::isEnabled(editor, IDC_EDIT_BUTTON));

    // The last item, left at "(end of list)": only its permissions change.
    REQUIRE(ui::doubleClickListLine(editor, IDC_ADDITIONAL_ITEMS, 2));
    itemEditor = program.waitForNestedDialog(editor, EditCaption);
    REQUIRE(itemEditor != NULL);
    CHECK(ui::text(itemEditor, IDC_ITEM_NAME) == "C");
    CHECK(ui::comboSelection(itemEditor, IDC_INSERT_BEFORE) == 3);
    ui::setChecked(itemEditor, IDC_ITEM_ADVISE, true);
    REQUIRE(program.confirm(itemEditor));
    CHECK(listedItems(editor) == std::vector<ShareItem>{{"B", Advise}, {"A", Poke}, {"C", Advise | Poke}});

    // Renaming B to b only in case finds B as a duplicate.
    REQUIRE(ShareProgram::selectLine(editor, IDC_ADDITIONAL_ITEMS, 0));
    itemEditor = program.open(editor, IDC_EDIT_BUTTON, EditCaption);
    REQUIRE(itemEditor != NULL);
    ui::setText(itemEditor, IDC_ITEM_NAME, "b");
    REQUIRE(ui::clickButton(itemEditor, IDOK));
    box = program.answer(IDOK);
    CHECK(box.text == "Item 'b' already exists !");
    REQUIRE(program.close(itemEditor, IDCANCEL));
    CHECK(ui::listLines(editor, IDC_ADDITIONAL_ITEMS) == std::vector<std::string>{"B", "A", "C"});

    // An item named "(end of list)" is found by the combo's text: the last
    // entry then places a new item before it, not at the end.
    REQUIRE(addItem(program, editor, "(end of list)", Request));
    REQUIRE(addItem(program, editor, "Z", Request | Advise | Poke, 4));
    CHECK(ui::listLines(editor, IDC_ADDITIONAL_ITEMS) ==
          std::vector<std::string>{"B", "A", "C", "Z", "(end of list)"});

    // The store receives the items in the list's order.
    REQUIRE(program.confirm(editor));
    ShareContents stored = readStoredShare("ITEMS$");
    REQUIRE(stored.result == NDDE_NO_ERROR);
    CHECK(stored.items == std::vector<ShareItem>{{"B", Advise}, {"A", Poke}, {"C", Advise | Poke},
                                                  {"Z", Request | Advise | Poke}, {"(end of list)", Request}});
}
