#pragma once
// One entry of the recent-sessions list: the path of a session package and when it was last opened.

#include <QDateTime>
#include <QString>
#include <QVariantMap>

class ZRNRecentDocument {
 public:
  ZRNRecentDocument() = default;
  explicit ZRNRecentDocument(const QString& path) : m_docPath(path) {}
  // The stored form {"openDate": date, "docPath": string}; a missing date leaves now.
  explicit ZRNRecentDocument(const QVariantMap& dictionary);

  QString docPath() const { return m_docPath; }
  void setDocPath(const QString& path) { m_docPath = path; }
  QDateTime openDate() const { return m_openDate; }
  void setOpenDate(const QDateTime& date) { m_openDate = date; }

  QVariantMap dictionaryToSave() const;
  // The package's file name without its extension.
  QString menuTitle() const;
  QString windowTitle() const { return m_docPath; }
  QString pathToOpen() const { return m_docPath; }
  // Both paths name the same item once cleaned ("a/./b/" and "a/b").
  bool matches(const ZRNRecentDocument& other) const;

 private:
  QString m_docPath;
  QDateTime m_openDate = QDateTime::currentDateTime();
};
