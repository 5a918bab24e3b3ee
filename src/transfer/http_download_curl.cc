#include <curl/curl.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "transfer/body_receiver.h"
#include "transfer/http_download.h"
#include "transfer/response_headers.h"
#include "transfer/transfer_error.h"
#include "transfer/transfer_timeouts.h"
#include "transfer/trusted_roots.h"

namespace {

// What libcurl reads from the socket at once (its default is 16 KiB).
constexpr long kReceiveBufferSize = 256 * 1024;

constexpr long kConnectTimeoutSeconds = 30;
constexpr long kLowSpeedBytesPerSecond = 1;
constexpr long kMaxRedirects = 10;
// Sessions kept between runs at most: the most transfers that may run at once.
constexpr size_t kMaxKeptSessions = 16;

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

// The scheme of a split URL in lower case; "" when it has none.
std::string SchemeOf(CURLU* url) {
  char* scheme = nullptr;
  if (curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
    return "";
  }
  std::string text = scheme;
  curl_free(scheme);
  return text;
}

// text split into its parts, seen from base when it is relative (base may be null); null for text
// that is no URL. Spaces and bytes outside ASCII are percent-encoded, as a browser sends them.
ParsedUrl ParseUrl(const std::string& text, CURLU* base = nullptr) {
  ParsedUrl url(base ? curl_url_dup(base) : curl_url());
  if (!url) {
    throw std::bad_alloc();
  }
  if (curl_url_set(url.get(), CURLUPART_URL, text.c_str(), CURLU_ALLOW_SPACE | CURLU_URLENCODE) !=
      CURLUE_OK) {
    return nullptr;
  }
  return url;
}

// The URL split into its parts when it is an http or https URL; null for any other scheme or
// text that is no URL.
ParsedUrl ParseHttpUrl(const std::string& text) {
  ParsedUrl url = ParseUrl(text);
  if (!url) {
    return nullptr;
  }
  const std::string scheme = SchemeOf(url.get());
  if (scheme != "http" && scheme != "https") {
    return nullptr;
  }
  return url;
}

// The codes by which libcurl says that the server's certificate was refused or TLS failed.
bool IsTlsFailure(CURLcode code) {
  switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return true;
    default:
      return false;
  }
}

// The value of a header line when it is the named header ("name:" in any case), trimmed.
bool HeaderValue(const char* line, size_t length, const char* name, std::string& value) {
  const size_t nameLength = std::strlen(name);
  if (length <= nameLength || !curl_strnequal(line, name, nameLength)) {
    return false;
  }
  value = TrimBlanks(std::string(line + nameLength, length - nameLength));
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
  if (code != CURLE_OK) {
    throw std::runtime_error(curl_easy_strerror(code));
  }
}

Session NewSession() {
  Session session;
  session.easy.reset(curl_easy_init());
  if (!session.easy) {
    throw std::bad_alloc();
  }
  // "Accept-Encoding:" with no value keeps libcurl's own header off the request: nothing invites
  // an encoding, yet a server that encodes anyway is decoded (see Configure).
  const std::string userAgent = std::string("User-Agent: ") + kUserAgent;
  for (const char* header : {"Accept: */*", userAgent.c_str(), "Cache-Control: no-cache",
                             "Pragma: no-cache", "Accept-Encoding:"}) {
    curl_slist* list = curl_slist_append(session.headers.get(), header);
    if (!list) {
      throw std::bad_alloc();
    }
    session.headers.release();
    session.headers.reset(list);
  }
  return session;
}

// The sessions finished runs left behind, each with its open connection, handed to the next
// runs: a transfer takes one, so as many connections stay open as transfers ran at once, and no
// more than kMaxKeptSessions. The most recently used is taken first. Any thread.
class SessionPool {
 public:
  Session Take() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!kept_.empty()) {
        Session session = std::move(kept_.back());
        kept_.pop_back();
        return session;
      }
    }
    return NewSession();
  }

  void Keep(Session session) {
    Session dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    if (kept_.size() < kMaxKeptSessions) {
      kept_.push_back(std::move(session));
    } else {
      dropped = std::move(session);
    }
  }

  void Clear() {
    std::vector<Session> dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    dropped.swap(kept_);
  }

 private:
  std::mutex mutex_;
  std::vector<Session> kept_;
};

// Never destroyed: a worker may still give a session back while the process winds down, and
// the HTTP layer's shutdown empties it (CloseKeptConnections).
SessionPool& Sessions() {
  static SessionPool* pool = new SessionPool;
  return *pool;
}

// Sets a session's handle up for a single uncached GET of an http or https URL, with our
// headers, time-outs, protocol limits and trusted roots. The handle is new or was reset when its
// last run ended.
void Configure(Session& session) {
  CURL* easy = session.easy.get();
  Require(curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L));
  // Redirects may go to either scheme; a step down from https is refused as it is seen (OnHeader).
#if LIBCURL_VERSION_NUM >= 0x075500
  Require(curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https"));
  Require(curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
#else
  const long schemes = CURLPROTO_HTTP | CURLPROTO_HTTPS;
  Require(curl_easy_setopt(easy, CURLOPT_PROTOCOLS, schemes));
  Require(curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS, schemes));
#endif
  // libcurl's defaults, said once more: the certificate and the host name it names are checked.
  Require(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L));
  Require(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L));
  const std::string& roots = TrustedRootsPath();
  if (!roots.empty()) {
    // Those roots alone: no folder of others beside them.
    Require(curl_easy_setopt(easy, CURLOPT_CAINFO, roots.c_str()));
    Require(curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr));
  }
  // A proxy's answer to CONNECT (https through it) is not the server's.
  Require(curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L));
  Require(curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L));
  Require(curl_easy_setopt(easy, CURLOPT_HTTPHEADER, session.headers.get()));
  Require(curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L));
  Require(curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects));
  Require(curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds));
  Require(curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond));
  Require(curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, StallTimeoutSeconds()));
  Require(curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, ""));
  // Each session keeps one connection: the open connections are those of the kept sessions.
  Require(curl_easy_setopt(easy, CURLOPT_MAXCONNECTS, 1L));
  // A larger receive buffer is only a hint; libcurl may refuse it.
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
}

// One Get: settles the final response, hands its body to the receiver and turns libcurl's
// outcome into a result code. Lives on the caller's stack; libcurl calls it back on that thread.
class CurlGet {
 public:
  CurlGet(const HttpRequest& request, DownloadSink& sink, DownloadProgress& progress)
      : request_(request), progress_(progress), body_(request, sink, progress) {}
  CurlGet(const CurlGet&) = delete;
  CurlGet& operator=(const CurlGet&) = delete;

  // The result code; failure gets the detail of any other outcome than TransferOk.
  int Perform(HttpFailure& failure) {
    ParsedUrl url = ParseHttpUrl(request_.url);
    if (!url) {
      failure = body_.Describe(UrlParseFailed, request_.url, 0, "");
      return UrlParseFailed;
    }
    Session session = Sessions().Take();
    Configure(session);
    easy_ = session.easy.get();
    errorText_[0] = '\0';
    Require(curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorText_));
    Require(curl_easy_setopt(easy_, CURLOPT_CURLU, url.get()));
    Require(curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlGet::OnHeader));
    Require(curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this));
    Require(curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlGet::OnBody));
    Require(curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this));
    Require(curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &CurlGet::OnProgress));
    Require(curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this));
    Require(curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L));
    std::string range;
    if (request_.resumeFrom > 0) {
      // Only the header: the answer (206 or a whole 200) is judged here, not by libcurl.
      range = std::to_string(request_.resumeFrom) + "-";
      Require(curl_easy_setopt(easy_, CURLOPT_RANGE, range.c_str()));
    }

    CURLcode performed = curl_easy_perform(easy_);
    int result = result_;
    std::string layerReason = reason_;
    if (result == TransferOk && performed != CURLE_OK) {
      result = performed == CURLE_ABORTED_BY_CALLBACK ? Cancelled
               : IsTlsFailure(performed)              ? TlsFailed
                                                      : ServerRefused;
      layerReason = errorText_[0] != '\0' ? errorText_ : curl_easy_strerror(performed);
    }
    // Normally the end of the final headers settled the status; if it didn't, settle it now so a
    // 200 without body still opens its sink and nothing else does.
    if (result == TransferOk && !Accept()) {
      result = result_;
    }
    char* lastUrl = nullptr;
    const std::string askedFor =
        curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &lastUrl) == CURLE_OK && lastUrl
            ? lastUrl
            : request_.url;
    easy_ = nullptr;
    // Handed on with its connection (libcurl keeps one only when it can be reused), and without
    // the options that point at this run's objects.
    curl_easy_reset(session.easy.get());
    Sessions().Keep(std::move(session));
    result = body_.Finish(result);
    if (result != TransferOk) {
      failure = body_.Describe(result, askedFor, head_.status, layerReason);
    }
    return result;
  }

 private:
  // Checks the final response once it has its headers and opens the sink for a 200 in a known
  // encoding. False (with result_ set) when the run must end.
  bool Accept() {
    if (body_.begun()) {
      return true;
    }
    if (result_ != TransferOk) {
      return false;
    }
    if (curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &head_.status) != CURLE_OK) {
      head_.status = 0;
    }
    result_ = body_.Accept(head_);
    return result_ == TransferOk;
  }

  // Header lines of every response, interim and redirects included, then trailers.
  static size_t OnHeader(char* data, size_t size, size_t count, void* context) {
    auto* self = static_cast<CurlGet*>(context);
    const size_t length = size * count;
    self->lastArrival_ = std::chrono::steady_clock::now();
    if (self->body_.begun()) {
      return length;  // trailers after the body
    }
    if (self->result_ != TransferOk) {
      return 0;
    }
    std::string value;
    if (length >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
      self->redirecting_ = false;
      self->chunked_ = false;
      self->head_ = ResponseHead();
      self->location_.clear();
    } else if (HeaderValue(data, length, "content-range:", value)) {
      self->head_.contentRange = value;
    } else if (HeaderValue(data, length, "content-encoding:", value)) {
      // libcurl undoes any chain of the codings it knows.
      if (!KnownEncodings(value, self->head_.codings)) {
        self->head_.encodingKnown = false;
      }
    } else if (HeaderValue(data, length, "transfer-encoding:", value)) {
      self->chunked_ = true;  // the length, if any, is not the body's
      self->head_.lengthAnnounced = false;
    } else if (HeaderValue(data, length, "content-length:", value)) {
      if (!self->chunked_) {
        self->head_.lengthAnnounced = ParseLength(value, self->head_.length);
      }
    } else if (length >= 1 && length <= 2 && (data[0] == '\r' || data[0] == '\n')) {
      // End of one response's headers: final unless interim (1xx) or a redirect to follow.
      long status = 0;
      curl_easy_getinfo(self->easy_, CURLINFO_RESPONSE_CODE, &status);
      if (status >= 100 && status < 200) {
        return length;
      }
      if (status >= 300 && status < 400 && self->redirecting_) {
        return self->FollowsSafely() ? length : 0;
      }
      // Opening the sink may throw (no memory for a kept part's hashing); never across libcurl.
      try {
        return self->Accept() ? length : 0;
      } catch (...) {
        self->result_ = ServerRefused;
        return 0;
      }
    } else if (HeaderValue(data, length, "location:", value)) {
      self->location_ = value;
      if (!value.empty()) {
        self->redirecting_ = true;
      }
    }
    return length;
  }

  // Whether the redirect about to be followed keeps to https when it came from https; sets the
  // result when it does not. libcurl goes only where its protocols allow, so a step down
  // is the one redirect it would follow that we must not.
  bool FollowsSafely() {
    char* current = nullptr;
    if (curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &current) != CURLE_OK || !current) {
      return true;
    }
    ParsedUrl from = ParseUrl(current);
    ParsedUrl to = from ? ParseUrl(location_, from.get()) : nullptr;
    if (!from || !to || SchemeOf(from.get()) != "https" || SchemeOf(to.get()) != "http") {
      return true;
    }
    result_ = RedirectFailed;
    char* target = nullptr;
    if (curl_url_get(to.get(), CURLUPART_URL, &target, 0) == CURLUE_OK) {
      reason_ = std::string("a redirect from https to ") + target + " was refused";
      curl_free(target);
    }
    return false;
  }

  // Body bytes as libcurl hands them over (up to its buffer size at once), decoded (libcurl
  // inflates a coded body in steps of at most 16 KiB, each handed over before the next is made,
  // and stops at the first refused): written in one call, reported chunk by chunk. Nothing may be
  // thrown across libcurl.
  static size_t OnBody(char* data, size_t size, size_t count, void* context) {
    auto* self = static_cast<CurlGet*>(context);
    const size_t length = size * count;
    self->lastArrival_ = std::chrono::steady_clock::now();
    try {
      if (!self->Accept()) {
        return kRefuseBody;
      }
      self->result_ = self->body_.Take(data, length);
      return self->result_ == TransferOk ? length : kRefuseBody;
    } catch (...) {
      if (self->result_ == TransferOk) {
        self->result_ = ServerRefused;
      }
      return kRefuseBody;
    }
  }

  // Called at least once a second, also while connecting or while the server is silent, so a
  // stop is seen without waiting for data.
  static int OnProgress(void* context, curl_off_t downloadTotal, curl_off_t downloaded, curl_off_t,
                        curl_off_t) {
    auto* self = static_cast<CurlGet*>(context);
    try {
      if (!self->progress_.StopRequested()) {
        return self->Stalled() || self->Overdue() ? 1 : 0;
      }
    } catch (...) {
      if (self->result_ == TransferOk) {
        self->result_ = ServerRefused;
      }
      return 1;
    }
    // The whole announced body is in: let the run end as the success it is.
    if (self->body_.begun() && downloadTotal > 0 && downloaded >= downloadTotal) {
      return 0;
    }
    if (self->result_ == TransferOk) {
      self->result_ = Cancelled;
    }
    return 1;
  }

  // Whether the server has sent nothing for the stall time-out since the connection was made
  // (libcurl's own low-speed check averages over several seconds, so a stall after a burst of
  // bytes would run seconds longer); sets the result then.
  bool Stalled() {
    const auto now = std::chrono::steady_clock::now();
    curl_off_t connected = 0;
    if (curl_easy_getinfo(easy_, CURLINFO_CONNECT_TIME_T, &connected) != CURLE_OK ||
        connected == 0) {
      lastArrival_ = now;  // connecting has a time-out of its own
    }
    if (now - lastArrival_ < std::chrono::seconds(StallTimeoutSeconds())) {
      return false;
    }
    if (result_ == TransferOk) {
      result_ = body_.FailStalled();
    }
    return true;
  }

  // Whether the whole Get has taken longer than the request allows, a server that trickles
  // enough never to stall included; sets the result then.
  bool Overdue() {
    if (!body_.Overdue()) {
      return false;
    }
    if (result_ == TransferOk) {
      result_ = body_.FailOverdue();
    }
    return true;
  }

  const HttpRequest& request_;
  DownloadProgress& progress_;
  BodyReceiver body_;
  CURL* easy_ = nullptr;
  std::chrono::steady_clock::time_point lastArrival_ = std::chrono::steady_clock::now();
  bool redirecting_ = false;         // the current response names a Location to follow
  std::string location_;             // the current response's Location
  std::string reason_;               // why result_ was set, when libcurl's words would not say it
  char errorText_[CURL_ERROR_SIZE];  // libcurl's words for its failure
  // What the current response's headers said about its body.
  ResponseHead head_;
  bool chunked_ = false;
  int result_ = TransferOk;  // the first failure a callback saw
};

// HTTP downloads over libcurl easy handles, with the kept sessions of SessionPool.
class CurlHttpDownload final : public HttpDownload {
 public:
  int Get(const HttpRequest& request, DownloadSink& sink, DownloadProgress& progress) override {
    failure_ = HttpFailure();
    try {
      return CurlGet(request, sink, progress).Perform(failure_);
    } catch (const std::exception& error) {
      // An option libcurl refused, or no memory.
      failure_.url = request.url;
      failure_.reason = error.what();
      return ServerRefused;
    } catch (...) {
      failure_.url = request.url;
      failure_.reason = "the download could not be set up";
      return ServerRefused;
    }
  }
};

}  // namespace

std::unique_ptr<HttpDownload> NewHttpDownload() {
  return std::make_unique<CurlHttpDownload>();
}

void CloseKeptConnections() {
  Sessions().Clear();
}
