#pragma once
// Orders names the way people count: runs of digits compare by their value, so "seg2" comes before
// "seg10". Everything else compares by character value, case-sensitively.

#include <QString>

// Negative, zero or positive as a sorts before, with or after b. Names that differ only in leading
// zeros ("seg02", "seg2") are told apart by character value, so the order is total.
int String_CompareNumeric(const QString& a, const QString& b);
