#pragma once
// Reading a zip archive with Python's zipfile, a reader that shares no code with ours.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QVariantMap>

// One entry as Python sees it: "name", "compress_type", "flag_bits", "file_size", "date_time"
// ("YYYY-MM-DD HH:MM:SS"), "data" (the bytes) and "plist" (the entry parsed by plistlib as JSON, for
// entries named *.plist). An empty list with `error` set when Python fails or the archive is damaged.
inline QList<QVariantMap> Test_PythonZipEntries(const QString& archive, QString* error = nullptr) {
  static const char* script =
      "import base64,json,plistlib,sys,zipfile,datetime\n"
      "z=zipfile.ZipFile(sys.argv[1])\n"
      "bad=z.testzip()\n"
      "if bad: sys.exit('bad entry '+bad)\n"
      "out=[]\n"
      "for i in z.infolist():\n"
      "  d=z.read(i)\n"
      "  e={'name':i.filename,'compress_type':i.compress_type,'flag_bits':i.flag_bits,'file_size':i.file_size,\n"
      "     'date_time':'%04d-%02d-%02d %02d:%02d:%02d'%i.date_time,'data':base64.b64encode(d).decode()}\n"
      "  if i.filename.endswith('.plist'):\n"
      "    e['plist']=json.loads(json.dumps(plistlib.loads(d),default=str))\n"
      "  out.append(e)\n"
      "print(json.dumps(out))\n";
  QProcess python;
  python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromLatin1(script), archive});
  QList<QVariantMap> entries;
  if (!python.waitForFinished(60000) || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0) {
    if (error) *error = QString::fromUtf8(python.readAllStandardError());
    return entries;
  }
  for (const QJsonValue& value : QJsonDocument::fromJson(python.readAllStandardOutput()).array()) {
    QVariantMap entry = value.toObject().toVariantMap();
    entry[QStringLiteral("data")] = QByteArray::fromBase64(entry.value(QStringLiteral("data")).toString().toLatin1());
    entries << entry;
  }
  return entries;
}

// The entry of that name, or an empty map.
inline QVariantMap Test_ZipEntry(const QList<QVariantMap>& entries, const QString& name) {
  for (const QVariantMap& entry : entries)
    if (entry.value(QStringLiteral("name")).toString() == name) return entry;
  return {};
}
