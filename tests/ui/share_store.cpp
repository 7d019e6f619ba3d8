#include "share_store.h"

#include "sharestore.h"

ShareContents readStoredShare(const std::string &name)
{
    ShareContents share;
    std::vector<BYTE> buffer(16384);
    DWORD total = 0;
    WORD itemCount = 0;
    share.result = NDdeShareGetInfo(NULL, (LPSTR)name.c_str(), 2, buffer.data(), (DWORD)buffer.size(), &total,
                                    &itemCount);
    if (share.result != NDDE_NO_ERROR)
        return share;
    const ShareInfo *info = (const ShareInfo *)buffer.data();
    share.name = info->shareName;
    share.application = info->appName;
    share.topic = info->topicName;
    share.firstItem = info->firstItem;
    share.password1.assign((const char *)info->password1, info->password1Length);
    share.password2.assign((const char *)info->password2, info->password2Length);
    share.permissions1 = info->permissions1;
    share.permissions2 = info->permissions2;
    for (WORD i = 0; i < itemCount; ++i)
        share.items.push_back({info->addItems[i].itemName, info->addItems[i].permissions});
    return share;
}

bool isStored(const std::string &name)
{
    return readStoredShare(name).result == NDDE_NO_ERROR;
}

UINT storeShare(const ShareValues &values)
{
    ShareInfo info = {};
    lstrcpynA(info.shareName, values.name.c_str(), sizeof info.shareName);
    info.appName = (char *)values.application.c_str();
    info.topicName = (char *)values.topic.c_str();
    info.firstItem = (char *)values.firstItem.c_str();
    info.password1 = (BYTE *)values.password1.c_str();
    info.password1Length = (DWORD)values.password1.size();
    info.permissions1 = values.permissions1;
    info.password2 = (BYTE *)values.password2.c_str();
    info.password2Length = (DWORD)values.password2.size();
    info.permissions2 = values.permissions2;
    std::vector<AddItemInfo> items;
    for (const ShareItem &item : values.items)
        items.push_back({(char *)item.name.c_str(), item.permissions});
    info.addItemCount = (LONG)items.size();
    info.addItems = items.empty() ? NULL : items.data();
    return NDdeShareAdd(NULL, 2, (LPBYTE)&info, 16384);
}

bool storeBrokenRecord(const std::string &name)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ShareStoreKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return false;
    const BYTE garbage[] = "not a share record";
    bool written = RegSetValueExA(key, name.c_str(), 0, REG_BINARY, garbage, sizeof garbage) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

std::string apiErrorText(UINT code)
{
    char text[128] = "";
    NDdeGetErrorString(code, text, sizeof text);
    return "NDDEAPI.DLL reports error #" + std::to_string(code) + ".\r\n" + text + ".";
}

StoreCleanup::StoreCleanup(std::vector<std::string> names) : names_(std::move(names))
{
    remove();
}

StoreCleanup::~StoreCleanup()
{
    remove();
}

void StoreCleanup::remove()
{
    for (const std::string &name : names_)
        NDdeShareDel(NULL, (LPSTR)name.c_str(), 0);
}
