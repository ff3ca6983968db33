#pragma once
// The composition engine: turns the project's edits into a composition for display (built once and
// cached) and, for an export, into a composition, a video composition, an optional audio mix and a
// configured export session. Every project of the application is a ZRNAVCaptureProject, which supplies
// the composition itself.

#include "composition/ZRNSrcClip.h"
#include "platform/layers/CALayer.h"
#include "platform/media/asset/AudioMix.h"
#include "platform/media/asset/Composition.h"
#include "platform/media/export/ExportSession.h"
#include "platform/media/asset/VideoComposition.h"

#include <QList>
#include <QMap>
#include <QSizeF>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>

class ZRNImageOverlayEdit;
class ZRNSoundEdit;

class ZRNAVProject {
 public:
  ZRNAVProject();
  virtual ~ZRNAVProject();
  ZRNAVProject(const ZRNAVProject&) = delete;
  ZRNAVProject& operator=(const ZRNAVProject&) = delete;

  QSizeF videoSize() const { return m_videoSize; }
  void setVideoSize(const QSizeF& size) { m_videoSize = size; }
  bool disableAudio() const { return m_disableAudio; }
  void setDisableAudio(bool value) { m_disableAudio = value; }
  QList<ZRNEditRef>& edits() { return m_edits; }
  const QList<ZRNEditRef>& edits() const { return m_edits; }
  QString baseDirectory() const { return m_baseDirectory; }
  void setBaseDirectory(const QString& dir) { m_baseDirectory = dir; }
  // Source movies by key; null until the edit engine fills it.
  std::shared_ptr<QMap<QString, AssetRef>> assetsDict() const { return m_assetsDict; }
  void setAssetsDict(const std::shared_ptr<QMap<QString, AssetRef>>& dict) { m_assetsDict = dict; }

  // A new export session for the project's current state, or null when the preset is refused.
  // The caller sets the output file, file type and time range and starts it.
  AssetExportSessionRef makeExportable(const QString& presetName);
  // The display composition, built on first use and kept until U_ClearEdits.
  MutableCompositionRef editedComposition();
  // Seconds; 0.0 when the display composition holds no media.
  double duration();
  // The display audio mix, or null when no edit needs one.
  MutableAudioMixRef audioMix();
  bool needsAudioMix() const;
  bool needsSizeTransform() const;
  // One instruction over the whole composition showing its first video track unchanged.
  void buildPassThroughVideoComposition(const MutableVideoCompositionRef& videoComposition,
                                        const AssetRef& composition) const;
  // A file URL in the temporary directory that no file occupies yet ("TempMovie-.m4v", "TempMovie--1.m4v", ...).
  QUrl exportURL() const;

  // What the export being prepared is made of (null before the first makeExportable).
  MutableCompositionRef exportedComposition() const { return m_fExportedComposition; }
  MutableVideoCompositionRef exportedVideoComposition() const { return m_fExportedVideoComposition; }
  MutableAudioMixRef exportedAudioMix() const { return m_fExportedAudioMix; }

  // The edit engine: a project made from one edit-command dictionary ("width", "height",
  // "disableAudio", "clips", "graphics", "titles", "sounds") and source movies by key.
  void setSpecs(const QVariantMap& editCommands, const QMap<QString, AssetRef>& movies, const QString& baseDir);
  AssetRef assetForKey(const QString& key) const;
  AssetTrackRef videoTrackForKey(const QString& key) const;
  AssetTrackRef audioTrackForKey(const QString& key) const;
  void prepareForAssetAudioMix();
  bool clipsHaveSoundtrack() const;
  bool hasAudioEditsToMix() const;
  QList<ZRNEditRef> loadClipDictsArray(const QVariantList& commands) const;
  QList<ZRNEditRef> loadOverlayDictsArray(const QVariantList& commands) const;
  QList<ZRNEditRef> loadTitleDictsArray(const QVariantList& commands) const;
  QList<ZRNEditRef> loadSoundDictsArray(const QVariantList& commands) const;
  // Clips and speed-change clips, in edit-list order.
  bool hasVideoEdits() const { return !getVideoEdits().isEmpty(); }
  QList<ZRNEditRef> getVideoEdits() const;
  bool hasSoundEdits() const { return !getSoundEdits().isEmpty(); }
  QList<ZRNEditRef> getSoundEdits() const;
  // The source frame shown at a time of the edit list (exactly that frame when exact), or a null image.
  QImage copyFrameImageAtTime(int64_t millis, bool useExactTime) const;
  // A picture of videoSize with the frame at the time and the first active picture and title drawn on it.
  QImage frameImageForTime(int64_t millis, bool withText, bool withImages) const;

  // Operations a project kind replaces.
  virtual void loadEditCommands(const QVariantMap& editCommands);
  virtual void U_ClearEdits();
  virtual bool hasSoundTrack() const;
  virtual MutableCompositionRef U_NewClearCompositionWithSize(const QSizeF& size);
  virtual bool hasOverlayEdits() const;
  virtual QList<ZRNEditRef> getVideoOverlayEdits() const;
  virtual MutableCompositionRef createProjectCompositionForExport(bool forExport);
  virtual CALayerRef exportableOverlaysLayer();
  virtual CALayerRef displayOverlaysLayer();
  void U_ClearExportThings();

 protected:
  // The video composition of an export that resizes its sources; the resizing clip edits bring their own.
  virtual MutableVideoCompositionRef createVideoCompositionForExport(bool forExport);
  // Puts the overlay tree above a video layer in a parent layer of the export's size and hands them to
  // the video composition's animation tool, which composites them onto every frame.
  void U_AttachOverlaysLayer(const MutableVideoCompositionRef& videoComposition, const CALayerRef& layer,
                             const QSizeF& size);
  // What the export runs before each frame is composited, with the frame's time (the capture project
  // brings its score and match-time texts up to date there); nothing by default.
  virtual std::function<void(const MediaTime&)> U_ExportTimeUpdate(const QSizeF& size);
  // An overlay tree of the overlay edits for a composition of that size: the layers of the edits, each
  // filling the tree and bound to it by constraints.
  CALayerRef U_OverlayTreeForComposition(const AssetRef& composition, const QSizeF& size, bool exporting,
                                         bool flipped);
  // The tracks a project composition is built on: the main video and sound, and with added sound its
  // own track and the mix's parameters for both.
  struct ProjectTracks {
    MutableCompositionRef composition;
    MutableCompositionTrackRef video, audio, mixed;
    AudioMixInputParametersRef mainParams, mixedParams;
  };
  ProjectTracks U_NewProjectTracks();
  void U_InsertVideoEdits(const ProjectTracks& tracks) const;
  void U_InsertSoundEdits(const ProjectTracks& tracks) const;

  QSizeF m_videoSize{1280, 720};
  bool m_disableAudio = false;
  QList<ZRNEditRef> m_edits;
  QString m_baseDirectory;
  std::shared_ptr<QMap<QString, AssetRef>> m_assetsDict;
  CALayerRef m_fOverlaysLayer;
  MutableCompositionRef m_fEditedComposition;
  MutableCompositionRef m_fExportedComposition;
  MutableVideoCompositionRef m_fExportedVideoComposition;
  MutableAudioMixRef m_fAudioMix;
  MutableAudioMixRef m_fExportedAudioMix;
};
