#pragma once

#include <string>

#include "publish/posix_files.h"

// The output folder's identity and its lock, shared by every command that reads or writes it
// (publish, re-sign, upload, install). Publishing thread.

// The output folder as an absolute path without "." or ".." parts or a trailing "/".
std::string ResolvedOutputFolder(const std::string& given);

// Locks the output folder against a second publisher (or re-signer, uploader, installer) for the
// life of the returned descriptor; refused at once when another holds it.
UniqueFd LockOutputFolder(const std::string& outDir);
