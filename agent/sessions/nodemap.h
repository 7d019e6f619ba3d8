// The node map: what this node knows of other nodes, under
// HKLM\Software\Tessaseg\Nodes.
//
// - Where a node listens: a REG_SZ value of Nodes named after the node,
//   "host:port" or "host" (the default port then).
// - Settings and the pin of a node: values of a subkey of Nodes named after
//   the node (Nodes\NODE), which the value of the same name does not disturb.
//   Settings are REG_DWORD values; an absent or unreadable one has its default.
#ifndef NODEMAP_H
#define NODEMAP_H

#include "agentlink.h"

const char NodeMapKey[] = "Software\\Tessaseg\\Nodes";
// The settings of a node: seconds its client conversations are kept through
// an outage, and whether advises are acknowledged at once (0 or 1).
const char GracePeriodSetting[] = "GracePeriod";
const char FastAdviseSetting[] = "FastAdvise";
const DWORD DefaultGracePeriod = 30;
const DWORD MaxGracePeriod = 3600;
const int MaxNodeAddressLength = 260;

// The address the node map gives `node` ("host:port" or "host"), or "" when
// it gives none. `host` has `size` bytes.
void NodeMapAddress(const char *node, char *host, int size);

// Opens Nodes\NODE with `access`: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when
// the node has no subkey, ERROR_INVALID_NAME when its name cannot name one,
// or the registry's reason it cannot be opened.
LONG OpenNodeKey(const char *node, REGSAM access, HKEY *key);
// Opens Nodes\NODE for writing, made when there is none.
bool CreateNodeKey(const char *node, HKEY *key);
// Removes Nodes\NODE when nothing is kept in it any more.
void DropNodeKeyIfEmpty(const char *node);

// The REG_DWORD setting `name` of `node`: `defaultValue` when it is absent or
// not a REG_DWORD, and at most `maxValue`.
DWORD NodeSetting(const char *node, const char *name, DWORD defaultValue, DWORD maxValue);

// Writes where `node` listens ("host:port" or "host"); false when it cannot.
bool SetNodeAddress(const char *node, const char *address);
// Writes the REG_DWORD setting `name` of `node`.
bool SetNodeSetting(const char *node, const char *name, DWORD value);
// Removes `node` from the map: its address, its settings and its pin.
bool RemoveNode(const char *node);
// The nodes the map names, by an address or a subkey, each once, into
// `names` (at most `size`); their count.
int ListMappedNodes(char (*names)[MaxNodeNameLength + 1], int size);

#endif
