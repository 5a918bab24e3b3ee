#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/loopback_socket.h"

// The bytes of body as a response with "Content-Encoding: gzip" (gzip true) or "deflate" (the
// zlib format) carries them.
std::string CompressedBody(const std::string& body, bool gzip);
// The same for unit repeated count times, compressed as a stream without the whole ever in memory:
// a bomb, when unit is zeros (they shrink about a thousandfold).
std::string CompressedRepeats(const std::string& unit, uint64_t count, bool gzip);

// A small HTTP/1.1 server on 127.0.0.1 (ephemeral port) for tests: the test sets what each path
// answers, the server records every request and can misbehave on purpose (short bodies, broken
// chunking, stalls). Its own threads serve; every public operation may be called from any thread.
class LoopbackHttpServer {
 public:
  using Headers = std::vector<std::pair<std::string, std::string>>;

  // One request as the server read it.
  struct Request {
    std::string method;
    std::string target;  // as on the request line (absolute form when sent to a proxy)
    std::string path;    // the target's path, without query, percent-decoded
    std::string version;
    Headers headers;  // in the order sent

    // The first header of that name (any case); "" when absent.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
  };

  // What to answer. The defaults give "200 OK", Content-Length and an empty body.
  struct Response {
    int status = 200;
    Headers headers;   // sent after the server's own (Content-Length or Transfer-Encoding)
    std::string body;  // exact bytes
    std::string file;  // when set, the body is this file's contents (404 if it can't be opened)
    bool chunked = false;
    size_t chunkSize = 1000;
    bool badChunkHeader = false;   // chunked: after the first chunk, a chunk line that is not hex
    bool noContentLength = false;  // body ends when the connection closes
    size_t sendOnly = SIZE_MAX;    // send only this many body bytes, then close the connection
    bool stallBeforeHeaders = false;  // stall before sending anything
    size_t stallAfter = SIZE_MAX;  // stall after this many body bytes; the rest follows on release
    bool close = false;            // close the connection after this response
    // A "Range: bytes=N-" request with N inside the body gets "206 Partial Content" and the body
    // from N on (sendOnly and stallAfter then count from N). Directories are served with it.
    bool ranges = false;
    // The body is sent again and again without end, until the client goes away or the server
    // stops; no length is announced (chunked when chunked is set, else the connection closes).
    bool endless = false;
    // The body goes one byte at a time, this long apart: slow, yet never stalled.
    std::chrono::milliseconds trickle{0};
  };

  // Computes the answer to one request; runs on a server thread. A hook that throws answers 500.
  using Hook = std::function<Response(const Request&)>;

  LoopbackHttpServer();
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>" + path.
  std::string Url(const std::string& path) const;

  void SetResponse(const std::string& path, Response response);
  void SetBody(const std::string& path, std::string body);
  void SetStatus(const std::string& path, int status, std::string body = "");
  void SetRedirect(const std::string& path, const std::string& location, int status = 302);
  void SetChunked(const std::string& path, std::string body, size_t chunkSize);
  // Announces the whole body's length, sends sentBytes of it, then closes.
  void SetCutShort(const std::string& path, std::string body, size_t sentBytes);
  // Sends the headers and sentBytes of the body, then waits until ReleaseStalls or Stop.
  void SetStalled(const std::string& path, std::string body, size_t sentBytes);
  void SetHook(const std::string& path, Hook hook);
  // Answers every path without a route of its own.
  void SetFallbackHook(Hook hook);
  // Serves urlPrefix + "/" + relative path from root + "/" + relative path.
  void ServeDirectory(const std::string& urlPrefix, const std::string& root);
  void ClearRoutes();

  // Lets every stalled response go on (with the rest of its body).
  void ReleaseStalls();
  // Waits until count responses in all have reached their stall point.
  bool WaitForStalls(size_t count, std::chrono::milliseconds timeout);
  bool WaitForRequests(size_t count, std::chrono::milliseconds timeout);

  std::vector<Request> Requests() const;
  size_t RequestCount() const;
  // Connections accepted so far (keep-alive reuse shows as fewer connections than requests).
  size_t ConnectionCount() const;

  // Stops accepting, drops every connection and joins the server's threads. Idempotent.
  void Stop();

  // A loopback port that refuses connections for the rest of the process (it stays bound, never
  // listening).
  static uint16_t UnusedPort();

 private:
  struct Route {
    std::shared_ptr<const Response> response;
    Hook hook;
  };
  void AcceptLoop();
  void Serve(SocketId socket);
  // Sends one response; false when the connection must close afterwards.
  bool Send(SocketId socket, const Request& request, const Response& response, bool keepAlive);
  std::shared_ptr<const Response> Answer(const Request& request);
  void RecordRequest(const Request& request);
  // Counts a stall and returns the release generation to wait past.
  uint64_t NoteStall();
  // Waits for a release; false when the server stops or the client goes away first.
  bool StallWait(SocketId socket, uint64_t generation);

  SocketId listener_ = kNoSocket;
  uint16_t port_ = 0;
  std::thread acceptThread_;
  std::atomic<bool> stopping_{false};

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, Route> routes_;
  std::vector<std::pair<std::string, std::string>> directories_;
  Hook fallback_;
  std::vector<Request> requests_;
  std::vector<std::thread> connectionThreads_;
  std::vector<SocketId> openSockets_;
  size_t connections_ = 0;
  size_t stalls_ = 0;
  uint64_t releaseGeneration_ = 0;
  bool stopped_ = false;
};
