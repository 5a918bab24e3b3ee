#pragma once

#include <string>

// The names of the client's own files beside the application, shared by the client and the
// publisher (which must never publish them): the configuration, the manifest (also its name on a
// server), the record older versions kept of what a failed run put in place, the signature
// accepted last, the journal of a run putting its files in place, and the suffix under which a
// file arrives before it is put in place.
constexpr char kConfigurationName[] = "Lodestar.cfg";
constexpr char kManifestName[] = "version.txt";
constexpr char kProgressRecordName[] = "version.txt.progress";
constexpr char kSignatureName[] = "version.txt.minisig";
constexpr char kCommitJournalName[] = "version.txt.commit";
// The roots of a private CA that `lodestar-publish --install --cacert` places beside the client.
constexpr char kInstalledRootsName[] = "Lodestar.cacert.pem";
// A manifest's signature lies beside it under its name with this suffix.
constexpr char kSignatureSuffix[] = ".minisig";
constexpr char kUpdateSuffix[] = ".update";

// Where the file that is to stand at path arrives.
inline std::string UpdatePathOf(const std::string& path) {
  return path + kUpdateSuffix;
}
