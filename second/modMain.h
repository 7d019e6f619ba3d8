// modMain: the functions every form of Marrowby shares, and the library
// functions the program binds by name at their first call.
#ifndef MODMAIN_H
#define MODMAIN_H

#include <tessaflat.h>

#include "forms.h"

// --- Library functions bound by name --------------------------------------
// Called as Tessaflat::NDdeGetNodeName(...), user32::IsWindow(...): the
// module is loaded and the function resolved by name at its first call.

extern LibraryModule TessaflatModule, user32Module, kernel32Module;

namespace Tessaflat {
extern BoundFunction<decltype(&::NDdeShareAdd)> NDdeShareAdd;
extern BoundFunction<decltype(&::NDdeShareDel)> NDdeShareDel;
extern BoundFunction<decltype(&::NDdeShareGetInfo)> NDdeShareGetInfo;
extern BoundFunction<decltype(&::NDdeShareSetInfo)> NDdeShareSetInfo;
extern BoundFunction<decltype(&::NDdeShareEnum)> NDdeShareEnum;
extern BoundFunction<decltype(&::NDdeConnectionEnum)> NDdeConnectionEnum;
extern BoundFunction<decltype(&::NDdeSessionEnum)> NDdeSessionEnum;
extern BoundFunction<decltype(&::NDdeSessionClose)> NDdeSessionClose;
extern BoundFunction<decltype(&::NDdeGetWindow)> NDdeGetWindow;
extern BoundFunction<decltype(&::NDdeGetClientInfo)> NDdeGetClientInfo;
extern BoundFunction<decltype(&::NDdeGetNodeName)> NDdeGetNodeName;
extern BoundFunction<decltype(&::NDdeGetErrorString)> NDdeGetErrorString;
extern BoundFunction<decltype(&::NDdeIsValidShareName)> NDdeIsValidShareName;
extern BoundFunction<decltype(&::NDdeIsValidTopic)> NDdeIsValidTopic;
extern BoundFunction<decltype(&::NDdeIsValidPassword)> NDdeIsValidPassword;
}

namespace user32 {
extern BoundFunction<decltype(&::IsWindow)> IsWindow;
extern BoundFunction<decltype(&::GetParent)> GetParent;
extern BoundFunction<decltype(&::GetClassNameA)> GetClassNameA;
extern BoundFunction<decltype(&::GetWindowTextA)> GetWindowTextA;
extern BoundFunction<decltype(&::GetWindowLongA)> GetWindowLongA;
extern BoundFunction<decltype(&::SetWindowLongA)> SetWindowLongA;
extern BoundFunction<decltype(&::GetSystemMetrics)> GetSystemMetrics;
extern BoundFunction<decltype(&::EnumWindows)> EnumWindows;
extern BoundFunction<decltype(&::SendMessageA)> SendMessageA;
}

namespace kernel32 {
extern BoundFunction<decltype(&::lstrcpyA)> lstrcpyA;
extern BoundFunction<decltype(&::lstrcpynA)> lstrcpynA;
}

// --- Buffer sizes of text results -----------------------------------------
const int NodeNameLength = 16;
const int ErrorTextLength = 128;
const int WindowTextLength = 256;
const int ClientNameLength = 16;
const int TaskNameLength = 256;
// No share list, share record, session list or connection list of the
// machine comes near this size; a library asking for more is not believed
// and its code 2 is reported.
const DWORD LibraryBufferLimit = 0x100000;

// --- Placement flags of PlaceDialog --------------------------------------
const BYTE PlaceBesideMain = 25;    // 0x19: dialog frame, caption and menu: owner is wndMain
const BYTE PlaceBesideDialog = 10;  // 0x0A: dialog frame and caption: owner is a dialog

// --- Shared functions -----------------------------------------------------

// Shows the library's text for an API result code in the error message box.
void ReportApiError(UINT code);
// The text up to its last character that is neither NUL nor blank.
std::string TrimNulSpace(const std::string &text);
// "0x" and 8 lower-case hexadecimal digits.
std::string FormatWindowHandle(DWORD handle);
// Removes the first "&" of text; true when there was one.
bool StripAmpersand(std::string &text);
// The signed little-endian values of two and four bytes.
short MakeInt16(BYTE low, BYTE high);
LONG MakeInt32(BYTE b0, BYTE b1, BYTE b2, BYTE b3);
// The message for a refused value: kind 1 share name, 2 topic, 3 password
// #1, 4 password #2; any other kind shows nothing.
void ShowInvalidField(int kind, const std::string &text);
// Selects the whole text of a text box: what entering one does.
void SelectWholeText(HWND textBox);
// Gives the list box a horizontal scroll range as wide as its widest line.
void FitListHorizontalExtent(HWND list);
// Moves a dialog to its designed offset from owner, kept on the screen to
// the right and bottom; flags choose the frame parts added to the offset.
void PlaceDialog(Form &dialog, Form &owner, BYTE flags);
// Sizes wndMain so that its client area is exactly its picture.
void SizeMainToPicture();
// Shows the local node name; false after an error report.
bool ShowNodeName();

// --- The computer the program manages --------------------------------------
// The server argument of every library call that takes one: "\\NODE" while
// another node is managed, null for this machine.
LPSTR ManagedServer();
// Manages the computer name names (NODE or \\NODE; this machine's own node
// name is this machine) and captions wndMain after it. False, with nothing
// changed, for a name that is no node name.
bool SelectComputer(const std::string &name);
// The message for a computer name that is no node name.
void ShowInvalidComputer(const std::string &name);
// Takes /computer:NODE at the start of command; a name that is no node name
// is reported, and this machine is managed.
void SelectComputerFromCommand(const std::string &command);

// The command title: the caption (without "&") of the menu item or button
// that started the current command, kept in wndMain's lblMenuCmd.
std::string CommandTitle();
void SetCommandTitle(const std::string &title);

// The pointer over a dialog and over wndMain, which stays usable behind
// it: the hourglass while a command of the dialog works.
void SetBusyPointer(Form &dialog, MousePointer pointer);

// A library call for a list line, given the line's text and value: 0 on
// success, otherwise the code to report.
typedef UINT (*LineCall)(std::string &text, DWORD value);

// Asks "<question> '<line>' ?", captioned with the dialog's caption, about
// the selected line of list; on Yes makes call for it when there is one (a
// failure is reported and the line stays), then the line goes. True when
// it has gone.
bool RemoveSelectedLine(Form &dialog, HWND list, const std::string &question, LineCall call);

// RemoveSelectedLine for the dialog's list control with the hourglass on
// the dialog and wndMain throughout; once the line has gone, the two
// buttons that act on a selection go off.
void RemoveSelectedLineWithButtons(Form &dialog, int list, const std::string &question, LineCall call,
                                   int selectionButton1, int selectionButton2);

// Opens a dialog that fills itself when it loads: hourglass on opener and
// wndMain while it loads, caption as the command title, shown modal owned
// by opener unless its bError is set; afterwards the command title is the
// opener's caption again (empty for wndMain).
void OpenCommandDialog(Form &dialog, Form &opener, const std::string &caption);

// Opens a dialog that starts empty ("Add..."): caption as the command
// title while it is shown modal owned by the dialog opener, whose caption
// is the command title again afterwards.
void OpenAddDialog(Form &dialog, Form &opener, const std::string &caption);

#endif
