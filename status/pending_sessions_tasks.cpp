// Placeholder until the session list (sessions.cpp) and the task dialogs
// (tasks.cpp) land: each dialog closes as soon as it opens. Remove this file
// from the build when those files define the three procedures.
#include "quorvstat.h"

static INT_PTR closeAtOnce(HWND dialog, UINT message)
{
    if (message == WM_INITDIALOG)
        EndDialog(dialog, IDCANCEL);
    return FALSE;
}

INT_PTR CALLBACK sessionListDialog(HWND dialog, UINT message, WPARAM, LPARAM)
{
    return closeAtOnce(dialog, message);
}

INT_PTR CALLBACK taskListDialog(HWND dialog, UINT message, WPARAM, LPARAM)
{
    return closeAtOnce(dialog, message);
}

INT_PTR CALLBACK taskPropertiesDialog(HWND dialog, UINT message, WPARAM, LPARAM)
{
    return closeAtOnce(dialog, message);
}
