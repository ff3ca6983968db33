#include "common/ZRNDraggableObject.h"

#include "platform/foundation/StandardLocations.h"

#include <QDataStream>
#include <QIODevice>
#include <QSet>

#include <mutex>

namespace {
std::mutex& U_LiveLock() {
  static std::mutex lock;
  return lock;
}
QSet<const ZRNDraggableObject*>& U_LiveObjects() {
  static QSet<const ZRNDraggableObject*> objects;
  return objects;
}
}  // namespace

ZRNDraggableObject::ZRNDraggableObject() {
  std::lock_guard<std::mutex> guard(U_LiveLock());
  U_LiveObjects().insert(this);
}

ZRNDraggableObject::ZRNDraggableObject(const ZRNDraggableObject&) : ZRNDraggableObject() {}

ZRNDraggableObject::~ZRNDraggableObject() {
  std::lock_guard<std::mutex> guard(U_LiveLock());
  U_LiveObjects().remove(this);
}

QString ZRNDraggableObject::dndUTI() {
  return QStringLiteral("application/x-") + StandardLocations::appIdentifier() + QStringLiteral(".draggableObjectUTI");
}

QByteArray ZRNDraggableObject::pasteboardPropertyListForType(const QString& type) const {
  if (type != objectUTI()) return {};
  QByteArray data;
  QDataStream stream(&data, QIODevice::WriteOnly);
  stream << static_cast<qint64>(reinterpret_cast<quintptr>(this));
  return data;
}

QMimeData* ZRNDraggableObject::mimeData() const {
  auto* data = new QMimeData;
  for (const QString& type : writableTypesForPasteboard()) data->setData(type, pasteboardPropertyListForType(type));
  return data;
}

ZRNDraggableObject* ZRNDraggableObject::objectFromMimeData(const QMimeData* data, const QString& type) {
  if (!data || !data->hasFormat(type)) return nullptr;
  QDataStream stream(data->data(type));
  qint64 address = 0;
  stream >> address;
  if (stream.status() != QDataStream::Ok || address == 0) return nullptr;
  auto* object = reinterpret_cast<ZRNDraggableObject*>(static_cast<quintptr>(address));
  std::lock_guard<std::mutex> guard(U_LiveLock());
  return U_LiveObjects().contains(object) ? object : nullptr;
}
