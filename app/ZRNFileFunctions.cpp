#include "app/ZRNFileFunctions.h"

#include "app/ZRNJSONBridge.h"
#include "app/ZRNLogger.h"
#include "platform/foundation/PropertyList.h"

#include <QSaveFile>

void File_WriteSettings(const QUrl& folder, const QString& baseName, const QString& extension,
                        const QVariantMap& dictionary) {
  const QString name = extension.isEmpty() ? baseName : baseName + QLatin1Char('.') + extension;
  if (folder.isEmpty() || baseName.isEmpty()) return;
  const QString path = folder.toLocalFile() + QLatin1Char('/') + name;
  if (extension == QLatin1String("plist")) {
    QString error;
    if (!PropertyList_WriteFile(path, dictionary, PropertyListFormat::XML, &error))
      ZRNLogger_Log(QStringLiteral("ATT: error writing settings plist: %@"), error);
  } else if (extension == QLatin1String("json")) {
    const QByteArray data = JSON_CFDataFromCF(dictionary);
    if (data.isEmpty()) return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
      ZRNLogger_Log(QStringLiteral("ATT: error writing settings json: %@"), file.errorString());
  }
}
