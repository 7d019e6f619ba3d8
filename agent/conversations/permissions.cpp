// Share access decisions of the serving agent (permissions.h).
#include "permissions.h"

// Each password as its exact bytes, so that no two passwords compare equal
// by locale collation; every byte of the proof is looked at (CheckBoundProof).
UINT GrantShareAccess(const ShareView *share, const BYTE challenge[ChallengeLength],
                      const BYTE binding[ProofBindingLength], const BYTE proof[ProofLength],
                      ShareGrant *grant)
{
    const char *passwords[2] = {share->password1, share->password2};
    const SharePermissions permissions[2] = {share->permissions1, share->permissions2};
    for (int access = 0; access < 2; access++)
        if (CheckBoundProof(passwords[access], challenge, share->shareName, binding, proof)) {
            grant->access = (WORD)(access + 1);
            grant->permissions = (WORD)permissions[access];
            return NDDE_NO_ERROR;
        }
    return NDDE_ACCESS_DENIED;
}

// The permission a relayed transaction needs; 0 for frames that need none.
static DWORD permissionOfKind(BYTE kind)
{
    switch (kind) {
    case FrameRequest:
        return Request;
    case FramePoke:
        return Poke;
    case FrameExecute:
        return Execute;
    case FrameAdvise:
    case FrameUnadvise:
        return Advise;
    }
    return 0;
}

// The bits `item` carries on `share` before the access's mask; all of them
// when the share lists no items.
static DWORD itemPermissions(const ShareView *share, const char *item)
{
    if (!share->firstItem[0] && share->addItemCount == 0)
        return ~0u;
    if (share->firstItem[0] && isSameDdeName(share->firstItem, item))
        return ~0u;
    for (LONG i = 0; i < share->addItemCount; i++)
        if (isSameDdeName(ShareItemName(share, i), item))
            return share->addItems[i].permissions;
    return 0;
}

bool AllowsTransaction(const ShareView *share, const ShareGrant *grant, BYTE kind,
                       const char *item)
{
    DWORD needed = permissionOfKind(kind);
    if (!(grant->permissions & needed))
        return false;
    // An execute and the end of every link name no item.
    if (kind == FrameExecute || (kind == FrameUnadvise && !item[0]))
        return true;
    return (itemPermissions(share, item) & needed) != 0;
}
