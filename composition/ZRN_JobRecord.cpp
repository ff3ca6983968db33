#include "composition/ZRN_JobRecord.h"

#include <QLocale>
#include <QPainter>
#include <QPainterPath>

namespace {

int64_t U_Integer(const QVariant& value) { return value.toLongLong(); }

bool U_IsExportType(int64_t type) { return type >= kExportActivityManualClip && type <= kExportActivitySessionMovie; }

// Medium date, short time, today and yesterday said in words.
QString U_FormatJobDate(const QDateTime& date) {
  const QLocale locale;
  const QDate day = date.date();
  const QDate today = QDate::currentDate();
  QString dayText;
  if (day == today)
    dayText = QStringLiteral("Today");
  else if (day == today.addDays(-1))
    dayText = QStringLiteral("Yesterday");
  else if (day == today.addDays(1))
    dayText = QStringLiteral("Tomorrow");
  else
    dayText = locale.toString(day, QStringLiteral("d MMM yyyy"));
  return dayText + QStringLiteral(", ") + locale.toString(date.time(), QLocale::ShortFormat);
}

}  // namespace

ZRN_JobRecord::ZRN_JobRecord() = default;

ZRN_JobRecord::ZRN_JobRecord(ExportSettingsRef settings) : ZRN_JobRecord() {
  m_exportSettings = settings ? std::move(settings) : std::make_shared<QVariantMap>();
  setActivityType(U_Integer(m_exportSettings->value(kExportSettingsActivityType)));
  m_exportSettings->insert(kExportSettingsExportJob, QVariant::fromValue(static_cast<QObject*>(this)));
  setDate(QDateTime::currentDateTime());
  setStatus(kJobStatusWaiting);
}

ZRN_JobRecord::ZRN_JobRecord(const QVariantMap& saved) : ZRN_JobRecord() {
  setTitle(saved.value(QStringLiteral("title")).toString());
  setComment(saved.value(QStringLiteral("comment")).toString());
  if (saved.contains(QStringLiteral("date"))) setDate(saved.value(QStringLiteral("date")).toDateTime());
  setStatus(U_Integer(saved.value(QStringLiteral("status"))));
  setCancelled(saved.value(QStringLiteral("cancelled")).toBool());
  setActivityType(U_Integer(saved.value(QStringLiteral("activityType"))));
  if (saved.contains(QStringLiteral("activityBadgeString")))
    setActivityBadgeString(saved.value(QStringLiteral("activityBadgeString")).toString());
  setDisplayExpanded(saved.value(QStringLiteral("displayExpanded")).toBool());
  if (saved.contains(QStringLiteral("targetPath"))) m_targetPath = saved.value(QStringLiteral("targetPath")).toString();
  m_targetIsFolder = saved.value(QStringLiteral("targetIsFolder")).toBool();
  if (saved.contains(QStringLiteral("descriptionString")))
    m_descriptionString = saved.value(QStringLiteral("descriptionString")).toString();
  m_exportSettings = std::make_shared<QVariantMap>(saved.value(QStringLiteral("exportSettings")).toMap());
  m_exportSettings->remove(kExportSettingsExportJob);
  if (saved.contains(QStringLiteral("activityType")))
    m_exportSettings->insert(kExportSettingsActivityType, saved.value(QStringLiteral("activityType")));
}

ZRN_JobRecord::~ZRN_JobRecord() {
  // The settings may outlive the job: leave no pointer to it behind.
  if (m_exportSettings && jobOfSettings(*m_exportSettings) == this) m_exportSettings->remove(kExportSettingsExportJob);
}

ZRN_JobRecord* ZRN_JobRecord::jobOfSettings(const QVariantMap& settings) {
  return qobject_cast<ZRN_JobRecord*>(settings.value(kExportSettingsExportJob).value<QObject*>());
}

QVariantMap ZRN_JobRecord::dictionaryToSave() const {
  QVariantMap dict;
  dict.insert(QStringLiteral("title"), title());
  dict.insert(QStringLiteral("comment"), comment());
  dict.insert(QStringLiteral("date"), date());
  dict.insert(QStringLiteral("status"), QVariant::fromValue<qint64>(status()));
  dict.insert(QStringLiteral("cancelled"), cancelled());
  dict.insert(QStringLiteral("activityType"), QVariant::fromValue<qint64>(activityType()));
  dict.insert(QStringLiteral("displayExpanded"), displayExpanded());
  const QString badge = activityBadgeString();
  if (!badge.isNull()) dict.insert(QStringLiteral("activityBadgeString"), badge);
  if (!m_targetPath.isNull()) {
    dict.insert(QStringLiteral("targetPath"), m_targetPath);
    dict.insert(QStringLiteral("targetIsFolder"), m_targetIsFolder);
  }
  if (m_exportSettings) {
    QVariantMap settings = *m_exportSettings;
    settings.remove(kExportSettingsExportJob);
    settings.remove(kExportSettingsActivityType);
    dict.insert(QStringLiteral("exportSettings"), settings);
  }
  if (!m_descriptionString.isNull()) dict.insert(QStringLiteral("descriptionString"), m_descriptionString);
  return dict;
}

QString ZRN_JobRecord::badgeImageName() const {
  switch (activityType()) {
    case kExportActivityManualClip: return QStringLiteral("image512");
    case kExportActivityAutomaticClip: return QStringLiteral("movie512");
    case kExportActivitySessionMovie: return QStringLiteral("anon512");
    default: return {};
  }
}

QImage ZRN_JobRecord::badgeImage() {
  if (m_badgeImage.isNull()) {
    const QString name = badgeImageName();
    if (!name.isEmpty()) m_badgeImage = ZRN_BadgeImageNamed(name).copy();
  }
  return m_badgeImage;
}

void ZRN_JobRecord::setTargetPath(const QString& path) {
  m_targetPath = path;
  emit descriptionTipStringChanged();
  emit titleTipStringChanged();
}

void ZRN_JobRecord::setActivityType(int64_t type) {
  ZRN_BaseJobRecord::setActivityType(type);
  emit descriptionTipStringChanged();
  emit titleTipStringChanged();
}

QString ZRN_JobRecord::progressString() const {
  switch (status()) {
    case kJobStatusWaiting: return QStringLiteral("Waiting...");
    case kJobStatusExporting: return U_IsExportType(activityType()) ? QStringLiteral("Exporting...") : QStringLiteral("");
    case kJobStatusFinished: return QStringLiteral("Finished");
    default: return QStringLiteral("");
  }
}

QString ZRN_JobRecord::titleFormatStr() const {
  return U_IsExportType(activityType()) ? QStringLiteral("Export %@") : QStringLiteral("");
}

QString ZRN_JobRecord::infoString() const { return U_FormatJobDate(date()); }

ZRNJobDelegate* ZRN_JobRecord::delegate() const {
  // A delegate that is a QObject is forgotten when it is destroyed.
  if (m_delegate && dynamic_cast<QObject*>(m_delegate) && !m_delegateObject) return nullptr;
  return m_delegate;
}

void ZRN_JobRecord::setDelegate(ZRNJobDelegate* delegate) {
  m_delegate = delegate;
  m_delegateObject = dynamic_cast<QObject*>(delegate);
}

QImage ZRN_BadgeImageNamed(const QString& name) {
  QColor fill;
  if (name == QLatin1String("image512"))
    fill = QColor(0x2f, 0x80, 0xed);
  else if (name == QLatin1String("movie512"))
    fill = QColor(0x27, 0xae, 0x60);
  else if (name == QLatin1String("anon512"))
    fill = QColor(0x8e, 0x44, 0xad);
  else
    return {};
  QImage image(512, 512, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(fill);
  p.drawRoundedRect(QRectF(16, 16, 480, 480), 96, 96);
  p.setBrush(Qt::white);
  if (name == QLatin1String("image512")) {
    // A frame with in and out brackets: a clip cut by hand.
    p.drawRect(QRectF(120, 176, 272, 160));
    p.setBrush(fill);
    p.drawRect(QRectF(144, 200, 224, 112));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(96, 136, 24, 240));
    p.drawRect(QRectF(392, 136, 24, 240));
  } else if (name == QLatin1String("movie512")) {
    // A play triangle in a circle: a clip around the moment.
    p.drawEllipse(QPointF(256, 256), 160, 160);
    p.setBrush(fill);
    QPainterPath triangle;
    triangle.moveTo(216, 176);
    triangle.lineTo(216, 336);
    triangle.lineTo(352, 256);
    triangle.closeSubpath();
    p.drawPath(triangle);
  } else {
    // A film strip: the whole session.
    p.drawRect(QRectF(112, 96, 288, 320));
    p.setBrush(fill);
    for (int i = 0; i < 5; ++i) {
      p.drawRect(QRectF(128, 116 + i * 60, 28, 36));
      p.drawRect(QRectF(356, 116 + i * 60, 28, 36));
    }
    p.drawRect(QRectF(176, 116, 160, 280));
  }
  return image;
}
