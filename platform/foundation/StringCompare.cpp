#include "platform/foundation/StringCompare.h"

namespace {
bool isDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// Compares the digit runs starting at *i in a and *j in b by value, without converting them (a run may
// be longer than any integer), and moves both past their runs.
int compareDigitRuns(const QString& a, qsizetype* i, const QString& b, qsizetype* j) {
  auto skipZeros = [](const QString& s, qsizetype* k) {
    while (*k < s.size() && s.at(*k) == QLatin1Char('0')) ++*k;
  };
  skipZeros(a, i);
  skipZeros(b, j);
  const qsizetype startA = *i, startB = *j;
  while (*i < a.size() && isDigit(a.at(*i))) ++*i;
  while (*j < b.size() && isDigit(b.at(*j))) ++*j;
  const qsizetype lengthA = *i - startA, lengthB = *j - startB;
  if (lengthA != lengthB) return lengthA < lengthB ? -1 : 1;
  for (qsizetype k = 0; k < lengthA; ++k) {
    const char16_t x = a.at(startA + k).unicode(), y = b.at(startB + k).unicode();
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}
}  // namespace

int String_CompareNumeric(const QString& a, const QString& b) {
  qsizetype i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a.at(i)) && isDigit(b.at(j))) {
      if (const int order = compareDigitRuns(a, &i, b, &j)) return order;
      continue;
    }
    const char16_t x = a.at(i).unicode(), y = b.at(j).unicode();
    if (x != y) return x < y ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
  return a.compare(b);
}
