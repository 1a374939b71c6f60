#include "net/Tslink.h"

#include "net/ERangeError.h"
#include "net/HiddenWindow.h"
#include "net/SocketErrorText.h"
#include "net/Swallow.h"
#include "net/TslinkOperation.h"
#include "platform/ExtraCaFile.h"

#include <cstring>

namespace {

// The socket library is started once per process, when the first component
// is made, and cleaned up at process exit, after every component has gone.
struct TWinsockUnit {
    Winsock::WSADATA WinsockData;
    bool WinsockStarted { false };

    TWinsockUnit() {
        // A refused start-up answers with a positive error number and so
        // still counts as started: the failure then shows when the first
        // socket is made, as the constructor's error.
        Swallow([this] {
            WinsockStarted = Winsock::WSAStartup(0x0101, &WinsockData) != Winsock::SOCKET_ERROR;
        });
    }
    ~TWinsockUnit() {
        if (WinsockStarted)
            Swallow([] { Winsock::WSACleanup(); });
    }
};

TWinsockUnit& WinsockUnit() {
    static TWinsockUnit unit;
    return unit;
}

std::string VersionText(WORD version) {
    return std::to_string(HIBYTE(version)) + "." + std::to_string(LOBYTE(version));
}

// A fixed-size text field of the start-up record, up to its first zero byte.
std::string FieldText(const char* field, std::size_t size) {
    return std::string(field, strnlen(field, size));
}

} // namespace

TTessalink::TTessalink(TComponent* owner) : TComponent(owner) {
    ReportStatus(StatusLevel::Detail, "Create");
    const TWinsockUnit& unit = WinsockUnit();
    // A failure below leaves nothing behind: every member has its owner, and
    // InitSocket comes last.
    m_eventWindow = CreateHiddenWindow("TslinkWindowClass", &WindowProc, this);
    WaitEvent = std::make_unique<EventObject>(true, false);
    if (!Designing())
        InputBuffer = std::make_unique<TKvFifoBuffer>();
    Proxy.clear();
    HostEntryBuffer = std::make_unique<char[]>(Winsock::MAXGETHOSTSTRUCT);
    Timer = std::make_unique<TThreadTimer>(this);
    Timer->SetEnabled(false);
    Timer->SetOnTimer([this](TComponent* sender) { TimerTriggered(sender); });
    TimeOut = 0;
    TlsCaFile = ExtraCaFile();
    WinsockInfo = std::make_unique<TStringList>();
    if (unit.WinsockStarted) {
        const Winsock::WSADATA& data = unit.WinsockData;
        WinsockInfo->Add("Version= " + VersionText(data.wVersion));
        WinsockInfo->Add("High Version= " + VersionText(data.wHighVersion));
        WinsockInfo->Add("Description= " +
                         FieldText(data.szDescription, sizeof data.szDescription));
        WinsockInfo->Add("System= " + FieldText(data.szSystemStatus, sizeof data.szSystemStatus));
        WinsockInfo->Add("Max Sockets= " + std::to_string(data.iMaxSockets));
        WinsockInfo->Add("Max Udp pack size= " + std::to_string(data.iMaxUdpDg));
    }
    Canceled = false;
    m_keepClosed = false;
    Connected = false;
    InitSocket();
}

TTessalink::~TTessalink() {
    BeginDestroy();
    Swallow([this] {
        WinsockInfo.reset();
        Timer.reset();
        HostEntryBuffer.reset();
        m_eventWindow.Reset();
        WaitEvent.reset();
        InputBuffer.reset();
        m_keepClosed = true;
        if (!Designing())
            RequestCloseSocket();
    });
}

void TTessalink::BeginDestroy() {
    if (m_destroyBegun)
        return;
    m_destroyBegun = true;
    Destroying();
    ReportStatus(StatusLevel::Detail, "Destroy");
    Swallow([this] {
        Abort();
        Cancel();
    });
}

void TTessalink::InitSocket() {
    ReportStatus(StatusLevel::Detail, "Initializing Winsock");
    if (Designing() || !WinsockUnit().WinsockStarted)
        return;
    constexpr const char* failed = "Initializaton of windows sockets failed";
    try {
        if (!OpenSocket(Winsock::FD_ALL_EVENTS))
            throw ESockError(TSockFailure::Socket, failed);
    } catch (...) {
        throw ESockError(TSockFailure::Socket, failed);
    }
}

bool TTessalink::OpenSocket(long events) {
    const Winsock::SOCKET handle =
        Winsock::socket(Winsock::AF_INET, Winsock::SOCK_STREAM, Winsock::IPPROTO_TCP);
    // Only a closed socket is ever replaced: this closes nothing, and leaves
    // NoSocket when no socket can be made.
    SocketHandle.Close();
    if (handle == Winsock::INVALID_SOCKET)
        return false;
    if (handle >= NoSocket) {
        Winsock::closesocket(handle);
        throw ERangeError();
    }
    SocketHandle.Reset(static_cast<uint16_t>(handle));
    m_waitingToSend = false;
    m_selectedEvents = events;
    Winsock::WSAAsyncSelect(SocketHandle, EventWindow(), SocketEventMessage, m_selectedEvents);
    return true;
}

void TTessalink::ReportStatus(StatusLevel level, const std::string& text) {
    if (static_cast<int32_t>(level) > ReportLevel)
        return;
    // The handler may dispatch messages or take its time: a started limit
    // bounds that as well.
    if (!IsDestroying() && OnStatus && m_operation != nullptr)
        m_operation->BeforeHandlers();
    // A report is never a reason for the operation that makes it to fail.
    Swallow([&] {
        StatusText = text;
        if (!IsDestroying() && OnStatus)
            OnStatus(this, StatusText);
    });
}

std::string TTessalink::SocketErrorText(uint16_t errorNo) {
    ReportStatus(StatusLevel::Detail, "Looking Up Error Message");
    return SocketErrorTableText(errorNo);
}

void TTessalink::CheckSocketError(uint16_t tolerated) {
    const int errorNo = Winsock::WSAGetLastError();
    LastErrorNo = errorNo;
    if (errorNo == tolerated || errorNo <= Winsock::WSABASEERR)
        return;
    RaiseSocketError(errorNo);
}

void TTessalink::RaiseSocketError(int errorNo) {
    const std::string text = SocketErrorText(static_cast<uint16_t>(errorNo));
    if (OnSocketError)
        OnSocketError(this, static_cast<uint16_t>(errorNo), text);
    throw ESockError(SocketErrorFailure(errorNo), text);
}
