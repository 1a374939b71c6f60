#pragma once

#include "net/ESockError.h"
#include "net/HiddenWindow.h"
#include "net/KvFifoBuffer.h"
#include "net/NthField.h"
#include "net/TComponent.h"
#include "net/TSocketHandle.h"
#include "net/TThreadTimer.h"
#include "net/TlsSession.h"
#include "platform/Events.h"
#include "platform/WinTypes.h"
#include "platform/Windows.h"
#include "platform/Winsock.h"
#include "toolkit/runtime/TStringList.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TStream;

// Event types of the socket component.
using TOnHostResolved = std::function<void(TComponent* Sender)>;
using TOnStatus = std::function<void(TComponent* Sender, const std::string& Status)>;
// The handler sets Handled to ask for one more attempt.
using THandlerEvent = std::function<void(bool& Handled)>;
using TSocketErrorEvent =
    std::function<void(TComponent* Sender, uint16_t ErrorNo, const std::string& Message)>;

// Placeholder for form designers; the component never creates one.
class TKvReg {};

// A message handed to the component by its event window.
struct TMessage {
    UINT Msg { 0 };
    WPARAM WParam { 0 };
    LPARAM LParam { 0 };
    LRESULT Result { 0 };
};

// Message numbers of the event window.
constexpr UINT SocketEventMessage = WM_USER + 101; // 1125: network events of SocketHandle
constexpr UINT LookupDoneMessage = WM_USER + 102;  // 1126: host lookup answers

// The count of CaptureStream and CaptureString when it is no wanted size.
constexpr int32_t CaptureBuffered = -1;   // take what is buffered now
constexpr int32_t CaptureUntilClose = -2; // until the peer closes the connection

// Levels of the status reports. A report passes when its level is at most
// ReportLevel: 0 silences everything, 8 lets everything through.
enum class StatusLevel : uint8_t {
    Reply = 1,      // the reply line of each Transaction
    Completion = 2, // the successful end of an HTTP response
    Socket = 4,     // the start of SendBuffer and Accept, every close of the socket
    Detail = 8,     // every other step
};

// A TCP client socket whose operations look blocking to their caller while
// every wait keeps the thread's messages flowing.
//
// The socket is asynchronous from the first moment: its network events come
// as messages to a hidden window of class "TslinkWindowClass" owned by the
// component, host names are looked up by the socket library's asynchronous
// lookup, and the time limit is a window timer. Every operation that has to
// wait loops on one primitive, WaitForEvent: it sleeps on WaitEvent while it
// dispatches every message of the thread (so the user interface, the socket
// notifications and the timer all keep running), and the operation re-tests
// its own condition after each wake.
//
// Re-entrancy: code that runs inside a wait (button handlers, this
// component's own events) may call Cancel or Abort to end the wait. It must
// not start another operation of the same component, nor destroy it; a
// nested wait on the same component is refused by an assertion in debug
// builds.
//
// Threads: everything runs on the thread that created the component; the
// only other threads are the socket library's lookup worker and the receive
// buffer's refill worker, neither of which calls into the component.
//
// Destruction: a descendant that overrides Abort calls BeginDestroy first in
// its own destructor, so that its Abort runs while it is still whole.
//
// TLS: with UseTls set, Connect runs a TLS handshake on the new connection
// (see TTlsSession for what is checked) before it returns, with the same
// waits, time limit and Abort as the TCP connect. From then on every byte
// sent is encrypted and the read notifications decrypt into InputBuffer, so
// the data transfer operations work unchanged. The session is the
// connection's: it ends with every close.
class TTessalink : public TComponent, private TTlsTransport {
public:
    explicit TTessalink(TComponent* owner);
    ~TTessalink() override;

    // Takes over an incoming connection of the listening SocketHandle after
    // the notification arrived as LookupDoneMessage; returns the new socket,
    // which the caller owns.
    virtual uint16_t Accept();
    // Resolves Host (or Proxy) and connects to Port (or ProxyPort). Returns
    // when connected; raises ESockError otherwise.
    virtual void Connect();
    // Closes a live connection and leaves a fresh socket; does nothing else
    // when not connected.
    virtual void Disconnect();
    // Sends one command line and returns the reply line; sets LastReply and
    // ReplyCode.
    virtual std::string Transaction(const std::string& command);
    // Ends the wait in progress: reports "Abort" and cancels. Also called by
    // the time limit.
    virtual void Abort();

    // Ends the wait in progress; the waiting operation then fails.
    void Cancel();

    // Host lookup into RemoteAddress; a dotted address needs no lookup.
    void ResolveRemoteHost();
    // Switches lingering off for the socket (after every connect attempt).
    void LingerOff();
    // Sets the "don't linger" option, which the platform accepts and ignores.
    void DontLingerOff();

    // Closes the socket and, unless the component is being destroyed, makes a
    // fresh one registered for every notification but write.
    void RequestCloseSocket();
    // Discards what one read of up to 64 KiB takes from the socket.
    void ClearInput();
    // True when InputBuffer holds bytes, when bytes were waiting in the socket
    // (they are moved into InputBuffer), or when the peer has just closed the
    // connection (Connected is then false).
    bool DataAvailable();
    // Sleeps until WaitEvent is signalled, dispatching every message of the
    // thread meanwhile, then resets it.
    void WaitForEvent();
    // Starts the time limit of TimeOut milliseconds (none for 0) at once and
    // clears TimedOut; StopTimer ends it. The operations run their limits
    // through TOperation (net/TslinkOperation.h).
    void StartTimer();
    void StopTimer();

    // Data transfer. Every operation that can be canceled raises EAbortError
    // after a Cancel, Abort or time-out and clears Canceled.
    // Sends length bytes (0: up to the first zero byte, at most 65,535).
    void SendBuffer(const void* data, uint16_t length);
    // A string of up to 65,535 characters is sent up to its first zero byte;
    // a longer one is sent whole.
    void Write(const std::string& text);
    void Writeln(const std::string& text);
    // The next line with its line end; zero bytes are ordinary bytes of a
    // line. Once the connection has closed, the rest of the buffer (possibly
    // without line end, possibly empty). With maxLength 0 or more the wait
    // also ends once more than maxLength bytes are buffered without a line
    // end among them, and the result is then cut to maxLength + 1 bytes, so
    // a caller that bounds its lines sees the overflow without the buffer
    // growing on.
    std::string ReadLn(int32_t maxLength = -1);
    // ReadLn into line, whose memory a caller that reads many lines reuses.
    void ReadLnInto(std::string& line, int32_t maxLength = -1);
    void SendFile(const std::string& fileName);
    void SendStream(TStream& stream);
    // count CaptureBuffered: take what is buffered now; 0 or more: the
    // wanted size; CaptureUntilClose (or any other negative value): until
    // the peer closes the connection.
    void CaptureFile(const std::string& fileName);
    void CaptureStream(TStream& stream, int32_t count);
    void CaptureString(std::string& text, int32_t count);
    // How the last connection ended: the socket library's error number when
    // the peer reset it or it failed, 0 for an orderly close, for a close
    // forced by the receive buffer, and while it lasts. Connect clears it.
    // After a reset or error, the captures, ReadLn and the sends raise it
    // once the buffered bytes are drained.
    uint16_t CloseErrorNo() const { return m_closeErrorNo; }

    // Status and errors.
    void ReportStatus(StatusLevel level, const std::string& text);
    // The same for a fixed text, which is made into a string only when the
    // report passes: most reports pass nobody.
    void ReportStatus(StatusLevel level, const char* text) {
        if (static_cast<int32_t>(level) <= ReportLevel)
            ReportStatus(level, std::string(text));
    }
    std::string SocketErrorText(uint16_t errorNo);
    // Raises ESockError with the error's text unless the last socket error is
    // the tolerated one or not above 10000.
    void CheckSocketError(uint16_t tolerated);

    // The hidden window that hears the socket's network events and the host
    // lookup answers (SocketEventMessage, LookupDoneMessage); 0 when it
    // could not be made.
    HWND EventWindow() const { return m_eventWindow.Handle(); }

    // The published properties and events are read and written directly; a
    // change takes effect at the next operation.

    // ---- Settings ----
    std::string Host;
    int32_t Port { 0 };
    // Connect goes to the proxy instead of Host and Port when one is set.
    std::string Proxy;
    int32_t ProxyPort { 0 };
    // The time limit of each wait in milliseconds; 0: none.
    int32_t TimeOut { 0 };
    // Status reports pass when their level (StatusLevel) is at most this.
    int32_t ReportLevel { 0 };
    // Connect speaks TLS on the new connection (the HTTP component sets it
    // for "https:" URLs); Host is the name the certificate must carry.
    bool UseTls { false };
    // A PEM file of CA certificates trusted for TLS in addition to the
    // system's; set from the environment variable WALLPAPERS_EXTRA_CA_FILE
    // when the component is made (empty: none).
    std::string TlsCaFile;
    TKvReg* About { nullptr };

    // ---- Events ----
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    TNotifyEvent OnConnectionFailed;
    TNotifyEvent OnConnectionRequest;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TNotifyEvent OnDataArrived;
    TNotifyEvent OnPacketRecvd;
    TNotifyEvent OnPacketSent;
    TOnStatus OnStatus;
    TSocketErrorEvent OnSocketError;

    // ---- State that descendants and tests read ----
    bool Connected { false };
    bool Canceled { false };
    bool TimedOut { false };
    bool AsyncDone { false };
    bool LastEventOk { false };
    int32_t LastErrorNo { 0 };
    std::string StatusText;
    std::string LastReply;
    int16_t ReplyCode { 0 };
    int32_t SentCount { 0 };
    int32_t SendTotal { 0 };
    int32_t ReceivedCount { 0 };
    Winsock::sockaddr_in RemoteAddress;
    // The socket, which the component alone closes.
    TSocketHandle SocketHandle;
    std::unique_ptr<TStringList> WinsockInfo;

    // ---- Work areas ----
    // The receive buffer; none in a form designer.
    std::unique_ptr<TKvFifoBuffer> InputBuffer;
    std::unique_ptr<EventObject> WaitEvent;
    std::unique_ptr<TThreadTimer> Timer;
    // The host entry that a lookup answers into.
    std::unique_ptr<char[]> HostEntryBuffer;

protected:
    // Marks the component destroying and runs the virtual Abort, then Cancel.
    // The destructor of a descendant that overrides Abort calls it first;
    // later calls do nothing.
    void BeginDestroy();

    // Everything the event window hears, from message 1125 upwards.
    void SocketMessage(TMessage& message);
    // Moves what the socket holds into InputBuffer, straight into the free
    // room at its tail, and returns after at most about 1 MiB (more only
    // while a TLS session holds decrypted bytes): the socket library posts
    // another read notification for what is left, so a large body comes in
    // steps that let the capture and the rest of the event loop run between.
    // Wakes the wait only when it took bytes or found the close.
    void ReceiveToBuffer();
    // Moves up to length bytes of InputBuffer onto the end of text; returns
    // how many it moved.
    int32_t TakeInto(std::string& text, int32_t length);
    // The peer closed the connection (close notification, or a peek that
    // read 0): close and renew a live socket, wake the wait, tell the user.
    // errorNo is the close notification's error, 0 for an orderly close.
    void PeerClosed(uint16_t errorNo);
    // After data taken until the close: a connection that ended by a reset
    // or an error cut the data short, which raises ESockError with the
    // error's text; an orderly close (or a live connection) passes.
    void CheckOrderlyClose();
    // After data that stopped short of a wanted size: when the receive
    // buffer's failure ended the connection, that failure is why, and it is
    // raised with its own text; any other end passes.
    void CheckReceiveFailure();
    // True once the connection has ended by a reset or an error.
    bool EndedByError() const;
    // The time limit elapsed: stops it, sets TimedOut and aborts.
    void TimerTriggered(TComponent* sender);
    // Receives up to size bytes of the connection's data into buffer: the
    // socket's bytes, or the TLS session's decrypted ones. Returns their
    // number, 0 once the peer has closed, or SOCKET_ERROR with the socket
    // library's last error set (WSAEWOULDBLOCK: nothing there now). A
    // broken TLS record raises ESockError. Every read of received data goes
    // through here.
    int ReceiveInto(char* buffer, int size);
    // Sends up to size bytes, encrypted on a TLS connection: the number
    // taken, or SOCKET_ERROR with the socket library's last error set
    // (WSAEWOULDBLOCK: wait for room).
    int SendFrom(const char* data, int size);
    // The scope of an operation that may wait: its time limits, its waits
    // and its abort error (net/TslinkOperation.h).
    class TOperation;
    // With Proxy set and UseTls, runs after the TCP connect to the proxy
    // and before the handshake, to have the proxy open a tunnel to Host and
    // Port. The base component knows no proxy protocol and does nothing.
    virtual void OpenTunnel() {}

private:
    // The first socket, registered for every notification; raises when none
    // can be made.
    void InitSocket();
    // Makes and registers the socket that follows every close: all
    // notifications but write. When none can be made (at the open-file
    // limit, say), SocketHandle is left at NoSocket and the result is false;
    // the socket library's error tells why.
    bool OpenFreshSocket();
    // Makes a socket into SocketHandle and registers it with the event
    // window for the given network events. SocketHandle stays NoSocket
    // when no socket can be made (the result is then false).
    bool OpenSocket(long events);
    // After a canceled or timed-out attempt: close quietly and make a fresh
    // socket, so a late completion can never connect the component.
    void RenewSocketAfterFailedConnect();
    // Copies a host name into m_ioBuffer; false when it does not fit.
    bool PutNameInIoBuffer(const std::string& name);
    // Waits in the operation until the socket can take more bytes, or a
    // cancel or time-out.
    void WaitUntilWritable(TOperation& operation);
    // Sends one chunk held in m_ioBuffer for SendFile and SendStream, and
    // restarts the operation's time limit after each piece that moves;
    // returns false when a send took nothing (SendStream then ends at once).
    bool SendChunk(TOperation& operation, int32_t length);
    // ReadLn's two ways to its line. A line whose end is already in the
    // memory part of InputBuffer is taken straight from there: true. Else
    // false, and WaitForLine searches every byte held and waits for more.
    bool TakeBufferedLine(std::string& line, int32_t maxLength);
    void WaitForLine(TOperation& operation, std::string& line, int32_t maxLength);
    [[noreturn]] void RaiseSocketError(int errorNo);
    // The TLS handshake on the connection just made; on failure the
    // connection is closed and ESockError raised.
    void StartTls();
    // Closes the connection after a failure that is raised instead.
    void CloseQuietly() noexcept;
    // The session's transport: the component's socket.
    int Receive(char* buffer, int size, int& errorNo) noexcept override;
    int Send(const char* data, int size, int& errorNo) noexcept override;
    // Received bytes could not be stored: the connection can no longer
    // deliver whole data, so it ends here with that error.
    void ReceiveFailed(const std::string& error);
    // A send failed: after a connection that ended by an error, that error
    // is the cause; otherwise the socket library's error.
    void CheckSendError();
    static LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Work area: the host name to look up, send chunks, capture chunks. The
    // read notifications receive into m_receiveArea instead, so received
    // bytes never land on a chunk that is still being sent.
    std::array<char, 65537> m_ioBuffer {};
    // The read notifications receive here (see m_ioBuffer) while the receive
    // buffer's tail has no room for them: when its spill file holds bytes.
    std::array<char, 65536> m_receiveArea {};
    // Events the current socket is registered for: the first and accepted
    // sockets get all six, renewed ones all but write. A send that would
    // block adds write for the rest of the socket's life, so that the
    // platform's write notification can end its wait.
    long m_selectedEvents { 0 };
    // A send waits for room; write notifications then signal WaitEvent.
    bool m_waitingToSend { false };
    // The connection of the current Connect has completed. Connect's wait
    // ends on it even when the peer closed again in the same dispatch, which
    // leaves Connected false on a fresh socket that would never complete.
    bool m_connectCompleted { false };
    bool m_inWait { false };
    // The innermost operation under way, none between operations.
    TOperation* m_operation { nullptr };
    // The host lookup being waited for, 0 when none. Its own answer ends the
    // wait; while it is pending, an answer naming another task is a late one
    // and changes nothing. Kept apart from AsyncDone, which a descendant's
    // Abort sets, so that an abandoned lookup is always canceled.
    HANDLE m_lookupTask { 0 };
    // The last name that was a dotted address, and that address.
    std::string m_dottedName;
    Winsock::u_long m_dottedAddress { 0 };
    uint16_t m_closeErrorNo { 0 };
    // The error of a close that no socket error number describes.
    std::string m_closeErrorText;
    bool m_destroyBegun { false };
    // Set while the component is destroyed: a close makes no fresh socket.
    bool m_keepClosed { false };
    THiddenWindow m_eventWindow;
    // The TLS session of the live connection, none on a plain one.
    std::unique_ptr<TTlsSession> m_tls;
    // The handshake reads the socket itself: read notifications then only
    // wake its wait.
    bool m_tlsHandshaking { false };
};
