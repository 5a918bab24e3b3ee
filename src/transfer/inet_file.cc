#include "transfer/inet_file.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "transfer/transfer_error.h"
#include "transfer/transfer_timeouts.h"

namespace {

// The body is handed on in chunks of at most this many bytes; one progress message each.
constexpr size_t kChunkSize = 1024;
// Buffer of the output file: writes reach the disk in large blocks, not per chunk.
constexpr size_t kFileBufferSize = 256 * 1024;
// What libcurl reads from the socket at once (its default is 16 KiB).
constexpr long kReceiveBufferSize = 256 * 1024;

constexpr long kConnectTimeoutSeconds = 30;
constexpr long kLowSpeedBytesPerSecond = 1;
constexpr long kMaxRedirects = 10;

#ifdef CURL_WRITEFUNC_ERROR
constexpr size_t kRefuseBody = CURL_WRITEFUNC_ERROR;
#else
constexpr size_t kRefuseBody = 0;
#endif

struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct UrlCleanup {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct ListCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using ParsedUrl = std::unique_ptr<CURLU, UrlCleanup>;
using HeaderList = std::unique_ptr<curl_slist, ListCleanup>;

// The URL split into its parts when it is an http URL; null for any other scheme or text that
// is no URL. Spaces and bytes outside ASCII are percent-encoded, as a browser would send them.
ParsedUrl ParseHttpUrl(const std::string& text) {
  ParsedUrl url(curl_url());
  if (!url)
    throw std::bad_alloc();
  if (curl_url_set(url.get(), CURLUPART_URL, text.c_str(), CURLU_ALLOW_SPACE | CURLU_URLENCODE) !=
      CURLUE_OK) {
    return nullptr;
  }
  char* scheme = nullptr;
  if (curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK)
    return nullptr;
  bool http = std::strcmp(scheme, "http") == 0;
  curl_free(scheme);
  if (!http)
    return nullptr;
  return url;
}

// The value of a header line when it is the named header ("name:" in any case), trimmed.
bool HeaderValue(const char* line, size_t length, const char* name, std::string& value) {
  const size_t nameLength = std::strlen(name);
  if (length <= nameLength || strncasecmp(line, name, nameLength) != 0)
    return false;
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  size_t begin = nameLength;
  size_t end = length;
  while (begin < end && blank(line[begin]))
    ++begin;
  while (end > begin && blank(line[end - 1]))
    --end;
  value.assign(line + begin, end - begin);
  return true;
}

// Whether a Content-Encoding value names only codings that libcurl undoes and that we take
// (gzip and deflate); "identity" changes nothing. Sets encoded when any real coding is named.
bool KnownEncodings(const std::string& value, bool& encoded) {
  size_t begin = 0;
  while (begin <= value.size()) {
    size_t end = value.find(',', begin);
    if (end == std::string::npos)
      end = value.size();
    std::string token = value.substr(begin, end - begin);
    token.erase(0, token.find_first_not_of(" \t"));
    token.erase(token.find_last_not_of(" \t") + 1);
    if (strcasecmp(token.c_str(), "gzip") == 0 || strcasecmp(token.c_str(), "x-gzip") == 0 ||
        strcasecmp(token.c_str(), "deflate") == 0) {
      encoded = true;
    } else if (!token.empty() && strcasecmp(token.c_str(), "identity") != 0) {
      return false;
    }
    begin = end + 1;
  }
  return true;
}

// A Content-Length value as a number; false when it is none.
bool ParseLength(const std::string& text, uint64_t& length) {
  if (text.empty() || text.size() > 19 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  length = std::stoull(text);
  return true;
}

// One session: an easy handle with our request headers. It outlives a run: the handle keeps the
// run's connection open for the next run to the same server.
struct Session {
  HeaderList headers;  // declared first: outlives the handle that points at it
  EasyHandle easy;
};

// An option libcurl refuses (no memory, or a library without it) ends the run like any other
// failure of the HTTP layer.
void Require(CURLcode code) {
  if (code != CURLE_OK)
    throw std::runtime_error(curl_easy_strerror(code));
}

Session NewSession() {
  Session session;
  session.easy.reset(curl_easy_init());
  if (!session.easy)
    throw std::bad_alloc();
  // "Accept-Encoding:" with no value keeps libcurl's own header off the request: nothing invites
  // an encoding, yet a server that encodes anyway is decoded (see Configure).
  for (const char* header : {"Accept: */*", "User-Agent: Lodestar_Quorrin",
                             "Cache-Control: no-cache", "Pragma: no-cache", "Accept-Encoding:"}) {
    curl_slist* list = curl_slist_append(session.headers.get(), header);
    if (!list)
      throw std::bad_alloc();
    session.headers.release();
    session.headers.reset(list);
  }
  return session;
}

// The session a finished run left behind, handed to the next run so that consecutive transfers
// reuse its connection. Runs that overlap get sessions of their own; one is kept. Any thread.
class SessionPool {
 public:
  Session Take() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (kept_.easy)
        return std::move(kept_);
    }
    return NewSession();
  }

  void Keep(Session session) {
    Session dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!kept_.easy)
      kept_ = std::move(session);
    else
      dropped = std::move(session);
  }

  void Clear() {
    Session dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    dropped = std::move(kept_);
  }

 private:
  std::mutex mutex_;
  Session kept_;
};

// Never destroyed: a worker may still give a session back while the process winds down, and
// the HTTP layer's shutdown empties it (CloseKeptConnections).
SessionPool& Sessions() {
  static SessionPool* pool = new SessionPool;
  return *pool;
}

// Sets a session's handle up for a single uncached GET of an http URL, with our headers,
// time-outs and protocol limits; whatever an earlier run set is forgotten, its open connections
// are not.
void Configure(Session& session) {
  CURL* easy = session.easy.get();
  curl_easy_reset(easy);
  Require(curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L));
#if LIBCURL_VERSION_NUM >= 0x075500
  Require(curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http"));
  Require(curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http"));
#else
  Require(curl_easy_setopt(easy, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP)));
  Require(curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP)));
#endif
  Require(curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L));
  Require(curl_easy_setopt(easy, CURLOPT_HTTPHEADER, session.headers.get()));
  Require(curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L));
  Require(curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects));
  Require(curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds));
  Require(curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond));
  Require(curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, StallTimeoutSeconds()));
  Require(curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, ""));
  // A larger receive buffer is only a hint; libcurl may refuse it.
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
}

// One run's download: opens the output file once the final response is known to be a 200,
// writes the body chunk by chunk with a progress message each, and turns libcurl's outcome into
// a result code. Lives on the worker's stack; libcurl calls it back on the same thread.
class Download {
 public:
  Download(CInetFile& task, std::string outputPath)
      : task_(task), outputPath_(std::move(outputPath)) {}
  ~Download() {
    if (file_)
      std::fclose(file_);
  }
  Download(const Download&) = delete;
  Download& operator=(const Download&) = delete;

  // The whole transfer; returns TransferOk, ServerRefused, FileRequestFailed,
  // LocalFileCreateFailed or Cancelled (UrlParseFailed before any connection).
  int Perform() {
    ParsedUrl url = ParseHttpUrl(task_.url);
    if (!url)
      return UrlParseFailed;
    Session session = Sessions().Take();
    Configure(session);
    easy_ = session.easy.get();
    Require(curl_easy_setopt(easy_, CURLOPT_CURLU, url.get()));
    Require(curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Download::OnHeader));
    Require(curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this));
    Require(curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Download::OnBody));
    Require(curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this));
    Require(curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &Download::OnProgress));
    Require(curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this));
    Require(curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L));

    CURLcode performed = curl_easy_perform(easy_);
    int result = result_;
    if (result == TransferOk && performed != CURLE_OK) {
      result = performed == CURLE_ABORTED_BY_CALLBACK ? Cancelled : ServerRefused;
    }
    // Normally the end of the final headers settled the status; if it didn't, settle it now so a
    // 200 without body still creates its file and nothing else does.
    if (result == TransferOk && !Accept())
      result = result_;
    if (result == TransferOk && !LengthAccepted())
      result = ServerRefused;
    easy_ = nullptr;
    // Handed on with its connection (libcurl keeps one only when it can be reused), and without
    // the options that point at this run's objects.
    curl_easy_reset(session.easy.get());
    Sessions().Keep(std::move(session));

    if (file_) {
      // Every byte must be on disk before success is reported.
      bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
      bool closed = std::fclose(file_) == 0;
      file_ = nullptr;
      if (result == TransferOk && !(flushed && closed))
        result = LocalFileCreateFailed;
    }
    return result;
  }

 private:
  // Checks the status once the final response has its headers, and opens the output file for a
  // 200. False (with result_ set) when the run must end.
  bool Accept() {
    if (file_)
      return true;
    if (result_ != TransferOk)
      return false;
    long status = 0;
    if (curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200) {
      result_ = FileRequestFailed;
      return false;
    }
    // Nothing encoded in a way we can't undo is ever written; a body whose announced length
    // already contradicts the manifest is refused before its file is touched.
    if (!encodingKnown_ || (task_.sizeRequired && !encoded_ && lengthAnnounced_ &&
                            announcedLength_ != task_.expectedSize)) {
      result_ = ServerRefused;
      return false;
    }
    file_ = std::fopen(outputPath_.c_str(), "wbe");
    if (!file_) {
      result_ = LocalFileCreateFailed;
      return false;
    }
    std::setvbuf(file_, nullptr, _IOFBF, kFileBufferSize);
    received_ = 0;
    task_.bytesReceived.store(0, std::memory_order_relaxed);
    return true;
  }

  // Header lines of every response, interim and redirects included, then trailers.
  static size_t OnHeader(char* data, size_t size, size_t count, void* context) {
    auto* self = static_cast<Download*>(context);
    const size_t length = size * count;
    if (self->file_)
      return length;  // trailers after the body
    if (self->result_ != TransferOk)
      return 0;
    std::string value;
    if (length >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
      self->redirecting_ = false;
      self->encodingKnown_ = true;
      self->encoded_ = false;
      self->chunked_ = false;
      self->lengthAnnounced_ = false;
    } else if (HeaderValue(data, length, "content-encoding:", value)) {
      if (!KnownEncodings(value, self->encoded_))
        self->encodingKnown_ = false;
    } else if (HeaderValue(data, length, "transfer-encoding:", value)) {
      self->chunked_ = true;  // the length, if any, is not the body's
      self->lengthAnnounced_ = false;
    } else if (HeaderValue(data, length, "content-length:", value)) {
      if (!self->chunked_)
        self->lengthAnnounced_ = ParseLength(value, self->announcedLength_);
    } else if (length >= 1 && length <= 2 && (data[0] == '\r' || data[0] == '\n')) {
      // End of one response's headers: final unless interim (1xx) or a redirect to follow.
      long status = 0;
      curl_easy_getinfo(self->easy_, CURLINFO_RESPONSE_CODE, &status);
      if (status >= 100 && status < 200)
        return length;
      if (status >= 300 && status < 400 && self->redirecting_)
        return length;
      return self->Accept() ? length : 0;
    } else if (length > 9 && strncasecmp(data, "location:", 9) == 0) {
      for (size_t i = 9; i < length; ++i) {
        if (data[i] != ' ' && data[i] != '\t' && data[i] != '\r' && data[i] != '\n') {
          self->redirecting_ = true;
          break;
        }
      }
    }
    return length;
  }

  // Body bytes as libcurl hands them over (up to its buffer size at once).
  static size_t OnBody(char* data, size_t size, size_t count, void* context) {
    auto* self = static_cast<Download*>(context);
    const size_t length = size * count;
    try {
      return self->Write(data, length) ? length : kRefuseBody;
    } catch (...) {
      if (self->result_ == TransferOk)
        self->result_ = ServerRefused;
      return kRefuseBody;
    }
  }

  // The block goes to the file in one call; then each chunk of it is counted and reported as
  // written, with a look at the cancel flag after each.
  bool Write(const char* data, size_t length) {
    if (!Accept())
      return false;
    if (task_.sizeRequired && length > task_.expectedSize - received_) {
      result_ = ServerRefused;  // longer than the manifest says: not one byte more is written
      return false;
    }
    if (std::fwrite(data, 1, length, file_) != length) {
      result_ = LocalFileCreateFailed;
      return false;
    }
    CInetFile& task = task_;
    MessageTarget* window = task.notifyWindow;
    while (length > 0) {
      const size_t chunk = std::min(length, kChunkSize);
      length -= chunk;
      received_ += chunk;
      task.bytesReceived.store(received_, std::memory_order_relaxed);
      if (window) {
        window->Post(WM_TRANSFER_PROGRESS,
                     MakeTransferWParam(task.kind, static_cast<uint32_t>(chunk)), &task);
      }
      if (task.cancel.load(std::memory_order_relaxed)) {
        result_ = Cancelled;
        return false;
      }
    }
    return true;
  }

  // A file must arrive at exactly the length its manifest gives when that is required, and
  // otherwise at least at a length announced: a body that announced no length ends when the
  // connection does, so a connection dropped early would otherwise pass for success.
  bool LengthAccepted() const {
    if (task_.sizeRequired)
      return received_ == task_.expectedSize;
    return task_.kind != KindFile || received_ >= task_.expectedSize;
  }

  // Called at least once a second, also while connecting or while the server is silent, so a
  // cancel is seen without waiting for data.
  static int OnProgress(void* context, curl_off_t downloadTotal, curl_off_t downloaded, curl_off_t,
                        curl_off_t) {
    auto* self = static_cast<Download*>(context);
    if (!self->task_.cancel.load(std::memory_order_relaxed))
      return 0;
    // The whole announced body is in: let the run end as the success it is.
    if (self->file_ && downloadTotal > 0 && downloaded >= downloadTotal)
      return 0;
    if (self->result_ == TransferOk)
      self->result_ = Cancelled;
    return 1;
  }

  CInetFile& task_;
  const std::string outputPath_;
  CURL* easy_ = nullptr;
  FILE* file_ = nullptr;
  uint64_t received_ = 0;
  bool redirecting_ = false;  // the current response names a Location to follow
  // What the current response's headers said about its body.
  bool encodingKnown_ = true;  // no coding but gzip, deflate or identity named
  bool encoded_ = false;       // gzip or deflate named: libcurl decodes
  bool chunked_ = false;
  bool lengthAnnounced_ = false;
  uint64_t announcedLength_ = 0;
  int result_ = TransferOk;  // the first failure a callback saw
};

}  // namespace

CInetFile::CInetFile() : errorText(ErrorTextFor(TransferOk)) {}

CInetFile::~CInetFile() {
  cancel = true;
  Join();
}

bool CInetFile::StartTransfer() {
  ++startCount;
  Join();
  cancel = false;
  return Start();
}

void CInetFile::RaiseError(int code) {
  errorText = ErrorTextFor(code);
  throw CInetFileException(code);
}

void CloseKeptConnections() {
  Sessions().Clear();
}

void CInetFile::Run() {
  int result = TransferOk;
  try {
    std::string outputPath = localPath;
    if (kind == KindFile)
      outputPath += ".update";
    result = Download(*this, std::move(outputPath)).Perform();
    if (result == UrlParseFailed || result == FileRequestFailed ||
        result == LocalFileCreateFailed) {
      RaiseError(result);
    }
  } catch (const CInetFileException& e) {
    result = e.code;
  } catch (...) {
    result = ServerRefused;
  }
  // The session and the file are released by now; this is the run's last act on the task.
  if (notifyWindow) {
    try {
      notifyWindow->Post(WM_TRANSFER_DONE, MakeTransferWParam(kind, static_cast<uint32_t>(result)),
                         this);
    } catch (...) {
      // Nothing is left to tell it with.
    }
  }
}
