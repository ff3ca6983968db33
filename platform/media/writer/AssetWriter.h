#pragma once
// Writes video and audio sample buffers into one movie file (QuickTime or MPEG-4) through libavformat.
//
// Each input encodes on its own worker queue (H.264 with libx264, AAC with FFmpeg's encoder). A queue
// holds at most a few buffers: when it is full the input answers NO to isReadyForMoreMediaData and a
// buffer appended anyway is dropped, so a slow disk or encoder never makes memory grow without bound.
//
// With a movie fragment interval the movie is fragmented: an empty movie header is written at once and
// then one fragment about every interval, each starting on a key frame. Everything up to the last
// complete fragment stays playable when the writer never finishes (a crash, a full disk).

#include "platform/foundation/MediaTime.h"
#include "platform/foundation/MovieFileTypes.h"
#include "platform/media/io/MediaSettings.h"
#include "platform/media/io/SampleBuffer.h"

#include <QString>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class DispatchQueue;
class AssetWriter;
// The state the writer shares with its inputs' encoding queues: status, error, session times, the file.
struct AssetWriterCore;

// File types of recorded movies.
inline constexpr const char* kAVFileTypeQuickTimeMovie = kMovieFileTypeQuickTime;
inline constexpr const char* kAVFileTypeMPEG4 = kMovieFileTypeMPEG4;

enum AssetWriterStatus : long {
  AssetWriterStatusUnknown = 0,
  AssetWriterStatusWriting = 1,
  AssetWriterStatusCompleted = 2,
  AssetWriterStatusFailed = 3,
  AssetWriterStatusCancelled = 4,
};

// A failure of the writer: a short code (an FFmpeg error number, negative, or 0) and a readable text.
struct AssetWriterError {
  int code = 0;
  QString localizedDescription;
  bool isNull() const { return localizedDescription.isEmpty(); }
  QString description() const { return localizedDescription; }
};

class AssetWriterInput : public std::enable_shared_from_this<AssetWriterInput> {
 public:
  // The settings are checked when the input is added to a writer (AssetWriter::canApplyOutputSettings).
  static std::shared_ptr<AssetWriterInput> create(MediaType mediaType, const QVariantMap& outputSettings);
  ~AssetWriterInput();
  AssetWriterInput(const AssetWriterInput&) = delete;
  AssetWriterInput& operator=(const AssetWriterInput&) = delete;

  MediaType mediaType() const { return m_mediaType; }
  QVariantMap outputSettings() const { return m_settings; }
  bool expectsMediaDataInRealTime() const { return m_realTime; }
  void setExpectsMediaDataInRealTime(bool realTime) { m_realTime = realTime; }

  // YES while the writer writes, the input is not finished and its encoding queue has room.
  bool isReadyForMoreMediaData() const;
  // Queues the buffer for encoding. NO (and the buffer dropped, with a log line) when the input is not
  // ready; buffers before the session start or after its end are accepted and then left out.
  bool appendSampleBuffer(const SampleBufferRef& buffer);
  // No more buffers: the encoder is drained into the file on the input's queue.
  void markAsFinished();

  // How many buffers may wait for encoding: the bound of the queue.
  int queueCapacity() const { return m_capacity; }

  struct Encoder;  // the encoding state, private to the writer's source

 private:
  friend class AssetWriter;
  AssetWriterInput(MediaType mediaType, const QVariantMap& outputSettings);

  void encode(const SampleBufferRef& buffer);
  void drain();

  MediaType m_mediaType;
  QVariantMap m_settings;
  bool m_realTime = false;
  int m_capacity;
  std::shared_ptr<AssetWriterCore> m_core;  // set when added to a writer
  std::unique_ptr<Encoder> m_encoder;       // made by startWriting, then used only on m_queue
  std::atomic<int> m_pending{0};
  std::atomic<bool> m_finished{false};
  std::atomic<bool> m_dead{false};
  // Declared last so that it is the first member to go: its blocks never outlive the input.
  std::shared_ptr<DispatchQueue> m_queue;
};

class AssetWriter : public std::enable_shared_from_this<AssetWriter> {
 public:
  // A writer for the file at path with one of the file types above; nullptr (and the reason in error)
  // for an unknown file type. An existing file at the path is replaced when writing starts.
  static std::shared_ptr<AssetWriter> create(const QString& path, const QString& fileType,
                                             AssetWriterError* error = nullptr);
  ~AssetWriter();
  AssetWriter(const AssetWriter&) = delete;
  AssetWriter& operator=(const AssetWriter&) = delete;

  QString outputPath() const { return m_path; }
  QString outputFileType() const { return m_fileType; }

  // Whole seconds; an invalid or zero time writes an ordinary (unfragmented) movie. Set before writing.
  MediaTime movieFragmentInterval() const { return m_fragmentInterval; }
  void setMovieFragmentInterval(const MediaTime& interval) { m_fragmentInterval = interval; }

  bool canApplyOutputSettings(const QVariantMap& settings, MediaType mediaType) const;
  bool canAddInput(const std::shared_ptr<AssetWriterInput>& input) const;
  void addInput(const std::shared_ptr<AssetWriterInput>& input);
  std::vector<std::shared_ptr<AssetWriterInput>> inputs() const { return m_inputs; }

  // Opens the encoders and the file and writes the movie header. NO with status failed on an error.
  bool startWriting();
  // The source time that becomes time zero of the movie; earlier buffers are left out.
  void startSessionAtSourceTime(const MediaTime& startTime);
  // Buffers later than this source time are left out when they are encoded after this call.
  void endSessionAtSourceTime(const MediaTime& endTime);
  // Drains every input, writes the rest of the movie and closes the file on a worker thread, then
  // calls the handler there. The status is then completed, or failed with the error.
  void finishWritingWithCompletionHandler(std::function<void()> handler);
  // Stops at once; buffers still queued are dropped and the partly written file is removed.
  void cancelWriting();

  AssetWriterStatus status() const;
  AssetWriterError error() const;

 private:
  AssetWriter(const QString& path, const QString& fileType);

  QString m_path;
  QString m_fileType;
  MediaTime m_fragmentInterval = kMediaTimeInvalid;
  std::vector<std::shared_ptr<AssetWriterInput>> m_inputs;
  std::shared_ptr<AssetWriterCore> m_core;
};
