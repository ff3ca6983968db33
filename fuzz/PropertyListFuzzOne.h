#pragma once
// One input of the property-list fuzzer, shared by the libFuzzer target and the corpus replay test.
//
// Any bytes through the reader of preferences and resources (XML and binary property lists): it must
// neither crash nor run out of stack, and whatever it reads must write as a binary list that reads back
// to the same tree (compared through the XML form: libplist's binary writer may lay out the same tree
// in more than one way). Answers false when that fails.

#include "platform/foundation/PropertyList.h"

#include <cstddef>
#include <cstdint>

inline bool Fuzz_PropertyListOne(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QVariant tree = PropertyList_Deserialize(bytes);
  if (!tree.isValid()) return true;
  const QByteArray binary = PropertyList_Serialize(tree, PropertyListFormat::Binary);
  // A tree of nothing but null members has no form; everything else must have one.
  if (binary.isEmpty()) return true;
  const QVariant again = PropertyList_Deserialize(binary);
  if (!again.isValid()) return false;
  return PropertyList_Serialize(again, PropertyListFormat::XML) == PropertyList_Serialize(tree, PropertyListFormat::XML);
}
