// nddeclient.exe: a Network DDE client node.
//
//   nddeclient.exe [/port:N] NODE SHARE[:PASSWORD]...
//
// Opens a session with the agent on 127.0.0.1 as node NODE, connects to each
// share (the password, upper-cased as the front ends store it, follows the
// first colon; none means an empty password), and reports on stdout:
//   session <id> opened as <NODE>
//   granted <SHARE> by password #<1|2> with permissions 0x<hex>
//   refused <SHARE> with code <code>
//   ready
// It then stays until the agent ends the session ("session closed", exit
// code 0) or it is stopped. Exit code 1: no session; 2: wrong command line.
#include "agentlink.h"
#include <winsock.h>
#include <stdlib.h>

static void print(const char *format, ...)
{
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    int length = wvsprintfA(line, format, arguments);
    va_end(arguments);
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, length, &written, 0);
}

static bool sendLine(SOCKET agent, const char *line)
{
    int length = lstrlenA(line);
    return send(agent, line, length, 0) == length;
}

// Reads one answer line, without its '\n'; false when the agent has gone.
static bool readLine(SOCKET agent, char *line)
{
    for (int length = 0; length < MaxLineLength; length++) {
        if (recv(agent, &line[length], 1, 0) != 1)
            return false;
        if (line[length] == '\n') {
            line[length] = 0;
            return true;
        }
    }
    return false;
}

// The answer's code behind "REFUSED\t", or NDDE_INTERNAL_ERROR for nonsense.
static UINT refusalCode(const char *answer)
{
    if (!startsWith(answer, "REFUSED\t"))
        return NDDE_INTERNAL_ERROR;
    return strtoul(answer + 8, 0, 10);
}

static bool openSession(SOCKET agent, const char *node)
{
    char line[MaxLineLength + 1];
    if (lstrlenA(node) > MaxNodeNameLength)
        node = "";                      // the agent refuses it
    wsprintfA(line, "HELLO\t%s\n", node);
    if (!sendLine(agent, line) || !readLine(agent, line)) {
        print("no answer from the Network DDE agent\r\n");
        return false;
    }
    if (!startsWith(line, "SESSION\t")) {
        print("session refused with code %u\r\n", refusalCode(line));
        return false;
    }
    print("session %s opened as %s\r\n", line + 8, node);
    return true;
}

// Asks for a connection to "SHARE[:PASSWORD]"; false when the agent has gone.
static bool connectShare(SOCKET agent, const char *argument)
{
    char share[ShareNameSize + 1], password[MaxLineLength + 1] = "";
    int nameLength = 0;
    while (argument[nameLength] && argument[nameLength] != ':')
        nameLength++;
    lstrcpynA(share, argument, (nameLength < ShareNameSize ? nameLength : ShareNameSize) + 1);
    if (argument[nameLength] == ':')
        lstrcpynA(password, argument + nameLength + 1, 64);
    CharUpperBuffA(password, lstrlenA(password));

    char line[MaxLineLength + 1];
    wsprintfA(line, "CONNECT\t%s\t%s\n", share, password);
    if (!sendLine(agent, line) || !readLine(agent, line))
        return false;
    unsigned passwordNumber, permissions;
    char *end;
    if (startsWith(line, "GRANTED\t")) {
        passwordNumber = strtoul(line + 8, &end, 10);
        permissions = strtoul(end, 0, 10);
        print("granted %s by password #%u with permissions 0x%04X\r\n", share, passwordNumber,
              permissions);
    } else {
        print("refused %s with code %u\r\n", share, refusalCode(line));
    }
    return true;
}

static SOCKET connectAgent(unsigned short port)
{
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(1, 1), &winsock) != 0)
        return INVALID_SOCKET;
    SOCKET agent = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (agent != INVALID_SOCKET && connect(agent, (sockaddr *)&address, sizeof address) != 0) {
        closesocket(agent);
        agent = INVALID_SOCKET;
    }
    return agent;
}

int main(int argc, char **argv)
{
    unsigned short port = AgentDefaultPort;
    int first = 1;
    if (argc > 1 && startsWith(argv[1], "/port:")) {
        port = (unsigned short)strtoul(argv[1] + 6, 0, 10);
        first = 2;
    }
    if (argc <= first) {
        print("usage: nddeclient [/port:N] NODE SHARE[:PASSWORD]...\r\n");
        return 2;
    }
    SOCKET agent = connectAgent(port);
    if (agent == INVALID_SOCKET) {
        print("cannot reach the Network DDE agent on port %u\r\n", port);
        return 1;
    }
    if (!openSession(agent, argv[first]))
        return 1;
    bool open = true;
    for (int i = first + 1; open && i < argc; i++)
        open = connectShare(agent, argv[i]);
    if (open) {
        print("ready\r\n");
        // Nothing more to send: wait for the agent to end the session.
        char ignored;
        while (recv(agent, &ignored, 1, 0) == 1) {
        }
    }
    print("session closed\r\n");
    closesocket(agent);
    WSACleanup();
    return 0;
}
