#pragma once

#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QString>
#include <string>
#include <unordered_map>

namespace quorvel {

struct FlowRow;

// The icon of a row's local program: the icon of its desktop entry (matched
// by the executable named in Exec), else the icon of its file type, else a
// generic program icon; rows without a program get a network icon. Cached
// per path; UI thread only.
class RowIconProvider {
 public:
  RowIconProvider();
  QIcon IconFor(const FlowRow& row);
  QIcon IconForPath(const std::string& path);

  // Icon names by executable file name, from the desktop entries under
  // `directories`; earlier directories win, as in the XDG search order.
  static QHash<QString, QString> ReadDesktopEntries(const QStringList& directories);

 private:
  QIcon Lookup(const QString& path);

  std::unordered_map<std::string, QIcon> cache_;
  QHash<QString, QString> iconByExecutable_;
  bool entriesLoaded_ = false;
  QFileIconProvider files_;
  QIcon program_;
  QIcon network_;
};

}  // namespace quorvel
