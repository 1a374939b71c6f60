// Moving application data over an established connection. Received bytes
// reach InputBuffer through the read notifications; the operations here take
// them out, and wait (dispatching messages) when too few are there.
#include "net/Tslink.h"

#include "net/ERangeError.h"
#include "net/TslinkOperation.h"
#include "toolkit/runtime/TFileStream.h"
#include "toolkit/runtime/TMemoryStream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>

namespace {
constexpr int32_t ChunkSize = 65536;
constexpr const char* SendAborted = "Socket send aborted";
constexpr const char* CaptureAborted = "Socket capture aborted";

// A capture into a string whose caller reserved megabytes for it (a body of
// announced length) writes into memory the kernel has not handed out yet,
// which it then faults in 4 KiB at a time. Asking for huge pages lets it come
// 2 MiB at a time. Only a hint: where it is refused nothing changes.
void AdviseHugePages(std::string& text) {
    constexpr std::size_t huge = std::size_t { 2 } << 20;
    char* const data = text.data();
    const std::size_t misalignment = reinterpret_cast<std::uintptr_t>(data) % huge;
    const std::size_t skip = misalignment == 0 ? 0 : huge - misalignment;
    if (text.capacity() < skip + 2 * huge)
        return;
    ::madvise(data + skip, (text.capacity() - skip) / huge * huge, MADV_HUGEPAGE);
}

// Every negative count but CaptureBuffered captures until the close.
bool UntilClose(int32_t count) {
    return count < CaptureBuffered;
}

// Counters are 32-bit by contract; a transfer past 2 GiB wraps them instead
// of overflowing.
int32_t AddCount(int32_t counter, int32_t amount) {
    return static_cast<int32_t>(static_cast<uint32_t>(counter) + static_cast<uint32_t>(amount));
}
} // namespace

bool TTessalink::EndedByError() const {
    return !Connected && (m_closeErrorNo != 0 || !m_closeErrorText.empty());
}

void TTessalink::CheckOrderlyClose() {
    CheckReceiveFailure();
    if (!EndedByError())
        return;
    LastErrorNo = m_closeErrorNo;
    RaiseSocketError(m_closeErrorNo);
}

void TTessalink::CheckReceiveFailure() {
    if (EndedByError() && m_closeErrorNo == 0)
        throw ESockError(TSockFailure::ReceiveBuffer, m_closeErrorText);
}

void TTessalink::CheckSendError() {
    // The socket that replaced a lost connection was never connected; what
    // it says about a send would hide why the connection is gone.
    if (Winsock::WSAGetLastError() != Winsock::WSAEWOULDBLOCK)
        CheckOrderlyClose();
    CheckSocketError(Winsock::WSAEWOULDBLOCK);
}

void TTessalink::WaitUntilWritable(TOperation& operation) {
    if ((m_selectedEvents & Winsock::FD_WRITE) == 0) {
        // A renewed socket does not hear write notifications. Add them and
        // let the caller send again at once: if that send would block too,
        // the platform notifies as soon as there is room.
        m_selectedEvents |= Winsock::FD_WRITE;
        Winsock::WSAAsyncSelect(SocketHandle, EventWindow(), SocketEventMessage, m_selectedEvents);
        return;
    }
    m_waitingToSend = true;
    operation.Wait();
    m_waitingToSend = false;
}

void TTessalink::SendBuffer(const void* data, uint16_t length) {
    // A send that the socket takes at once never arms the limit.
    TOperation operation(*this, TOperation::TLimit::Deferred, StatusLevel::Socket,
                         "Sending Buffer");
    if (!Canceled) {
        const char* bytes = static_cast<const char*>(data);
        int32_t total = length;
        if (total == 0) {
            const std::size_t textLength = strnlen(bytes, 65536);
            if (textLength > 65535)
                throw ERangeError();
            total = static_cast<int32_t>(textLength);
        }
        int32_t remaining = total;
        while (remaining > 0 && !Canceled && !TimedOut) {
            const int sent = SendFrom(bytes + (total - remaining), remaining);
            if (sent == 0)
                break;
            if (sent > 0) {
                remaining -= sent;
                continue;
            }
            operation.BeforeHandlers();
            CheckSendError();
            // The socket is full: sleep until it drains instead of
            // spinning, so that Cancel and the time limit reach us.
            WaitUntilWritable(operation);
        }
    }
    operation.Finish(SendAborted);
}

void TTessalink::Write(const std::string& text) {
    ReportStatus(StatusLevel::Detail, "Write");
    if (text.size() <= 65535) {
        std::memcpy(m_ioBuffer.data(), text.data(), text.size());
        m_ioBuffer[text.size()] = '\0';
        SendBuffer(m_ioBuffer.data(), 0);
        return;
    }
    TStringStream stream(text);
    SendStream(stream);
}

void TTessalink::Writeln(const std::string& text) {
    ReportStatus(StatusLevel::Detail, "Writeln");
    Write(text + "\r\n");
}

std::string TTessalink::ReadLn(int32_t maxLength) {
    std::string result;
    ReadLnInto(result, maxLength);
    return result;
}

void TTessalink::ReadLnInto(std::string& line, int32_t maxLength) {
    line.clear();
    // A response head is read a line at a time, mostly from the buffer.
    if (TOperation::TakeQuietly(*this, [&] { return TakeBufferedLine(line, maxLength); }))
        return;
    // Armed only once the line is not simply there: looking into the buffer
    // runs nothing that the limit could bound.
    TOperation operation(*this, TOperation::TLimit::Deferred, StatusLevel::Detail, "ReadLn");
    if (Canceled || !TakeBufferedLine(line, maxLength))
        WaitForLine(operation, line, maxLength);
    operation.Finish("Socket readln aborted");
}

bool TTessalink::TakeBufferedLine(std::string& line, int32_t maxLength) {
    const TKvFifoBuffer::TData head = InputBuffer->DataHead();
    if (head.Length <= 0)
        return false;
    const void* end = std::memchr(head.Data, '\n', static_cast<std::size_t>(head.Length));
    if (end == nullptr)
        return false;
    auto take = static_cast<int32_t>(static_cast<const char*>(end) - head.Data + 1);
    if (maxLength >= 0 && take > maxLength)
        take = maxLength + 1;
    line.assign(head.Data, static_cast<std::size_t>(take));
    InputBuffer->Drop(take);
    return true;
}

void TTessalink::WaitForLine(TOperation& operation, std::string& line, int32_t maxLength) {
    int32_t found = 0;
    // Bytes from the head already searched in vain: nothing is taken out
    // during the wait, so each wake searches only what arrived since.
    int32_t searched = 0;
    bool takeAll = false;
    while (!TimedOut && !Canceled) {
        // DataAvailable of an empty buffer reads the socket, which may
        // close it and tell the user.
        const bool buffered = InputBuffer->Count() > 0;
        if (!buffered)
            operation.BeforeHandlers();
        if (buffered || DataAvailable()) {
            // Every byte counts: a zero byte inside a line must not hide
            // its line end, or the line would never be returned.
            found = InputBuffer->FindByte('\n', searched);
            if (found > 0)
                break;
            searched = InputBuffer->Count();
        }
        operation.BeforeHandlers();
        // A bounded line that has outgrown its bound needs no more bytes.
        if (maxLength >= 0 && InputBuffer->Count() > maxLength) {
            takeAll = true;
            break;
        }
        // No notification will come for a closed connection: what is
        // buffered is all there will ever be. After an orderly close that
        // is the last line; a reset or error cut it, which is raised
        // instead (the bytes stay buffered).
        if (!Connected) {
            CheckOrderlyClose();
            takeAll = true;
            break;
        }
        operation.Wait();
    }
    int32_t take = found > 0 ? found : takeAll ? InputBuffer->Count() : 0;
    if (maxLength >= 0 && take > maxLength)
        take = maxLength + 1;
    if (take > 0) {
        line.resize(static_cast<std::size_t>(take));
        line.resize(static_cast<std::size_t>(InputBuffer->Extract(line.data(), take)));
    }
}

std::string TTessalink::Transaction(const std::string& command) {
    ReportStatus(StatusLevel::Detail, "Transaction");
    ReplyCode = 0;
    Writeln(command);
    LastReply = ReadLn();
    if (!LastReply.empty()) {
        ReportStatus(StatusLevel::Reply, LastReply);
        std::size_t digits = 0;
        while (digits < 10 && digits < LastReply.size() && LastReply[digits] >= '0' &&
               LastReply[digits] <= '9')
            ++digits;
        if (digits > 0) {
            const long long code = std::stoll(LastReply.substr(0, digits));
            // A code that does not fit the 16-bit field is no code at all.
            ReplyCode = code <= 32767 ? static_cast<int16_t>(code) : 0;
        }
    }
    return LastReply;
}

bool TTessalink::SendChunk(TOperation& operation, int32_t length) {
    int32_t remaining = length;
    do {
        const int sent = SendFrom(m_ioBuffer.data() + (length - remaining), remaining);
        if (sent == 0)
            return false;
        if (sent > 0) {
            remaining -= sent;
            SentCount = AddCount(SentCount, sent);
            if (OnPacketSent)
                OnPacketSent(this);
            operation.Restart();
            operation.Dispatch();
        } else {
            CheckSendError();
            WaitUntilWritable(operation);
        }
    } while (remaining > 0 && !Canceled);
    return true;
}

void TTessalink::SendFile(const std::string& fileName) {
    ReportStatus(StatusLevel::Detail, "SendFile");
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    // The time limit is armed by the first block that moves and bounds the
    // silence between blocks.
    TOperation operation(*this, TOperation::TLimit::Restarted);
    const int64_t size = file.Size();
    while (file.Position() != size && !Canceled) {
        const int32_t length = file.Read(m_ioBuffer.data(), ChunkSize);
        if (length <= 0)
            break; // the file shrank under us
        SendChunk(operation, length);
    }
    operation.Finish(SendAborted);
}

void TTessalink::SendStream(TStream& stream) {
    ReportStatus(StatusLevel::Detail, "SendStream");
    stream.SetPosition(0);
    // The time limit bounds the silence between blocks, as in SendFile.
    TOperation operation(*this, TOperation::TLimit::Restarted);
    if (!Canceled) {
        const int64_t size = stream.Size();
        SentCount = 0;
        SendTotal = static_cast<int32_t>(size);
        while (stream.Position() != size && !Canceled) {
            const auto wanted =
                static_cast<int32_t>(std::min<int64_t>(size - stream.Position(), ChunkSize));
            const int32_t length = stream.Read(m_ioBuffer.data(), wanted);
            if (length <= 0)
                break;
            if (!SendChunk(operation, length))
                return;
        }
    }
    operation.Finish(SendAborted);
}

void TTessalink::CaptureFile(const std::string& fileName) {
    ReportStatus(StatusLevel::Detail, "CaptureFile");
    TFileStream file(fileName, fmCreate);
    CaptureStream(file, CaptureUntilClose);
}

void TTessalink::CaptureStream(TStream& stream, int32_t count) {
    ReportStatus(StatusLevel::Detail, "Capture Stream");
    ReceivedCount = 0;
    TOperation operation(*this, TOperation::TLimit::Armed);
    while (!Canceled) {
        // A wanted size that is already reached needs no more bytes.
        while (!DataAvailable() && !Canceled && Connected && count != CaptureBuffered &&
               !(count >= 0 && stream.Size() >= count))
            operation.Wait();
        int32_t wanted = std::min(InputBuffer->Count(), ChunkSize);
        // With a wanted size, a pass never takes more than is missing.
        if (count >= 0)
            wanted = static_cast<int32_t>(std::clamp<int64_t>(count - stream.Size(), 0, wanted));
        const int32_t taken = InputBuffer->Extract(m_ioBuffer.data(), wanted);
        stream.WriteBuffer(m_ioBuffer.data(), taken);
        ReceivedCount = AddCount(ReceivedCount, taken);
        if (OnPacketRecvd)
            OnPacketRecvd(this);
        operation.Restart();
        if (!Connected && InputBuffer->Count() == 0)
            break;
        if (count == CaptureBuffered || (count >= 0 && stream.Size() >= count))
            break;
    }
    operation.Finish(CaptureAborted);
    // Taken until the close: only an orderly close ends the data whole.
    if (UntilClose(count))
        CheckOrderlyClose();
}

int32_t TTessalink::TakeInto(std::string& text, int32_t length) {
    int32_t taken = 0;
    while (taken < length) {
        int32_t n = 0;
        const TKvFifoBuffer::TData head = InputBuffer->DataHead();
        if (head.Length > 0) {
            // Straight from the buffer's memory onto the end of the string:
            // one copy, and no zeros written first.
            n = std::min(head.Length, length - taken);
            text.append(head.Data, static_cast<std::size_t>(n));
            InputBuffer->Drop(n);
        } else {
            // The oldest bytes are in the spill file.
            const std::size_t before = text.size();
            text.resize(before + static_cast<std::size_t>(length - taken));
            n = InputBuffer->Extract(text.data() + before, length - taken);
            text.resize(before + static_cast<std::size_t>(n));
        }
        if (n == 0)
            break;
        taken += n;
    }
    return taken;
}

void TTessalink::CaptureString(std::string& text, int32_t count) {
    ReportStatus(StatusLevel::Detail, "Capture String");
    ReceivedCount = 0;
    text.clear();
    AdviseHugePages(text);
    // A body that is already buffered is taken without arming the limit;
    // the waits and the handler arm it.
    TOperation operation(*this, TOperation::TLimit::Deferred);
    while (!Canceled) {
        while (InputBuffer->Count() == 0 && !Canceled && Connected && count != CaptureBuffered &&
               !(count >= 0 && text.size() >= static_cast<std::size_t>(count)))
            operation.Wait();
        int64_t wanted = InputBuffer->Count();
        if (count >= 0)
            wanted = std::clamp<int64_t>(count - static_cast<int64_t>(text.size()), 0, wanted);
        if (wanted > 0) {
            ReceivedCount = AddCount(ReceivedCount, TakeInto(text, static_cast<int32_t>(wanted)));
            operation.Restart();
        }
        if (OnPacketRecvd) {
            operation.BeforeHandlers();
            OnPacketRecvd(this);
        }
        if (!Connected || count == CaptureBuffered ||
            (count >= 0 && text.size() >= static_cast<std::size_t>(count)))
            break;
    }
    operation.Finish(CaptureAborted);
    if (UntilClose(count))
        CheckOrderlyClose();
}

uint16_t TTessalink::Accept() {
    TOperation operation(*this, TOperation::TLimit::Armed, StatusLevel::Socket, "Accepting");
    while (!AsyncDone && !Canceled)
        operation.Wait();
    operation.Stop();
    if (Canceled)
        throw ESockError(operation.AbortKind(), "Accepting Canceled");
    if (!LastEventOk)
        throw ESockError(TSockFailure::Socket, "Error creating Data Connection");

    Winsock::sockaddr_in peer;
    int peerLength = sizeof peer;
    const Winsock::SOCKET accepted =
        Winsock::accept(SocketHandle, reinterpret_cast<Winsock::sockaddr*>(&peer), &peerLength);
    if (accepted == Winsock::INVALID_SOCKET) {
        const int errorNo = Winsock::WSAGetLastError();
        LastErrorNo = errorNo;
        RaiseSocketError(errorNo);
    }
    // Until it reaches the caller, who owns it from then on, the new socket
    // is closed with any failure rather than leaked.
    TSocketHandle owned(static_cast<uint16_t>(accepted));
    Winsock::WSAAsyncSelect(owned, EventWindow(), SocketEventMessage, Winsock::FD_ALL_EVENTS);
    RemoteAddress = peer;
    operation.Finish(SendAborted);
    return owned.Release();
}
