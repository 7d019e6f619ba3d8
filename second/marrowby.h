// Marrowby's forms: one Form object per window, each defined with its design
// and its handlers in the window's own source file (wndMain.cpp, ...). The
// enumerations name a form's controls in the order of its design table.
#ifndef MARROWBY_H
#define MARROWBY_H

#include "forms.h"

// The main window: the banner picture, the menu and the command title.
namespace wndMain {
enum Control { Web, Label1, lblMenuCmd };
extern Form form;
}

namespace dlgAbout {
enum Control { Image1, Label1, Label2, btnOK };
extern Form form;
}

// The dialogs of the share commands.
namespace dlgListShares {
extern Form form;
}
namespace dlgEditShare {
extern Form form;
}
namespace dlgEditItem {
extern Form form;
}

// The dialogs of the session and task commands.
namespace dlgListSessions {
extern Form form;
}
namespace dlgListConnections {
extern Form form;
}
namespace dlgListTasks {
extern Form form;
}
namespace dlgCheckTask {
extern Form form;
}

#endif
