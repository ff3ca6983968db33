#pragma once
// May the program use the camera or the microphone? On Linux that is a question of the device nodes:
// a user may open /dev/video* and /dev/snd/* when they belong to the right group (video, audio).
// The access state of a media type:
//   0 granted: there is no device node of the type, or at least one can be opened for reading and
//     writing (for sound also: a PulseAudio server answers); the virtual devices are always usable.
//   2 denied: device nodes exist and none of them can be opened.
// The states 1 (not asked yet) and 4 (restricted) belong to systems that ask the user; they do not
// occur here.

#include "platform/media/io/SampleBuffer.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

enum : int {
  kCaptureAccessGranted = 0,
  kCaptureAccessNotDetermined = 1,
  kCaptureAccessDenied = 2,
  kCaptureAccessRestricted = 4,
};

int Auth_CaptureAccessState(MediaType mediaType);
// The same by the platform's media type name ("vide", "soun"); any other type is granted.
int Auth_CaptureAccessState(const QString& mediaType);

// The scan behind it, on any folder standing for /dev: the device nodes of the type found there
// ("video*" for video, the entries of "snd/" for sound) and the state they give.
QStringList Auth_DeviceNodesInFolder(MediaType mediaType, const QString& devFolder);
int Auth_CaptureAccessStateOfNodes(const QStringList& nodePaths);
int Auth_CaptureAccessStateInFolder(MediaType mediaType, const QString& devFolder);

// Whether a PulseAudio (or PipeWire-Pulse) server accepts connections on its socket.
bool Auth_PulseAudioServerReachable();

// Runs the completion at once, on the calling thread, when access is granted. When it is denied the
// alert with the given ID is shown; its first button opens the help page on granting access and asks
// the program to terminate. The completion then never runs.
void Auth_RequestCaptureAccess(MediaType mediaType, int alertID, std::function<void()> completion);
void Auth_RequestCaptureAccess(const QString& mediaType, int alertID, std::function<void()> completion);
// The same for a state already known.
void Auth_HandleCaptureAccessState(int state, MediaType mediaType, int alertID, std::function<void()> completion);

// The help page on granting access (written out of the program's resources into the data folder),
// at the part about the media type; and opening it in the user's browser.
QUrl Auth_PrivacySettingsURL(MediaType mediaType);
bool Auth_OpenPrivacySettings(MediaType mediaType);

// How the program is asked to terminate: by default the application delegate's Quit path (or, without
// a delegate, the event loop is asked to quit). Tests install their own.
void Auth_SetTerminateHandler(std::function<void()> handler);
