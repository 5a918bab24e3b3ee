#include "ui/file_job.h"

#include <utility>
#include <vector>

#include "transfer/inet_file.h"
#include "transfer/url_path.h"

namespace {

// Where the publisher serves compressed copies and patches: one "/" after the base URL, so that an
// object store's key is PREFIX/_lodestar/NAME.
const char kSmallerWaysFolder[] = "/_lodestar/";

// The entry's patches, newest source first, then its compressed copy: each a frame that decodes
// to the content named by its hash, which alone makes them safe to take.
std::vector<ZstdWay> SmallerWays(const CatalogueEntry& entry, const std::string& serverUrl) {
  std::vector<ZstdWay> ways;
  if (entry.hash.empty() || entry.length <= 0) {
    return ways;
  }
  const std::string folder = serverUrl + kSmallerWaysFolder;
  for (const auto& [from, length] : entry.patches) {
    ways.push_back(
        {folder + from + "-" + entry.hash + ".zst.txt", static_cast<uint64_t>(length), from});
  }
  if (entry.compressedLength > 0) {
    ways.push_back({folder + entry.hash + ".zst.txt", static_cast<uint64_t>(entry.compressedLength),
                    std::string()});
  }
  return ways;
}

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
  transfer->terms.smallerWays = SmallerWays(entry, serverUrl);
  return transfer;
}

}  // namespace

FileJob::FileJob(CatalogueEntry entry, const std::string& serverUrl, const std::string& serverName,
                 bool hashRequired, MessageTarget& notifyWindow, TransferStarter& starter)
    : TransferJob(FileTransfer(entry, serverUrl, serverName, hashRequired, notifyWindow), starter),
      entry_(std::move(entry)) {}
