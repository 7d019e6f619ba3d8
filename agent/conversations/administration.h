// Administering other nodes, and being administered: the NDde share
// functions a program calls with \\NODE run on that node (netdde_wire.h,
// Admin frames; remotecall.h lays out the calls). On the client's node the
// agent takes a program's call, opens the session to the node, proves the
// node's administration password once per session (asking the user for it
// once per node) and hands the answer back; on the serving node it checks
// the proof, runs each call in its turn from the window's loop (never under
// a frame's handling) and records every call in its events.
#ifndef ADMINISTRATION_H
#define ADMINISTRATION_H

#include "netsessions.h"
#include "remotecall.h"
#include "sharestore.h"

// Remote administration of this node: HKLM\Software\Tessaseg\Administration,
// REG_DWORD "Enabled" (1: on), and the password only as the key it derives
// (DeriveAdministrationKey): REG_BINARY "Salt" (random, AdminSaltLength
// bytes), REG_DWORD "Iterations" and REG_BINARY "Key" (ProofLength bytes).
const char AdministrationKey[] = "Software\\Tessaseg\\Administration";
const DWORD AdminIterations = 20000;

// Whether remote administration is on (and a password is stored).
bool IsRemoteAdministrationOn();
// Turns it on with `password` (a new salt and key), or on with the stored
// password when `password` is null, or off; false when it cannot be written
// (or is to be on without any password).
bool SetRemoteAdministration(bool on, const char *password);
bool HasAdministrationPassword();

// What the program lends: running a call here, handing answers to the
// programs that made the calls, and the user's passwords of other nodes.
struct AdministrationKeeper {
    // Runs a client node's call (remotecall.h) with this node's partner.
    UINT (*runCall)(const BYTE *call, DWORD length, RemoteBytes *answer, char what[96]);
    // The answer to the program's call `serial`: the node's answer bytes,
    // or, with none, only the code that refuses it.
    void (*callAnswered)(DWORD serial, WORD code, const BYTE *answer, DWORD length);
    const char *(*rememberedPassword)(const char *node);
    // Remembers the password for `node`; null forgets it.
    void (*rememberPassword)(const char *node, const char *password);
    // Asks the user; false when the user cancels.
    bool (*askPassword)(HWND owner, const char *node, char password[MaxPasswordLength + 1]);
};
void SetAdministrationKeeper(const AdministrationKeeper *keeper);

// A program's call `serial` on `node` (copied); answered through the
// keeper's callAnswered, or never once it is RemoteCallTimeout old.
void AdministerNode(DWORD serial, const char *node, const BYTE *call, DWORD length);
// WM_ADMINISTRATION: the prompts and the served calls that wait.
void RunAdministration();
// Once a second: held proofs that are due, calls past their time.
void CheckAdministration();

// Closes a served session on this node's order (CloseServedSession); the
// session a call runs on now (a program of its node closes its own session)
// is closed once that call's answer is sent.
void CloseSessionOnOrder(Session *session);

// The sessions' part (called from conversations.cpp).
bool IsAdministrationFrame(BYTE kind);
FrameVerdict JudgeAdministrationFrame(Session *session, const Frame *head);
bool HandleAdministrationFrame(Session *session, const Frame *frame);
void AdministrationSessionReady(Session *session);
void AdministrationSessionEnds(Session *session);

#endif
