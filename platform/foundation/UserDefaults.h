#pragma once
// User defaults: a registration domain (the built-in defaults) under a persistent domain (what the user
// changed), kept in an XML property list. Thread-safe; values are property-list QVariants.

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>

class DispatchQueue;

class UserDefaults {
 public:
  // The application's defaults, on the file of StandardLocations::preferencesFilePath().
  static UserDefaults& standard();
  // Drops the shared object after writing it out; the next standard() reads the file again
  // (a restart of the defaults, as the next launch sees them).
  static void resetStandard();

  explicit UserDefaults(const QString& filePath);
  ~UserDefaults();

  QString filePath() const { return m_filePath; }

  void registerDefaults(const QVariantMap& defaults);
  QVariantMap registrationDomain() const;
  QVariantMap persistentDomain() const;
  // The persistent values over the registered ones.
  QVariantMap dictionaryRepresentation() const;

  QVariant objectForKey(const QString& key) const;
  // Typed reads convert as the defaults system does: numbers, numeric strings and "YES"/"NO" are
  // accepted where they make sense; an absent or unconvertible value gives the type's zero.
  qint64 integerForKey(const QString& key) const;
  bool boolForKey(const QString& key) const;
  float floatForKey(const QString& key) const;
  double doubleForKey(const QString& key) const;
  QString stringForKey(const QString& key) const;  // null QString when absent or not a string/number
  QUrl URLForKey(const QString& key) const;         // empty QUrl when absent
  QVariantList arrayForKey(const QString& key) const;
  QVariantMap dictionaryForKey(const QString& key) const;

  void setObject(const QString& key, const QVariant& value);  // a null value removes the key
  void setInteger(const QString& key, qint64 value);
  void setBool(const QString& key, bool value);
  void setFloat(const QString& key, float value);
  void setDouble(const QString& key, double value);
  void setURL(const QString& key, const QUrl& url);
  void removeObject(const QString& key);
  // Writes the persistent domain to disk now when it changed; false when the write failed.
  bool synchronize();

  // Messages about the file (a damaged file moved aside, a failed write) go to the platform log once
  // the application has installed one; earlier ones are kept until the log can take them.
  QStringList takePendingMessages();

  // What reading the stored file found, for the user to be told once: the file was damaged and kept
  // aside (at *path), or it could not be read (no permission, not a regular file, damaged and not
  // movable) and stays as it is (at *path, with *reason) while this run's changes are not saved.
  enum class FileProblem { None, SetAside, Unreadable };
  // Hands the problem over once; None afterwards.
  FileProblem takeFileProblem(QString* path = nullptr, QString* reason = nullptr);

  // Called once in the object's life, at the first write of the file that fails (a read-only or full file
  // system, a link or a folder in the file's place), with the file and the reason (a sentence that names
  // the file), on the thread that wrote: the user must learn that changes made from now on are lost. A
  // handler set after that failure is called at once. Writes that a file left unread does not allow are
  // not failures: that file was told already.
  using WriteFailureHandler = std::function<void(const QString& path, const QString& reason)>;
  void setWriteFailureHandler(WriteFailureHandler handler);

 private:
  void load();
  void scheduleWrite();
  bool writeLocked();
  // Calls the handler with a failure not told yet; never with the lock held.
  void tellWriteFailure();
  void report(const QString& message);

  QString m_filePath;
  mutable QMutex m_mutex;
  QVariantMap m_registration;
  QVariantMap m_persistent;
  bool m_dirty = false;
  // The stored file exists but could not be read (permissions): it is never written over.
  bool m_unreadable = false;
  std::atomic<bool> m_writeScheduled{false};
  QStringList m_messages;
  FileProblem m_fileProblem = FileProblem::None;
  QString m_problemPath;
  QString m_problemReason;
  WriteFailureHandler m_writeFailureHandler;
  // The first failed write's reason, until it is told; once told, no later failure is.
  QString m_writeFailure;
  bool m_writeFailureTold = false;
  std::unique_ptr<DispatchQueue> m_writer;
};
