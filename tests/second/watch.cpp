// Watching for windows opened inside a call under test.
#include "watch.h"

static const UINT WatchInterval = 20;
static const int WatchTicks = 500;  // 10 s

struct Watch {
    std::function<HWND()> find;
    std::function<void(HWND)> action;
    bool done = false;
    int ticks = 0;
};

static Watch *activeWatch;

static std::string WindowText(HWND window)
{
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

static std::string ClassOf(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

static void CALLBACK WatchTimer(HWND, UINT, UINT_PTR, DWORD)
{
    Watch *watch = activeWatch;
    if (!watch || watch->done)
        return;
    if (HWND window = watch->find()) {
        watch->done = true;
        watch->action(window);
        return;
    }
    // Time is up: close the active window of the call, which then returns.
    if (++watch->ticks >= WatchTicks) {
        watch->done = true;
        if (HWND active = GetActiveWindow())
            PostMessageA(active, WM_CLOSE, 0, 0);
    }
}

static bool RunWatched(Watch &watch, const std::function<void()> &call)
{
    activeWatch = &watch;
    UINT_PTR timer = SetTimer(nullptr, 0, WatchInterval, WatchTimer);
    call();
    KillTimer(nullptr, timer);
    activeWatch = nullptr;
    return watch.done && watch.ticks < WatchTicks;
}

struct ThreadWindowSearch {
    std::function<bool(HWND)> accept;
    HWND found;
};

static BOOL CALLBACK AcceptThreadWindow(HWND window, LPARAM lParam)
{
    ThreadWindowSearch *search = reinterpret_cast<ThreadWindowSearch *>(lParam);
    if (IsWindowVisible(window) && IsWindowEnabled(window) && search->accept(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static HWND FindThreadWindow(const std::function<bool(HWND)> &accept)
{
    ThreadWindowSearch search = {accept, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), AcceptThreadWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool WatchWhile(const std::string &caption, const std::function<void(HWND)> &action,
                const std::function<void()> &call)
{
    Watch watch;
    watch.find = [&] { return FindThreadWindow([&](HWND window) { return WindowText(window) == caption; }); };
    watch.action = action;
    return RunWatched(watch, call);
}

// A message box: a dialog with the system's message text control (id
// 0xFFFF), which no form of ours has.
static bool IsMessageBox(HWND window)
{
    return ClassOf(window) == "#32770" && GetDlgItem(window, 0xFFFF) != nullptr;
}

HWND OpenMessageBox()
{
    return FindThreadWindow(IsMessageBox);
}

static void ReadBox(HWND window, SeenBox &box)
{
    box.seen = true;
    box.caption = WindowText(window);
    box.owner = GetWindow(window, GW_OWNER);
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        std::string cls = ClassOf(child);
        if (cls == "Button" && IsWindowVisible(child))
            box.buttons.push_back(WindowText(child));
        else if (GetDlgCtrlID(child) == 0xFFFF)
            box.text = WindowText(child);
        else if (cls == "Static" && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            box.icon = (HICON)SendMessageA(child, STM_GETICON, 0, 0);
    }
}

void AnswerMessageBox(SeenBox &box, int answer, const std::function<void()> &call)
{
    Watch watch;
    watch.find = [] { return OpenMessageBox(); };
    watch.action = [&](HWND window) {
        ReadBox(window, box);
        PostMessageA(window, WM_COMMAND, answer, 0);
    };
    RunWatched(watch, call);
}
