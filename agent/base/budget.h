// The agent's one memory budget. Every receive buffer, send queue and
// conversation queue is charged to the account of the session it belongs to
// (a ByteBuffer with an account charges its capacity as it grows and frees).
//
// Each account may hold a small allowance, and beyond it a fair share of the
// budget: MemoryBudget divided among the accounts that hold more than their
// allowance. A session over its share is not read from until it drains (its
// peer waits; nobody else fails). Charges past MemoryCeiling, the hard bound
// of all accounts together, are refused, and an account past its allowance
// stops AllowanceReserve short of it.
#ifndef BUDGET_H
#define BUDGET_H

#include <windows.h>

const DWORD MemoryBudget = 96 * 1024 * 1024;
const DWORD MemoryCeiling = 160 * 1024 * 1024;
const DWORD BudgetAllowance = 256 * 1024;       // any account may always hold this much
// The last bytes below MemoryCeiling only accounts within their allowance take.
const DWORD AllowanceReserve = 16 * 1024 * 1024;

struct BudgetAccount {
    DWORD charged;
};

// Charges `bytes` to `account`; false (nothing charged) past MemoryCeiling.
bool ChargeBudget(BudgetAccount *account, DWORD bytes);
void ReleaseBudget(BudgetAccount *account, DWORD bytes);
// Whether `account` may take `bytes` more and stay within its share.
bool IsWithinShare(const BudgetAccount *account, DWORD bytes);
// What all accounts hold together, and the most they ever held.
DWORD BudgetCharged();
DWORD BudgetPeak();

#endif
