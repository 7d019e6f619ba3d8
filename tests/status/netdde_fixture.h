// What the driver tests of quorvstat's session and task dialogs share: the
// program started and worked from outside, the Network DDE agent, client
// nodes that hold sessions with it, and the library's own view of them (read
// through Tessaflat.dll and the real Tessaseg.dll beside the test). The
// share dialogs' tests use its dialog template check.
#ifndef NETDDE_FIXTURE_H
#define NETDDE_FIXTURE_H

#include <windows.h>

#include <string>
#include <vector>

#include "resources.h"
#include "share_store.h"
#include "status_program.h"
#include "uidriver.h"

namespace nf {

// The caption of a message box that was given none.
const char SystemCaption[] = "Error";

// ---- The library's view ----------------------------------------------------------------

struct ListedSession {
    std::string client;
    DWORD id;
};
// The sessions the library lists now (empty when it refuses).
std::vector<ListedSession> listSessions();
// The share names of one session's connections.
std::vector<std::string> listConnections(const std::string &client, DWORD sessionId);
// The task name the library gives for a window.
std::string taskName(HWND window);
// A window handle formatted with the program's string 7 ("%#08lx") by
// wsprintfA, as the program shows it; empty when the string is missing.
std::string handleText(DWORD handle);
// Lines joined with '|', for comparisons that print well.
std::string joined(const std::vector<std::string> &lines);

// Adds a share without passwords; deletes it again when destroyed.
class TestShare {
public:
    explicit TestShare(const std::string &name);
    ~TestShare();
    TestShare(const TestShare &) = delete;
    TestShare &operator=(const TestShare &) = delete;
    bool isStored() const { return stored_; }

private:
    std::string name_;
    bool stored_;
};

// ---- Agent and client nodes ----------------------------------------------------------------

// The Network DDE agent; stopped when destroyed. Any agent left running is
// closed before this one starts.
class Agent {
public:
    bool start();
    void stop();
    HWND window() const;

private:
    ui::Program program_;
};

// A client node with one session; ended when destroyed.
class ClientNode {
public:
    // Starts `nddeclient NODE SHARE...` and waits until the library lists
    // its new session with as many connections as shares were named.
    bool start(const std::string &node, const std::vector<std::string> &shares = {});
    DWORD sessionId() const { return sessionId_; }
    ui::Program &program() { return program_; }

private:
    ui::Program program_;
    DWORD sessionId_ = 0;
};

// ---- The program ----------------------------------------------------------------------------

// The status program (status_program.h) with what the session and task
// tests do with its dialogs.
class StatusProgram : public ::StatusProgram {
public:
    DWORD threadId() const { return program.threadId(); }
    // Chooses a menu command and waits for the dialog it opens.
    HWND open(int commandId, const std::string &caption);
    // A visible dialog owned by `owner` with that caption, waiting for it.
    HWND waitForNestedDialog(HWND owner, const std::string &caption, DWORD timeout = ui::DefaultTimeout);
    // True when a visible dialog of the program carries that caption.
    bool showsDialog(const std::string &caption);
    // Waits for a message box, reads it and presses `answer`.
    ui::MessageBoxView answer(int answer);
    // Selects line `index` as a click does and waits until the dialog has
    // enabled `followingButton` in answer (the last button it enables).
    static bool selectLine(HWND dialog, int listId, int index, int followingButton);
    // The index of the line whose item data is `data`, or -1.
    static int lineWithData(HWND dialog, int listId, DWORD data);
};

// With the agent stopped, chooses the menu command `commandId` and checks
// that the program reports code 18 in a box of the system's caption, never
// opens the dialog captioned `caption`, and clears the title slot after the
// report.
void checkReportsAgentNotRunning(int commandId, const std::string &caption);

// Checks a dialog template of quorvstat.exe against what it must carry.
struct ExpectedItem {
    int id;
    const char *className;
    const char *text;
    DWORD style;
    int x, y, width, height;
};
struct ExpectedDialog {
    int id;
    int width, height;
    std::vector<ExpectedItem> items;
};
void checkDialogTemplate(const ExpectedDialog &expected);

} // namespace nf

#endif
