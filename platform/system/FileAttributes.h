#pragma once
// Flags and custom icons of files and folders, kept where Linux desktops can keep them: extended
// attributes in the user namespace, and GIO's metadata store for custom icons.

#include <QByteArray>
#include <QString>

// Extended attributes of the item itself (a symbolic link is not followed). Each answers false, with
// errorText, when the file system refuses (no xattr support, missing item, ...).
bool FileAttributes_SetXattr(const QString& path, const QString& name, const QByteArray& value, QString* errorText = nullptr);
bool FileAttributes_RemoveXattr(const QString& path, const QString& name, QString* errorText = nullptr);
// The value, or a null QByteArray when the attribute is not set or cannot be read.
QByteArray FileAttributes_Xattr(const QString& path, const QString& name);

// The extended attribute that stands in for the icon when GIO's metadata store is not available.
QString FileAttributes_CustomIconXattrName();
// Gives the item a custom icon (an image file): GIO's "metadata::custom-icon" through `gio set` when that
// works, else the extended attribute above. False when neither could be written.
bool FileAttributes_SetCustomIcon(const QString& path, const QString& imageFilePath, QString* errorText = nullptr);
// Removes the custom icon from both places; true when none is left.
bool FileAttributes_ClearCustomIcon(const QString& path, QString* errorText = nullptr);
