#include <string.h>
#include <doctest/doctest.h>
#include "library_under_test.h"

const char *const ExportNames[PartnerOperationCount] = {
    "NDdeShareAdd",       "NDdeShareDel",         "NDdeShareEnum",       "NDdeShareGetInfo",
    "NDdeShareSetInfo",   "NDdeGetClientInfo",    "NDdeGetNodeName",     "NDdeGetErrorString",
    "NDdeConnectionEnum", "NDdeIsValidShareName", "NDdeIsValidPassword", "NDdeIsValidTopic",
    "NDdeSessionEnum",    "NDdeSessionClose",     "NDdeGetWindow",
};

template <typename Function> static void bind(HMODULE module, const char *name, Function *function)
{
    void *address = (void *)GetProcAddress(module, name);
    REQUIRE_MESSAGE(address != nullptr, name);
    *function = (Function)address;
}

static Tessaflat load()
{
    Tessaflat library = {};
    library.module = LoadLibraryA("Tessaflat.dll");
    REQUIRE(library.module != nullptr);
    bind(library.module, "NDdeShareAdd", &library.shareAdd);
    bind(library.module, "NDdeShareDel", &library.shareDel);
    bind(library.module, "NDdeShareEnum", &library.shareEnum);
    bind(library.module, "NDdeShareGetInfo", &library.shareGetInfo);
    bind(library.module, "NDdeShareSetInfo", &library.shareSetInfo);
    bind(library.module, "NDdeGetClientInfo", &library.getClientInfo);
    bind(library.module, "NDdeGetNodeName", &library.getNodeName);
    bind(library.module, "NDdeGetErrorString", &library.getErrorString);
    bind(library.module, "NDdeConnectionEnum", &library.connectionEnum);
    bind(library.module, "NDdeIsValidShareName", &library.isValidShareName);
    bind(library.module, "NDdeIsValidPassword", &library.isValidPassword);
    bind(library.module, "NDdeIsValidTopic", &library.isValidTopic);
    bind(library.module, "NDdeSessionEnum", &library.sessionEnum);
    bind(library.module, "NDdeSessionClose", &library.sessionClose);
    bind(library.module, "NDdeGetWindow", &library.getWindow);
    return library;
}

const Tessaflat &tessaflat()
{
    static const Tessaflat library = load();
    return library;
}

PartnerScript &resetPartner()
{
    tessaflat();
    PartnerScript *scripted = loadedPartnerScript();
    REQUIRE_MESSAGE(scripted != nullptr, "the loaded Tessaseg.dll is not the scripted partner");
    PartnerScript &script = *scripted;
    memset(&script, 0, sizeof script);
    script.recording = true;
    return script;
}

void setReply(PartnerScript &script, const void *bytes, DWORD size)
{
    REQUIRE(size <= MaxBlockBytes);
    memcpy(script.answer.reply, bytes, size);
    script.answer.replySize = size;
}

GuardedBuffer::GuardedBuffer(DWORD size)
    : bufferSize(size), bytes(size + 2 * GuardSize, Guard)
{
    memset(data(), Fill, size);
}

bool GuardedBuffer::guardsIntact() const
{
    for (DWORD i = 0; i < GuardSize; i++)
        if (bytes[i] != Guard || bytes[GuardSize + bufferSize + i] != Guard)
            return false;
    return true;
}

bool GuardedBuffer::untouched(DWORD from, DWORD to) const
{
    for (DWORD i = from; i < to; i++)
        if (bytes[GuardSize + i] != Fill)
            return false;
    return true;
}

DWORD dwordAt(const BYTE *bytes, DWORD offset)
{
    DWORD value;
    memcpy(&value, bytes + offset, sizeof value);
    return value;
}
