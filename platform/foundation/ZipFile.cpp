#include "platform/foundation/ZipFile.h"

#include "platform/foundation/Fmt.h"
#include "platform/foundation/SafeFile.h"

#include <minizip/unzip.h>
#include <minizip/zip.h>

#include <QDate>
#include <QFile>
#include <QTime>

#include <algorithm>

namespace {
constexpr int kNameBufferSize = 256;
// Deflate's raw stream: zip entries carry no zlib header.
constexpr int kWindowBits = -15;
constexpr int kMemLevel = 8;
constexpr int kDefaultStrategy = 0;
// Made on Unix (high byte 3), to version 3.0 of the format: unzip then takes the UTF-8 flag (bit 11) at
// its word instead of reading the name as code page 437, and reads the external attributes as a mode.
constexpr uLong kVersionMadeBy = (3 << 8) | 30;
constexpr uLong kUTF8NameFlag = 1 << 11;
// A regular file, rw-r--r--, in the high half of the external attributes (made on Unix).
constexpr uLong kRegularFileAttributes = 0100644UL << 16;

zipFile asZip(void* handle) { return static_cast<zipFile>(handle); }
unzFile asUnz(void* handle) { return static_cast<unzFile>(handle); }

// The end-of-central-directory record of an archive with no entries and no comment: its signature
// "PK\5\6", then disk numbers, entry counts, directory size and offset, comment length, all 0.
constexpr qint64 kEmptyArchiveSize = 22;

// Whether the file at path is exactly that record and nothing else. Anything more (a comment, a
// directory, other bytes before it) is left to minizip to judge.
bool U_IsEmptyArchive(const QString& path) {
  QFile file;
  if (!SafeFile_OpenForReading(file, path) || file.size() != kEmptyArchiveSize) return false;
  const QByteArray record = file.read(kEmptyArchiveSize + 1);
  if (record.size() != kEmptyArchiveSize || !record.startsWith(QByteArrayLiteral("PK\x05\x06"))) return false;
  return std::all_of(record.cbegin() + 4, record.cend(), [](char c) { return c == 0; });
}
}  // namespace

ZipException::ZipException(const QString& reason) : ZipException(0, reason) {}

ZipException::ZipException(qint64 error, const QString& reason)
    : m_error(error), m_reason(reason), m_what(reason.toUtf8()) {}

FileInZipInfo::FileInZipInfo(const QString& name, quint64 length, int32_t level, bool crypted, quint64 size,
                             const QDateTime& date, quint64 crc32)
    : m_name(name), m_length(length), m_level(level), m_crypted(crypted), m_size(size), m_date(date), m_crc32(crc32) {}

// ---- ZipWriteStream ----

ZipWriteStream::ZipWriteStream(void* zipFileStruct, const QString& fileNameInZip)
    : m_zipFile(zipFileStruct), m_fileNameInZip(fileNameInZip) {}

void ZipWriteStream::writeData(const QByteArray& data) {
  // minizip takes at most an unsigned int per call.
  qsizetype offset = 0;
  do {
    const unsigned chunk = static_cast<unsigned>(std::min<qsizetype>(data.size() - offset, 1 << 30));
    const int err = zipWriteInFileInZip(asZip(m_zipFile), data.constData() + offset, chunk);
    if (err < 0) throw ZipException(err, Fmt(QStringLiteral("Error in writing '%@' in the zipfile"), m_fileNameInZip));
    offset += chunk;
  } while (offset < data.size());
}

void ZipWriteStream::finishedWriting() {
  const int err = zipCloseFileInZip(asZip(m_zipFile));
  if (err != ZIP_OK) throw ZipException(err, Fmt(QStringLiteral("Error in closing '%@' in the zipfile"), m_fileNameInZip));
}

// ---- ZipReadStream ----

ZipReadStream::ZipReadStream(void* unzFileStruct, const QString& fileNameInZip)
    : m_unzFile(unzFileStruct), m_fileNameInZip(fileNameInZip) {}

quint64 ZipReadStream::readDataWithBuffer(QByteArray& buffer) {
  const unsigned length = static_cast<unsigned>(std::min<qsizetype>(buffer.size(), 1 << 30));
  if (length == 0) return 0;
  const int read = unzReadCurrentFile(asUnz(m_unzFile), buffer.data(), length);
  if (read < 0) throw ZipException(read, Fmt(QStringLiteral("Error in reading '%@' in the zipfile"), m_fileNameInZip));
  return static_cast<quint64>(read);
}

void ZipReadStream::finishedReading() {
  const int err = unzCloseCurrentFile(asUnz(m_unzFile));
  if (err != UNZ_OK) throw ZipException(err, Fmt(QStringLiteral("Error in closing '%@' in the zipfile"), m_fileNameInZip));
}

// ---- ZipFile ----

ZipFile::ZipFile(const QString& fileName, int32_t mode) : m_fileName(fileName), m_mode(mode) {
  const QByteArray path = fileName.toUtf8();
  switch (mode) {
    case ZipFileModeUnzip:
      m_unzFile = unzOpen64(path.constData());
      // minizip refuses the archive that it writes itself when it is closed without entries.
      if (!m_unzFile && U_IsEmptyArchive(fileName)) {
        m_emptyArchive = true;
        return;
      }
      break;
    case ZipFileModeCreate:
      m_zipFile = zipOpen64(path.constData(), APPEND_STATUS_CREATE);
      break;
    case ZipFileModeAppend:
      m_zipFile = zipOpen64(path.constData(), APPEND_STATUS_ADDINZIP);
      break;
    default:
      throw ZipException(Fmt(QStringLiteral("Unknown mode %d"), mode));
  }
  if (!m_unzFile && !m_zipFile) throw ZipException(Fmt(QStringLiteral("Can't open '%@'"), fileName));
}

ZipFile::~ZipFile() {
  if (m_zipFile) zipClose(asZip(m_zipFile), nullptr);
  if (m_unzFile) unzClose(asUnz(m_unzFile));
}

void ZipFile::requireUnzipMode() const {
  if (m_mode != ZipFileModeUnzip) throw ZipException(QStringLiteral("Operation not permitted without Unzip mode"));
}

void ZipFile::throwNoEntry(const char* reason) const {
  throw ZipException(UNZ_END_OF_LIST_OF_FILE, Fmt(QString::fromLatin1(reason), m_fileName));
}

void ZipFile::requireZipMode() const {
  if (m_mode == ZipFileModeUnzip) throw ZipException(QStringLiteral("Operation not permitted with Unzip mode"));
}

std::unique_ptr<ZipWriteStream> ZipFile::writeFileInZipWithName(const QString& name, int32_t compressionLevel) {
  return writeFileInZipWithName(name, QDateTime::currentDateTime(), compressionLevel);
}

std::unique_ptr<ZipWriteStream> ZipFile::writeFileInZipWithName(const QString& name, const QDateTime& fileDate,
                                                                int32_t compressionLevel) {
  return writeFileInZipWithName(name, fileDate, compressionLevel, QString(), 0);
}

std::unique_ptr<ZipWriteStream> ZipFile::writeFileInZipWithName(const QString& name, const QDateTime& fileDate,
                                                                int32_t compressionLevel, const QString& password,
                                                                quint64 crc32) {
  requireZipMode();
  if (!m_zipFile) throw ZipException(Fmt(QStringLiteral("Error in opening '%@' in zipfile"), name));
  // The entry's time record is local time, as zip tools show it.
  const QDateTime local = fileDate.toLocalTime();
  zip_fileinfo info = {};
  info.tmz_date.tm_sec = static_cast<uInt>(local.time().second());
  info.tmz_date.tm_min = static_cast<uInt>(local.time().minute());
  info.tmz_date.tm_hour = static_cast<uInt>(local.time().hour());
  info.tmz_date.tm_mday = static_cast<uInt>(local.date().day());
  info.tmz_date.tm_mon = static_cast<uInt>(local.date().month() - 1);
  info.tmz_date.tm_year = static_cast<uInt>(local.date().year());
  info.external_fa = kRegularFileAttributes;
  // The system's minizip marks an entry as encrypted without producing one that any reader accepts:
  // an entry with a password would be lost, so none is started.
  if (!password.isNull()) throw ZipException(ZIP_PARAMERROR, Fmt(QStringLiteral("Error in opening '%@' in zipfile"), name));
  Q_UNUSED(crc32);
  const QByteArray nameBytes = name.toUtf8();
  // Names beyond ASCII carry the UTF-8 flag, so that other tools do not read them as code page 437.
  const bool ascii = std::all_of(nameBytes.cbegin(), nameBytes.cend(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  const uLong flagBase = ascii ? 0 : kUTF8NameFlag;
  const int err = zipOpenNewFileInZip4(asZip(m_zipFile), nameBytes.constData(), &info, nullptr, 0, nullptr, 0, nullptr,
                                       compressionLevel != 0 ? Z_DEFLATED : 0, compressionLevel, 0, kWindowBits,
                                       kMemLevel, kDefaultStrategy, nullptr, 0, kVersionMadeBy, flagBase);
  if (err != ZIP_OK) throw ZipException(err, Fmt(QStringLiteral("Error in opening '%@' in zipfile"), name));
  return std::make_unique<ZipWriteStream>(m_zipFile, name);
}

quint64 ZipFile::numFilesInZip() {
  requireUnzipMode();
  if (m_emptyArchive) return 0;
  unz_global_info64 info = {};
  const int err = unzGetGlobalInfo64(asUnz(m_unzFile), &info);
  if (err != UNZ_OK) throw ZipException(err, Fmt(QStringLiteral("Error in getting global info in '%@'"), m_fileName));
  return info.number_entry;
}

QList<FileInZipInfo> ZipFile::listFileInZipInfos() {
  const quint64 count = numFilesInZip();
  QList<FileInZipInfo> infos;
  if (count == 0) return infos;
  goToFirstFileInZip();
  for (quint64 i = 0; i < count; ++i) {
    infos << getCurrentFileInZipInfo();
    if (i + 1 < count) goToNextFileInZip();
  }
  return infos;
}

void ZipFile::goToFirstFileInZip() {
  requireUnzipMode();
  if (m_emptyArchive) throwNoEntry("Error in going to first file in zip in '%@'");
  const int err = unzGoToFirstFile(asUnz(m_unzFile));
  if (err != UNZ_OK)
    throw ZipException(err, Fmt(QStringLiteral("Error in going to first file in zip in '%@'"), m_fileName));
}

bool ZipFile::goToNextFileInZip() {
  requireUnzipMode();
  if (m_emptyArchive) return false;
  const int err = unzGoToNextFile(asUnz(m_unzFile));
  if (err == UNZ_END_OF_LIST_OF_FILE) return false;
  if (err != UNZ_OK)
    throw ZipException(err, Fmt(QStringLiteral("Error in going to next file in zip in '%@'"), m_fileName));
  return true;
}

bool ZipFile::locateFileInZip(const QString& fileNameInZip) {
  requireUnzipMode();
  if (m_emptyArchive) return false;
  const int err = unzLocateFile(asUnz(m_unzFile), fileNameInZip.toUtf8().constData(), 1);
  if (err == UNZ_END_OF_LIST_OF_FILE) return false;
  if (err != UNZ_OK)
    throw ZipException(err, Fmt(QStringLiteral("Error in going to next file in zip in '%@'"), m_fileName));
  return true;
}

FileInZipInfo ZipFile::getCurrentFileInZipInfo() {
  requireUnzipMode();
  if (m_emptyArchive) throwNoEntry("Error in getting current file info in '%@'");
  char name[kNameBufferSize] = {};
  unz_file_info64 info = {};
  const int err = unzGetCurrentFileInfo64(asUnz(m_unzFile), &info, name, sizeof name - 1, nullptr, 0, nullptr, 0);
  if (err != UNZ_OK)
    throw ZipException(err, Fmt(QStringLiteral("Error in getting current file info in '%@'"), m_fileName));
  int32_t level = 0;
  if (info.compression_method != 0) {
    switch ((info.flag & 0x6) >> 1) {
      case 0: level = -1; break;
      case 1: level = 9; break;
      default: level = 1; break;
    }
  }
  const bool crypted = (info.flag & 1) != 0;
  const tm_unz& t = info.tmu_date;
  const QDateTime date(QDate(static_cast<int>(t.tm_year), static_cast<int>(t.tm_mon) + 1, static_cast<int>(t.tm_mday)),
                       QTime(static_cast<int>(t.tm_hour), static_cast<int>(t.tm_min), static_cast<int>(t.tm_sec)));
  return FileInZipInfo(QString::fromUtf8(name), info.uncompressed_size, level, crypted, info.compressed_size, date,
                       info.crc);
}

QString ZipFile::currentFileName() {
  if (m_emptyArchive) throwNoEntry("Error in getting current file info in '%@'");
  char name[kNameBufferSize] = {};
  unz_file_info64 info = {};
  const int err = unzGetCurrentFileInfo64(asUnz(m_unzFile), &info, name, sizeof name - 1, nullptr, 0, nullptr, 0);
  if (err != UNZ_OK)
    throw ZipException(err, Fmt(QStringLiteral("Error in getting current file info in '%@'"), m_fileName));
  return QString::fromUtf8(name);
}

std::unique_ptr<ZipReadStream> ZipFile::readCurrentFileInZip() {
  return readCurrentFileInZipWithPassword(QString());
}

std::unique_ptr<ZipReadStream> ZipFile::readCurrentFileInZipWithPassword(const QString& password) {
  requireUnzipMode();
  const QString name = currentFileName();
  const QByteArray passwordBytes = password.toUtf8();
  const int err = unzOpenCurrentFilePassword(asUnz(m_unzFile), password.isNull() ? nullptr : passwordBytes.constData());
  if (err != UNZ_OK) throw ZipException(err, Fmt(QStringLiteral("Error in opening current file in '%@'"), m_fileName));
  return std::make_unique<ZipReadStream>(m_unzFile, name);
}

void ZipFile::close() {
  int err = 0;
  switch (m_mode) {
    case ZipFileModeCreate:
    case ZipFileModeAppend:
      err = m_zipFile ? zipClose(asZip(m_zipFile), nullptr) : ZIP_OK;
      m_zipFile = nullptr;
      break;
    case ZipFileModeUnzip:
      err = m_unzFile ? unzClose(asUnz(m_unzFile)) : UNZ_OK;
      m_unzFile = nullptr;
      m_emptyArchive = false;
      break;
    default:
      throw ZipException(Fmt(QStringLiteral("Unknown mode %d"), m_mode));
  }
  if (err != 0) throw ZipException(err, Fmt(QStringLiteral("Error in closing '%@'"), m_fileName));
}
