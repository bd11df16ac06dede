#pragma once

#include <QString>
#include <QStringList>

namespace quorvel {

// The order of the sorted drop-down lists: case-insensitive, with blanks and
// punctuation (such as the "<" of a placeholder) before digits and digits
// before letters, the same in every locale. Negative, 0 or positive.
int CompareListTexts(const QString& a, const QString& b);

// The texts in that order; texts that compare equal keep their order.
QStringList SortedListTexts(QStringList texts);

}  // namespace quorvel
