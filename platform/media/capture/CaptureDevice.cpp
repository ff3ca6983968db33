#include "platform/media/capture/CaptureDevice.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Fmt.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PlatformLog.h"
#include "platform/media/capture/AudioDevices.h"
#include "platform/media/capture/V4L2Devices.h"
#include "platform/media/capture/VirtualDevices.h"

#include <QStringList>

#include <libudev.h>
#include <poll.h>

#include <algorithm>
#include <thread>

QString FourCC_String(uint32_t code) {
  QString s;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const uint8_t c = uint8_t(code >> shift);
    if (c < 0x20 || c > 0x7e) return QString::number(code);
    s.append(QChar(c));
  }
  return s;
}

QString FrameRateRange::description() const {
  return Fmt("<FrameRateRange %.2lf - %.2lf>", minFrameRate, maxFrameRate);
}

QString CaptureDeviceFormat::description() const {
  if (mediaType == MediaType::Audio)
    return Fmt("<CaptureDeviceFormat 'soun'/'%@' %.0lf Hz, %d ch>", FourCC_String(mediaSubType), sampleRate, channelCount);
  QStringList rates;
  for (const FrameRateRange& r : videoSupportedFrameRateRanges)
    rates << (r.minFrameRate == r.maxFrameRate ? Fmt("%.2lf", r.minFrameRate)
                                               : Fmt("%.2lf-%.2lf", r.minFrameRate, r.maxFrameRate));
  return Fmt("<CaptureDeviceFormat 'vide'/'%@' %dx%d, { %@ fps }>", FourCC_String(mediaSubType), dimensions.width(),
             dimensions.height(), rates.join(QStringLiteral(", ")));
}

std::vector<CaptureDeviceFormatRef> CaptureDeviceFormat_StereoPCMFormats(const QString& nativeFormat) {
  std::vector<CaptureDeviceFormatRef> formats;
  for (double rate : {44100.0, 48000.0}) {
    auto f = std::make_shared<CaptureDeviceFormat>();
    f->mediaType = MediaType::Audio;
    f->mediaSubType = kAudioFormat_LinearPCM;
    f->sampleRate = rate;
    f->channelCount = 2;
    f->nativeFormat = nativeFormat;
    formats.push_back(f);
  }
  return formats;
}

CaptureDevice::CaptureDevice(Description description) : m_d(std::move(description)) {}

QString CaptureDevice::description() const {
  return Fmt("<CaptureDevice [%@][%@]>", m_d.localizedName, m_d.uniqueID);
}

bool CaptureDevice::isConnected() const {
  std::lock_guard lock(m_mutex);
  return m_connected;
}

bool CaptureDevice::lockForConfiguration(QString* error) {
  std::lock_guard lock(m_mutex);
  if (!m_connected) {
    if (error) *error = Fmt("The device '%@' is no longer connected.", m_d.localizedName);
    return false;
  }
  if (m_locked) {
    if (error) *error = Fmt("The device '%@' is locked for configuration by another client.", m_d.localizedName);
    return false;
  }
  m_locked = true;
  return true;
}

void CaptureDevice::unlockForConfiguration() {
  std::lock_guard lock(m_mutex);
  m_locked = false;
}

bool CaptureDevice::isLockedForConfiguration() const {
  std::lock_guard lock(m_mutex);
  return m_locked;
}

CaptureDeviceFormatRef CaptureDevice::activeFormat() const {
  std::lock_guard lock(m_mutex);
  return m_activeFormat;
}

void CaptureDevice::setActiveFormat(CaptureDeviceFormatRef format) {
  std::lock_guard lock(m_mutex);
  m_activeFormat = std::move(format);
  // A new format starts at its own default rate, as the frame durations are per format.
  m_minFrameDuration = kMediaTimeInvalid;
  m_maxFrameDuration = kMediaTimeInvalid;
}

MediaTime CaptureDevice::activeVideoMinFrameDuration() const {
  std::lock_guard lock(m_mutex);
  return m_minFrameDuration;
}

MediaTime CaptureDevice::activeVideoMaxFrameDuration() const {
  std::lock_guard lock(m_mutex);
  return m_maxFrameDuration;
}

void CaptureDevice::setActiveVideoMinFrameDuration(const MediaTime& d) {
  std::lock_guard lock(m_mutex);
  m_minFrameDuration = d;
}

void CaptureDevice::setActiveVideoMaxFrameDuration(const MediaTime& d) {
  std::lock_guard lock(m_mutex);
  m_maxFrameDuration = d;
}

std::vector<CaptureDeviceRef> CaptureDevice::devicesWithMediaType(MediaType type) {
  return CaptureDeviceRegistry::shared().devices(type);
}

CaptureDeviceRef CaptureDevice::defaultDeviceWithMediaType(MediaType type) {
  const auto list = devicesWithMediaType(type);
  if (list.empty()) return nullptr;
  // The built-in microphone is the system's default input when there is one.
  if (type == MediaType::Audio) {
    for (const auto& d : list)
      if (d->uniqueID() == QLatin1String(kBuiltInMicrophoneUID)) return d;
  }
  return list.front();
}

CaptureDeviceRef CaptureDevice::deviceWithUniqueID(const QString& uniqueID) {
  return CaptureDeviceRegistry::shared().deviceWithUniqueID(uniqueID);
}

CaptureDeviceRef CaptureDevice::deviceFromNotification(const Notification& note) {
  return CaptureDeviceRegistry::shared().deviceForNotificationObject(note.object);
}

// ---------------------------------------------------------------------------------------------------

CaptureDeviceRegistry& CaptureDeviceRegistry::shared() {
  static CaptureDeviceRegistry* registry = new CaptureDeviceRegistry;  // lives for the whole process
  return *registry;
}

CaptureDeviceRegistry::CaptureDeviceRegistry() = default;

void CaptureDeviceRegistry::ensureScanned() {
  bool first = false;
  {
    std::lock_guard lock(m_mutex);
    if (!m_scanned) {
      m_scanned = true;
      first = true;
    }
  }
  if (!first) return;
  std::vector<CaptureDeviceRef> scanned = V4L2_ScanCameras();
  for (auto& mic : AudioDevice_ScanMicrophones()) scanned.push_back(mic);
  {
    std::lock_guard lock(m_mutex);
    m_system = std::move(scanned);
    if (VirtualDevices_RequestedByEnvironment()) {
      m_added.push_back(VirtualDevices_MakeCamera());
      m_added.push_back(VirtualDevices_MakeMicrophone());
    }
  }
  startMonitoring();
}

std::vector<CaptureDeviceRef> CaptureDeviceRegistry::devices(MediaType type) {
  ensureScanned();
  std::lock_guard lock(m_mutex);
  std::vector<CaptureDeviceRef> result;
  for (const auto* list : {&m_system, &m_added})
    for (const auto& d : *list)
      if (d->mediaType() == type) result.push_back(d);
  return result;
}

CaptureDeviceRef CaptureDeviceRegistry::deviceWithUniqueID(const QString& uniqueID) {
  ensureScanned();
  std::lock_guard lock(m_mutex);
  for (const auto* list : {&m_system, &m_added})
    for (const auto& d : *list)
      if (d->uniqueID() == uniqueID) return d;
  return nullptr;
}

CaptureDeviceRef CaptureDeviceRegistry::deviceForNotificationObject(const void* object) {
  std::lock_guard lock(m_mutex);
  for (const auto* list : {&m_system, &m_added, &m_gone})
    for (const auto& d : *list)
      if (d.get() == object) return d;
  return nullptr;
}

void CaptureDeviceRegistry::postChange(const CaptureDeviceRef& device, bool connected) {
  {
    std::lock_guard lock(device->m_mutex);
    device->m_connected = connected;
  }
  QVariantMap info;
  info.insert(QStringLiteral("uniqueID"), device->uniqueID());
  info.insert(QStringLiteral("mediaType"),
              QString::fromLatin1(MediaType_Name(device->mediaType())));
  info.insert(QStringLiteral("localizedName"), device->localizedName());
  Platform_Log("capture device %@: %@", connected ? "connected" : "disconnected", device->description());
  NotificationCenter::defaultCenter().post(
      QString::fromLatin1(connected ? kCaptureDeviceWasConnectedNotification : kCaptureDeviceWasDisconnectedNotification),
      device.get(), info);
}

bool CaptureDeviceRegistry::addDevice(const CaptureDeviceRef& device) {
  if (!device) return false;
  ensureScanned();
  CaptureDeviceRef replaced;
  {
    std::lock_guard lock(m_mutex);
    auto it = std::find_if(m_added.begin(), m_added.end(),
                           [&](const CaptureDeviceRef& d) { return d->uniqueID() == device->uniqueID(); });
    if (it != m_added.end()) {
      if (*it == device) return false;
      replaced = *it;
      m_gone.push_back(*it);
      *it = device;
    } else {
      m_added.push_back(device);
    }
    std::erase(m_gone, device);
  }
  if (replaced) postChange(replaced, false);
  postChange(device, true);
  return true;
}

bool CaptureDeviceRegistry::removeDevice(const QString& uniqueID) {
  ensureScanned();
  CaptureDeviceRef removed;
  {
    std::lock_guard lock(m_mutex);
    auto it = std::find_if(m_added.begin(), m_added.end(),
                           [&](const CaptureDeviceRef& d) { return d->uniqueID() == uniqueID; });
    if (it == m_added.end()) return false;
    removed = *it;
    m_added.erase(it);
    m_gone.push_back(removed);
  }
  postChange(removed, false);
  return true;
}

void CaptureDeviceRegistry::removeAllAddedDevices() {
  ensureScanned();
  std::lock_guard lock(m_mutex);
  for (const auto& d : m_added) {
    std::lock_guard dl(d->m_mutex);
    d->m_connected = false;
    m_gone.push_back(d);
  }
  m_added.clear();
}

void CaptureDeviceRegistry::applySystemScan(std::vector<CaptureDeviceRef> scanned) {
  ensureScanned();
  std::vector<CaptureDeviceRef> connected, disconnected;
  {
    std::lock_guard lock(m_mutex);
    std::vector<CaptureDeviceRef> next;
    for (auto& fresh : scanned) {
      auto it = std::find_if(m_system.begin(), m_system.end(),
                             [&](const CaptureDeviceRef& d) { return d->uniqueID() == fresh->uniqueID(); });
      // A device still present keeps its object, so its lock and active format survive a rescan.
      if (it != m_system.end()) {
        next.push_back(*it);
      } else {
        next.push_back(fresh);
        connected.push_back(fresh);
      }
    }
    for (auto& old : m_system) {
      const bool stays = std::any_of(next.begin(), next.end(), [&](const CaptureDeviceRef& d) { return d == old; });
      if (!stays) {
        disconnected.push_back(old);
        m_gone.push_back(old);
      }
    }
    m_system = std::move(next);
  }
  for (auto& d : disconnected) postChange(d, false);
  for (auto& d : connected) postChange(d, true);
}

void CaptureDeviceRegistry::rescanSystemDevices() {
  ensureScanned();
  std::vector<CaptureDeviceRef> scanned = V4L2_ScanCameras();
  for (auto& mic : AudioDevice_ScanMicrophones()) scanned.push_back(mic);
  applySystemScan(std::move(scanned));
}

void CaptureDeviceRegistry::startMonitoring() {
  {
    std::lock_guard lock(m_mutex);
    if (m_monitoring) return;
    m_monitoring = true;
  }
  udev* ud = udev_new();
  if (!ud) return;
  udev_monitor* mon = udev_monitor_new_from_netlink(ud, "udev");
  if (!mon) {
    udev_unref(ud);
    Platform_Log("capture devices: no udev monitor; hot-plugging is not followed");
    return;
  }
  udev_monitor_filter_add_match_subsystem_devtype(mon, "video4linux", nullptr);
  udev_monitor_filter_add_match_subsystem_devtype(mon, "sound", nullptr);
  if (udev_monitor_enable_receiving(mon) < 0) {
    udev_monitor_unref(mon);
    udev_unref(ud);
    Platform_Log("capture devices: udev monitor refused; hot-plugging is not followed");
    return;
  }
  // One thread for the whole process: it waits on the monitor and rescans once a burst of events
  // (a camera brings several nodes, a sound card several devices) has settled.
  std::thread([this, ud, mon] {
    const int fd = udev_monitor_get_fd(mon);
    bool pending = false;
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      const int r = poll(&p, 1, pending ? 400 : -1);
      if (r > 0) {
        while (udev_device* dev = udev_monitor_receive_device(mon)) {
          udev_device_unref(dev);
          pending = true;
        }
      } else if (r == 0 && pending) {
        pending = false;
        rescanSystemDevices();
      }
    }
    (void)ud;
  }).detach();
}
