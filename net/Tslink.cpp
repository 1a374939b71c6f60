#include "net/Tslink.h"

#include "net/ERangeError.h"
#include "net/HiddenWindow.h"
#include "net/SocketErrorText.h"
#include "platform/ExtraCaFile.h"

#include <cstring>

namespace {

// The socket library is started once per process, when the first component
// is made, and cleaned up at process exit, after every component has gone.
struct TWinsockUnit {
    Winsock::WSADATA WinsockData;
    bool WinsockStarted { false };

    TWinsockUnit() {
        try {
            // A refused start-up answers with a positive error number and so
            // still counts as started: the failure then shows when the first
            // socket is made, as the constructor's error.
            WinsockStarted = Winsock::WSAStartup(0x0101, &WinsockData) != Winsock::SOCKET_ERROR;
        } catch (...) {
        }
    }
    ~TWinsockUnit() {
        if (!WinsockStarted)
            return;
        try {
            Winsock::WSACleanup();
        } catch (...) {
        }
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
    ReportStatus(8, "Create");
    const TWinsockUnit& unit = WinsockUnit();
    EventWindow = CreateHiddenWindow("TslinkWindowClass", &WindowProc, this);
    try {
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
            WinsockInfo->Add("System= " +
                             FieldText(data.szSystemStatus, sizeof data.szSystemStatus));
            WinsockInfo->Add("Max Sockets= " + std::to_string(data.iMaxSockets));
            WinsockInfo->Add("Max Udp pack size= " + std::to_string(data.iMaxUdpDg));
        }
        Canceled = false;
        KeepClosed = false;
        Connected = false;
        InitSocket();
    } catch (...) {
        // The destructor does not run for a half-made component: release what
        // the members do not release themselves.
        if (SocketHandle != 0xFFFF)
            Winsock::closesocket(SocketHandle);
        if (EventWindow != 0)
            DestroyWindow(EventWindow);
        throw;
    }
}

TTessalink::~TTessalink() {
    BeginDestroy();
    try {
        WinsockInfo.reset();
        Timer.reset();
        HostEntryBuffer.reset();
        if (EventWindow != 0)
            DestroyWindow(EventWindow);
        EventWindow = 0;
        WaitEvent.reset();
        InputBuffer.reset();
        KeepClosed = true;
        if (!Designing())
            RequestCloseSocket();
    } catch (...) {
    }
}

void TTessalink::BeginDestroy() {
    if (m_destroyBegun)
        return;
    m_destroyBegun = true;
    Destroying();
    ReportStatus(8, "Destroy");
    try {
        Abort();
        Cancel();
    } catch (...) {
    }
}

void TTessalink::InitSocket() {
    ReportStatus(8, "Initializing Winsock");
    if (Designing() || !WinsockUnit().WinsockStarted)
        return;
    try {
        const Winsock::SOCKET handle =
            Winsock::socket(Winsock::AF_INET, Winsock::SOCK_STREAM, Winsock::IPPROTO_TCP);
        if (handle > 0xFFFF)
            throw ERangeError();
        SocketHandle = static_cast<uint16_t>(handle);
        if (SocketHandle == 0xFFFF)
            CheckSocketError(Winsock::WSAEWOULDBLOCK);
        m_selectedEvents = Winsock::FD_ALL_EVENTS;
        Winsock::WSAAsyncSelect(SocketHandle, EventWindow, SocketEventMessage, m_selectedEvents);
    } catch (...) {
        throw ESockError("Initializaton of windows sockets failed");
    }
}

void TTessalink::ReportStatus(uint8_t level, const std::string& text) {
    if (static_cast<int32_t>(level) > ReportLevel)
        return;
    try {
        StatusText = text;
        if (!IsDestroying() && OnStatus)
            OnStatus(this, StatusText);
    } catch (...) {
    }
}

std::string TTessalink::SocketErrorText(uint16_t errorNo) {
    ReportStatus(8, "Looking Up Error Message");
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
    throw ESockError(text);
}
