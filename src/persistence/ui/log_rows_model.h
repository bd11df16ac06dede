#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <vector>

#include "persistence/traffic_log.h"

namespace quorvel {

// The logs viewer's columns: heading, alignment and width in pixels.
struct LogColumnInfo {
  const char* title;
  bool alignRight;
  int width;
};
extern const LogColumnInfo kLogColumns[kLogFieldCount];

// The rows of the logs viewer, top to bottom, read-only.
class LogRowsModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit LogRowsModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  void SetRows(std::vector<LogRow> rows);
  const std::vector<LogRow>& Rows() const { return rows_; }
  // Largest first by `column`; equal rows keep their order.
  void SortByColumn(int column);

 private:
  std::vector<LogRow> rows_;
  QIcon rowIcon_;
  QIcon headerIcons_[3];  // DL, UL, DL & UL
};

}  // namespace quorvel
