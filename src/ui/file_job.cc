#include "ui/file_job.h"

#include <utility>

#include "transfer/inet_file.h"
#include "transfer/url_path.h"

namespace {

// The transfer of entry's file from the server at serverUrl.
std::unique_ptr<CInetFile> FileTransfer(const CatalogueEntry& entry, const std::string& serverUrl,
                                        const std::string& serverName, bool hashRequired,
                                        MessageTarget& notifyWindow) {
  auto transfer = std::make_unique<CInetFile>();
  transfer->kind = KindFile;
  transfer->notifyWindow = &notifyWindow;
  transfer->url = serverUrl + "/" + EncodeUrlPath(entry.remotePath);
  transfer->localPath = entry.localPath;
  transfer->serverName = serverName;
  transfer->displayName = entry.name;
  transfer->expectedSize = entry.length > 0 ? static_cast<uint64_t>(entry.length) : 0;
  transfer->terms.exactSize = true;
  transfer->terms.sha256 = entry.hash;
  transfer->terms.hashRequired = hashRequired;
  return transfer;
}

}  // namespace

FileJob::FileJob(CatalogueEntry entry, const std::string& serverUrl, const std::string& serverName,
                 bool hashRequired, MessageTarget& notifyWindow, TransferStarter& starter)
    : TransferJob(FileTransfer(entry, serverUrl, serverName, hashRequired, notifyWindow), starter),
      entry_(std::move(entry)) {}
