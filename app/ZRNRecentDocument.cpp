#include "app/ZRNRecentDocument.h"

#include <QDir>
#include <QFileInfo>

ZRNRecentDocument::ZRNRecentDocument(const QVariantMap& dictionary) {
  const QVariant date = dictionary.value(QStringLiteral("openDate"));
  if (date.typeId() == QMetaType::QDateTime) m_openDate = date.toDateTime();
  m_docPath = dictionary.value(QStringLiteral("docPath")).toString();
}

QVariantMap ZRNRecentDocument::dictionaryToSave() const {
  return {{QStringLiteral("openDate"), m_openDate}, {QStringLiteral("docPath"), m_docPath}};
}

QString ZRNRecentDocument::menuTitle() const { return QFileInfo(m_docPath).completeBaseName(); }

bool ZRNRecentDocument::matches(const ZRNRecentDocument& other) const {
  return QString::localeAwareCompare(QDir::cleanPath(m_docPath), QDir::cleanPath(other.m_docPath)) == 0;
}
