// Working Marrowby's share dialogs from outside, with the window driver:
// controls and menu entries are found by the ids the forms give them.
#ifndef SECOND_SHARES_DRIVER_H
#define SECOND_SHARES_DRIVER_H

#include <windows.h>

#include <string>
#include <vector>

#include "marrowby.h"
#include "share_store.h"
#include "uidriver.h"

namespace shares {

const char ProgramFile[] = "Marrowby.exe";
const char MainCaption[] = "32-bit Network DDE Status";
const char ShareListCaption[] = "List Shares...";
const char AddCaption[] = "Add...";
const char EditCaption[] = "Edit...";

// The id of a control of a form.
inline int id(int control)
{
    return ControlFirstId + control;
}

const int ListSharesCommand = MenuFirstId + wndMain::mnuListShares;

// Waits for a dialog of the process owned by `owner` and captioned
// `caption` (two dialogs may carry the same caption, one over the other).
HWND waitForOwnedDialog(DWORD processId, HWND owner, const char *caption, DWORD timeout = ui::DefaultTimeout);

class Marrowby {
public:
    // Starts Marrowby from the build's folder, or from `directory` (a
    // folder with a partner of a test's own), with `arguments`, and waits
    // for its main window captioned `caption`.
    bool start(const std::string &directory = "", const std::string &arguments = "",
               const char *caption = MainCaption);
    // Works Marrowby's forms running on another thread of this process.
    void attach(HWND mainWindow);
    DWORD processId() const { return processId_; }

    // Chooses "List Shares..." and waits for the share list.
    HWND openShareList();
    // Clicks a button of `dialog` and waits for the dialog it opens, owned
    // by `dialog` and captioned `caption`.
    HWND open(HWND dialog, int button, const char *caption);
    HWND waitForOwned(HWND owner, const char *caption, DWORD timeout = ui::DefaultTimeout)
    {
        return waitForOwnedDialog(processId(), owner, caption, timeout);
    }
    // Waits for a message box, reads it and presses `button`.
    ui::MessageBoxView answer(int button);
    // Clicks `button` of a dialog that is expected to close, and waits.
    bool confirm(HWND dialog, int button);
    // The command title kept in the main window's hidden label.
    std::string commandTitle();

    HWND mainWindow = NULL;

private:
    ui::Program program_;
    DWORD processId_ = 0;
};

// Clicks a button as soon as it is enabled (a selection posted just before
// enables it a moment later); false when it stays disabled.
bool press(HWND dialog, int button);
// Types `text` into a text box key by key, as the keyboard does, after
// clearing it, so that the box's upper-case style applies.
bool typeText(HWND dialog, int control, const std::string &text);
// Takes the upper-case style off a text box: what is typed then stays as
// typed, and only the program's own upper-casing reaches the library.
void allowLowerCase(HWND dialog, int control);
// Selects the line with that text, as a click does.
bool selectLine(HWND dialog, int list, const std::string &line);

// The lines of a list with their item values.
std::vector<ShareItem> listedItems(HWND dialog, int list);

// The box of access entry `group` (1 or 2) for permission bit `bit`
// (0 Request ... 4 StartApp) in the share editor.
int permissionBox(int group, int bit);
void tickPermissions(HWND editor, int group, DWORD permissions);
DWORD tickedPermissions(HWND editor, int group);

// Fills the item editor and stores the item: before combo entry `before`,
// or where the editor placed it when `before` is -1.
bool addItem(Marrowby &program, HWND editor, const std::string &name, DWORD permissions, int before = -1);

// A folder with Marrowby, the library and a test's own Tessaseg.dll,
// removed again when the test ends.
class PartnerFolder {
public:
    PartnerFolder(const std::string &name, const std::string &partnerPath);
    ~PartnerFolder();
    std::string directory;
    bool ready = false;
};

} // namespace shares

#endif
