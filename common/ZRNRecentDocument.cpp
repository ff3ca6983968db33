#include "common/ZRNRecentDocument.h"

#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>

ZRNRecentDocument::ZRNRecentDocument(const QVariantMap& dictionary) {
  const QVariant date = dictionary.value(QStringLiteral("openDate"));
  if (date.typeId() == QMetaType::QDateTime && date.toDateTime().isValid()) m_openDate = date.toDateTime();
  m_docPath = dictionary.value(QStringLiteral("docPath")).toString();
}

QVariantMap ZRNRecentDocument::dictionaryToSave() const {
  return {{QStringLiteral("openDate"), m_openDate}, {QStringLiteral("docPath"), m_docPath}};
}

QString ZRNRecentDocument::standardizedPath(const QString& path) {
  QString expanded = path;
  if (expanded == QLatin1String("~") || expanded.startsWith(QLatin1String("~/")))
    expanded.replace(0, 1, QDir::homePath());
  return QDir::cleanPath(expanded);
}

QString ZRNRecentDocument::displayName(const QString& path) {
  const QString name = QFileInfo(standardizedPath(path)).fileName();
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  // A leading dot names a hidden file, not an extension.
  return dot > 0 ? name.left(dot) : name;
}

QString ZRNRecentDocument::menuTitle() const { return displayName(m_docPath); }

QIcon ZRNRecentDocument::menuImage() const {
  const QIcon icon = QFileIconProvider().icon(QFileInfo(m_docPath));
  return QIcon(icon.pixmap(16, 16));
}

bool ZRNRecentDocument::matches(const ZRNRecentDocument& other) const {
  return QString::localeAwareCompare(standardizedPath(m_docPath), standardizedPath(other.m_docPath)) == 0;
}
