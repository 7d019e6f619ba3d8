// nddeagent.exe's part in remote administration (administration.h): the
// partner library's calls on other nodes, the calls of other nodes run here
// with this machine's partner library, and remote administration of this
// node turned on or off (/admin:on, /admin:off, the This node page).
#ifndef REMOTEADMIN_H
#define REMOTEADMIN_H

#include "administration.h"

// Lends the conversations what they need (before any session).
void StartAdministration();
// A partner's AgentAdministerNode request: NDDE_NO_ERROR when taken (its
// answer goes to `replyWindow` later), else the code the call gets.
UINT TakeAdministrationRequest(HWND replyWindow, const COPYDATASTRUCT *data);
// WM_DELIVER_ANSWERS: hands the answers that came to the programs that wait.
void DeliverAdministrationAnswers();
// Asks for a new administration password and turns remote administration
// on with it; false when the user cancels or it cannot be stored.
bool TurnAdministrationOn(HWND owner);
// Turns remote administration on again with the password stored before,
// or, without one, as TurnAdministrationOn.
bool AllowAdministration(HWND owner);
// Turns remote administration of this node off; false when it cannot be
// written.
bool TurnAdministrationOff();

#endif
