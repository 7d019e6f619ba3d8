// quorvstat: start-up, the main window with its banner, the menu commands,
// Show Name and the About box.
#include "quorvstat.h"

HINSTANCE programInstance;
HWND mainWindow;

// The banner's 48-point face, made once with the main window.
static HFONT bannerFont;

// Reads string `id` into `text` (`size` bytes).
static void loadText(UINT id, LPSTR text, int size)
{
    text[0] = '\0';
    LoadStringA(programInstance, id, text, size);
}

static BOOL readBannerSize(SIZE *size)
{
    HBITMAP banner = LoadBitmapA(programInstance, MAKEINTRESOURCEA(IDB_BANNER));
    BITMAP picture;
    BOOL loaded = banner && GetObjectA(banner, sizeof picture, &picture) == sizeof picture;
    if (loaded) {
        size->cx = picture.bmWidth;
        size->cy = picture.bmHeight;
    }
    if (banner)
        DeleteObject(banner);
    return loaded;
}

// Sizes the window so that its client area holds the banner picture, and
// makes the banner font.
static void createMainWindow(HWND window)
{
    SIZE banner = { 400, 300 };
    readBannerSize(&banner);

    HDC context = GetDC(window);
    SetMapMode(context, MM_TEXT);
    POINT extent = { banner.cx, banner.cy };
    DPtoLP(context, &extent, 1);
    int pixelsPerInchY = GetDeviceCaps(context, LOGPIXELSY);
    ReleaseDC(window, context);

    // The outer size follows from the frame this window really has (a dialog
    // frame, a caption and the menu bar), so the client area is exactly the
    // picture on every system.
    RECT outer = { 0, 0, extent.x, extent.y };
    AdjustWindowRectEx(&outer, GetWindowLongA(window, GWL_STYLE), TRUE, GetWindowLongA(window, GWL_EXSTYLE));
    SetWindowPos(window, NULL, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOZORDER | SWP_NOMOVE);

    if (!bannerFont) {
        LOGFONTA face;
        GetObjectA(GetStockObject(SYSTEM_FONT), sizeof face, &face);
        face.lfHeight = -(48 * pixelsPerInchY) / 72;
        face.lfWidth = 0;
        face.lfWeight = FW_BOLD;
        face.lfItalic = TRUE;
        loadText(IDS_BANNER_FONT, face.lfFaceName, sizeof face.lfFaceName);
        bannerFont = CreateFontIndirectA(&face);
    }
}

// Paints the banner picture in the active-caption colour and the product
// name over it.
static void paintMainWindow(HWND window)
{
    PAINTSTRUCT paint;
    HDC context = BeginPaint(window, &paint);
    SetMapMode(context, MM_TEXT);

    HBITMAP banner = LoadBitmapA(programInstance, MAKEINTRESOURCEA(IDB_BANNER));
    BITMAP picture;
    if (banner && GetObjectA(banner, sizeof picture, &picture) == sizeof picture) {
        HDC pictureContext = CreateCompatibleDC(context);
        HGDIOBJ previousPicture = SelectObject(pictureContext, banner);
        HBRUSH captionBrush = CreateSolidBrush(GetSysColor(COLOR_ACTIVECAPTION));
        HGDIOBJ previousBrush = SelectObject(context, captionBrush);
        // Pattern OR source: the picture's black parts take the brush colour,
        // its white parts stay white.
        BitBlt(context, 0, 0, picture.bmWidth, picture.bmHeight, pictureContext, 0, 0, 0x00FC008A);
        SelectObject(pictureContext, previousPicture);
        DeleteDC(pictureContext);
        SelectObject(context, previousBrush);
        DeleteObject(captionBrush);
    }
    if (banner)
        DeleteObject(banner);

    // A band centred at a quarter of the client height.
    RECT band;
    GetClientRect(window, &band);
    int height = band.bottom;
    band.bottom = height / 2;
    InflateRect(&band, 0, (height / 2) / 4);

    char productName[16];
    loadText(IDS_CLASS_NAME, productName, sizeof productName);
    HGDIOBJ previousFont = SelectObject(context, bannerFont);
    SetTextColor(context, RGB(255, 0, 0));
    SetBkMode(context, TRANSPARENT);
    DrawTextA(context, productName, -1, &band, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    SelectObject(context, previousFont);

    EndPaint(window, &paint);
}

static void showNodeName(HWND window)
{
    char nodeName[16] = "";
    UINT code = NDdeGetNodeName(nodeName, sizeof nodeName);
    if (code != NDDE_NO_ERROR) {
        reportApiError(code);
        return;
    }
    nodeName[sizeof nodeName - 1] = '\0';

    char message[FormattedTextSize];
    formatResourceString(message, IDS_NODE_NAME, nodeName);
    char caption[TitleBufferSize];
    GetDlgItemTextA(window, IDC_TITLE_SLOT, caption, sizeof caption);
    MessageBoxA(window, message, caption, MB_OK | MB_ICONINFORMATION);
}

static void openHelp(HWND window, UINT helpFileId)
{
    char helpFile[32];
    loadText(helpFileId, helpFile, sizeof helpFile);
    WinHelpA(window, helpFile, HELP_CONTENTS, 0);
}

static INT_PTR CALLBACK aboutDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        captionFromTitle(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, wParam);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

static void runDialog(HWND owner, int templateId, DLGPROC procedure)
{
    DialogBoxParamA(programInstance, MAKEINTRESOURCEA(templateId), owner, procedure, 0);
}

static void runCommand(HWND window, UINT commandId)
{
    setTitleFromMenu(window, commandId);
    switch (commandId) {
    case IDM_LIST_SHARES: runDialog(window, IDD_SHARE_LIST, shareListDialog); break;
    case IDM_LIST_SESSIONS: runDialog(window, IDD_SESSION_LIST, sessionListDialog); break;
    case IDM_SHOW_NAME: showNodeName(window); break;
    case IDM_LIST_TASKS: runDialog(window, IDD_TASK_LIST, taskListDialog); break;
    case IDM_CHECK_NETDDE: runDialog(window, IDD_TASK_PROPERTIES, taskPropertiesDialog); break;
    case IDM_SELECT_COMPUTER: runDialog(window, IDD_SELECT_COMPUTER, selectComputerDialog); break;
    case IDM_EXIT: PostMessageA(window, WM_CLOSE, 0, 0); break;
    case IDM_HELP_CONTENTS: openHelp(window, IDS_HELP_FILE); break;
    case IDM_HELP_ON_HELP: openHelp(window, IDS_HELP_ON_HELP_FILE); break;
    case IDM_ABOUT: runDialog(window, IDD_ABOUT, aboutDialog); break;
    }
    SetDlgItemTextA(window, IDC_TITLE_SLOT, "");
}

static LRESULT CALLBACK mainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        createMainWindow(window);
        return 0;
    case WM_PAINT:
        paintMainWindow(window);
        return 0;
    case WM_COMMAND:
        runCommand(window, LOWORD(wParam));
        return 0;
    case WM_CLOSE:
        // Close this program's help before the window goes.
        WinHelpA(window, NULL, HELP_QUIT, 0);
        break;
    case WM_DESTROY:
        if (bannerFont)
            DeleteObject(bannerFont);
        bannerFont = NULL;
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static void registerMainWindowClass()
{
    char className[16];
    loadText(IDS_CLASS_NAME, className, sizeof className);
    WNDCLASSA windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProcedure;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = programInstance;
    windowClass.hIcon = LoadIconA(programInstance, MAKEINTRESOURCEA(IDI_PROGRAM));
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAIN_MENU);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showState)
{
    programInstance = instance;
    if (!previousInstance)
        registerMainWindowClass();
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));

    // The class's window procedure serves the window made from the template.
    mainWindow = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAIN_WINDOW), NULL, NULL, 0);
    if (!IsWindow(mainWindow))
        return 0;
    ShowWindow(GetDlgItem(mainWindow, IDC_TITLE_SLOT), SW_HIDE);
    selectComputerFromCommandLine(commandLine);
    ShowWindow(mainWindow, showState);
    UpdateWindow(mainWindow);

    MSG message = {};
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        if (!TranslateAcceleratorA(mainWindow, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return (int)message.wParam;
}
