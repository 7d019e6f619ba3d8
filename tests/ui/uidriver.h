// The window driver: starts a front-end program under test, finds its
// windows, and works them from outside with real window messages, the way a
// user's actions reach them. Used by the driver tests of both front ends.
//
// Every wait is bounded (the timeout arguments, DefaultTimeout when left out)
// and pumps the driver's own messages meanwhile, so windows of the driver
// (the help engine stand-in) keep answering. Messages that may make the
// program enter a modal loop (commands, clicks, list notifications) are
// posted; reads are sent with a timeout, so a program that hangs fails the
// test instead of stopping it.
#ifndef UIDRIVER_H
#define UIDRIVER_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace ui {

// Long enough for a Wine process start under qemu.
const DWORD DefaultTimeout = 20000;

// ---- Files ---------------------------------------------------------------------
// The folder of the running driver (the build's bin folder), with a trailing
// backslash, and a file in it.
std::string driverDirectory();
std::string pathBeside(const std::string &fileName);
// A fresh empty folder in the temporary folder, for programs that must run
// apart from the build (a missing library, a scripted partner).
std::string makeScratchDirectory(const std::string &name);
bool copyFileInto(const std::string &source, const std::string &directory);
// Deletes a scratch folder and its files (one level).
void removeDirectory(const std::string &directory);

// ---- Programs --------------------------------------------------------------------
// A started program; stopped (terminated if still running) when destroyed.
class Program {
public:
    Program() = default;
    ~Program();
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    // Starts `path` (a full path) with `arguments`, in `directory` (the
    // program's own folder when empty), and waits until it is idle.
    bool start(const std::string &path, const std::string &arguments = "",
               const std::string &directory = "");
    bool isRunning() const;
    // Waits for the program to end; its exit code goes to `exitCode`.
    bool waitForExit(DWORD *exitCode = nullptr, DWORD timeout = DefaultTimeout);
    // Ends the program if it still runs.
    void stop();

    DWORD processId() const { return processId_; }
    DWORD threadId() const { return threadId_; }

private:
    HANDLE process_ = NULL;
    DWORD processId_ = 0;
    DWORD threadId_ = 0;
};

// ---- Waiting ------------------------------------------------------------------------
// Handles the driver's own messages for `milliseconds`.
void pump(DWORD milliseconds);
// Polls `condition` (every 20 ms, pumping) until it holds or `timeout` ends.
bool waitUntil(const std::function<bool()> &condition, DWORD timeout = DefaultTimeout);

// ---- Finding windows ---------------------------------------------------------------
// Visible top-level windows of a process, in z-order.
std::vector<HWND> topLevelWindows(DWORD processId);
// The first visible top-level window of the process with that class and
// title (null pointers match any), waiting for it to appear.
HWND waitForWindow(DWORD processId, const char *className, const char *title,
                   DWORD timeout = DefaultTimeout);
// A visible dialog (class #32770) of the process with that caption.
HWND waitForDialog(DWORD processId, const std::string &caption, DWORD timeout = DefaultTimeout);
// The child windows of a window (all levels), in z-order.
std::vector<HWND> children(HWND parent);
// Waits until the window is gone (or hidden).
bool waitForWindowToClose(HWND window, DWORD timeout = DefaultTimeout);

// ---- Reading windows -----------------------------------------------------------------
std::string text(HWND window);
std::string text(HWND parent, int controlId);
std::string className(HWND window);
LONG style(HWND window);
LONG style(HWND parent, int controlId);
bool isEnabled(HWND parent, int controlId);
RECT clientRect(HWND window);
HWND owner(HWND window);
// The window with the keyboard focus in the program's thread.
HWND focusedWindow(DWORD threadId);
// True when the control is a push button drawn as the default button.
bool isDefaultButton(HWND parent, int controlId);
bool isChecked(HWND parent, int controlId);

// ---- Acting on windows --------------------------------------------------------------
// Chooses a menu command: WM_COMMAND with the id, as a menu click sends it.
bool chooseCommand(HWND window, int commandId);
// Makes the window the foreground window, above the others.
bool bringToFront(HWND window);
// Brings the window to the front and presses and releases a key on the
// keyboard (real input, through the system's input queue), with the Alt key
// held when `withAlt` (a menu's access key).
bool pressKey(HWND window, WORD virtualKey, bool withAlt = false);
// Clicks an enabled, visible button. False for a disabled one, which a user
// cannot click.
bool clickButton(HWND parent, int controlId);
// Replaces the text of an edit control, as typing would.
bool setText(HWND parent, int controlId, const std::string &value);
// Types `text` into an edit control key by key, as the keyboard does, after
// clearing it, so that the control's upper-case style applies.
bool typeText(HWND parent, int controlId, const std::string &text);
// Takes the upper-case style off an edit control: what is typed then stays
// as typed, and only the program's own upper-casing reaches the library.
void allowLowerCase(HWND parent, int controlId);
// Sets an automatic check box (as a click would leave it).
bool setChecked(HWND parent, int controlId, bool checked);
// Asks the window to close (the close box).
bool closeWindow(HWND window);
// Posts the parent a control's notification (WM_COMMAND with the code), as
// the control itself would send it.
bool notifyParent(HWND parent, int controlId, WORD notification);
// The pixels now on screen in the window's client area, row by row from the
// top, each 0x00RRGGBB.
std::vector<DWORD> captureClientArea(HWND window, int &width, int &height);
// Saves the whole screen (Wine's desktop) as a 24-bit BMP file.
bool saveScreen(const std::string &path);

// ---- Lists and combo boxes ------------------------------------------------------------
int listCount(HWND parent, int listId);
std::string listLine(HWND parent, int listId, int index);
std::vector<std::string> listLines(HWND parent, int listId);
LRESULT listData(HWND parent, int listId, int index);
int listSelection(HWND parent, int listId);
int listHorizontalExtent(HWND parent, int listId);
// Selects a line as a user's click does: the list's selection moves and the
// dialog receives LBN_SELCHANGE.
bool selectListLine(HWND parent, int listId, int index);
// Selects and double-clicks a line (LBN_SELCHANGE, then LBN_DBLCLK).
bool doubleClickListLine(HWND parent, int listId, int index);
int comboCount(HWND parent, int comboId);
std::string comboLine(HWND parent, int comboId, int index);
std::vector<std::string> comboLines(HWND parent, int comboId);
int comboSelection(HWND parent, int comboId);
// Chooses a combo line as a user does (CBN_SELCHANGE follows).
bool selectComboLine(HWND parent, int comboId, int index);

// ---- Message boxes ---------------------------------------------------------------------
enum class Icon { None, Information, Exclamation, Question, Stop };

struct MessageBoxView {
    HWND window = NULL;
    HWND owner = NULL;
    std::string caption;
    std::string text;
    Icon icon = Icon::None;
    std::vector<int> buttons;  // ids of the visible buttons: IDOK, IDYES, ...
};

// Waits for a message box of the process and reads it.
bool waitForMessageBox(DWORD processId, MessageBoxView &box, DWORD timeout = DefaultTimeout);
// True while the process shows any message box.
bool hasMessageBox(DWORD processId);
// Presses a button of the box (IDOK, IDYES, IDNO, ...) and waits for it to close.
bool answerMessageBox(const MessageBoxView &box, int buttonId);

// ---- Help engine stand-in ------------------------------------------------------------
// What a program asked of the help engine (WinHelpA).
struct HelpRequest {
    UINT command = 0;       // HELP_CONTENTS, HELP_QUIT, ...
    std::string file;       // empty when none was given
    HWND caller = NULL;
};

// A window that takes the help engine's place while it exists: the
// program's WinHelpA calls come to it instead of starting the real engine.
// `onRequest` runs while the program still waits in its WinHelpA call.
class HelpEngineStandIn {
public:
    HelpEngineStandIn();
    ~HelpEngineStandIn();
    HelpEngineStandIn(const HelpEngineStandIn &) = delete;
    HelpEngineStandIn &operator=(const HelpEngineStandIn &) = delete;

    bool isReady() const { return window_ != NULL; }
    std::vector<HelpRequest> requests;
    std::function<void(const HelpRequest &)> onRequest;

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND window_ = NULL;
};

} // namespace ui

#endif
