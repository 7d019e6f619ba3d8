// dlgListShares: the DDE shares of the managed computer by name, with the
// commands that add, edit and delete a share. The list is filled once, when
// the dialog loads, and afterwards changes only through this program's own
// adds and deletes.
#include <vector>

#include "marrowby.h"
#include "modMain.h"

namespace dlgListShares {

// Reads the share names into lbxShareList. The library is first asked with
// no buffer; after each code 2 it is asked again with a buffer one byte
// larger than the total it gave, until it answers something else or stops
// asking for more than it was offered.
static bool FillShareList()
{
    std::vector<BYTE> buffer;   // the size offered + 1 bytes, so a name at its end is still ended
    DWORD size = 0, offered = 0, entriesRead = 0, totalAvailable = 0;
    UINT result;
    do {
        offered = size > 0 ? size + 1 : 0;
        buffer.assign(size > 0 ? size + 2 : 0, 0);
        result = Tessaflat::NDdeShareEnum(ManagedServer(), 0, offered > 0 ? buffer.data() : nullptr, offered, &entriesRead,
                                          &totalAvailable);
        size = totalAvailable;
    } while (result == NDDE_BUF_TOO_SMALL && totalAvailable > offered && totalAvailable < LibraryBufferLimit);
    if (result != NDDE_NO_ERROR) {
        ReportApiError(result);
        return false;
    }

    // The names, each ended by a zero byte, byte by byte; nothing is read
    // past the reported total or the buffer.
    HWND list = form[lbxShareList];
    size_t end = totalAvailable < buffer.size() ? (size_t)totalAvailable + 1 : buffer.size();
    size_t position = 0;
    for (DWORD entry = 0; entry < entriesRead && position < end; entry++) {
        std::string name;
        while (position < end && buffer[position] != 0 && name.size() < (size_t)ShareNameSize) {
            name += (char)buffer[position];
            position++;
        }
        // A name longer than any share name can be is cut; its rest is not
        // taken for the next name.
        while (position < end && buffer[position] != 0)
            position++;
        ListAddItem(list, name);
        while (position < end && buffer[position] == 0)
            position++;
    }
    FitListHorizontalExtent(list);
    return true;
}

static UINT DeleteShare(std::string &name, DWORD)
{
    return Tessaflat::NDdeShareDel(ManagedServer(), &name[0], 0);
}

static void Form_Load()
{
    PlaceDialog(form, wndMain::form, PlaceBesideMain);
    SetText(form.hwnd, CommandTitle());
    form.bError = !FillShareList();
}

static void lbxShareList_Click()
{
    EnableWindow(form[btnEdit], TRUE);
    EnableWindow(form[btnDelete], TRUE);
}

static void btnAdd_Click()
{
    OpenAddDialog(dlgEditShare::form, form, GetText(form[btnAdd]));
}

// The editor reads the selected share when it loads; it is shown only when
// that succeeded.
static void btnEdit_Click()
{
    OpenCommandDialog(dlgEditShare::form, form, GetText(form[btnEdit]));
}

static void lbxShareList_DblClick()
{
    btnEdit_Click();
}

static void btnDelete_Click()
{
    RemoveSelectedLineWithButtons(form, lbxShareList, "Delete share", DeleteShare, btnEdit, btnDelete);
}

static void btnCancel_Click()
{
    UnloadForm(form);
}

static void Form_Unload()
{
    ReleaseForm(form);
}

static const ControlDesign controls[] = {
    {Label, "Label1", "My Shares:", 240, 240, 2415, 255},
    {SortedListBox, "lbxShareList", "", 240, 480, 2415, 1815},
    {CommandButton, "btnAdd", "Add...", 2880, 240, 1080, 315, DefaultButton},
    {CommandButton, "btnEdit", "Edit...", 2880, 720, 1080, 315, Disabled},
    {CommandButton, "btnDelete", "Delete", 2880, 1200, 1080, 315, Disabled},
    {CommandButton, "btnCancel", "Cancel", 2880, 1680, 1080, 315, CancelButton},
};

static const EventBinding events[] = {
    {lbxShareList, Click, lbxShareList_Click},
    {lbxShareList, DblClick, lbxShareList_DblClick},
    {btnAdd, Click, btnAdd_Click},
    {btnEdit, Click, btnEdit_Click},
    {btnDelete, Click, btnDelete_Click},
    {btnCancel, Click, btnCancel_Click},
};

static const FormDesign design = {
    .name = "dlgListShares",
    .caption = "Shares",
    .border = FixedDialog,
    .units = Twips,
    .left = 540, .top = 825, .width = 4155, .height = 2535,
    .controls = Table(controls),
    .events = Table(events),
    .load = Form_Load,
    .unload = Form_Unload,
};

Form form = {design};

}
