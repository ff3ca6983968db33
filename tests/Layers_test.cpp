// Every include of the product goes down the layers the build declares, never up, sideways or through a
// relative path. The build writes its table of layers (folder | folders below it | packages it uses) into
// layers.txt; these tests read it and every source file of every layer.

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QHash>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <functional>

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

// The Qt module that provides each header Qt installs (<QWidget>, <QtWidgets/QWidget>, <qwidget.h>).
const QHash<QString, QSet<QString>>& QtHeaderModules() {
  static const QHash<QString, QSet<QString>> modules = [] {
    QHash<QString, QSet<QString>> map;
    const QDir root(QLibraryInfo::path(QLibraryInfo::HeadersPath));
    for (const QString& dir : root.entryList({QStringLiteral("Qt*")}, QDir::Dirs)) {
      const QString module = dir.mid(2);
      map[dir].insert(module);
      for (const QString& header : QDir(root.filePath(dir)).entryList(QDir::Files)) map[header].insert(module);
    }
    return map;
  }();
  return modules;
}

// What an angle-bracket include needs: "FFmpeg", or the Qt modules that provide it, one of which will do
// ("Gui|Widgets"); empty for the system's and the other libraries' own headers.
QString NeedOf(const QString& path) {
  if (path.startsWith(QLatin1String("libav")) || path.startsWith(QLatin1String("libsw"))) return QStringLiteral("FFmpeg");
  const QString first = path.section(QLatin1Char('/'), 0, 0);
  if (!first.startsWith(QLatin1Char('Q')) && !first.startsWith(QLatin1Char('q'))) return {};
  QStringList modules = QtHeaderModules().value(first).values();
  modules.sort();
  return modules.join(QLatin1Char('|'));
}

struct Include {
  QString path;
  bool quoted;
};

QList<Include> IncludesOf(const QString& contents) {
  static const QRegularExpression include(QStringLiteral(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])"),
                                          QRegularExpression::MultilineOption);
  QList<Include> includes;
  auto it = include.globalMatch(contents);
  while (it.hasNext()) {
    const auto match = it.next();
    includes.append({match.captured(2), match.captured(1) == QLatin1String("\"")});
  }
  return includes;
}

// Every need of a header of ours, through the headers of ours it includes in turn: what a layer takes in
// when it includes that header. `read` gives a header's contents (empty when it is not ours).
using HeaderReader = std::function<QString(const QString&)>;

QSet<QString> PackagesThrough(const QString& header, const HeaderReader& read, QHash<QString, QSet<QString>>& seen) {
  if (seen.contains(header)) return seen.value(header);
  seen.insert(header, {});  // a cycle adds nothing
  QSet<QString> packages;
  for (const Include& inc : IncludesOf(read(header))) {
    if (!inc.quoted) {
      if (const QString need = NeedOf(inc.path); !need.isEmpty()) packages.insert(need);
    } else if (!inc.path.contains(QLatin1String(".."))) {
      // A header beside this one is named without its folder.
      const QString named = inc.path.contains(QLatin1Char('/')) ? inc.path : header.section(QLatin1Char('/'), 0, -2) + QLatin1Char('/') + inc.path;
      packages.unite(PackagesThrough(named, read, seen));
    }
  }
  seen.insert(header, packages);
  return packages;
}

// The needs that the packages a layer uses do not meet, as text; empty when all are met.
QString NeedsText(const QSet<QString>& needs, const QStringList& uses) {
  QStringList unmet;
  for (const QString& need : needs) {
    const QStringList alternatives = need.split(QLatin1Char('|'));
    if (std::none_of(alternatives.begin(), alternatives.end(), [&](const QString& p) { return uses.contains(p); }))
      unmet << alternatives.join(QLatin1String(" or "));
  }
  unmet.sort();
  return unmet.join(QLatin1String(", "));
}

QString ReadSource(const QString& relative) {
  QFile file(Test_SourcePath(relative));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

// What is wrong with the includes of one file of the layer `includer`, one line per fault.
QStringList IncludeFaults(const QList<Layer>& layers, const Layer& includer, const QString& file,
                          const QString& contents, const HeaderReader& read = ReadSource) {
  QStringList faults;
  QHash<QString, QSet<QString>> seen;
  for (const Include& inc : IncludesOf(contents)) {
    const QString& path = inc.path;
    const QString where = file + QLatin1String(": ") + path;
    if (path.contains(QLatin1String(".."))) {
      faults << where + QLatin1String(" (relative include)");
      continue;
    }
    if (!inc.quoted) {
      const QString need = NeedOf(path);
      const QString missing = need.isEmpty() ? QString() : NeedsText({need}, includer.uses);
      if (!missing.isEmpty()) faults << where + QLatin1String(" (") + missing + QLatin1String(" in a layer that does not use it)");
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
    } else {
      const QString missing = NeedsText(PackagesThrough(path, read, seen), includer.uses);
      if (!missing.isEmpty())
        faults << where + QLatin1String(" (brings ") + missing + QLatin1String(" into a layer that does not use it)");
    }
  }
  return faults;
}

// A layer may name only layers declared before it, so the order of the table is the order of the layers.
QStringList TableFaults(const QList<Layer>& layers) {
  QStringList faults;
  QSet<QString> declared;
  for (const Layer& layer : layers) {
    for (const QString& below : layer.below) {
      if (!declared.contains(below)) faults << layer.folder + QLatin1String(" names ") + below + QLatin1String(", which is not a layer below it");
    }
    declared.insert(layer.folder);
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
      "capture|session;platform/foundation;platform/media/io|Core;Widgets;FFmpeg\n"
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
      {session, "#include <QString>", false},
      {session, "#include <QtCore/QString>", false},
      {session, "#include <QtWidgets/QPushButton>", true},
      {session, "#include <QPushButton>", true},
      {session, "#include <qpushbutton.h>", true},
      {session, "#include <QtTest/QTest>", true},
      {capture, "#include <QPushButton>", false},
      {capture, "#include <vector>", false},
      // Headers of a lower layer that carry a package with them (read from the stand-in tree below).
      {session, "#include \"platform/foundation/Wraps.h\"", true},
      {session, "#include \"platform/foundation/WrapsWrap.h\"", true},
      {session, "#include \"platform/foundation/WrapsWidget.h\"", true},
      {capture, "#include \"platform/foundation/WrapsWrap.h\"", false},
      {session, "#include \"platform/foundation/Plain.h\"", false},
  };
  const HeaderReader tree = [](const QString& header) -> QString {
    if (header.endsWith(QLatin1String("/Wraps.h"))) return QStringLiteral("#include <libavutil/frame.h>\n");
    if (header.endsWith(QLatin1String("/WrapsWrap.h"))) return QStringLiteral("#include \"platform/foundation/Wraps.h\"\n");
    if (header.endsWith(QLatin1String("/WrapsWidget.h"))) return QStringLiteral("#include <QWidget>\n");
    if (header.endsWith(QLatin1String("/Plain.h"))) return QStringLiteral("#include <QString>\n#include \"platform/foundation/Plain.h\"\n");
    return {};
  };
  for (const Case& c : cases) {
    const QStringList faults = IncludeFaults(layers, c.includer, QStringLiteral("f.cpp"),
                                             QString::fromLatin1(c.line), tree);
    EXPECT_EQ(!faults.isEmpty(), c.fault) << c.includer.folder.toStdString() << ": " << c.line;
  }
  EXPECT_TRUE(TableFaults(layers).isEmpty());
  const QList<Layer> upward = ReadLayerTable(QStringLiteral(
      "platform/foundation||Core\n"
      "capture|platform/foundation;app|Core\n"
      "app|capture;platform/foundation|Core\n"));
  EXPECT_EQ(TableFaults(upward).size(), 1) << "capture names app, declared after it";
}

TEST(Layers, TheBuildsTableNamesOnlyLayersDeclaredBeforeEach) {
  const QList<Layer> layers = BuildLayers();
  ASSERT_GE(layers.size(), 10);
  const QStringList faults = TableFaults(layers);
  EXPECT_TRUE(faults.isEmpty()) << faults.join(QLatin1Char('\n')).toStdString();
}

namespace {
// The layers as docs/architecture.md draws them: folder -> the layers it may include, groups expanded.
QList<Layer> DocumentedLayers() {
  const QString notes = ReadSource(QStringLiteral("docs/architecture.md"));
  const QStringList core{QStringLiteral("platform/foundation"), QStringLiteral("platform/system"), QStringLiteral("platform/gui")};
  QStringList media;
  for (const char* stage : {"io", "capture", "writer", "asset", "export", "player"})
    media << QStringLiteral("platform/media/") + QLatin1String(stage);
  static const QRegularExpression row(QStringLiteral(R"(^\| `([^`]+)` \|[^|]*\| ([^|]*) \|$)"),
                                      QRegularExpression::MultilineOption);
  static const QRegularExpression quotedName(QStringLiteral("`([^`]+)`"));
  QList<Layer> layers;
  auto it = row.globalMatch(notes);
  while (it.hasNext()) {
    const auto match = it.next();
    Layer layer{match.captured(1), {}, {}};
    const QString may = match.captured(2);
    for (const QString& item : may.split(QStringLiteral(", "))) {
      if (item == QLatin1String("platform core")) layer.below << core;
      else if (item == QLatin1String("media")) layer.below << media;
      else if (auto name = quotedName.match(item); name.hasMatch()) layer.below << name.captured(1);
    }
    layers.append(layer);
  }
  return layers;
}
}  // namespace

TEST(Layers, TheArchitectureNotesDrawTheBuildsTable) {
  const QList<Layer> built = BuildLayers();
  const QList<Layer> drawn = DocumentedLayers();
  ASSERT_EQ(drawn.size(), built.size()) << "a layer of the build is missing from docs/architecture.md, or one too many";
  for (int i = 0; i < built.size(); ++i) {
    EXPECT_EQ(drawn[i].folder, built[i].folder) << "row " << i;
    QStringList a = drawn[i].below, b = built[i].below;
    a.removeDuplicates();
    b.removeDuplicates();
    a.sort();
    b.sort();
    EXPECT_EQ(a, b) << built[i].folder.toStdString() << ": the notes say " << a.join(QLatin1String(", ")).toStdString();
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
  // Everything at the top of the tree is product code but for these, so a new folder is checked at once.
  static const QStringList notProduct{QStringLiteral("tests"), QStringLiteral("bench"), QStringLiteral("fuzz"),
                                      QStringLiteral("tools"), QStringLiteral("resources"), QStringLiteral("scripts"),
                                      QStringLiteral("docs")};
  QStringList loose;
  const QDir source(Test_SourcePath(QString()));
  for (const QString& top : source.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    if (notProduct.contains(top) || top.startsWith(QLatin1String("build"))) continue;
    QStringList folders{top};
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

namespace {

// FFmpeg's seeking and encoding are written once, in the media io; every other layer asks it.
QStringList IoOnlyCallFaults(const QString& file, const QString& contents) {
  static const QRegularExpression call(
      QStringLiteral(R"(\b(av_seek_frame|avformat_seek_file|avcodec_send_frame|avcodec_receive_packet)\s*\()"));
  if (file.startsWith(QLatin1String("platform/media/io/"))) return {};
  QStringList faults;
  const QStringList lines = contents.split(QLatin1Char('\n'));
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QString code = lines[i].section(QLatin1String("//"), 0, 0);
    const QRegularExpressionMatch m = call.match(code);
    if (m.hasMatch()) faults << QStringLiteral("%1:%2 calls %3").arg(file).arg(i + 1).arg(m.captured(1));
  }
  return faults;
}

// Every source file of every layer, by its path from the source root.
QHash<QString, QString> ProductSources(const QList<Layer>& layers) {
  QHash<QString, QString> sources;
  for (const Layer& layer : layers) {
    const QDir dir(Test_SourcePath(layer.folder));
    for (const QString& name : dir.entryList({QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files)) {
      QFile file(dir.filePath(name));
      if (file.open(QIODevice::ReadOnly)) sources.insert(layer.folder + QLatin1Char('/') + name, QString::fromUtf8(file.readAll()));
    }
  }
  return sources;
}

}  // namespace

TEST(Layers, TheIoCheckFindsSeeksAndEncodesOutsideTheMediaIo) {
  const struct {
    const char* file;
    const char* contents;
    int faults;
  } cases[] = {
      {"platform/media/export/X.cpp", "  av_seek_frame(in, 0, ts, AVSEEK_FLAG_BACKWARD);\n", 1},
      {"platform/media/asset/X.cpp", "x;\n(void)avformat_seek_file (ctx, -1, a, b, c, 0);\n", 1},
      {"platform/media/writer/X.cpp", "rc = avcodec_send_frame(c, f);\nrc = avcodec_receive_packet(c, p);\n", 2},
      {"platform/media/io/FFmpegCodec.cpp", "av_seek_frame(in, 0, ts, 0); avcodec_send_frame(c, f);\n", 0},
      {"platform/media/asset/X.cpp", "// avformat_seek_file( is wrapped by FFmpeg_Rewind\nFFmpeg_Rewind(ctx);\n", 0},
      {"capture/X.cpp", "my_av_seek_frame(x);\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.contents);
    EXPECT_EQ(IoOnlyCallFaults(QString::fromLatin1(c.file), QString::fromLatin1(c.contents)).size(), c.faults);
  }
}

TEST(Layers, SeekingAndEncodingAreCalledOnlyInTheMediaIo) {
  const QHash<QString, QString> sources = ProductSources(BuildLayers());
  ASSERT_GT(sources.size(), 200) << "layers.txt missing from the build folder";
  QStringList faults;
  for (auto it = sources.begin(); it != sources.end(); ++it) faults << IoOnlyCallFaults(it.key(), it.value());
  faults.sort();
  EXPECT_TRUE(faults.isEmpty()) << faults.join(QLatin1Char('\n')).toStdString();
}

TEST(Shape, NoProductSourceFileIsOver600Lines) {
  // A file past this is split by concern into <Class>_<Concern>.cpp files.
  constexpr qsizetype kMaxLines = 600;
  const QHash<QString, QString> sources = ProductSources(BuildLayers());
  ASSERT_GT(sources.size(), 200) << "layers.txt missing from the build folder";
  QStringList long_;
  for (auto it = sources.begin(); it != sources.end(); ++it) {
    if (!it.key().endsWith(QLatin1String(".cpp"))) continue;
    const qsizetype lines = it.value().count(QLatin1Char('\n'));
    if (lines > kMaxLines) long_ << QStringLiteral("%1: %2 lines").arg(it.key()).arg(lines);
  }
  long_.sort();
  EXPECT_TRUE(long_.isEmpty()) << long_.join(QLatin1Char('\n')).toStdString();
}
