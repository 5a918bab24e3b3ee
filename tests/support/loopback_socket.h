#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The socket and file calls under the loopback test server, one file per platform (POSIX
// sockets, Winsock). Any thread; each socket and file is used by one thread at a time, apart
// from ShutdownSocket.

using SocketId = std::intptr_t;
constexpr SocketId kNoSocket = -1;

// A TCP socket on 127.0.0.1 at an ephemeral port, listening when listening is set (otherwise
// bound only, so that connections to it are refused); kNoSocket on failure.
SocketId BindLoopback(uint16_t& port, bool listening);
// Waits until socket has something to read (a connection, for a listening one) or timeoutMs
// passes (-1: no limit); false on time-out or failure.
bool WaitReadable(SocketId socket, int timeoutMs);
// The next connection, its small writes sent at once; kNoSocket on failure.
SocketId AcceptConnection(SocketId listener);
// Connects to 127.0.0.1:port and hangs up: wakes a thread waiting to accept there.
void KnockOnLoopback(uint16_t port);
// Up to size bytes; 0 when the peer closed, negative on failure.
long ReceiveSome(SocketId socket, char* data, size_t size);
bool SendAll(SocketId socket, const char* data, size_t size);
// Whether the peer has closed its end or the connection broke; never waits.
bool PeerGone(SocketId socket);
void ShutdownSocket(SocketId socket);
void CloseSocket(SocketId socket);
// A peer that hangs up mid-send fails the send rather than ending the process (this thread).
void IgnoreBrokenPipes();

// A regular file to serve, read-only. Used by one thread.
class ServedFile {
 public:
  ServedFile() = default;
  ~ServedFile();
  ServedFile(const ServedFile&) = delete;
  ServedFile& operator=(const ServedFile&) = delete;

  // False when path is no regular file that can be read.
  bool Open(const std::string& path);
  uint64_t size() const { return size_; }
  // Sends [offset, offset + length) to socket.
  bool SendRange(SocketId socket, uint64_t offset, size_t length);
  // Copies [offset, offset + length) into out.
  bool Read(uint64_t offset, size_t length, std::string& out);

 private:
  std::intptr_t handle_ = -1;
  uint64_t size_ = 0;
};
