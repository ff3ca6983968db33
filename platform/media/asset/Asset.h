#pragma once
// Assets: a movie file (or a composition, see Composition.h) seen as a set of tracks with a duration.
// A file asset is probed with libavformat on a worker thread; the answers of asynchronous key loading
// arrive on the main queue. Every track describes where its samples live as a list of segments, so a
// player or an export reads a file asset and a composition the same way.

#include "platform/foundation/MediaTime.h"
#include "platform/media/asset/MovieLayout.h"
#include "platform/media/io/FFmpegUtil.h"
#include "platform/media/io/SampleBuffer.h"

#include <QList>
#include <QMap>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QTransform>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class Asset;
class AssetTrack;
using AssetRef = std::shared_ptr<Asset>;
using AssetTrackRef = std::shared_ptr<AssetTrack>;

// The keys an asset loads on request.
inline constexpr const char* kAssetKeyPlayable = "playable";
inline constexpr const char* kAssetKeyHasProtectedContent = "hasProtectedContent";
inline constexpr const char* kAssetKeyTracks = "tracks";
inline constexpr const char* kAssetKeyDuration = "duration";
inline constexpr const char* kAssetKeyCanContainFragments = "canContainFragments";
inline constexpr const char* kAssetKeyContainsFragments = "containsFragments";

// The status of one loaded key, with the platform's numbers.
enum class KeyValueStatus : int {
  Unknown = 0,
  Loading = 1,
  Loaded = 2,
  Failed = 3,
  Cancelled = 4,
};

// What a track's samples are: codec, four-character code, picture size or sound layout.
struct FormatDescription {
  QString mediaType;           // kMediaTypeVideo or kMediaTypeAudio
  QString codecName;           // libavcodec's name ("h264", "aac", ...)
  uint32_t mediaSubType = 0;   // four-character code ('avc1', 'mp4a', ...)
  QSize dimensions;            // video
  int sampleRate = 0;          // audio
  int channelCount = 0;        // audio
};

// Maps a stretch of a track's time line onto a stretch of its source (equal lengths unless scaled).
struct TimeMapping {
  MediaTimeRange source;
  MediaTimeRange target;
};

// Where one stretch of a track's samples comes from. An empty segment has no source and plays
// nothing (black picture, silence).
struct AssetTrackSegment {
  bool empty = true;
  TimeMapping timeMapping;
  // The source: a track of a movie file.
  QString sourcePath;
  int32_t sourceTrackID = 0;
  int sourceStreamIndex = -1;   // libavformat stream index in the source file
  int64_t sourceByteLimit = -1; // readable length of the source file, -1 for the whole file
};

// A track of an asset. File tracks are made by the probe; composition tracks (Composition.h) derive.
class AssetTrack {
 public:
  virtual ~AssetTrack() = default;

  QString mediaType() const { return m_mediaType; }
  bool hasMediaType(const QString& type) const { return m_mediaType == type; }
  int32_t trackID() const { return m_trackID; }
  virtual QSizeF naturalSize() const { return m_naturalSize; }
  virtual MediaTimeRange timeRange() const { return m_timeRange; }
  QList<FormatDescription> formatDescriptions() const { return m_formatDescriptions; }
  float nominalFrameRate() const { return m_nominalFrameRate; }
  QTransform preferredTransform() const { return m_preferredTransform; }
  // The asset the track belongs to (weak: tracks do not keep their asset).
  AssetRef asset() const { return m_asset.lock(); }

  // The track's time line as segments in time order. A file track has one segment: itself.
  virtual QList<AssetTrackSegment> segments() const;

  // Source of a file track (empty for composition tracks).
  QString sourcePath() const { return m_sourcePath; }
  int streamIndex() const { return m_streamIndex; }
  int64_t sourceByteLimit() const { return m_sourceByteLimit; }

 protected:
  AssetTrack() = default;
  friend class Asset;
  friend class FragmentedAsset;

  QString m_mediaType;
  int32_t m_trackID = 0;
  QSizeF m_naturalSize;
  MediaTimeRange m_timeRange = kMediaTimeRangeZero;
  QList<FormatDescription> m_formatDescriptions;
  float m_nominalFrameRate = 0.0f;
  QTransform m_preferredTransform;
  std::weak_ptr<Asset> m_asset;
  QString m_sourcePath;
  int m_streamIndex = -1;
  int64_t m_sourceByteLimit = -1;
};

// Where a file track's time range came from: the stream's own numbers, in its ticks.
struct AssetProbeTiming {
  int streamIndex = -1;
  uint32_t trackID = 0;
  int timescale = 0;     // the stream's time base is 1/timescale
  int64_t start = 0;     // first presentation time
  int64_t duration = 0;
};

// How much of a movie made of fragments could be read, when not all of it could: a top-level box whose
// size runs past the end of the file or is smaller than its header ends what is read, and so does a
// damaged fragment header that the demuxer stops at before the last fragment of a finished movie.
struct AssetReadablePart {
  bool whole = true;
  int64_t readableBytes = 0;  // the file's bytes up to where reading stopped
  int64_t fileBytes = 0;
  // The movie's length by its last fragment, when the fragment index that closes the file names it.
  MediaTime declaredDuration = kMediaTimeInvalid;
};

// A movie file as the media platform sees it.
class Asset : public std::enable_shared_from_this<Asset> {
 public:
  virtual ~Asset();
  Asset(const Asset&) = delete;
  Asset& operator=(const Asset&) = delete;

  // An asset for a local movie file (a file URL or a path). Nothing is read until a key is needed.
  static AssetRef assetWithURL(const QUrl& url);
  static AssetRef assetWithPath(const QString& path);

  QUrl URL() const { return m_url; }

  // Loads the keys on a worker thread and calls the completion once on the main queue when every key
  // has a final status. Unknown keys end Failed. Keys already loaded are answered without a new probe.
  void loadValuesAsynchronouslyForKeys(const QStringList& keys, std::function<void()> completion);
  // The status of a key and, when it failed, a readable reason.
  KeyValueStatus statusOfValueForKey(const QString& key, QString* error = nullptr) const;
  void cancelLoading();

  // The values. When a key has not been loaded yet these probe the file synchronously first.
  virtual QList<AssetTrackRef> tracks() const;
  QList<AssetTrackRef> tracksWithMediaType(const QString& mediaType) const;
  AssetTrackRef trackWithTrackID(int32_t trackID) const;
  virtual MediaTime duration() const;
  // The natural size of the first video track (zero when there is none).
  virtual QSizeF naturalSize() const;
  virtual bool isPlayable() const;
  // Nothing here is ever protected.
  bool hasProtectedContent() const { return false; }
  // YES when the movie is laid out for fragments (a movie-extends box), and when fragments are present.
  virtual bool canContainFragments() const;
  virtual bool containsFragments() const;
  // Whether the whole movie could be read, and how much of it when not.
  AssetReadablePart readablePart() const;
  // YES for the movie of a recording that ended before its first frame was written, which is empty, not
  // damaged: a file of no bytes, or a whole movie whose header announces a video track and which holds
  // no fragment and not one sample. Any movie that is damaged or cannot be read answers NO.
  bool holdsNoFrame() const;

 protected:
  explicit Asset(const QUrl& url);

  // Reads the file's tracks now (on the calling thread) and replaces what was known.
  virtual void probe() const;
  void ensureProbed() const;

  struct ProbeResult {
    bool done = false;
    bool ok = false;
    QString error;
    QList<AssetTrackRef> tracks;
    MediaTime duration = kMediaTimeZero;
    bool canContainFragments = false;
    bool containsFragments = false;
    // Where each track's numbers came from, so that a longer movie can be taken up without a new probe.
    std::vector<AssetProbeTiming> timings;
    int64_t byteLimit = -1;
    AssetReadablePart readablePart;
    bool holdsNoFrame = false;
  };
  ProbeResult probeResult() const;
  // The probe of probe(); with a walk, the file's layout comes from walking it afresh with that walk,
  // which is left where it ended (a growing movie is walked on from there), unless the movie is finished
  // (closed by its fragment index): then it is known from that index and the walk is not started.
  // Answers the layout it went by.
  MovieFileLayout probeFile(MovieLayoutWalk* walk) const;
  // Replaces what was known.
  void setProbeResult(const ProbeResult& result) const;
  // Marks every key as loaded or failed from the probe's outcome.
  void publishProbe(const ProbeResult& result) const;
  // What a walk of the file's boxes tells of the part that can be read (a movie still growing ends in a
  // box that runs past the end of the file as well).
  static AssetReadablePart U_WalkedPart(const MovieFileLayout& layout);

  // The tracks of an open input, with the numbers they came from. False, with the reason, when the
  // movie has pictures but not one of its video streams can be decoded: it opens, and shows nothing.
  static bool U_ReadTracks(const AVFormatContext* ctx, const QString& path, int64_t limit, QList<AssetTrackRef>* tracks,
                           std::vector<AssetProbeTiming>* timings, MediaTime* longest, QString* error);

  QUrl m_url;
  mutable std::mutex m_mutex;
  mutable ProbeResult m_probe;
  mutable QMap<QString, KeyValueStatus> m_status;
  bool m_cancelled = false;
};

// Opens a file for demuxing, reading at most byteLimit bytes (-1 for all): every reader of movie files
// (probe, player, export) opens them here. Returns empty and sets the error text on failure.
// findStreamInfo NO skips reading packets to learn what the header does not say (enough for mov/mp4
// files a probe has already accepted).
// With the header bytes a walk of the same file (same device and inode) kept, the demuxer reads those
// from memory: opening the movie then reads its fragment headers from the disk once, in the walk.
FFmpegInputPtr Asset_OpenInput(const QString& path, int64_t byteLimit, QString* error, bool findStreamInfo = true,
                               MovieHeaderBytesRef headers = nullptr);
// Opening a long fragmented movie reads every fragment header, so an input that one reader is done
// with is parked for the next reader of the same readable part of the same file (the probe's for the
// player or an export). Asset_TakeInput answers a parked input (positioned anywhere: seek before
// reading) or opens a new one; Asset_ParkInput keeps a few for a short while.
FFmpegInputPtr Asset_TakeInput(const QString& path, int64_t byteLimit, QString* error, bool findStreamInfo = true,
                               MovieHeaderBytesRef headers = nullptr);
// An input over the part of a growing movie that an earlier reader had not reached: the movie's header
// and its fragments from the last one that begins before readUpTo (where that reader's readable length
// ended) up to byteLimit. Its times are the movie's own; nothing before that fragment can be read.
// Empty when the movie's fragments have not been walked in this process (open it whole instead).
FFmpegInputPtr Asset_OpenGrownInput(const QString& path, int64_t readUpTo, int64_t byteLimit, QString* error);
// Remembers where a walked movie's fragments start, for Asset_OpenGrownInput; device and inode are those
// of the file walked.
void Asset_NoteLayout(const QString& path, uint64_t device, uint64_t inode, const MovieLayoutWalk& walk);
void Asset_ParkInput(const QString& path, int64_t byteLimit, FFmpegInputPtr input, bool hasStreamInfo);
// Inputs opened by Asset_OpenInput since the process started, and of those by Asset_OpenGrownInput
// (for tests and benchmarks).
int64_t Asset_InputsOpened();
int64_t Asset_GrownInputsOpened();
