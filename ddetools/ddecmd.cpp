// ddecmd.exe: a command-line DDE client (DDEML).
//
//   ddecmd APP TOPIC request ITEM [FORMAT]
//   ddecmd APP TOPIC poke ITEM VALUE|@FILE [FORMAT]
//   ddecmd APP TOPIC execute "COMMAND"
//   ddecmd APP TOPIC advise ITEM [SECONDS]
// Options anywhere: /timeout:MS (each transaction, default 5000), /repeat:N
// (request once, then N times more, printing their "mean_us X"), /out:FILE
// (request: the raw bytes to FILE), /warm, /ackreq, /count (advise: only the
// summary line "updates N first F last L inorder yes|no", inorder meaning
// every value greater than the one before).
//
// FORMAT: CF_TEXT (default), another CF_ name, a decimal number, or any other
// name, which is registered. CF_TEXT data prints as text, other data as hex.
//
// Exit codes: 0 success, 1 wrong command line, 2 no server answered, 3
// negative acknowledgement, 4 timeout, 5 conversation ended or other failure.
#include <windows.h>
#include <ddeml.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

enum ExitCode {
    ExitSuccess = 0,
    ExitUsage = 1,
    ExitNoServer = 2,
    ExitRefused = 3,
    ExitTimeout = 4,
    ExitFailed = 5,
};

static const DWORD MaxAdviseSeconds = 86400;
static const DWORD MaxRepeat = 1000000;
static const DWORD MaxPokeFileSize = 64 * 1024 * 1024;
static const DWORD ConnectionCheckPeriod = 250;     // ms between checks that the server is still there
static const DWORD StrayAckWait = 100;              // ms a stray ack may follow a DDEML server's answer

struct Options {
    std::string app, topic, command, item, value, formatName = "CF_TEXT", outPath;
    UINT format = CF_TEXT;
    DWORD timeout = 5000;
    DWORD repeat = 0;
    DWORD seconds = 10;
    bool warm = false, ackRequested = false, countOnly = false;
};

// What an advise loop has seen.
struct Updates {
    bool countOnly;
    bool stopping;                     // the time is up: later updates are not shown
    DWORD count;
    DWORD first, last;
    bool inOrder;
};

// The answer to the asynchronous unadvise.
struct Completion {
    bool done;
    bool accepted;
};

static DWORD ddeInstance;
static Updates updates;
static Completion unadvise;

// ---- Output ------------------------------------------------------------------

static void writeTo(DWORD handle, const std::string &text)
{
    DWORD written;
    WriteFile(GetStdHandle(handle), text.c_str(), (DWORD)text.size(), &written, NULL);
}

static void print(const std::string &text)
{
    writeTo(STD_OUTPUT_HANDLE, text);
}

static int fail(int code, const std::string &message)
{
    writeTo(STD_ERROR_HANDLE, "ddecmd: " + message + "\r\n");
    return code;
}

static std::string timestamp()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[16];
    wsprintfA(text, "%02u:%02u:%02u.%03u", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    return text;
}

// Text data up to its terminating zero (or its end, when it has none).
static std::string textOf(const std::vector<BYTE> &bytes)
{
    size_t length = 0;
    while (length < bytes.size() && bytes[length])
        length++;
    return std::string((const char *)bytes.data(), length);
}

static std::string hexOf(const std::vector<BYTE> &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (size_t i = 0; i < bytes.size(); i++) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
        hex += (i % 32 == 31 || i + 1 == bytes.size()) ? "\r\n" : " ";
    }
    return hex;
}

// The data as printed: text ended by a line break, or hex lines.
static std::string printable(const std::vector<BYTE> &bytes, UINT format)
{
    if (format != CF_TEXT)
        return hexOf(bytes);
    std::string text = textOf(bytes);
    if (text.empty() || text.back() != '\n')
        text += "\r\n";
    return text;
}

static bool writeFile(const std::string &path, const std::vector<BYTE> &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL) && written == bytes.size();
    CloseHandle(file);
    return ok;
}

static bool readFile(const std::string &path, std::vector<BYTE> &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(file, NULL), read = 0;
    bool ok = size <= MaxPokeFileSize;
    if (ok) {
        bytes.resize(size);
        ok = (size == 0 || ReadFile(file, bytes.data(), size, &read, NULL)) && read == size;
    }
    CloseHandle(file);
    return ok;
}

// ---- Command line ----------------------------------------------------------------

static const struct {
    const char *name;
    UINT format;
} StandardFormats[] = {
    {"CF_TEXT", CF_TEXT},         {"CF_BITMAP", CF_BITMAP},       {"CF_METAFILEPICT", CF_METAFILEPICT},
    {"CF_SYLK", CF_SYLK},         {"CF_DIF", CF_DIF},             {"CF_TIFF", CF_TIFF},
    {"CF_OEMTEXT", CF_OEMTEXT},   {"CF_DIB", CF_DIB},             {"CF_PALETTE", CF_PALETTE},
    {"CF_PENDATA", CF_PENDATA},   {"CF_RIFF", CF_RIFF},           {"CF_WAVE", CF_WAVE},
    {"CF_UNICODETEXT", CF_UNICODETEXT}, {"CF_ENHMETAFILE", CF_ENHMETAFILE}, {"CF_HDROP", CF_HDROP},
    {"CF_LOCALE", CF_LOCALE},
};

// A decimal number of `text` (all of it) up to `limit`.
static bool readNumber(const char *text, DWORD limit, DWORD *number)
{
    if (*text < '0' || *text > '9')
        return false;
    char *end = NULL;
    unsigned long value = strtoul(text, &end, 10);
    if (*end || value > limit)
        return false;
    *number = value;
    return true;
}

static bool readFormat(const std::string &name, UINT *format)
{
    for (const auto &standard : StandardFormats) {
        if (lstrcmpiA(standard.name, name.c_str()) == 0) {
            *format = standard.format;
            return true;
        }
    }
    DWORD number = 0;
    if (readNumber(name.c_str(), 0xFFFF, &number)) {
        *format = number;
        return number != 0;
    }
    *format = RegisterClipboardFormatA(name.c_str());
    return *format != 0;
}

static bool hasPrefix(const char *text, const char *prefix)
{
    return _strnicmp(text, prefix, strlen(prefix)) == 0;
}

// Reads a known option; false when `argument` is no option (a positional word).
static bool readOption(const char *argument, Options &options, bool *valid)
{
    *valid = true;
    if (hasPrefix(argument, "/timeout:"))
        *valid = readNumber(argument + 9, 3600000, &options.timeout) && options.timeout > 0;
    else if (hasPrefix(argument, "/repeat:"))
        *valid = readNumber(argument + 8, MaxRepeat, &options.repeat) && options.repeat > 0;
    else if (hasPrefix(argument, "/out:"))
        *valid = (options.outPath = argument + 5).size() > 0;
    else if (lstrcmpiA(argument, "/warm") == 0)
        options.warm = true;
    else if (lstrcmpiA(argument, "/ackreq") == 0)
        options.ackRequested = true;
    else if (lstrcmpiA(argument, "/count") == 0)
        options.countOnly = true;
    else
        return false;
    return true;
}

// The positional words after APP TOPIC COMMAND: how many each command takes.
static bool readWords(const std::vector<std::string> &words, Options &options)
{
    const std::string &command = options.command;
    size_t count = words.size();
    if (command == "request" && (count == 1 || count == 2)) {
        if (count == 2)
            options.formatName = words[1];
    } else if (command == "poke" && (count == 2 || count == 3)) {
        options.value = words[1];
        if (count == 3)
            options.formatName = words[2];
    } else if (command == "execute" && count == 1) {
        options.value = words[0];
        return true;
    } else if (command == "advise" && (count == 1 || count == 2)) {
        if (count == 2 && !readNumber(words[1].c_str(), MaxAdviseSeconds, &options.seconds))
            return false;
    } else {
        return false;
    }
    options.item = words[0];
    return !options.item.empty() && options.item.size() <= 255 && readFormat(options.formatName, &options.format);
}

static bool readCommandLine(int argc, char **argv, Options &options)
{
    std::vector<std::string> positional;
    for (int i = 1; i < argc; i++) {
        bool valid = true;
        if (!readOption(argv[i], options, &valid))
            positional.push_back(argv[i]);
        else if (!valid)
            return false;
    }
    if (positional.size() < 4)
        return false;
    options.app = positional[0];
    options.topic = positional[1];
    options.command = positional[2];
    CharLowerA(&options.command[0]);
    positional.erase(positional.begin(), positional.begin() + 3);
    return readWords(positional, options);
}

// ---- DDE -----------------------------------------------------------------------------

// The exit code and words for the last failed DDEML call.
static int ddeFailure(const char *what)
{
    UINT error = DdeGetLastError(ddeInstance);
    std::string action = what;
    switch (error) {
    case DMLERR_NOTPROCESSED:
        return fail(ExitRefused, action + " refused by the server");
    case DMLERR_BUSY:
        return fail(ExitRefused, action + " refused: the server is busy");
    case DMLERR_ADVACKTIMEOUT:
    case DMLERR_DATAACKTIMEOUT:
    case DMLERR_EXECACKTIMEOUT:
    case DMLERR_POKEACKTIMEOUT:
    case DMLERR_UNADVACKTIMEOUT:
        return fail(ExitTimeout, action + ": no answer from the server in time");
    case DMLERR_NO_CONV_ESTABLISHED:
    case DMLERR_SERVER_DIED:
        return fail(ExitFailed, action + " failed: the conversation has ended");
    }
    char code[16];
    wsprintfA(code, "0x%04X", error);
    return fail(ExitFailed, action + " failed with DDEML error " + code);
}

// The answer of a poke or execute: DDEML may report a refusal only in the
// acknowledgement's status.
static int ackResult(HDDEDATA answer, DWORD status, const char *what)
{
    if (!answer)
        return ddeFailure(what);
    if (status & DDE_FBUSY)
        return fail(ExitRefused, std::string(what) + " refused: the server is busy");
    if (!(status & DDE_FACK))
        return fail(ExitRefused, std::string(what) + " refused by the server");
    return ExitSuccess;
}

static std::vector<BYTE> dataBytes(HDDEDATA data)
{
    std::vector<BYTE> bytes(DdeGetData(data, NULL, 0, 0));
    if (!bytes.empty())
        DdeGetData(data, bytes.data(), (DWORD)bytes.size(), 0);
    return bytes;
}

static bool stillConnected(HCONV conversation)
{
    CONVINFO info = {};
    info.cb = sizeof info;
    return DdeQueryConvInfo(conversation, QID_SYNC, &info) && (info.wStatus & ST_CONNECTED);
}

static HDDEDATA transact(HCONV conversation, const Options &options, UINT type, const BYTE *bytes, DWORD size,
                         DWORD *status, DWORD timeout)
{
    HSZ item = DdeCreateStringHandleA(ddeInstance, options.item.c_str(), CP_WINANSI);
    HDDEDATA answer = DdeClientTransaction((LPBYTE)bytes, size, conversation, item, options.format, type, timeout,
                                           status);
    DdeFreeStringHandle(ddeInstance, item);
    return answer;
}

// Takes a WM_DDE_ACK that answers nothing, arriving within `milliseconds`.
static bool takeStrayAck(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    do {
        MSG message;
        if (PeekMessageA(&message, NULL, WM_DDE_ACK, WM_DDE_ACK, PM_REMOVE)) {
            UINT_PTR status = 0, item = 0;
            UnpackDDElParam(WM_DDE_ACK, message.lParam, &status, &item);
            FreeDDElParam(WM_DDE_ACK, message.lParam);
            if (item)
                GlobalDeleteAtom((ATOM)item);
            return true;
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 1, QS_POSTMESSAGE);
    } while (GetTickCount() - start < milliseconds);
    return false;
}

static HDDEDATA requestOnce(HCONV conversation, const Options &options)
{
    DWORD status = 0;
    return transact(conversation, options, XTYP_REQUEST, NULL, 0, &status, options.timeout);
}

// Requests the item once, or with /repeat:N once and then N timed times.
// Under Wine a DDEML server follows each answered request with a stray
// positive ack, which DDEML would take for the answer to the next request:
// when one follows the first request, one is awaited after each.
static int request(HCONV conversation, const Options &options)
{
    HDDEDATA answer = requestOnce(conversation, options);
    if (!answer)
        return ddeFailure("request");
    std::vector<BYTE> bytes = dataBytes(answer);
    DdeFreeDataHandle(answer);
    ULONGLONG mean = 0;
    if (options.repeat) {
        bool strayAcks = takeStrayAck(StrayAckWait);
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        for (DWORD round = 0; round < options.repeat; round++) {
            if (!(answer = requestOnce(conversation, options)))
                return ddeFailure("request");
            DdeFreeDataHandle(answer);
            if (strayAcks)
                takeStrayAck(options.timeout);
        }
        QueryPerformanceCounter(&end);
        mean = (ULONGLONG)(end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart / options.repeat;
    }
    if (!options.outPath.empty()) {
        if (!writeFile(options.outPath, bytes))
            return fail(ExitFailed, "cannot write " + options.outPath);
    } else {
        print(printable(bytes, options.format));
    }
    if (options.repeat) {
        char line[64];
        wsprintfA(line, "mean_us %lu\r\n", (DWORD)mean);
        print(line);
    }
    return ExitSuccess;
}

static int poke(HCONV conversation, const Options &options)
{
    std::vector<BYTE> bytes;
    if (options.value.size() > 1 && options.value[0] == '@') {
        if (!readFile(options.value.substr(1), bytes))
            return fail(ExitUsage, "cannot read " + options.value.substr(1) + " (at most 64 MB)");
    } else {
        // Text data carries its terminating zero.
        size_t size = options.value.size() + (options.format == CF_TEXT ? 1 : 0);
        bytes.assign((const BYTE *)options.value.c_str(), (const BYTE *)options.value.c_str() + size);
    }
    DWORD status = 0;
    HDDEDATA answer = transact(conversation, options, XTYP_POKE, bytes.data(), (DWORD)bytes.size(), &status,
                                options.timeout);
    return ackResult(answer, status, "poke");
}

static int execute(HCONV conversation, const Options &options)
{
    DWORD status = 0;
    HDDEDATA answer = DdeClientTransaction((LPBYTE)options.value.c_str(), (DWORD)options.value.size() + 1,
                                           conversation, NULL, 0, XTYP_EXECUTE, options.timeout, &status);
    return ackResult(answer, status, "execute");
}

static void countUpdate(HDDEDATA data)
{
    std::string text = data ? textOf(dataBytes(data)) : std::string();
    DWORD value = strtoul(text.c_str(), NULL, 10);
    if (updates.count == 0)
        updates.first = value;
    else if (value <= updates.last)
        updates.inOrder = false;
    updates.last = value;
    updates.count++;
}

static void printUpdate(HDDEDATA data, UINT format)
{
    std::string line = timestamp() + " ";
    if (!data)
        line += "changed\r\n";
    else
        line += printable(dataBytes(data), format);
    print(line);
}

static HDDEDATA CALLBACK ddeCallback(UINT type, UINT format, HCONV, HSZ, HSZ, HDDEDATA data, ULONG_PTR, ULONG_PTR)
{
    if (type == XTYP_XACT_COMPLETE) {
        unadvise = {true, data != 0};
        return 0;
    }
    if (type != XTYP_ADVDATA)
        return 0;
    if (updates.stopping)
        return (HDDEDATA)DDE_FACK;
    if (updates.countOnly)
        countUpdate(data);
    else
        printUpdate(data, format);
    return (HDDEDATA)DDE_FACK;
}

// Handles messages (updates, answers) for `milliseconds` or until `*done`;
// false when the server has left.
static bool handleMessages(HCONV conversation, DWORD milliseconds, const bool *done)
{
    DWORD start = GetTickCount(), lastCheck = start;
    while (!*done && GetTickCount() - start < milliseconds) {
        DWORD remaining = milliseconds - (GetTickCount() - start);
        MsgWaitForMultipleObjects(0, NULL, FALSE, std::min(remaining, ConnectionCheckPeriod), QS_ALLINPUT);
        MSG message;
        while (!*done && GetTickCount() - start < milliseconds && PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        if (GetTickCount() - lastCheck >= ConnectionCheckPeriod) {
            lastCheck = GetTickCount();
            if (!stillConnected(conversation))
                return false;
        }
    }
    return true;
}

// Ends the link. Wine's DDEML ends a synchronous transaction at the first DDE
// message of any kind, so with updates still arriving the unadvise is sent
// asynchronously and its answer awaited among them.
static int stopAdvise(HCONV conversation, const Options &options)
{
    updates.stopping = true;
    unadvise = {false, false};
    DWORD transaction = 0;
    if (!transact(conversation, options, XTYP_ADVSTOP, NULL, 0, &transaction, TIMEOUT_ASYNC))
        return ddeFailure("unadvise");
    if (!handleMessages(conversation, options.timeout, &unadvise.done))
        return fail(ExitFailed, "the server ended the conversation");
    if (!unadvise.done)
        return fail(ExitTimeout, "unadvise: no answer from the server in time");
    if (!unadvise.accepted)
        return fail(ExitRefused, "unadvise refused by the server");
    return ExitSuccess;
}

static int advise(HCONV conversation, const Options &options)
{
    updates = {options.countOnly, false, 0, 0, 0, true};
    UINT type = XTYP_ADVSTART | (options.warm ? XTYPF_NODATA : 0) | (options.ackRequested ? XTYPF_ACKREQ : 0);
    DWORD status = 0;
    if (!transact(conversation, options, type, NULL, 0, &status, options.timeout))
        return ddeFailure("advise");
    const bool never = false;
    bool connected = handleMessages(conversation, options.seconds * 1000, &never);
    if (options.countOnly) {
        char line[128];
        wsprintfA(line, "updates %lu first %lu last %lu inorder %s\r\n", updates.count, updates.first,
                  updates.last, updates.inOrder ? "yes" : "no");
        print(line);
    }
    if (!connected)
        return fail(ExitFailed, "the server ended the conversation");
    return stopAdvise(conversation, options);
}

static int converse(HCONV conversation, const Options &options)
{
    if (options.command == "request")
        return request(conversation, options);
    if (options.command == "poke")
        return poke(conversation, options);
    if (options.command == "execute")
        return execute(conversation, options);
    return advise(conversation, options);
}

// A server that did not answer in time may never answer: the conversation
// ends without waiting for its goodbye (DdeDisconnect would wait 10 s).
static void abandonConversation(HCONV conversation)
{
    CONVINFO info = {};
    info.cb = sizeof info;
    if (DdeQueryConvInfo(conversation, QID_SYNC, &info))
        PostMessageA(info.hwndPartner, WM_DDE_TERMINATE, (WPARAM)info.hwnd, 0);
}

static int run(const Options &options)
{
    HSZ app = DdeCreateStringHandleA(ddeInstance, options.app.c_str(), CP_WINANSI);
    HSZ topic = DdeCreateStringHandleA(ddeInstance, options.topic.c_str(), CP_WINANSI);
    HCONV conversation = DdeConnect(ddeInstance, app, topic, NULL);
    DdeFreeStringHandle(ddeInstance, app);
    DdeFreeStringHandle(ddeInstance, topic);
    if (!conversation)
        return fail(ExitNoServer, "no DDE server answered for " + options.app + "|" + options.topic);
    int result = converse(conversation, options);
    if (result == ExitTimeout)
        abandonConversation(conversation);
    else
        DdeDisconnect(conversation);
    return result;
}

int main(int argc, char **argv)
{
    Options options;
    if (!readCommandLine(argc, argv, options))
        return fail(ExitUsage, "usage: ddecmd APP TOPIC request ITEM [FORMAT] | poke ITEM VALUE|@FILE [FORMAT]"
                               " | execute \"COMMAND\" | advise ITEM [SECONDS]\r\n"
                               "  options: /timeout:MS /repeat:N /out:FILE /warm /ackreq /count");
    if (DdeInitializeA(&ddeInstance, ddeCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR)
        return fail(ExitFailed, "DDE cannot be started");
    int result = run(options);
    // DdeUninitialize would wait for the goodbye of an abandoned conversation.
    if (result != ExitTimeout)
        DdeUninitialize(ddeInstance);
    return result;
}
