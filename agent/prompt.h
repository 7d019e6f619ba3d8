// Passwords for shares on other nodes: remembered once granted (until the
// agent exits), or asked of the user with a small dialog.
#ifndef PROMPT_H
#define PROMPT_H

#include "sharestore.h"

// The password granted before for `share` on `node`, or null.
const char *RememberedPassword(const char *node, const char *share);
void RememberPassword(const char *node, const char *share, const char *password);
void ForgetPassword(const char *node, const char *share);

// Asks "Password for share SHARE on \\NODE:"; false when the user cancels.
// The password is upper-cased, as the front ends store passwords.
bool AskPassword(HWND owner, const char *node, const char *share,
                 char password[MaxPasswordLength + 1]);

// Asks for the administration password of `node`, in the same dialog
// captioned "Administration of \\NODE"; false when the user cancels.
bool AskAdministrationPassword(HWND owner, const char *node, char password[MaxPasswordLength + 1]);
// Asks for a new administration password for this node; false when the user cancels.
bool AskNewAdministrationPassword(HWND owner, char password[MaxPasswordLength + 1]);

#endif
