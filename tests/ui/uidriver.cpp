// The window driver (see uidriver.h).
// Newer Win32 calls than the products use: the driver only runs in tests.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0501
#undef WINVER
#define WINVER 0x0501
#include "uidriver.h"

#include <algorithm>

namespace ui {

// A reply slower than this means the program hangs.
const UINT ReplyTimeout = 10000;
// Control ids of the system's message box: its text and its icon.
const int MessageBoxTextId = 0xFFFF;
const int MessageBoxIconId = 1088;

// ---- Files -----------------------------------------------------------------------

std::string driverDirectory()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(NULL, path, sizeof path);
    std::string directory(path);
    return directory.substr(0, directory.find_last_of("\\/") + 1);
}

std::string pathBeside(const std::string &fileName)
{
    return driverDirectory() + fileName;
}

static std::string baseName(const std::string &path)
{
    return path.substr(path.find_last_of("\\/") + 1);
}

void removeDirectory(const std::string &directory)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((directory + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(directory.c_str());
}

std::string makeScratchDirectory(const std::string &name)
{
    char temporary[MAX_PATH] = "";
    GetTempPathA(sizeof temporary, temporary);
    std::string directory = std::string(temporary) + "ndde-" + name + "\\";
    removeDirectory(directory);
    CreateDirectoryA(directory.c_str(), NULL);
    return directory;
}

bool copyFileInto(const std::string &source, const std::string &directory)
{
    return CopyFileA(source.c_str(), (directory + baseName(source)).c_str(), FALSE) != 0;
}

// ---- Programs ------------------------------------------------------------------------

Program::~Program()
{
    stop();
}

bool Program::start(const std::string &path, const std::string &arguments, const std::string &directory)
{
    stop();
    std::string commandLine = "\"" + path + "\"";
    if (!arguments.empty())
        commandLine += " " + arguments;
    std::string workingDirectory = directory.empty() ? path.substr(0, path.find_last_of("\\/") + 1) : directory;
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    if (!CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, workingDirectory.c_str(),
                        &startup, &started))
        return false;
    CloseHandle(started.hThread);
    process_ = started.hProcess;
    processId_ = started.dwProcessId;
    threadId_ = started.dwThreadId;
    WaitForInputIdle(process_, DefaultTimeout);
    return true;
}

bool Program::isRunning() const
{
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool Program::waitForExit(DWORD *exitCode, DWORD timeout)
{
    if (!process_)
        return false;
    if (!waitUntil([this] { return !isRunning(); }, timeout))
        return false;
    if (exitCode)
        GetExitCodeProcess(process_, exitCode);
    return true;
}

void Program::stop()
{
    if (!process_)
        return;
    if (isRunning()) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, DefaultTimeout);
    }
    CloseHandle(process_);
    process_ = NULL;
}

// ---- Waiting -------------------------------------------------------------------------

void pump(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds)
            return;
        MsgWaitForMultipleObjects(0, NULL, FALSE, milliseconds - elapsed, QS_ALLINPUT);
    }
}

bool waitUntil(const std::function<bool()> &condition, DWORD timeout)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start >= timeout)
            return condition();
        pump(20);
    }
}

// ---- Finding windows ----------------------------------------------------------------

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

static BOOL CALLBACK collectWindow(HWND window, LPARAM lParam)
{
    WindowSearch *search = (WindowSearch *)lParam;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == search->processId && IsWindowVisible(window))
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> topLevelWindows(DWORD processId)
{
    WindowSearch search = { processId, {} };
    EnumWindows(collectWindow, (LPARAM)&search);
    return search.found;
}

static bool isMessageBox(HWND window)
{
    return className(window) == "#32770" && GetDlgItem(window, MessageBoxTextId) &&
           GetDlgItem(window, MessageBoxIconId);
}

static HWND findWindow(DWORD processId, const std::function<bool(HWND)> &matches, DWORD timeout)
{
    HWND result = NULL;
    waitUntil([&] {
        for (HWND window : topLevelWindows(processId)) {
            if (matches(window)) {
                result = window;
                return true;
            }
        }
        return false;
    }, timeout);
    return result;
}

HWND waitForWindow(DWORD processId, const char *windowClass, const char *title, DWORD timeout)
{
    return findWindow(processId, [&](HWND window) {
        return (!windowClass || lstrcmpiA(className(window).c_str(), windowClass) == 0) &&
               (!title || text(window) == title);
    }, timeout);
}

HWND waitForDialog(DWORD processId, const std::string &caption, DWORD timeout)
{
    return findWindow(processId, [&](HWND window) {
        return className(window) == "#32770" && !isMessageBox(window) && text(window) == caption;
    }, timeout);
}

static BOOL CALLBACK collectChild(HWND window, LPARAM found)
{
    ((std::vector<HWND> *)found)->push_back(window);
    return TRUE;
}

std::vector<HWND> children(HWND parent)
{
    std::vector<HWND> found;
    EnumChildWindows(parent, collectChild, (LPARAM)&found);
    return found;
}

bool waitForWindowToClose(HWND window, DWORD timeout)
{
    return waitUntil([window] { return !IsWindow(window) || !IsWindowVisible(window); }, timeout);
}

// ---- Reading windows --------------------------------------------------------------------

static LRESULT sendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT failed = -1)
{
    DWORD_PTR result = 0;
    if (!window || !SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, ReplyTimeout, &result))
        return failed;
    return (LRESULT)result;
}

// Lines of list and combo boxes of another process come back as UTF-16
// from the ANSI messages, so they are asked for in UTF-16 and converted.
static std::string wideLine(HWND control, UINT lengthMessage, UINT textMessage, int index)
{
    LRESULT length = sendWithTimeout(control, lengthMessage, index, 0);
    if (length < 0)
        return std::string();
    // The line may change between the two messages (a window that redraws
    // its list): the buffer has room for a longer one.
    const LRESULT MinimumRoom = 8192;
    std::vector<WCHAR> wide(std::max(length * 2 + 2, MinimumRoom), 0);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(control, textMessage, index, (LPARAM)wide.data(), SMTO_NORMAL, ReplyTimeout, &result))
        return std::string();
    std::vector<char> narrow(wide.size() * 2 + 1, 0);
    WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, narrow.data(), (int)narrow.size() - 1, NULL, NULL);
    return std::string(narrow.data());
}

std::string text(HWND window)
{
    std::vector<char> buffer(4096, 0);
    if (sendWithTimeout(window, WM_GETTEXT, buffer.size(), (LPARAM)buffer.data()) < 0)
        return std::string();
    return std::string(buffer.data());
}

std::string text(HWND parent, int controlId)
{
    return text(GetDlgItem(parent, controlId));
}

std::string className(HWND window)
{
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

LONG style(HWND window)
{
    return GetWindowLongA(window, GWL_STYLE);
}

LONG style(HWND parent, int controlId)
{
    return style(GetDlgItem(parent, controlId));
}

bool isEnabled(HWND parent, int controlId)
{
    return IsWindowEnabled(GetDlgItem(parent, controlId)) != 0;
}

RECT clientRect(HWND window)
{
    RECT rect = { 0, 0, 0, 0 };
    GetClientRect(window, &rect);
    return rect;
}

HWND owner(HWND window)
{
    return GetWindow(window, GW_OWNER);
}

HWND focusedWindow(DWORD threadId)
{
    GUITHREADINFO info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(threadId, &info) ? info.hwndFocus : NULL;
}

bool isDefaultButton(HWND parent, int controlId)
{
    return (style(parent, controlId) & 0x0F) == BS_DEFPUSHBUTTON;
}

bool isChecked(HWND parent, int controlId)
{
    return sendWithTimeout(GetDlgItem(parent, controlId), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// ---- Acting on windows -------------------------------------------------------------------

bool chooseCommand(HWND window, int commandId)
{
    return PostMessageA(window, WM_COMMAND, MAKEWPARAM(commandId, 0), 0) != 0;
}

static void keyEvent(WORD virtualKey, DWORD flags)
{
    keybd_event((BYTE)virtualKey, (BYTE)MapVirtualKeyA(virtualKey, 0), flags, 0);
}

bool bringToFront(HWND window)
{
    SetForegroundWindow(window);
    return waitUntil([window] { return GetForegroundWindow() == window; }, 5000);
}

bool pressKey(HWND window, WORD virtualKey, bool withAlt)
{
    if (!bringToFront(window))
        return false;
    if (withAlt)
        keyEvent(VK_MENU, 0);
    keyEvent(virtualKey, 0);
    keyEvent(virtualKey, KEYEVENTF_KEYUP);
    if (withAlt)
        keyEvent(VK_MENU, KEYEVENTF_KEYUP);
    return true;
}

bool clickButton(HWND parent, int controlId)
{
    HWND button = GetDlgItem(parent, controlId);
    if (!button || !IsWindowEnabled(button) || !IsWindowVisible(button))
        return false;
    return PostMessageA(button, BM_CLICK, 0, 0) != 0;
}

bool setText(HWND parent, int controlId, const std::string &value)
{
    HWND control = GetDlgItem(parent, controlId);
    return control && sendWithTimeout(control, WM_SETTEXT, 0, (LPARAM)value.c_str(), 0) != 0;
}

bool typeText(HWND parent, int controlId, const std::string &text)
{
    HWND edit = GetDlgItem(parent, controlId);
    DWORD_PTR result;
    if (!edit || !SendMessageTimeoutA(edit, EM_SETSEL, 0, -1, SMTO_NORMAL, ReplyTimeout, &result) ||
        !SendMessageTimeoutA(edit, WM_CLEAR, 0, 0, SMTO_NORMAL, ReplyTimeout, &result))
        return false;
    for (char character : text)
        if (!SendMessageTimeoutA(edit, WM_CHAR, (BYTE)character, 1, SMTO_NORMAL, ReplyTimeout, &result))
            return false;
    return true;
}

void allowLowerCase(HWND parent, int controlId)
{
    HWND edit = GetDlgItem(parent, controlId);
    SetWindowLongA(edit, GWL_STYLE, GetWindowLongA(edit, GWL_STYLE) & ~ES_UPPERCASE);
}

bool setChecked(HWND parent, int controlId, bool checked)
{
    if (isChecked(parent, controlId) == checked)
        return true;
    return clickButton(parent, controlId) &&
           waitUntil([&] { return isChecked(parent, controlId) == checked; }, 5000);
}

bool closeWindow(HWND window)
{
    return PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0) != 0;
}

// ---- Lists and combo boxes ------------------------------------------------------------------

int listCount(HWND parent, int listId)
{
    return (int)sendWithTimeout(GetDlgItem(parent, listId), LB_GETCOUNT, 0, 0);
}

std::string listLine(HWND parent, int listId, int index)
{
    return wideLine(GetDlgItem(parent, listId), LB_GETTEXTLEN, LB_GETTEXT, index);
}

std::vector<std::string> listLines(HWND parent, int listId)
{
    std::vector<std::string> lines;
    int count = listCount(parent, listId);
    for (int i = 0; i < count; ++i)
        lines.push_back(listLine(parent, listId, i));
    return lines;
}

LRESULT listData(HWND parent, int listId, int index)
{
    return sendWithTimeout(GetDlgItem(parent, listId), LB_GETITEMDATA, index, 0);
}

int listSelection(HWND parent, int listId)
{
    return (int)sendWithTimeout(GetDlgItem(parent, listId), LB_GETCURSEL, 0, 0);
}

int listHorizontalExtent(HWND parent, int listId)
{
    return (int)sendWithTimeout(GetDlgItem(parent, listId), LB_GETHORIZONTALEXTENT, 0, 0);
}

bool notifyParent(HWND parent, int controlId, WORD notification)
{
    return PostMessageA(parent, WM_COMMAND, MAKEWPARAM(controlId, notification),
                        (LPARAM)GetDlgItem(parent, controlId)) != 0;
}

bool selectListLine(HWND parent, int listId, int index)
{
    HWND list = GetDlgItem(parent, listId);
    if (!list || sendWithTimeout(list, LB_SETCURSEL, index, 0) != index)
        return false;
    return notifyParent(parent, listId, LBN_SELCHANGE);
}

bool doubleClickListLine(HWND parent, int listId, int index)
{
    return selectListLine(parent, listId, index) && notifyParent(parent, listId, LBN_DBLCLK);
}

int comboCount(HWND parent, int comboId)
{
    return (int)sendWithTimeout(GetDlgItem(parent, comboId), CB_GETCOUNT, 0, 0);
}

std::string comboLine(HWND parent, int comboId, int index)
{
    return wideLine(GetDlgItem(parent, comboId), CB_GETLBTEXTLEN, CB_GETLBTEXT, index);
}

std::vector<std::string> comboLines(HWND parent, int comboId)
{
    std::vector<std::string> lines;
    int count = comboCount(parent, comboId);
    for (int i = 0; i < count; ++i)
        lines.push_back(comboLine(parent, comboId, i));
    return lines;
}

int comboSelection(HWND parent, int comboId)
{
    return (int)sendWithTimeout(GetDlgItem(parent, comboId), CB_GETCURSEL, 0, 0);
}

bool selectComboLine(HWND parent, int comboId, int index)
{
    HWND combo = GetDlgItem(parent, comboId);
    if (!combo || sendWithTimeout(combo, CB_SETCURSEL, index, 0) != index)
        return false;
    return notifyParent(parent, comboId, CBN_SELCHANGE);
}

// ---- Message boxes -----------------------------------------------------------------------

// The pixels of a screen rectangle, 32 bits each.
static std::vector<DWORD> capture(HDC source, int left, int top, int width, int height)
{
    std::vector<DWORD> pixels(width * height, 0);
    BITMAPINFO format;
    ZeroMemory(&format, sizeof format);
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    void *bits = NULL;
    HBITMAP picture = CreateDIBSection(source, &format, DIB_RGB_COLORS, &bits, NULL, 0);
    if (!picture)
        return pixels;
    HDC memory = CreateCompatibleDC(source);
    HGDIOBJ previous = SelectObject(memory, picture);
    BitBlt(memory, 0, 0, width, height, source, left, top, SRCCOPY);
    GdiFlush();
    memcpy(pixels.data(), bits, pixels.size() * sizeof(DWORD));
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(picture);
    return pixels;
}

// The system icon drawn over a background colour, as a static control
// draws it.
static std::vector<DWORD> render(HICON icon, DWORD background, int width, int height)
{
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, canvas);
    HBRUSH fill = CreateSolidBrush(RGB(GetRValue(background), GetGValue(background), GetBValue(background)));
    RECT area = { 0, 0, width, height };
    FillRect(memory, &area, fill);
    DeleteObject(fill);
    DrawIconEx(memory, 0, 0, icon, width, height, 0, NULL, DI_NORMAL);
    std::vector<DWORD> pixels = capture(memory, 0, 0, width, height);
    SelectObject(memory, previous);
    DeleteObject(canvas);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return pixels;
}

// Icon handles belong to the process that loaded them, so the shown icon is
// recognised by its picture: the screen under the icon control is compared
// with each system icon drawn over the same background.
static Icon iconOf(HWND box)
{
    HWND iconControl = GetDlgItem(box, MessageBoxIconId);
    if (!iconControl || !IsWindowVisible(iconControl) || !sendWithTimeout(iconControl, STM_GETICON, 0, 0, 0))
        return Icon::None;
    RECT area;
    GetWindowRect(iconControl, &area);
    int width = area.right - area.left;
    int height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return Icon::None;
    const struct {
        Icon icon;
        LPCTSTR name;
    } candidates[] = {
        { Icon::Information, IDI_ASTERISK },
        { Icon::Exclamation, IDI_EXCLAMATION },
        { Icon::Question, IDI_QUESTION },
        { Icon::Stop, IDI_HAND },
    };
    Icon best = Icon::None;
    // Wait for the box to be painted: the picture must match one icon well.
    waitUntil([&] {
        HDC screen = GetDC(NULL);
        std::vector<DWORD> shown = capture(screen, area.left, area.top, width, height);
        ReleaseDC(NULL, screen);
        size_t fewestDifferences = shown.size() / 20 + 1;
        best = Icon::None;
        for (const auto &candidate : candidates) {
            std::vector<DWORD> drawn = render(LoadIcon(NULL, candidate.name), shown[0], width, height);
            size_t differences = 0;
            for (size_t i = 0; i < shown.size(); ++i)
                differences += (shown[i] & 0xFFFFFF) != (drawn[i] & 0xFFFFFF);
            if (differences < fewestDifferences) {
                fewestDifferences = differences;
                best = candidate.icon;
            }
        }
        return best != Icon::None;
    }, 3000);
    return best;
}

std::vector<DWORD> captureClientArea(HWND window, int &width, int &height)
{
    RECT area = clientRect(window);
    POINT origin = { 0, 0 };
    ClientToScreen(window, &origin);
    width = area.right;
    height = area.bottom;
    HDC screen = GetDC(NULL);
    std::vector<DWORD> pixels = capture(screen, origin.x, origin.y, width, height);
    ReleaseDC(NULL, screen);
    for (DWORD &pixel : pixels)
        pixel &= 0xFFFFFF;
    return pixels;
}

bool saveScreen(const std::string &path)
{
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(NULL);
    std::vector<DWORD> pixels = capture(screen, 0, 0, width, height);
    ReleaseDC(NULL, screen);

    int rowSize = (width * 3 + 3) & ~3;
    std::vector<BYTE> rows(rowSize * height, 0);
    for (int y = 0; y < height; ++y) {
        BYTE *row = &rows[(height - 1 - y) * rowSize];  // bottom-up
        for (int x = 0; x < width; ++x) {
            DWORD pixel = pixels[y * width + x];
            row[3 * x] = (BYTE)pixel;
            row[3 * x + 1] = (BYTE)(pixel >> 8);
            row[3 * x + 2] = (BYTE)(pixel >> 16);
        }
    }
    BITMAPINFOHEADER info;
    ZeroMemory(&info, sizeof info);
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = (DWORD)rows.size();
    BITMAPFILEHEADER header;
    ZeroMemory(&header, sizeof header);
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + info.biSizeImage;

    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool saved = WriteFile(file, &header, sizeof header, &written, NULL) &&
                 WriteFile(file, &info, sizeof info, &written, NULL) &&
                 WriteFile(file, rows.data(), (DWORD)rows.size(), &written, NULL);
    CloseHandle(file);
    return saved;
}

bool hasMessageBox(DWORD processId)
{
    for (HWND window : topLevelWindows(processId))
        if (isMessageBox(window))
            return true;
    return false;
}

bool waitForMessageBox(DWORD processId, MessageBoxView &box, DWORD timeout)
{
    HWND window = findWindow(processId, isMessageBox, timeout);
    if (!window)
        return false;
    box = MessageBoxView();
    box.window = window;
    box.owner = owner(window);
    box.caption = text(window);
    box.text = text(window, MessageBoxTextId);
    box.icon = iconOf(window);
    for (int id = IDOK; id <= IDCONTINUE; ++id) {
        HWND button = GetDlgItem(window, id);
        if (button && IsWindowVisible(button))
            box.buttons.push_back(id);
    }
    return true;
}

bool answerMessageBox(const MessageBoxView &box, int buttonId)
{
    return clickButton(box.window, buttonId) && waitForWindowToClose(box.window);
}

// ---- Help engine stand-in -------------------------------------------------------------------

// What WinHelpA hands the help engine in WM_COPYDATA.
const ULONG_PTR HelpRequestTag = 0xA1DE505;
#pragma pack(push, 1)
struct HelpRequestBlock {
    WORD size;
    WORD command;
    LONG data;
    LONG reserved;
    WORD fileNameOffset;
    WORD dataOffset;
};
#pragma pack(pop)

static const char HelpEngineClass[] = "MS_WINHELP";

HelpEngineStandIn::HelpEngineStandIn()
{
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = HelpEngineClass;
    RegisterClassA(&windowClass);
    window_ = CreateWindowExA(0, HelpEngineClass, "help engine stand-in", WS_OVERLAPPED, 0, 0, 10, 10, NULL,
                              NULL, GetModuleHandleA(NULL), NULL);
    if (window_)
        SetWindowLongPtrA(window_, GWLP_USERDATA, (LONG_PTR)this);
}

HelpEngineStandIn::~HelpEngineStandIn()
{
    if (window_)
        DestroyWindow(window_);
}

LRESULT CALLBACK HelpEngineStandIn::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    HelpEngineStandIn *engine = (HelpEngineStandIn *)GetWindowLongPtrA(window, GWLP_USERDATA);
    const COPYDATASTRUCT *copy = (const COPYDATASTRUCT *)lParam;
    if (message != WM_COPYDATA || !engine || !copy || copy->dwData != HelpRequestTag ||
        copy->cbData < sizeof(HelpRequestBlock))
        return DefWindowProcA(window, message, wParam, lParam);

    const HelpRequestBlock *block = (const HelpRequestBlock *)copy->lpData;
    HelpRequest request;
    request.command = block->command;
    request.caller = (HWND)wParam;
    if (block->fileNameOffset && block->fileNameOffset < copy->cbData) {
        const char *name = (const char *)copy->lpData + block->fileNameOffset;
        request.file.assign(name, strnlen(name, copy->cbData - block->fileNameOffset));
    }
    engine->requests.push_back(request);
    if (engine->onRequest)
        engine->onRequest(request);
    return TRUE;
}

} // namespace ui
