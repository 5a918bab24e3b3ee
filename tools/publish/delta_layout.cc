#include "publish/delta_layout.h"

#include "catalogue/path_folding.h"

bool ClashesWithDeltaFolder(const std::string& topLevelName) {
  return EqualsIgnoringCase(topLevelName, kDeltaFolder);
}

std::string CompressedCopyPath(const std::string& contentHash) {
  return std::string(kDeltaFolder) + "/" + contentHash + ".zst.txt";
}

std::string PatchPath(const std::string& fromHash, const std::string& toHash) {
  return std::string(kDeltaFolder) + "/" + fromHash + "-" + toHash + ".zst.txt";
}

std::string KeptManifestPath(const std::string& manifestHash) {
  return std::string(kDeltaFolder) + "/" + manifestHash + ".version.txt";
}
