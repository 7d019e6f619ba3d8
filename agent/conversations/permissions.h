// What a client of a share may do: the access its password opens and the
// transactions that access grants, decided from the share as stored.
#ifndef PERMISSIONS_H
#define PERMISSIONS_H

#include "netdde_wire.h"
#include "sharestore.h"

struct ShareGrant {
    WORD access;                   // 1 or 2: the password that opened it
    WORD permissions;              // that access's permission bits
};

// The access whose password made `proof` from `challenge`, the session's
// channel `binding` and the share's name (ProveBoundPassword): password #1
// is tried first, each as its exact bytes. NDDE_ACCESS_DENIED when neither did.
UINT GrantShareAccess(const ShareView *share, const BYTE challenge[ChallengeLength],
                      const BYTE binding[ProofBindingLength], const BYTE proof[ProofLength],
                      ShareGrant *grant);

// Whether `grant` lets a transaction of `kind` use `item`. A share that lists
// no items allows every item with the access's bits; one that lists items
// allows only those: the first item with the access's bits, each additional
// item with its own bits masked by them. Items compare ignoring ASCII case,
// as DDE atoms do. An execute names no item.
bool AllowsTransaction(const ShareView *share, const ShareGrant *grant, BYTE kind,
                       const char *item);

#endif
