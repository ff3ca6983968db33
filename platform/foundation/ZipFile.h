#pragma once
// Zip archives on the system's minizip: ZipFile opens one archive for unzipping, creating or appending,
// ZipWriteStream writes one entry, ZipReadStream reads one, FileInZipInfo describes one. Every failure
// throws ZipException with the reason and minizip's result code.
//
// An archive without entries (the 22 bytes of an end-of-central-directory record alone, as closing an archive
// that nothing was written into leaves it) opens for unzipping as an empty list, although the system's
// minizip refuses it.
//
// An archive is used from one thread at a time. A stream works on its ZipFile's handle and must not
// outlive it; one entry at a time is open.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdint>
#include <exception>
#include <memory>

class ZipException : public std::exception {
 public:
  explicit ZipException(const QString& reason);
  ZipException(qint64 error, const QString& reason);

  QString name() const { return QStringLiteral("ZipException"); }
  QString reason() const { return m_reason; }
  // minizip's result code; 0 for failures that did not come from minizip.
  qint64 error() const { return m_error; }
  const char* what() const noexcept override { return m_what.constData(); }

 private:
  qint64 m_error = 0;
  QString m_reason;
  QByteArray m_what;
};

class FileInZipInfo {
 public:
  FileInZipInfo(const QString& name, quint64 length, int32_t level, bool crypted, quint64 size,
                const QDateTime& date, quint64 crc32);

  QString name() const { return m_name; }
  quint64 length() const { return m_length; }     // uncompressed
  int32_t level() const { return m_level; }       // 0 stored, -1 default, 9 best, 1 fastest
  bool crypted() const { return m_crypted; }
  quint64 size() const { return m_size; }         // compressed
  QDateTime date() const { return m_date; }
  quint64 crc32() const { return m_crc32; }

 private:
  QString m_name;
  quint64 m_length;
  int32_t m_level;
  bool m_crypted;
  quint64 m_size;
  QDateTime m_date;
  quint64 m_crc32;
};

class ZipWriteStream {
 public:
  ZipWriteStream(void* zipFileStruct, const QString& fileNameInZip);
  void writeData(const QByteArray& data);
  void finishedWriting();
  QString fileNameInZip() const { return m_fileNameInZip; }

 private:
  void* m_zipFile;
  QString m_fileNameInZip;
};

class ZipReadStream {
 public:
  ZipReadStream(void* unzFileStruct, const QString& fileNameInZip);
  // Reads up to buffer.size() bytes into the buffer; 0 at the end of the entry.
  quint64 readDataWithBuffer(QByteArray& buffer);
  void finishedReading();
  QString fileNameInZip() const { return m_fileNameInZip; }

 private:
  void* m_unzFile;
  QString m_fileNameInZip;
};

class ZipFile {
 public:
  enum Mode : int32_t { ZipFileModeUnzip = 0, ZipFileModeCreate = 1, ZipFileModeAppend = 2 };

  ZipFile(const QString& fileName, int32_t mode);
  // An archive still open is closed quietly, so that what was written stays a readable zip.
  ~ZipFile();
  ZipFile(const ZipFile&) = delete;
  ZipFile& operator=(const ZipFile&) = delete;

  std::unique_ptr<ZipWriteStream> writeFileInZipWithName(const QString& name, int32_t compressionLevel);
  std::unique_ptr<ZipWriteStream> writeFileInZipWithName(const QString& name, const QDateTime& fileDate,
                                                         int32_t compressionLevel);
  // The system's minizip cannot write an encrypted entry that readers accept: with a password nothing is
  // started and ZipException is thrown.
  std::unique_ptr<ZipWriteStream> writeFileInZipWithName(const QString& name, const QDateTime& fileDate,
                                                         int32_t compressionLevel, const QString& password,
                                                         quint64 crc32);

  QString fileName() const { return m_fileName; }
  quint64 numFilesInZip();
  QList<FileInZipInfo> listFileInZipInfos();
  void goToFirstFileInZip();
  // false at the end of the list.
  bool goToNextFileInZip();
  // Case-sensitive; false when there is no entry of that name.
  bool locateFileInZip(const QString& fileNameInZip);
  FileInZipInfo getCurrentFileInZipInfo();
  std::unique_ptr<ZipReadStream> readCurrentFileInZip();
  std::unique_ptr<ZipReadStream> readCurrentFileInZipWithPassword(const QString& password);
  void close();

 private:
  void requireUnzipMode() const;
  void requireZipMode() const;
  QString currentFileName();
  // An empty archive has no current entry: throws reason (with the path) and the end-of-list code.
  [[noreturn]] void throwNoEntry(const char* reason) const;

  QString m_fileName;
  int32_t m_mode;
  void* m_zipFile = nullptr;
  void* m_unzFile = nullptr;
  // Opened for unzipping and known to hold no entry: there is no minizip handle.
  bool m_emptyArchive = false;
};
