#pragma once
// One input of the settings fuzzer, shared by the libFuzzer target and the corpus replay test.
//
// Any bytes go through the JSON reader; whatever it reads must write and read back to the same text,
// and a settings dictionary must load into a document whose save, loaded again, saves the same bytes
// (so a save never loses what the load kept). Answers false when one of these fails.

#include "common/ZRNJSONBridge.h"
#include "session/VLDocument.h"

#include <cstddef>
#include <cstdint>

inline bool Fuzz_SettingsOne(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QVariant tree = JSON_CFFromJSONData(bytes);
  if (!tree.isValid()) return true;
  const QByteArray written = JSON_CFDataFromCF(tree);
  if (written.isEmpty()) return false;
  const QVariant again = JSON_CFFromJSONData(written);
  if (!again.isValid() || JSON_CFDataFromCF(again) != written) return false;
  if (tree.metaType().id() != QMetaType::QVariantMap) return true;

  VLDocument first;
  first.loadFromDictionary(tree.toMap());
  const QByteArray saved = JSON_CFDataFromCF(first.dictionaryToSave());
  const QVariant reread = JSON_CFFromJSONData(saved);
  if (reread.metaType().id() != QMetaType::QVariantMap) return false;
  VLDocument second;
  second.loadFromDictionary(reread.toMap());
  return JSON_CFDataFromCF(second.dictionaryToSave()) == saved;
}
