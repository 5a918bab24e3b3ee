#pragma once

#include <string>

// One zstd frame of content as the publisher makes them (its size in the header, no checksum);
// with a reference, a patch that decodes only with the reference as its prefix.
std::string ZstdFrame(const std::string& content, const std::string& reference = "");

// A frame that declares a window of 2^windowLog bytes and holds content (at most 128 KiB) in one
// raw block, without its size in the header: the window a decoder must accept or refuse, at no
// cost.
std::string RawZstdFrame(const std::string& content, int windowLog);
