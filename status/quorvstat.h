// quorvstat: program-wide state, the dialog procedures the main window opens,
// and the small routines every dialog of the program shares.
#ifndef QUORVSTAT_H
#define QUORVSTAT_H

#include <windows.h>

#include "resource.h"
#include "tessaflat.h"

// Program-wide state, set once at start-up (main.cpp).
extern HINSTANCE programInstance;
extern HWND mainWindow;

// ---- Dialog procedures opened from the main window's menu ----------------
// Each is run with DialogBoxParamA(programInstance, template, owner, proc, 0)
// and begins its WM_INITDIALOG with captionFromTitle.

// Dialog 10, the share list (shares.cpp).
INT_PTR CALLBACK shareListDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Dialog 12, the item editor, opened by the share editor with the share
// editor as owner; it works on the owner's list 124 (items.cpp).
INT_PTR CALLBACK itemEditorDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Dialog 13, the session list (sessions.cpp).
INT_PTR CALLBACK sessionListDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Dialog 15, the task list (tasks.cpp).
INT_PTR CALLBACK taskListDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Dialog 16, the task properties; check mode when its caption begins with C
// (tasks.cpp).
INT_PTR CALLBACK taskPropertiesDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Dialog 21, Select Computer (computer.cpp).
INT_PTR CALLBACK selectComputerDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// ---- The computer the program manages (computer.cpp) ---------------------
// The server argument of every library call that takes one: "\\NODE" while
// another node is managed, null for this machine.
LPSTR managedServer();
// Manages the computer `name` names (NODE or \\NODE; this machine's own
// node name is this machine) and captions the main window after it. False,
// with nothing changed, for a name that is no node name.
BOOL selectComputer(LPCSTR name);
// Takes /computer:NODE from the start of the command line; a name that is no
// node name is shown in a notice, and this machine is managed.
void selectComputerFromCommandLine(LPCSTR commandLine);

// ---- Title slot (control 100 of the main window) -------------------------
// Longest title that takes part: every read uses a buffer of this size.
const int TitleBufferSize = 32;

// Puts the text of the main window's menu item `commandId`, without its
// ampersands, into the title slot; leaves the slot alone when the item has
// no text (or the window has no menu).
void setTitleFromMenu(HWND window, UINT commandId);
// Puts the window's text (a button's, or a dialog's own caption), without
// its ampersands, into the title slot.
void setTitleFromControl(HWND window);
// Puts `text` into the title slot as it is (an empty string clears it).
void setTitleText(LPCSTR text);
// Runs a nested dialog opened by one of `dialog`'s buttons: the button's
// text titles the nested dialog (and so gives its mode), and `dialog`'s own
// caption is the title again afterwards.
void runNestedDialog(HWND dialog, int buttonId, int templateId, DLGPROC procedure);
// Makes the title slot's text the dialog's caption.
void captionFromTitle(HWND dialog);
// Removes every '&' from `text` in place.
void removeAmpersands(LPSTR text);

// ---- Wait cursor -----------------------------------------------------------
// Shows the hourglass and remembers the cursor it replaced.
void beginWaitCursor();
// Restores the remembered cursor, or the arrow when none is remembered.
void endWaitCursor();

// ---- Buttons, lists and modes ------------------------------------------------
// Enables or disables a dialog button. Disabling the default push button
// hands the default state and the focus to the next enabled plain push
// button in tab order.
void enableDialogButton(HWND dialog, int controlId, BOOL enable);
// Sets a list box's horizontal scroll range to its widest line (plus the
// vertical scroll bar's width), 0 when the list is empty.
void fitListWidth(HWND dialog, int listId);
// True when the list box has a current selection.
BOOL hasListSelection(HWND dialog, int listId);
// Reads the list box's selected line into `text` (`textSize` bytes) and its
// item data into `data`. False without a selection or when the line does
// not fit.
BOOL readSelectedLine(HWND dialog, int listId, LPSTR text, int textSize, DWORD *data);
// True when the dialog's caption begins with E / e ("Edit...").
BOOL isEditMode(HWND dialog);
// True when the dialog's caption begins with C / c ("Check NetDDE...").
BOOL isCheckMode(HWND dialog);

// The list-box part of a list dialog's WM_COMMAND (`wParam` as received):
// a selection enables `selectionButtons`, a cancelled selection disables
// them, a double-click acts as a click on `mainButton`. Always handled.
BOOL handleListNotification(HWND dialog, WPARAM wParam, const int *selectionButtons,
                            int selectionButtonCount, int mainButton);

// ---- Messages ------------------------------------------------------------------
// Largest text wsprintfA ever writes, terminator included.
const int FormattedTextSize = 1024;

// Loads string `formatId` and fills it with `argument` into `text`
// (FormattedTextSize bytes).
void formatResourceString(LPSTR text, UINT formatId, LPCSTR argument);
// Asks the question string `formatId` filled with `name` (Yes/No, question
// icon), owned by and captioned with the dialog. True only for Yes.
BOOL askDialogQuestion(HWND dialog, UINT formatId, LPCSTR name);
// Shows string `formatId` filled with `argument` (exclamation icon), owned by
// `owner`, with the system's default caption.
void showDialogNotice(HWND owner, UINT formatId, LPCSTR argument);

// Shows "NDDEAPI.DLL reports error #code." with the library's text for the
// code. When the library cannot name a code, the code it answers instead is
// reported, for a few steps at most.
void reportApiError(UINT code);

// The kinds of value the share editor validates (they select strings 17-20).
enum InvalidValueKind {
    InvalidShareName = 1,
    InvalidTopic = 2,
    InvalidPassword1 = 3,
    InvalidPassword2 = 4,
};
// Shows "<value name> '<text>' is invalid !"; a kind outside 1 to 4 shows
// nothing.
void reportInvalidValue(int kind, LPCSTR text);

// ---- Growing result buffers for the library's enumeration calls --------------
// A zero-filled global block that an enumeration call fills, with the
// counters the library writes.
struct EnumerationBuffer {
    HGLOBAL block;         // null while no block is held
    LPBYTE data;           // the locked block, or null (size 0)
    DWORD size;            // bytes offered in the last call
    DWORD entriesRead;
    DWORD totalAvailable;
    WORD itemCount;
};

// How the size of each try follows from the counters of the previous one.
enum BufferSizeRule {
    ShareNamesSize,     // NDdeShareEnum: the total
    ShareRecordSize,    // NDdeShareGetInfo: max(8 x items + 112, total) + 1
    SessionListSize,    // NDdeSessionEnum: 24 x entries (+1 when above 0)
    ConnectionListSize, // NDdeConnectionEnum: max(8 x entries, total) (+1 when above 0)
};
DWORD enumerationBufferSize(BufferSizeRule rule, const EnumerationBuffer *buffer);

// One library call with buffer->data and buffer->size, the counters of
// `buffer`, and whatever else `request` carries. Returns the library's code.
typedef UINT (*EnumerationCall)(EnumerationBuffer *buffer, const void *request);

// Calls `call` with growing buffers while the library answers 2 (buffer too
// small) and asks for more than was offered. True on code 0: the buffer and
// counters then hold the result until releaseEnumerationBuffer. False on any
// other outcome, which has been reported; nothing is held then.
BOOL readWithGrowingBuffer(EnumerationBuffer *buffer, BufferSizeRule rule, EnumerationCall call,
                           const void *request);
void releaseEnumerationBuffer(EnumerationBuffer *buffer);
// The entries of `entrySize` bytes the buffer's counter claims, bounded by
// what the buffer holds, so a loop over them stays inside the block whatever
// the library answers.
DWORD entriesInBuffer(const EnumerationBuffer *buffer, DWORD entrySize);

#endif
