// The component's event window, its single wait, and the operations that
// close and renew the socket or end a wait.
#include "net/Tslink.h"

#include "net/HiddenWindow.h"
#include "net/Swallow.h"

#include <algorithm>
#include <cassert>

namespace {
constexpr int ReceiveChunk = 65536;
// What one read notification takes at most before it returns. Draining a
// fast connection until a read comes up short would take a whole large body
// in one notification: nobody takes bytes out meanwhile, so all of it piles
// up in the receive buffer, and the event loop stands still for as long.
constexpr int DrainPerNotification = 1 << 20;
} // namespace

LRESULT TTessalink::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TTessalink* component = HiddenWindowOwner<TTessalink>(window);
    if (component == nullptr || message < SocketEventMessage)
        return DefWindowProc(window, message, wParam, lParam);
    TMessage record { message, wParam, lParam, 0 };
    component->SocketMessage(record);
    return 0;
}

void TTessalink::SocketMessage(TMessage& message) {
    message.Result = 0;
    // A late answer to a lookup that was given up (see m_lookupTask).
    if (message.Msg == LookupDoneMessage && m_lookupTask != 0 && message.WParam != m_lookupTask)
        return;
    Swallow([&] {
        LastEventOk = Winsock::WSAGETSELECTERROR(message.LParam) == 0;
        if (message.Msg == SocketEventMessage) {
            switch (Winsock::WSAGETSELECTEVENT(message.LParam)) {
            case Winsock::FD_READ:
                if (m_tlsHandshaking) {
                    WaitEvent->Set();
                    break;
                }
                ReceiveToBuffer();
                if (OnDataArrived)
                    OnDataArrived(this);
                break;
            case Winsock::FD_ACCEPT:
                Connected = true;
                WaitEvent->Set();
                if (OnConnectionRequest)
                    OnConnectionRequest(this);
                break;
            case Winsock::FD_CONNECT:
                if (LastEventOk) {
                    Connected = true;
                    m_connectCompleted = true;
                    WaitEvent->Set();
                    if (OnConnect)
                        OnConnect(this);
                } else {
                    // Connect wakes, finds LastEventOk false and fails.
                    WaitEvent->Set();
                }
                break;
            case Winsock::FD_CLOSE:
                PeerClosed(Winsock::WSAGETSELECTERROR(message.LParam));
                break;
            case Winsock::FD_WRITE:
                // Only a send that found the socket full listens for this.
                if (m_waitingToSend)
                    WaitEvent->Set();
                break;
            default:
                break;
            }
        } else if (message.Msg == LookupDoneMessage) {
            m_lookupTask = 0;
            AsyncDone = true;
            WaitEvent->Set();
            // A listening socket that a user registered with this number
            // reports its incoming connections here.
            if (LOWORD(static_cast<std::uintptr_t>(message.LParam)) == Winsock::FD_ACCEPT) {
                Connected = true;
                if (!IsDestroying() && OnConnect)
                    OnConnect(this);
            }
        }
    });
    message.Result = 0;
}

void TTessalink::ReceiveToBuffer() {
    int drained = 0;
    for (;;) {
        int asked = 0;
        int received = 0;
        try {
            const TKvFifoBuffer::TSpan tail = InputBuffer->FreeTail();
            if (tail.Length > 0) {
                asked = std::min(tail.Length, DrainPerNotification - drained);
                received = ReceiveInto(tail.Data, asked);
                InputBuffer->Commit(std::max(received, 0));
            } else {
                // The spill file holds bytes: the new ones go behind them.
                asked = std::min(ReceiveChunk, DrainPerNotification - drained);
                received = ReceiveInto(m_receiveArea.data(), asked);
                InputBuffer->Append(m_receiveArea.data(), received);
            }
        } catch (const std::exception& error) {
            ReceiveFailed(error.what());
            return;
        }
        // Nothing there now (or a failure whose close notification follows):
        // nothing new for the wait to find. Woken anyway, a reader that
        // reads while it waits (DataAvailable over TLS) would come straight
        // back here, never dispatching a message, and its time limit would
        // never fire.
        if (received < 0)
            return;
        if (received == 0)
            RequestCloseSocket();
        WaitEvent->Set();
        if (received == 0)
            return;
        drained += received;
        // A TLS read returns one record at a time, and the decrypted bytes
        // the session already holds bring no notification: those are taken
        // even past the bound. A plain read that came up short took all
        // there was; a full one may have left more for the next read.
        if (m_tls && m_tls->Pending() > 0)
            continue;
        if (drained >= DrainPerNotification || (!m_tls && received < asked))
            return;
    }
}

void TTessalink::ReceiveFailed(const std::string& error) {
    // The bytes just read are lost, so whatever the connection still brings
    // would be cut: end it like a reset, which the readers raise once they
    // have taken what the buffer holds.
    ReportStatus(StatusLevel::Socket, "Receive buffer failed");
    m_closeErrorNo = 0;
    m_closeErrorText = error;
    WaitEvent->Set();
    RequestCloseSocket();
}

bool TTessalink::DataAvailable() {
    if (InputBuffer && InputBuffer->Count() > 0)
        return true;
    if (m_tls) {
        // Bytes in the socket may be only part of a record: decrypt what
        // there is instead of peeking.
        ReceiveToBuffer();
        return InputBuffer->Count() > 0 || !Connected;
    }
    char scratch = 0;
    const int peeked = Winsock::recv(SocketHandle, &scratch, 1, Winsock::MSG_PEEK);
    if (peeked > 0) {
        ReceiveToBuffer();
        return true;
    }
    if (peeked == 0) {
        PeerClosed(0);
        return true;
    }
    return false;
}

void TTessalink::PeerClosed(uint16_t errorNo) {
    // A live connection is closed and replaced here, which fires OnDisconnect
    // once; the second call below tells that the wait woke for a close.
    Swallow([&] {
        if (Connected) {
            m_closeErrorNo = errorNo;
            m_closeErrorText.clear();
            ClearInput();
            RequestCloseSocket();
        }
    });
    WaitEvent->Set();
    if (OnDisconnect)
        OnDisconnect(this);
}

void TTessalink::WaitForEvent() {
    assert(!m_inWait && "a second wait of the same component started inside a wait");
    m_inWait = true;
    const HANDLE event = WaitEvent->Handle();
    for (;;) {
        const DWORD result = MsgWaitForMultipleObjects(1, &event, false, INFINITE, QS_ALLINPUT);
        if (result != WAIT_OBJECT_0 + 1)
            break;
        DispatchPendingMessages();
    }
    m_inWait = false;
    WaitEvent->Reset();
}

void TTessalink::RequestCloseSocket() {
    ReportStatus(StatusLevel::Socket, "Request Close Socket");
    Connected = false;
    m_tls.reset();
    if (SocketHandle == NoSocket)
        return;
    SocketHandle.Close();
    if (!IsDestroying() && OnDisconnect)
        OnDisconnect(this);
    if (m_keepClosed)
        return;
    OpenFreshSocket();
}

bool TTessalink::OpenFreshSocket() {
    return OpenSocket(Winsock::FD_ALL_EVENTS & ~Winsock::FD_WRITE);
}

void TTessalink::Cancel() {
    ReportStatus(StatusLevel::Detail, "Canceling");
    Canceled = true;
    if (WaitEvent)
        WaitEvent->Set();
}

void TTessalink::Abort() {
    ReportStatus(StatusLevel::Detail, "Abort");
    Cancel();
}

void TTessalink::ClearInput() {
    ReportStatus(StatusLevel::Detail, "Clearing Input");
    Winsock::recv(SocketHandle, m_receiveArea.data(), ReceiveChunk, 0);
}
