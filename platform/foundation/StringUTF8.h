#pragma once
// UTF-8 text read from files (keys and strings of settings, property lists) as the exact characters
// stored. QString::fromUtf8 drops one leading U+FEFF as a byte-order mark; inside a key or a string
// that character is text, and dropping it can turn one key into another.

#include <QByteArrayView>
#include <QString>

// Every character of the bytes, a leading U+FEFF included; invalid sequences become U+FFFD.
QString String_FromUTF8(QByteArrayView utf8);
