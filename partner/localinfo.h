// What the partner tells about the local machine without the share store or
// the agent: texts for result codes, the node name, the task behind a window.
#ifndef LOCALINFO_H
#define LOCALINFO_H

#include "tessaflat.h"

// The text for `code`, cut to `size` bytes with its terminator.
UINT ErrorText(UINT code, char *buffer, DWORD size);

// The computer name, upper-case, at most MaxNodeNameLength characters;
// NDDE_BUF_TOO_SMALL when it does not fit `size` bytes.
UINT NodeName(char *buffer, DWORD size);

// For the window with the 16-bit handle `window`: the node name into
// `client` and the upper-case base name of the owning task's program into
// `task`, each cut to its size. NDDE_INVALID_WINDOW for no window.
UINT ClientInfo(WORD window, char *client, LONG clientSize, char *task, LONG taskSize);

#endif
