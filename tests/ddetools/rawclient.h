// A DDE client speaking raw DDE messages through a hidden window of the test
// program, for tests that need to see (or break) the protocol itself.
#ifndef RAWCLIENT_H
#define RAWCLIENT_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace dt {

// A WM_DDE_DATA as the client received it.
struct RawUpdate {
    bool hasData = false;
    bool ackRequested = false;
    bool response = false;             // the answer to a request
    unsigned long value = 0;           // the data read as a decimal number
    ATOM item = 0;
};

// One conversation per client, each through a window of its own.
class RawClient {
public:
    ~RawClient();
    // Sends WM_DDE_INITIATE for service|topic to `serverWindow`; true when a
    // server answered.
    bool connect(HWND serverWindow, const char *service, const char *topic);
    HWND window() const { return window_; }
    HWND server() const { return server_; }
    // Posts WM_DDE_ADVISE of `item` in `format`; true when the server acknowledges it.
    bool advise(const char *item, bool ackRequested, bool deferUpdates, UINT format = CF_TEXT);
    // Posts WM_DDE_ADVISE without waiting for its ack; then waitForAcks
    // waits until `count` more acks have come, true when all were positive.
    bool postAdvise(const char *item, bool ackRequested, bool deferUpdates, UINT format = CF_TEXT);
    bool waitForAcks(int count, DWORD milliseconds);
    bool unadvise(const char *item);
    void acknowledge(const RawUpdate &update);
    // Post a request or an execute without waiting for its answer.
    bool postRequest(const char *item);
    bool postExecute(const char *command);
    // Waits for the answer to the transaction posted last: true with the
    // status of its ack (0x8000 for data answering a request) once it comes in time.
    bool waitForAnswer(DWORD milliseconds, WORD *status);
    // The updates that arrive within `milliseconds`.
    std::vector<RawUpdate> updatesWithin(DWORD milliseconds);
    // The updates received since the last call of either, waiting at most
    // `milliseconds` for one when none has come.
    std::vector<RawUpdate> takeUpdates(DWORD milliseconds = 0);
    // Posts WM_DDE_REQUEST of `item` in CF_TEXT; true when data answers it
    // within `milliseconds` (its value in *value).
    bool request(const char *item, DWORD milliseconds, unsigned long *value);
    // Handles messages until `done` holds for the updates received so far
    // (which stay), or `milliseconds` have passed; true when it held.
    bool waitForUpdates(DWORD milliseconds,
                        const std::function<bool(const std::vector<RawUpdate> &)> &done);
    // Posts WM_DDE_TERMINATE; true when the server has posted its own (before or after).
    bool terminate();
    // Waits until the server posts WM_DDE_TERMINATE first; true when it did.
    bool waitForServerTerminate(DWORD milliseconds);
    // Whether the server's window still existed when its terminate was handled.
    bool serverWindowOutlivedTerminate() const { return serverAliveAtTerminate_; }
    // Destroys the client's window without a terminate, as a client that dies does.
    void vanish();
    // Handles this thread's messages until `done` or `milliseconds` have passed.
    void pump(DWORD milliseconds, const std::function<bool()> &done);

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool waitForAck();

    HWND window_ = NULL, server_ = NULL;
    std::vector<RawUpdate> updates_;
    int acks_ = 0, positiveAcks_ = 0;
    int answers_ = 0, answersTaken_ = 0;   // acks and data answering requests
    WORD lastAnswer_ = 0;
    bool terminated_ = false, serverAliveAtTerminate_ = false;
};

} // namespace dt

#endif
