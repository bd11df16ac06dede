#pragma once

#include <QDialog>
#include <filesystem>
#include <vector>

#include "persistence/traffic_log.h"

class QComboBox;
class QTableView;

namespace quorvel {

class LogRowsModel;

// "Logs": picks a saved traffic log by its display name and shows its rows,
// the last line of the file at the top. Only reads files.
class CLogsDlg final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kIdLogList = 1000;
  static constexpr int kIdRows = 1001;

  // The placeholder lines; any line starting with "<" loads nothing.
  static constexpr char kSelectLogText[] = "<Select a log!>";
  static constexpr char kNoLogsText[] = "<No logs available>";

  explicit CLogsDlg(std::filesystem::path logDirectory, QWidget* parent = nullptr);

  const LogRowsModel& Model() const { return *model_; }
  const std::vector<LogFileEntry>& Entries() const { return entries_; }

 private:
  void OnLogSelected();
  void OnHeaderClicked(int column);

  std::filesystem::path logDirectory_;
  std::vector<LogFileEntry> entries_;  // in directory order, read once
  QComboBox* logList_ = nullptr;
  QTableView* rows_ = nullptr;
  LogRowsModel* model_ = nullptr;
};

}  // namespace quorvel
