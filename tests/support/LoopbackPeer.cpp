#include "tests/support/LoopbackPeer.h"

LoopbackPeer::LoopbackPeer() {}
LoopbackPeer::~LoopbackPeer() {}
LoopbackPeer& LoopbackPeer::Accept() { return *this; }
LoopbackPeer& LoopbackPeer::Expect(std::string) { return *this; }
LoopbackPeer& LoopbackPeer::ReadUntil(std::string) { return *this; }
LoopbackPeer& LoopbackPeer::ReadBytes(std::size_t) { return *this; }
LoopbackPeer& LoopbackPeer::ReadToEnd() { return *this; }
LoopbackPeer& LoopbackPeer::Send(std::string) { return *this; }
LoopbackPeer& LoopbackPeer::SendInPieces(std::string, unsigned, std::size_t, std::chrono::milliseconds) { return *this; }
LoopbackPeer& LoopbackPeer::Pause(std::chrono::milliseconds) { return *this; }
LoopbackPeer& LoopbackPeer::WaitForRelease() { return *this; }
LoopbackPeer& LoopbackPeer::Stall() { return *this; }
LoopbackPeer& LoopbackPeer::Run(std::function<void()>) { return *this; }
LoopbackPeer& LoopbackPeer::Close() { return *this; }
LoopbackPeer& LoopbackPeer::Reset() { return *this; }
LoopbackPeer& LoopbackPeer::SetReceiveBuffer(int) { return *this; }
void LoopbackPeer::Start() {}
void LoopbackPeer::Release() {}
void LoopbackPeer::Stop() {}
bool LoopbackPeer::WaitDone(std::chrono::milliseconds) { return false; }
bool LoopbackPeer::WaitReceived(std::size_t, std::chrono::milliseconds) { return false; }
std::string LoopbackPeer::Received() const { return {}; }
std::string LoopbackPeer::Failure() const { return {}; }
int LoopbackPeer::AcceptedCount() const { return 0; }
std::uint16_t LoopbackPeer::UnusedPort() { return 0; }
