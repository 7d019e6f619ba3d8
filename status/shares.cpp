// The share list (dialog 10) and the share editor (dialog 11).
//
// The share list shows the managed computer's DDE shares by name and adds,
// edits or deletes one. The editor reads one share into its controls and
// stores it again as one ShareInfo record built in a single zero-filled
// global block: the 112-byte header, then application, topic, first item and
// the two passwords, then the additional-item table and its names.
#include "quorvstat.h"

namespace {

// Read buffers of the editor's fields, terminator included.
const int ShareNameFieldSize = 64;   // the longest name the program stores is 63 characters
const int TextFieldSize = 255;       // application, topic, first item
const int PasswordFieldSize = 15;
const int ItemNameFieldSize = 256;
// Longest part of a stored password the editor shows.
const int ShownPasswordLength = 15;
// The name field is read with room to spare, so an over-long name is seen
// (and refused) instead of being cut to a name the user did not type.
const int NameReadSize = 256;

const int PermissionBitCount = 5;    // Request .. StartApp
const DWORD ItemPermissionMask = Request | Advise | Poke;

const int SelectionButtons[] = { IDC_EDIT_BUTTON, IDC_DELETE_BUTTON };
const int SelectionButtonCount = 2;

INT_PTR CALLBACK shareEditorDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// ---- Share list --------------------------------------------------------------

UINT enumerateShareNames(EnumerationBuffer *buffer, const void *)
{
    return NDdeShareEnum(managedServer(), 0, buffer->data, buffer->size, &buffer->entriesRead,
                         &buffer->totalAvailable);
}

// Adds one name of the library's list to list 110. A name too long for the
// program's name buffers cannot be a share the store holds; it is left out.
void addListedShareName(HWND list, const BYTE *name, DWORD length)
{
    char line[ShareNameFieldSize];
    if (length == 0 || length >= (DWORD)ShareNameFieldSize)
        return;
    CopyMemory(line, name, length);
    line[length] = '\0';
    SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)line);
}

// Fills list 110 with the names of the library's level-0 share list: names
// ended by zero bytes (a carriage return counts as an end too), runs of ends
// counting as one, within the bytes the library says it wrote and the block
// holds, at most entriesRead names.
BOOL fillShareList(HWND dialog)
{
    EnumerationBuffer names = {};
    if (!readWithGrowingBuffer(&names, ShareNamesSize, enumerateShareNames, NULL))
        return FALSE;
    HWND list = GetDlgItem(dialog, IDC_SHARE_LIST);
    if (names.entriesRead > 0 && names.data != NULL) {
        DWORD limit = names.totalAvailable < names.size ? names.totalAvailable : names.size;
        DWORD listed = 0;
        DWORD start = 0;
        for (DWORD i = 0; i <= limit && listed < names.entriesRead; i++) {
            if (i < limit && names.data[i] != '\0' && names.data[i] != '\r')
                continue;
            if (i > start) {
                addListedShareName(list, names.data + start, i - start);
                listed++;
            }
            start = i + 1;
        }
        fitListWidth(dialog, IDC_SHARE_LIST);
    }
    releaseEnumerationBuffer(&names);
    return TRUE;
}

// Asks before deleting the selected share, deletes it and removes its line.
BOOL deleteSelectedShare(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_SHARE_LIST);
    int selection = (int)SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (selection == LB_ERR)
        return FALSE;
    char name[ShareNameFieldSize];
    SendMessageA(list, LB_GETTEXT, selection, (LPARAM)name);
    if (!askDialogQuestion(dialog, IDS_DELETE_SHARE_QUESTION, name))
        return FALSE;
    UINT result = NDdeShareDel(managedServer(), name, 0);
    if (result != NDDE_NO_ERROR) {
        reportApiError(result);
        return FALSE;
    }
    SendMessageA(list, LB_DELETESTRING, selection, 0);
    fitListWidth(dialog, IDC_SHARE_LIST);
    return TRUE;
}

void disableSelectionButtons(HWND dialog)
{
    for (int i = 0; i < SelectionButtonCount; i++)
        enableDialogButton(dialog, SelectionButtons[i], FALSE);
}

// ---- Reading a share into the editor -------------------------------------------

UINT readShareRecord(EnumerationBuffer *buffer, const void *shareName)
{
    return NDdeShareGetInfo(managedServer(), (LPSTR)shareName, 2, buffer->data, buffer->size,
                            &buffer->totalAvailable, &buffer->itemCount);
}

// The library's pointers must lie inside the block it filled; a string must
// also end there.
BOOL pointsIntoRecord(const EnumerationBuffer *record, const void *pointer, DWORD length)
{
    UINT_PTR start = (UINT_PTR)record->data;
    UINT_PTR at = (UINT_PTR)pointer;
    return at >= start && at - start <= record->size && length <= record->size - (at - start);
}

BOOL isRecordString(const EnumerationBuffer *record, const char *text)
{
    if (!pointsIntoRecord(record, text, 1))
        return FALSE;
    DWORD room = (DWORD)(record->data + record->size - (const BYTE *)text);
    for (DWORD i = 0; i < room; i++)
        if (text[i] == '\0')
            return TRUE;
    return FALSE;
}

// Everything the editor reads from a record, checked against the block
// before any control is filled.
BOOL isWellFormedRecord(const EnumerationBuffer *record)
{
    const ShareInfo *share = (const ShareInfo *)record->data;
    if (record->data == NULL || record->size < (DWORD)ShareInfoHeaderSize)
        return FALSE;
    if (!isRecordString(record, share->appName) || !isRecordString(record, share->topicName) ||
        !isRecordString(record, share->firstItem))
        return FALSE;
    if (!pointsIntoRecord(record, share->password1, 0) || !pointsIntoRecord(record, share->password2, 0))
        return FALSE;
    if (record->itemCount == 0)
        return TRUE;
    if (!pointsIntoRecord(record, share->addItems, record->itemCount * sizeof(AddItemInfo)))
        return FALSE;
    for (WORD i = 0; i < record->itemCount; i++)
        if (!isRecordString(record, share->addItems[i].itemName))
            return FALSE;
    return TRUE;
}

// Shows the first bytes of a stored password, up to its first zero byte,
// never reading past the record.
void showPassword(HWND editor, int controlId, const EnumerationBuffer *record, const BYTE *password,
                  DWORD length)
{
    char text[ShownPasswordLength + 1] = {};
    DWORD room = (DWORD)(record->data + record->size - password);
    if (length > (DWORD)ShownPasswordLength)
        length = ShownPasswordLength;
    if (length > room)
        length = room;
    for (DWORD i = 0; i < length && password[i] != '\0'; i++)
        text[i] = (char)password[i];
    SetDlgItemTextA(editor, controlId, text);
}

// Checks the five boxes of access group `group` (0 or 1) from `permissions`.
void showPermissions(HWND editor, int group, SharePermissions permissions)
{
    for (int bit = 0; bit < PermissionBitCount; bit++)
        CheckDlgButton(editor, IDC_ACCESS1_REQUEST + 2 * bit + group,
                       (permissions >> bit) & 1 ? BST_CHECKED : BST_UNCHECKED);
}

SharePermissions readPermissions(HWND editor, int group)
{
    SharePermissions permissions = 0;
    for (int bit = 0; bit < PermissionBitCount; bit++)
        if (IsDlgButtonChecked(editor, IDC_ACCESS1_REQUEST + 2 * bit + group) == BST_CHECKED)
            permissions |= 1u << bit;
    return permissions;
}

void showShareRecord(HWND editor, LPCSTR listedName, const EnumerationBuffer *record)
{
    const ShareInfo *share = (const ShareInfo *)record->data;
    SetDlgItemTextA(editor, IDC_SHARE_NAME, listedName);
    SetDlgItemTextA(editor, IDC_APPLICATION, share->appName);
    SetDlgItemTextA(editor, IDC_TOPIC, share->topicName);
    SetDlgItemTextA(editor, IDC_FIRST_ITEM, share->firstItem);
    if (record->itemCount > 0) {
        HWND items = GetDlgItem(editor, IDC_ADDITIONAL_ITEMS);
        for (WORD i = 0; i < record->itemCount; i++) {
            // Lines of list 124 always fit the item-name buffers.
            char name[ItemNameFieldSize];
            lstrcpynA(name, share->addItems[i].itemName, sizeof name);
            int line = (int)SendMessageA(items, LB_ADDSTRING, 0, (LPARAM)name);
            SendMessageA(items, LB_SETITEMDATA, line, share->addItems[i].permissions);
        }
        fitListWidth(editor, IDC_ADDITIONAL_ITEMS);
    }
    showPassword(editor, IDC_PASSWORD1, record, share->password1, share->password1Length);
    showPermissions(editor, 0, share->permissions1);
    showPassword(editor, IDC_PASSWORD2, record, share->password2, share->password2Length);
    showPermissions(editor, 1, share->permissions2);
}

// Reads the share selected in the owner's list 110 into the editor.
BOOL loadSelectedShare(HWND editor)
{
    HWND shareList = GetDlgItem(GetParent(editor), IDC_SHARE_LIST);
    int selection = (int)SendMessageA(shareList, LB_GETCURSEL, 0, 0);
    if (selection == LB_ERR)
        return FALSE;
    char name[ShareNameFieldSize];
    SendMessageA(shareList, LB_GETTEXT, selection, (LPARAM)name);

    EnumerationBuffer record = {};
    if (!readWithGrowingBuffer(&record, ShareRecordSize, readShareRecord, name))
        return FALSE;
    BOOL wellFormed = isWellFormedRecord(&record);
    if (wellFormed)
        showShareRecord(editor, name, &record);
    releaseEnumerationBuffer(&record);
    if (!wellFormed)
        reportApiError(NDDE_SHARE_DATA_CORRUPTED);
    return wellFormed;
}

// ---- Storing a share from the editor ----------------------------------------------

// The editor's texts as the record takes them.
struct ShareFields {
    char name[NameReadSize];
    char application[TextFieldSize];
    char topic[TextFieldSize];
    char firstItem[TextFieldSize];
    char password1[PasswordFieldSize];
    char password2[PasswordFieldSize];
};

// Reads every field but the name; passwords are stored upper-case.
void readShareTexts(HWND editor, ShareFields *fields)
{
    GetDlgItemTextA(editor, IDC_APPLICATION, fields->application, TextFieldSize);
    GetDlgItemTextA(editor, IDC_TOPIC, fields->topic, TextFieldSize);
    GetDlgItemTextA(editor, IDC_FIRST_ITEM, fields->firstItem, TextFieldSize);
    GetDlgItemTextA(editor, IDC_PASSWORD1, fields->password1, PasswordFieldSize);
    GetDlgItemTextA(editor, IDC_PASSWORD2, fields->password2, PasswordFieldSize);
    CharUpperA(fields->password1);
    CharUpperA(fields->password2);
}

// Size of the block that holds the record: the header, the five texts (the
// name counted too, with room to spare), and per additional item its table
// entry and its name.
DWORD shareBlockSize(HWND editor, const ShareFields *fields)
{
    DWORD size = ShareInfoHeaderSize + 7 + lstrlenA(fields->name) + lstrlenA(fields->application) +
                 lstrlenA(fields->topic) + lstrlenA(fields->firstItem) + lstrlenA(fields->password1) +
                 lstrlenA(fields->password2);
    HWND items = GetDlgItem(editor, IDC_ADDITIONAL_ITEMS);
    int count = (int)SendMessageA(items, LB_GETCOUNT, 0, 0);
    for (int line = 0; line < count; line++)
        size += sizeof(AddItemInfo) + SendMessageA(items, LB_GETTEXTLEN, line, 0) + 1;
    return size;
}

// Asks the library about name, topic and passwords, in that order; the first
// refusal is shown and ends the check.
BOOL validateShareFields(const ShareFields *fields)
{
    if (!NDdeIsValidShareName((LPSTR)fields->name)) {
        reportInvalidValue(InvalidShareName, fields->name);
        return FALSE;
    }
    if (!NDdeIsValidTopic((LPSTR)fields->topic)) {
        reportInvalidValue(InvalidTopic, fields->topic);
        return FALSE;
    }
    if (!NDdeIsValidPassword((LPSTR)fields->password1)) {
        reportInvalidValue(InvalidPassword1, fields->password1);
        return FALSE;
    }
    if (!NDdeIsValidPassword((LPSTR)fields->password2)) {
        reportInvalidValue(InvalidPassword2, fields->password2);
        return FALSE;
    }
    return TRUE;
}

// Copies `text` with its terminator to `*position` and moves past it.
char *appendString(BYTE **position, LPCSTR text)
{
    char *start = (char *)*position;
    int length = lstrlenA(text);
    CopyMemory(start, text, length + 1);
    *position += length + 1;
    return start;
}

// Builds the ShareInfo record with its strings and items in `block` (zero
// filled, shareBlockSize bytes).
void buildShareRecord(HWND editor, const ShareFields *fields, BYTE *block)
{
    ShareInfo *share = (ShareInfo *)block;
    HWND items = GetDlgItem(editor, IDC_ADDITIONAL_ITEMS);
    int count = (int)SendMessageA(items, LB_GETCOUNT, 0, 0);
    if (count < 0)
        count = 0;

    share->permissions1 = readPermissions(editor, 0);
    share->permissions2 = readPermissions(editor, 1);
    share->addItemCount = count;
    lstrcpynA(share->shareName, fields->name, ShareNameFieldSize);

    BYTE *position = block + ShareInfoHeaderSize;
    share->appName = appendString(&position, fields->application);
    share->topicName = appendString(&position, fields->topic);
    share->firstItem = appendString(&position, fields->firstItem);
    share->password1 = (BYTE *)appendString(&position, fields->password1);
    share->password1Length = lstrlenA(fields->password1);
    share->password2 = (BYTE *)appendString(&position, fields->password2);
    share->password2Length = lstrlenA(fields->password2);
    if (count == 0)
        return;

    share->addItems = (AddItemInfo *)position;
    char *name = (char *)(position + count * sizeof(AddItemInfo));
    for (int line = 0; line < count; line++) {
        share->addItems[line].itemName = name;
        share->addItems[line].permissions =
            (SharePermissions)SendMessageA(items, LB_GETITEMDATA, line, 0) & ItemPermissionMask;
        name += SendMessageA(items, LB_GETTEXT, line, (LPARAM)name) + 1;
    }
}

// Validates the fields, builds the record and hands it to the library: a new
// share when `storedName` is null, else the share of that name is replaced.
BOOL storeShare(HWND editor, ShareFields *fields, LPCSTR storedName)
{
    readShareTexts(editor, fields);
    DWORD size = shareBlockSize(editor, fields);
    if (!validateShareFields(fields))
        return FALSE;

    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    BYTE *block = handle != NULL ? (BYTE *)GlobalLock(handle) : NULL;
    UINT result = NDDE_OUT_OF_MEMORY;
    if (block != NULL) {
        buildShareRecord(editor, fields, block);
        if (storedName == NULL)
            result = NDdeShareAdd(managedServer(), 2, block, size);
        else
            result = NDdeShareSetInfo(managedServer(), (LPSTR)storedName, 2, block, size, 0);
        if (result == NDDE_NO_ERROR && storedName == NULL) {
            HWND shareList = GetParent(editor);
            SendDlgItemMessageA(shareList, IDC_SHARE_LIST, LB_ADDSTRING, 0,
                                (LPARAM)((ShareInfo *)block)->shareName);
            fitListWidth(shareList, IDC_SHARE_LIST);
        }
        GlobalUnlock(handle);
    }
    if (handle != NULL)
        GlobalFree(handle);
    if (result != NDDE_NO_ERROR)
        reportApiError(result);
    return result == NDDE_NO_ERROR;
}

// Adds the editor's share. The name is upper-cased; one without a '$' gets
// one appended (and the field shows the completed name); a '$' anywhere but
// at the end, or a name that would not fit the record's name with its
// terminator, is refused before the library is asked anything.
BOOL addShare(HWND editor)
{
    ShareFields fields;
    GetDlgItemTextA(editor, IDC_SHARE_NAME, fields.name, NameReadSize);
    int length = lstrlenA(fields.name);
    int dollar = 0;
    while (dollar < length && fields.name[dollar] != '$')
        dollar++;
    CharUpperA(fields.name);
    if (dollar < length - 1) {
        reportInvalidValue(InvalidShareName, fields.name);
        return FALSE;
    }
    int completedLength = dollar == length ? length + 1 : length;
    if (completedLength >= ShareNameFieldSize) {
        reportInvalidValue(InvalidShareName, fields.name);
        return FALSE;
    }
    if (dollar == length) {
        lstrcatA(fields.name, "$");
        SetDlgItemTextA(editor, IDC_SHARE_NAME, fields.name);
    }
    return storeShare(editor, &fields, NULL);
}

// Stores the editor's share over the share selected in the owner's list. A
// name that is not the selected one (ignoring case) makes a new share and
// leaves the selected one as it is.
BOOL updateShare(HWND editor)
{
    ShareFields fields;
    GetDlgItemTextA(editor, IDC_SHARE_NAME, fields.name, NameReadSize);
    HWND shareList = GetDlgItem(GetParent(editor), IDC_SHARE_LIST);
    int selection = (int)SendMessageA(shareList, LB_GETCURSEL, 0, 0);
    char selectedName[ShareNameFieldSize];
    if (selection == LB_ERR)
        return addShare(editor);
    SendMessageA(shareList, LB_GETTEXT, selection, (LPARAM)selectedName);
    if (lstrcmpiA(fields.name, selectedName) != 0)
        return addShare(editor);
    CharUpperA(fields.name);
    return storeShare(editor, &fields, selectedName);
}

// Asks before removing the selected additional item from list 124; the
// share itself changes only with OK.
BOOL deleteSelectedItem(HWND editor)
{
    HWND items = GetDlgItem(editor, IDC_ADDITIONAL_ITEMS);
    int selection = (int)SendMessageA(items, LB_GETCURSEL, 0, 0);
    if (selection == LB_ERR)
        return FALSE;
    char name[ItemNameFieldSize];
    SendMessageA(items, LB_GETTEXT, selection, (LPARAM)name);
    if (!askDialogQuestion(editor, IDS_DELETE_ITEM_QUESTION, name))
        return FALSE;
    SendMessageA(items, LB_DELETESTRING, selection, 0);
    fitListWidth(editor, IDC_ADDITIONAL_ITEMS);
    return TRUE;
}

BOOL handleShareEditorCommand(HWND editor, WPARAM wParam)
{
    switch (LOWORD(wParam)) {
    case IDOK:
        if (isEditMode(editor) ? updateShare(editor) : addShare(editor))
            EndDialog(editor, IDOK);
        return TRUE;
    case IDCANCEL:
        EndDialog(editor, IDCANCEL);
        return TRUE;
    case IDC_ADD_BUTTON:
    case IDC_EDIT_BUTTON:
        runNestedDialog(editor, LOWORD(wParam), IDD_ITEM_EDITOR, itemEditorDialog);
        if (!hasListSelection(editor, IDC_ADDITIONAL_ITEMS))
            disableSelectionButtons(editor);
        return TRUE;
    case IDC_DELETE_BUTTON:
        if (deleteSelectedItem(editor))
            disableSelectionButtons(editor);
        return TRUE;
    case IDC_ADDITIONAL_ITEMS:
        return handleListNotification(editor, wParam, SelectionButtons, SelectionButtonCount,
                                      IDC_EDIT_BUTTON);
    }
    return FALSE;
}

INT_PTR CALLBACK shareEditorDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        captionFromTitle(dialog);
        if (isEditMode(dialog) && !loadSelectedShare(dialog))
            EndDialog(dialog, IDCANCEL);
        return TRUE;
    case WM_COMMAND:
        return handleShareEditorCommand(dialog, wParam);
    }
    return FALSE;
}

BOOL handleShareListCommand(HWND dialog, WPARAM wParam)
{
    switch (LOWORD(wParam)) {
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    case IDC_SHARE_LIST:
        return handleListNotification(dialog, wParam, SelectionButtons, SelectionButtonCount,
                                      IDC_EDIT_BUTTON);
    case IDC_ADD_BUTTON:
    case IDC_EDIT_BUTTON:
        runNestedDialog(dialog, LOWORD(wParam), IDD_SHARE_EDITOR, shareEditorDialog);
        return TRUE;
    case IDC_DELETE_BUTTON:
        beginWaitCursor();
        if (deleteSelectedShare(dialog))
            disableSelectionButtons(dialog);
        endWaitCursor();
        return TRUE;
    }
    return FALSE;
}

} // namespace

INT_PTR CALLBACK shareListDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        captionFromTitle(dialog);
        if (!fillShareList(dialog))
            EndDialog(dialog, IDCANCEL);
        return TRUE;
    case WM_COMMAND:
        return handleShareListCommand(dialog, wParam);
    }
    return FALSE;
}
