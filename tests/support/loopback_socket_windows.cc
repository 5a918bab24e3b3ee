#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "platform/wide_text.h"
#include "support/loopback_socket.h"

namespace {

SOCKET Sock(SocketId socket) {
  return static_cast<SOCKET>(socket);
}

// Winsock is started once for the test process and left to its end.
bool SocketsReady() {
  static const bool ready = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

}  // namespace

SocketId BindLoopback(uint16_t& port, bool listening) {
  if (!SocketsReady()) {
    return kNoSocket;
  }
  const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket == INVALID_SOCKET) {
    return kNoSocket;
  }
  sockaddr_in address = LoopbackAddress(0);
  int length = sizeof address;
  if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (listening && ::listen(socket, 64) != 0) ||
      ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::closesocket(socket);
    return kNoSocket;
  }
  port = ntohs(address.sin_port);
  return static_cast<SocketId>(socket);
}

bool WaitReadable(SocketId socket, int timeoutMs) {
  WSAPOLLFD ready = {Sock(socket), POLLRDNORM, 0};
  return WSAPoll(&ready, 1, timeoutMs) > 0;
}

SocketId AcceptConnection(SocketId listener) {
  const SOCKET socket = ::accept(Sock(listener), nullptr, nullptr);
  if (socket == INVALID_SOCKET) {
    return kNoSocket;
  }
  // A head and a body sent apart must not wait for the client's delayed acknowledgement.
  BOOL on = TRUE;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  return static_cast<SocketId>(socket);
}

void KnockOnLoopback(uint16_t port) {
  const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket == INVALID_SOCKET) {
    return;
  }
  sockaddr_in address = LoopbackAddress(port);
  ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::closesocket(socket);
}

long ReceiveSome(SocketId socket, char* data, size_t size) {
  const int length = static_cast<int>(std::min<size_t>(size, 1 << 30));
  return ::recv(Sock(socket), data, length, 0);
}

bool SendAll(SocketId socket, const char* data, size_t size) {
  while (size > 0) {
    const int length = static_cast<int>(std::min<size_t>(size, 1 << 30));
    const int sent = ::send(Sock(socket), data, length, 0);
    if (sent <= 0) {
      return false;
    }
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

bool PeerGone(SocketId socket) {
  WSAPOLLFD ready = {Sock(socket), POLLRDNORM, 0};
  const int count = WSAPoll(&ready, 1, 0);
  if (count < 0) {
    return true;
  }
  if (count == 0) {
    return false;
  }
  if (ready.revents & (POLLERR | POLLHUP | POLLNVAL)) {
    return true;
  }
  char probe;
  return ::recv(Sock(socket), &probe, 1, MSG_PEEK) <= 0;
}

void ShutdownSocket(SocketId socket) {
  ::shutdown(Sock(socket), SD_BOTH);
}

void CloseSocket(SocketId socket) {
  ::closesocket(Sock(socket));
}

void IgnoreBrokenPipes() {
  // Windows raises no signal for a peer that hung up: the send fails.
}

ServedFile::~ServedFile() {
  if (handle_ != -1) {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
  }
}

bool ServedFile::Open(const std::string& path) {
  const HANDLE file = CreateFileW(ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  LARGE_INTEGER size;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
    return false;
  }
  size_ = static_cast<uint64_t>(size.QuadPart);
  return true;
}

bool ServedFile::SendRange(SocketId socket, uint64_t offset, size_t length) {
  // No sendfile here: read and send.
  std::string piece;
  while (length > 0) {
    const size_t part = std::min<size_t>(length, 64 * 1024);
    if (!Read(offset, part, piece) || !SendAll(socket, piece.data(), piece.size())) {
      return false;
    }
    offset += part;
    length -= part;
  }
  return true;
}

bool ServedFile::Read(uint64_t offset, size_t length, std::string& out) {
  out.resize(length);
  size_t done = 0;
  while (done < length) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>((offset + done) & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(length - done, 1 << 30));
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), &out[done], want, &got, &at) || got == 0) {
      return false;
    }
    done += got;
  }
  return true;
}
