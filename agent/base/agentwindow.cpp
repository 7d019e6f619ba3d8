// The agent's window and the node it serves (agentwindow.h): set by the
// program as it starts, read by every layer.
#include "agentwindow.h"
#include <winsock.h>

HWND AgentWindowHandle;
char OwnNodeName[MaxNodeNameLength + 1];
unsigned short OwnPort = AgentDefaultPort;
DWORD OwnAddress = INADDR_ANY;
