// The agent's window and the node it serves (agentwindow.h): set by the
// program as it starts, read by every layer.
#include "agentwindow.h"
#include <winsock.h>

HWND AgentWindowHandle;
char OwnNodeName[MaxNodeNameLength + 1];
unsigned short OwnPort = AgentDefaultPort;
DWORD OwnAddress = INADDR_ANY;

bool SendToWaitingSender(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT timeout,
                         DWORD_PTR *result)
{
    const UINT SecondChance = 250;      // ms
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, timeout, result) ||
           (IsWindow(window) &&
            SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, SecondChance, result));
}
