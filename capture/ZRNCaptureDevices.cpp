#include "capture/ZRNCaptureDevices.h"

#include "common/ZRNAlerts.h"
#include "common/ZRNAppHost.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNLogger.h"
#include "capture/ZRNWaitingForDeviceWC.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/gui/DialogRunner.h"
#include "platform/media/capture/AudioDevices.h"

#include <QComboBox>
#include <QStringList>

#include <cmath>

namespace {


template <typename... Args>
void ExtraLog(const QString& format, const Args&... args) {
  if (Prefs_Shared().hasExtraLogs()) ZRNLogger_Log(format, args...);
}

// Descending exchange sort: a later item strictly greater than the one at i takes its place, and the
// comparison goes on with the new item at i. Equal items are never exchanged.
template <typename T, typename Greater>
void ExchangeSort(T& items, Greater greater) {
  const qsizetype n = qsizetype(items.size());
  for (qsizetype i = 0; i < n; ++i)
    for (qsizetype j = i + 1; j < n; ++j)
      if (greater(items[j], items[i])) std::swap(items[i], items[j]);
}

QString FormatsText(const std::vector<CaptureDeviceFormatRef>& formats) {
  QStringList parts;
  for (const auto& f : formats) parts << f->description();
  return QStringLiteral("(") + parts.join(QStringLiteral(",\n")) + QStringLiteral(")");
}

QString DictsText(const std::vector<CaptureFormatDictionary>& dicts) {
  QStringList parts;
  for (const auto& d : dicts) {
    QString s = Fmt("{formatIndex = %ld; deviceFormat = %@", d.formatIndex, d.deviceFormat ? d.deviceFormat->description() : QString());
    if (d.menuSize) s += QStringLiteral("; menuSize = 1");
    if (d.savedSize) s += Fmt("; savedSize = %llu", static_cast<unsigned long long>(*d.savedSize));
    if (d.mediaSubType) s += Fmt("; mediaSubType = %u", *d.mediaSubType);
    parts << s + QStringLiteral("}");
  }
  return QStringLiteral("(") + parts.join(QStringLiteral(",\n")) + QStringLiteral(")");
}

uint64_t FormatSizeKey(const CaptureDeviceFormat& f) {
  return CapDev_SizeKey(uint64_t(std::max(0, f.dimensions.width())), uint64_t(std::max(0, f.dimensions.height())));
}

// Positions in a size list of the saved key (the last equal one), the smallest and the largest key,
// and the position they choose: the exact one, else the smallest when the saved key is below every
// size, the largest when it is above every size, and 0 (the largest) when it lies between sizes.
long ChooseSizePosition(const std::vector<uint64_t>& sizes, uint64_t savedKey) {
  long exact = -1, smallestPos = -1, largestPos = -1;
  uint64_t smallest = 100000000000ULL, largest = 0;
  for (size_t i = 0; i < sizes.size(); ++i) {
    const uint64_t key = sizes[i];
    if (key == savedKey) exact = long(i);
    if (key < smallest) {
      smallest = key;
      smallestPos = long(i);
    }
    if (key > largest) {
      largest = key;
      largestPos = long(i);
    }
  }
  long position = exact;
  if (smallest > savedKey) position = smallestPos;
  if (largest < savedKey) position = largestPos;
  return position < 0 ? 0 : position;
}

void StoreChosenSize(long position) {
  auto& lists = CapDev_DeviceLists();
  const uint64_t key = lists.sizesArray[size_t(position)];
  Prefs_Shared().setCapturePresetIndex(position);
  Prefs_Shared().setMovieSize(QSizeF(double(CapDev_SizeKeyWidth(key)), double(CapDev_SizeKeyHeight(key))));
  if (size_t(position) < lists.formatsDictsArray.size() && lists.formatsDictsArray[size_t(position)].mediaSubType)
    Prefs_Shared().setCaptureMediaSubType(*lists.formatsDictsArray[size_t(position)].mediaSubType);
}

QString FoldForComparison(const QString& s) {
  // Compatibility decomposition folds full- and half-width forms; dropping the combining marks then
  // ignores diacritics. Case stays significant.
  const QString decomposed = s.normalized(QString::NormalizationForm_KD);
  QString out;
  out.reserve(decomposed.size());
  for (QChar c : decomposed)
    if (c.category() != QChar::Mark_NonSpacing && c.category() != QChar::Mark_SpacingCombining &&
        c.category() != QChar::Mark_Enclosing)
      out.append(c);
  return out;
}

MediaType MediaTypeFromName(const QString& name) {
  return name == QLatin1String(kMediaTypeAudio) ? MediaType::Audio : MediaType::Video;
}

}  // namespace

uint64_t CapDev_SizeKey(uint64_t width, uint64_t height) { return width * kCapDev_SizeKeyFactor + height; }

uint64_t CapDev_SizeKeyForSize(double width, double height) {
  const uint64_t w = width > 0 ? uint64_t(width) : 0;
  const uint64_t h = height > 0 ? uint64_t(height) : 0;
  return w * kCapDev_SizeKeyFactor + h;
}

ZRNCaptureDeviceLists& CapDev_DeviceLists() {
  static ZRNCaptureDeviceLists lists;
  return lists;
}

long CapDev_IndexOfDeviceWithUID(MediaType mediaType, const QString& uniqueID) {
  const auto devices = CaptureDevice::devicesWithMediaType(mediaType);
  if (devices.empty()) return -2;
  if (uniqueID.isEmpty()) return 0;
  for (size_t i = 0; i < devices.size(); ++i)
    if (devices[i]->uniqueID() == uniqueID) return long(i);
  return -1;
}

qint64 CapDev_IndexOfDeviceWithUID(const QString& mediaType, const QString& uniqueID) {
  return CapDev_IndexOfDeviceWithUID(MediaTypeFromName(mediaType), uniqueID);
}

CaptureDeviceRef CapDev_DeviceWithUID(MediaType mediaType, const QString& uniqueID) {
  if (uniqueID.isEmpty()) return nullptr;
  for (const auto& d : CaptureDevice::devicesWithMediaType(mediaType))
    if (d->uniqueID() == uniqueID) return d;
  return nullptr;
}

QString CapDev_DeviceNameForUID(MediaType mediaType, const QString& uniqueID) {
  const auto device = CapDev_DeviceWithUID(mediaType, uniqueID);
  return device ? device->localizedName() : uniqueID;
}

bool CapDev_IsAcceptedVideoSubType(uint32_t subtype) {
  switch (subtype) {
    case kPixelFormat_2vuy:
    case kPixelFormat_420v:
    case kPixelFormat_v210:
    case kPixelFormat_v410:
    case kPixelFormat_yuvs:
      return true;
    case kPixelFormat_32ARGB:
    case kPixelFormat_dmb1:
      return Prefs_Shared().hasCameraHeuristics();
    default:
      return false;
  }
}

bool CapDev_IsBuiltInMicrophone(const CaptureDeviceRef& device) {
  if (!device) return false;
  return device->uniqueID() == QLatin1String(kBuiltInMicrophoneUID) ||
         device->localizedName() == QLatin1String(kBuiltInMicrophoneName);
}

bool CapDev_IsHD60SPlusCamera(const QString& cameraUID) {
  const auto camera = CapDev_DeviceWithUID(MediaType::Video, cameraUID);
  if (!camera) return false;
  return camera->modelID().contains(QLatin1String("VendorID_4057")) &&
         camera->localizedName().contains(QLatin1String("HD60")) && camera->localizedName().contains(QLatin1String("S+"));
}

void CapDev_SortFrameRateRanges(QList<FrameRateRange>& ranges) {
  ExchangeSort(ranges, [](const FrameRateRange& a, const FrameRateRange& b) { return a.minFrameRate > b.minFrameRate; });
}

QList<QVariantMap> CapDev_FrameRateRangesForSize(uint64_t sizeKey, const std::vector<CaptureFormatDictionary>& dicts) {
  QList<QVariantMap> result;
  for (const auto& d : dicts) {
    if (!d.menuSize || !d.savedSize || *d.savedSize != sizeKey || !d.deviceFormat) continue;
    QList<FrameRateRange> ranges = d.deviceFormat->videoSupportedFrameRateRanges;
    CapDev_SortFrameRateRanges(ranges);
    for (const FrameRateRange& r : ranges) {
      QVariantMap m;
      m.insert(QStringLiteral("minFrameRate"), r.minFrameRate);
      if (r.maxFrameRate != r.minFrameRate) m.insert(QStringLiteral("maxFrameRate"), r.maxFrameRate);
      result << m;
    }
    break;
  }
  return result;
}

QString CapDev_FrameRatesText(uint64_t sizeKey, const std::vector<CaptureFormatDictionary>& dicts) {
  QStringList parts;
  for (const QVariantMap& m : CapDev_FrameRateRangesForSize(sizeKey, dicts)) {
    const double minRate = m.value(QStringLiteral("minFrameRate")).toDouble();
    if (m.contains(QStringLiteral("maxFrameRate")))
      parts << Fmt("%.2lf-%.2lf", minRate, m.value(QStringLiteral("maxFrameRate")).toDouble());
    else
      parts << Fmt("%.2lf", minRate);
  }
  return parts.join(QStringLiteral(", "));
}

void CapDev_FrameRatesTextFixingFPS(uint64_t sizeKey) {
  CaptureDeviceFormatRef format;
  for (const auto& d : CapDev_DeviceLists().formatsDictsArray)
    if (d.menuSize && d.savedSize && *d.savedSize == sizeKey) format = d.deviceFormat;
  // Without a format of that size (or one without rates) there is nothing to clamp into; clamping
  // into the empty bounds would set the rate to 0.
  if (!format || format->videoSupportedFrameRateRanges.isEmpty()) return;
  double lowest = 1e7, highest = 0;
  for (const FrameRateRange& r : format->videoSupportedFrameRateRanges) {
    lowest = std::min(lowest, r.minFrameRate);
    highest = std::max(highest, r.maxFrameRate);
  }
  float fps = Prefs_Shared().captureFPS();
  if (lowest > fps) fps = float(lowest);
  if (fps > highest) fps = float(highest);
  Prefs_Shared().setCaptureFPS(fps);
}

std::vector<CaptureFormatDictionary> CapDev_MakeFormatDicts(const CaptureDeviceRef& camera, std::vector<uint64_t>* sizesOut) {
  std::vector<CaptureFormatDictionary> dicts;
  std::vector<uint64_t> sizes;
  if (camera) {
    const auto& formats = camera->formats();
    for (size_t i = 0; i < formats.size(); ++i) dicts.push_back({long(i), formats[i], false, std::nullopt, std::nullopt});
  }
  ExtraLog("-- curr format dicts: %@", DictsText(dicts));
  for (auto& d : dicts) {
    if (!CapDev_IsAcceptedVideoSubType(d.deviceFormat->mediaSubType)) continue;
    const uint64_t key = FormatSizeKey(*d.deviceFormat);
    if (std::find(sizes.begin(), sizes.end(), key) != sizes.end()) continue;
    sizes.push_back(key);
    d.menuSize = true;
    d.savedSize = key;
    d.mediaSubType = d.deviceFormat->mediaSubType;
  }
  ExchangeSort(sizes, [](uint64_t a, uint64_t b) { return a > b; });
  // The first n dictionaries become the menu entries, in the order of the size list.
  for (size_t i = 0; i < sizes.size(); ++i) {
    for (size_t j = i; j < dicts.size(); ++j) {
      if (dicts[j].menuSize && dicts[j].savedSize == sizes[i]) {
        CaptureFormatDictionary moved = dicts[j];
        dicts.erase(dicts.begin() + long(j));
        dicts.insert(dicts.begin() + long(i), moved);
        break;
      }
    }
  }
  if (sizesOut) *sizesOut = sizes;
  return dicts;
}

void CapDev_BuildFormatDicts(const CaptureDeviceRef& camera) {
  auto& lists = CapDev_DeviceLists();
  std::vector<uint64_t> sizes;
  lists.formatsDictsArray = CapDev_MakeFormatDicts(camera, &sizes);
  lists.sizesArray = sizes;
  if (sizes.empty()) {
    // Nothing of this camera can be recorded: keep the saved size and rate for a better camera.
    ZRNLogger_Log("ATT: camera '%@' offers no format that can be recorded", camera ? camera->localizedName() : QString());
    return;
  }
  const QSizeF saved = Prefs_Shared().movieSize();
  const long position = ChooseSizePosition(sizes, CapDev_SizeKeyForSize(saved.width(), saved.height()));
  StoreChosenSize(position);
  CapDev_FrameRatesTextFixingFPS(sizes[size_t(position)]);
  Prefs_Shared().synchronize();
}

void CapDev_FillSizesMenu(QComboBox* popup, double savedWidth, double savedHeight) {
  auto& lists = CapDev_DeviceLists();
  if (lists.sizesArray.empty() || !popup) return;
  for (uint64_t key : lists.sizesArray)
    popup->addItem(Fmt("%ld x %ld", long(CapDev_SizeKeyWidth(key)), long(CapDev_SizeKeyHeight(key))));
  StoreChosenSize(ChooseSizePosition(lists.sizesArray, CapDev_SizeKeyForSize(savedWidth, savedHeight)));
}

std::vector<CaptureDeviceRef> CapDev_ValidateSavedCameraFormat() {
  std::vector<CaptureDeviceRef> cameras = CaptureDevice::devicesWithMediaType(MediaType::Video);
  if (cameras.empty()) return cameras;  // nothing to validate against; the saved choice stays
  const QString savedUID = Prefs_Shared().cameraUID();
  long position = -1;
  if (!savedUID.isEmpty())
    for (size_t i = 0; i < cameras.size(); ++i)
      if (cameras[i]->uniqueID() == savedUID) position = long(i);
  if (position < 0) position = 0;
  const CaptureDeviceRef camera = cameras[size_t(position)];
  ExtraLog("--  saved camera %ld formats: %@", position, FormatsText(camera->formats()));

  const QSizeF saved = Prefs_Shared().movieSize();
  const double savedRate = Prefs_Shared().captureFPS();
  bool sizeOK = false, rateOK = false;
  for (const auto& f : camera->formats()) {
    if (!CapDev_IsAcceptedVideoSubType(f->mediaSubType)) continue;
    if (f->dimensions.width() == saved.width() && f->dimensions.height() == saved.height()) sizeOK = true;
    for (const FrameRateRange& r : f->videoSupportedFrameRateRanges)
      if (r.minFrameRate <= savedRate && savedRate <= r.maxFrameRate) rateOK = true;
  }
  ExtraLog("--  saved size: %@, rate: %@", sizeOK ? "OK" : "--", rateOK ? "OK" : "--");

  if (!(sizeOK && rateOK)) {
    CaptureDeviceFormatRef candidate;
    double rate = savedRate;
    for (const auto& f : camera->formats()) {
      if (!CapDev_IsAcceptedVideoSubType(f->mediaSubType)) continue;
      // Only the width decides; on equal distance the later format wins.
      if (candidate && std::abs(f->dimensions.width() - saved.width()) > std::abs(candidate->dimensions.width() - saved.width()))
        continue;
      candidate = f;
      if (!rateOK) {
        double nearest = -1, best = 0;
        for (const FrameRateRange& r : f->videoSupportedFrameRateRanges) {
          const double distance = std::abs(r.maxFrameRate - savedRate);
          if (nearest < 0 || distance < nearest) {
            nearest = distance;
            best = r.maxFrameRate;
          }
        }
        if (nearest >= 0) rate = best;
      }
    }
    if (candidate) {
      Prefs_Shared().setMovieSize(QSizeF(candidate->dimensions.width(), candidate->dimensions.height()));
      Prefs_Shared().setCaptureFPS(float(rate));
    }
  }
  Prefs_Shared().setCameraIndex(position);
  Prefs_Shared().setCameraName(camera->localizedName());
  Prefs_Shared().setCameraUID(camera->uniqueID());
  return cameras;
}

CapDev_WaitingResult CapDev_RunWaitingDialog(MediaType mediaType, const QString& uid, const QString& name) {
  CapDev_WaitingResult answer;
  auto body = [&] {
    ZRNWaitingWindowController dialog(uid, name);
    dialog.setDeviceType(mediaType);
    const long index = CapDev_IndexOfDeviceWithUID(mediaType, uid);
    if (index >= 0) return;  // it arrived while the dialog was made
    answer.ran = true;
    answer.errorType = index;
    dialog.setErrorType(int(index));
    ZRNAppHost_Shared().setAppInModalMode(true);
    answer.result = Alert_RunAlertModal(&dialog);
    ZRNAppHost_Shared().setAppInModalMode(false);
  };
  // Once termination has begun the main thread may no longer serve a queue waiting for it.
  if (Gui_TerminationRequested()) {
    answer.terminated = true;
    return answer;
  }
  // The dialog belongs to the main thread; a capture-session queue waits here for its answer.
  if (Dispatch_IsMainThread())
    body();
  else
    Dispatch_MainSync(body);
  answer.terminated = Gui_TerminationRequested();
  return answer;
}

bool CapDev_CheckCameraPresence() {
  if (CapDev_IndexOfDeviceWithUID(MediaType::Video, Prefs_Shared().cameraUID()) < 0) {
    const CapDev_WaitingResult wait = CapDev_RunWaitingDialog(MediaType::Video, Prefs_Shared().cameraUID(), Prefs_Shared().cameraName());
    if (wait.terminated) return false;
    if (wait.ran && wait.result == kDialogResultFirst) {
      if (wait.errorType == -1) Prefs_Shared().setCameraUID(QStringLiteral("N/A"));
      if (wait.errorType == -2) return false;
    }
  }
  CapDev_DeviceLists().camerasArray = CapDev_ValidateSavedCameraFormat();
  Prefs_Shared().synchronize();
  return true;
}

std::vector<CaptureDeviceRef> CapDev_SelectMicrophone(const std::vector<CaptureDeviceRef>& cameras, bool hd60) {
  std::vector<CaptureDeviceRef> mics = CaptureDevice::devicesWithMediaType(MediaType::Audio);
  std::vector<CaptureDeviceRef> kept;
  for (const auto& mic : mics) {
    const QString uid = mic->uniqueID();
    const bool isHD60 = uid.contains(QLatin1String("Game Capture HD60 S+"));
    if (isHD60 != hd60) continue;
    if (uid.contains(QLatin1String("Blackmagic"))) {
      // A Blackmagic microphone belongs to a Blackmagic camera whose uniqueID ends the same way; IDs
      // too short to have such an ending match nothing.
      bool matched = false;
      if (uid.size() >= 8) {
        for (const auto& camera : cameras) {
          if (!camera->localizedName().contains(QLatin1String("Blackmagic"))) continue;
          if (camera->uniqueID().size() >= 8 && camera->uniqueID().right(8) == uid.right(8)) matched = true;
        }
      }
      if (!matched) continue;
    }
    kept.push_back(mic);
  }
  if (kept.empty()) {
    Prefs_Shared().setHasAudioDevice(false);
    return {};
  }
  const QString savedUID = Prefs_Shared().microphoneUID();
  long position = -1;
  if (!savedUID.isEmpty())
    for (size_t i = 0; i < kept.size(); ++i)
      if (kept[i]->uniqueID() == savedUID) position = long(i);
  if (hd60 || position < 0) position = 0;
  const CaptureDeviceRef mic = kept[size_t(position)];
  Prefs_Shared().setMicrophoneIndex(position);
  Prefs_Shared().setMicrophoneName(mic->localizedName());
  Prefs_Shared().setMicrophoneIsBuiltIn(CapDev_IsBuiltInMicrophone(mic));
  Prefs_Shared().setMicrophoneUID(mic->uniqueID());
  Prefs_Shared().setHasAudioDevice(true);
  return kept;
}

bool CapDev_CheckMicrophonePresence() {
  if (CapDev_IndexOfDeviceWithUID(MediaType::Audio, Prefs_Shared().microphoneUID()) < 0) {
    const CapDev_WaitingResult wait =
        CapDev_RunWaitingDialog(MediaType::Audio, Prefs_Shared().microphoneUID(), Prefs_Shared().microphoneName());
    if (wait.terminated) return false;
    if (wait.ran && wait.result == kDialogResultFirst) {
      if (wait.errorType == -1) Prefs_Shared().setMicrophoneUID(QStringLiteral("N/A"));
      if (wait.errorType == -2) return false;
    }
  }
  auto& lists = CapDev_DeviceLists();
  lists.microphonesArray = CapDev_SelectMicrophone(lists.camerasArray, CapDev_IsHD60SPlusCamera(Prefs_Shared().cameraUID()));
  Prefs_Shared().synchronize();
  return true;
}

void CapDev_LoadMicrophoneFormats() {
  auto& lists = CapDev_DeviceLists();
  const qint64 index = Prefs_Shared().microphoneIndex();
  if (index < 0 || index >= qint64(lists.microphonesArray.size())) return;  // no microphone chosen
  const CaptureDeviceRef mic = lists.microphonesArray[size_t(index)];
  lists.audioFormatsArray = mic->formats();
  lists.audioRatesArray.clear();
  for (const auto& f : lists.audioFormatsArray)
    if (std::find(lists.audioRatesArray.begin(), lists.audioRatesArray.end(), f->sampleRate) == lists.audioRatesArray.end())
      lists.audioRatesArray.push_back(f->sampleRate);
  if (lists.audioRatesArray.empty()) return;
  double saved = Prefs_Shared().microphoneCaptureRate();
  long exact = -1, lowestPos = -1, highestPos = -1;
  double lowest = 1e7, highest = 0;
  for (size_t i = 0; i < lists.audioRatesArray.size(); ++i) {
    const double r = lists.audioRatesArray[i];
    if (r == saved) exact = long(i);
    if (r < lowest) {
      lowest = r;
      lowestPos = long(i);
    }
    if (r > highest) {
      highest = r;
      highestPos = long(i);
    }
  }
  long position = exact;
  if (lowest > saved) {
    saved = lowest;
    position = lowestPos;
  }
  if (saved > highest) {
    saved = highest;
    position = highestPos;
  }
  if (position < 0) position = 0;
  Prefs_Shared().setMicrophonePresetIndex(position);
  Prefs_Shared().setMicrophoneCaptureRate(lists.audioRatesArray[size_t(position)]);
  Prefs_Shared().synchronize();
}

QString CapDev_AudioDeviceUIDForName(const QString& name, uint32_t direction) {
  const QString wanted = FoldForComparison(name);
  for (const AudioDeviceInfo& info : AudioDevice_List(direction != kCapDev_DirectionOutput)) {
    if (info.name.isEmpty()) continue;
    if (FoldForComparison(info.name) == wanted) return info.uniqueID;
  }
  return QString();
}

QString CapDev_DefaultOutputDeviceUID() {
  return CapDev_AudioDeviceUIDForName(QString::fromLatin1(kBuiltInOutputName), kCapDev_DirectionOutput);
}

QString CapDev_BuiltInMicrophoneUID() {
  return CapDev_AudioDeviceUIDForName(QString::fromLatin1(kBuiltInMicrophoneName), kCapDev_DirectionInput);
}

bool CapDev_ConnectedDeviceHasVideo(const Notification& note) {
  if (const auto device = CaptureDevice::deviceFromNotification(note)) return device->hasMediaType(MediaType::Video);
  return note.userInfo.value(QStringLiteral("mediaType")).toString() == QLatin1String(kMediaTypeVideo);
}

QString CapDev_ConnectedDeviceUniqueID(const Notification& note) {
  if (const auto device = CaptureDevice::deviceFromNotification(note)) return device->uniqueID();
  return note.userInfo.value(QStringLiteral("uniqueID")).toString();
}
