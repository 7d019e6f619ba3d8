// The agent's one memory budget (budget.h).
#include "budget.h"

static DWORD totalCharged, peakCharged;
static int accountsPastAllowance;

static bool isPastAllowance(DWORD charged)
{
    return charged > BudgetAllowance;
}

static void setCharged(BudgetAccount *account, DWORD charged)
{
    accountsPastAllowance += (int)isPastAllowance(charged) - (int)isPastAllowance(account->charged);
    totalCharged = totalCharged - account->charged + charged;
    account->charged = charged;
    if (totalCharged > peakCharged)
        peakCharged = totalCharged;
}

// What `account` may still charge of `bytes` below the ceiling. The last
// AllowanceReserve bytes are for accounts within their allowance: peers
// that fill the budget never leave a small session without room.
static DWORD roomFor(const BudgetAccount *account, DWORD bytes)
{
    DWORD ceiling = account->charged + bytes <= BudgetAllowance ? MemoryCeiling
                                                                : MemoryCeiling - AllowanceReserve;
    return totalCharged < ceiling ? ceiling - totalCharged : 0;
}

bool ChargeBudget(BudgetAccount *account, DWORD bytes)
{
    if (bytes > roomFor(account, bytes))
        return false;
    setCharged(account, account->charged + bytes);
    return true;
}

void ReleaseBudget(BudgetAccount *account, DWORD bytes)
{
    setCharged(account, bytes < account->charged ? account->charged - bytes : 0);
}

bool IsWithinShare(const BudgetAccount *account, DWORD bytes)
{
    DWORD wanted = account->charged + bytes;
    if (wanted <= BudgetAllowance)
        return bytes <= roomFor(account, bytes);
    int sharing = accountsPastAllowance + (isPastAllowance(account->charged) ? 0 : 1);
    return wanted - BudgetAllowance <= MemoryBudget / sharing && bytes <= roomFor(account, bytes);
}

DWORD BudgetCharged()
{
    return totalCharged;
}

DWORD BudgetPeak()
{
    return peakCharged;
}
