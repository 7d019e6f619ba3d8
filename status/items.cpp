// The item editor (dialog 12): names one additional item of the share being
// edited, places it in the order of the share editor's list 124 ("Insert
// Before:") and sets its permissions. It works only on that list; the share
// editor's OK takes the items to the library.
#include "quorvstat.h"

namespace {

const int ItemNameFieldSize = 256;
const int ItemPermissionCount = 3;   // Request, Advise, Poke

// List 124 of the share editor that owns this item editor.
HWND ownerItemList(HWND editor)
{
    return GetDlgItem(GetParent(editor), IDC_ADDITIONAL_ITEMS);
}

SharePermissions readItemPermissions(HWND editor)
{
    SharePermissions permissions = 0;
    for (int bit = 0; bit < ItemPermissionCount; bit++)
        if (IsDlgButtonChecked(editor, IDC_ITEM_REQUEST + bit) == BST_CHECKED)
            permissions |= 1u << bit;
    return permissions;
}

// Fills combo 140 with the owner's items in list order and "(end of list)"
// last, and selects entry `preferred`, or "(end of list)" when there is no
// such item.
void fillInsertBeforeList(HWND editor, int preferred)
{
    HWND items = ownerItemList(editor);
    HWND combo = GetDlgItem(editor, IDC_INSERT_BEFORE);
    char text[ItemNameFieldSize];
    LoadStringA(programInstance, IDS_END_OF_LIST, text, sizeof text);
    SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)text);
    int count = (int)SendMessageA(items, LB_GETCOUNT, 0, 0);
    for (int line = count - 1; line >= 0; line--) {
        SendMessageA(items, LB_GETTEXT, line, (LPARAM)text);
        SendMessageA(combo, CB_INSERTSTRING, 0, (LPARAM)text);
    }
    SendMessageA(combo, CB_SETCURSEL, preferred >= 0 && preferred < count ? preferred : count, 0);
}

// The line of list 124 that the combo's selected entry names (ignoring
// case), or LB_ERR for "(end of list)".
int insertBeforeLine(HWND editor, HWND items)
{
    char text[ItemNameFieldSize] = "";
    HWND combo = GetDlgItem(editor, IDC_INSERT_BEFORE);
    int entry = (int)SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (entry != CB_ERR)
        SendMessageA(combo, CB_GETLBTEXT, entry, (LPARAM)text);
    return (int)SendMessageA(items, LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)text);
}

// True when a line other than `ownLine` equals `name` ignoring case.
BOOL isDuplicateItem(HWND items, LPCSTR name, int ownLine)
{
    int found = (int)SendMessageA(items, LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)name);
    if (found != LB_ERR && found == ownLine)
        found = (int)SendMessageA(items, LB_FINDSTRINGEXACT, ownLine, (LPARAM)name);
    return found != LB_ERR && found != ownLine;
}

// Inserts the item named in edit 123 before the line the combo names, or
// at the end, with the permissions of the check boxes. `movedLine` is the
// edited item's old line (LB_ERR for a new item): it does not count as a
// duplicate, and it leaves the list only when the item is placed anew.
BOOL insertItem(HWND editor, int movedLine)
{
    HWND items = ownerItemList(editor);
    char name[ItemNameFieldSize];
    GetDlgItemTextA(editor, IDC_ITEM_NAME, name, sizeof name);
    if (isDuplicateItem(items, name, movedLine)) {
        showDialogNotice(editor, IDS_ITEM_EXISTS, name);
        return FALSE;
    }
    SharePermissions permissions = readItemPermissions(editor);
    if (movedLine != LB_ERR)
        SendMessageA(items, LB_DELETESTRING, movedLine, 0);
    int before = insertBeforeLine(editor, items);
    int line = before != LB_ERR ? (int)SendMessageA(items, LB_INSERTSTRING, before, (LPARAM)name)
                                : (int)SendMessageA(items, LB_ADDSTRING, 0, (LPARAM)name);
    SendMessageA(items, LB_SETITEMDATA, line, permissions);
    fitListWidth(GetParent(editor), IDC_ADDITIONAL_ITEMS);
    return TRUE;
}

// Shows the item selected in the owner's list, preset to stay where it is.
BOOL loadSelectedItem(HWND editor)
{
    HWND items = ownerItemList(editor);
    int selection = (int)SendMessageA(items, LB_GETCURSEL, 0, 0);
    if (selection == LB_ERR)
        return FALSE;
    char name[ItemNameFieldSize];
    SendMessageA(items, LB_GETTEXT, selection, (LPARAM)name);
    SetDlgItemTextA(editor, IDC_ITEM_NAME, name);
    fillInsertBeforeList(editor, selection + 1);
    DWORD permissions = (DWORD)SendMessageA(items, LB_GETITEMDATA, selection, 0);
    for (int bit = 0; bit < ItemPermissionCount; bit++)
        CheckDlgButton(editor, IDC_ITEM_REQUEST + bit, (permissions >> bit) & 1 ? BST_CHECKED : BST_UNCHECKED);
    return TRUE;
}

// Stores the edited item: a changed name (compared with case) adds a new
// item; otherwise the item keeps its place and takes the new permissions, or
// moves before the chosen item (or to the end). Placing it before itself is
// refused.
BOOL storeEditedItem(HWND editor)
{
    HWND items = ownerItemList(editor);
    int selection = (int)SendMessageA(items, LB_GETCURSEL, 0, 0);
    if (selection == LB_ERR)
        return insertItem(editor, LB_ERR);
    char name[ItemNameFieldSize];
    char line[ItemNameFieldSize];
    GetDlgItemTextA(editor, IDC_ITEM_NAME, name, sizeof name);
    SendMessageA(items, LB_GETTEXT, selection, (LPARAM)line);
    if (lstrcmpA(name, line) != 0)
        return insertItem(editor, LB_ERR);

    int before = insertBeforeLine(editor, items);
    if (before == LB_ERR)
        before = (int)SendMessageA(items, LB_GETCOUNT, 0, 0);
    if (before == selection) {
        showDialogNotice(editor, IDS_ITEM_BEFORE_ITSELF, NULL);
        return FALSE;
    }
    if (before == selection + 1) {
        SendMessageA(items, LB_SETITEMDATA, selection, readItemPermissions(editor));
        return TRUE;
    }
    return insertItem(editor, selection);
}

} // namespace

INT_PTR CALLBACK itemEditorDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        captionFromTitle(dialog);
        if (!isEditMode(dialog))
            fillInsertBeforeList(dialog, -1);
        else if (!loadSelectedItem(dialog))
            EndDialog(dialog, IDCANCEL);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            if (isEditMode(dialog) ? storeEditedItem(dialog) : insertItem(dialog, LB_ERR))
                EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}
