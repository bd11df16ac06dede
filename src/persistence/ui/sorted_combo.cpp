#include "persistence/ui/sorted_combo.h"

#include <algorithm>

namespace quorvel {
namespace {

int CharacterClass(QChar c) {
  if (c.isLetter()) return 2;
  if (c.isDigit()) return 1;
  return 0;
}

}  // namespace

int CompareListTexts(const QString& a, const QString& b) {
  const qsizetype common = std::min(a.size(), b.size());
  for (qsizetype i = 0; i < common; ++i) {
    const int classA = CharacterClass(a[i]);
    const int classB = CharacterClass(b[i]);
    if (classA != classB) return classA < classB ? -1 : 1;
    const char16_t foldedA = a[i].toCaseFolded().unicode();
    const char16_t foldedB = b[i].toCaseFolded().unicode();
    if (foldedA != foldedB) return foldedA < foldedB ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

QStringList SortedListTexts(QStringList texts) {
  std::stable_sort(texts.begin(), texts.end(),
                   [](const QString& a, const QString& b) { return CompareListTexts(a, b) < 0; });
  return texts;
}

}  // namespace quorvel
