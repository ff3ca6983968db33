#pragma once
// Capture devices: cameras (V4L2 and the virtual test-pattern camera) and microphones (PulseAudio or
// ALSA sources and the virtual test-tone microphone), with their formats, kept in one process-wide
// registry that follows hot-plugging and posts the connected and disconnected notifications.

#include "platform/media/io/SampleBuffer.h"

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

struct Notification;

// Posted with the device's address as object and userInfo "uniqueID", "mediaType" ("vide"/"soun")
// and "localizedName". Delivered on the thread that noticed the change.
inline constexpr const char* kCaptureDeviceWasConnectedNotification = "AVCaptureDeviceWasConnectedNotification";
inline constexpr const char* kCaptureDeviceWasDisconnectedNotification = "AVCaptureDeviceWasDisconnectedNotification";

// Four-character codes as one 32-bit number, first character in the high byte.
constexpr uint32_t FourCC(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) | (uint32_t(uint8_t(s[2])) << 8) |
         uint32_t(uint8_t(s[3]));
}
// The code as its four characters, or its number when it has unprintable bytes (32-bit ARGB is 32).
QString FourCC_String(uint32_t code);

inline constexpr uint32_t kPixelFormat_2vuy = FourCC("2vuy");  // UYVY 4:2:2
inline constexpr uint32_t kPixelFormat_yuvs = FourCC("yuvs");  // YUYV 4:2:2
inline constexpr uint32_t kPixelFormat_420v = FourCC("420v");  // NV12 video range
inline constexpr uint32_t kPixelFormat_v210 = FourCC("v210");
inline constexpr uint32_t kPixelFormat_v410 = FourCC("v410");
inline constexpr uint32_t kPixelFormat_dmb1 = FourCC("dmb1");  // Motion-JPEG
inline constexpr uint32_t kPixelFormat_32ARGB = 32;
inline constexpr uint32_t kPixelFormat_32BGRA = FourCC("BGRA");
inline constexpr uint32_t kAudioFormat_LinearPCM = FourCC("lpcm");

struct FrameRateRange {
  double minFrameRate = 0;
  double maxFrameRate = 0;
  QString description() const;
};

// One format a device offers. Video formats have a pixel format code, dimensions and frame-rate ranges
// (a fixed rate is a range whose minimum equals its maximum); audio formats a sample rate and channels.
struct CaptureDeviceFormat {
  MediaType mediaType = MediaType::Video;
  uint32_t mediaSubType = 0;
  QSize dimensions;
  QList<FrameRateRange> videoSupportedFrameRateRanges;
  double sampleRate = 0;
  int channelCount = 0;
  // How the capture path asks the device for this format (an FFmpeg pixel format or codec name).
  QString nativeFormat;
  QString description() const;
};
using CaptureDeviceFormatRef = std::shared_ptr<const CaptureDeviceFormat>;

// Stereo linear PCM at the usual capture rates (44.1 and 48 kHz), asked of the device as nativeFormat.
std::vector<CaptureDeviceFormatRef> CaptureDeviceFormat_StereoPCMFormats(const QString& nativeFormat);

enum class CaptureDeviceKind { V4L2, PulseAudio, Alsa, Virtual, Described };

// The transport codes the system uses: USB and built-in.
inline constexpr int32_t kCaptureTransportUSB = FourCC("usb ");
inline constexpr int32_t kCaptureTransportBuiltIn = FourCC("bltn");
inline constexpr int32_t kCaptureTransportVirtual = FourCC("virt");

class CaptureDevice {
 public:
  struct Description {
    QString uniqueID;
    QString localizedName;
    QString modelID;
    QString manufacturer;
    MediaType mediaType = MediaType::Video;
    CaptureDeviceKind kind = CaptureDeviceKind::Described;
    int32_t transportType = 0;
    // What the capture path opens: the device node, the Pulse/ALSA source name or the lavfi graph.
    QString inputFormatName;
    QString inputURL;
    std::vector<CaptureDeviceFormatRef> formats;
  };

  explicit CaptureDevice(Description description);

  QString uniqueID() const { return m_d.uniqueID; }
  QString localizedName() const { return m_d.localizedName; }
  QString modelID() const { return m_d.modelID; }
  QString manufacturer() const { return m_d.manufacturer; }
  MediaType mediaType() const { return m_d.mediaType; }
  bool hasMediaType(MediaType type) const { return m_d.mediaType == type; }
  CaptureDeviceKind kind() const { return m_d.kind; }
  int32_t transportType() const { return m_d.transportType; }
  QString inputFormatName() const { return m_d.inputFormatName; }
  QString inputURL() const { return m_d.inputURL; }
  const std::vector<CaptureDeviceFormatRef>& formats() const { return m_d.formats; }
  QString description() const;

  // False once the registry has seen the device go.
  bool isConnected() const;
  // Always empty here: no camera of this platform offers selectable input sources.
  QStringList inputSources() const { return {}; }
  QString activeInputSource() const { return {}; }

  // Configuration: one holder at a time (any thread). The active format and frame durations are read
  // by a session when it starts; a null active format lets the session choose by its preset.
  bool lockForConfiguration(QString* error);
  void unlockForConfiguration();
  bool isLockedForConfiguration() const;
  CaptureDeviceFormatRef activeFormat() const;
  void setActiveFormat(CaptureDeviceFormatRef format);
  MediaTime activeVideoMinFrameDuration() const;
  MediaTime activeVideoMaxFrameDuration() const;
  void setActiveVideoMinFrameDuration(const MediaTime& d);
  void setActiveVideoMaxFrameDuration(const MediaTime& d);

  // The device lists of the process, in platform order (V4L2 by node number, then the virtual ones).
  static std::vector<std::shared_ptr<CaptureDevice>> devicesWithMediaType(MediaType type);
  static std::shared_ptr<CaptureDevice> defaultDeviceWithMediaType(MediaType type);
  static std::shared_ptr<CaptureDevice> deviceWithUniqueID(const QString& uniqueID);
  // The device a connected or disconnected notification is about (also after it went away).
  static std::shared_ptr<CaptureDevice> deviceFromNotification(const Notification& note);

 private:
  friend class CaptureDeviceRegistry;
  Description m_d;
  mutable std::mutex m_mutex;
  bool m_connected = true;
  bool m_locked = false;
  CaptureDeviceFormatRef m_activeFormat;
  MediaTime m_minFrameDuration;
  MediaTime m_maxFrameDuration;
};
using CaptureDeviceRef = std::shared_ptr<CaptureDevice>;

// The process-wide list of devices. Scans the system on first use, then follows udev (video4linux and
// sound) and rescans; devices added here (virtual ones, or ones a test describes) join the lists.
class CaptureDeviceRegistry {
 public:
  static CaptureDeviceRegistry& shared();

  std::vector<CaptureDeviceRef> devices(MediaType type);
  CaptureDeviceRef deviceWithUniqueID(const QString& uniqueID);
  // The device whose address a notification carries, also one that has gone.
  CaptureDeviceRef deviceForNotificationObject(const void* object);

  // Adds a device (replacing one with the same uniqueID) and posts the connected notification on the
  // calling thread; removing posts the disconnected one. Answers false when nothing changed.
  bool addDevice(const CaptureDeviceRef& device);
  bool removeDevice(const QString& uniqueID);
  // Forgets every added (not scanned) device without notifications: for tests that start afresh.
  void removeAllAddedDevices();

  // Scans the system devices again and posts notifications for the differences.
  void rescanSystemDevices();
  // Takes the result of a system scan: devices still present keep their objects, new ones post the
  // connected notification, missing ones the disconnected one.
  void applySystemScan(std::vector<CaptureDeviceRef> scanned);
  // Starts following udev; done on first use of the lists. Safe to call more than once.
  void startMonitoring();

 private:
  CaptureDeviceRegistry();
  void ensureScanned();
  static void postChange(const CaptureDeviceRef& device, bool connected);

  std::mutex m_mutex;
  bool m_scanned = false;
  std::vector<CaptureDeviceRef> m_system;
  std::vector<CaptureDeviceRef> m_added;
  std::vector<CaptureDeviceRef> m_gone;  // kept so late notifications still find their device
  bool m_monitoring = false;
};
