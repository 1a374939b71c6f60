// Host resolution, connecting and disconnecting.
#include "net/Tslink.h"

#include "net/Swallow.h"
#include "net/TslinkOperation.h"
#include "toolkit/runtime/ScopeExit.h"

#include <cstring>

namespace {
constexpr const char* LookupTimedOut = "Host Lookup Timed Out";
constexpr const char* LookupCanceled = "Host Lookup Canceled";
constexpr const char* LookupFailed = "Host Lookup Failed";
constexpr const char* NullRemoteAddress = "Null Remote Address";
} // namespace

bool TTessalink::PutNameInIoBuffer(const std::string& name) {
    if (name.size() + 1 > m_ioBuffer.size())
        return false;
    std::memcpy(m_ioBuffer.data(), name.data(), name.size());
    m_ioBuffer[name.size()] = '\0';
    return true;
}

void TTessalink::ResolveRemoteHost() {
    ReportStatus(StatusLevel::Detail, "Resolve Host");
    const std::string& name = Proxy.empty() ? Host : Proxy;
    if (!PutNameInIoBuffer(name)) {
        RemoteAddress.sin_addr.s_addr = 0;
        throw ESockError(TSockFailure::HostNotFound, NullRemoteAddress);
    }
    // A component mostly connects to the same address again: the text
    // that gave it last time needs no parsing.
    if (!m_dottedName.empty() && name == m_dottedName) {
        RemoteAddress.sin_addr.s_addr = m_dottedAddress;
        return;
    }
    RemoteAddress.sin_addr.s_addr = Winsock::inet_addr(m_ioBuffer.data());
    if (RemoteAddress.sin_addr.s_addr != Winsock::INADDR_NONE) {
        m_dottedName = name;
        m_dottedAddress = RemoteAddress.sin_addr.s_addr;
        return;
    }

    RemoteAddress.sin_addr.s_addr = 0;
    {
        TOperation lookup(*this, TOperation::TLimit::Armed);
        AsyncDone = false;
        m_lookupTask =
            Winsock::WSAAsyncGetHostByName(EventWindow(), LookupDoneMessage, m_ioBuffer.data(),
                                           HostEntryBuffer.get(), Winsock::MAXGETHOSTSTRUCT);
        // A request refused at once never answers: it fails like a lookup
        // that found nothing instead of waiting for the time limit.
        if (m_lookupTask == 0)
            throw ESockError(TSockFailure::HostNotFound, LookupFailed);
        // An abandoned lookup must not answer into a later one.
        ScopeExit abandon([this] {
            if (m_lookupTask != 0)
                Winsock::WSACancelAsyncRequest(m_lookupTask);
            m_lookupTask = 0;
        });
        do
            lookup.Wait();
        while (m_lookupTask != 0 && !TimedOut && !Canceled);
    }
    if (TimedOut)
        throw ESockError(TSockFailure::TimedOut, LookupTimedOut);
    if (Canceled)
        throw ESockError(TSockFailure::Canceled, LookupCanceled);
    if (!LastEventOk)
        throw ESockError(TSockFailure::HostNotFound, LookupFailed);

    const auto* entry = reinterpret_cast<const Winsock::hostent*>(HostEntryBuffer.get());
    if (entry->h_addr_list != nullptr && entry->h_addr_list[0] != nullptr)
        std::memcpy(&RemoteAddress.sin_addr.s_addr, entry->h_addr_list[0], 4);
    if (OnHostResolved)
        OnHostResolved(this);
}

void TTessalink::Connect() {
    ReportStatus(StatusLevel::Detail, "Connecting");
    Canceled = false;
    m_closeErrorNo = 0;
    m_closeErrorText.clear();
    if (InputBuffer)
        InputBuffer->Clear();
    if (Connected)
        throw ESockError(TSockFailure::Misuse, "Already connected");
    // The socket that should have followed the last close could not be made.
    if (SocketHandle == NoSocket && !OpenFreshSocket()) {
        LastErrorNo = Winsock::WSAGetLastError();
        RaiseSocketError(LastErrorNo);
    }

    for (int tries = 0;; ++tries) {
        try {
            ResolveRemoteHost();
        } catch (const ESockError& error) {
            // A lookup that ran out of time or was canceled ends Connect; one
            // that found nothing leaves the address 0 for the checks below.
            if (error.Kind == TSockFailure::TimedOut || error.Kind == TSockFailure::Canceled)
                throw;
        }
        if (RemoteAddress.sin_addr.s_addr != 0)
            break;
        if (tries > 0 || !OnInvalidHost)
            throw ESockError(TSockFailure::HostNotFound, NullRemoteAddress);
        bool handled = false;
        OnInvalidHost(handled);
        if (!handled)
            throw ESockError(TSockFailure::HostNotFound, NullRemoteAddress);
    }

    RemoteAddress.sin_family = Winsock::AF_INET;
    const int32_t port = Proxy.empty() ? Port : ProxyPort;
    RemoteAddress.sin_port = Winsock::htons(static_cast<Winsock::u_short>(port & 0xFFFF));
    AsyncDone = false;
    LastEventOk = true;
    m_connectCompleted = false;
    if (Winsock::connect(SocketHandle, reinterpret_cast<const Winsock::sockaddr*>(&RemoteAddress),
                         sizeof RemoteAddress) == Winsock::SOCKET_ERROR)
        CheckSocketError(Winsock::WSAEWOULDBLOCK);

    {
        TOperation connecting(*this, TOperation::TLimit::Armed);
        while (!Connected && !m_connectCompleted && !TimedOut && !Canceled && LastEventOk)
            connecting.Wait();
    }
    LingerOff();
    if (!TimedOut && !Canceled && LastEventOk) {
        if (UseTls)
            StartTls();
        return;
    }

    ScopeExit renew([this] { RenewSocketAfterFailedConnect(); });
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (TimedOut) {
        Swallow([this] { Disconnect(); });
        throw ESockError(TSockFailure::TimedOut, "Connection Timed out");
    }
    if (Canceled)
        throw ESockError(TSockFailure::Canceled, "Connection Canceled");
    throw ESockError(TSockFailure::Refused, "Connection Failed");
}

void TTessalink::RenewSocketAfterFailedConnect() {
    // The abandoned attempt may still complete later; on the same socket that
    // would connect the component behind its user's back, and a new connect
    // would find the attempt still in progress. A connected socket (the
    // attempt completed while the cancel was pending) is left to Disconnect.
    if (Connected || SocketHandle == NoSocket || m_keepClosed)
        return;
    SocketHandle.Close();
    // The connect failure is what the caller hears about; the next Connect
    // tries again to make a socket.
    Swallow([this] { OpenFreshSocket(); });
}

void TTessalink::Disconnect() {
    ReportStatus(StatusLevel::Detail, "Disconnecting");
    if (!Connected)
        return;
    // The closing alert tells the server that the close is not an attack
    // cutting its data short.
    if (m_tls)
        m_tls->Shutdown();
    RequestCloseSocket();
}

void TTessalink::LingerOff() {
    Winsock::linger option;
    option.l_onoff = 0;
    option.l_linger = 0;
    Winsock::setsockopt(SocketHandle, Winsock::SOL_SOCKET, Winsock::SO_LINGER,
                        reinterpret_cast<const char*>(&option), sizeof option);
}

void TTessalink::DontLingerOff() {
    // The socket library takes the option for a socket of its own and
    // ignores it, so for the component's socket the call changes nothing;
    // without a socket it fails and sets the library's last error, which
    // it still does.
    if (SocketHandle != NoSocket)
        return;
    const uint32_t zero = 0;
    Winsock::setsockopt(SocketHandle, Winsock::SOL_SOCKET, Winsock::SO_DONTLINGER,
                        reinterpret_cast<const char*>(&zero), sizeof zero);
}
