#pragma once

#include <memory>
#include <string>

#include "catalogue/catalogue_entry.h"
#include "ui/transfer_job.h"

class MessageTarget;

// One file of the plan from the manifest to its arrival: its entry and its transfer into
// "<localPath>.update" (URL, length, hash, the patches and compressed copy it may come by instead,
// taking or continuing what an earlier run left). Which ways one file may be fetched is decided
// here alone (the worker picks among them by the file on disk); the run's commit puts it in
// place. Window's thread; the transfer's body runs on a worker.
class FileJob : public TransferJob {
 public:
  // serverUrl: the chosen server's base URL; hashRequired: a signed manifest vouches for a file
  // only through its hash, so one without a hash fails unfetched.
  FileJob(CatalogueEntry entry, const std::string& serverUrl, const std::string& serverName,
          bool hashRequired, MessageTarget& notifyWindow, TransferStarter& starter);

  const CatalogueEntry& entry() const { return entry_; }

 private:
  CatalogueEntry entry_;
};
