// Starting the status program for a driver test, and reaching its main
// window and title slot.
#ifndef STATUS_PROGRAM_H
#define STATUS_PROGRAM_H

#include <string>

#include "resource.h"
#include "uidriver.h"

const char StatusProgramFile[] = "quorvstat.exe";
const char MainWindowClass[] = "Quorvane";
const char MainWindowTitle[] = "32-bit Network DDE Status";

struct StatusProgram {
    ui::Program program;
    HWND main = NULL;

    // Starts quorvstat.exe of `directory` (the build's) and waits for its
    // main window.
    bool start(const std::string &directory = ui::driverDirectory())
    {
        if (!program.start(directory + StatusProgramFile))
            return false;
        main = ui::waitForWindow(program.processId(), MainWindowClass, MainWindowTitle);
        return main != NULL;
    }
    DWORD processId() const { return program.processId(); }
    std::string title() const { return ui::text(main, IDC_TITLE_SLOT); }
    bool titleBecomes(const std::string &expected, DWORD timeout = 5000) const
    {
        return ui::waitUntil([&] { return title() == expected; }, timeout);
    }
};

#endif
