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
// reaches the disk, and is then renamed over path; the folder is flushed after. On any failure path
// keeps what it held (or stays missing), nothing is left beside it, and the result is false. A new
// file gets the old one's permission bits, else 0644.
bool ReplaceFileContents(const std::string& path, const std::string& data);

// Deletes a file; false on failure.
bool DeleteFileAt(const std::string& path);

// True when anything (a file, a folder, a link) stands at path.
bool PathTaken(const std::string& path);

// Deletes what ReplaceFileContents(path, ...) leaves beside path when the process is killed
// halfway: files named "." + path's name + "-" + six letters or digits. Nothing else.
void RemoveReplacementLeftovers(const std::string& path);

// True for a regular file that this process may execute.
bool IsExecutableFile(const std::string& path);
