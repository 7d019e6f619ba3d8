// Driver tests of Marrowby's share list, share editor and item editor: the
// real program, the real library and the real share store, worked from
// outside with window messages. Each test checks what the dialogs show and
// what the store then holds, read back through Tessaflat.dll.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "share_store.h"
#include "shares_driver.h"
#include "status/resource.h"   // quorvstat's control ids
#include "tessaflat.h"

using namespace shares;

namespace {

int indexOf(const std::vector<std::string> &lines, const std::string &line)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == line)
            return (int)i;
    return -1;
}

// The size in pixels of a length in twips on this screen.
SIZE twipsToPixels(int width, int height)
{
    HDC screen = GetDC(NULL);
    SIZE size = {MulDiv(width, GetDeviceCaps(screen, LOGPIXELSX), 1440),
                 MulDiv(height, GetDeviceCaps(screen, LOGPIXELSY), 1440)};
    ReleaseDC(NULL, screen);
    return size;
}

bool hasClientSize(HWND dialog, int widthTwips, int heightTwips)
{
    RECT client = ui::clientRect(dialog);
    SIZE expected = twipsToPixels(widthTwips, heightTwips);
    return client.right == expected.cx && client.bottom == expected.cy;
}

// Tells the dialog that one of its text boxes took the focus, with the
// caret at the start of the box, and reads the selection afterwards.
bool selectsWholeTextOnFocus(HWND dialog, int control)
{
    HWND box = GetDlgItem(dialog, id(control));
    DWORD_PTR result = 0;
    SendMessageTimeoutA(box, EM_SETSEL, 0, 0, SMTO_NORMAL, 5000, &result);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id(control), EN_SETFOCUS), (LPARAM)box);
    int length = (int)ui::text(box).size();
    return length > 0 && ui::waitUntil([&] {
        DWORD start = 0, end = 0;
        SendMessageTimeoutA(box, EM_GETSEL, (WPARAM)&start, (LPARAM)&end, SMTO_NORMAL, 5000, &result);
        return start == 0 && end == (DWORD)length;
    }, 5000);
}

// ---- quorvstat, the other front end on the same store ---------------------------------

class Quorvstat {
public:
    bool start()
    {
        if (!program_.start(ui::pathBeside("quorvstat.exe")))
            return false;
        mainWindow = ui::waitForWindow(program_.processId(), "Quorvane", NULL);
        return mainWindow != NULL;
    }
    HWND openShareList()
    {
        if (!ui::chooseCommand(mainWindow, IDM_LIST_SHARES))
            return NULL;
        shareList = ui::waitForDialog(program_.processId(), ShareListCaption);
        return shareList;
    }
    HWND open(HWND dialog, int button, const char *caption)
    {
        if (!press(dialog, button))
            return NULL;
        return waitForOwnedDialog(program_.processId(), dialog, caption);
    }
    // Opens the editor of a share of the open share list.
    HWND openShare(const std::string &name)
    {
        int index = indexOf(ui::listLines(shareList, IDC_SHARE_LIST), name);
        if (index < 0 || !ui::selectListLine(shareList, IDC_SHARE_LIST, index))
            return NULL;
        return open(shareList, IDC_EDIT_BUTTON, EditCaption);
    }
    bool confirm(HWND dialog, int button)
    {
        return press(dialog, button) && ui::waitForWindowToClose(dialog);
    }
    HWND mainWindow = NULL, shareList = NULL;

private:
    ui::Program program_;
};

// Starts the program, opens its share list and from it the editor of the
// share `name`; null when any step fails.
HWND openShareEditor(Marrowby &program, const std::string &name, HWND *shareList)
{
    if (!program.start())
        return NULL;
    *shareList = program.openShareList();
    if (*shareList == NULL || !selectLine(*shareList, dlgListShares::lbxShareList, name))
        return NULL;
    return program.open(*shareList, id(dlgListShares::btnEdit), EditCaption);
}

ShareValues shownByMarrowby(HWND editor)
{
    using namespace dlgEditShare;
    return {ui::text(editor, id(txtShareName)), ui::text(editor, id(txtAppName)), ui::text(editor, id(txtTopic)),
            ui::text(editor, id(txtFirstItem)), ui::text(editor, id(txtPassword1)),
            ui::text(editor, id(txtPassword2)), tickedPermissions(editor, 1), tickedPermissions(editor, 2),
            listedItems(editor, lbxAddItems)};
}

ShareValues shownByQuorvstat(HWND editor)
{
    ShareValues shown = {ui::text(editor, IDC_SHARE_NAME), ui::text(editor, IDC_APPLICATION),
                        ui::text(editor, IDC_TOPIC), ui::text(editor, IDC_FIRST_ITEM),
                        ui::text(editor, IDC_PASSWORD1), ui::text(editor, IDC_PASSWORD2), 0, 0, {}};
    for (int bit = 0; bit < 5; ++bit) {
        if (ui::isChecked(editor, IDC_ACCESS1_REQUEST + 2 * bit))
            shown.permissions1 |= 1u << bit;
        if (ui::isChecked(editor, IDC_ACCESS2_REQUEST + 2 * bit))
            shown.permissions2 |= 1u << bit;
    }
    std::vector<std::string> lines = ui::listLines(editor, IDC_ADDITIONAL_ITEMS);
    for (size_t i = 0; i < lines.size(); ++i)
        shown.items.push_back({lines[i], (DWORD)ui::listData(editor, IDC_ADDITIONAL_ITEMS, (int)i)});
    return shown;
}

} // namespace

// ---- Adding shares ---------------------------------------------------------------------

TEST_CASE("a new share is typed in capitals, completed with $ and listed in its sorted place")
{
    StoreCleanup cleanup({"ABB$", "ABC$", "ABD$", "A=B$"});
    REQUIRE(storeShare({"ABB$", "App", "Topic", "", "", "", 0, 0, {}}) == NDDE_NO_ERROR);
    REQUIRE(storeShare({"ABD$", "App", "Topic", "", "", "", 0, 0, {}}) == NDDE_NO_ERROR);
    Marrowby program;
    REQUIRE(program.start());
    HWND shareList = program.openShareList();
    REQUIRE(shareList != NULL);
    CHECK(hasClientSize(shareList, 4155, 2535));
    CHECK(program.commandTitle() == ShareListCaption);
    std::vector<std::string> lines = ui::listLines(shareList, id(dlgListShares::lbxShareList));
    CHECK(indexOf(lines, "ABD$") == indexOf(lines, "ABB$") + 1);
    CHECK(ui::isDefaultButton(shareList, id(dlgListShares::btnAdd)));
    CHECK_FALSE(ui::isEnabled(shareList, id(dlgListShares::btnEdit)));
    CHECK_FALSE(ui::isEnabled(shareList, id(dlgListShares::btnDelete)));

    HWND editor = program.open(shareList, id(dlgListShares::btnAdd), AddCaption);
    REQUIRE(editor != NULL);
    CHECK(hasClientSize(editor, 5505, 5835));
    CHECK(program.commandTitle() == AddCaption);
    // Names and passwords are typed in capitals; the other texts as typed.
    CHECK((ui::style(editor, id(dlgEditShare::txtShareName)) & ES_UPPERCASE) != 0);
    CHECK((ui::style(editor, id(dlgEditShare::txtPassword1)) & ES_UPPERCASE) != 0);
    CHECK((ui::style(editor, id(dlgEditShare::txtPassword2)) & ES_UPPERCASE) != 0);
    CHECK((ui::style(editor, id(dlgEditShare::txtAppName)) & ES_UPPERCASE) == 0);
    CHECK_FALSE(ui::isEnabled(editor, id(dlgEditShare::btnEdit)));
    CHECK_FALSE(ui::isEnabled(editor, id(dlgEditShare::btnDelete)));

    typeText(editor, dlgEditShare::txtShareName, "abc");
    CHECK(ui::text(editor, id(dlgEditShare::txtShareName)) == "ABC");
    ui::setText(editor, id(dlgEditShare::txtAppName), "Server");
    ui::setText(editor, id(dlgEditShare::txtTopic), "Topic");
    ui::setText(editor, id(dlgEditShare::txtFirstItem), "First");
    // Entering a text box selects all of its text.
    CHECK(selectsWholeTextOnFocus(editor, dlgEditShare::txtShareName));
    CHECK(selectsWholeTextOnFocus(editor, dlgEditShare::txtAppName));
    CHECK(selectsWholeTextOnFocus(editor, dlgEditShare::txtFirstItem));

    REQUIRE(program.confirm(editor, id(dlgEditShare::btnOK)));
    lines = ui::listLines(shareList, id(dlgListShares::lbxShareList));
    CHECK(indexOf(lines, "ABC$") == indexOf(lines, "ABB$") + 1);
    CHECK(indexOf(lines, "ABD$") == indexOf(lines, "ABC$") + 1);
    CHECK(program.commandTitle() == ShareListCaption);
    ShareContents stored = readStoredShare("ABC$");
    REQUIRE(stored.result == NDDE_NO_ERROR);
    CHECK(stored.application == "Server");
    CHECK(stored.topic == "Topic");
    CHECK(stored.firstItem == "First");
    CHECK(stored.password1.empty());
    CHECK(stored.password2.empty());
    CHECK(stored.items.empty());

    // A second ABC$: the store refuses it, the editor stays open as filled.
    editor = program.open(shareList, id(dlgListShares::btnAdd), AddCaption);
    REQUIRE(editor != NULL);
    typeText(editor, dlgEditShare::txtShareName, "abc");
    ui::setText(editor, id(dlgEditShare::txtAppName), "Other");
    ui::setText(editor, id(dlgEditShare::txtTopic), "Topic");
    REQUIRE(press(editor, id(dlgEditShare::btnOK)));
    ui::MessageBoxView box = program.answer(IDOK);
    CHECK(box.text == apiErrorText(NDDE_SHARE_ALREADY_EXIST));
    CHECK(box.caption == "Error");
    CHECK(box.icon == ui::Icon::Exclamation);
    CHECK(IsWindowVisible(editor));
    CHECK(ui::text(editor, id(dlgEditShare::txtAppName)) == "Other");
    CHECK(readStoredShare("ABC$").application == "Server");

    // A name the library's check refuses is reported as it was completed.
    typeText(editor, dlgEditShare::txtShareName, "a=b");
    REQUIRE(press(editor, id(dlgEditShare::btnOK)));
    box = program.answer(IDOK);
    CHECK(box.text == "Share name 'A=B$ ' is invalid !");
    CHECK(ui::text(editor, id(dlgEditShare::txtShareName)) == "A=B");
    CHECK_FALSE(isStored("A=B$"));

    // Cancel sends nothing.
    REQUIRE(program.confirm(editor, id(dlgEditShare::btnCancel)));
    CHECK(ui::listLines(shareList, id(dlgListShares::lbxShareList)) == lines);
}

TEST_CASE("passwords go in capitals with their typed lengths, every permission box is stored and read back")
{
    StoreCleanup cleanup({"PERMA$", "PERMB$"});
    Marrowby program;
    REQUIRE(program.start());
    HWND shareList = program.openShareList();
    REQUIRE(shareList != NULL);

    // Password #1 kept in lower case in its box: the program itself sends
    // it in capitals.
    HWND editor = program.open(shareList, id(dlgListShares::btnAdd), AddCaption);
    REQUIRE(editor != NULL);
    typeText(editor, dlgEditShare::txtShareName, "perma");
    ui::setText(editor, id(dlgEditShare::txtTopic), "Topic");
    allowLowerCase(editor, dlgEditShare::txtPassword1);
    typeText(editor, dlgEditShare::txtPassword1, "secret");
    typeText(editor, dlgEditShare::txtPassword2, "pw");
    CHECK(ui::text(editor, id(dlgEditShare::txtPassword1)) == "secret");
    CHECK(ui::text(editor, id(dlgEditShare::txtPassword2)) == "PW");
    CHECK(selectsWholeTextOnFocus(editor, dlgEditShare::txtPassword1));
    tickPermissions(editor, 1, Request | Poke | StartApp);
    tickPermissions(editor, 2, Advise | Execute);
    REQUIRE(program.confirm(editor, id(dlgEditShare::btnOK)));
    ShareContents stored = readStoredShare("PERMA$");
    REQUIRE(stored.result == NDDE_NO_ERROR);
    CHECK(stored.password1 == "SECRET");
    CHECK(stored.password2 == "PW");
    CHECK(stored.permissions1 == (Request | Poke | StartApp));
    CHECK(stored.permissions2 == (Advise | Execute));

    // The other boxes of each entry; no passwords.
    editor = program.open(shareList, id(dlgListShares::btnAdd), AddCaption);
    REQUIRE(editor != NULL);
    typeText(editor, dlgEditShare::txtShareName, "permb");
    ui::setText(editor, id(dlgEditShare::txtTopic), "Topic");
    tickPermissions(editor, 1, Advise | Execute);
    tickPermissions(editor, 2, Request | Poke | StartApp);
    REQUIRE(program.confirm(editor, id(dlgEditShare::btnOK)));
    stored = readStoredShare("PERMB$");
    REQUIRE(stored.result == NDDE_NO_ERROR);
    CHECK(stored.password1.empty());
    CHECK(stored.password2.empty());
    CHECK(stored.permissions1 == (Advise | Execute));
    CHECK(stored.permissions2 == (Request | Poke | StartApp));

    // Edit mode shows what was stored.
    REQUIRE(selectLine(shareList, dlgListShares::lbxShareList, "PERMA$"));
    editor = program.open(shareList, id(dlgListShares::btnEdit), EditCaption);
    REQUIRE(editor != NULL);
    CHECK(program.commandTitle() == EditCaption);
    CHECK(ui::text(editor, id(dlgEditShare::txtShareName)) == "PERMA$");
    CHECK(ui::text(editor, id(dlgEditShare::txtPassword1)) == "SECRET");
    CHECK(ui::text(editor, id(dlgEditShare::txtPassword2)) == "PW");
    CHECK(tickedPermissions(editor, 1) == (Request | Poke | StartApp));
    CHECK(tickedPermissions(editor, 2) == (Advise | Execute));
    CHECK((ui::style(editor, id(dlgEditShare::txtPassword1)) & ES_UPPERCASE) != 0);
}

// ---- Editing and deleting shares ------------------------------------------------------------

TEST_CASE("editing keeps the name and updates the share; another name adds a second share")
{
    StoreCleanup cleanup({"EDITED$", "COPY$"});
    // Item bits beyond Request, Advise and Poke, as another program may
    // have stored them.
    REQUIRE(storeShare({"EDITED$", "Before", "Topic", "First", "", "", Request, Advise,
                        {{"ONE", 0xFF}, {"TWO", Request}, {"THREE", 0x1C}}}) == NDDE_NO_ERROR);
    Marrowby program;
    REQUIRE(program.start());
    HWND shareList = program.openShareList();
    REQUIRE(shareList != NULL);
    REQUIRE(selectLine(shareList, dlgListShares::lbxShareList, "EDITED$"));
    // The buttons follow the selection once the list's notification is handled.
    CHECK(ui::waitUntil([&] { return ui::isEnabled(shareList, id(dlgListShares::btnEdit)); }));
    CHECK(ui::waitUntil([&] { return ui::isEnabled(shareList, id(dlgListShares::btnDelete)); }));

    HWND editor = program.open(shareList, id(dlgListShares::btnEdit), EditCaption);
    REQUIRE(editor != NULL);
    CHECK(ui::owner(editor) == shareList);
    CHECK(ui::text(editor, id(dlgEditShare::txtAppName)) == "Before");
    CHECK(ui::text(editor, id(dlgEditShare::txtFirstItem)) == "First");
    CHECK(listedItems(editor, dlgEditShare::lbxAddItems) ==
          std::vector<ShareItem>{{"ONE", 0xFF}, {"TWO", Request}, {"THREE", 0x1C}});
    CHECK(ui::listSelection(editor, id(dlgEditShare::lbxAddItems)) == -1);
    CHECK_FALSE(ui::isEnabled(editor, id(dlgEditShare::btnEdit)));
    CHECK(ui::listHorizontalExtent(editor, id(dlgEditShare::lbxAddItems)) > 0);

    // Same name: the share is updated, its items in their order with only
    // the three item bits.
    ui::setText(editor, id(dlgEditShare::txtAppName), "After");
    REQUIRE(program.confirm(editor, id(dlgEditShare::btnOK)));
    ShareContents stored = readStoredShare("EDITED$");
    REQUIRE(stored.result == NDDE_NO_ERROR);
    CHECK(stored.application == "After");
    CHECK(stored.firstItem == "First");
    CHECK(stored.permissions1 == Request);
    CHECK(stored.permissions2 == Advise);
    CHECK(stored.items == std::vector<ShareItem>{{"ONE", 0x07}, {"TWO", Request}, {"THREE", Poke}});
    std::vector<std::string> lines = ui::listLines(shareList, id(dlgListShares::lbxShareList));
    CHECK(indexOf(lines, "COPY$") == -1);

    // Another name: a second share, completed with $; the first stays.
    editor = program.open(shareList, id(dlgListShares::btnEdit), EditCaption);
    REQUIRE(editor != NULL);
    typeText(editor, dlgEditShare::txtShareName, "copy");
    ui::setText(editor, id(dlgEditShare::txtAppName), "Copied");
    REQUIRE(program.confirm(editor, id(dlgEditShare::btnOK)));
    stored = readStoredShare("COPY$");
    REQUIRE(stored.result == NDDE_NO_ERROR);
    CHECK(stored.application == "Copied");
    CHECK(stored.items == std::vector<ShareItem>{{"ONE", 0x07}, {"TWO", Request}, {"THREE", Poke}});
    CHECK(readStoredShare("EDITED$").application == "After");
    lines = ui::listLines(shareList, id(dlgListShares::lbxShareList));
    CHECK(indexOf(lines, "COPY$") >= 0);
    CHECK(indexOf(lines, "EDITED$") >= 0);
}

TEST_CASE("delete asks, removes the line and disables Edit and Delete; double-clicks open the editors in edit mode")
{
    StoreCleanup cleanup({"DELA$", "DELB$"});
    REQUIRE(storeShare({"DELA$", "App", "Topic", "", "", "", 0, 0, {}}) == NDDE_NO_ERROR);
    REQUIRE(storeShare({"DELB$", "AppB", "TopicB", "", "", "", 0, 0, {{"ITEM", Advise}}}) == NDDE_NO_ERROR);
    Marrowby program;
    REQUIRE(program.start());
    HWND shareList = program.openShareList();
    REQUIRE(shareList != NULL);
    REQUIRE(selectLine(shareList, dlgListShares::lbxShareList, "DELA$"));

    REQUIRE(press(shareList, id(dlgListShares::btnDelete)));
    ui::MessageBoxView box = program.answer(IDNO);
    CHECK(box.text == "Delete share 'DELA$' ?");
    CHECK(box.caption == ShareListCaption);
    CHECK(box.icon == ui::Icon::Question);
    CHECK(box.buttons == std::vector<int>{IDYES, IDNO});
    CHECK(isStored("DELA$"));
    CHECK(ui::waitUntil([&] { return ui::isEnabled(shareList, id(dlgListShares::btnDelete)); }));

    int count = ui::listCount(shareList, id(dlgListShares::lbxShareList));
    REQUIRE(press(shareList, id(dlgListShares::btnDelete)));
    box = program.answer(IDYES);
    CHECK(box.text == "Delete share 'DELA$' ?");
    REQUIRE(ui::waitUntil([&] { return ui::listCount(shareList, id(dlgListShares::lbxShareList)) == count - 1; }));
    std::vector<std::string> lines = ui::listLines(shareList, id(dlgListShares::lbxShareList));
    CHECK(indexOf(lines, "DELA$") == -1);
    CHECK_FALSE(isStored("DELA$"));
    CHECK(isStored("DELB$"));
    CHECK_FALSE(ui::isEnabled(shareList, id(dlgListShares::btnEdit)));
    CHECK_FALSE(ui::isEnabled(shareList, id(dlgListShares::btnDelete)));

    // A double-click on a share opens its editor in edit mode ...
    REQUIRE(ui::doubleClickListLine(shareList, id(dlgListShares::lbxShareList), indexOf(lines, "DELB$")));
    HWND editor = program.waitForOwned(shareList, EditCaption);
    REQUIRE(editor != NULL);
    CHECK(ui::text(editor, id(dlgEditShare::txtShareName)) == "DELB$");
    CHECK(ui::text(editor, id(dlgEditShare::txtAppName)) == "AppB");
    CHECK(ui::text(editor, id(dlgEditShare::txtTopic)) == "TopicB");

    // ... and one on an item the item editor in edit mode.
    REQUIRE(ui::doubleClickListLine(editor, id(dlgEditShare::lbxAddItems), 0));
    HWND itemEditor = program.waitForOwned(editor, EditCaption);
    REQUIRE(itemEditor != NULL);
    CHECK(hasClientSize(itemEditor, 4020, 3210));
    CHECK(ui::text(itemEditor, id(dlgEditItem::txtItemName)) == "ITEM");
    CHECK(ui::comboLines(itemEditor, id(dlgEditItem::cbxNextItem)) ==
          std::vector<std::string>{"ITEM", "(end of list)"});
    CHECK(ui::comboSelection(itemEditor, id(dlgEditItem::cbxNextItem)) == 1);
    CHECK_FALSE(ui::isChecked(itemEditor, id(dlgEditItem::chkRequest)));
    CHECK(ui::isChecked(itemEditor, id(dlgEditItem::chkAdvise)));
    CHECK_FALSE(ui::isChecked(itemEditor, id(dlgEditItem::chkPoke)));
    CHECK(selectsWholeTextOnFocus(itemEditor, dlgEditItem::txtItemName));
    REQUIRE(program.confirm(itemEditor, id(dlgEditItem::btnCancel)));
    CHECK(program.commandTitle() == EditCaption);

    // Deleting the item asks under the editor's caption; nothing is stored
    // before OK.
    REQUIRE(press(editor, id(dlgEditShare::btnDelete)));
    box = program.answer(IDYES);
    CHECK(box.text == "Delete item 'ITEM' ?");
    CHECK(box.caption == EditCaption);
    REQUIRE(ui::waitUntil([&] { return ui::listCount(editor, id(dlgEditShare::lbxAddItems)) == 0; }));
    CHECK_FALSE(ui::isEnabled(editor, id(dlgEditShare::btnEdit)));
    CHECK_FALSE(ui::isEnabled(editor, id(dlgEditShare::btnDelete)));
    CHECK(readStoredShare("DELB$").items.size() == 1);
    REQUIRE(program.confirm(editor, id(dlgEditShare::btnOK)));
    CHECK(readStoredShare("DELB$").items.empty());
}

TEST_CASE("a share the store cannot read is reported and its editor never shows")
{
    StoreCleanup cleanup({"BROKEN$"});
    REQUIRE(storeBrokenRecord("BROKEN$"));
    Marrowby program;
    REQUIRE(program.start());
    HWND shareList = program.openShareList();
    REQUIRE(shareList != NULL);
    REQUIRE(selectLine(shareList, dlgListShares::lbxShareList, "BROKEN$"));
    REQUIRE(press(shareList, id(dlgListShares::btnEdit)));
    ui::MessageBoxView box = program.answer(IDOK);
    CHECK(box.text == apiErrorText(NDDE_SHARE_DATA_CORRUPTED));
    CHECK(program.waitForOwned(shareList, EditCaption, 1000) == NULL);
    CHECK(IsWindowVisible(shareList));
    CHECK(ui::waitUntil([&] { return program.commandTitle() == ShareListCaption; }));
}

TEST_CASE("a share larger than the first buffer is read whole on the second attempt")
{
    // 112 + application 101 + topic 83 + two empty password slots + empty
    // first item + closing byte: 300 bytes.
    const std::string application(100, 'a'), topic(82, 't');
    StoreCleanup cleanup({"LARGE$"});
    REQUIRE(storeShare({"LARGE$", application, topic, "", "", "", 0, 0, {}}) == NDDE_NO_ERROR);
    DWORD total = 0;
    WORD itemCount = 0;
    BYTE small[113];
    REQUIRE(NDdeShareGetInfo(NULL, (LPSTR) "LARGE$", 2, small, sizeof small, &total, &itemCount) ==
            NDDE_BUF_TOO_SMALL);
    REQUIRE(total == 300);

    Marrowby program;
    HWND shareList = NULL;
    HWND editor = openShareEditor(program, "LARGE$", &shareList);
    REQUIRE(editor != NULL);
    CHECK(ui::text(editor, id(dlgEditShare::txtShareName)) == "LARGE$");
    CHECK(ui::text(editor, id(dlgEditShare::txtAppName)) == application);
    CHECK(ui::text(editor, id(dlgEditShare::txtTopic)) == topic);
    CHECK_FALSE(ui::hasMessageBox(program.processId()));
}

TEST_CASE("a stored password longer than 15 characters shows its first 15")
{
    // The status program's scripted partner lists one share, LONGPASS$,
    // with a 20-character password #1; storing it fails with a report of
    // the sizes it was read with.
    SetEnvironmentVariableA("SHARE_SCRIPT", "long-password");
    PartnerFolder folder("marrowby-long-password", ui::pathBeside("share-script\\Tessaseg.dll"));
    REQUIRE(folder.ready);
    Marrowby program;
    REQUIRE(program.start(folder.directory));
    SetEnvironmentVariableA("SHARE_SCRIPT", NULL);
    HWND shareList = program.openShareList();
    REQUIRE(shareList != NULL);
    REQUIRE(selectLine(shareList, dlgListShares::lbxShareList, "LONGPASS$"));
    HWND editor = program.open(shareList, id(dlgListShares::btnEdit), EditCaption);
    REQUIRE(editor != NULL);
    CHECK(ui::text(editor, id(dlgEditShare::txtPassword1)) == "ABCDEFGHIJKLMNO");
    CHECK(ui::text(editor, id(dlgEditShare::txtPassword2)) == "0123456789ABCDE");
    CHECK(ui::text(editor, id(dlgEditShare::txtAppName)) == "LONGAPP");
    CHECK(tickedPermissions(editor, 1) == (Request | Poke));
    CHECK(tickedPermissions(editor, 2) == (Advise | StartApp));
    CHECK(listedItems(editor, dlgEditShare::lbxAddItems) == std::vector<ShareItem>{{"ONLYITEM", Advise}});

    // Read with 113 bytes first, then with one more than the 192 the
    // record needs; the 15 characters shown are what is stored back.
    REQUIRE(press(editor, id(dlgEditShare::btnOK)));
    ui::MessageBoxView box = program.answer(IDOK);
    CHECK(box.text.find("reads 113 193; stored ABCDEFGHIJKLMNO/15 0123456789ABCDE/15;") != std::string::npos);
    CHECK(IsWindowVisible(editor));
}

// ---- The item editor -------------------------------------------------------------------------

TEST_CASE("the item editor appends, inserts, moves, re-permissions and refuses")
{
    using namespace dlgEditItem;
    StoreCleanup cleanup({"ITEMS$"});
    Marrowby program;
    REQUIRE(program.start());
    HWND shareList = program.openShareList();
    REQUIRE(shareList != NULL);
    HWND editor = program.open(shareList, id(dlgListShares::btnAdd), AddCaption);
    REQUIRE(editor != NULL);
    typeText(editor, dlgEditShare::txtShareName, "items");
    ui::setText(editor, id(dlgEditShare::txtTopic), "Topic");
    const int itemList = dlgEditShare::lbxAddItems;

    // A new item editor offers only "(end of list)" and appends there.
    HWND itemEditor = program.open(editor, id(dlgEditShare::btnAdd), AddCaption);
    REQUIRE(itemEditor != NULL);
    CHECK(program.commandTitle() == AddCaption);
    CHECK(ui::comboLines(itemEditor, id(cbxNextItem)) == std::vector<std::string>{"(end of list)"});
    CHECK(ui::comboSelection(itemEditor, id(cbxNextItem)) == 0);
    CHECK(ui::isDefaultButton(itemEditor, id(btnOK)));
    REQUIRE(program.confirm(itemEditor, id(btnCancel)));
    CHECK(ui::listCount(editor, id(itemList)) == 0);
    REQUIRE(addItem(program, editor, "A", Request));
    REQUIRE(addItem(program, editor, "B", Advise));
    REQUIRE(addItem(program, editor, "C", Poke));
    CHECK(listedItems(editor, itemList) == std::vector<ShareItem>{{"A", Request}, {"B", Advise}, {"C", Poke}});
    CHECK(ui::listSelection(editor, id(itemList)) == -1);

    // A name that differs from an item's only in case is a duplicate.
    itemEditor = program.open(editor, id(dlgEditShare::btnAdd), AddCaption);
    REQUIRE(itemEditor != NULL);
    CHECK(ui::comboLines(itemEditor, id(cbxNextItem)) == std::vector<std::string>{"A", "B", "C", "(end of list)"});
    CHECK(ui::comboSelection(itemEditor, id(cbxNextItem)) == 3);
    ui::setText(itemEditor, id(txtItemName), "b");
    REQUIRE(press(itemEditor, id(btnOK)));
    ui::MessageBoxView box = program.answer(IDOK);
    CHECK(box.text == "Item 'b' already exists !");
    CHECK(box.caption == "Error");
    CHECK(box.icon == ui::Icon::Exclamation);
    CHECK(IsWindowVisible(itemEditor));
    REQUIRE(program.confirm(itemEditor, id(btnCancel)));

    // Choosing an item places the new one directly before it.
    REQUIRE(addItem(program, editor, "D", Request | Advise, 1));
    CHECK(ui::listLines(editor, id(itemList)) == std::vector<std::string>{"A", "D", "B", "C"});
    REQUIRE(ui::selectListLine(editor, id(itemList), 1));
    REQUIRE(press(editor, id(dlgEditShare::btnDelete)));
    program.answer(IDYES);
    REQUIRE(ui::waitUntil([&] { return ui::listCount(editor, id(itemList)) == 3; }));

    // Editing A of A, B, C: "B" is preselected; choosing C moves A between
    // B and C, and A is no longer selected.
    REQUIRE(ui::selectListLine(editor, id(itemList), 0));
    itemEditor = program.open(editor, id(dlgEditShare::btnEdit), EditCaption);
    REQUIRE(itemEditor != NULL);
    CHECK(ui::text(itemEditor, id(txtItemName)) == "A");
    CHECK(ui::comboSelection(itemEditor, id(cbxNextItem)) == 1);
    CHECK(ui::isChecked(itemEditor, id(chkRequest)));
    REQUIRE(ui::selectComboLine(itemEditor, id(cbxNextItem), 2));
    REQUIRE(program.confirm(itemEditor, id(btnOK)));
    CHECK(listedItems(editor, itemList) == std::vector<ShareItem>{{"B", Advise}, {"A", Request}, {"C", Poke}});
    CHECK(ui::listSelection(editor, id(itemList)) == -1);
    CHECK_FALSE(ui::isEnabled(editor, id(dlgEditShare::btnEdit)));
    CHECK_FALSE(ui::isEnabled(editor, id(dlgEditShare::btnDelete)));

    // A, now between B and C: before itself is refused; before C, where it
    // stands, only its permissions change and it stays selected.
    REQUIRE(ui::selectListLine(editor, id(itemList), 1));
    itemEditor = program.open(editor, id(dlgEditShare::btnEdit), EditCaption);
    REQUIRE(itemEditor != NULL);
    CHECK(ui::comboSelection(itemEditor, id(cbxNextItem)) == 2);
    REQUIRE(ui::selectComboLine(itemEditor, id(cbxNextItem), 1));
    REQUIRE(press(itemEditor, id(btnOK)));
    box = program.answer(IDOK);
    CHECK(box.text == "Cannot insert item before itself !");
    CHECK(box.caption == "Error");
    CHECK(box.icon == ui::Icon::Exclamation);
    CHECK(IsWindowVisible(itemEditor));
    CHECK(ui::listLines(editor, id(itemList)) == std::vector<std::string>{"B", "A", "C"});
    REQUIRE(ui::selectComboLine(itemEditor, id(cbxNextItem), 2));
    ui::setChecked(itemEditor, id(chkRequest), false);
    ui::setChecked(itemEditor, id(chkAdvise), true);
    ui::setChecked(itemEditor, id(chkPoke), true);
    REQUIRE(program.confirm(itemEditor, id(btnOK)));
    CHECK(listedItems(editor, itemList) ==
          std::vector<ShareItem>{{"B", Advise}, {"A", Advise | Poke}, {"C", Poke}});
    CHECK(ui::listSelection(editor, id(itemList)) == 1);
    CHECK(ui::isEnabled(editor, id(dlgEditShare::btnEdit)));

    // "(end of list)" moves A to the end.
    itemEditor = program.open(editor, id(dlgEditShare::btnEdit), EditCaption);
    REQUIRE(itemEditor != NULL);
    REQUIRE(ui::selectComboLine(itemEditor, id(cbxNextItem), 3));
    REQUIRE(program.confirm(itemEditor, id(btnOK)));
    CHECK(ui::listLines(editor, id(itemList)) == std::vector<std::string>{"B", "C", "A"});

    // The last item, left before "(end of list)": only its permissions.
    REQUIRE(ui::doubleClickListLine(editor, id(itemList), 2));
    itemEditor = program.waitForOwned(editor, EditCaption);
    REQUIRE(itemEditor != NULL);
    CHECK(ui::comboSelection(itemEditor, id(cbxNextItem)) == 3);
    ui::setChecked(itemEditor, id(chkRequest), true);
    REQUIRE(program.confirm(itemEditor, id(btnOK)));
    CHECK(listedItems(editor, itemList) ==
          std::vector<ShareItem>{{"B", Advise}, {"C", Poke}, {"A", Request | Advise | Poke}});
    CHECK(ui::listSelection(editor, id(itemList)) == 2);

    // Changing only the case of a name finds the old item as a duplicate.
    REQUIRE(ui::selectListLine(editor, id(itemList), 0));
    itemEditor = program.open(editor, id(dlgEditShare::btnEdit), EditCaption);
    REQUIRE(itemEditor != NULL);
    ui::setText(itemEditor, id(txtItemName), "b");
    REQUIRE(press(itemEditor, id(btnOK)));
    box = program.answer(IDOK);
    CHECK(box.text == "Item 'b' already exists !");
    // A new name adds a new item before the chosen entry; the old stays.
    ui::setText(itemEditor, id(txtItemName), "E");
    REQUIRE(ui::selectComboLine(itemEditor, id(cbxNextItem), 0));
    REQUIRE(program.confirm(itemEditor, id(btnOK)));
    CHECK(ui::listLines(editor, id(itemList)) == std::vector<std::string>{"E", "B", "C", "A"});

    // An item named "(end of list)" is found by the last entry's text: a
    // new item chosen to go there is placed before that item.
    REQUIRE(addItem(program, editor, "(End of List)", Request));
    REQUIRE(addItem(program, editor, "Z", Request | Advise | Poke, 5));
    CHECK(ui::listLines(editor, id(itemList)) ==
          std::vector<std::string>{"E", "B", "C", "A", "Z", "(End of List)"});

    // The store receives the items in the list's order.
    REQUIRE(program.confirm(editor, id(dlgEditShare::btnOK)));
    ShareContents stored = readStoredShare("ITEMS$");
    REQUIRE(stored.result == NDDE_NO_ERROR);
    CHECK(stored.items == std::vector<ShareItem>{{"E", Advise}, {"B", Advise}, {"C", Poke},
                                                  {"A", Request | Advise | Poke}, {"Z", Request | Advise | Poke},
                                                  {"(End of List)", Request}});
}

TEST_CASE("a refused move of an item leaves the item list and the stored share as they were")
{
    using namespace dlgEditItem;
    StoreCleanup cleanup({"TWINS$"});
    // The library takes items that differ only in case.
    REQUIRE(storeShare({"TWINS$", "App", "Topic", "", "", "", 0, 0, {{"A", Request}, {"a", Poke}}}) ==
            NDDE_NO_ERROR);
    Marrowby program;
    HWND shareList = NULL;
    HWND editor = openShareEditor(program, "TWINS$", &shareList);
    REQUIRE(editor != NULL);
    const int itemList = dlgEditShare::lbxAddItems;
    const std::vector<ShareItem> twins = {{"A", Request}, {"a", Poke}};
    REQUIRE(listedItems(editor, itemList) == twins);

    // "a", name unchanged, before "A": the name is taken, whatever its case.
    for (int moved : {1, 0}) {
        CAPTURE(moved);
        REQUIRE(ui::selectListLine(editor, id(itemList), moved));
        HWND itemEditor = program.open(editor, id(dlgEditShare::btnEdit), EditCaption);
        REQUIRE(itemEditor != NULL);
        REQUIRE(ui::selectComboLine(itemEditor, id(cbxNextItem), moved == 1 ? 0 : 2));
        REQUIRE(press(itemEditor, id(btnOK)));
        ui::MessageBoxView box = program.answer(IDOK);
        CHECK(box.text == "Item '" + twins[moved].name + "' already exists !");
        CHECK(IsWindowVisible(itemEditor));
        CHECK(listedItems(editor, itemList) == twins);
        CHECK(ui::listSelection(editor, id(itemList)) == moved);
        REQUIRE(program.confirm(itemEditor, id(btnCancel)));
    }
    REQUIRE(program.confirm(editor, id(dlgEditShare::btnOK)));
    CHECK(readStoredShare("TWINS$").items == twins);
}

// Escape in each share dialog does what its Cancel button does.
TEST_CASE("Escape cancels the share list, the share editor and the item editor")
{
    StoreCleanup cleanup({"ESCAPED$"});
    REQUIRE(storeShare({"ESCAPED$", "App", "Topic", "", "", "", 0, 0, {{"ONE", Request}}}) == NDDE_NO_ERROR);
    Marrowby program;
    HWND shareList = NULL;
    HWND editor = openShareEditor(program, "ESCAPED$", &shareList);
    REQUIRE(editor != NULL);
    ui::setText(editor, id(dlgEditShare::txtAppName), "Changed");

    // The item editor: the new item is not added.
    HWND itemEditor = program.open(editor, id(dlgEditShare::btnAdd), AddCaption);
    REQUIRE(itemEditor != NULL);
    ui::setText(itemEditor, id(dlgEditItem::txtItemName), "TWO");
    REQUIRE(ui::pressKey(itemEditor, VK_ESCAPE));
    CHECK(ui::waitForWindowToClose(itemEditor));
    CHECK(ui::listLines(editor, id(dlgEditShare::lbxAddItems)) == std::vector<std::string>{"ONE"});

    // The share editor: nothing is stored.
    REQUIRE(ui::pressKey(editor, VK_ESCAPE));
    CHECK(ui::waitForWindowToClose(editor));
    CHECK(readStoredShare("ESCAPED$").application == "App");
    CHECK(ui::waitUntil([&] { return program.commandTitle() == ShareListCaption; }));

    // The share list: the command ends.
    REQUIRE(ui::pressKey(shareList, VK_ESCAPE));
    CHECK(ui::waitForWindowToClose(shareList));
    CHECK(ui::waitUntil([&] { return program.commandTitle().empty(); }));
}

// ---- Both front ends -----------------------------------------------------------------------

TEST_CASE("quorvstat and Marrowby list and edit the same shares with the same contents")
{
    StoreCleanup cleanup({"TWINM$", "TWINQ$"});
    const ShareValues expectedM = {"TWINM$", "Server", "Topic", "First", "ONE", "TWO", Request | Execute,
                                  Advise | StartApp, {{"X", Request}, {"Y", Advise | Poke}}};
    const ShareValues expectedQ = {"TWINQ$", "QServer", "QTopic", "QFirst", "PASS", "", Poke, Request | StartApp,
                                  {{"Q1", Advise}, {"Q2", Request | Poke}}};

    // Added in Marrowby ...
    Marrowby marrowby;
    REQUIRE(marrowby.start());
    HWND shareList = marrowby.openShareList();
    REQUIRE(shareList != NULL);
    HWND editor = marrowby.open(shareList, id(dlgListShares::btnAdd), AddCaption);
    REQUIRE(editor != NULL);
    typeText(editor, dlgEditShare::txtShareName, "twinm");
    ui::setText(editor, id(dlgEditShare::txtAppName), expectedM.application);
    ui::setText(editor, id(dlgEditShare::txtTopic), expectedM.topic);
    ui::setText(editor, id(dlgEditShare::txtFirstItem), expectedM.firstItem);
    typeText(editor, dlgEditShare::txtPassword1, "one");
    typeText(editor, dlgEditShare::txtPassword2, "two");
    tickPermissions(editor, 1, expectedM.permissions1);
    tickPermissions(editor, 2, expectedM.permissions2);
    for (const ShareItem &item : expectedM.items)
        REQUIRE(addItem(marrowby, editor, item.name, item.permissions));
    REQUIRE(marrowby.confirm(editor, id(dlgEditShare::btnOK)));
    REQUIRE(press(shareList, id(dlgListShares::btnCancel)));
    REQUIRE(ui::waitForWindowToClose(shareList));

    // ... is listed and shown alike by quorvstat.
    Quorvstat quorvstat;
    REQUIRE(quorvstat.start());
    HWND quorvstatList = quorvstat.openShareList();
    REQUIRE(quorvstatList != NULL);
    HWND quorvstatEditor = quorvstat.openShare("TWINM$");
    REQUIRE(quorvstatEditor != NULL);
    CHECK(shownByQuorvstat(quorvstatEditor) == expectedM);
    REQUIRE(quorvstat.confirm(quorvstatEditor, IDCANCEL));

    // Added in quorvstat ...
    quorvstatEditor = quorvstat.open(quorvstatList, IDC_ADD_BUTTON, AddCaption);
    REQUIRE(quorvstatEditor != NULL);
    ui::setText(quorvstatEditor, IDC_SHARE_NAME, "TWINQ");
    ui::setText(quorvstatEditor, IDC_APPLICATION, expectedQ.application);
    ui::setText(quorvstatEditor, IDC_TOPIC, expectedQ.topic);
    ui::setText(quorvstatEditor, IDC_FIRST_ITEM, expectedQ.firstItem);
    ui::setText(quorvstatEditor, IDC_PASSWORD1, expectedQ.password1);
    for (int bit = 0; bit < 5; ++bit) {
        ui::setChecked(quorvstatEditor, IDC_ACCESS1_REQUEST + 2 * bit, (expectedQ.permissions1 >> bit) & 1);
        ui::setChecked(quorvstatEditor, IDC_ACCESS2_REQUEST + 2 * bit, (expectedQ.permissions2 >> bit) & 1);
    }
    for (const ShareItem &item : expectedQ.items) {
        HWND itemEditor = quorvstat.open(quorvstatEditor, IDC_ADD_BUTTON, AddCaption);
        REQUIRE(itemEditor != NULL);
        ui::setText(itemEditor, IDC_ITEM_NAME, item.name);
        for (int bit = 0; bit < 3; ++bit)
            ui::setChecked(itemEditor, IDC_ITEM_REQUEST + bit, (item.permissions >> bit) & 1);
        REQUIRE(quorvstat.confirm(itemEditor, IDOK));
    }
    REQUIRE(quorvstat.confirm(quorvstatEditor, IDOK));
    ShareContents storedQ = readStoredShare("TWINQ$");
    REQUIRE(storedQ.result == NDDE_NO_ERROR);

    // ... is listed and shown alike by Marrowby, whose OK stores it back
    // unchanged.
    shareList = marrowby.openShareList();
    REQUIRE(shareList != NULL);
    REQUIRE(selectLine(shareList, dlgListShares::lbxShareList, "TWINQ$"));
    editor = marrowby.open(shareList, id(dlgListShares::btnEdit), EditCaption);
    REQUIRE(editor != NULL);
    CHECK(shownByMarrowby(editor) == expectedQ);
    REQUIRE(marrowby.confirm(editor, id(dlgEditShare::btnOK)));
    ShareContents restored = readStoredShare("TWINQ$");
    REQUIRE(restored.result == NDDE_NO_ERROR);
    CHECK(restored.application == storedQ.application);
    CHECK(restored.topic == storedQ.topic);
    CHECK(restored.firstItem == storedQ.firstItem);
    CHECK(restored.password1 == storedQ.password1);
    CHECK(restored.password2 == storedQ.password2);
    CHECK(restored.permissions1 == storedQ.permissions1);
    CHECK(restored.permissions2 == storedQ.permissions2);
    CHECK(restored.items == storedQ.items);
}
