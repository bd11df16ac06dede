#pragma once

#include <QDialog>
#include <vector>

#include "engine/filter_rules.h"
#include "persistence/data_directory.h"

class QRadioButton;
class QTableWidget;

namespace quorvel {

class MessageBoxes;

// "Filters": edits the rules of filters.dat. The list is the working copy;
// OK writes it, top row first. Rows are read into the top of the list, so
// the list shows the file's rules in reverse order.
class CFiltersDlg final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kIdModeGroup = 1027;
  static constexpr int kIdBlackList = 1002;
  static constexpr int kIdWhiteList = 1003;
  static constexpr int kIdListGroup = 1028;
  static constexpr int kIdList = 1001;
  static constexpr int kIdAddFilter = 1005;
  static constexpr int kIdRemoveFilter = 1006;
  static constexpr int kIdClearFilters = 1007;

  // filters.dat is read from and written to `directory`; messages go to `messages`.
  CFiltersDlg(DataDirectory directory, MessageBoxes& messages, QWidget* parent = nullptr);

  // The rows top to bottom, as OK writes them.
  std::vector<FilterRule> Rules() const;
  FilterMode Mode() const;

  // Writes filters.dat; when it cannot be written the dialog stays open with
  // its rows, after saying so.
  void accept() override;

 private:
  void LoadRows();
  void SetRow(int row, const FilterRule& rule);
  void InsertRowAtTop(const FilterRule& rule);
  void OnAddFilter();
  void OnRemoveFilter();
  void OnClearFilters();

  DataDirectory directory_;
  MessageBoxes& messages_;
  QRadioButton* blackList_ = nullptr;
  QRadioButton* whiteList_ = nullptr;
  QTableWidget* list_ = nullptr;
};

}  // namespace quorvel
