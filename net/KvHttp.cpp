#include "net/KvHttp.h"

#include "net/HttpWire.h"
#include "net/KvUUE.h"
#include "net/Swallow.h"
#include "net/THeadWriter.h"
#include "net/TslinkOperation.h"
#include "net/URLParse.h"
#include "toolkit/runtime/TFileStream.h"
#include "toolkit/runtime/TMemoryStream.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>
#include <strings.h>

using namespace HttpWire;

namespace {

const char* const kAcceptFirst =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff";
const char* const kAcceptSecond =
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript";
const char* const kContentType = "Content-type: application/x-www-form-urlencoded";

const char* const kTooManyRedirects = "Too many redirects";
const char* const kLineTooLong = "Response header line too long";
const char* const kHeaderTooLarge = "Response header too large";
const char* const kHeaderCut = "Connection closed before the whole header arrived";
const char* const kRateTooLow = "Timed out: transfer below the minimum rate";

// Header bytes taken between two dispatches of the thread's messages while a
// header streams in faster than it is read: no line waits then, and the
// time limit and the stop button would otherwise go unheard.
constexpr int32_t kHeaderDispatchStep = 16 * 1024;

const char* MethodWord(CmdType command) {
    switch (command) {
    case CmdGET:
        return "GET ";
    case CmdOPTIONS:
        return "OPTIONS ";
    case CmdHEAD:
        return "HEAD ";
    case CmdPOST:
        return "POST ";
    case CmdPUT:
        return "PUT ";
    case CmdPATCH:
        return "PATCH ";
    case CmdCOPY:
        return "COPY ";
    case CmdMOVE:
        return "MOVE ";
    case CmdDELETE:
        return "DELETE ";
    case CmdLINK:
        return "LINK ";
    case CmdUNLINK:
        return "UNLINK ";
    case CmdTRACE:
        return "TRACE ";
    case CmdWRAPPED:
        return "";
    case cmdPOSTS:
        return "POST ";
    }
    return "";
}

} // namespace

TKvHTTP::TKvHTTP(TComponent* AOwner) : TTessalink(AOwner) {
    ProxyPort = 8080;
    m_headerTimer = std::make_unique<TThreadTimer>(this);
    m_headerTimer->SetEnabled(false);
    m_headerTimer->SetOnTimer([this](TComponent*) { HeaderTimeUp(); });
    m_rateTimer = std::make_unique<TThreadTimer>(this);
    m_rateTimer->SetEnabled(false);
    m_rateTimer->SetOnTimer([this](TComponent*) { CheckRate(); });
}

TKvHTTP::~TKvHTTP() {
    // Our Abort must run while this object is still whole.
    BeginDestroy();
}

void TKvHTTP::Abort() {
    AsyncDone = true;
    Cancel();
}

void TKvHTTP::Run(CmdType command, std::string url) {
    m_currentURL = std::move(url);
    m_command = command;
    ExecuteCommand();
}

void TKvHTTP::Options(std::string URL) {
    Run(CmdOPTIONS, std::move(URL));
}
void TKvHTTP::Get(std::string URL) {
    Run(CmdGET, std::move(URL));
}
void TKvHTTP::Head(std::string URL) {
    Run(CmdHEAD, std::move(URL));
}
void TKvHTTP::Delete(std::string URL) {
    Run(CmdDELETE, std::move(URL));
}

void TKvHTTP::Post(std::string URL, std::string Data) {
    m_sendData = std::move(Data);
    Run(CmdPOST, std::move(URL));
}

void TKvHTTP::Put(std::string URL, std::string Data) {
    m_sendData = std::move(Data);
    Run(CmdPUT, std::move(URL));
}

void TKvHTTP::Patch(std::string URL, std::string Data) {
    m_sendData = std::move(Data);
    Run(CmdPATCH, std::move(URL));
}

void TKvHTTP::Trace(std::string URL, std::string Data) {
    m_sendData = std::move(Data);
    Run(CmdTRACE, std::move(URL));
}

void TKvHTTP::Wrapped(std::string URL, std::string Data) {
    m_sendData = std::move(Data);
    Run(CmdWRAPPED, std::move(URL));
}

void TKvHTTP::Copy(std::string URL, std::string UriValue) {
    m_uriValue = std::move(UriValue);
    Run(CmdCOPY, std::move(URL));
}

void TKvHTTP::Move(std::string URL, std::string UriValue) {
    m_uriValue = std::move(UriValue);
    Run(CmdMOVE, std::move(URL));
}

void TKvHTTP::Link(std::string URL, std::string LinkValue) {
    m_uriValue = std::move(LinkValue);
    m_sendData = "Send.dat";
    Run(CmdLINK, std::move(URL));
}

void TKvHTTP::Unlink(std::string URL, std::string LinkValue) {
    m_uriValue = std::move(LinkValue);
    m_sendData = "Send.dat";
    Run(CmdUNLINK, std::move(URL));
}

void TKvHTTP::PostStream(std::string URL, TStream* Stream) {
    m_dataStream = Stream;
    Run(cmdPOSTS, std::move(URL));
}

void TKvHTTP::ParseCurrentURL() {
    ParseURL(m_currentURL, m_url);
    if (!m_url.User.empty() || !m_url.Password.empty()) {
        HeaderInfo.UserId = m_url.User;
        HeaderInfo.Password = m_url.Password;
        m_urlUser = m_url.User;
        m_urlPassword = m_url.Password;
        m_credentialsHost = LowerAscii(m_url.Host);
    }
    // The port written in the URL is the server's port; without one the
    // scheme's default applies.
    const int written = PortOfPortPart(m_url.PortPart);
    m_defaultPort = DefaultPortNumber(m_url.Scheme);
    Port = written != 0 ? written : m_defaultPort;
    Host = m_url.Host;
    UseTls = ::strcasecmp(m_url.Scheme.c_str(), "https:") == 0;
}

void TKvHTTP::ExecuteCommand() {
    int redirects = 0;
    for (;;) {
        m_rateTooLow = false;
        m_headerTimeUp = false;
        ParseCurrentURL();
        ComposeRequest();
        if (OnAboutToSend)
            OnAboutToSend(this);
        try {
            Connect();
            SendRequest();
            RunPass();
            Decide();
        } catch (ESockError& error) {
            EndFailedPass();
            // The wait that the whole head's limit ended may have raised its
            // abort as a cancel (see EndFailedPass): it timed out.
            if (m_headerTimeUp)
                error.Kind = TSockFailure::TimedOut;
            throw;
        } catch (...) {
            EndFailedPass();
            throw;
        }
        CloseConnection();
        if (!FollowRedirect())
            return;
        if (++redirects > MaxRedirects)
            throw ESockError(TSockFailure::TooManyRedirects, kTooManyRedirects);
    }
}

void TKvHTTP::EndFailedPass() {
    // The command's own error is what the caller must see; a failure while
    // closing after it would only hide it.
    Swallow([this] { CloseConnection(); });
    // Both limits of this component end a wait as the time limit does; a
    // later start of the time limit may have cleared TimedOut, which callers
    // read to tell a time-out.
    if (m_rateTooLow || m_headerTimeUp)
        TimedOut = true;
    // The wait that the minimum rate ended raised its own abort; the reason
    // is the rate.
    if (m_rateTooLow)
        throw ESockError(TSockFailure::TimedOut, kRateTooLow);
}

// The response of one pass, from the wait for its first bytes to the end of
// its body, under the minimum rate when one is set.
void TKvHTTP::RunPass() {
    m_headerBytes = 0;
    ReceivedCount = 0;
    m_rateMark = 0;
    // Without a minimum rate, the pass is no operation of its own.
    std::optional<TOperation> pass;
    if (MinRateBytes > 0 && MinRatePeriod > 0) {
        pass.emplace(*this, TOperation::TLimit::None);
        pass->AddLimit(*m_rateTimer, static_cast<uint32_t>(MinRatePeriod), false);
    }
    AwaitResponse();
    char start[3] = {};
    if (InputBuffer->Peek(start, 3) == 3 && std::string(start, 3) == "HTT")
        ReadResponseHeader();
    else
        m_lengthAnnounced = false;
    ReceiveBody();
}

// Header bytes taken, then body bytes taken (the captures count them from 0),
// and what waits in the receive buffer. Modulo 2^32: a period would have to
// bring 4 GiB to fool the comparison.
uint32_t TKvHTTP::PassBytes() const {
    return static_cast<uint32_t>(m_headerBytes) + static_cast<uint32_t>(ReceivedCount) +
           static_cast<uint32_t>(InputBuffer->Count());
}

// Runs every MinRatePeriod during a pass; too few bytes since the last run
// end the wait in progress like the time limit does.
void TKvHTTP::CheckRate() {
    const uint32_t now = PassBytes();
    if (now - m_rateMark >= static_cast<uint32_t>(MinRateBytes)) {
        m_rateMark = now;
        return;
    }
    m_rateTimer->SetEnabled(false);
    m_rateTooLow = true;
    TimedOut = true;
    Abort();
}

void TKvHTTP::HeaderTimeUp() {
    m_headerTimer->SetEnabled(false);
    m_headerTimeUp = true;
    TimedOut = true;
    Abort();
}

void TKvHTTP::CloseConnection() {
    DontLingerOff();
    // Closes and renews the socket also when the server has already closed.
    Connected = true;
    Disconnect();
}

bool TKvHTTP::Follows() const {
    return IsFollowedRedirect(ReplyCode) && !m_location.empty();
}

std::string TKvHTTP::Origin() const {
    return LowerAscii(m_url.Scheme) + "//" + LowerAscii(Host) + ":" + std::to_string(Port);
}

// True when the command goes on with another pass.
bool TKvHTTP::FollowRedirect() {
    const bool redirect = Follows();
    if (redirect) {
        if (!m_cookieIn.empty()) {
            HeaderInfo.Cookie = m_cookieIn;
            m_receivedCookie = m_cookieIn;
            m_cookieOrigin = Origin();
        }
        bool handled = false;
        if (OnRedirect)
            OnRedirect(handled);
        if (handled)
            return false;
        m_command = CmdGET;
        if (m_currentURL.find("//") == std::string::npos) {
            // A location from the server's root keeps this pass's server;
            // any other relative one is completed from this pass's directory.
            if (!m_currentURL.empty() && m_currentURL[0] == '/')
                m_currentURL = m_url.Scheme + "//" + m_url.Host + m_url.PortPart + m_currentURL;
            else
                m_currentURL =
                    m_url.Scheme + "//" + m_url.Host + m_url.PortPart + m_url.Path + m_currentURL;
        }
    }
    if (ReplyCode == 401 && OnAuthenticationNeeded)
        OnAuthenticationNeeded(this);
    return redirect;
}

bool TKvHTTP::HasRequestBody() const {
    switch (m_command) {
    case CmdPOST:
    case CmdPUT:
    case CmdPATCH:
    case CmdTRACE:
    case CmdWRAPPED:
    case cmdPOSTS:
        return true;
    default:
        return false;
    }
}

int64_t TKvHTTP::RequestBodySize() {
    if (m_command == cmdPOSTS)
        return m_dataStream ? m_dataStream->Size() : 0;
    if (OutputFileMode) {
        TFileStream file(m_sendData, fmOpenRead | fmShareDenyNone);
        return file.Size();
    }
    return static_cast<int64_t>(m_sendData.size());
}

std::string TKvHTTP::EncodedCredentials(const std::string& user, const std::string& password) {
    TMemoryStream input(user + ":" + password);
    TMemoryStream output;
    auto processor = std::make_unique<TKvUUProcessor>(this);
    processor->InputStream = &input;
    processor->OutputStream = &output;
    processor->Method = uuMime;
    processor->Encode();
    // The encoder breaks its lines every 60 characters; a header value must
    // stay on one line whatever the length of the credentials.
    return WireText(output.DataString(), false);
}

void TKvHTTP::AppendHostValue(std::string& out) const {
    const size_t start = out.size();
    AppendWireText(out, Host, false);
    if (out.size() == start || Port == m_defaultPort)
        return;
    char digits[16];
    const auto [end, error] = std::to_chars(std::begin(digits), std::end(digits), Port);
    out.append(1, ':').append(digits, static_cast<size_t>(end - digits));
}

void TKvHTTP::ComposeRequest() {
    // Over the lines of the last request: no new memory once they have grown.
    THeadWriter head(m_sendHeader, m_headLine);
    const char* const method = MethodWord(m_command);
    // Through a proxy's tunnel the request goes to the server itself.
    if (!Proxy.empty() && !UseTls) {
        std::string& requestLine = head.Line();
        requestLine.append(method);
        AppendWireText(requestLine, m_currentURL, true);
        requestLine.append(" HTTP/1.0");
        head.Add();
        head.Add("Proxy-Connection: Keep-Alive");
        std::string& hostLine = head.Line();
        hostLine.append("Host: ");
        AppendHostValue(hostLine);
        head.Add();
    } else {
        // Part by part into the string of the last request: no copies of
        // the joined parts, and no new memory once it has grown.
        m_requestTarget.clear();
        for (const std::string* part :
             { &m_url.Path, &m_url.FileName, &m_url.Parameters, &m_url.Query, &m_url.Fragment })
            AppendWireText(m_requestTarget, *part, true);
        head.Line().append(method).append(m_requestTarget).append(" HTTP/1.0");
        head.Add();
    }
    AppendHostValue(head.HeaderLine("Host"));
    head.SetHeaderValue();
    head.Add(kAcceptFirst);
    head.Add(kAcceptSecond);
    // An empty value sends no line; a value that is all control bytes
    // sends none either and drops a line of that name written before.
    const auto setValue = [&head](const char* name, const std::string& value) {
        if (value.empty())
            return;
        AppendWireText(head.HeaderLine(name), value, false);
        head.SetHeaderValue();
    };
    setValue("User-Agent", HeaderInfo.LocalMailAddress);
    setValue("From", HeaderInfo.LocalProgram);
    // What a server set, and what a URL brought, stays with its origin.
    // Whose they are is asked only when there are any.
    const auto cookieHere = [this] {
        return HeaderInfo.Cookie != m_receivedCookie || m_cookieOrigin == Origin();
    };
    const auto credentialsHere = [this] {
        return HeaderInfo.UserId != m_urlUser || HeaderInfo.Password != m_urlPassword ||
               m_credentialsHost == LowerAscii(Host);
    };
    if (!HeaderInfo.Cookie.empty() && cookieHere())
        setValue("Cookie", HeaderInfo.Cookie);
    setValue("Referer", HeaderInfo.Referer);
    if (!HeaderInfo.UserId.empty() && !HeaderInfo.Password.empty() && credentialsHere())
        setValue("Authorization",
                 "Basic " + EncodedCredentials(HeaderInfo.UserId, HeaderInfo.Password));
    if (!UseTls && !HeaderInfo.ProxyUserId.empty() && !HeaderInfo.ProxyPassword.empty())
        setValue("Proxy-Authorization",
                 "Basic " + EncodedCredentials(HeaderInfo.ProxyUserId, HeaderInfo.ProxyPassword));
    head.Add(kContentType);
    if (m_command == CmdCOPY || m_command == CmdMOVE) {
        AppendWireText(head.Line().append("URI-header: "), m_uriValue, false);
        head.Add();
    } else if (m_command == CmdLINK || m_command == CmdUNLINK) {
        AppendWireText(head.Line().append("Link: "), m_uriValue, false);
        head.Add();
    }
    if (HasRequestBody()) {
        head.Line().append("Content-Length: ").append(std::to_string(RequestBodySize()));
        head.Add();
    }
}

void TKvHTTP::OpenTunnel() {
    ReportStatus(StatusLevel::Detail, "Opening Tunnel");
    const std::string target = WireText(Host, false) + ":" + std::to_string(Port);
    std::string request = "CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n";
    if (!HeaderInfo.ProxyUserId.empty() && !HeaderInfo.ProxyPassword.empty())
        request += "Proxy-Authorization: Basic " +
                   EncodedCredentials(HeaderInfo.ProxyUserId, HeaderInfo.ProxyPassword) + "\r\n";
    Writeln(request);
    int64_t headerSize = 0;
    // A line without its end: the proxy closed, or the line outgrew its
    // bound. The proxy's header is bounded by one header line in all.
    const auto nextLine = [this, &headerSize] {
        std::string line = ReadLn(MaxHeaderLine);
        headerSize += static_cast<int64_t>(line.size());
        if (line.empty() || line.back() != '\n' || headerSize > MaxHeaderLine)
            throw ESockError(TSockFailure::ProxyTunnel,
                             "Proxy tunnel failed: the proxy's answer is cut or too long");
        return std::string(WithoutLineEnd(line));
    };
    const std::string status = nextLine();
    const int16_t code = StatusCodeOf(status);
    // The rest of the proxy's header, up to its empty line, is its business.
    while (!nextLine().empty()) {
    }
    if (code < 200 || code > 299)
        throw ESockError(TSockFailure::ProxyTunnel, "Proxy tunnel failed: " + status);
    // The server speaks first only after the client's hello.
    if (InputBuffer->Count() != 0)
        throw ESockError(TSockFailure::ProxyTunnel,
                         "Proxy tunnel failed: the proxy sent bytes before the tunnel was open");
}

void TKvHTTP::SendRequest() {
    // The head and the empty line that ends it in one send: a server that
    // got them in two sends would wake for the first and find the head
    // unfinished, then wait for the second.
    m_requestHead.clear();
    m_sendHeader.AppendText(m_requestHead, 2);
    m_requestHead.append("\r\n");
    SendWhole(m_requestHead);
    if (!HasRequestBody())
        return;
    if (m_command == cmdPOSTS) {
        if (m_dataStream)
            SendStream(*m_dataStream);
    } else if (OutputFileMode) {
        SendFile(m_sendData);
    } else if (m_sendData.find('\0') == std::string::npos) {
        Write(m_sendData);
    } else {
        // A short string goes out only up to its first zero byte; a body
        // must arrive whole, as its Content-Length says.
        TStringStream body(m_sendData);
        SendStream(body);
    }
}

void TKvHTTP::SendWhole(const std::string& bytes) {
    if (bytes.empty())
        return;
    // Write would stop at a zero byte; a length always sends all of them.
    if (bytes.size() <= 65535) {
        SendBuffer(bytes.data(), static_cast<uint16_t>(bytes.size()));
        return;
    }
    TStringStream stream(bytes);
    SendStream(stream);
}

void TKvHTTP::AwaitResponse() {
    ReplyCode = 0;
    {
        TOperation response(*this, TOperation::TLimit::Armed);
        // Nothing more comes once the server has closed: one or two bytes
        // are then a response without a status line.
        while (InputBuffer->Count() < 3 && !Canceled && Connected)
            response.Wait();
    }
    // The time limit ends the wait through Abort, which cancels as well.
    if (TimedOut)
        throw ESockError(TSockFailure::TimedOut, "Timed out waiting for response");
    if (Canceled)
        throw ESockError(TSockFailure::Canceled, "Wait for response Cancelled");
    if (InputBuffer->Count() == 0)
        throw ESockError(TSockFailure::ClosedEarly, "Connection closed without response");
}

// A line that grows past MaxHeaderLine, or past what is left of
// MaxHeaderSize, without a line end fails as soon as it has, instead of
// filling the receive buffer.
void TKvHTTP::ReadHeaderLine(TOperation& head, std::string& line) {
    const int32_t room = std::min(MaxHeaderLine, MaxHeaderSize - m_headerBytes);
    ReadLnInto(line, room);
    if (line.size() > static_cast<size_t>(room))
        throw ESockError(TSockFailure::TooLarge,
                         room == MaxHeaderLine ? kLineTooLong : kHeaderTooLarge);
    const int32_t before = m_headerBytes;
    m_headerBytes += static_cast<int32_t>(line.size());
    if (before / kHeaderDispatchStep != m_headerBytes / kHeaderDispatchStep)
        head.Dispatch();
}

void TKvHTTP::ReadResponseHeader() {
    SendTotal = 0;
    m_lengthAnnounced = false;
    m_cookieIn.clear();
    m_location.clear();
    std::unique_ptr<TFileStream> file;
    if (InputFileMode)
        file = std::make_unique<TFileStream>(Header, fmCreate);
    else
        Header.clear();
    const auto store = [&](const std::string& line) {
        if (file)
            file->WriteBuffer(line.data(), static_cast<int32_t>(line.size()));
        else
            Header += line;
    };

    // The whole header, not each line, is bounded by the time limit: a
    // server that keeps sending lines must not hold the command. A head
    // that is buffered whole is read with nothing run that the limit could
    // end, so it is armed only by a wait, a handler or a dispatch; lines
    // that go to a file are written under it from the start.
    TOperation head(*this, TOperation::TLimit::None);
    if (TimeOut > 0)
        head.AddLimit(*m_headerTimer, static_cast<uint32_t>(TimeOut), file == nullptr);

    // One string for every line of every response: its memory serves them
    // all. ReadLn empties it first, so no line outlives its turn.
    std::string& line = m_headerLine;
    ReadHeaderLine(head, line);
    if (!line.empty())
        ReplyCode = StatusCodeOf(line);
    store(line);
    if (!EndsLine(line))
        throw ESockError(TSockFailure::ClosedEarly, kHeaderCut);
    for (;;) {
        ReadHeaderLine(head, line);
        if (!EndsLine(line)) {
            store(line);
            throw ESockError(TSockFailure::ClosedEarly, kHeaderCut);
        }
        const std::string_view name = FirstField(line);
        if (SameAsciiText(name, "SET-COOKIE:")) {
            const std::string value = From(WithoutLineEnd(line), 12);
            m_cookieIn = value.substr(0, value.find(';'));
        } else if (SameAsciiText(name, "LOCATION:")) {
            m_location = From(WithoutLineEnd(line), 10);
        } else if (SameAsciiText(name, "CONTENT-LENGTH:")) {
            const int64_t length = ContentLengthOf(line);
            m_lengthAnnounced = length >= 0;
            SendTotal = m_lengthAnnounced ? static_cast<int32_t>(length) : 0;
        }
        store(line);
        if (IsEmptyLine(line))
            break;
    }
}

void TKvHTTP::ReceiveBody() {
    // A reply to HEAD describes the body without sending it.
    const bool noBody = m_command == CmdHEAD && ReplyCode != 0;
    int64_t count = CaptureUntilClose;
    if (noBody)
        count = 0;
    else if (m_lengthAnnounced)
        count = SendTotal;
    if (MaxBodySize >= 0 && count > MaxBodySize)
        throw ESockError(TSockFailure::TooLarge, "Response too large");
    // Without an announced length, one byte over the bound tells a body
    // that is too large from one that just fits.
    const bool bounded = count == CaptureUntilClose && MaxBodySize >= 0;
    if (bounded)
        count = std::min<int64_t>(MaxBodySize + 1, std::numeric_limits<int32_t>::max());

    int64_t received = 0;
    if (InputFileMode) {
        CaptureBodyFile(count);
        received = ReceivedCount;
    } else if (count == 0) {
        Body.clear();
    } else {
        if (m_lengthAnnounced)
            ReserveBody(count);
        CaptureString(Body, static_cast<int32_t>(count));
        received = static_cast<int64_t>(Body.size());
    }
    if (bounded && received > MaxBodySize)
        throw ESockError(TSockFailure::TooLarge, "Response too large");
    // A bounded body without a length ended at the close, as an unbounded
    // one does: a reset there cuts the page short.
    if (bounded)
        CheckOrderlyClose();
    if (count >= 0 && !bounded && received < count) {
        // A receive buffer that could not keep the bytes cut the body, not
        // the server.
        CheckReceiveFailure();
        throw ESockError(TSockFailure::ClosedEarly,
                         "Connection closed before the whole body arrived");
    }
}

// Room for the whole announced body at once, so that a large body is not
// copied again each time the string outgrows its memory. The announcement is
// the server's word: without a bound on the body, no more than 256 MiB is
// taken ahead of the bytes, and beyond that the string grows as they come.
void TKvHTTP::ReserveBody(int64_t announced) {
    constexpr int64_t unboundedReserve = int64_t { 256 } << 20;
    const int64_t bound = MaxBodySize >= 0 ? MaxBodySize : unboundedReserve;
    Body.reserve(static_cast<size_t>(std::min(announced, bound)));
}

void TKvHTTP::CaptureBodyFile(int64_t count) {
    ReceivedCount = 0;
    if (count == CaptureUntilClose) {
        CaptureFile(Body);
        return;
    }
    TFileStream file(Body, fmCreate);
    if (count > 0)
        CaptureStream(file, static_cast<int32_t>(count));
}

void TKvHTTP::Decide() {
    if (ReplyCode < 300) {
        if (OnSuccess)
            OnSuccess(m_command);
        ReportStatus(StatusLevel::Completion, "Transaction Completed");
    } else if (ReplyCode >= 400) {
        if (OnFailure)
            OnFailure(m_command);
    } else if (Follows()) {
        m_currentURL = m_location;
    }
}
