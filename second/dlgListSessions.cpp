// dlgListSessions: the Network DDE sessions of this machine, one line per
// session (the client's name, the session id as the line's value), with
// "Clients..." for the shares a session's client uses and "Close" to end a
// session.
#include "marrowby.h"
#include "modLists.h"
#include "modMain.h"

namespace dlgListSessions {

// A SessionEntry as the dialog reads it from the library's buffer.
struct SessionRecord {
    std::string clientName;
    short sessionWord;      // carried along, not shown
    LONG sessionId;
};

const DWORD SessionEntrySize = 24;
const DWORD ClientNameField = 18;       // bytes 0-17 of an entry
const DWORD SessionWordOffset = 18;
const DWORD SessionIdOffset = 20;

static std::vector<SessionRecord> ReadSessions(const ListBuffer &list)
{
    std::vector<SessionRecord> sessions;
    for (DWORD i = 0; i < list.count; i++) {
        DWORD entry = SessionEntrySize * i;
        sessions.push_back({ReadListName(list, entry, ClientNameField), ReadListInt16(list, entry + SessionWordOffset),
                            ReadListInt32(list, entry + SessionIdOffset)});
    }
    return sessions;
}

static bool FillSessionList()
{
    ListBuffer list;
    if (!ReadList(SessionEntrySize, list, [](LPBYTE buffer, DWORD size, LPDWORD total, LPDWORD count) {
            return Tessaflat::NDdeSessionEnum(ManagedServer(), 1, buffer, size, total, count);
        }))
        return false;
    HWND sessionList = form[lbxSessList];
    for (const SessionRecord &session : ReadSessions(list))
        ListAddItem(sessionList, TrimNulSpace(session.clientName), (DWORD)session.sessionId);
    if (list.count > 0)
        FitListHorizontalExtent(sessionList);
    return true;
}

// Ends the session of a line: the client's name and the session id.
static UINT CloseSession(std::string &clientName, DWORD sessionId)
{
    return Tessaflat::NDdeSessionClose(ManagedServer(), &clientName[0], (LONG)sessionId);
}

static void Form_Load()
{
    PlaceDialog(form, wndMain::form, PlaceBesideMain);
    SetText(form.hwnd, CommandTitle());
    form.bError = !FillSessionList();
}

static void lbxSessList_Click()
{
    EnableWindow(form[btnClose], TRUE);
    EnableWindow(form[btnClients], TRUE);
}

static void btnClients_Click()
{
    OpenCommandDialog(dlgListConnections::form, form, GetText(form[btnClients]));
}

static void lbxSessList_DblClick()
{
    btnClients_Click();
}

static void btnClose_Click()
{
    RemoveSelectedLineWithButtons(form, lbxSessList, "Close session", CloseSession, btnClients, btnClose);
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
    {Label, "Label1", "Current Sessions:", 16, 16, 161, 17},
    {SortedListBox, "lbxSessList", "", 16, 32, 161, 121},
    {CommandButton, "btnClients", "Clients...", 192, 16, 72, 21, DefaultButton | Disabled},
    {CommandButton, "btnClose", "Close", 192, 48, 72, 21, Disabled},
    {CommandButton, "btnCancel", "Cancel", 192, 80, 72, 21, CancelButton},
};

static const EventBinding events[] = {
    {lbxSessList, Click, lbxSessList_Click},
    {lbxSessList, DblClick, lbxSessList_DblClick},
    {btnClients, Click, btnClients_Click},
    {btnClose, Click, btnClose_Click},
    {btnCancel, Click, btnCancel_Click},
};

static const FormDesign design = {
    .name = "dlgListSessions",
    .caption = "Sessions",
    .border = FixedDialog,
    .units = Pixels,
    .left = 36, .top = 55, .width = 277, .height = 171,
    .controls = Table(controls),
    .events = Table(events),
    .load = Form_Load,
    .unload = Form_Unload,
};

Form form = {design};

}
