#include "publish/zstd_frames.h"

#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "publish/posix_files.h"
#include "publish/publish_error.h"

namespace {

// Deleters for libzstd's contexts; any thread.
struct CContextFree {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
struct DContextFree {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

void Check(size_t result, const std::string& what, const std::string& path) {
  if (ZSTD_isError(result)) {
    throw PublishError("cannot " + what + " '" + path + "': " + ZSTD_getErrorName(result));
  }
}

}  // namespace

int WindowLogFor(uint64_t bytes, int cap) {
  int log = ZSTD_cParam_getBounds(ZSTD_c_windowLog).lowerBound;
  while (log < cap && (uint64_t{1} << log) < bytes) {
    ++log;
  }
  return log;
}

uint64_t CompressToFile(std::string_view content, std::string_view reference,
                        const FrameSettings& settings, const std::string& path) {
  std::unique_ptr<ZSTD_CCtx, CContextFree> context(ZSTD_createCCtx());
  if (!context) {
    throw PublishError("cannot make a compressor for '" + path + "': out of memory");
  }
  ZSTD_CCtx* c = context.get();
  const std::string what = "set up the compression of";
  Check(ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, settings.level), what, path);
  Check(ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, settings.windowLog), what, path);
  Check(ZSTD_CCtx_setParameter(c, ZSTD_c_enableLongDistanceMatching, 1), what, path);
  Check(ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 0), what, path);  // clients check h
  Check(ZSTD_CCtx_setParameter(c, ZSTD_c_nbWorkers, settings.workers), what, path);
  Check(ZSTD_CCtx_setPledgedSrcSize(c, content.size()), what, path);
  if (!reference.empty()) {
    Check(ZSTD_CCtx_refPrefix(c, reference.data(), reference.size()), what, path);
  }

  UniqueFd out = CreateForWriting(path);
  std::vector<char> buffer(ZSTD_CStreamOutSize());
  ZSTD_inBuffer input{content.data(), content.size(), 0};
  uint64_t written = 0;
  for (;;) {
    ZSTD_outBuffer output{buffer.data(), buffer.size(), 0};
    size_t left = ZSTD_compressStream2(c, &output, &input, ZSTD_e_end);
    Check(left, "compress into", path);
    WriteAll(out.get(), buffer.data(), output.pos, path);
    written += output.pos;
    if (left == 0) {
      break;
    }
  }
  FinishWriting(std::move(out), path);
  return written;
}

void DecompressFile(const std::string& path, std::string_view reference, uint64_t limit,
                    const FrameSink& sink) {
  std::unique_ptr<ZSTD_DCtx, DContextFree> context(ZSTD_createDCtx());
  if (!context) {
    throw PublishError("cannot make a decompressor for '" + path + "': out of memory");
  }
  ZSTD_DCtx* d = context.get();
  Check(ZSTD_DCtx_setParameter(d, ZSTD_d_windowLogMax, kMaxFrameWindowLog), "decompress", path);
  if (!reference.empty()) {
    Check(ZSTD_DCtx_refPrefix(d, reference.data(), reference.size()), "decompress", path);
  }
  UniqueFd in = OpenForReading(path);
  std::vector<char> inBuffer(ZSTD_DStreamInSize());
  std::vector<char> outBuffer(ZSTD_DStreamOutSize());
  uint64_t produced = 0;
  size_t pending = 1;  // libzstd's hint: 0 once the frame is complete
  for (;;) {
    ssize_t got = read(in.get(), inBuffer.data(), inBuffer.size());
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw PublishError(SystemErrorText("read", path, errno));
    }
    if (got == 0) {
      break;
    }
    if (pending == 0) {
      throw PublishError("'" + path + "' holds bytes after its frame");
    }
    ZSTD_inBuffer input{inBuffer.data(), static_cast<size_t>(got), 0};
    for (;;) {
      ZSTD_outBuffer output{outBuffer.data(), outBuffer.size(), 0};
      pending = ZSTD_decompressStream(d, &output, &input);
      Check(pending, "decompress", path);
      produced += output.pos;
      if (produced > limit) {
        throw PublishError("'" + path + "' decompresses to more than " + std::to_string(limit) +
                           " bytes");
      }
      sink(outBuffer.data(), output.pos);
      if (pending == 0) {
        if (input.pos < input.size) {
          throw PublishError("'" + path + "' holds bytes after its frame");
        }
        break;
      }
      // A full output buffer may leave more to flush from the same input.
      if (input.pos == input.size && output.pos < output.size) {
        break;
      }
    }
  }
  if (pending != 0) {
    throw PublishError("'" + path + "' ends inside its frame");
  }
}
