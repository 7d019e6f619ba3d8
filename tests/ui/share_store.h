// The share store as the front ends' tests see it: shares put in, read back
// and removed through Tessaflat.dll, and records written straight into the
// store where a test needs one the library would never write.
#ifndef TESTS_SHARE_STORE_H
#define TESTS_SHARE_STORE_H

#include <windows.h>

#include <string>
#include <vector>

#include "tessaflat.h"

// An additional item of a share, as stored or as listed by an editor.
struct ShareItem {
    std::string name;
    DWORD permissions;
    bool operator==(const ShareItem &other) const
    {
        return name == other.name && permissions == other.permissions;
    }
};

// A share's values: as a test stores it, or as an editor shows it.
struct ShareValues {
    std::string name, application, topic, firstItem, password1, password2;
    DWORD permissions1 = 0, permissions2 = 0;
    std::vector<ShareItem> items;
    bool operator==(const ShareValues &other) const
    {
        return name == other.name && application == other.application && topic == other.topic &&
               firstItem == other.firstItem && password1 == other.password1 && password2 == other.password2 &&
               permissions1 == other.permissions1 && permissions2 == other.permissions2 && items == other.items;
    }
};

// A share read back from the store, with the library's answer.
struct ShareContents {
    UINT result = NDDE_SHARE_NOT_EXIST;
    std::string name, application, topic, firstItem;
    std::string password1, password2;       // exactly their stored lengths
    DWORD permissions1 = 0, permissions2 = 0;
    std::vector<ShareItem> items;
};

ShareContents readStoredShare(const std::string &name);
bool isStored(const std::string &name);
UINT storeShare(const ShareValues &values);
// Writes a record the store cannot read back, under a share name.
bool storeBrokenRecord(const std::string &name);
// The text the front ends report a library error code with.
std::string apiErrorText(UINT code);

// Removes the named shares when a test begins and again when it ends, so
// no test depends on what another left.
class StoreCleanup {
public:
    explicit StoreCleanup(std::vector<std::string> names);
    ~StoreCleanup();

private:
    void remove();
    std::vector<std::string> names_;
};

#endif
