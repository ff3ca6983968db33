#include "app/ZRNJSONBridge.h"

// Placeholder until the bridge is written: nothing can be encoded yet.
QByteArray JSON_CFDataFromCF(const QVariant&) { return {}; }
QVariant JSON_CFFromJSONData(const QByteArray&) { return {}; }
