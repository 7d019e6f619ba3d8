// nddeagent.exe's part in remote administration (remoteadmin.h).
//
// A program's call waits here, by its reply window, until the node's answer
// or refusal comes; the answer is handed over from a posted message, never
// from under the frame or the request that brought it.
#include "remoteadmin.h"
#include "prompt.h"

const int MaxWaitingPrograms = 64;

struct WaitingProgram {
    DWORD serial;
    HWND replyWindow;
    DWORD startedAt;
    bool answered;
    RemoteBytes answer;         // the node's answer, or only the refusing code
    RemoteBytes callHere;       // a call on this node's own name, to run here
};

static WaitingProgram waiting[MaxWaitingPrograms];
static int waitingCount;
static DWORD lastSerial;

static void dropWaiting(int index)
{
    FreeRemoteBytes(&waiting[index].answer);
    FreeRemoteBytes(&waiting[index].callHere);
    waiting[index] = waiting[--waitingCount];
}

// ---- Running calls here ----------------------------------------------------------
// With the partner library's own operations, as a local call runs them.

static const PartnerOperation *partnerOperations()
{
    static const PartnerOperation *operations;
    if (!operations) {
        HMODULE partner = LoadLibraryA("Tessaseg.DLL");
        const PartnerThunkBlock *block =
            partner ? (const PartnerThunkBlock *)GetProcAddress(partner, "thk_ThunkData16") : 0;
        if (block && block->checksum == ThunkChecksum &&
            block->operationCount == PartnerOperationCount)
            operations = block->operations;
    }
    return operations;
}

static UINT runCall(const BYTE *call, DWORD length, RemoteBytes *answer, char what[96])
{
    const PartnerOperation *operations = partnerOperations();
    if (!operations) {
        answer->bytes = 0;
        answer->length = 0;
        lstrcpyA(what, "a share function: no partner library");
        return NDDE_NOT_RUNNING;
    }
    return RunRemoteCall(operations, call, length, answer, what);
}

// ---- Answers to the programs --------------------------------------------------------

static void callAnswered(DWORD serial, WORD code, const BYTE *answer, DWORD length)
{
    for (int i = 0; i < waitingCount; i++) {
        WaitingProgram &program = waiting[i];
        if (program.serial != serial || program.answered)
            continue;
        DWORD size = length ? length : 2;
        program.answer.bytes = (BYTE *)HeapAlloc(GetProcessHeap(), 0, size);
        if (!program.answer.bytes)
            return;                 // the program stops waiting in its time
        if (length)
            memcpy(program.answer.bytes, answer, length);
        else
            memcpy(program.answer.bytes, &code, 2);
        program.answer.length = size;
        program.answered = true;
        PostMessageA(AgentWindowHandle, WM_DELIVER_ANSWERS, 0, 0);
        return;
    }
}

void DeliverAdministrationAnswers()
{
    DWORD now = GetTickCount();
    for (int i = waitingCount - 1; i >= 0; i--) {
        if (i >= waitingCount)
            continue;
        if (waiting[i].callHere.bytes && !waiting[i].answered) {
            RemoteBytes call = waiting[i].callHere, answer;
            waiting[i].callHere.bytes = 0;
            DWORD serial = waiting[i].serial;
            char what[96];
            UINT code = runCall(call.bytes, call.length, &answer, what);
            FreeRemoteBytes(&call);
            callAnswered(serial, (WORD)code, answer.bytes, answer.length);
            FreeRemoteBytes(&answer);
            PostMessageA(AgentWindowHandle, WM_DELIVER_ANSWERS, 0, 0);
            return;             // the partner may have taken sent messages: again from the top
        }
        WaitingProgram program = waiting[i];
        if (!program.answered) {
            if (now - program.startedAt >= RemoteCallTimeout)
                dropWaiting(i);
            continue;
        }
        // Taken off the list before the send, which may bring new requests.
        waiting[i].answer.bytes = 0;
        dropWaiting(i);
        COPYDATASTRUCT data = {AgentReply, program.answer.length, program.answer.bytes};
        DWORD_PTR taken;
        if (IsWindow(program.replyWindow))
            SendToWaitingSender(program.replyWindow, WM_COPYDATA, (WPARAM)AgentWindowHandle,
                                (LPARAM)&data, AgentReplyTimeout, &taken);
        FreeRemoteBytes(&program.answer);
    }
}

UINT TakeAdministrationRequest(HWND replyWindow, const COPYDATASTRUCT *data)
{
    if (data->cbData < sizeof(AgentAdministration) + 1 ||
        data->cbData > sizeof(AgentAdministration) + MaxRemoteCall)
        return NDDE_INVALID_PARAMETER;
    AgentAdministration request;
    memcpy(&request, data->lpData, sizeof request);
    request.node[MaxNodeNameLength] = 0;
    if (!IsValidNodeName(request.node))
        return NDDE_INVALID_SERVER;
    if (waitingCount == MaxWaitingPrograms)
        DeliverAdministrationAnswers();         // drops those that stopped waiting
    if (waitingCount == MaxWaitingPrograms)
        return NDDE_OUT_OF_MEMORY;
    WaitingProgram &program = waiting[waitingCount++];
    ZeroMemory(&program, sizeof program);
    program.serial = ++lastSerial;
    program.replyWindow = replyWindow;
    program.startedAt = GetTickCount();
    const BYTE *call = (const BYTE *)data->lpData + sizeof request;
    DWORD length = data->cbData - sizeof request;
    // This node by the agent's name: run here, from the window's loop, as a
    // node's call would be.
    if (isSameNodeName(request.node, OwnNodeName)) {
        program.callHere.bytes = (BYTE *)HeapAlloc(GetProcessHeap(), 0, length);
        if (!program.callHere.bytes) {
            waitingCount--;
            return NDDE_OUT_OF_MEMORY;
        }
        memcpy(program.callHere.bytes, call, length);
        program.callHere.length = length;
        PostMessageA(AgentWindowHandle, WM_DELIVER_ANSWERS, 0, 0);
        return NDDE_NO_ERROR;
    }
    AdministerNode(program.serial, request.node, call, length);
    return NDDE_NO_ERROR;
}

// ---- Passwords ------------------------------------------------------------------------
// Administration passwords of other nodes live beside share passwords, under
// a name no share has.

static const char *rememberedAdministrationPassword(const char *node)
{
    return RememberedPassword(node, AdminProofName);
}

static void rememberAdministrationPassword(const char *node, const char *password)
{
    if (password)
        RememberPassword(node, AdminProofName, password);
    else
        ForgetPassword(node, AdminProofName);
}

static const AdministrationKeeper AgentAdministration = {
    runCall, callAnswered, rememberedAdministrationPassword, rememberAdministrationPassword,
    AskAdministrationPassword,
};

void StartAdministration()
{
    SetAdministrationKeeper(&AgentAdministration);
}

bool TurnAdministrationOn(HWND owner)
{
    char password[MaxPasswordLength + 1];
    if (!AskNewAdministrationPassword(owner, password))
        return false;
    bool turnedOn = SetRemoteAdministration(true, password);
    SecureZeroMemory(password, sizeof password);
    if (turnedOn)
        LogEvent("remote administration of this node turned on");
    return turnedOn;
}

bool AllowAdministration(HWND owner)
{
    if (!HasAdministrationPassword())
        return TurnAdministrationOn(owner);
    bool turnedOn = SetRemoteAdministration(true, 0);
    if (turnedOn)
        LogEvent("remote administration of this node turned on");
    return turnedOn;
}

bool TurnAdministrationOff()
{
    bool turnedOff = SetRemoteAdministration(false, 0);
    if (turnedOff)
        LogEvent("remote administration of this node turned off");
    return turnedOff;
}
