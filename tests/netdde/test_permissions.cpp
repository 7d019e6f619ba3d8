// The serving agent's share decisions, made on shares stored through the
// library: which access a password proof opens, and which transactions on
// which items that access grants.
#include "partnertest.h"
#include "permissions.h"
#include <doctest/doctest.h>

using namespace pt;

namespace {

// The share as the store holds it; released when destroyed.
struct Stored {
    StoredShare share = {};
    UINT result;
    explicit Stored(const std::string &name) : result(StoreReadShare(name.c_str(), &share)) {}
    ~Stored()
    {
        if (result == NDDE_NO_ERROR)
            ReleaseStoredShare(&share);
    }
    const ShareView *view() const { return &share.view; }
};

// A session's channel binding, as the channel would give it.
const BYTE Binding[ProofBindingLength] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                          17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

// The access a client giving `password` is granted, as {access, permissions},
// or {0, 0} when refused.
std::pair<WORD, WORD> grantFor(const Stored &stored, const char *password)
{
    BYTE challenge[ChallengeLength], proof[ProofLength];
    REQUIRE(MakeChallenge(challenge));
    REQUIRE(ProveBoundPassword(password, challenge, stored.view()->shareName, Binding, proof));
    ShareGrant grant = {};
    UINT result = GrantShareAccess(stored.view(), challenge, Binding, proof, &grant);
    if (result != NDDE_NO_ERROR) {
        CHECK(result == NDDE_ACCESS_DENIED);
        return {0, 0};
    }
    return {grant.access, grant.permissions};
}

} // namespace

TEST_CASE("a password opens the access it belongs to, compared byte for byte")
{
    ShareCleanup cleanup;
    TestShare locked(cleanup("NT_LOCKED$")), open(cleanup("NT_OPEN$"));
    locked.password1 = "KEY";
    locked.permissions1 = Request | Poke;
    locked.password2 = "BETA";
    locked.permissions2 = Advise;
    open.password1 = "ALPHA";
    open.permissions1 = Request | Execute;
    open.permissions2 = Advise;        // password #2 empty: granted without asking
    REQUIRE(addShare(locked) == NDDE_NO_ERROR);
    REQUIRE(addShare(open) == NDDE_NO_ERROR);

    Stored lockedShare("NT_LOCKED$"), openShare("NT_OPEN$");
    REQUIRE(lockedShare.result == NDDE_NO_ERROR);
    REQUIRE(openShare.result == NDDE_NO_ERROR);
    CHECK(grantFor(lockedShare, "KEY") == std::make_pair<WORD, WORD>(1, Request | Poke));
    CHECK(grantFor(lockedShare, "BETA") == std::make_pair<WORD, WORD>(2, Advise));
    CHECK(grantFor(lockedShare, "") == std::make_pair<WORD, WORD>(0, 0));
    CHECK(grantFor(lockedShare, "key") == std::make_pair<WORD, WORD>(0, 0));
    CHECK(grantFor(lockedShare, "KEY ") == std::make_pair<WORD, WORD>(0, 0));
    // Equal to KEY by the locale's collation, not by its bytes.
    CHECK(grantFor(lockedShare, "K\xAD" "EY") == std::make_pair<WORD, WORD>(0, 0));
    CHECK(grantFor(openShare, "ALPHA") == std::make_pair<WORD, WORD>(1, Request | Execute));
    CHECK(grantFor(openShare, "") == std::make_pair<WORD, WORD>(2, Advise));
    CHECK(grantFor(openShare, "WRONG") == std::make_pair<WORD, WORD>(0, 0));

    // An empty password #2 opens its access even when that grants nothing.
    TestShare single(cleanup("NT_SINGLE$"));
    single.password1 = "KEY";
    single.permissions1 = Request;
    REQUIRE(addShare(single) == NDDE_NO_ERROR);
    Stored singleShare("NT_SINGLE$");
    CHECK(grantFor(singleShare, "") == std::make_pair<WORD, WORD>(2, 0));
    CHECK(grantFor(singleShare, "KEY") == std::make_pair<WORD, WORD>(1, Request));

    // A proof is good for its own challenge, session and share only.
    BYTE challenge[ChallengeLength], other[ChallengeLength], proof[ProofLength];
    BYTE otherBinding[ProofBindingLength];
    REQUIRE(MakeChallenge(challenge));
    REQUIRE(MakeChallenge(other));
    CopyMemory(otherBinding, Binding, sizeof otherBinding);
    otherBinding[ProofBindingLength - 1] ^= 0x80;
    REQUIRE(ProveBoundPassword("KEY", other, "NT_LOCKED$", Binding, proof));
    ShareGrant grant = {};
    CHECK(GrantShareAccess(lockedShare.view(), challenge, Binding, proof, &grant) == NDDE_ACCESS_DENIED);
    REQUIRE(ProveBoundPassword("KEY", challenge, "NT_LOCKED$", otherBinding, proof));
    CHECK(GrantShareAccess(lockedShare.view(), challenge, Binding, proof, &grant) == NDDE_ACCESS_DENIED);
    REQUIRE(ProveBoundPassword("KEY", challenge, "NT_SINGLE$", Binding, proof));
    CHECK(GrantShareAccess(lockedShare.view(), challenge, Binding, proof, &grant) == NDDE_ACCESS_DENIED);

    // Every byte of a proof counts: the right one changed in any single
    // byte, the last included, opens nothing.
    REQUIRE(ProveBoundPassword("KEY", challenge, "nt_locked$", Binding, proof));
    CHECK(GrantShareAccess(lockedShare.view(), challenge, Binding, proof, &grant) == NDDE_NO_ERROR);
    for (DWORD i = 0; i < ProofLength; i++) {
        CAPTURE(i);
        BYTE wrong[ProofLength];
        CopyMemory(wrong, proof, ProofLength);
        wrong[i] ^= 0x01;
        CHECK(GrantShareAccess(lockedShare.view(), challenge, Binding, wrong, &grant) == NDDE_ACCESS_DENIED);
    }
}

TEST_CASE("an access grants its permission bits on every item of a share that lists none")
{
    ShareCleanup cleanup;
    TestShare share(cleanup("NT_ANY$"));
    REQUIRE(addShare(share) == NDDE_NO_ERROR);
    Stored stored("NT_ANY$");
    REQUIRE(stored.result == NDDE_NO_ERROR);

    const BYTE kinds[] = {FrameRequest, FrameAdvise, FramePoke, FrameExecute};
    const DWORD bits[] = {Request, Advise, Poke, Execute};
    for (int granted = 0; granted < 4; granted++) {
        ShareGrant grant = {1, (WORD)(bits[granted] | StartApp)};
        for (int asked = 0; asked < 4; asked++) {
            CAPTURE(granted);
            CAPTURE(asked);
            CHECK(AllowsTransaction(stored.view(), &grant, kinds[asked], "Any item") ==
                  (granted == asked));
        }
        CHECK(AllowsTransaction(stored.view(), &grant, FrameUnadvise, "") ==
              (bits[granted] == Advise));
    }
}

TEST_CASE("a share that lists items allows only those, each within its access's bits")
{
    ShareCleanup cleanup;
    TestShare share(cleanup("NT_ITEMS$"));
    share.firstItem = "Price";
    share.items = {{"Volume", Request | Poke}, {"News", Advise | Execute}};
    REQUIRE(addShare(share) == NDDE_NO_ERROR);
    Stored stored("NT_ITEMS$");
    REQUIRE(stored.result == NDDE_NO_ERROR);
    const ShareView *view = stored.view();

    ShareGrant wide = {1, Request | Advise | Poke | Execute};
    CHECK(AllowsTransaction(view, &wide, FrameRequest, "Price"));
    CHECK(AllowsTransaction(view, &wide, FramePoke, "PRICE"));
    CHECK(AllowsTransaction(view, &wide, FrameAdvise, "price"));
    CHECK(AllowsTransaction(view, &wide, FrameRequest, "Volume"));
    CHECK(AllowsTransaction(view, &wide, FramePoke, "Volume"));
    CHECK_FALSE(AllowsTransaction(view, &wide, FrameAdvise, "Volume"));
    CHECK(AllowsTransaction(view, &wide, FrameAdvise, "News"));
    CHECK_FALSE(AllowsTransaction(view, &wide, FrameRequest, "News"));
    CHECK_FALSE(AllowsTransaction(view, &wide, FrameRequest, "Other"));
    CHECK_FALSE(AllowsTransaction(view, &wide, FrameRequest, "Price2"));
    CHECK(AllowsTransaction(view, &wide, FrameExecute, ""));   // an execute names no item

    // An item's own bits are masked by the access's.
    ShareGrant narrow = {2, Request};
    CHECK(AllowsTransaction(view, &narrow, FrameRequest, "Volume"));
    CHECK_FALSE(AllowsTransaction(view, &narrow, FramePoke, "Volume"));
    CHECK_FALSE(AllowsTransaction(view, &narrow, FramePoke, "Price"));
    CHECK_FALSE(AllowsTransaction(view, &narrow, FrameAdvise, "News"));
}
