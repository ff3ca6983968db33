#pragma once
// Writes an asset (a movie or a composition) into a new movie file.
// Pass-through copies the compressed samples unchanged; a range that starts between key frames begins
// at the key frame before it and the file's edit list hides the frames before the requested start, so
// the movie plays from exactly the requested frame. Highest quality decodes, composes the picture by the
// video composition, mixes the sound by the audio mix and encodes H.264 and AAC.
// The output is written beside the target under a temporary name and only renamed into place when the
// export completes, so a failed or cancelled export leaves no file at the output URL.

#include "platform/foundation/MediaTime.h"
#include "platform/foundation/MovieFileTypes.h"
#include "platform/media/asset/Asset.h"
#include "platform/media/asset/AudioMix.h"
#include "platform/media/asset/VideoComposition.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

inline constexpr const char* AVAssetExportPresetPassthrough = "AVAssetExportPresetPassthrough";
inline constexpr const char* AVAssetExportPresetHighestQuality = "AVAssetExportPresetHighestQuality";

// File types an export writes (the platform's identifiers for QuickTime, MPEG-4 and M4V movies).
inline constexpr const char* kExportFileTypeQuickTimeMovie = kMovieFileTypeQuickTime;
inline constexpr const char* kExportFileTypeMPEG4 = kMovieFileTypeMPEG4;
inline constexpr const char* kExportFileTypeM4V = "video/x-m4v";

// With the platform's numbers.
enum class AssetExportSessionStatus : int {
  Unknown = 0,
  Waiting = 1,
  Exporting = 2,
  Completed = 3,
  Failed = 4,
  Cancelled = 5,
};

class AssetExportSession : public std::enable_shared_from_this<AssetExportSession> {
 public:
  // Null for a null asset or a preset this platform does not have.
  static std::shared_ptr<AssetExportSession> exportSessionWithAsset(const AssetRef& asset, const QString& presetName);
  static QStringList allExportPresets();
  ~AssetExportSession();

  QString presetName() const { return m_presetName; }
  AssetRef asset() const { return m_asset; }
  QStringList supportedFileTypes() const;

  // Set these before exporting.
  QUrl outputURL() const;
  void setOutputURL(const QUrl& url);
  // Empty: chosen from the output file's extension (.mov QuickTime, anything else MPEG-4).
  QString outputFileType() const;
  void setOutputFileType(const QString& type);
  // The part of the asset to export; the default (zero start, infinite length) is all of it.
  MediaTimeRange timeRange() const;
  void setTimeRange(const MediaTimeRange& range);
  MutableVideoCompositionRef videoComposition() const;
  void setVideoComposition(const MutableVideoCompositionRef& vc);
  MutableAudioMixRef audioMix() const;
  void setAudioMix(const MutableAudioMixRef& mix);

  // Starts the export on a worker thread. The handler runs once, on that worker thread, after the
  // status has become Completed, Failed or Cancelled. A session exports only once.
  void exportAsynchronouslyWithCompletionHandler(std::function<void()> handler);
  AssetExportSessionStatus status() const { return AssetExportSessionStatus(m_status.load()); }
  // A readable reason when the status is Failed; empty otherwise.
  QString error() const;
  // From 0 to 1 while exporting; 1 once completed.
  float progress() const { return m_progress.load(); }
  // Stops a waiting or running export; its partial output is removed and the status becomes Cancelled.
  void cancelExport();
  // Cancels every export of the process that has started and not ended (at termination: the process
  // must not wait for them), each as cancelExport does.
  static void cancelAllExports();

  // Internal: the work's own view of the session.
  bool isCancelRequested() const { return m_cancelRequested.load(); }
  // Progress only rises (copied packets arrive in decode order, not in time order).
  void setProgress(float p) {
    float current = m_progress.load();
    while (p > current && !m_progress.compare_exchange_weak(current, p)) {
    }
  }

 private:
  AssetExportSession(const AssetRef& asset, const QString& presetName);
  void run();
  void finish(AssetExportSessionStatus status, const QString& error);

  AssetRef m_asset;
  QString m_presetName;
  mutable std::mutex m_mutex;
  QUrl m_outputURL;
  QString m_outputFileType;
  MediaTimeRange m_timeRange;
  MutableVideoCompositionRef m_videoComposition;
  MutableAudioMixRef m_audioMix;
  QString m_error;
  std::function<void()> m_handler;
  std::atomic<int> m_status{int(AssetExportSessionStatus::Unknown)};
  std::atomic<float> m_progress{0.0f};
  std::atomic<bool> m_cancelRequested{false};
  bool m_started = false;
};

using AssetExportSessionRef = std::shared_ptr<AssetExportSession>;
