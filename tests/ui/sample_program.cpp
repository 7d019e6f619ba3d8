// The driver's sample program: a window whose every reaction to the driver
// shows in its "last event" line, so the driver's own tests can see that
// each of its actions arrives the way a user's would.
#include <windows.h>

#include "sample_ids.h"

static void showEvent(HWND dialog, const char *format, int value)
{
    char event[64];
    wsprintfA(event, format, value);
    SetDlgItemTextA(dialog, IDC_LAST_EVENT, event);
}

static void fillLists(HWND dialog)
{
    char longLine[301];
    for (int i = 0; i < 300; ++i)
        longLine[i] = (char)('a' + i % 26);
    longLine[300] = '\0';
    const char *lines[] = { "alpha", "Gr\xF6\xDF" "e", longLine };
    for (const char *line : lines)
        SendDlgItemMessageA(dialog, IDC_SAMPLE_LIST, LB_ADDSTRING, 0, (LPARAM)line);
    SendDlgItemMessageA(dialog, IDC_SAMPLE_LIST, LB_SETITEMDATA, 1, 0x1234);
    const char *choices[] = { "one", "two", "three" };
    for (const char *choice : choices)
        SendDlgItemMessageA(dialog, IDC_SAMPLE_COMBO, CB_ADDSTRING, 0, (LPARAM)choice);
}

static void onCommand(HWND dialog, int id, int notification)
{
    switch (id) {
    case IDM_KEY_F5:
        showEvent(dialog, "F5 pressed", 0);
        break;
    case IDC_SAMPLE_LIST: {
        int selection = (int)SendDlgItemMessageA(dialog, IDC_SAMPLE_LIST, LB_GETCURSEL, 0, 0);
        if (notification == LBN_SELCHANGE)
            showEvent(dialog, "selected %d", selection);
        if (notification == LBN_DBLCLK)
            showEvent(dialog, "double-clicked %d", selection);
        break;
    }
    case IDC_SAMPLE_COMBO:
        if (notification == CBN_SELCHANGE)
            showEvent(dialog, "combo %d", (int)SendDlgItemMessageA(dialog, IDC_SAMPLE_COMBO, CB_GETCURSEL, 0, 0));
        break;
    case IDC_SHOW_INFORMATION:
        showEvent(dialog, "information answered %d",
                  MessageBoxA(dialog, "information text", "Information caption", MB_OK | MB_ICONINFORMATION));
        break;
    case IDC_SHOW_EXCLAMATION:
        showEvent(dialog, "exclamation answered %d",
                  MessageBoxA(NULL, "exclamation text", NULL, MB_OK | MB_ICONEXCLAMATION));
        break;
    case IDC_ASK_QUESTION:
        showEvent(dialog, "question answered %d",
                  MessageBoxA(dialog, "question text", "Question caption", MB_YESNO | MB_ICONQUESTION));
        break;
    case IDC_SHOW_STOP:
        showEvent(dialog, "stop answered %d", MessageBoxA(dialog, "stop text", "Stop caption", MB_OK | MB_ICONSTOP));
        break;
    case IDC_OPEN_HELP:
        showEvent(dialog, "help returned %d", WinHelpA(dialog, "sample.hlp", HELP_CONTENTS, 0));
        break;
    case IDC_DISABLED_BUTTON:
        showEvent(dialog, "disabled button clicked", 0);
        break;
    case IDC_SAMPLE_CHECK:
        showEvent(dialog, "check clicked", 0);
        break;
    case IDCANCEL:
        WinHelpA(dialog, NULL, HELP_QUIT, 0);
        DestroyWindow(dialog);
        break;
    }
}

static INT_PTR CALLBACK sampleDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        fillLists(dialog);
        return TRUE;
    case WM_COMMAND:
        onCommand(dialog, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        onCommand(dialog, IDCANCEL, 0);
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(7);
        return TRUE;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState)
{
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_SAMPLE), NULL, sampleDialog, 0);
    if (!dialog)
        return 1;
    HACCEL keys = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_SAMPLE_KEYS));
    ShowWindow(dialog, showState);
    MSG message = {};
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        if (TranslateAcceleratorA(dialog, keys, &message) || IsDialogMessageA(dialog, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}
