// Marrowby's forms: one Form object per window, each defined with its design
// and its handlers in the window's own source file (wndMain.cpp, ...). The
// enumerations name a form's controls in the order of its design table.
#ifndef MARROWBY_H
#define MARROWBY_H

#include "forms.h"

// The main window: the banner picture, the menu and the command title.
namespace wndMain {
enum Control { Web, Label1, lblMenuCmd };
// The menu's entries in menu order.
enum MenuItem {
    mnuStatus, mnuListShares, mnuShowSessions, mnuSeparator0, mnuShowName, mnuListTasks, mnuCheckNetDDE,
    mnuSelectComputer, mnuSeparator1, mnuExit,
    mnuHelp, mnuContents, mnuHelpOnHelp, mnuSeparator2, mnuAbout,
};
extern Form form;
}

// The computer the program manages: this machine or another node.
namespace dlgSelectComputer {
enum Control { Label1, txtComputerName, btnOK, btnCancel };
extern Form form;
}

namespace dlgAbout {
enum Control { Image1, Label1, Label2, btnOK };
extern Form form;
}

// The dialogs of the share commands.
namespace dlgListShares {
enum Control { Label1, lbxShareList, btnAdd, btnEdit, btnDelete, btnCancel };
extern Form form;
}
namespace dlgEditShare {
enum Control {
    Label1, txtShareName, Label2, txtAppName, Label3, txtTopic, Label4, txtFirstItem, Label5, lbxAddItems,
    frmAccess1, Label6, txtPassword1, chkRequest1, chkAdvise1, chkPoke1, chkExecute1, chkStartApp1,
    frmAccess2, Label7, txtPassword2, chkRequest2, chkAdvise2, chkPoke2, chkExecute2, chkStartApp2,
    btnOK, btnCancel, btnAdd, btnEdit, btnDelete,
};
extern Form form;
}
namespace dlgEditItem {
enum Control { Label1, txtItemName, Label2, cbxNextItem, frmAccess, chkRequest, chkAdvise, chkPoke, btnOK, btnCancel };
extern Form form;
}
// The share editor and the item editor add when their caption (the caption
// of the button that opened them) holds a capital "A", and edit otherwise.
bool IsAddMode(const Form &editor);

// The dialogs of the session and task commands.
namespace dlgListSessions {
enum Control { Label1, lbxSessList, btnClients, btnClose, btnCancel };
extern Form form;
}
namespace dlgListConnections {
enum Control { Label1, lbxConnList, btnOK };
extern Form form;
}
namespace dlgListTasks {
enum Control { Label1, lbxTaskList, btnProperties, btnCancel };
extern Form form;
}
namespace dlgCheckTask {
enum Control { imgInfo, lblTaskName, btnOK, Frame1, Label1, lblWndHandle, Label2, txtWndClass, Label3, txtWndTitle };
extern Form form;
}

#endif
