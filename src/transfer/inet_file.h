#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/http_download.h"
#include "transfer/messages.h"
#include "transfer/worker_thread.h"

class FileSink;

enum TransferKind : int {
  KindServerList = 0,
  KindManifest = 1,
  KindFile = 2,
  KindSignature = 3,  // the manifest's "version.txt.minisig", fetched after it
};

// A smaller way to a file's content than its plain copy: one zstd frame that decodes to it, alone
// (a compressed copy) or from the content whose SHA-256 is `from` (a patch).
struct ZstdWay {
  std::string url;
  uint64_t length = 0;  // the frame's, exactly
  std::string from;     // 64 lower-case hex digits; "" for a compressed copy
};

// What a download's body must be, beyond the length the manifest announces. Filled by the
// window's thread before the transfer starts, read by its worker.
struct DownloadTerms {
  bool exactSize = false;  // the body must be exactly expectedSize bytes, not merely as long
  // KindFile: SHA-256 of the content as 64 lower-case hex digits, "" when unknown. With it the
  // body is hashed as it is written, a mismatch fails the run with FileVerifyFailed (the
  // ".update" file deleted), and a ".update" file left by an earlier run is used: one of exactly
  // expectedSize bytes that matches counts as arrived without a request (its bytes posted as
  // progress), a shorter one is continued.
  std::string sha256;
  // KindFile without sha256 fails with FileVerifyFailed, unfetched.
  bool hashRequired = false;
  // The most the body may bring, decoded, in bytes (0: no bound): beyond it the run fails with
  // ServerRefused, and nothing beyond it is written.
  uint64_t maxBytes = 0;
  // The most the whole run may take in seconds (0: no bound; the stall time-out holds anyway):
  // ServerRefused then. LODESTAR_FETCH_DEADLINE_SECONDS replaces any bound (FetchDeadlineSeconds).
  long deadlineSeconds = 0;
  // KindFile with sha256: tried in order before the plain copy, each only while it brings fewer
  // bytes than the plain copy still lacks, a patch only when the file at localPath is its `from`
  // (hashed on the worker). Whatever fails of one (no frame, another length, a broken frame, a
  // content other than sha256) falls to the next; a cancel ends the run. Their ".update" file
  // always starts anew; only the plain copy continues one.
  std::vector<ZstdWay> smallerWays;
};

// One transfer task: fetches one http URL by GET into one local file on a worker thread of its
// own, and reports only by posting to notifyWindow. The window's thread fills the fields before
// StartTransfer and reads them again on the messages; Run is the worker's.
class CInetFile : public WorkerThread {
 public:
  CInetFile();
  // Sets cancel, then joins: a running transfer stops within about a second.
  ~CInetFile() override;

  // Counts the start, waits for an earlier run, clears cancel and starts a worker.
  bool StartTransfer();
  std::string GetErrorText() const { return errorText; }

  std::string errorText;
  int kind = KindFile;
  // The file written: for KindFile the final path, the body going to UpdatePathOf(localPath).
  std::string localPath;
  std::string displayName;
  std::string url;
  MessageTarget* notifyWindow = nullptr;  // null: nothing is posted
  std::string serverName;
  std::atomic<bool> cancel{false};
  int startCount = 0;
  std::atomic<uint64_t> bytesReceived{0};
  uint64_t expectedSize = 0;  // 0: none announced
  DownloadTerms terms;
  // What the last GET ran into when it failed, for the line of detail. The worker's until it posts
  // its end.
  HttpFailure failure;

 protected:
  void Run() override;

 private:
  // Sets errorText from the table for the codes whose text the window shows (1, 6 and 7).
  void NoteError(int code);
  // The GET into the output file; returns the result code.
  int Download();
  // One GET into sink, continuing its first keptBytes when they are not 0.
  int Fetch(uint64_t keptBytes, FileSink& sink);
  // Tries the smaller ways that bring fewer than `missing` bytes into target: TransferOk or
  // Cancelled end the run; otherwise tried says whether target was made (and removed again).
  int FetchSmaller(uint64_t missing, const std::string& target, bool& tried);
  // One frame's GET, decoded into target and checked against the content's hash.
  int FetchFrame(const ZstdWay& way, const std::string& target, std::string_view reference);
};
