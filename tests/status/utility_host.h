// The utility host: a small program built from the status program's
// utilities (status/util.cpp) around one test dialog. The driver tests send
// it these requests; each runs one utility on the dialog.
#ifndef UTILITY_HOST_H
#define UTILITY_HOST_H

#include <windows.h>

#define IDD_UTILITY_HOST 900
#define IDC_HOST_EVENT 30      // static: what the last request did
#define IDC_HOST_VALUE 40      // edit: the text argument of a request
#define IDC_HOST_CHECK 116     // an automatic check box in the tab order
#define IDC_HOST_AMPERSANDS 114 // a button named "&&Sa&ve", outside the tab order
#define IDC_HOST_LONG_TEXT 115 // a button with a text of more than 31 characters

// Caption of the host dialog.
#define HOST_CAPTION "Utility Host"

enum HostRequest {
    HostEnableButton = WM_APP + 1, // wParam control id, lParam enable flag
    HostFitList,                   // wParam list id
    HostFillList,                  // wParam number of sample lines (0 to 3)
    HostModes,                     // answers isEditMode | isCheckMode << 1
    HostHasSelection,              // wParam list id; answers hasListSelection
    HostReportInvalid,             // wParam kind; the text is the value field's (post it)
    HostReportApiError,            // wParam code (post it)
    HostAsk,                       // "Delete share '<value>' ?"; event "answer <N>" (post it)
    HostNotice,                    // "Item '<value>' already exists !"; event "notice shown" (post it)
    HostTitleFromControl,          // wParam control id
    HostCaptionFromTitle,          // the slot's text becomes the caption
    HostCursor,                    // wParam a HostCursorAction; answers a HostCursorKind
    HostGrow,                      // wParam a GrowScenario; event "sizes a,b,... result r" (post it)
};

enum HostCursorAction { CursorQuery, CursorSetCross, CursorBeginWait, CursorEndWait };
enum HostCursorKind { CursorOther, CursorArrow, CursorWait, CursorCross };

// The lines HostFillList puts into list 110 (sorted there).
static const char *const HostSampleLines[] = { "short", "a much longer line of text", "WWWWWWWWWWWW" };

enum GrowScenario {
    GrowNamesFitSecond = 1,    // share names: total 30, then success
    GrowNamesNoProgress,       // share names: answers 2 with total 30 always
    GrowShareRecord,           // share record: 3 items, total 300
    GrowSessionsWithoutCount,  // sessions: answers 2 with 0 entries, total 24
    GrowSessions,              // sessions: 2 entries, total 48
    GrowConnections,           // connections: 2 entries, total 40
    GrowHugeTotal,             // share names: total 0xFFFFFFFF
    GrowEverGrowing,           // share names: total grows by 10 on every try
    GrowOtherError,            // answers code 16 at once
};

#endif
