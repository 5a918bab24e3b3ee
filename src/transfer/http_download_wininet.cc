#include <windows.h>
// After windows.h, which it builds on; with the chain parameters' time-out for fetching revocation
// lists.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include <wincrypt.h>
#include <wininet.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/wide_text.h"
#include "transfer/body_receiver.h"
#include "transfer/http_download.h"
#include "transfer/response_headers.h"
#include "transfer/transfer_error.h"
#include "transfer/transfer_timeouts.h"
#include "transfer/trusted_roots.h"
#include "transfer/wininet_session.h"

// Why the blocking WinInet calls run on a reader thread of their own: a blocked InternetReadFile
// may ignore its receive time-out (Wine does), and closing its handle from another thread may
// not end it either; worse, a closed handle's value is free for the next download's handles, so
// a reader about to use it could read another download's body. So the downloading thread never
// blocks in WinInet and never touches the reader's handles: it waits for the reader's blocks in
// short slices, asks whether to stop, watches for a stall, and when it gives up simply leaves.
// The reader owns its handles, finds itself abandoned when its call returns (the server sends,
// closes, or the receive time-out ends it where that works), releases them and ends. The state
// both share lives as long as either needs it.

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kConnectTimeoutMilliseconds = 30 * 1000;
// How long checking a certificate of roots of our own may spend fetching revocation lists, in all.
constexpr DWORD kRevocationTimeoutMilliseconds = 10 * 1000;
constexpr int kMaxRedirects = 10;
// The largest block a reader hands over, and how many may wait for the sink.
constexpr DWORD kBlockSize = 64 * 1024;
constexpr size_t kMaxWaitingBlocks = 4;
// How often the downloading thread looks at the stop request while nothing arrives.
constexpr auto kWaitSlice = std::chrono::milliseconds(100);
// How long a lone block that is not full may grow before it is taken: WinInet hands over what
// has arrived, often a few KiB, and each take is a sink write and a progress report.
constexpr auto kGatherTime = std::chrono::milliseconds(2);
// How long shutting down waits for abandoned readers before leaving the session to the process.
constexpr auto kReaderGrace = std::chrono::seconds(1);

// Nothing asks for an encoding; a server that encodes anyway is decoded here (BodyDecoder).
std::string RequestHeaders() {
  return std::string("Accept: */*\r\nUser-Agent: ") + kUserAgent +
         "\r\nCache-Control: no-cache\r\nPragma: no-cache\r\n";
}

// Every request is sent fresh, nothing is cached, and redirects are ours to judge.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                                INTERNET_FLAG_NO_AUTH;

// An http or https URL in the parts a request needs. The object (path and query, no fragment) has
// spaces, controls and bytes outside ASCII percent-encoded, as a browser sends them; what was
// encoded already goes out as it is.
struct HttpUrl {
  bool secure = false;    // https
  std::string authority;  // host[:port] as written
  std::string host;
  INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
  std::string object;

  std::string Scheme() const { return secure ? "https" : "http"; }
  std::string Text() const { return Scheme() + "://" + authority + object; }
};

bool HostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

bool SplitHost(const std::string& authority, HttpUrl& url) {
  std::string port;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) {
      return false;
    }
    url.host = authority.substr(1, close - 1);
    if (url.host.empty() ||
        url.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos) {
      return false;
    }
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') {
        return false;
      }
      port = authority.substr(close + 2);
    }
  } else {
    const size_t colon = authority.find(':');
    url.host = authority.substr(0, colon);
    if (colon != std::string::npos) {
      port = authority.substr(colon + 1);
    }
    if (url.host.empty()) {
      return false;
    }
    for (char c : url.host) {
      if (!HostCharacter(c)) {
        return false;
      }
    }
  }
  if (port.empty()) {
    return true;
  }
  uint64_t number = 0;
  if (!ParseLength(port, number) || number == 0 || number > 65535) {
    return false;
  }
  url.port = static_cast<INTERNET_PORT>(number);
  return true;
}

// False for any scheme but http and https (in any case), credentials in the URL, or text that is
// no URL.
bool SplitHttpUrl(const std::string& text, HttpUrl& url) {
  const size_t separator = text.find("://");
  if (separator == std::string::npos) {
    return false;
  }
  const std::string scheme = text.substr(0, separator);
  url.secure = EqualsIgnoringCase(scheme, "https");
  if (!url.secure && !EqualsIgnoringCase(scheme, "http")) {
    return false;
  }
  url.port = url.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  const size_t begin = separator + 3;
  const size_t end = std::min(text.find_first_of("/?#", begin), text.size());
  url.authority = text.substr(begin, end - begin);
  if (!SplitHost(url.authority, url)) {
    return false;
  }
  std::string rest = text.substr(end);
  rest.erase(std::min(rest.find('#'), rest.size()));
  if (rest.empty() || rest[0] != '/') {
    rest.insert(0, "/");
  }
  static const char kHex[] = "0123456789abcdef";
  url.object.clear();
  for (char c : rest) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) {
      url.object += '%';
      url.object += kHex[byte >> 4];
      url.object += kHex[byte & 0x0F];
    } else {
      url.object += c;
    }
  }
  return true;
}

// The URL a Location value names, seen from the URL that answered with it.
std::string ResolveLocation(const HttpUrl& base, const std::string& location) {
  const size_t colon = location.find(':');
  if (colon != std::string::npos && colon > 0 &&
      location.find_first_of("/?#") > colon) {  // has a scheme of its own
    return location;
  }
  if (location.compare(0, 2, "//") == 0) {
    return base.Scheme() + ":" + location;
  }
  const std::string origin = base.Scheme() + "://" + base.authority;
  if (!location.empty() && location[0] == '/') {
    return origin + location;
  }
  const std::string path = base.object.substr(0, base.object.find('?'));
  if (!location.empty() && location[0] == '?') {
    return origin + path + location;
  }
  return origin + path.substr(0, path.rfind('/') + 1) + location;
}

// What the downloading thread needs of a response's head.
struct WinInetHead : ResponseHead {
  std::string location;
};

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle = nullptr) : handle_(handle) {}
  ~InternetHandle() {
    if (handle_) {
      InternetCloseHandle(handle_);
    }
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET get() const { return handle_; }

 private:
  HINTERNET handle_;
};

// WinInet's errors that say the server's certificate was refused or TLS itself failed.
bool IsTlsError(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case INTERNET_ERROR_BASE + 175:  // ERROR_INTERNET_SECURE_FAILURE
    case INTERNET_ERROR_BASE + 180:  // ERROR_INTERNET_SEC_CERT_WEAK_SIGNATURE
      return true;
    default:
      return false;
  }
}

// A WinInet failure in plain words, with its number.
std::string DescribeError(DWORD error) {
  const char* words = "the connection failed";
  switch (error) {
    case ERROR_INTERNET_TIMEOUT:
      words = "the connection timed out";
      break;
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
      words = "the host name could not be resolved";
      break;
    case ERROR_INTERNET_CANNOT_CONNECT:
      words = "the connection was refused";
      break;
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
      words = "the server closed the connection";
      break;
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
      words = "the server's certificate has expired or is not yet valid";
      break;
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
      words = "the server's certificate is for another host name";
      break;
    case ERROR_INTERNET_INVALID_CA:
      words = "the server's certificate is not signed by a trusted root";
      break;
    case ERROR_INTERNET_SEC_CERT_REVOKED:
      words = "the server's certificate was revoked";
      break;
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
      // WinInet says this too of a chain that leads to no root it knows.
      words =
          "the server's certificate leads to no trusted root or could not be checked for "
          "revocation";
      break;
    default:
      if (IsTlsError(error)) {
        words = "the server's certificate was refused or the secure connection failed";
      }
      break;
  }
  return std::string(words) + " (WinInet error " + std::to_string(error) + ")";
}

// The roots of SetTrustedRootsFile: a store of them and a chain engine that trusts them alone.
// Made at start-up, never released: a reader given up on may still use them.
struct TrustedRoots {
  HCERTSTORE store = nullptr;
  HCERTCHAINENGINE engine = nullptr;
};
std::atomic<const TrustedRoots*> trustedRoots{nullptr};  // null: the system's

// Whether the certificate the server of request presented leads to a root that engine trusts, is
// valid now, is meant for a server, names host and is not revoked: "" when it does, else why not.
// A certificate whose revocation status can't be learnt (a private CA seldom publishes a list)
// passes; one that a list it names has revoked does not.
std::string CheckAgainst(HCERTCHAINENGINE engine, HINTERNET request, const std::string& host) {
  PCCERT_CHAIN_CONTEXT served = nullptr;
  DWORD size = sizeof served;
  if (!InternetQueryOptionW(request, INTERNET_OPTION_SERVER_CERT_CHAIN_CONTEXT, &served, &size) ||
      !served) {
    return "the server's certificate could not be read";
  }
  std::string reason;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  char* usages[] = {serverAuth};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  para.dwUrlRetrievalTimeout = kRevocationTimeoutMilliseconds;
  // The certificates the server sent (its own and those in between) come with the first.
  PCCERT_CONTEXT leaf = served->cChain > 0 && served->rgpChain[0]->cElement > 0
                            ? served->rgpChain[0]->rgpElement[0]->pCertContext
                            : nullptr;
  if (!leaf || !CertGetCertificateChain(engine, leaf, nullptr, leaf->hCertStore, &para, 0, nullptr,
                                        &chain)) {
    reason = "the server's certificate could not be checked";
  } else if (chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_NOT_TIME_VALID) {
    reason = "the server's certificate has expired or is not yet valid";
  } else if (chain->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR) {
    reason = "the server's certificate is not signed by a trusted root";
  } else {
    const std::wstring name = ToWide(host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = const_cast<wchar_t*>(name.c_str());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
      reason = "the server's certificate could not be checked";
    } else if (status.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) {
      reason = "the server's certificate is for another host name";
    } else if (status.dwError != 0) {
      reason = "the server's certificate is not valid for a server";
    }
  }
  if (chain) {
    CertFreeCertificateChain(chain);
  }
  // Asked last, of a certificate good in every other way, as it may wait for the network; on a
  // chain of its own, as one built with revocation asked fails the SSL policy above when the
  // status is unknown (Wine ignores the policy flag that would pass it).
  PCCERT_CHAIN_CONTEXT checked = nullptr;
  if (reason.empty() && CertGetCertificateChain(engine, leaf, nullptr, leaf->hCertStore, &para,
                                                CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                                    CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT,
                                                nullptr, &checked)) {
    if (checked->TrustStatus.dwErrorStatus & CERT_TRUST_IS_REVOKED) {
      reason = "the server's certificate was revoked";
    }
    CertFreeCertificateChain(checked);
  }
  CertFreeCertificateChain(served);
  return reason;
}

// One header's value (the index-th of that name); false when there is none.
bool QueryHeader(HINTERNET request, DWORD info, std::string& value, DWORD index = 0) {
  DWORD size = 0;
  DWORD at = index;
  if (HttpQueryInfoW(request, info, nullptr, &size, &at)) {
    value.clear();  // present, and empty
    return true;
  }
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
    return false;
  }
  std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
  at = index;
  if (!HttpQueryInfoW(request, info, &buffer[0], &size, &at)) {
    return false;
  }
  buffer.resize(size / sizeof(wchar_t));
  value = FromWide(buffer);
  return true;
}

bool QueryHead(HINTERNET request, WinInetHead& head) {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                      nullptr)) {
    return false;
  }
  head.status = static_cast<long>(status);
  QueryHeader(request, HTTP_QUERY_LOCATION, head.location);
  QueryHeader(request, HTTP_QUERY_CONTENT_RANGE, head.contentRange);
  std::string value;
  for (DWORD index = 0; QueryHeader(request, HTTP_QUERY_CONTENT_ENCODING, value, index); ++index) {
    if (!KnownEncodings(value, head.codings)) {
      head.encodingKnown = false;
    }
  }
  // One coding is undone here (BodyDecoder); a body coded twice over is refused rather than
  // written half decoded.
  if (head.codings > 1) {
    head.encodingKnown = false;
  }
  // With a Transfer-Encoding, a Content-Length is not the body's.
  const bool chunked = QueryHeader(request, HTTP_QUERY_TRANSFER_ENCODING, value);
  head.lengthAnnounced = !chunked && QueryHeader(request, HTTP_QUERY_CONTENT_LENGTH, value) &&
                         ParseLength(value, head.length);
  return true;
}

void CALLBACK OnRequestStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD);

// The process's WinInet session and the readers that use it. WinInet keeps connections per
// server inside a session, so one session serves every download. Never destroyed: a reader may
// still end while the process winds down. Any thread.
class SessionKeeper {
 public:
  static SessionKeeper& Instance() {
    static SessionKeeper* keeper = new SessionKeeper;
    return *keeper;
  }

  bool Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    return OpenLocked() != nullptr;
  }

  // The session for a new reader, counted until it calls Leave; null when none can be opened.
  HINTERNET Enter() {
    std::lock_guard<std::mutex> lock(mutex_);
    HINTERNET session = OpenLocked();
    if (session) {
      ++readers_;
    }
    return session;
  }

  void Leave() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --readers_;
    }
    changed_.notify_all();
  }

  // Closes the session once no reader uses it. An abandoned reader still blocked after a short
  // wait keeps it: closing would close the reader's handles under it, and the process is ending.
  void Close() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!session_) {
      return;
    }
    const bool idle = changed_.wait_for(lock, kReaderGrace, [this] { return readers_ == 0; });
    if (idle) {
      InternetCloseHandle(session_);
    }
    session_ = nullptr;
  }

 private:
  HINTERNET OpenLocked() {
    if (session_) {
      return session_;
    }
    // The system's proxy settings apply.
    session_ = InternetOpenW(ToWide(kUserAgent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                             nullptr, 0);
    if (!session_) {
      return nullptr;
    }
    // Where WinInet honours them, they end a reader that the downloading thread gave up on.
    const DWORD stall = static_cast<DWORD>(StallTimeoutSeconds() * 1000);
    DWORD connect = kConnectTimeoutMilliseconds;
    InternetSetOptionW(session_, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
    InternetSetStatusCallbackW(session_, &OnRequestStatus);
    for (DWORD option : {INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT}) {
      DWORD value = stall;
      InternetSetOptionW(session_, option, &value, sizeof value);
    }
    return session_;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  HINTERNET session_ = nullptr;
  int readers_ = 0;
};

// What a reader hands to the downloading thread, and the downloading thread's word back. Shared
// by both; either may be the last to let go. Fields under mutex.
struct Exchange {
  std::mutex mutex;
  std::condition_variable changed;
  // From the reader.
  bool connected = false;  // the request has gone out: the server's answer is awaited
  bool answered = false;   // head is in, or failed is set
  WinInetHead head;
  std::deque<std::string> blocks;
  bool ended = false;           // the body is all in blocks and the handles are released
  bool failed = false;          // WinInet failed, or the certificate was refused
  int failure = ServerRefused;  // the result code for a failure
  std::string reason;           // why it failed
  // From the downloading thread.
  bool readBody = false;   // the head is accepted
  bool abandoned = false;  // nobody waits for anything more
};

// WinInet's report that a request has been sent, on the reader's thread inside HttpSendRequestW:
// from then on the server has the stall time-out to answer rather than the connect time-out.
void CALLBACK OnRequestStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
  if (status != INTERNET_STATUS_REQUEST_SENT || context == 0) {
    return;
  }
  auto* exchange = reinterpret_cast<Exchange*>(context);
  {
    std::lock_guard<std::mutex> lock(exchange->mutex);
    exchange->connected = true;
  }
  exchange->changed.notify_all();
}

// One request on a reader thread: connect, send, the head, then the body block by block while
// the downloading thread wants it. Touches nothing but its handles and the exchange.
class Reader {
 public:
  Reader(std::shared_ptr<Exchange> exchange, HttpUrl url, std::string headers)
      : exchange_(std::move(exchange)),
        url_(std::move(url)),
        headers_(std::move(headers)),
        roots_(trustedRoots.load()) {}

  void operator()() {
    HINTERNET session = SessionKeeper::Instance().Enter();
    bool ended = false;
    if (session) {
      ended = Transfer(session);
      SessionKeeper::Instance().Leave();
    }
    {
      std::lock_guard<std::mutex> lock(exchange_->mutex);
      exchange_->answered = true;
      exchange_->ended = ended;
      exchange_->failed = !ended;
      exchange_->failure = failure_;
      exchange_->reason = reason_;
    }
    exchange_->changed.notify_all();
  }

 private:
  // True when the body was read to its end; the handles are closed on return.
  bool Transfer(HINTERNET session) {
    if (Abandoned()) {
      return false;
    }
    InternetHandle connection(InternetConnectW(session, ToWide(url_.host).c_str(), url_.port,
                                               nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection.get()) {
      return Failed();
    }
    InternetHandle request(
        HttpOpenRequestW(connection.get(), L"GET", ToWide(url_.object).c_str(), nullptr, nullptr,
                         nullptr, kRequestFlags | (url_.secure ? INTERNET_FLAG_SECURE : 0),
                         reinterpret_cast<DWORD_PTR>(exchange_.get())));
    const std::wstring headers = ToWide(headers_);
    WinInetHead head;
    if (!request.get() ||
        !HttpAddRequestHeadersW(request.get(), headers.c_str(), static_cast<DWORD>(-1),
                                HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE) ||
        (url_.secure && !Secure(request.get())) ||
        !HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) {
      return Failed();
    }
    // With roots of our own, WinInet left the root to us: nothing of the answer is taken before
    // the certificate is found to lead to one of them.
    if (url_.secure && roots_) {
      reason_ = CheckAgainst(roots_->engine, request.get(), url_.host);
      if (!reason_.empty()) {
        failure_ = TlsFailed;
        return false;
      }
    }
    if (!QueryHead(request.get(), head)) {
      return Failed();
    }
    {
      std::unique_lock<std::mutex> lock(exchange_->mutex);
      exchange_->head = head;
      exchange_->answered = true;
      exchange_->changed.notify_all();
      exchange_->changed.wait(lock, [this] { return exchange_->readBody || exchange_->abandoned; });
      if (exchange_->abandoned) {
        return false;
      }
    }
    for (;;) {
      // A plain read waits until its buffer is full, holding back a slow server's bytes: ask
      // what has arrived (waiting only while nothing has) and read just that.
      DWORD available = 0;
      if (!InternetQueryDataAvailable(request.get(), &available, 0, 0)) {
        return Failed();
      }
      if (available == 0) {
        return true;  // the end of the body
      }
      DWORD got = 0;
      if (!InternetReadFile(request.get(), &buffer_[0], std::min(available, kBlockSize), &got)) {
        return Failed();
      }
      if (got == 0) {
        return true;
      }
      std::unique_lock<std::mutex> lock(exchange_->mutex);
      // Joined to a block still waiting, so that the sink gets few large writes.
      if (!exchange_->blocks.empty() && exchange_->blocks.back().size() < kBlockSize) {
        exchange_->blocks.back().append(buffer_, 0, got);
      } else {
        exchange_->blocks.emplace_back(buffer_, 0, got);
      }
      exchange_->changed.notify_all();
      exchange_->changed.wait(lock, [this] {
        return exchange_->blocks.size() < kMaxWaitingBlocks || exchange_->abandoned;
      });
      if (exchange_->abandoned) {
        return false;
      }
    }
  }

  bool Abandoned() {
    std::lock_guard<std::mutex> lock(exchange_->mutex);
    return exchange_->abandoned;
  }

  // Notes the WinInet failure just seen; false.
  bool Failed() {
    const DWORD error = GetLastError();
    failure_ = IsTlsError(error) ? TlsFailed : ServerRefused;
    reason_ = DescribeError(error);
    return false;
  }

  // Sets what WinInet checks of the server's certificate. With the system's roots, everything, as
  // the system is set to: revocation too where it asks for that. With roots of our own, WinInet
  // can't build the chain to them; it reports such a chain as a failed revocation check (12057)
  // before an unknown root, so both are left to CheckAgainst, which checks revocation itself.
  bool Secure(HINTERNET request) {
    if (!roots_) {
      return true;
    }
    DWORD flags = 0;
    DWORD size = sizeof flags;
    if (!InternetQueryOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)) {
      return false;
    }
    flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_REVOCATION;
    return InternetSetOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }

  std::shared_ptr<Exchange> exchange_;
  HttpUrl url_;
  std::string headers_;
  const TrustedRoots* roots_;  // null: the system's
  int failure_ = ServerRefused;
  std::string reason_;
  std::string buffer_ = std::string(kBlockSize, '\0');  // what each read fills
};

// Undoes a gzip or deflate coding (zlib or raw) as the body arrives, in steps of at most
// kBlockSize decoded bytes, each handed on before the next is made: a small body that decodes to
// a huge one is never held whole. The downloading thread's.
class BodyDecoder {
 public:
  BodyDecoder() {
    // 32 + 15: a gzip or zlib header is recognised by itself.
    ready_ = inflateInit2(&stream_, 32 + 15) == Z_OK;
  }
  ~BodyDecoder() {
    if (ready_) {
      inflateEnd(&stream_);
    }
  }
  BodyDecoder(const BodyDecoder&) = delete;
  BodyDecoder& operator=(const BodyDecoder&) = delete;

  // Decodes data step by step, handing each step's bytes to take(data, length), which returns a
  // result code; stops at the first that is not TransferOk and returns it. ServerRefused when
  // data is not a body in that coding, or goes on after its end (as libcurl has it: else a
  // server could send on for ever).
  template <typename Take>
  int Decode(const std::string& data, const Take& take) {
    if (!ready_ || finished_) {
      return ServerRefused;
    }
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream_.avail_in = static_cast<uInt>(data.size());
    do {
      stream_.next_out = reinterpret_cast<Bytef*>(&step_[0]);
      stream_.avail_out = static_cast<uInt>(step_.size());
      const int result = inflate(&stream_, Z_NO_FLUSH);
      if (result == Z_DATA_ERROR && !started_ && !raw_) {
        // A "deflate" body without the zlib header: start again reading it raw.
        inflateEnd(&stream_);
        raw_ = true;
        ready_ = inflateInit2(&stream_, -15) == Z_OK;
        return Decode(data, take);
      }
      if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
        return ServerRefused;
      }
      started_ = true;
      finished_ = result == Z_STREAM_END;
      const size_t made = step_.size() - stream_.avail_out;
      if (made > 0) {
        const int taken = take(step_.data(), made);
        if (taken != TransferOk) {
          return taken;
        }
      }
    } while (!finished_ && (stream_.avail_in > 0 || stream_.avail_out == 0));
    return stream_.avail_in > 0 ? ServerRefused : TransferOk;
  }

  bool finished() const { return finished_; }

 private:
  z_stream stream_{};
  std::string step_ = std::string(kBlockSize, '\0');
  bool ready_ = false;
  bool raw_ = false;
  bool started_ = false;
  bool finished_ = false;
};

// One Get on the downloading thread: starts a reader per request (redirects included), judges
// each head, and passes the body on to the receiver while watching for a stall or a stop.
class WinInetGet {
 public:
  WinInetGet(const HttpRequest& request, DownloadSink& sink, DownloadProgress& progress)
      : request_(request), progress_(progress), body_(request, sink, progress) {}
  WinInetGet(const WinInetGet&) = delete;
  WinInetGet& operator=(const WinInetGet&) = delete;
  ~WinInetGet() { Abandon(); }

  // The result code; failure gets the detail of any other outcome than TransferOk.
  int Perform(HttpFailure& failure) {
    HttpUrl url;
    if (!SplitHttpUrl(request_.url, url)) {
      failure = body_.Describe(UrlParseFailed, request_.url, 0, "");
      return UrlParseFailed;
    }
    WinInetHead head;
    const int result = Follow(url, head);
    if (result != TransferOk) {
      failure = body_.Describe(result, url.Text(), head.status, reason_);
    }
    return result;
  }

 private:
  // The Get from url on, redirects followed (url is the last one asked for at the end).
  int Follow(HttpUrl& url, WinInetHead& head) {
    for (int redirects = 0;; ++redirects) {
      Start(url);
      int result = AwaitHead(head);
      if (result != TransferOk) {
        return body_.Finish(result);
      }
      const bool redirect = head.status == 301 || head.status == 302 || head.status == 303 ||
                            head.status == 307 || head.status == 308;
      if (redirect && !head.location.empty()) {
        Abandon();
        // Only to http or https, never from https back to http, and not round and round.
        const std::string target = ResolveLocation(url, head.location);
        const bool wasSecure = url.secure;
        if (redirects == kMaxRedirects || !SplitHttpUrl(target, url)) {
          reason_ = redirects == kMaxRedirects ? "too many redirects"
                                               : "a redirect to " + target + " was refused";
          return body_.Finish(ServerRefused);
        }
        if (wasSecure && !url.secure) {
          reason_ = "a redirect from https to " + target + " was refused";
          return body_.Finish(RedirectFailed);
        }
        continue;
      }
      result = Accept(head);
      if (result == TransferOk) {
        result = Receive(head);
      }
      Abandon();
      return body_.Finish(result);
    }
  }

  void Start(const HttpUrl& url) {
    exchange_ = std::make_shared<Exchange>();
    std::string headers = RequestHeaders();
    if (request_.resumeFrom > 0) {
      headers += "Range: bytes=" + std::to_string(request_.resumeFrom) + "-\r\n";
    }
    std::thread(Reader(exchange_, url, std::move(headers))).detach();
  }

  // Lets the current reader go: it ends by itself once its WinInet call returns.
  void Abandon() {
    if (!exchange_) {
      return;
    }
    {
      std::lock_guard<std::mutex> lock(exchange_->mutex);
      exchange_->abandoned = true;
    }
    exchange_->changed.notify_all();
    exchange_.reset();
  }

  // Waits for the response's head: the connect time-out until the request is out, then the
  // stall time-out for the server to answer; never beyond the request's deadline.
  int AwaitHead(WinInetHead& head) {
    const auto stall = std::chrono::seconds(StallTimeoutSeconds());
    auto deadline = Clock::now() + std::chrono::milliseconds(kConnectTimeoutMilliseconds);
    bool connected = false;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(exchange_->mutex);
        exchange_->changed.wait_for(lock, kWaitSlice, [this, connected] {
          return exchange_->answered || exchange_->connected != connected;
        });
        if (exchange_->answered) {
          if (exchange_->failed) {
            reason_ = exchange_->reason;
            return exchange_->failure;
          }
          head = exchange_->head;
          return TransferOk;
        }
        if (exchange_->connected && !connected) {
          connected = true;
          deadline = Clock::now() + stall;
        }
      }
      if (progress_.StopRequested()) {
        return Cancelled;
      }
      if (body_.Overdue()) {
        return body_.FailOverdue();
      }
      if (Clock::now() >= deadline) {
        return connected ? body_.FailStalled()
                         : body_.Fail(ServerRefused, "the connection timed out");
      }
    }
  }

  // Opens the sink for an accepted final response, with a decoder for a coded body.
  int Accept(const ResponseHead& head) {
    const int result = body_.Accept(head);
    if (result == TransferOk && head.codings > 0) {
      decoder_ = std::make_unique<BodyDecoder>();
    }
    return result;
  }

  // The body, block by block as the reader hands it over, until its end, a failure, a stall, the
  // deadline or a stop.
  int Receive(const ResponseHead& head) {
    {
      std::lock_guard<std::mutex> lock(exchange_->mutex);
      exchange_->readBody = true;
    }
    exchange_->changed.notify_all();
    const auto stall = std::chrono::seconds(StallTimeoutSeconds());
    auto lastArrival = Clock::now();
    uint64_t arrived = 0;  // as sent, before decoding
    for (;;) {
      std::deque<std::string> blocks;
      bool ended = false;
      bool failed = false;
      std::string reason;
      {
        std::unique_lock<std::mutex> lock(exchange_->mutex);
        const auto over = [this] { return exchange_->ended || exchange_->failed; };
        exchange_->changed.wait_for(lock, kWaitSlice,
                                    [this, &over] { return !exchange_->blocks.empty() || over(); });
        exchange_->changed.wait_for(lock, kGatherTime, [this, &over] {
          return exchange_->blocks.empty() || exchange_->blocks.size() > 1 ||
                 exchange_->blocks.front().size() >= kBlockSize || over();
        });
        blocks.swap(exchange_->blocks);
        ended = exchange_->ended;
        failed = exchange_->failed;
        reason = exchange_->reason;
      }
      if (!blocks.empty()) {
        exchange_->changed.notify_all();  // room for the reader again
        lastArrival = Clock::now();
      }
      for (const std::string& block : blocks) {
        arrived += block.size();
        const int result = Hold(block);
        if (result != TransferOk) {
          return result;
        }
      }
      // While bytes flow, only whole chunks are handed on; a pause hands on the rest.
      const int result = Deliver(blocks.empty() || ended || failed);
      if (result != TransferOk) {
        return result;
      }
      if (failed) {
        reason_ = reason;
        return ServerRefused;
      }
      if (ended) {
        // WinInet ends a body cut short as quietly as a whole one.
        if (head.lengthAnnounced && arrived != head.length) {
          return body_.Fail(ServerRefused, "the body ended after " + std::to_string(arrived) +
                                               " of the announced " + std::to_string(head.length) +
                                               " bytes");
        }
        if (decoder_ && !decoder_->finished()) {
          return body_.Fail(ServerRefused, "the encoded body ended early");
        }
        return TransferOk;
      }
      if (blocks.empty()) {
        if (progress_.StopRequested()) {
          return Cancelled;
        }
        if (Clock::now() - lastArrival >= stall) {
          return body_.FailStalled();
        }
      }
      if (body_.Overdue()) {
        return body_.FailOverdue();  // a trickle that never stalls ends here
      }
    }
  }

  // Adds a block to what is held; a coded one step by step as it decodes, each step's whole
  // chunks handed on before the next step is made. ServerRefused when it is not a body in its
  // coding, else what handing on gave.
  int Hold(const std::string& block) {
    if (!decoder_) {
      held_ += block;
      return TransferOk;
    }
    return decoder_->Decode(block, [this](const char* data, size_t length) {
      held_.append(data, length);
      return Deliver(false);
    });
  }

  // Passes what is held on in whole chunks (WinInet's reads come in any size, and a partial
  // chunk would be one progress report more), all of it when flush is set.
  int Deliver(bool flush) {
    const size_t length =
        flush ? held_.size() : held_.size() - held_.size() % BodyReceiver::kChunkSize;
    if (length == 0) {
      return TransferOk;
    }
    const int result = body_.Take(held_.data(), length);
    held_.erase(0, length);
    return result;
  }

  const HttpRequest& request_;
  DownloadProgress& progress_;
  BodyReceiver body_;
  std::shared_ptr<Exchange> exchange_;  // the current reader's
  std::unique_ptr<BodyDecoder> decoder_;
  std::string held_;    // decoded bytes not yet handed on
  std::string reason_;  // WinInet's failure, or a redirect refused, in words
};

// HTTP downloads over WinInet, in the process's one session.
class WinInetHttpDownload final : public HttpDownload {
 public:
  int Get(const HttpRequest& request, DownloadSink& sink, DownloadProgress& progress) override {
    failure_ = HttpFailure();
    try {
      return WinInetGet(request, sink, progress).Perform(failure_);
    } catch (...) {
      failure_.url = request.url;
      failure_.reason = "the download could not be set up";  // no memory, or no reader thread
      return ServerRefused;
    }
  }
};

}  // namespace

std::unique_ptr<HttpDownload> NewHttpDownload() {
  return std::make_unique<WinInetHttpDownload>();
}

void CloseKeptConnections() {
  SessionKeeper::Instance().Close();
}

bool OpenInternetSession() {
  return SessionKeeper::Instance().Open();
}

bool UseTrustedRoots(const std::vector<std::string>& pemBlocks) {
  if (pemBlocks.empty()) {
    trustedRoots.store(nullptr);
    return true;
  }
  auto* roots = new TrustedRoots;
  roots->store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  bool loaded = roots->store != nullptr;
  for (const std::string& block : pemBlocks) {
    DWORD size = 0;
    std::vector<BYTE> der;
    loaded =
        loaded && CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()),
                                       CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr);
    der.resize(size);
    loaded = loaded &&
             CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()),
                                  CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr) &&
             CertAddEncodedCertificateToStore(roots->store, X509_ASN_ENCODING, der.data(), size,
                                              CERT_STORE_ADD_USE_EXISTING, nullptr);
  }
  if (loaded) {
    // Windows 7's layout, which every later Windows and Wine take: up to hExclusiveRoot's pair.
    CERT_CHAIN_ENGINE_CONFIG config{};
    config.cbSize =
        offsetof(CERT_CHAIN_ENGINE_CONFIG, hExclusiveTrustedPeople) + sizeof(HCERTSTORE);
    config.hExclusiveRoot = roots->store;
    loaded = CertCreateCertificateChainEngine(&config, &roots->engine);
  }
  if (!loaded) {
    if (roots->store) {
      CertCloseStore(roots->store, 0);
    }
    delete roots;
    return false;
  }
  // The roots before, if any, stay: a reader given up on may still check against them.
  trustedRoots.store(roots);
  return true;
}
