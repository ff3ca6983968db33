#include "platform/foundation/StringUTF8.h"

#include <QStringDecoder>

QString String_FromUTF8(QByteArrayView utf8) {
  // A decoder of its own for each call: decoders keep error state and are not shared between threads.
  QStringDecoder decoder(QStringDecoder::Utf8,
                         QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
  return decoder.decode(utf8);
}
