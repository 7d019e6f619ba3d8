// Watching for windows that a call under test opens in its own modal loop
// (message boxes, modal forms): a thread timer keeps looking while the call
// runs, hands the window to an action once, and closes whatever is still
// open when its time is up so a failing test cannot hang.
#ifndef SECOND_WATCH_H
#define SECOND_WATCH_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// What a message box showed.
struct SeenBox {
    bool seen = false;
    std::string caption;
    std::string text;
    HICON icon = nullptr;               // compare with LoadIcon(NULL, IDI_...)
    std::vector<std::string> buttons;   // button texts, left to right
    HWND owner = nullptr;
};

// Runs `action` on the first visible, enabled top-level window of this
// thread captioned `caption` that appears while `call` runs. Returns true
// when the window appeared and was acted on.
bool WatchWhile(const std::string &caption, const std::function<void(HWND)> &action,
                const std::function<void()> &call);

// Runs `call` and answers the first message box it shows with `answer`
// (IDOK, IDYES, IDNO, ...); the box's contents go to `box`.
void AnswerMessageBox(SeenBox &box, int answer, const std::function<void()> &call);

// A message box of this thread that is open now, or null.
HWND OpenMessageBox();

#endif
