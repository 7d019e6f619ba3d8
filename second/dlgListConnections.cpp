// dlgListConnections: the shares that the client of the session selected in
// dlgListSessions is connected to, captioned "Session <client>".
#include "marrowby.h"
#include "modLists.h"
#include "modMain.h"

namespace dlgListConnections {

// A ConnectionEntry as the dialog reads it from the library's buffer.
struct ConnectionRecord {
    DWORD connectedShare;   // address of the share name inside the buffer
    short connectionWord1;  // carried along, not shown
    short connectionWord2;
};

const DWORD ConnectionEntrySize = 8;
const DWORD ConnectionWord1Offset = 4;
const DWORD ConnectionWord2Offset = 6;
// The text a share name is copied into.
const int ShareTextLength = 256;

static std::vector<ConnectionRecord> ReadConnections(const ListBuffer &list)
{
    std::vector<ConnectionRecord> connections;
    for (DWORD i = 0; i < list.count; i++) {
        DWORD entry = ConnectionEntrySize * i;
        connections.push_back({(DWORD)ReadListInt32(list, entry), ReadListInt16(list, entry + ConnectionWord1Offset),
                               ReadListInt16(list, entry + ConnectionWord2Offset)});
    }
    return connections;
}

static bool FillConnectionList()
{
    HWND sessionList = dlgListSessions::form[dlgListSessions::lbxSessList];
    int selected = ListIndex(sessionList);
    if (selected < 0)
        return false;
    std::string name = ListText(sessionList, selected);
    LONG sessionId = (LONG)ListItemData(sessionList, selected);

    std::string title = "Session " + name;
    SetCommandTitle(title);
    SetText(form.hwnd, title);

    ListBuffer list;
    if (!ReadList(ConnectionEntrySize, list, [&](LPBYTE buffer, DWORD size, LPDWORD total, LPDWORD count) {
            return Tessaflat::NDdeConnectionEnum(ManagedServer(), &name[0], sessionId, 1, buffer, size, total, count);
        }))
        return false;
    std::vector<ConnectionRecord> connections = ReadConnections(list);
    // A name the library placed outside the buffer it was given is not read:
    // the answer is wrong and the list is not shown.
    for (const ConnectionRecord &connection : connections)
        if (!PointsIntoList(list, connection.connectedShare)) {
            ReportApiError(NDDE_INTERNAL_ERROR);
            return false;
        }
    HWND connectionList = form[lbxConnList];
    for (const ConnectionRecord &connection : connections) {
        // The buffer's last byte is NUL, so the copy ends inside it.
        std::string share(ShareTextLength, ' ');
        kernel32::lstrcpynA(&share[0], (LPCSTR)(UINT_PTR)connection.connectedShare, ShareTextLength);
        share.resize(lstrlenA(share.c_str()));
        ListAddItem(connectionList, share);
    }
    if (list.count > 0)
        FitListHorizontalExtent(connectionList);
    return true;
}

static void Form_Load()
{
    PlaceDialog(form, dlgListSessions::form, PlaceBesideDialog);
    SetText(form.hwnd, CommandTitle());
    form.bError = !FillConnectionList();
}

static void btnOK_Click()
{
    UnloadForm(form);
}

static void Form_Unload()
{
    ReleaseForm(form);
}

static const ControlDesign controls[] = {
    {Label, "Label1", "Servers w/Client Connection:", 16, 16, 161, 17},
    {SortedListBox, "lbxConnList", "", 14, 32, 161, 121},
    {CommandButton, "btnOK", "OK", 192, 16, 72, 21, DefaultButton | CancelButton},
};

static const EventBinding events[] = {
    {btnOK, Click, btnOK_Click},
};

static const FormDesign design = {
    .name = "dlgListConnections",
    .caption = "Session",
    .border = FixedDialog,
    .units = Pixels,
    .left = 36, .top = 55, .width = 276, .height = 170,
    .controls = Table(controls),
    .events = Table(events),
    .load = Form_Load,
    .unload = Form_Unload,
};

Form form = {design};

}
