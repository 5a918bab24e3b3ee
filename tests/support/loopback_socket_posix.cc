#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/loopback_socket.h"

namespace {

int Fd(SocketId socket) {
  return static_cast<int>(socket);
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
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return kNoSocket;
  }
  int yes = 1;
  if (listening) {
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  }
  sockaddr_in address = LoopbackAddress(0);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (listening && ::listen(fd, 64) != 0) ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    return kNoSocket;
  }
  port = ntohs(address.sin_port);
  return fd;
}

bool WaitReadable(SocketId socket, int timeoutMs) {
  pollfd ready = {Fd(socket), POLLIN, 0};
  int count;
  while ((count = ::poll(&ready, 1, timeoutMs)) < 0 && errno == EINTR) {
  }
  return count > 0;
}

SocketId AcceptConnection(SocketId listener) {
  const int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) {
    return kNoSocket;
  }
  // A head and a body sent apart must not wait for the client's delayed acknowledgement.
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

void KnockOnLoopback(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return;
  }
  sockaddr_in address = LoopbackAddress(port);
  ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::close(fd);
}

long ReceiveSome(SocketId socket, char* data, size_t size) {
  ssize_t got;
  while ((got = ::recv(Fd(socket), data, size, 0)) < 0 && errno == EINTR) {
  }
  return static_cast<long>(got);
}

bool SendAll(SocketId socket, const char* data, size_t size) {
  while (size > 0) {
    ssize_t sent = ::send(Fd(socket), data, size, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

bool PeerGone(SocketId socket) {
  char probe;
  ssize_t got = ::recv(Fd(socket), &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

void ShutdownSocket(SocketId socket) {
  ::shutdown(Fd(socket), SHUT_RDWR);
}

void CloseSocket(SocketId socket) {
  ::close(Fd(socket));
}

void IgnoreBrokenPipes() {
  // sendfile has no MSG_NOSIGNAL: a client that hangs up mid-body must give EPIPE, not kill the
  // test. Blocked in this thread only, so programs the test starts keep the default.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

ServedFile::~ServedFile() {
  if (handle_ >= 0) {
    ::close(static_cast<int>(handle_));
  }
}

bool ServedFile::Open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  handle_ = fd;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  size_ = static_cast<uint64_t>(info.st_size);
  return true;
}

bool ServedFile::SendRange(SocketId socket, uint64_t offset, size_t length) {
  off_t position = static_cast<off_t>(offset);
  while (length > 0) {
    ssize_t sent = ::sendfile(Fd(socket), static_cast<int>(handle_), &position, length);
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent <= 0) {
      return false;
    }
    length -= static_cast<size_t>(sent);
  }
  return true;
}

bool ServedFile::Read(uint64_t offset, size_t length, std::string& out) {
  out.resize(length);
  size_t done = 0;
  while (done < length) {
    ssize_t got = ::pread(static_cast<int>(handle_), &out[done], length - done,
                          static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return false;
    }
    done += static_cast<size_t>(got);
  }
  return true;
}
