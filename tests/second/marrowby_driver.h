// What the driver tests of Marrowby's session and task dialogs share: the
// program started and worked from outside (its controls and menu items
// addressed by the forms' ids), a copy of it beside the scripted library,
// and the reports it shows.
#ifndef MARROWBY_DRIVER_H
#define MARROWBY_DRIVER_H

#include <windows.h>

#include <string>

#include "marrowby.h"
#include "uidriver.h"

namespace md {

inline int controlId(int control)
{
    return ControlFirstId + control;
}

inline int commandId(wndMain::MenuItem item)
{
    return MenuFirstId + item;
}

// The program's report of a code with the real library's text for it.
std::string errorReport(UINT code);
// The program's report of a code with a text of the library's giving.
std::string errorReport(UINT code, const std::string &text);
// A window handle as the program shows it: "0x" and 8 lower-case digits.
std::string handleText(DWORD handle);

class Marrowby {
public:
    // Starts Marrowby.exe of the build's folder, or the copy in `directory`
    // (a folder path ending in a backslash), and waits for its main window.
    bool start(const std::string &directory = "");
    DWORD processId() const { return program_.processId(); }
    // The command title (the main window's hidden label).
    std::string commandTitle() const;
    // Waits until the command title is `title`.
    bool waitForCommandTitle(const std::string &title);
    // Chooses a menu command of the main window.
    bool choose(wndMain::MenuItem item);
    // Chooses a menu command and waits for the dialog it opens.
    HWND open(wndMain::MenuItem item, const std::string &caption);
    HWND waitForDialog(const std::string &caption) const;
    // True when a visible dialog of the program carries that caption.
    bool showsDialog(const std::string &caption) const;
    // Waits for a message box, reads it and presses `button`; the box read
    // has no window when none came.
    ui::MessageBoxView answer(int button);
    // The index of the line of a list whose value is `data`, or -1.
    static int lineWithData(HWND dialog, int list, DWORD data);

    HWND mainWindow = NULL;

private:
    ui::Program program_;
};

// A scratch folder with a copy of Marrowby.exe beside the scripted library
// (the tests' Tessaflat.dll), and the script chosen for the programs started
// from now on. Declared before the program that runs from it, so the
// program has ended when the folder goes.
class ScriptedFolder {
public:
    explicit ScriptedFolder(const std::string &script);
    ~ScriptedFolder();
    ScriptedFolder(const ScriptedFolder &) = delete;
    ScriptedFolder &operator=(const ScriptedFolder &) = delete;
    const std::string &path() const { return path_; }
    bool isReady() const { return ready_; }

private:
    std::string path_;
    bool ready_ = false;
};

// A copy of the program beside the scripted library with `script`; the
// folder outlives the program.
struct ScriptedMarrowby {
    explicit ScriptedMarrowby(const std::string &script) : folder(script) {}
    // Prepares the folder and starts the program from it.
    bool start() { return folder.isReady() && program.start(folder.path()); }

    ScriptedFolder folder;
    Marrowby program;
};

} // namespace md

#endif
