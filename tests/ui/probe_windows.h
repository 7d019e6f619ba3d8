// Top-level windows of the test's own process for the front ends to list as
// tasks: made with a window class of the test's naming, destroyed with the
// object.
#ifndef PROBE_WINDOWS_H
#define PROBE_WINDOWS_H

#include <windows.h>

#include <string>
#include <vector>

namespace ui {

class ProbeWindows {
public:
    explicit ProbeWindows(const char *className) : className_(className)
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = className_.c_str();
        RegisterClassA(&windowClass);
    }
    ~ProbeWindows()
    {
        // Children and owned windows go with the windows that hold them.
        for (auto window = windows_.rbegin(); window != windows_.rend(); ++window)
            if (IsWindow(*window))
                DestroyWindow(*window);
    }
    ProbeWindows(const ProbeWindows &) = delete;
    ProbeWindows &operator=(const ProbeWindows &) = delete;

    HWND create(const char *title, DWORD style, HWND parent = nullptr)
    {
        HWND window = CreateWindowExA(0, className_.c_str(), title, style, 40, 40, 200, 100, parent, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
        if (window)
            windows_.push_back(window);
        return window;
    }

private:
    std::string className_;
    std::vector<HWND> windows_;
};

} // namespace ui

#endif
