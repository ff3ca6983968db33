#pragma once
// The layout of a mov/mp4 file as its top-level boxes describe it: where the readable part ends (a
// movie still being written ends in a fragment only partly written), whether it is made of fragments,
// and how far each track's fragments reach. A walk keeps its place, so a file that grows is walked on
// from where the last walk ended: taking up a new fragment reads only what was appended.

#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QIODevice;
class MovieChunkReader;

struct MovieFileLayout {
  int64_t fileSize = 0;
  // Bytes that hold only complete top-level boxes (the whole file when it is not a box file).
  int64_t readableLength = 0;
  bool isBoxFile = false;           // an ISO base media (mov/mp4) file
  bool hasMovieExtends = false;     // moov holds mvex: the movie is made for fragments
  int completeFragments = 0;        // moof boxes whose media data lies fully in the readable part
  int64_t headerEnd = 0;            // the end of the movie box (0 before it is seen)
  // A finished fragmented movie (its fragment index closes the file): known without walking every
  // fragment, so the track ends below stay empty.
  bool finished = false;
  // Where the walk met a top-level box it could not believe and stopped: one whose size runs past the
  // end of the file (a movie cut short, or one still being written) or is smaller than its header; -1
  // when every box was whole.
  int64_t brokenBoxAt = -1;
  // A finished movie: where its last fragment begins, by its fragment index.
  int64_t lastFragmentAt = -1;
};

// The bytes of a movie's boxes that a walk read on its way: the movie's header and each fragment header
// with the header of its media data, in file order. A demuxer that opens the movie right after the walk
// reads them from here instead of asking the disk for every fragment header a second time.
struct MovieHeaderBytes {
  uint64_t device = 0, inode = 0;  // the file walked
  std::vector<std::pair<int64_t, std::string>> ranges;  // offset and bytes, in file order, not overlapping
  int64_t total = 0;                                     // bytes kept in all
};
using MovieHeaderBytesRef = std::shared_ptr<const MovieHeaderBytes>;

// Reads bytes of a file at any offset; the walk asks for a few KiB at each box.
class MovieByteSource {
 public:
  virtual ~MovieByteSource() = default;
  virtual int64_t size() const = 0;
  // Bytes read into buf (fewer at the end), or -1 on an error.
  virtual int64_t readAt(int64_t offset, char* buf, int64_t length) = 0;
};

class MovieLayoutWalk {
 public:
  // Walks on from where the last call ended up to the end of the bytes as they are now. False when
  // they are no longer the bytes walked before (shorter, or not a box file any more): start again.
  bool walkOn(MovieByteSource& source);
  const MovieFileLayout& layout() const { return m_layout; }
  // Where each track's complete fragments end (base decode time plus sample durations, in the track's
  // own time scale), by track ID. A track whose fragments could not all be read has no entry.
  const std::map<uint32_t, int64_t>& trackEnds() const { return m_trackEnds; }
  // Whether every complete fragment was read whole (a fragment header too large to read leaves the
  // ends unknown).
  bool knowsTrackEnds() const { return m_endsKnown; }
  // Offsets of the complete fragments' headers, in file order.
  const std::vector<int64_t>& fragmentStarts() const { return m_fragmentStarts; }
  // Where the fragment whose header is at `at` says each track's samples end (by track ID, in the
  // track's own time scale; only tracks whose fragment gives its base time), by the defaults of the movie
  // box walked. False when no fragment header that fits in the file stands there.
  bool fragmentEnds(MovieByteSource& source, int64_t at, std::map<uint32_t, int64_t>* ends) const;
  // While on, the walk keeps the header bytes it reads (see MovieHeaderBytes); takeHeaderBytes() hands
  // them over and stops keeping.
  void keepHeaderBytes() { m_kept = std::make_shared<MovieHeaderBytes>(); }
  std::shared_ptr<MovieHeaderBytes> takeHeaderBytes() { return std::move(m_kept); }

 private:
  bool U_ReadMovieBox(MovieChunkReader& in, int64_t at, int64_t size, int headerSize);
  void U_ReadFragmentHeader(MovieChunkReader& in, int64_t at, int64_t size);
  void U_Keep(MovieChunkReader& in, int64_t at, int64_t size);

  MovieFileLayout m_layout;
  int64_t m_at = 0;              // the next top-level box
  int64_t m_readable = 0;        // the end of the last complete box that is not a lone fragment header
  int64_t m_pendingMoof = -1;    // a fragment header whose media data has not been seen complete
  bool m_started = false;
  bool m_endsKnown = true;
  std::map<uint32_t, uint32_t> m_defaultDurations;  // trex, by track ID
  std::map<uint32_t, int64_t> m_trackEnds;
  std::map<uint32_t, int64_t> m_pendingEnds;        // of the pending fragment
  std::vector<int64_t> m_fragmentStarts;
  std::shared_ptr<MovieHeaderBytes> m_kept;
};

// Walks the top-level boxes of a mov/mp4 file. Every size read from the file is believed only up to the
// bytes that remain. A fragmented movie that was finished (a fragment index closing the file) is known
// from its first and last boxes, and its fragment headers are asked of the disk all at once, ahead of
// the demuxer that reads them one after the other.
MovieFileLayout Asset_ScanMovieFile(const QString& path);
// The layout of a finished fragmented movie from its fragment index alone (its fragment headers asked of
// the disk ahead, as above); a layout that is not `finished` when the file is anything else.
MovieFileLayout Asset_ScanFinishedMovieFile(const QString& path);
// The same walk over an open, seekable device (the file's bytes from its start).
MovieFileLayout Asset_ScanMovieData(QIODevice& device);
// Where the last fragment of a finished movie (the layout Asset_ScanMovieFile gave) says each track's
// samples end, as MovieLayoutWalk::fragmentEnds; empty when that cannot be read.
std::map<uint32_t, int64_t> Asset_LastFragmentEnds(const QString& path, const MovieFileLayout& layout);

// A byte source over a file descriptor (not taken).
class MovieFileSource : public MovieByteSource {
 public:
  explicit MovieFileSource(int fd);
  // Over a file whose size the caller has just learnt from the descriptor.
  MovieFileSource(int fd, int64_t size) : m_fd(fd), m_size(size) {}
  int64_t size() const override { return m_size; }
  int64_t readAt(int64_t offset, char* buf, int64_t length) override;

 private:
  int m_fd;
  int64_t m_size = 0;
};

// Reads from movie files (walks of their boxes and demuxers' reads through Asset_OpenInput) that went
// to the file, not to bytes kept in memory, since the process started (for tests and benchmarks).
int64_t Asset_MovieFileReads();
void Asset_CountMovieFileRead();

// Opens the movie file and walks it on with walk; *info gets what the opened file is. False when it
// cannot be opened (a FIFO in its place is refused at once) or the walk cannot go on over it.
bool Asset_WalkMovieFile(const QString& path, MovieLayoutWalk* walk, struct stat* info = nullptr);

// The fragments of a finished movie as its closing fragment index lists them (the moof offsets), or
// empty when the file does not end in a sound index.
std::vector<int64_t> Asset_FinishedFragmentIndex(MovieByteSource& source);
