#pragma once

#include <cstddef>
#include <cstdint>

// The POSIX socket calls the library makes, kept in a file of their own:
// Winsock.h gives names such as SOL_SOCKET and SO_LINGER their socket-library
// values, so POSIX constants are only spelled where that header is not seen.
// Every call returns -1 with errno set on failure, like the calls it wraps.
// Addresses and ports are in network byte order.
namespace Posix {

enum class Option { ReuseAddress, KeepAlive, SendBuffer, ReceiveBuffer, NoDelay, Error, Type };

// An IPv4 stream socket, close-on-exec and non-blocking: the library's
// blocking mode waits in user space (WaitUntilReady), so that registering a
// socket for notifications needs no call to switch its mode.
int OpenStreamSocket();
int Connect(int descriptor, std::uint32_t address, std::uint16_t port);
// Returns a socket whose connection attempt failed to the unconnected state,
// so that it can connect again (connect with AF_UNSPEC).
int Dissolve(int descriptor);
int Bind(int descriptor, std::uint32_t address, std::uint16_t port);
int Listen(int descriptor, int backlog);
// Never waits; the new socket is non-blocking and close-on-exec.
int Accept(int descriptor, std::uint32_t* address, std::uint16_t* port);
// Never raises SIGPIPE.
long Send(int descriptor, const void* data, std::size_t length, bool urgent);
long Receive(int descriptor, void* data, std::size_t length, bool peek, bool urgent);
// Peeks one byte without waiting: 1, 0 at end of stream, or -1.
long PeekByte(int descriptor);
// Whether urgent (out-of-band) data waits, without waiting.
bool HasUrgentData(int descriptor);
int Shutdown(int descriptor, int how);
int SetOption(int descriptor, Option option, int value);
int GetOption(int descriptor, Option option, int* value);
int SetLinger(int descriptor, bool on, int seconds);
int GetLinger(int descriptor, bool* on, int* seconds);
int LocalAddress(int descriptor, std::uint32_t* address, std::uint16_t* port);
int PeerAddress(int descriptor, std::uint32_t* address, std::uint16_t* port);
bool IsListening(int descriptor);
// The error of a finished non-blocking connect (0 when it succeeded).
int PendingError(int descriptor);
// Waits without a time limit until the socket can be read (or accepted
// from) or written, or has an error or a hang-up to tell; a signal does not
// end the wait. 0, or -1 with errno set.
int WaitUntilReady(int descriptor, bool writing);
// Waits for a connect to the address that returned EINPROGRESS to end, as a
// blocking connect does: 0 when connected, else the error, with the socket
// unconnected again (so that it may connect again).
int FinishConnect(int descriptor, std::uint32_t address, std::uint16_t port);

} // namespace Posix
