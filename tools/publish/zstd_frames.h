#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// How one zstd frame is made.
struct FrameSettings {
  int level = 19;
  int windowLog = 27;  // the decoder needs a window of 2^windowLog bytes (capped by the content)
  int workers = 0;     // libzstd's own threads; 0 compresses on the calling thread
};

// The largest window a frame of the publisher's may declare: a patch's window covers its
// reference and its content, each at most 1 GiB. Decoders must accept it (ZSTD_d_windowLogMax).
constexpr int kMaxFrameWindowLog = 31;

// The smallest window log (at least libzstd's minimum) whose window holds `bytes`, at most cap.
int WindowLogFor(uint64_t bytes, int cap);

// Compresses content into one zstd frame at path (created or emptied, flushed to disk), with
// long-distance matching and the content's size in the frame header. With a reference, the frame
// is a patch: it decompresses to content only with reference given as the prefix (libzstd's
// ZSTD_CCtx_refPrefix, the method of zstd --patch-from). Returns the frame's length. Throws
// PublishError. Any thread; one call per thread at a time.
uint64_t CompressToFile(std::string_view content, std::string_view reference,
                        const FrameSettings& settings, const std::string& path);

// Receives decompressed bytes in order.
using FrameSink = std::function<void(const char* data, size_t size)>;

// Decompresses the single frame in the file at path (with reference as its prefix when it is a
// patch) into sink, accepting windows up to kMaxFrameWindowLog. Refuses output longer than limit,
// a damaged frame and trailing bytes. Throws PublishError. Any thread.
void DecompressFile(const std::string& path, std::string_view reference, uint64_t limit,
                    const FrameSink& sink);
