#pragma once

#include <string>
#include <vector>

#include "catalogue/catalogue_entry.h"

// What one run puts in place once every file has arrived, kept beside the local manifest while it
// happens ("version.txt.commit"), so that a run killed halfway is completed by the next start:
// each file's rename from "<localPath>.update" to localPath, then the server's manifest and its
// signature saved. Its text is a manifest of our own in the manifest dialect: "paths" lists the
// files ("l", "v", "x", "h"), "manifest" and "signature" hold the texts to save. Window's thread.
struct CommitJournal {
  std::vector<CatalogueEntry> files;
  std::string manifestText;
  std::string signatureText;  // "" for an unsigned release
};

// The journal's text.
std::string CommitJournalText(const CommitJournal& journal);

// Reads a journal's text; moduleDirectory is the application's directory with its trailing
// separator, below which the files lie (paths that would leave it are skipped, as a manifest's
// are). False when the text is no journal (no "paths", no "manifest").
bool ReadCommitJournal(const std::string& moduleDirectory, const std::string& text,
                       CommitJournal& journal);
