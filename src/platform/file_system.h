#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// The platform's file calls of the updater and the publisher. Paths are UTF-8. Any thread.

// True for a character that ends a folder's name in a path: "/", and on Windows "\" as well.
bool IsPathSeparator(char c);

// True for a path component that Windows cannot hold as the name it is: one with ":" (an alternate
// data stream), a reserved device name ("CON", "NUL", "COM1"... with any extension, any case), or
// one that ends in a dot or a blank. The rule is the same on every platform, so that a publisher
// anywhere can be warned.
bool WindowsCannotHoldName(const std::string& component);

// True for a path component that this platform's files cannot hold safely: WindowsCannotHoldName
// on Windows, nothing elsewhere.
bool PlatformRefusesName(const std::string& component);

// A path cut after its last separator: the folder with its separator ("" for none), and the name.
struct PathParts {
  std::string folder;
  std::string name;
};
PathParts SplitPath(const std::string& path);

// How many letters or digits make a replacement's name unique: "." + name + "-" + these.
constexpr size_t kReplacementUniqueLength = 6;
// True for a name that a replacement of the file targetName leaves while it is written.
bool IsReplacementName(const std::string& name, const std::string& targetName);

// A new empty file with a unique name and the prefix "Xml" in the system's folder for temporary
// files ($TMPDIR, else /tmp; on Windows GetTempPath's); "" on failure.
std::string MakeTempFile();

// What became of reading a whole file.
enum class ReadResult {
  kRead,     // out holds the file
  kMissing,  // nothing stands at the path
  kFailed,   // something does, but it is no regular file or could not be read
};

// Reads a whole regular file into out. Only regular files are read, and opening never waits, so
// a FIFO or a device standing at path cannot stall the caller. On failure out keeps what it held
// and reason says why, in the system's words.
ReadResult ReadWholeFile(const std::string& path, std::string& out, std::string& reason);

// The same, for callers to whom any failure is the same: false unless the file was read.
bool ReadWholeFile(const std::string& path, std::string& out);

// Creates or empties path and writes data; false on any failure.
bool WriteWholeFile(const std::string& path, const std::string& data);

// Replaces path with a file holding data, atomically: the data goes to a new file beside it,
// reaches the disk, and is then renamed over path; the folder is flushed after. On any failure path
// keeps what it held (or stays missing), nothing is left beside it, and the result is false. A new
// file gets the old one's permission bits, else 0644 (on Windows: its read-only, hidden and system
// attributes).
bool ReplaceFileContents(const std::string& path, const std::string& data);

// Opens path as fopen does with mode ("rb", "wb", "r+b"), the file kept from programs this
// process starts; nullptr on failure.
std::FILE* OpenFile(const std::string& path, const char* mode);

// Creates path anew for writing, never writing through whatever stood there: a regular file
// (even one with other names elsewhere) or a symbolic link (on Windows any reparse point) is
// removed first, the link itself and not what it names, and the new file is created exclusively
// without following a link (O_EXCL|O_NOFOLLOW, on Windows CREATE_NEW), with the permission bits
// of the regular file it replaces, else as fopen would. Anything else standing there (a folder, a
// device, a FIFO) is refused, neither removed nor written into. Kept from programs this process
// starts; nullptr on failure (also when something else took the name meanwhile).
std::FILE* CreateFileAnew(const std::string& path);

// Opens the regular file standing at path itself for reading and writing, cut to its first keep
// bytes and positioned at its start: only a regular file of at least keep bytes with no other
// name, reached without following a link (O_NOFOLLOW, on Windows no reparse point). Kept from
// programs this process starts; nullptr otherwise.
std::FILE* OpenKeptFile(const std::string& path, uint64_t keep);

// The size of the regular file standing at path itself, as OpenKeptFile would take it: a link is
// not followed (a symbolic link or reparse point is not taken), nor is a file with other names.
// False, size untouched, otherwise.
bool ProbeKeptFileSize(const std::string& path, int64_t& size);

// Cuts the file at path to size bytes, or extends it with zeros; false on failure.
bool ResizeFile(const std::string& path, uint64_t size);

// Moves file's position to offset bytes from its start, offsets beyond 2 GiB included; false on
// failure.
bool SeekFile(std::FILE* file, uint64_t offset);

// Deletes a file; false on failure.
bool DeleteFileAt(const std::string& path);

// The size of a regular file this process may read, taken without opening it: thousands are
// probed in a row, and a FIFO that is never opened cannot stall the caller. False, size
// untouched, when the file is missing, no regular file, or not readable (on Windows, whose
// access lists can only be judged by opening, a file is taken as readable).
bool ProbeFileSize(const std::string& path, int64_t& size);

// Creates one folder (its parent must exist), open to everyone the process's umask allows; false
// when it could not be made, which includes its being there already.
bool CreateFolder(const std::string& path);

// Flushes a folder's entries (renames and new names in it) to disk, so that they survive a power
// cut; false on failure. On Windows, where renames are written through as they happen, only a
// folder that cannot be opened fails.
bool FlushFolder(const std::string& folder);

// True when anything (a file, a folder, a link) stands at path.
bool PathTaken(const std::string& path);

// Deletes what ReplaceFileContents(path, ...) leaves beside path when the process is killed
// halfway: files named "." + path's name + "-" + six letters or digits. Nothing else.
void RemoveReplacementLeftovers(const std::string& path);

// True for a regular file that this process may execute: by its permission bits, on Windows by its
// suffix (.exe, .com, .bat, .cmd).
bool IsExecutableFile(const std::string& path);
