#pragma once
// The decoding stage of the player. A Decoder owns one thread, one libavformat reader per source file
// and a short queue of decoded output in item time. The player's clock never lives here: the decoder only
// runs ahead of whatever time it was last sent to, and the player takes from its queue.
//
// An item's timeline is a list of segments: a range of a movie file shown at a range of the item, or an
// empty range that shows black and plays silence. A plain movie is one segment covering the whole file.

#include "platform/foundation/MediaTime.h"
#include "platform/media/io/FFmpegUtil.h"
#include "platform/media/io/SampleBuffer.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct PlayerSegment {
  QString sourcePath;  // empty for an empty range
  MediaTimeRange sourceRange;
  MediaTimeRange targetRange;
  // Bytes of the source that may be read (a file still being written ends in a partial fragment);
  // -1 for the whole file.
  int64_t sourceByteLimit = -1;
  bool isEmpty() const { return sourcePath.isEmpty(); }
};

// What one movie file offers, read with libavformat.
struct MediaSourceInfo {
  bool ok = false;
  QString error;
  MediaTime duration = kMediaTimeInvalid;
  bool hasVideo = false;
  bool hasAudio = false;
  QSize videoSize;
  MediaTime frameDuration = kMediaTimeInvalid;
};
// The input read is left parked for the decoder that reads the same bytes next (Asset_ParkInput).
MediaSourceInfo Decoder_ProbeFile(const QString& path, int64_t byteLimit = -1);

// The audio format the decoder resamples to: interleaved signed 16-bit.
struct DecoderAudioFormat {
  int sampleRate = 48000;
  int channels = 2;
  int bytesPerFrame() const { return channels * 2; }
};

// One unit of decoded output at an item time. Video: a picture (a null buffer is the black of an empty
// range). Audio: interleaved PCM in the decoder's audio format.
struct DecodedUnit {
  SampleBufferRef picture;
  QByteArray pcm;
  MediaTime itemTime;
  MediaTime duration;
};

class MediaFileReader;

class Decoder {
 public:
  // Called on the decoder thread whenever new output is queued or the end is reached.
  using ReadyHandler = std::function<void()>;

  Decoder(MediaType type, std::vector<PlayerSegment> segments, DecoderAudioFormat audioFormat = {});
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  MediaType mediaType() const { return m_type; }
  void setReadyHandler(ReadyHandler handler);

  // Drops all queued output and decodes again from the item time. Output earlier than
  // target - toleranceBefore is decoded and thrown away, so a zero tolerance gives the very frame shown
  // at the target: the decoder starts at the key frame before it and works forward.
  void seek(const MediaTime& target, const MediaTime& toleranceBefore);

  // The first queued unit without removing it; false when none is queued yet.
  bool peek(DecodedUnit& unit) const;
  bool pop(DecodedUnit& unit);
  // Removes audio bytes from the front unit (after a partial read) and moves its time on.
  void consumeAudioBytes(int bytes);
  // True once every segment is decoded and the queue is empty.
  bool atEnd() const;
  // The same segments reaching further: a movie still being written has grown (longer ranges, a larger
  // readable length). Decoding carries on after the last unit it queued, without a seek and without
  // decoding anything twice that it has already handed out.
  void extendSegments(std::vector<PlayerSegment> segments);
  // True while the output of the last seek has not started to arrive.
  bool isSeeking() const;
  int queuedCount() const;

 private:
  void run();
  void produceOne();
  void startSegment(size_t index, const MediaTime& dropBefore);
  void advanceSegment();
  // The reader of the segment's file at its readable length, able to read from sourceTime on (any
  // time when invalid).
  MediaFileReader* readerFor(const PlayerSegment& segment, const MediaTime& sourceTime = kMediaTimeInvalid);
  // Decoder thread: takes up segments handed over by extendSegments.
  void applyGrowth();
  // Answers whether decoding goes on with the grown segments.
  bool U_TakeUpGrowth(std::vector<PlayerSegment> segments);
  // Decoder thread: reads the current segment on from where the queued output ends, through a reader
  // opened on the segment's readable length now.
  void resumeGrownSegment();
  bool push(DecodedUnit unit, uint64_t generation);
  bool hasRoomLocked() const;
  // Whether the decoder thread should decode more now: pictures are decoded in runs, from a queue half
  // empty up to a full one, so that the thread and its helpers wake a few times a second rather than
  // for every picture.
  bool wantsMoreLocked();
  void emitAudio(const uint8_t* const* data, int samples, const PlayerSegment& segment, const MediaTime& itemTime,
                 uint64_t generation);

  const MediaType m_type;
  // Read and replaced on the decoder thread only; extendSegments hands new ones over through m_grown.
  std::vector<PlayerSegment> m_segments;
  const DecoderAudioFormat m_audioFormat;

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<DecodedUnit> m_queue;
  bool m_stop = false;
  bool m_seekRequested = false;
  bool m_seeking = false;
  bool m_decodedAll = false;
  MediaTime m_seekTarget = kMediaTimeZero;
  MediaTime m_seekDropBefore = kMediaTimeZero;
  uint64_t m_generation = 0;
  ReadyHandler m_ready;
  std::vector<PlayerSegment> m_grown;
  bool m_hasGrown = false;
  bool m_refilling = true;

  // Decoder-thread state.
  std::vector<std::unique_ptr<MediaFileReader>> m_readers;
  // The reader the current segment is read through: it keeps reading up to its own readable length
  // when the segment has grown meanwhile, so that it never goes back.
  MediaFileReader* m_active = nullptr;
  size_t m_segmentIndex = 0;
  MediaTime m_dropBefore = kMediaTimeZero;
  // Item time up to which output has been queued since the last seek (where a grown source resumes).
  MediaTime m_queuedUntil = kMediaTimeInvalid;
  bool m_threadAtEnd = false;
  uint64_t m_threadGeneration = 0;
  FFmpegResampler m_resampler;

  std::thread m_thread;
};
