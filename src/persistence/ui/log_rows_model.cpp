#include "persistence/ui/log_rows_model.h"

#include "chrome/ui/resources.h"
#include "persistence/log_sort.h"

namespace quorvel {

const LogColumnInfo kLogColumns[kLogFieldCount] = {
    {"Remote IP: port", false, 110},
    {"Remote host", false, 100},
    {"DL", true, 65},
    {"UL", true, 65},
    {"DL & UL", true, 80},
    {"Local source(PID): port", false, 130},
    {"First activity", false, 115},
    {"Last activity", false, 115},
    {"Full path", false, 115},
};

namespace {

constexpr int kFirstByteColumn = 2;
constexpr int kLastByteColumn = 4;

QVariant Alignment(int column) {
  const Qt::Alignment horizontal = kLogColumns[column].alignRight ? Qt::AlignRight : Qt::AlignLeft;
  return QVariant::fromValue(horizontal | Qt::AlignVCenter);
}

bool IsColumn(int column) { return column >= 0 && column < static_cast<int>(kLogFieldCount); }

}  // namespace

LogRowsModel::LogRowsModel(QObject* parent) : QAbstractTableModel(parent) {
  InitResources();
  rowIcon_ = QIcon(QStringLiteral(":/icons/network.png"));
  headerIcons_[0] = QIcon(QStringLiteral(":/icons/header_down.png"));
  headerIcons_[1] = QIcon(QStringLiteral(":/icons/header_up.png"));
  headerIcons_[2] = QIcon(QStringLiteral(":/icons/header_both.png"));
}

int LogRowsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int LogRowsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(kLogFieldCount);
}

QVariant LogRowsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || !IsColumn(index.column())) return {};
  const auto column = static_cast<std::size_t>(index.column());
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return QString::fromStdString(rows_[static_cast<std::size_t>(index.row())][column]);
    case Qt::TextAlignmentRole:
      return Alignment(index.column());
    case Qt::DecorationRole:
      return column == 0 ? QVariant(rowIcon_) : QVariant();
    default:
      return {};
  }
}

QVariant LogRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || !IsColumn(section)) return {};
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromLatin1(kLogColumns[section].title);
    case Qt::TextAlignmentRole:
      return Alignment(section);
    case Qt::DecorationRole:
      if (section >= kFirstByteColumn && section <= kLastByteColumn) return headerIcons_[section - kFirstByteColumn];
      return {};
    default:
      return {};
  }
}

void LogRowsModel::SetRows(std::vector<LogRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void LogRowsModel::SortByColumn(int column) {
  if (!IsColumn(column)) return;
  // A reset: the view keeps no selection that would point at moved rows.
  beginResetModel();
  SortLogRows(rows_, static_cast<std::size_t>(column));
  endResetModel();
}

}  // namespace quorvel
