// Walks a front end through its main window, its Status menu, the share list
// and the share editor, the way a user does with the keyboard, and saves a
// picture of the screen at each step. Used by tools/run on a machine without
// a display. With /agent it walks the running Network DDE agent's window
// instead: each of its pages, then the node dialog of Add.
//   uiwalk.exe PROGRAM.EXE SCREENS-FOLDER
//   uiwalk.exe /agent SCREENS-FOLDER
// Exit code 0 when every step was seen, 1 otherwise (the step is named).
#include <stdio.h>

#include <algorithm>

#include "uidriver.h"

// A visible top-level window of the process that is not one of `known`.
static HWND waitForNewWindow(DWORD processId, const std::vector<HWND> &known)
{
    HWND found = NULL;
    ui::waitUntil([&] {
        for (HWND window : ui::topLevelWindows(processId))
            if (std::find(known.begin(), known.end(), window) == known.end()) {
                found = window;
                return true;
            }
        return false;
    });
    return found;
}

static bool snapshot(const std::string &folder, const char *name)
{
    ui::pump(1000);  // let the new window paint
    std::string path = folder + "\\" + name + ".bmp";
    if (!ui::saveScreen(path)) {
        fprintf(stderr, "uiwalk: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

static int failed(const char *step)
{
    fprintf(stderr, "uiwalk: %s did not appear\n", step);
    return 1;
}

// The agent's window (class NDdeAgent): opened as a second start of the
// agent opens it, each page shown with the arrow keys on its tabs, then
// Nodes > Add... (command 203) for the node dialog.
static int walkAgent(const std::string &folder)
{
    const UINT OpenWindowMessage = WM_APP + 10;
    const int TabId = 101, AddNodeCommand = 203;
    static const char *const pages[] = {"5-agent-sessions", "6-agent-conversations",
                                        "7-agent-nodes", "8-agent-events", "9-agent-this-node"};
    HWND agent = FindWindowA("NDdeAgent", nullptr);
    if (!agent)
        return failed("the agent");
    // The agent's lines (list 100) name the client's conversation once it stands.
    ui::waitUntil([&] {
        for (const std::string &line : ui::listLines(agent, 100))
            if (line.find("client PRICES$") != std::string::npos)
                return true;
        return false;
    }, 60000);
    PostMessageA(agent, OpenWindowMessage, 0, 0);
    if (!ui::waitUntil([&] { return IsWindowVisible(agent) != 0; }))
        return failed("the agent's window");
    ui::bringToFront(agent);
    HWND tabs = GetDlgItem(agent, TabId);
    for (int page = 0; page < 5; page++) {
        if (page > 0) {
            PostMessageA(tabs, WM_KEYDOWN, VK_RIGHT, 0);
            if (!ui::waitUntil([&] { return SendMessageA(tabs, 0x1300 + 11, 0, 0) == page; }))
                return failed(pages[page]);    // TCM_GETCURSEL
        }
        if (!snapshot(folder, pages[page]))
            return 1;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(agent, &processId);
    ui::chooseCommand(agent, AddNodeCommand);
    HWND dialog = ui::waitForDialog(processId, "Add Node");
    if (!dialog)
        return failed("the node dialog");
    ui::typeText(dialog, 1101, "NODEB");
    if (!snapshot(folder, "10-node-dialog"))
        return 1;
    ui::pressKey(dialog, VK_ESCAPE);
    ui::waitForWindowToClose(dialog);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: uiwalk PROGRAM.EXE SCREENS-FOLDER\n       uiwalk /agent SCREENS-FOLDER\n");
        return 2;
    }
    std::string folder = argv[2];
    if (std::string(argv[1]) == "/agent")
        return walkAgent(folder);
    ui::Program program;
    if (!program.start(argv[1]))
        return failed("the program");
    std::vector<HWND> known;

    HWND main = waitForNewWindow(program.processId(), known);
    if (!main)
        return failed("the main window");
    known.push_back(main);
    ui::bringToFront(main);
    if (!snapshot(folder, "1-main-window"))
        return 1;

    // Alt+S drops the Status menu down; L chooses "List Shares...".
    ui::pressKey(main, 'S', true);
    HWND menu = waitForNewWindow(program.processId(), known);
    if (!menu)
        return failed("the Status menu");
    if (!snapshot(folder, "2-status-menu"))
        return 1;
    keybd_event('L', 0, 0, 0);
    keybd_event('L', 0, KEYEVENTF_KEYUP, 0);
    ui::waitUntil([&] { return !IsWindowVisible(menu); }, 5000);
    known.push_back(menu);
    HWND shareList = waitForNewWindow(program.processId(), known);
    if (!shareList)
        return failed("the share list");
    known.push_back(shareList);
    if (!snapshot(folder, "3-share-list"))
        return 1;

    // Enter presses the default button, "Add...".
    ui::pressKey(shareList, VK_RETURN);
    HWND shareEditor = waitForNewWindow(program.processId(), known);
    if (!shareEditor)
        return failed("the share editor");
    if (!snapshot(folder, "4-share-editor"))
        return 1;

    ui::pressKey(shareEditor, VK_ESCAPE);
    ui::waitForWindowToClose(shareEditor);
    ui::pressKey(shareList, VK_ESCAPE);
    ui::waitForWindowToClose(shareList);
    ui::closeWindow(main);
    if (!program.waitForExit())
        fprintf(stderr, "uiwalk: the program did not end; stopping it\n");
    return 0;
}
