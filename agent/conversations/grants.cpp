// Grants of served conversations checked again (relay.h). A share deleted,
// its granting password changed or its permissions narrowed touches the
// conversations standing on it: the store is watched (looked at once a
// second), and on a change every served conversation's grant is made again
// from the share as stored now, with the proof that granted it.
#include "relay.h"

static HKEY watchedStore;
static HANDLE storeChangedEvent;

static bool watchStore()
{
    return RegNotifyChangeKeyValue(watchedStore, FALSE, REG_NOTIFY_CHANGE_LAST_SET,
                                   storeChangedEvent, TRUE) == ERROR_SUCCESS;
}

// Whether the store may have changed since last asked.
static bool storeChanged()
{
    if (!storeChangedEvent) {
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ShareStoreKey, 0, 0, 0, KEY_NOTIFY, 0,
                            &watchedStore, 0) != ERROR_SUCCESS)
            return true;
        storeChangedEvent = CreateEventA(0, FALSE, FALSE, 0);
        if (!storeChangedEvent || !watchStore()) {
            if (storeChangedEvent)
                CloseHandle(storeChangedEvent);
            storeChangedEvent = 0;
            RegCloseKey(watchedStore);
            return true;
        }
        return true;
    }
    if (WaitForSingleObject(storeChangedEvent, 0) != WAIT_OBJECT_0)
        return false;
    watchStore();
    return true;
}

// The grant of a proved conversation made again from the share as stored
// now; false (the reason in `reason`) when it no longer stands.
static bool grantStands(Conversation *conversation, const char **reason)
{
    StoredShare stored;
    UINT result = StoreReadShare(conversation->share, &stored);
    if (result != NDDE_NO_ERROR) {
        *reason = result == NDDE_SHARE_NOT_EXIST ? "the share was deleted" : RefusalReason(result);
        return false;
    }
    ShareGrant grant;
    if (GrantShareAccess(&stored.view, conversation->challenge, conversation->session->binding,
                         conversation->proof, &grant) != NDDE_NO_ERROR ||
        grant.access != conversation->grant.access) {
        ReleaseStoredShare(&stored);
        *reason = "its password changed";
        return false;
    }
    ReleaseStoredShare(&conversation->stored);
    conversation->stored = stored;
    conversation->grant = grant;
    return true;
}

void CheckGrantsIfStoreChanged()
{
    if (!storeChanged())
        return;
    for (int i = ConversationCount() - 1; i >= 0; i--) {
        if (i >= ConversationCount())
            continue;
        Conversation *conversation = ConversationAt(i);
        const char *reason;
        if (!conversation->serving || conversation->state == Proving ||
            grantStands(conversation, &reason))
            continue;
        LogEvent("%s lost share %s: %s", conversation->node, conversation->share, reason);
        EndConversation(conversation, true);
    }
}
