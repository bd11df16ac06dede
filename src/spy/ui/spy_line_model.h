#pragma once

#include <QAbstractListModel>
#include <QString>
#include <cstdint>
#include <vector>

namespace quorvel {

class SpyPacketList;

// The packet lines for the view, one row per line. Control characters are
// shown as symbols outside Latin-1 (tab →, LF ↓, CR ↵, other controls and
// the soft hyphen •), so that a line stays one row and a symbol never looks
// like a data byte; the lines themselves, and what is copied, keep them.
class SpyLineModel final : public QAbstractListModel {
  Q_OBJECT

 public:
  SpyLineModel(const SpyPacketList& list, QObject* parent = nullptr);

  // Brings the rows up to the list: appended lines are inserted, an emptied
  // list resets the model.
  void Sync();
  void SetRowHeight(int height) { rowHeight_ = height; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 private:
  static QString DisplayText(const std::string& line);

  const SpyPacketList& list_;
  std::vector<QString> shown_;  // display texts of the rows
  std::uint64_t epoch_ = 0;
  int rowHeight_ = 18;
};

}  // namespace quorvel
