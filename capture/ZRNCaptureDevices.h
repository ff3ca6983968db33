#pragma once
// Finding the chosen camera and microphone, the capture format table of a camera, and the repair of
// the saved camera, frame size, frame rate, microphone and sample rate so that they name something the
// connected devices offer. The functions keep no state of their own: they read and write the
// preferences (Prefs_Shared()) and the device lists below.

#include "platform/media/capture/CaptureDevice.h"

#include <QList>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <optional>
#include <vector>

class QComboBox;
struct Notification;

// Size key: width * 1000000 + height; ordering by key orders by width, then height.
// Posted (from any thread) when a camera or microphone arrives; userInfo "uniqueID", "mediaType".
inline const QString kCapDev_DeviceWasConnectedNotification = QString::fromLatin1(kCaptureDeviceWasConnectedNotification);

inline constexpr uint64_t kCapDev_SizeKeyFactor = 1000000;
uint64_t CapDev_SizeKey(uint64_t width, uint64_t height);
// The saved size key of a movie size in doubles (negative values count as 0).
uint64_t CapDev_SizeKeyForSize(double width, double height);
inline uint64_t CapDev_SizeKeyWidth(uint64_t key) { return key / kCapDev_SizeKeyFactor; }
inline uint64_t CapDev_SizeKeyHeight(uint64_t key) { return key % kCapDev_SizeKeyFactor; }

// One entry of a camera's format list. "menuSize", "savedSize" and "mediaSubType" are present only on
// the first accepted format of each size.
struct CaptureFormatDictionary {
  long formatIndex = 0;
  CaptureDeviceFormatRef deviceFormat;
  bool menuSize = false;
  std::optional<uint64_t> savedSize;
  std::optional<uint32_t> mediaSubType;
};

// The device lists the application keeps: cameras found by the last camera check, the chosen camera's
// sizes (largest first) and format dictionaries, the microphones left by the microphone choice and the
// chosen microphone's formats and rates. Read and written on the main queue and on the live window's
// capture-session queue, never at the same time.
struct ZRNCaptureDeviceLists {
  std::vector<CaptureDeviceRef> camerasArray;
  std::vector<uint64_t> sizesArray;
  std::vector<CaptureFormatDictionary> formatsDictsArray;
  std::vector<CaptureDeviceRef> microphonesArray;
  std::vector<CaptureDeviceFormatRef> audioFormatsArray;
  std::vector<double> audioRatesArray;
};
ZRNCaptureDeviceLists& CapDev_DeviceLists();

// Core Audio's direction codes, kept for the device-name lookup.
inline constexpr uint32_t kCapDev_DirectionOutput = FourCC("outp");
inline constexpr uint32_t kCapDev_DirectionInput = FourCC("inpt");

// Position of the device with that uniqueID in the list of its media type: -2 when there is no device
// of the type, 0 for an empty ID, -1 when none matches.
long CapDev_IndexOfDeviceWithUID(MediaType mediaType, const QString& uniqueID);
// The same with the media type as its name ("vide" or "soun").
qint64 CapDev_IndexOfDeviceWithUID(const QString& mediaType, const QString& uniqueID);
CaptureDeviceRef CapDev_DeviceWithUID(MediaType mediaType, const QString& uniqueID);
QString CapDev_DeviceNameForUID(MediaType mediaType, const QString& uniqueID);
bool CapDev_IsAcceptedVideoSubType(uint32_t subtype);
bool CapDev_IsBuiltInMicrophone(const CaptureDeviceRef& device);
bool CapDev_IsHD60SPlusCamera(const QString& cameraUID);

// Sorts by minFrameRate, highest first (exchange sort: equal items keep their order).
void CapDev_SortFrameRateRanges(QList<FrameRateRange>& ranges);
// "minFrameRate", and "maxFrameRate" when it differs from the minimum.
QList<QVariantMap> CapDev_FrameRateRangesForSize(uint64_t sizeKey, const std::vector<CaptureFormatDictionary>& dicts);
QString CapDev_FrameRatesText(uint64_t sizeKey, const std::vector<CaptureFormatDictionary>& dicts);
void CapDev_FrameRatesTextFixingFPS(uint64_t sizeKey);

// The format table of a camera (also what the camera tab's menus show), without touching anything.
std::vector<CaptureFormatDictionary> CapDev_MakeFormatDicts(const CaptureDeviceRef& camera, std::vector<uint64_t>* sizes);
void CapDev_BuildFormatDicts(const CaptureDeviceRef& camera);
void CapDev_FillSizesMenu(QComboBox* popup, double savedWidth, double savedHeight);
std::vector<CaptureDeviceRef> CapDev_ValidateSavedCameraFormat();
bool CapDev_CheckCameraPresence();
std::vector<CaptureDeviceRef> CapDev_SelectMicrophone(const std::vector<CaptureDeviceRef>& cameras, bool hd60);
bool CapDev_CheckMicrophonePresence();
void CapDev_LoadMicrophoneFormats();

QString CapDev_AudioDeviceUIDForName(const QString& name, uint32_t direction);
QString CapDev_DefaultOutputDeviceUID();
QString CapDev_BuiltInMicrophoneUID();

// What the application delegate reads of a device-connected notification.
bool CapDev_ConnectedDeviceHasVideo(const Notification& note);
QString CapDev_ConnectedDeviceUniqueID(const Notification& note);

// The waiting dialog for a missing saved device: made, the device looked up once more, and when it is
// still missing run application-modal on the main thread (the calling queue waits for it). Answers
// whether it ran, with its result and error type.
struct CapDev_WaitingResult {
  bool ran = false;
  int result = 0;
  long errorType = 0;
  // The application is terminating: the dialog was not shown or was ended without an answer.
  bool terminated = false;
};
CapDev_WaitingResult CapDev_RunWaitingDialog(MediaType mediaType, const QString& uid, const QString& name);
