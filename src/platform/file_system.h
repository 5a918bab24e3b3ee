#pragma once

#include <string>

// The platform's file calls that the update driver needs. Any thread.

// A new empty file with a unique name and the prefix "Xml" in $TMPDIR (else /tmp); "" on failure.
std::string MakeTempFile();

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& out);

// Creates or empties path and writes data; false on any failure.
bool WriteWholeFile(const std::string& path, const std::string& data);

// Replaces path with a file holding data, atomically: the data goes to a new file beside it,
// reaches the disk, and is then renamed over path. On any failure path keeps what it held (or
// stays missing), nothing is left beside it, and the result is false. A new file gets the old
// one's permission bits, else 0644.
bool ReplaceFileContents(const std::string& path, const std::string& data);

// True when the file can be opened for reading.
bool CanOpenForReading(const std::string& path);

// Deletes a file; false on failure.
bool DeleteFileAt(const std::string& path);

// Renames from to to, never replacing an existing to; false on failure.
bool RenameNoReplace(const std::string& from, const std::string& to);

// The permission bits (rwx for user, group, others) of an existing file; false when it has none.
bool GetPermissionBits(const std::string& path, unsigned& mode);

// Sets the permission bits of a file; false on failure.
bool SetPermissionBits(const std::string& path, unsigned mode);

// True for a regular file that this process may execute.
bool IsExecutableFile(const std::string& path);
