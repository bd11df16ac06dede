#include "spy/ui/spy_line_model.h"

#include <QSize>

#include "spy/spy_packet_list.h"

namespace quorvel {

SpyLineModel::SpyLineModel(const SpyPacketList& list, QObject* parent)
    : QAbstractListModel(parent), list_(list), epoch_(list.Epoch()) {
  Sync();
}

QString SpyLineModel::DisplayText(const std::string& line) {
  QString text = QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
  for (QChar& c : text) {
    switch (c.unicode()) {
      case u'\t':
        c = QChar(u'\u2192');  // →
        break;
      case u'\n':
        c = QChar(u'\u2193');  // ↓
        break;
      case u'\r':
        c = QChar(u'\u21B5');  // ↵
        break;
      default:
        // Other C0 and C1 controls, DEL and the soft hyphen, which fonts
        // draw as nothing.
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0) || c.unicode() == 0xAD) {
          c = QChar(u'\u2022');
        }
        break;
    }
  }
  return text;
}

void SpyLineModel::Sync() {
  const std::vector<std::string>& lines = list_.Lines();
  if (list_.Epoch() != epoch_ || lines.size() < shown_.size()) {
    beginResetModel();
    epoch_ = list_.Epoch();
    shown_.clear();
    for (const std::string& line : lines) shown_.push_back(DisplayText(line));
    endResetModel();
    return;
  }
  if (lines.size() == shown_.size()) return;
  const int first = static_cast<int>(shown_.size());
  beginInsertRows(QModelIndex(), first, static_cast<int>(lines.size()) - 1);
  for (std::size_t i = shown_.size(); i < lines.size(); ++i) shown_.push_back(DisplayText(lines[i]));
  endInsertRows();
}

int SpyLineModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

QVariant SpyLineModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(shown_.size())) return {};
  switch (role) {
    case Qt::DisplayRole:
      return shown_[static_cast<std::size_t>(index.row())];
    case Qt::SizeHintRole:
      // Rows are sized without measuring texts of up to 64 KB.
      return QSize(list_.HorizontalExtent(), rowHeight_);
    default:
      return {};
  }
}

}  // namespace quorvel
