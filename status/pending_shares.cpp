// Placeholder until the share list lands in shares.cpp (with items.cpp):
// the share list closes as soon as it opens. Remove this file from the
// build when shares.cpp defines shareListDialog.
#include "quorvstat.h"

INT_PTR CALLBACK shareListDialog(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG)
        EndDialog(dialog, IDCANCEL);
    return FALSE;
}
