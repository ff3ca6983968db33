#include "platform/media/capture/V4L2Devices.h"

#include "platform/foundation/Fmt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

int xioctl(int fd, unsigned long request, void* arg) {
  int r;
  do {
    r = ioctl(fd, request, arg);
  } while (r == -1 && errno == EINTR);
  return r;
}

// V4L2 codes keep their first character in the low byte; ours in the high byte.
uint32_t SwapFourCC(uint32_t v4l2) {
  return ((v4l2 & 0xff) << 24) | ((v4l2 & 0xff00) << 8) | ((v4l2 >> 8) & 0xff00) | (v4l2 >> 24);
}

QString ReadSysfsLine(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readLine()).trimmed();
}

// The /dev/v4l/by-id name pointing at this node: stable across re-plugging and across USB ports.
QString ByIdName(const QString& nodePath) {
  const QString canonical = QFileInfo(nodePath).canonicalFilePath();
  QDir dir(QStringLiteral("/dev/v4l/by-id"));
  const QStringList names = dir.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
  for (const QString& name : names) {
    if (QFileInfo(dir.filePath(name)).canonicalFilePath() == canonical) return name;
  }
  return {};
}

// The USB vendor and product of the node, walking up from its sysfs device folder.
bool UsbIDs(const QString& nodePath, int* vendor, int* product) {
  const QString base = QStringLiteral("/sys/class/video4linux/") + QFileInfo(nodePath).fileName() + "/device";
  QString dir = QFileInfo(base).canonicalFilePath();
  for (int depth = 0; depth < 6 && !dir.isEmpty() && dir != "/"; ++depth) {
    const QString v = ReadSysfsLine(dir + "/idVendor");
    const QString p = ReadSysfsLine(dir + "/idProduct");
    if (!v.isEmpty() && !p.isEmpty()) {
      bool ok1 = false, ok2 = false;
      *vendor = v.toInt(&ok1, 16);
      *product = p.toInt(&ok2, 16);
      return ok1 && ok2;
    }
    dir = QFileInfo(dir).path();
  }
  return false;
}

QList<FrameRateRange> FrameRates(int fd, uint32_t pixfmt, uint32_t w, uint32_t h) {
  QList<FrameRateRange> ranges;
  v4l2_frmivalenum iv{};
  iv.pixel_format = pixfmt;
  iv.width = w;
  iv.height = h;
  for (iv.index = 0; xioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &iv) == 0; ++iv.index) {
    if (iv.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
      if (iv.discrete.numerator == 0) continue;
      const double rate = double(iv.discrete.denominator) / iv.discrete.numerator;
      ranges.append({rate, rate});
    } else {
      // Continuous or stepwise: the rate range is the inverse of the interval range.
      const auto& sw = iv.stepwise;
      if (sw.min.numerator == 0 || sw.max.numerator == 0) break;
      const double maxRate = double(sw.min.denominator) / sw.min.numerator;
      const double minRate = double(sw.max.denominator) / sw.max.numerator;
      ranges.append({minRate, maxRate});
      break;
    }
  }
  return ranges;
}

void AddFormatsForPixelFormat(int fd, const v4l2_fmtdesc& fd_desc, std::vector<CaptureDeviceFormatRef>& out) {
  const uint32_t pixfmt = fd_desc.pixelformat;
  auto add = [&](uint32_t w, uint32_t h) {
    auto f = std::make_shared<CaptureDeviceFormat>();
    f->mediaType = MediaType::Video;
    f->mediaSubType = V4L2_MediaSubTypeForPixelFormat(pixfmt);
    f->dimensions = QSize(int(w), int(h));
    f->videoSupportedFrameRateRanges = FrameRates(fd, pixfmt, w, h);
    f->nativeFormat = V4L2_InputFormatForPixelFormat(pixfmt);
    out.push_back(f);
  };
  v4l2_frmsizeenum fs{};
  fs.pixel_format = pixfmt;
  for (fs.index = 0; xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &fs) == 0; ++fs.index) {
    if (fs.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
      add(fs.discrete.width, fs.discrete.height);
    } else {
      // A size range is offered through its largest and smallest sizes.
      add(fs.stepwise.max_width, fs.stepwise.max_height);
      if (fs.stepwise.min_width != fs.stepwise.max_width || fs.stepwise.min_height != fs.stepwise.max_height)
        add(fs.stepwise.min_width, fs.stepwise.min_height);
      break;
    }
  }
}

}  // namespace

uint32_t V4L2_MediaSubTypeForPixelFormat(uint32_t v4l2PixelFormat) {
  switch (v4l2PixelFormat) {
    case V4L2_PIX_FMT_UYVY: return kPixelFormat_2vuy;
    case V4L2_PIX_FMT_YUYV: return kPixelFormat_yuvs;
    case V4L2_PIX_FMT_NV12: return kPixelFormat_420v;
    case V4L2_PIX_FMT_MJPEG: return kPixelFormat_dmb1;
    default: return SwapFourCC(v4l2PixelFormat);
  }
}

QString V4L2_InputFormatForPixelFormat(uint32_t v4l2PixelFormat) {
  switch (v4l2PixelFormat) {
    case V4L2_PIX_FMT_UYVY: return QStringLiteral("uyvy422");
    case V4L2_PIX_FMT_YUYV: return QStringLiteral("yuyv422");
    case V4L2_PIX_FMT_NV12: return QStringLiteral("nv12");
    case V4L2_PIX_FMT_YUV420: return QStringLiteral("yuv420p");
    case V4L2_PIX_FMT_MJPEG: return QStringLiteral("mjpeg");
    case V4L2_PIX_FMT_H264: return QStringLiteral("h264");
    case V4L2_PIX_FMT_RGB24: return QStringLiteral("rgb24");
    case V4L2_PIX_FMT_BGR24: return QStringLiteral("bgr24");
    case V4L2_PIX_FMT_GREY: return QStringLiteral("gray");
    default: return {};
  }
}

QString V4L2_ModelID(int vendorID, int productID) {
  return Fmt("UVC Camera VendorID_%d ProductID_%d", vendorID, productID);
}

std::vector<CaptureDeviceRef> V4L2_ScanCameras() {
  std::vector<CaptureDeviceRef> cameras;
  QDir dev(QStringLiteral("/dev"));
  QStringList nodes = dev.entryList({QStringLiteral("video*")}, QDir::System | QDir::Files);
  static const QRegularExpression number(QStringLiteral("^video(\\d+)$"));
  std::sort(nodes.begin(), nodes.end(), [](const QString& a, const QString& b) {
    return number.match(a).captured(1).toInt() < number.match(b).captured(1).toInt();
  });
  for (const QString& name : nodes) {
    if (!number.match(name).hasMatch()) continue;
    const QString path = dev.filePath(name);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    v4l2_capability cap{};
    if (xioctl(fd, VIDIOC_QUERYCAP, &cap) != 0) {
      ::close(fd);
      continue;
    }
    const uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    // Metadata nodes and output-only nodes are not cameras.
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE)) {
      ::close(fd);
      continue;
    }
    CaptureDevice::Description d;
    d.mediaType = MediaType::Video;
    d.kind = CaptureDeviceKind::V4L2;
    d.localizedName = QString::fromUtf8(reinterpret_cast<const char*>(cap.card)).trimmed();
    const QString busInfo = QString::fromUtf8(reinterpret_cast<const char*>(cap.bus_info)).trimmed();
    d.uniqueID = ByIdName(path);
    if (d.uniqueID.isEmpty()) d.uniqueID = busInfo + ":" + d.localizedName;
    int vendor = 0, product = 0;
    if (UsbIDs(path, &vendor, &product)) {
      d.modelID = V4L2_ModelID(vendor, product);
      d.transportType = kCaptureTransportUSB;
    } else {
      d.modelID = QString::fromUtf8(reinterpret_cast<const char*>(cap.driver));
      d.transportType = kCaptureTransportBuiltIn;
    }
    d.manufacturer = QString::fromUtf8(reinterpret_cast<const char*>(cap.driver));
    d.inputFormatName = QStringLiteral("video4linux2");
    d.inputURL = path;
    v4l2_fmtdesc fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (fmt.index = 0; xioctl(fd, VIDIOC_ENUM_FMT, &fmt) == 0; ++fmt.index) AddFormatsForPixelFormat(fd, fmt, d.formats);
    ::close(fd);
    cameras.push_back(std::make_shared<CaptureDevice>(std::move(d)));
  }
  return cameras;
}
