#include "rawclient.h"

#include <dde.h>
#include <stdlib.h>

namespace dt {

LRESULT CALLBACK RawClient::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    RawClient *client = (RawClient *)GetWindowLongPtrA(window, GWLP_USERDATA);
    if (!client || message < WM_DDE_FIRST || message > WM_DDE_LAST)
        return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_DDE_ACK && !client->server_) {          // the answer to the initiate
        client->server_ = (HWND)wParam;
        GlobalDeleteAtom(LOWORD(lParam));
        GlobalDeleteAtom(HIWORD(lParam));
    } else if (message == WM_DDE_ACK) {
        UINT_PTR status = 0, item = 0;
        UnpackDDElParam(WM_DDE_ACK, lParam, &status, &item);
        FreeDDElParam(WM_DDE_ACK, lParam);
        // An execute's ack gives its commands back.
        if (item > 0xFFFF)
            GlobalFree((HGLOBAL)item);
        else
            GlobalDeleteAtom((ATOM)item);
        client->acks_++;
        client->positiveAcks_ += (status & 0x8000) ? 1 : 0;
        client->answers_++;
        client->lastAnswer_ = (WORD)status;
    } else if (message == WM_DDE_DATA) {
        UINT_PTR block = 0, item = 0;
        UnpackDDElParam(WM_DDE_DATA, lParam, &block, &item);
        FreeDDElParam(WM_DDE_DATA, lParam);
        RawUpdate update;
        update.item = (ATOM)item;
        if (block) {
            DDEDATA *data = (DDEDATA *)GlobalLock((HGLOBAL)block);
            update.hasData = true;
            update.ackRequested = data->fAckReq;
            update.response = data->fResponse;
            update.value = strtoul((const char *)data->Value, NULL, 10);
            if (data->fResponse) {
                client->answers_++;
                client->lastAnswer_ = 0x8000;
            }
            GlobalUnlock((HGLOBAL)block);
            GlobalFree((HGLOBAL)block);
        }
        client->updates_.push_back(update);
    } else if (message == WM_DDE_TERMINATE && (HWND)wParam == client->server_) {
        client->terminated_ = true;
        client->serverAliveAtTerminate_ = IsWindow(client->server_) != FALSE;
    }
    return 0;
}

RawClient::~RawClient()
{
    if (window_)
        DestroyWindow(window_);
}

void RawClient::pump(DWORD milliseconds, const std::function<bool()> &done)
{
    DWORD start = GetTickCount();
    while (!done() && GetTickCount() - start < milliseconds) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        if (!done())
            MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
}

bool RawClient::connect(HWND serverWindow, const char *service, const char *topic)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "RawDdeTestClient";
    RegisterClassA(&windowClass);
    window_ = CreateWindowA("RawDdeTestClient", "", WS_POPUP, 0, 0, 0, 0, NULL, NULL,
                            GetModuleHandleA(NULL), NULL);
    SetWindowLongPtrA(window_, GWLP_USERDATA, (LONG_PTR)this);
    ATOM serviceAtom = GlobalAddAtomA(service), topicAtom = GlobalAddAtomA(topic);
    SendMessageA(serverWindow, WM_DDE_INITIATE, (WPARAM)window_, MAKELPARAM(serviceAtom, topicAtom));
    GlobalDeleteAtom(serviceAtom);
    GlobalDeleteAtom(topicAtom);
    return server_ != NULL;
}

bool RawClient::waitForAck()
{
    int before = positiveAcks_, answered = acks_;
    pump(10000, [&] { return acks_ > answered; });
    return positiveAcks_ > before;
}

bool RawClient::advise(const char *item, bool ackRequested, bool deferUpdates, UINT format)
{
    int before = positiveAcks_, answered = acks_;
    if (!postAdvise(item, ackRequested, deferUpdates, format))
        return false;
    pump(10000, [&] { return acks_ > answered; });
    return positiveAcks_ > before;
}

bool RawClient::waitForAcks(int count, DWORD milliseconds)
{
    int answered = acks_, before = positiveAcks_;
    pump(milliseconds, [&] { return acks_ >= answered + count; });
    return positiveAcks_ >= before + count;
}

bool RawClient::postAdvise(const char *item, bool ackRequested, bool deferUpdates, UINT format)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, sizeof(DDEADVISE));
    DDEADVISE *options = (DDEADVISE *)GlobalLock(block);
    options->reserved = 0;
    options->fAckReq = ackRequested;
    options->fDeferUpd = deferUpdates;
    options->cfFormat = (short)format;
    GlobalUnlock(block);
    LPARAM message = PackDDElParam(WM_DDE_ADVISE, (UINT_PTR)block, GlobalAddAtomA(item));
    return PostMessageA(server_, WM_DDE_ADVISE, (WPARAM)window_, message) != 0;
}

bool RawClient::unadvise(const char *item)
{
    LPARAM message = PackDDElParam(WM_DDE_UNADVISE, CF_TEXT, GlobalAddAtomA(item));
    return PostMessageA(server_, WM_DDE_UNADVISE, (WPARAM)window_, message) && waitForAck();
}

void RawClient::acknowledge(const RawUpdate &update)
{
    PostMessageA(server_, WM_DDE_ACK, (WPARAM)window_, PackDDElParam(WM_DDE_ACK, 0x8000, update.item));
}

bool RawClient::postRequest(const char *item)
{
    answersTaken_ = answers_;
    return PostMessageA(server_, WM_DDE_REQUEST, (WPARAM)window_,
                        MAKELPARAM(CF_TEXT, GlobalAddAtomA(item))) != FALSE;
}

bool RawClient::postExecute(const char *command)
{
    answersTaken_ = answers_;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, lstrlenA(command) + 1);
    lstrcpyA((char *)GlobalLock(block), command);
    GlobalUnlock(block);
    return PostMessageA(server_, WM_DDE_EXECUTE, (WPARAM)window_, (LPARAM)block) != FALSE;
}

bool RawClient::waitForAnswer(DWORD milliseconds, WORD *status)
{
    pump(milliseconds, [this] { return answers_ > answersTaken_; });
    if (answers_ == answersTaken_)
        return false;
    answersTaken_ = answers_;
    *status = lastAnswer_;
    return true;
}

bool RawClient::request(const char *item, DWORD milliseconds, unsigned long *value)
{
    updates_.clear();
    int answered = acks_;
    ATOM atom = GlobalAddAtomA(item);
    if (!PostMessageA(server_, WM_DDE_REQUEST, (WPARAM)window_, MAKELPARAM(CF_TEXT, atom))) {
        GlobalDeleteAtom(atom);
        return false;
    }
    auto answer = [&] {
        for (const RawUpdate &update : updates_)
            if (update.response)
                return true;
        return acks_ > answered;
    };
    pump(milliseconds, answer);
    for (const RawUpdate &update : updates_) {
        if (update.response) {
            *value = update.value;
            GlobalDeleteAtom(update.item);
            return true;
        }
    }
    return false;
}

bool RawClient::waitForUpdates(DWORD milliseconds,
                               const std::function<bool(const std::vector<RawUpdate> &)> &done)
{
    pump(milliseconds, [&] { return done(updates_); });
    return done(updates_);
}

std::vector<RawUpdate> RawClient::updatesWithin(DWORD milliseconds)
{
    updates_.clear();
    pump(milliseconds, [] { return false; });
    return updates_;
}

std::vector<RawUpdate> RawClient::takeUpdates(DWORD milliseconds)
{
    pump(milliseconds, [this] { return !updates_.empty(); });
    std::vector<RawUpdate> taken;
    taken.swap(updates_);
    return taken;
}

bool RawClient::terminate()
{
    PostMessageA(server_, WM_DDE_TERMINATE, (WPARAM)window_, 0);
    pump(5000, [this] { return terminated_; });
    return terminated_;
}

void RawClient::vanish()
{
    DestroyWindow(window_);
    window_ = NULL;
}

bool RawClient::waitForServerTerminate(DWORD milliseconds)
{
    pump(milliseconds, [this] { return terminated_; });
    return terminated_;
}

} // namespace dt
