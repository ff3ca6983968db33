#pragma once
// An object that can be dragged inside the application: the drag carries the object's identity (its
// address) under a private type, so only this process can make sense of it.

#include <QMimeData>
#include <QString>
#include <QStringList>
#include <QVariant>

class ZRNDraggableObject {
 public:
  ZRNDraggableObject();
  ZRNDraggableObject(const ZRNDraggableObject&);
  ZRNDraggableObject& operator=(const ZRNDraggableObject&) = default;
  virtual ~ZRNDraggableObject();

  // "application/x-" + the application's identifier + ".draggableObjectUTI"; a subclass may give its own.
  static QString dndUTI();
  virtual QString objectUTI() const { return dndUTI(); }

  QStringList writableTypesForPasteboard() const { return {objectUTI()}; }
  // The archived address for our type; an invalid value for any other.
  QByteArray pasteboardPropertyListForType(const QString& type) const;
  static QStringList readableTypesForPasteboard() { return {dndUTI()}; }
  // Always read as plain data.
  static int readingOptionsForType(const QString&) { return 0; }

  // A drag's data for this object, and the object a drag names. An address is trusted only while an object
  // lives there: a drag from another process, or of an object since destroyed, answers null.
  QMimeData* mimeData() const;
  static ZRNDraggableObject* objectFromMimeData(const QMimeData* data, const QString& type = dndUTI());
};
