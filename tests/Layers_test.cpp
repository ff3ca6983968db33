// Every include of the product goes down the layers the build declares, never up, sideways or through a
// relative path. The build writes its table of layers (folder | folders below it | packages it uses) into
// layers.txt; these tests read it and every source file of every layer.

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

namespace {

struct Layer {
  QString folder;
  QStringList below;
  QStringList uses;
};

QList<Layer> ReadLayerTable(const QString& text) {
  QList<Layer> layers;
  for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QStringList parts = line.split(QLatin1Char('|'));
    if (parts.size() != 3) continue;
    layers.append({parts[0], parts[1].split(QLatin1Char(';'), Qt::SkipEmptyParts),
                   parts[2].split(QLatin1Char(';'), Qt::SkipEmptyParts)});
  }
  return layers;
}

// The layer a folder of the tree belongs to: the longest layer folder that holds it.
const Layer* LayerOf(const QList<Layer>& layers, const QString& folder) {
  const Layer* best = nullptr;
  for (const Layer& layer : layers) {
    if ((folder == layer.folder || folder.startsWith(layer.folder + QLatin1Char('/'))) &&
        (!best || layer.folder.size() > best->folder.size()))
      best = &layer;
  }
  return best;
}

// What is wrong with the includes of one file of the layer `includer`, one line per fault.
QStringList IncludeFaults(const QList<Layer>& layers, const Layer& includer, const QString& file,
                          const QString& contents) {
  static const QRegularExpression include(QStringLiteral(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])"),
                                          QRegularExpression::MultilineOption);
  QStringList faults;
  auto it = include.globalMatch(contents);
  while (it.hasNext()) {
    const auto match = it.next();
    const QString path = match.captured(2);
    const bool quoted = match.captured(1) == QLatin1String("\"");
    const QString where = file + QLatin1String(": ") + path;
    if (path.contains(QLatin1String(".."))) {
      faults << where + QLatin1String(" (relative include)");
      continue;
    }
    if (!quoted) {
      if ((path.startsWith(QLatin1String("libav")) || path.startsWith(QLatin1String("libsw"))) &&
          !includer.uses.contains(QLatin1String("FFmpeg")))
        faults << where + QLatin1String(" (FFmpeg in a layer that does not use it)");
      continue;
    }
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) continue;  // a header beside the file, or one the build generates (ui_*.h)
    const QString folder = path.left(slash);
    const Layer* target = LayerOf(layers, folder);
    if (!target || target->folder != folder) {
      faults << where + QLatin1String(" (not a folder of any layer)");
    } else if (target->folder != includer.folder && !includer.below.contains(target->folder)) {
      faults << where + QLatin1String(" (not below ") + includer.folder + QLatin1Char(')');
    }
  }
  return faults;
}

QList<Layer> BuildLayers() {
  QFile table(QStringLiteral(VELMORA_BINARY_DIR "/layers.txt"));
  if (!table.open(QIODevice::ReadOnly)) return {};
  return ReadLayerTable(QString::fromUtf8(table.readAll()));
}

}  // namespace

TEST(Layers, TheCheckFindsEveryKindOfFault) {
  const QList<Layer> layers = ReadLayerTable(QStringLiteral(
      "platform/foundation||Core\n"
      "platform/media/io|platform/foundation|Core;FFmpeg\n"
      "platform/media/player|platform/foundation;platform/media/io|Core;FFmpeg\n"
      "session|platform/foundation|Core\n"
      "capture|session;platform/foundation;platform/media/io|Core;FFmpeg\n"
      "app|capture;session;platform/foundation|Core\n"));
  const Layer& capture = layers[4];
  const Layer& io = layers[1];
  const Layer& session = layers[3];
  struct Case {
    const Layer& includer;
    const char* line;
    bool fault;
  };
  const Case cases[] = {
      {capture, "#include \"session/VLDocument.h\"", false},
      {capture, "#include \"capture/VLLiveWC.h\"", false},
      {capture, "#include \"ui_ZRNWaiting.h\"", false},
      {capture, "#include \"Beside.h\"", false},
      {capture, "#include <libavcodec/avcodec.h>", false},
      {capture, "#include \"../app/ZRNAppDelegate.h\"", true},
      {capture, "#include \"app/ZRNAppDelegate.h\"", true},
      {capture, "#  include \"app/ZRNAppDelegate.h\"", true},
      {capture, "#include \"platform/media/player/Player.h\"", true},
      {capture, "#include \"platform/media/Player.h\"", true},
      {capture, "#include \"platform/nowhere/X.h\"", true},
      {io, "#include \"platform/media/player/Player.h\"", true},
      {io, "#include \"platform/foundation/Fmt.h\"", false},
      {session, "#include <libavformat/avformat.h>", true},
      {session, "#include <libswscale/swscale.h>", true},
  };
  for (const Case& c : cases) {
    const QStringList faults = IncludeFaults(layers, c.includer, QStringLiteral("f.cpp"),
                                             QString::fromLatin1(c.line));
    EXPECT_EQ(!faults.isEmpty(), c.fault) << c.includer.folder.toStdString() << ": " << c.line;
  }
}

TEST(Layers, EveryIncludeGoesDownTheLayers) {
  const QList<Layer> layers = BuildLayers();
  ASSERT_GE(layers.size(), 10) << "layers.txt missing from the build folder";
  QStringList faults;
  int files = 0;
  for (const Layer& layer : layers) {
    const QDir dir(Test_SourcePath(layer.folder));
    ASSERT_TRUE(dir.exists()) << layer.folder.toStdString();
    for (const QString& name : dir.entryList({QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files)) {
      QFile file(dir.filePath(name));
      ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
      faults << IncludeFaults(layers, layer, layer.folder + QLatin1Char('/') + name,
                              QString::fromUtf8(file.readAll()));
      ++files;
    }
  }
  EXPECT_GT(files, 200);
  EXPECT_TRUE(faults.isEmpty()) << faults.join(QLatin1Char('\n')).toStdString();
}

TEST(Layers, EveryProductFolderIsALayer) {
  // A folder of sources that no layer owns would escape the check above.
  const QList<Layer> layers = BuildLayers();
  QStringList loose;
  for (const char* top : {"platform", "common", "session", "composition", "capture", "playback", "firstaid",
                          "prefs", "app"}) {
    QStringList folders{QString::fromLatin1(top)};
    while (!folders.isEmpty()) {
      const QString folder = folders.takeFirst();
      const QDir dir(Test_SourcePath(folder));
      for (const QString& sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        folders << folder + QLatin1Char('/') + sub;
      const bool hasSources = !dir.entryList({QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files).isEmpty();
      const Layer* owner = LayerOf(layers, folder);
      if (hasSources && (!owner || owner->folder != folder)) loose << folder;
    }
  }
  EXPECT_TRUE(loose.isEmpty()) << loose.join(QLatin1Char(' ')).toStdString();
}
