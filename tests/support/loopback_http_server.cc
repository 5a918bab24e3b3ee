#include "support/loopback_http_server.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>

std::string CompressedRepeats(const std::string& unit, uint64_t count, bool gzip) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, gzip ? 31 : 15, 8,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out;
  char piece[64 * 1024];
  int result = Z_OK;
  // The last round finishes; running out of input (Z_BUF_ERROR) is no failure.
  for (uint64_t i = 0; i <= count && (result == Z_OK || result == Z_BUF_ERROR); ++i) {
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(unit.data()));
    stream.avail_in = i < count ? static_cast<uInt>(unit.size()) : 0;
    do {
      stream.next_out = reinterpret_cast<Bytef*>(piece);
      stream.avail_out = sizeof piece;
      result = deflate(&stream, i < count ? Z_NO_FLUSH : Z_FINISH);
      out.append(piece, sizeof piece - stream.avail_out);
    } while (stream.avail_out == 0);
  }
  deflateEnd(&stream);
  if (result != Z_STREAM_END) {
    throw std::runtime_error("deflate did not finish");
  }
  return out;
}

std::string CompressedBody(const std::string& body, bool gzip) {
  return CompressedRepeats(body, 1, gzip);
}

namespace {

// Appends what the peer sends next to buffer; false once the connection is closed or broken, or
// the server stops. Waits in slices: shutting a socket down does not end a receive blocked on it
// everywhere (Wine).
bool ReceiveMore(SocketId socket, std::string& buffer, const std::atomic<bool>& stopping) {
  while (!WaitReadable(socket, 100)) {
    if (stopping) {
      return false;
    }
  }
  char chunk[4096];
  const long got = ReceiveSome(socket, chunk, sizeof chunk);
  if (got <= 0) {
    return false;
  }
  buffer.append(chunk, static_cast<size_t>(got));
  return true;
}

constexpr size_t kMaxHead = 64 * 1024;
constexpr size_t kSendPiece = 64 * 1024;

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) {
    return "";
  }
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int high = HexValue(text[i + 1]);
      int low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

// The path of a request target: the absolute form loses scheme and authority, then the query.
std::string TargetPath(const std::string& target) {
  std::string rest = target;
  size_t scheme = rest.find("://");
  if (scheme != std::string::npos && rest.compare(0, 1, "/") != 0) {
    size_t slash = rest.find('/', scheme + 3);
    rest = slash == std::string::npos ? "/" : rest.substr(slash);
  }
  size_t query = rest.find_first_of("?#");
  if (query != std::string::npos) {
    rest.erase(query);
  }
  return PercentDecode(rest);
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 203:
      return "Non-Authoritative Information";
    case 204:
      return "No Content";
    case 206:
      return "Partial Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

bool SendText(SocketId socket, const std::string& text) {
  return SendAll(socket, text.data(), text.size());
}

// Where a response's body comes from: the route's bytes or a served file.
class BodySource {
 public:
  explicit BodySource(const std::string* text) : text_(text) {}

  // Opens a regular file; false when there is none.
  bool OpenFile(const std::string& path) { return file_.Open(path); }

  size_t Size() const { return text_ ? text_->size() : static_cast<size_t>(file_.size()); }

  // Sends [offset, offset + length) plain.
  bool SendRange(SocketId socket, size_t offset, size_t length) {
    if (text_) {
      return SendAll(socket, text_->data() + offset, length);
    }
    return file_.SendRange(socket, offset, length);
  }

  // Copies [offset, offset + length) into out.
  bool Read(size_t offset, size_t length, std::string& out) {
    if (text_) {
      out.assign(*text_, offset, length);
      return true;
    }
    return file_.Read(offset, length, out);
  }

 private:
  const std::string* text_;
  ServedFile file_;
};

}  // namespace

std::string LoopbackHttpServer::Request::Header(const std::string& name) const {
  for (const auto& header : headers) {
    if (EqualsNoCase(header.first, name)) {
      return header.second;
    }
  }
  return "";
}

bool LoopbackHttpServer::Request::HasHeader(const std::string& name) const {
  for (const auto& header : headers) {
    if (EqualsNoCase(header.first, name)) {
      return true;
    }
  }
  return false;
}

LoopbackHttpServer::LoopbackHttpServer() {
  listener_ = BindLoopback(port_, true);
  if (listener_ == kNoSocket) {
    throw std::runtime_error("test server: cannot listen on 127.0.0.1");
  }
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  Stop();
}

std::string LoopbackHttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackHttpServer::SetResponse(const std::string& path, Response response) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_[path] = Route{std::make_shared<const Response>(std::move(response)), nullptr};
}

void LoopbackHttpServer::SetBody(const std::string& path, std::string body) {
  Response response;
  response.body = std::move(body);
  SetResponse(path, std::move(response));
}

void LoopbackHttpServer::SetStatus(const std::string& path, int status, std::string body) {
  Response response;
  response.status = status;
  response.body = std::move(body);
  SetResponse(path, std::move(response));
}

void LoopbackHttpServer::SetRedirect(const std::string& path, const std::string& location,
                                     int status) {
  Response response;
  response.status = status;
  response.headers.emplace_back("Location", location);
  response.body = "moved";
  SetResponse(path, std::move(response));
}

void LoopbackHttpServer::SetChunked(const std::string& path, std::string body, size_t chunkSize) {
  Response response;
  response.body = std::move(body);
  response.chunked = true;
  response.chunkSize = chunkSize;
  SetResponse(path, std::move(response));
}

void LoopbackHttpServer::SetCutShort(const std::string& path, std::string body, size_t sentBytes) {
  Response response;
  response.body = std::move(body);
  response.sendOnly = sentBytes;
  SetResponse(path, std::move(response));
}

void LoopbackHttpServer::SetStalled(const std::string& path, std::string body, size_t sentBytes) {
  Response response;
  response.body = std::move(body);
  response.stallAfter = sentBytes;
  SetResponse(path, std::move(response));
}

void LoopbackHttpServer::SetHook(const std::string& path, Hook hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_[path] = Route{nullptr, std::move(hook)};
}

void LoopbackHttpServer::SetFallbackHook(Hook hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  fallback_ = std::move(hook);
}

void LoopbackHttpServer::ServeDirectory(const std::string& urlPrefix, const std::string& root) {
  std::string prefix = urlPrefix;
  while (!prefix.empty() && prefix.back() == '/') {
    prefix.pop_back();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  directories_.emplace_back(prefix, root);
}

void LoopbackHttpServer::ClearRoutes() {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_.clear();
  directories_.clear();
  fallback_ = nullptr;
}

void LoopbackHttpServer::ReleaseStalls() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++releaseGeneration_;
  }
  changed_.notify_all();
}

bool LoopbackHttpServer::WaitForStalls(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return stalls_ >= count; });
}

bool LoopbackHttpServer::WaitForRequests(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

std::vector<LoopbackHttpServer::Request> LoopbackHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

size_t LoopbackHttpServer::RequestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.size();
}

size_t LoopbackHttpServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

void LoopbackHttpServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) {
      return;
    }
    stopped_ = true;
  }
  stopping_ = true;
  KnockOnLoopback(port_);  // wakes the accepting thread
  if (acceptThread_.joinable()) {
    acceptThread_.join();
  }

  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (SocketId socket : openSockets_) {
      ShutdownSocket(socket);
    }
    threads.swap(connectionThreads_);
  }
  changed_.notify_all();
  for (auto& thread : threads) {
    thread.join();
  }
  CloseSocket(listener_);
}

uint16_t LoopbackHttpServer::UnusedPort() {
  // Bound but never listening, and never closed: connections are refused, and no other process
  // (tests run in parallel) can take the port while this one lives.
  uint16_t port = 0;
  BindLoopback(port, false);
  return port;
}

void LoopbackHttpServer::AcceptLoop() {
  while (!stopping_) {
    if (!WaitReadable(listener_, -1) || stopping_) {
      continue;
    }
    const SocketId socket = AcceptConnection(listener_);
    if (socket == kNoSocket) {
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++connections_;
    openSockets_.push_back(socket);
    connectionThreads_.emplace_back([this, socket] { Serve(socket); });
  }
}

void LoopbackHttpServer::RecordRequest(const Request& request) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
  }
  changed_.notify_all();
}

uint64_t LoopbackHttpServer::NoteStall() {
  uint64_t generation;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    generation = releaseGeneration_;
    ++stalls_;
  }
  changed_.notify_all();
  return generation;
}

bool LoopbackHttpServer::StallWait(SocketId socket, uint64_t generation) {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (changed_.wait_for(lock, std::chrono::milliseconds(20),
                            [&] { return stopping_.load() || releaseGeneration_ != generation; })) {
        return !stopping_.load();
      }
    }
    // A client that gave up closes its end; stop waiting for it then.
    if (PeerGone(socket)) {
      return false;
    }
  }
}

std::shared_ptr<const LoopbackHttpServer::Response> LoopbackHttpServer::Answer(
    const Request& request) {
  Hook hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto route = routes_.find(request.path);
    if (route != routes_.end()) {
      if (route->second.response) {
        return route->second.response;
      }
      hook = route->second.hook;
    } else {
      for (const auto& directory : directories_) {
        const std::string& prefix = directory.first;
        if (request.path.compare(0, prefix.size(), prefix) != 0 ||
            request.path.size() <= prefix.size() + 1 || request.path[prefix.size()] != '/') {
          continue;
        }
        std::string relative = request.path.substr(prefix.size() + 1);
        if (("/" + relative + "/").find("/../") != std::string::npos) {
          break;
        }
        auto response = std::make_shared<Response>();
        response->file = directory.second + "/" + relative;
        response->ranges = true;
        return response;
      }
      hook = fallback_;
    }
  }
  if (hook) {
    try {
      return std::make_shared<const Response>(hook(request));
    } catch (const std::exception& failure) {
      auto failed = std::make_shared<Response>();
      failed->status = 500;
      failed->body = std::string("hook failed: ") + failure.what();
      return failed;
    }
  }
  auto missing = std::make_shared<Response>();
  missing->status = 404;
  missing->body = "not found";
  return missing;
}

void LoopbackHttpServer::Serve(SocketId connection) {
  IgnoreBrokenPipes();
  std::string buffer;
  bool open = true;
  while (open && !stopping_) {
    size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (buffer.size() > kMaxHead) {
        open = false;
        break;
      }
      if (!ReceiveMore(connection, buffer, stopping_)) {
        open = false;
        break;
      }
    }
    if (!open) {
      break;
    }

    std::string head = buffer.substr(0, headEnd);
    buffer.erase(0, headEnd + 4);
    Request request;
    size_t lineEnd = head.find("\r\n");
    std::string requestLine = head.substr(0, lineEnd);
    size_t first = requestLine.find(' ');
    size_t last = requestLine.rfind(' ');
    if (first == std::string::npos || last == first) {
      SendText(connection,
               "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
      break;
    }
    request.method = requestLine.substr(0, first);
    request.target = requestLine.substr(first + 1, last - first - 1);
    request.version = requestLine.substr(last + 1);
    request.path = TargetPath(request.target);
    while (lineEnd != std::string::npos) {
      size_t start = lineEnd + 2;
      lineEnd = head.find("\r\n", start);
      std::string line =
          head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
      size_t colon = line.find(':');
      if (colon == std::string::npos) {
        continue;
      }
      request.headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
    }

    // A request body is read and dropped.
    size_t bodyLength = 0;
    std::string lengthText = request.Header("Content-Length");
    if (!lengthText.empty()) {
      bodyLength = std::strtoul(lengthText.c_str(), nullptr, 10);
    }
    while (buffer.size() < bodyLength) {
      if (!ReceiveMore(connection, buffer, stopping_)) {
        open = false;
        break;
      }
    }
    if (!open) {
      break;
    }
    buffer.erase(0, bodyLength);

    RecordRequest(request);
    std::string connectionHeader = request.Header("Connection");
    bool keepAlive = request.version == "HTTP/1.1" ? !EqualsNoCase(connectionHeader, "close")
                                                   : EqualsNoCase(connectionHeader, "keep-alive");
    std::shared_ptr<const Response> response = Answer(request);
    open = Send(connection, request, *response, keepAlive);
  }

  {
    std::lock_guard<std::mutex> lock(mutex_);
    openSockets_.erase(std::remove(openSockets_.begin(), openSockets_.end(), connection),
                       openSockets_.end());
  }
  CloseSocket(connection);
}

bool LoopbackHttpServer::Send(SocketId connection, const Request& request, const Response& response,
                              bool keepAlive) {
  if (response.stallBeforeHeaders && !StallWait(connection, NoteStall())) {
    return false;
  }

  int status = response.status;
  BodySource source(response.file.empty() ? &response.body : nullptr);
  static const std::string kMissing = "not found";
  BodySource missing(&kMissing);
  BodySource* body = &source;
  if (!response.file.empty() && !source.OpenFile(response.file)) {
    status = 404;
    body = &missing;
  }

  // The first body byte sent: N of a range request that the response honours.
  size_t base = 0;
  const std::string range = request.Header("Range");
  if (response.ranges && status == 200 && range.rfind("bytes=", 0) == 0 && range.back() == '-' &&
      range.find_first_not_of("0123456789", 6) == range.size() - 1 && range.size() > 7) {
    const size_t first = std::strtoull(range.c_str() + 6, nullptr, 10);
    if (first < body->Size()) {
      base = first;
      status = 206;
    }
  }
  const size_t size = body->Size() - base;
  const bool endless = response.endless && size > 0;
  const size_t limit = endless ? SIZE_MAX : std::min(size, response.sendOnly);
  const bool closeAfter = response.close || !keepAlive || response.noContentLength ||
                          limit < size || response.badChunkHeader;

  std::string head = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
  if (response.chunked) {
    head += "Transfer-Encoding: chunked\r\n";
  } else if (!response.noContentLength && !endless) {
    head += "Content-Length: " + std::to_string(size) + "\r\n";
  }
  bool hasType = false;
  for (const auto& header : response.headers) {
    hasType |= EqualsNoCase(header.first, "Content-Type");
  }
  if (!hasType) {
    head += "Content-Type: application/octet-stream\r\n";
  }
  if (status == 206) {
    head += "Content-Range: bytes " + std::to_string(base) + "-" +
            std::to_string(body->Size() - 1) + "/" + std::to_string(body->Size()) + "\r\n";
  }
  head += closeAfter ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
  for (const auto& header : response.headers) {
    head += header.first + ": " + header.second + "\r\n";
  }
  head += "\r\n";
  if (request.method == "HEAD" || status == 204 || status == 304) {
    return SendText(connection, head) && !closeAfter;
  }
  // A small plain answer goes out in one piece, so a client reads head and body at once.
  if (response.file.empty() && !response.chunked && response.stallAfter == SIZE_MAX &&
      limit == size && size <= kSendPiece && response.trickle.count() == 0) {
    return SendText(connection, head + response.body.substr(base)) && !closeAfter;
  }
  if (!SendText(connection, head)) {
    return false;
  }

  std::string piece;
  size_t offset = 0;
  bool stalled = false;
  bool firstChunk = true;
  while (offset < limit) {
    if (!stalled && offset >= response.stallAfter) {
      stalled = true;
      if (!StallWait(connection, NoteStall())) {
        return false;
      }
    }
    if (response.trickle.count() > 0 && offset > 0) {
      std::this_thread::sleep_for(response.trickle);
      if (stopping_ || PeerGone(connection)) {
        return false;
      }
    }
    // Where in the body the piece starts: an endless body starts over after its end.
    const size_t at = base + (endless ? offset % size : offset);
    size_t length = endless ? base + size - at : limit - offset;
    if (response.chunked) {
      length = std::min(length, std::max<size_t>(response.chunkSize, 1));
    }
    length = std::min(length, response.trickle.count() > 0 ? size_t{1} : kSendPiece);
    if (!stalled && offset < response.stallAfter) {
      length = std::min(length, response.stallAfter - offset);
    }
    if (response.chunked) {
      if (!body->Read(at, length, piece)) {
        return false;
      }
      char line[32];
      std::snprintf(line, sizeof line, "%zx\r\n", length);
      if (!SendText(connection, std::string(line) + piece + "\r\n")) {
        return false;
      }
      if (firstChunk && response.badChunkHeader) {
        SendText(connection, "zz-not-hex\r\n");
        return false;
      }
      firstChunk = false;
    } else if (!body->SendRange(connection, at, length)) {
      return false;
    }
    offset += length;
  }
  if (!stalled && response.stallAfter != SIZE_MAX && offset >= response.stallAfter) {
    // The stall point is the end of what is sent: wait there too.
    if (!StallWait(connection, NoteStall())) {
      return false;
    }
  }
  if (limit < size) {
    return false;
  }
  if (response.chunked && !SendText(connection, "0\r\n\r\n")) {
    return false;
  }
  return !closeAfter;
}
