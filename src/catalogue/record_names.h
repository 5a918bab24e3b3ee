#pragma once

// The manifest's name on a server and beside the client, and the two records the client keeps
// beside it: what a run that failed had put in place, and the signature it last accepted.
constexpr char kManifestName[] = "version.txt";
constexpr char kProgressRecordName[] = "version.txt.progress";
constexpr char kSignatureName[] = "version.txt.minisig";
