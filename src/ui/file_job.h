#pragma once

#include <memory>
#include <string>

#include "catalogue/catalogue_entry.h"
#include "platform/install_file.h"
#include "ui/transfer_job.h"

class DiskInterface;
class MessageTarget;

// One file of the plan from the manifest to its place: its entry, its transfer into
// "<localPath>.update" (URL, length, hash, continuing what an earlier run left) and its install
// over the old file. How one file is fetched and installed is decided here alone. Window's
// thread; the transfer's body runs on a worker.
class FileJob : public TransferJob {
 public:
  // serverUrl: the chosen server's base URL; hashRequired: a signed manifest vouches for a file
  // only through its hash, so one without a hash fails unfetched.
  FileJob(CatalogueEntry entry, const std::string& serverUrl, const std::string& serverName,
          bool hashRequired, MessageTarget& notifyWindow, TransferStarter& starter);

  const CatalogueEntry& entry() const { return entry_; }
  // Puts the arrived file in place of the old one, with the execute bits the entry asks for.
  InstallResult Install(DiskInterface& disk) const;

 private:
  CatalogueEntry entry_;
};
