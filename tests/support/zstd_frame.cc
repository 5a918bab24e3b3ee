#include "support/zstd_frame.h"

#include <gtest/gtest.h>
#include <zstd.h>

std::string ZstdFrame(const std::string& content, const std::string& reference) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, 19);
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 0);
  if (!reference.empty()) {
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, 27);
    ZSTD_CCtx_refPrefix(context, reference.data(), reference.size());
  }
  std::string frame(ZSTD_compressBound(content.size()), '\0');
  const size_t size =
      ZSTD_compress2(context, frame.data(), frame.size(), content.data(), content.size());
  ZSTD_freeCCtx(context);
  EXPECT_FALSE(ZSTD_isError(size));
  frame.resize(ZSTD_isError(size) ? 0 : size);
  return frame;
}

std::string RawZstdFrame(const std::string& content, int windowLog) {
  // Magic number; a descriptor with no content size, no single segment, no checksum; the window's
  // exponent; one last raw block.
  std::string frame = "\x28\xB5\x2F\xFD";
  frame += '\0';
  frame += static_cast<char>((windowLog - 10) << 3);
  const size_t header = content.size() << 3 | 1;
  for (int i = 0; i < 3; ++i) {
    frame += static_cast<char>(header >> (8 * i) & 0xFF);
  }
  return frame + content;
}
