#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/crypto.h"

// Puts a new release in place so that the served release stays whole until the manifest flips.
// Everything is prepared in a staging folder inside the output folder (same file system, so
// renames are atomic): the new copies, a hard link to each copy they will replace, a marker for
// each copy that is new, and the manifest (then its signature) last. The commit renames the copies
// into place, then the manifest over version.txt, then its signature (when signed) over
// version.txt.minisig. A failure before the manifest's rename (or a crash, found by the next
// publish) puts the old copies back, so the served manifest never names a file whose content it
// does not describe. Copies that leave the release are recorded too and removed only after the flip
// (by the next publish, if this one dies first), and a signature that missed its rename after the
// flip is put in place by the next publish. Publishing thread; one publish per output folder at a
// time.
class StagingArea {
 public:
  static constexpr const char* kFolderName = ".lodestar-staging";

  explicit StagingArea(std::string outDir);
  // Abandons an uncommitted stage: rolls back and removes the staging folder.
  ~StagingArea();
  StagingArea(const StagingArea&) = delete;
  StagingArea& operator=(const StagingArea&) = delete;

  // Finishes what an earlier publish left: rolls back one that stopped before its manifest
  // flipped, or completes one that stopped after it (the signature, the removals), then clears the
  // staging folder. True when there was anything to roll back.
  bool Recover();

  // Stages the copy of `relative` (a path below the output folder) from source, and keeps a way
  // back to what is served there now. The copied bytes go through hash when one is given.
  void StageFile(const std::string& relative, int source, uint64_t length, Sha256* hash = nullptr);
  // Where the caller writes (from any thread) a new file for `relative`, to stage it with
  // StageWritten or drop it; its folder exists.
  std::string PathForNew(const std::string& relative);
  // Stages the file written at PathForNew(relative) as StageFile stages a copy.
  void StageWritten(const std::string& relative);
  // Records that the copy at `relative` leaves once the new manifest is served.
  void StageRemoval(const std::string& relative);
  void StageManifest(const std::string& text);
  // The manifest's signature file; staged after the manifest, so that a recovery finding it
  // alone knows the manifest has flipped (or that it is a new signature of the manifest served).
  void StageSignature(const std::string& text);
  // Moves the staged copies into place, calls beforeFlip (a seam for tests), then renames the
  // manifest into place, then the signature. Rolls back and rethrows when anything before the
  // flip fails; a signature that cannot follow the manifest stays staged for the next publish.
  void Commit(const std::function<void()>& beforeFlip);
  // Puts a signature staged alone (a new one for the manifest served now) in place, flushes the
  // folder and clears the staging folder.
  void CommitSignature();
  // After the flip: removes the recorded copies and the folders they leave empty, then the
  // staging folder. Returns what could not be removed.
  std::vector<std::string> Finish();

 private:
  std::string Staged(const char* part, const std::string& relative) const;
  void RollBack();
  void PlaceSignature();
  std::vector<std::string> RemoveRecorded();

  std::string outDir_;
  std::string root_;
  std::vector<std::string> staged_;
  bool created_ = false;
  bool flipped_ = false;
};
