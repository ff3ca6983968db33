#pragma once
// One entry of the recent-sessions list: the path of a session package (or legacy session folder) and
// when it was last opened. Stored as {"openDate": date, "docPath": string}.

#include <QDateTime>
#include <QIcon>
#include <QString>
#include <QVariantMap>

class ZRNRecentDocument {
 public:
  ZRNRecentDocument() = default;
  explicit ZRNRecentDocument(const QString& path) : m_docPath(path) {}
  // The stored form; a missing or unreadable date leaves the moment of creation.
  explicit ZRNRecentDocument(const QVariantMap& dictionary);

  QString docPath() const { return m_docPath; }
  void setDocPath(const QString& path) { m_docPath = path; }
  QDateTime openDate() const { return m_openDate; }
  void setOpenDate(const QDateTime& date) { m_openDate = date; }

  QVariantMap dictionaryToSave() const;
  // The last path component without its (last) extension: "Final.vlvidcapb/" gives "Final".
  QString menuTitle() const;
  QString windowTitle() const { return m_docPath; }
  // The desktop's icon for the item, 16 x 16.
  QIcon menuImage() const;
  // Both paths name the same item once standardized ("a/./b/" and "a/b").
  bool matches(const ZRNRecentDocument& other) const;
  QString pathToOpen() const { return m_docPath; }

  // A path as the list compares it: "." and ".." resolved, no trailing slash, "~" expanded.
  static QString standardizedPath(const QString& path);
  // The last path component of a path without its last extension.
  static QString displayName(const QString& path);

 private:
  QString m_docPath;
  QDateTime m_openDate = QDateTime::currentDateTime();
};
