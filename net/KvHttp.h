#pragma once

#include "net/KvExtstr.h"
#include "net/THeaderInfo.h"
#include "net/TThreadTimer.h"
#include "net/Tslink.h"
#include "net/URLParse.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>

class TStream;

// The commands, in the order whose ordinal values the request and response
// handling select behaviour by.
enum CmdType : uint8_t {
    CmdGET = 0,
    CmdOPTIONS = 1,
    CmdHEAD = 2,
    CmdPOST = 3,
    CmdPUT = 4,
    CmdPATCH = 5,
    CmdCOPY = 6,
    CmdMOVE = 7,
    CmdDELETE = 8,
    CmdLINK = 9,
    CmdUNLINK = 10,
    CmdTRACE = 11,
    CmdWRAPPED = 12,
    cmdPOSTS = 13,
};

using TResultEvent = std::function<void(CmdType Cmd)>;

// An HTTP/1.0 client: one command per call, each pass over a fresh
// connection, following redirects (at most MaxRedirects of them), carrying a
// cookie over a redirect, with Basic credentials and an optional proxy. The
// response header and body go to the strings Header and Body, or, with
// InputFileMode, to the files those two name.
//
// Redirects: 301, 302, 303, 307 and 308 with a Location are followed, always
// with GET. Any other 3xx, and a 3xx without a Location, ends the command
// with its status in ReplyCode. A cookie received with a redirect goes only
// to the host and port that set it, and credentials written in a URL only to
// that URL's host; values the caller put into HeaderInfo go everywhere.
//
// A call returns only when the last response has arrived completely: at the
// announced Content-Length (a close before it is an error), or else when the
// server closes the connection. The port written in a URL is the one
// connected to; without one it is the scheme's default. Failures are
// ESockError (EAbortError for a canceled transfer) after the connection has
// been closed; Body and Header keep what had arrived. The response header
// as a whole is bounded by MaxHeaderSize and, with a TimeOut, by that time
// limit from its first byte to its empty line.
//
// While it waits it dispatches the thread's messages (see TTessalink), so a
// handler, the component's own events included, may call Abort or Cancel; it
// must not start another command on the same component.
class TKvHTTP : public TTessalink {
public:
    // Redirects followed by one command before it gives up.
    static constexpr int MaxRedirects = 20;
    // Longest response header line accepted, line end included.
    static constexpr int32_t MaxHeaderLine = 65536;
    // Longest response header accepted: status line, header lines and the
    // empty line.
    static constexpr int32_t MaxHeaderSize = 1024 * 1024;
    static constexpr int64_t Unlimited = -1;

    explicit TKvHTTP(TComponent* AOwner = nullptr);
    ~TKvHTTP() override;

    // Ends the wait in progress: the command raises once its wait notices.
    void Abort() override;

    virtual void Options(std::string URL);
    virtual void Get(std::string URL);
    virtual void Post(std::string URL, std::string Data);
    virtual void Put(std::string URL, std::string Data);
    virtual void Head(std::string URL);
    virtual void Patch(std::string URL, std::string Data);
    virtual void Delete(std::string URL);
    virtual void Trace(std::string URL, std::string Data);
    virtual void Copy(std::string URL, std::string UriValue);
    virtual void Move(std::string URL, std::string UriValue);
    virtual void Link(std::string URL, std::string LinkValue);
    virtual void Unlink(std::string URL, std::string LinkValue);
    virtual void Wrapped(std::string URL, std::string Data);
    virtual void PostStream(std::string URL, TStream* Stream);

    // Published.
    std::string Body { "Default.htm" };
    std::string Header { "Head.txt" };
    THeaderInfo HeaderInfo;
    bool InputFileMode { false };
    bool OutputFileMode { false };
    // The most body bytes a response may bring, or Unlimited. A larger
    // response ends the command with "Response too large".
    int64_t MaxBodySize { Unlimited };
    // The slowest response accepted: fewer than MinRateBytes bytes arriving
    // in a MinRatePeriod (milliseconds) counted from the response wait on
    // ends the command with "Timed out: transfer below the minimum rate".
    // TimeOut bounds each silence; this bounds a server that drips. 0 bytes:
    // no minimum.
    int32_t MinRateBytes { 0 };
    int32_t MinRatePeriod { 30000 };
    TNotifyEvent OnAboutToSend;
    TResultEvent OnSuccess;
    TResultEvent OnFailure;
    THandlerEvent OnRedirect;
    TNotifyEvent OnAuthenticationNeeded;

    // What the last command worked on; they stay after the call.
    const std::string& CurrentURL() const { return m_currentURL; }
    CmdType Command() const { return m_command; }
    const std::string& RequestTarget() const { return m_requestTarget; }
    const TExStringList& SendHeader() const { return m_sendHeader; }
    const std::string& Location() const { return m_location; }
    const std::string& CookieIn() const { return m_cookieIn; }
    const std::string& SendData() const { return m_sendData; }
    const std::string& UriValue() const { return m_uriValue; }
    TStream* DataStream() const { return m_dataStream; }
    // The parts of CurrentURL as the last pass used them.
    const TURLParts& URLParts() const { return m_url; }

protected:
    virtual void ExecuteCommand();
    virtual void ComposeRequest();
    virtual void ReadResponseHeader();
    virtual void SendRequest();
    // With Proxy set, an https URL asks the proxy for a tunnel to Host and
    // Port (CONNECT, HTTP/1.0) before TLS runs end to end through it.
    void OpenTunnel() override;

private:
    void Run(CmdType command, std::string url);
    void RunPass();
    // After a pass that failed: closes the connection and marks a time-out
    // of this component's own limits; raises the minimum rate's error in
    // place of the one it caused.
    void EndFailedPass();
    void ParseCurrentURL();
    void AwaitResponse();
    // The next line of the response head, within the head's operation.
    void ReadHeaderLine(TOperation& head, std::string& line);
    void ReceiveBody();
    void ReserveBody(int64_t announced);
    void CaptureBodyFile(int64_t count);
    void Decide();
    void CloseConnection();
    bool FollowRedirect();
    bool Follows() const;
    // Sends bytes whole, zero bytes included.
    void SendWhole(const std::string& bytes);
    // Appends the value of the Host line: Host, and ":port" for a port
    // other than the scheme's default.
    void AppendHostValue(std::string& out) const;
    // Scheme, host and port of the pass in progress, for scoping what a
    // server set: a cookie from an https page never goes to http.
    std::string Origin() const;
    // Response bytes of the pass so far, for the minimum rate.
    uint32_t PassBytes() const;
    void CheckRate();
    void HeaderTimeUp();
    std::string EncodedCredentials(const std::string& user, const std::string& password);
    int64_t RequestBodySize();
    bool HasRequestBody() const;

    std::string m_requestTarget;
    TExStringList m_sendHeader;
    std::string m_location;
    std::string m_cookieIn;
    std::string m_sendData;
    TStream* m_dataStream { nullptr };
    std::string m_uriValue;
    std::string m_currentURL;
    CmdType m_command { CmdGET };
    // The announced Content-Length is in SendTotal; this says whether one
    // valid value was announced at all.
    bool m_lengthAnnounced { false };
    // Bytes of the response header taken so far in this pass.
    int32_t m_headerBytes { 0 };
    // Each line of the response header in turn, kept for its memory.
    std::string m_headerLine;
    // Where ComposeRequest makes each line, and SendRequest the whole head,
    // kept for their memory.
    std::string m_headLine;
    std::string m_requestHead;

    // A received cookie, as copied into HeaderInfo.Cookie, and the origin
    // that set it: while HeaderInfo.Cookie still holds it, it goes there only.
    std::string m_receivedCookie;
    std::string m_cookieOrigin;
    // The same for credentials taken from a URL, scoped by host.
    std::string m_urlUser;
    std::string m_urlPassword;
    std::string m_credentialsHost;

    // The whole-header time limit; TTessalink's own timer restarts with
    // every line.
    std::unique_ptr<TThreadTimer> m_headerTimer;
    bool m_headerTimeUp { false };
    // Samples PassBytes every MinRatePeriod while a response comes in.
    std::unique_ptr<TThreadTimer> m_rateTimer;
    uint32_t m_rateMark { 0 };
    bool m_rateTooLow { false };

    TURLParts m_url;
    // The port of the URL's scheme when it names none.
    int m_defaultPort { 80 };
};
