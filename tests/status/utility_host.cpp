// The utility host (see utility_host.h): the status program's utilities,
// run one request at a time on a test dialog, so that the driver can check
// what each does to real windows.
#include <string>

#include "quorvstat.h"
#include "utility_host.h"

HINSTANCE programInstance;
HWND mainWindow;

static void showEvent(HWND dialog, const std::string &event)
{
    SetDlgItemTextA(dialog, IDC_HOST_EVENT, event.c_str());
}

static std::string valueText(HWND dialog)
{
    char value[512] = "";
    GetDlgItemTextA(dialog, IDC_HOST_VALUE, value, sizeof value);
    return value;
}

static LRESULT cursorRequest(WPARAM action)
{
    switch (action) {
    case CursorSetCross: SetCursor(LoadCursor(NULL, IDC_CROSS)); break;
    case CursorBeginWait: beginWaitCursor(); break;
    case CursorEndWait: endWaitCursor(); break;
    }
    HCURSOR current = GetCursor();
    if (current == LoadCursor(NULL, IDC_ARROW))
        return CursorArrow;
    if (current == LoadCursor(NULL, IDC_WAIT))
        return CursorWait;
    if (current == LoadCursor(NULL, IDC_CROSS))
        return CursorCross;
    return CursorOther;
}

// ---- Scripted enumeration calls ---------------------------------------------------

struct GrowScript {
    int scenario;
    int calls;
    std::string sizes;
    bool blocksZeroFilled;
};

static bool isZeroFilled(const EnumerationBuffer *buffer)
{
    for (DWORD i = 0; i < buffer->size; ++i)
        if (buffer->data[i] != 0)
            return false;
    return true;
}

// Answers as a library would in each scenario; `request` is the script.
static UINT scriptedCall(EnumerationBuffer *buffer, const void *request)
{
    GrowScript *script = (GrowScript *)request;
    ++script->calls;
    script->sizes += (script->sizes.empty() ? "" : ",") + std::to_string(buffer->size);
    if (buffer->size > 0 && (!buffer->data || !isZeroFilled(buffer)))
        script->blocksZeroFilled = false;
    if (buffer->size == 0 && buffer->data)
        script->blocksZeroFilled = false;

    DWORD needed = 0;
    switch (script->scenario) {
    case GrowNamesFitSecond:
    case GrowNamesNoProgress:
        buffer->totalAvailable = 30;
        buffer->entriesRead = 0;
        needed = script->scenario == GrowNamesFitSecond ? 30 : MAXDWORD;
        break;
    case GrowShareRecord:
        buffer->totalAvailable = 300;
        buffer->itemCount = 3;
        needed = 300;
        break;
    case GrowSessionsWithoutCount:
        buffer->totalAvailable = 24;
        buffer->entriesRead = 0;
        needed = MAXDWORD;
        break;
    case GrowSessions:
        buffer->totalAvailable = 48;
        buffer->entriesRead = 2;
        needed = 48;
        break;
    case GrowConnections:
        buffer->totalAvailable = 40;
        buffer->entriesRead = 2;
        needed = 40;
        break;
    case GrowHugeTotal:
        buffer->totalAvailable = MAXDWORD;
        needed = MAXDWORD;
        break;
    case GrowEverGrowing:
        buffer->totalAvailable = 10 * script->calls;
        needed = MAXDWORD;
        break;
    default:
        return NDDE_SHARE_NOT_EXIST;
    }
    if (buffer->size < needed)
        return NDDE_BUF_TOO_SMALL;
    FillMemory(buffer->data, buffer->size, 0x5A);
    return NDDE_NO_ERROR;
}

static BufferSizeRule ruleOf(int scenario)
{
    switch (scenario) {
    case GrowShareRecord: return ShareRecordSize;
    case GrowSessionsWithoutCount:
    case GrowSessions: return SessionListSize;
    case GrowConnections: return ConnectionListSize;
    }
    return ShareNamesSize;
}

static void growRequest(HWND dialog, int scenario)
{
    GrowScript script = { scenario, 0, "", true };
    EnumerationBuffer buffer;
    BOOL read = readWithGrowingBuffer(&buffer, ruleOf(scenario), scriptedCall, &script);
    // On success the filled block is still held and readable.
    bool held = read && buffer.data && buffer.data[0] == 0x5A && buffer.data[buffer.size - 1] == 0x5A;
    if (read)
        releaseEnumerationBuffer(&buffer);
    showEvent(dialog, "sizes " + script.sizes + " result " + std::to_string(read) + (held ? " held" : "") +
                          (script.blocksZeroFilled ? "" : " dirty"));
}

// ---- The dialog -------------------------------------------------------------------------

static void fillList(HWND dialog, int lineCount)
{
    SendDlgItemMessageA(dialog, IDC_SHARE_LIST, LB_RESETCONTENT, 0, 0);
    for (int i = 0; i < lineCount && i < 3; ++i)
        SendDlgItemMessageA(dialog, IDC_SHARE_LIST, LB_ADDSTRING, 0, (LPARAM)HostSampleLines[i]);
}

static LRESULT handleRequest(HWND dialog, UINT request, WPARAM wParam, LPARAM lParam)
{
    switch (request) {
    case HostEnableButton: enableDialogButton(dialog, (int)wParam, (BOOL)lParam); return 1;
    case HostFitList: fitListWidth(dialog, (int)wParam); return 1;
    case HostFillList: fillList(dialog, (int)wParam); return 1;
    case HostModes: return isEditMode(dialog) | isCheckMode(dialog) << 1;
    case HostHasSelection: return hasListSelection(dialog, (int)wParam);
    case HostReportInvalid:
        reportInvalidValue((int)wParam, valueText(dialog).c_str());
        showEvent(dialog, "reported kind " + std::to_string(wParam));
        return 1;
    case HostReportApiError:
        reportApiError((UINT)wParam);
        showEvent(dialog, "reported code " + std::to_string(wParam));
        return 1;
    case HostAsk:
        showEvent(dialog, "answer " + std::to_string(askDialogQuestion(dialog, IDS_DELETE_SHARE_QUESTION,
                                                                       valueText(dialog).c_str())));
        return 1;
    case HostNotice:
        showDialogNotice(dialog, IDS_ITEM_EXISTS, valueText(dialog).c_str());
        showEvent(dialog, "notice shown");
        return 1;
    case HostTitleFromControl: setTitleFromControl(GetDlgItem(dialog, (int)wParam)); return 1;
    case HostCaptionFromTitle: captionFromTitle(dialog); return 1;
    case HostCursor: return cursorRequest(wParam);
    case HostGrow: growRequest(dialog, (int)wParam); return 1;
    }
    return 0;
}

static INT_PTR CALLBACK hostDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    static const int selectionButtons[] = { IDC_EDIT_BUTTON, IDC_DELETE_BUTTON };
    if (message >= HostEnableButton && message <= HostGrow) {
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, handleRequest(dialog, message, wParam, lParam));
        return TRUE;
    }
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_SHARE_LIST:
            return handleListNotification(dialog, wParam, selectionButtons, 2, IDC_EDIT_BUTTON);
        case IDC_EDIT_BUTTON:
            showEvent(dialog, "edit clicked");
            return TRUE;
        case IDCANCEL:
            DestroyWindow(dialog);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        DestroyWindow(dialog);
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return TRUE;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState)
{
    programInstance = instance;
    mainWindow = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_UTILITY_HOST), NULL, hostDialog, 0);
    if (!mainWindow)
        return 1;
    ShowWindow(mainWindow, showState);
    MSG message = {};
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        if (!IsDialogMessageA(mainWindow, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return (int)message.wParam;
}
