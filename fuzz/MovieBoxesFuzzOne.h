#pragma once
// One input of the movie-box fuzzer, shared by the libFuzzer target and the corpus replay test.
//
// Any bytes as a movie file: the walk over its boxes must end, and what it answers must lie inside the
// file (a readable length between 0 and the size, no fragments without a movie header first). Answers
// false when it does not.

#include "platform/media/asset/Asset.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

inline bool Fuzz_MovieBoxesOne(const uint8_t* data, size_t size) {
  QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::ReadOnly)) return false;
  const MovieFileLayout layout = Asset_ScanMovieData(buffer);
  if (layout.fileSize != static_cast<int64_t>(size)) return false;
  if (layout.readableLength < 0 || layout.readableLength > layout.fileSize) return false;
  if (layout.completeFragments < 0) return false;
  if (!layout.isBoxFile && (layout.readableLength != layout.fileSize || layout.completeFragments != 0)) return false;
  return true;
}
