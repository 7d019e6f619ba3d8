// dlgEditItem: one additional item of the open share editor: its name,
// where it stands in the share's order ("Insert Before:") and its
// permissions. It works only on the share editor's lbxAddItems; nothing
// reaches the library until the share editor's OK.
#include "marrowby.h"
#include "modMain.h"

namespace dlgEditItem {

static HWND ItemList()
{
    return dlgEditShare::form[dlgEditShare::lbxAddItems];
}

// The item's permissions from its boxes, each counting only when ticked.
static DWORD TickedPermissions()
{
    DWORD permissions = 0;
    if (CheckValue(form[chkRequest]) == BST_CHECKED)
        permissions |= Request;
    if (CheckValue(form[chkAdvise]) == BST_CHECKED)
        permissions |= Advise;
    if (CheckValue(form[chkPoke]) == BST_CHECKED)
        permissions |= Poke;
    return permissions;
}

static void ShowError(const std::string &text)
{
    MsgBox(text, MB_OK | MB_ICONEXCLAMATION, "Error");
}

// The share editor's items go in front of "(end of list)", in their order;
// entry `position` is selected, or "(end of list)" when there is none.
static void FillInsertBefore(short position)
{
    HWND itemList = ItemList(), nextItem = form[cbxNextItem];
    int count = ListCount(itemList);
    for (int i = count - 1; i >= 0; i--)
        ListInsertItem(nextItem, 0, ListText(itemList, i));
    SetListIndex(nextItem, position >= 0 && position < count ? position : count);
}

// The line of the share editor's list that the chosen "Insert Before:"
// entry names, or -1 for "(end of list)" (unless an item bears that name).
static int ChosenNextLine()
{
    HWND nextItem = form[cbxNextItem];
    return ListFindExact(ItemList(), ListText(nextItem, ListIndex(nextItem)));
}

static bool LoadSelectedItem()
{
    HWND itemList = ItemList();
    int selected = ListIndex(itemList);
    if (selected < 0)
        return false;
    SetText(form[txtItemName], ListText(itemList, selected));
    // The item that follows the edited one is preselected.
    FillInsertBefore((short)(selected + 1));
    DWORD permissions = ListItemData(itemList, selected);
    SetCheckValue(form[chkRequest], permissions & Request ? BST_CHECKED : BST_UNCHECKED);
    SetCheckValue(form[chkAdvise], permissions & Advise ? BST_CHECKED : BST_UNCHECKED);
    SetCheckValue(form[chkPoke], permissions & Poke ? BST_CHECKED : BST_UNCHECKED);
    return true;
}

// Whether a line other than `ownLine` holds `name`, whatever its case: the
// search starts after the item's own line and comes back to it only when no
// other line matches.
static bool IsDuplicateItem(HWND itemList, const std::string &name, int ownLine)
{
    int found = ListFindExact(itemList, name, ownLine);
    return found >= 0 && found != ownLine;
}

// Puts the item before the chosen entry's line, or last. `movedLine` is the
// edited item's line when it moves (-1 for a new item): it is no duplicate,
// and it leaves the list only once the item is sure to be placed anew. A
// name another line holds already, whatever its case, is refused, and the
// list stays exactly as it was.
static bool InsertItem(int movedLine = -1)
{
    HWND itemList = ItemList();
    std::string name = GetText(form[txtItemName]);
    if (IsDuplicateItem(itemList, name, movedLine)) {
        ShowError("Item '" + name + "' already exists !");
        return false;
    }
    DWORD permissions = TickedPermissions();
    if (movedLine >= 0)
        ListRemoveItem(itemList, movedLine);
    int next = ChosenNextLine();
    if (next >= 0)
        ListInsertItem(itemList, next, name, permissions);
    else
        ListAddItem(itemList, name, permissions);
    FitListHorizontalExtent(itemList);
    return true;
}

// Stores the edited item: a renamed item is inserted as a new one (the old
// line stays); one left where it stands only takes the new permissions; one
// given another place moves there.
static bool StoreEditedItem()
{
    HWND itemList = ItemList();
    int selected = ListIndex(itemList);
    if (selected < 0 || GetText(form[txtItemName]) != ListText(itemList, selected))
        return InsertItem();
    int next = ChosenNextLine();
    if (next < 0)
        next = ListCount(itemList);
    if (next == selected) {
        ShowError("Cannot insert item before itself !");
        return false;
    }
    if (next == selected + 1) {
        SetListItemData(itemList, selected, TickedPermissions());
        return true;
    }
    return InsertItem(selected);
}

static void Form_Load()
{
    PlaceDialog(form, dlgEditShare::form, PlaceBesideDialog);
    SetText(form.hwnd, CommandTitle());
    if (IsAddMode(form))
        FillInsertBefore(-1);
    else
        form.bError = !LoadSelectedItem();
}

static void btnOK_Click()
{
    bool stored = IsAddMode(form) ? InsertItem() : StoreEditedItem();
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

static void txtItemName_GotFocus()
{
    SelectWholeText(form[txtItemName]);
}

static const ControlDesign controls[] = {
    {Label, "Label1", "Item Name:", 120, 240, 1215, 255},
    {TextBox, "txtItemName", "", 120, 480, 2415, 285},
    {Label, "Label2", "Insert Before:", 105, 840, 1170, 225},
    {DropDownList, "cbxNextItem", "(end of list)", 105, 1050, 2430, 315},
    {Frame, "frmAccess", "Access:", 630, 1575, 1350, 1335},
    {CheckBox, "chkRequest", "Request", 210, 315, 975, 255, InFrame},
    {CheckBox, "chkAdvise", "Advise", 210, 630, 975, 255, InFrame},
    {CheckBox, "chkPoke", "Poke", 210, 960, 975, 255, InFrame},
    {CommandButton, "btnOK", "OK", 2760, 240, 1080, 315, DefaultButton},
    {CommandButton, "btnCancel", "Cancel", 2760, 720, 1080, 315, CancelButton},
};

static const EventBinding events[] = {
    {txtItemName, GotFocus, txtItemName_GotFocus},
    {btnOK, Click, btnOK_Click},
    {btnCancel, Click, btnCancel_Click},
};

static const FormDesign design = {
    .name = "dlgEditItem",
    .caption = "Item",
    .border = FixedDialog,
    .units = Twips,
    .left = 540, .top = 825, .width = 4020, .height = 3210,
    .controls = Table(controls),
    .events = Table(events),
    .load = Form_Load,
    .unload = Form_Unload,
};

Form form = {design};

}
