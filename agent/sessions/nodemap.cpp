// The node map (nodemap.h).
#include "nodemap.h"
#include "agentlink.h"

// A node name that can name a subkey (no backslash, 1..MaxNodeNameLength bytes).
static bool canNameKey(const char *node)
{
    int length = lstrlenA(node);
    for (int i = 0; i < length; i++)
        if (node[i] == '\\')
            return false;
    return length >= 1 && length <= MaxNodeNameLength;
}

const int NodeKeyPathSize = sizeof NodeMapKey + MaxNodeNameLength + 1;

static bool nodeKeyPath(const char *node, char path[NodeKeyPathSize])
{
    if (!canNameKey(node))
        return false;
    wsprintfA(path, "%s\\%s", NodeMapKey, node);
    return true;
}

void NodeMapAddress(const char *node, char *host, int size)
{
    host[0] = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, NodeMapKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD length = size - 1, type = 0;
    if (RegQueryValueExA(key, node, 0, &type, (BYTE *)host, &length) != ERROR_SUCCESS ||
        type != REG_SZ)
        length = 0;
    host[length < (DWORD)size ? length : size - 1] = 0;
    RegCloseKey(key);
}

LONG OpenNodeKey(const char *node, REGSAM access, HKEY *key)
{
    char path[NodeKeyPathSize];
    if (!nodeKeyPath(node, path))
        return ERROR_INVALID_NAME;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, key);
}

bool CreateNodeKey(const char *node, HKEY *key)
{
    char path[NodeKeyPathSize];
    return nodeKeyPath(node, path) &&
           RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, 0, 0, KEY_READ | KEY_WRITE, 0, key, 0) ==
               ERROR_SUCCESS;
}

void DropNodeKeyIfEmpty(const char *node)
{
    HKEY key;
    if (OpenNodeKey(node, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 1, values = 1;
    RegQueryInfoKeyA(key, 0, 0, 0, &subkeys, 0, 0, &values, 0, 0, 0, 0);
    RegCloseKey(key);
    HKEY nodes;
    if (subkeys == 0 && values == 0 &&
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, NodeMapKey, 0, KEY_WRITE, &nodes) == ERROR_SUCCESS) {
        RegDeleteKeyA(nodes, node);
        RegCloseKey(nodes);
    }
}

DWORD NodeSetting(const char *node, const char *name, DWORD defaultValue, DWORD maxValue)
{
    HKEY key;
    if (OpenNodeKey(node, KEY_READ, &key) != ERROR_SUCCESS)
        return defaultValue;
    DWORD value = 0, type = 0, size = sizeof value;
    LONG result = RegQueryValueExA(key, name, 0, &type, (BYTE *)&value, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value)
        return defaultValue;
    return value < maxValue ? value : maxValue;
}

bool SetNodeAddress(const char *node, const char *address)
{
    HKEY nodes;
    if (!canNameKey(node) ||
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, NodeMapKey, 0, 0, 0, KEY_WRITE, 0, &nodes, 0) !=
            ERROR_SUCCESS)
        return false;
    bool written = RegSetValueExA(nodes, node, 0, REG_SZ, (const BYTE *)address,
                                  lstrlenA(address) + 1) == ERROR_SUCCESS;
    RegCloseKey(nodes);
    return written;
}

bool SetNodeSetting(const char *node, const char *name, DWORD value)
{
    HKEY key;
    if (!CreateNodeKey(node, &key))
        return false;
    bool written = RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&value, sizeof value) ==
                   ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

// Deletes every value of Nodes\NODE, then the key (Windows NT deletes only
// an empty key).
static bool removeNodeKey(const char *node)
{
    HKEY key;
    LONG opened = OpenNodeKey(node, KEY_READ | KEY_WRITE, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return true;
    if (opened != ERROR_SUCCESS)
        return false;
    const int MaxValues = 64;           // far more than a node's settings
    char name[MAX_PATH];
    DWORD length = sizeof name;
    for (int i = 0; i < MaxValues && RegEnumValueA(key, 0, name, &length, 0, 0, 0, 0) ==
                                         ERROR_SUCCESS; i++, length = sizeof name)
        RegDeleteValueA(key, name);
    RegCloseKey(key);
    HKEY nodes;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, NodeMapKey, 0, KEY_WRITE, &nodes) != ERROR_SUCCESS)
        return false;
    bool removed = RegDeleteKeyA(nodes, node) == ERROR_SUCCESS;
    RegCloseKey(nodes);
    return removed;
}

bool RemoveNode(const char *node)
{
    if (!canNameKey(node))
        return false;
    HKEY nodes;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, NodeMapKey, 0, KEY_READ | KEY_WRITE, &nodes) !=
        ERROR_SUCCESS)
        return false;
    LONG deleted = RegDeleteValueA(nodes, node);
    RegCloseKey(nodes);
    return (deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND) && removeNodeKey(node);
}

static int addNodeName(char (*names)[MaxNodeNameLength + 1], int count, int size, const char *name)
{
    if (count >= size || !canNameKey(name))
        return count;
    for (int i = 0; i < count; i++)
        if (lstrcmpiA(names[i], name) == 0)
            return count;
    lstrcpyA(names[count], name);
    return count + 1;
}

int ListMappedNodes(char (*names)[MaxNodeNameLength + 1], int size)
{
    HKEY nodes;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, NodeMapKey, 0, KEY_READ, &nodes) != ERROR_SUCCESS)
        return 0;
    int count = 0;
    char name[MAX_PATH];
    DWORD length = sizeof name;
    for (DWORD i = 0; count < size && RegEnumValueA(nodes, i, name, &length, 0, 0, 0, 0) ==
                                          ERROR_SUCCESS; i++, length = sizeof name)
        count = addNodeName(names, count, size, name);
    for (DWORD i = 0; count < size && RegEnumKeyA(nodes, i, name, sizeof name) == ERROR_SUCCESS; i++)
        count = addNodeName(names, count, size, name);
    RegCloseKey(nodes);
    return count;
}
