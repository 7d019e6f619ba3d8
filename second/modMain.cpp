// modMain: shared functions of Marrowby's forms and the library functions
// bound by name.
#include "modMain.h"

#include "marrowby.h"
#include "agentlink.h"

LibraryModule TessaflatModule = {"Tessaflat", nullptr};
LibraryModule user32Module = {"user32", nullptr};
LibraryModule kernel32Module = {"kernel32", nullptr};

namespace Tessaflat {
BoundFunction<decltype(&::NDdeShareAdd)> NDdeShareAdd(TessaflatModule, "NDdeShareAdd");
BoundFunction<decltype(&::NDdeShareDel)> NDdeShareDel(TessaflatModule, "NDdeShareDel");
BoundFunction<decltype(&::NDdeShareGetInfo)> NDdeShareGetInfo(TessaflatModule, "NDdeShareGetInfo");
BoundFunction<decltype(&::NDdeShareSetInfo)> NDdeShareSetInfo(TessaflatModule, "NDdeShareSetInfo");
BoundFunction<decltype(&::NDdeShareEnum)> NDdeShareEnum(TessaflatModule, "NDdeShareEnum");
BoundFunction<decltype(&::NDdeConnectionEnum)> NDdeConnectionEnum(TessaflatModule, "NDdeConnectionEnum");
BoundFunction<decltype(&::NDdeSessionEnum)> NDdeSessionEnum(TessaflatModule, "NDdeSessionEnum");
BoundFunction<decltype(&::NDdeSessionClose)> NDdeSessionClose(TessaflatModule, "NDdeSessionClose");
BoundFunction<decltype(&::NDdeGetWindow)> NDdeGetWindow(TessaflatModule, "NDdeGetWindow");
BoundFunction<decltype(&::NDdeGetClientInfo)> NDdeGetClientInfo(TessaflatModule, "NDdeGetClientInfo");
BoundFunction<decltype(&::NDdeGetNodeName)> NDdeGetNodeName(TessaflatModule, "NDdeGetNodeName");
BoundFunction<decltype(&::NDdeGetErrorString)> NDdeGetErrorString(TessaflatModule, "NDdeGetErrorString");
BoundFunction<decltype(&::NDdeIsValidShareName)> NDdeIsValidShareName(TessaflatModule, "NDdeIsValidShareName");
BoundFunction<decltype(&::NDdeIsValidTopic)> NDdeIsValidTopic(TessaflatModule, "NDdeIsValidTopic");
BoundFunction<decltype(&::NDdeIsValidPassword)> NDdeIsValidPassword(TessaflatModule, "NDdeIsValidPassword");
}

namespace user32 {
BoundFunction<decltype(&::IsWindow)> IsWindow(user32Module, "IsWindow");
BoundFunction<decltype(&::GetParent)> GetParent(user32Module, "GetParent");
BoundFunction<decltype(&::GetClassNameA)> GetClassNameA(user32Module, "GetClassNameA");
BoundFunction<decltype(&::GetWindowTextA)> GetWindowTextA(user32Module, "GetWindowTextA");
BoundFunction<decltype(&::GetWindowLongA)> GetWindowLongA(user32Module, "GetWindowLongA");
BoundFunction<decltype(&::SetWindowLongA)> SetWindowLongA(user32Module, "SetWindowLongA");
BoundFunction<decltype(&::GetSystemMetrics)> GetSystemMetrics(user32Module, "GetSystemMetrics");
BoundFunction<decltype(&::EnumWindows)> EnumWindows(user32Module, "EnumWindows");
BoundFunction<decltype(&::SendMessageA)> SendMessageA(user32Module, "SendMessageA");
}

namespace kernel32 {
BoundFunction<decltype(&::lstrcpyA)> lstrcpyA(kernel32Module, "lstrcpyA");
BoundFunction<decltype(&::lstrcpynA)> lstrcpynA(kernel32Module, "lstrcpynA");
}

// A library that answers every code with yet another code would keep the
// error report asking for ever; after this many codes it stops.
static const int ErrorChainLimit = 8;

// Text of a fixed-length result buffer of length characters.
static std::string BufferText(const char *buffer, int length)
{
    return TrimNulSpace(std::string(buffer, length));
}

void ReportApiError(UINT code)
{
    UINT shownCode = code;
    std::string text;
    int attempt = 0;
    for (; attempt < ErrorChainLimit; attempt++) {
        char buffer[ErrorTextLength] = {};
        UINT next = Tessaflat::NDdeGetErrorString(shownCode, buffer, ErrorTextLength);
        if (next == 0) {
            text = BufferText(buffer, ErrorTextLength);
            break;
        }
        shownCode = next;
    }
    if (attempt == ErrorChainLimit) {
        shownCode = code;
        text = "The library gives no text for this error";
    }
    char number[16];
    wsprintfA(number, "%u", shownCode);
    MsgBox(std::string("NDDEAPI.DLL reports error #") + number + ".\r\n" + text + ".", MB_OK | MB_ICONEXCLAMATION,
           "Error");
}

std::string TrimNulSpace(const std::string &text)
{
    size_t end = text.find_last_not_of(std::string(" \0", 2));
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string FormatWindowHandle(DWORD handle)
{
    char text[16];
    wsprintfA(text, "0x%08lx", handle);
    return text;
}

bool StripAmpersand(std::string &text)
{
    size_t ampersand = text.find('&');
    if (ampersand == std::string::npos)
        return false;
    text.erase(ampersand, 1);
    return true;
}

short MakeInt16(BYTE low, BYTE high)
{
    return (short)(WORD)(high * 256 + low);
}

LONG MakeInt32(BYTE b0, BYTE b1, BYTE b2, BYTE b3)
{
    return MakeInt16(b2, b3) * 65536L + b1 * 256L + b0;
}

void ShowInvalidField(int kind, const std::string &text)
{
    static const char *const fieldNames[] = {"Share name", "Topic", "Password #1", "Password #2"};
    if (kind < 1 || kind > 4)
        return;
    MsgBox(std::string(fieldNames[kind - 1]) + " '" + text + " ' is invalid !", MB_OK | MB_ICONEXCLAMATION, "Error");
}

void SelectWholeText(HWND textBox)
{
    SetSelection(textBox, 0, (int)GetText(textBox).size());
}

void FitListHorizontalExtent(HWND list)
{
    HDC dc = GetDC(list);
    HGDIOBJ previousFont = SelectObject(dc, (HFONT)SendMessageA(list, WM_GETFONT, 0, 0));
    int widest = 0;
    int count = ListCount(list);
    for (int i = 0; i < count; i++) {
        std::string line = ListText(list, i);
        SIZE size = {0, 0};
        GetTextExtentPoint32A(dc, line.c_str(), (int)line.size(), &size);
        if (size.cx > widest)
            widest = size.cx;
    }
    SelectObject(dc, previousFont);
    ReleaseDC(list, dc);
    if (widest > 0)
        widest += user32::GetSystemMetrics(SM_CXVSCROLL);
    user32::SendMessageA(list, LB_SETHORIZONTALEXTENT, widest, 0);
    InvalidateRect(list, nullptr, TRUE);
}

void PlaceDialog(Form &dialog, Form &owner, BYTE flags)
{
    int dx = 0, dy = 0;
    if (flags & 0x01) {
        dx += user32::GetSystemMetrics(SM_CXDLGFRAME);
        dy += user32::GetSystemMetrics(SM_CYDLGFRAME);
    }
    if (flags & 0x02) {
        dx += user32::GetSystemMetrics(SM_CXDLGFRAME);
        dy += user32::GetSystemMetrics(SM_CYDLGFRAME);
    }
    if (flags & 0x04) {
        dx += user32::GetSystemMetrics(SM_CXFRAME);
        dy += user32::GetSystemMetrics(SM_CYFRAME);
    }
    if (flags & 0x08)
        dy += user32::GetSystemMetrics(SM_CYCAPTION) - user32::GetSystemMetrics(SM_CYBORDER);
    if (flags & 0x10)
        dy += user32::GetSystemMetrics(SM_CYMENU) + user32::GetSystemMetrics(SM_CYBORDER);

    RECT ownerRect, dialogRect;
    GetWindowRect(owner.hwnd, &ownerRect);
    GetWindowRect(dialog.hwnd, &dialogRect);
    int width = dialogRect.right - dialogRect.left, height = dialogRect.bottom - dialogRect.top;
    int left = ownerRect.left + dialogRect.left + dx;
    int top = ownerRect.top + dialogRect.top + dy;
    // Kept on the screen to the right and bottom only.
    int screenWidth = user32::GetSystemMetrics(SM_CXSCREEN), screenHeight = user32::GetSystemMetrics(SM_CYSCREEN);
    if (left > screenWidth - width)
        left = screenWidth - width;
    if (top > screenHeight - height)
        top = screenHeight - height;
    SetWindowPos(dialog.hwnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SizeMainToPicture()
{
    BITMAP picture = {};
    HBITMAP web = (HBITMAP)SendMessageA(wndMain::form[wndMain::Web], STM_GETIMAGE, IMAGE_BITMAP, 0);
    GetObjectA(web, sizeof picture, &picture);
    // The outer size whose client area (below the caption and the menu bar,
    // inside the frame) is exactly the picture.
    HWND window = wndMain::form.hwnd;
    RECT outer = {0, 0, picture.bmWidth, picture.bmHeight};
    AdjustWindowRectEx(&outer, user32::GetWindowLongA(window, GWL_STYLE), TRUE,
                       user32::GetWindowLongA(window, GWL_EXSTYLE));
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool ShowNodeName()
{
    char buffer[NodeNameLength] = {};
    UINT result = Tessaflat::NDdeGetNodeName(buffer, NodeNameLength);
    if (result != 0) {
        ReportApiError(result);
        return false;
    }
    MsgBox("My node name is '" + BufferText(buffer, NodeNameLength) + "'.", MB_OK | MB_ICONINFORMATION, CommandTitle());
    return true;
}

// "\\NODE" while another node is managed, else empty.
static char managedServer[2 + MaxNodeNameLength + 1];

LPSTR ManagedServer()
{
    return managedServer[0] ? managedServer : nullptr;
}

bool SelectComputer(const std::string &name)
{
    // Backslashes before a name are the user's way of writing a server.
    std::string node = name.compare(0, 2, "\\\\") == 0 ? name.substr(2) : name;
    if (node.size() > (size_t)MaxNodeNameLength || !IsValidNodeName(node.c_str()))
        return false;
    char ownName[NodeNameLength] = {};
    UINT result = Tessaflat::NDdeGetNodeName(ownName, NodeNameLength);
    ownName[NodeNameLength - 1] = 0;
    if (result == NDDE_NO_ERROR && isSameNodeName(node.c_str(), ownName)) {
        managedServer[0] = 0;
        SetText(wndMain::form.hwnd, wndMain::form.design.caption);
    } else {
        std::string server = "\\\\" + node;
        kernel32::lstrcpyA(managedServer, server.c_str());
        SetText(wndMain::form.hwnd, std::string(wndMain::form.design.caption) + " - " + server);
    }
    return true;
}

void ShowInvalidComputer(const std::string &name)
{
    MsgBox("Computer name '" + name + "' is invalid !", MB_OK | MB_ICONEXCLAMATION, "Error");
}

void SelectComputerFromCommand(const std::string &command)
{
    const std::string option = "/computer:";
    if (!startsWith(command.c_str(), option.c_str()))
        return;
    std::string name = command.substr(option.size());
    name = name.substr(0, name.find(' '));
    if (!SelectComputer(name))
        ShowInvalidComputer(name);
}

std::string CommandTitle()
{
    return GetText(wndMain::form[wndMain::lblMenuCmd]);
}

void SetCommandTitle(const std::string &title)
{
    SetText(wndMain::form[wndMain::lblMenuCmd], title);
}

void SetBusyPointer(Form &dialog, MousePointer pointer)
{
    SetMousePointer(dialog, pointer);
    SetMousePointer(wndMain::form, pointer);
}

bool RemoveSelectedLine(Form &dialog, HWND list, const std::string &question, LineCall call)
{
    int selected = ListIndex(list);
    if (selected < 0)
        return false;
    std::string text = ListText(list, selected);
    DWORD value = ListItemData(list, selected);
    if (MsgBox(question + " '" + text + "' ?", MB_YESNO | MB_ICONQUESTION, GetText(dialog.hwnd)) != IDYES)
        return false;
    if (call) {
        UINT result = call(text, value);
        if (result != NDDE_NO_ERROR) {
            ReportApiError(result);
            return false;
        }
    }
    ListRemoveItem(list, selected);
    FitListHorizontalExtent(list);
    return true;
}

void RemoveSelectedLineWithButtons(Form &dialog, int list, const std::string &question, LineCall call,
                                   int selectionButton1, int selectionButton2)
{
    SetBusyPointer(dialog, Hourglass);
    if (RemoveSelectedLine(dialog, dialog[list], question, call)) {
        EnableWindow(dialog[selectionButton1], FALSE);
        EnableWindow(dialog[selectionButton2], FALSE);
    }
    SetBusyPointer(dialog, DefaultPointer);
}

void OpenCommandDialog(Form &dialog, Form &opener, const std::string &caption)
{
    bool fromMain = &opener == &wndMain::form;
    SetBusyPointer(opener, Hourglass);
    SetCommandTitle(caption);
    LoadForm(dialog);
    SetBusyPointer(opener, DefaultPointer);
    if (dialog.bError)
        UnloadForm(dialog);
    else
        ShowModal(dialog, opener);
    SetCommandTitle(fromMain ? "" : GetText(opener.hwnd));
}

void OpenAddDialog(Form &dialog, Form &opener, const std::string &caption)
{
    SetCommandTitle(caption);
    ShowModal(dialog, opener);
    SetCommandTitle(GetText(opener.hwnd));
}
