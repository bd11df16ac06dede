#pragma once

#include <QDialog>
#include <filesystem>
#include <vector>

#include "persistence/traffic_log.h"
#include "persistence/ui/export_file.h"

class QComboBox;
class QPushButton;
class QTableView;

namespace quorvel {

class LogRowsModel;
class MessageBoxes;

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

  // For "Export as CSV...": where failures are shown and how the file is
  // chosen (the desktop's dialog when empty).
  void SetExportParts(MessageBoxes* messages, SaveFileChooser choose);
  // The chosen log's rows as shown (current order) to a CSV file.
  void OnExportCsv();

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
  QPushButton* exportButton_ = nullptr;
  MessageBoxes* messages_ = nullptr;
  SaveFileChooser chooseSaveFile_;
};

}  // namespace quorvel
