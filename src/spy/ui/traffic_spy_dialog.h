#pragma once

#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <optional>

#include "spy/spy_session.h"
#include "spy/spy_target.h"
#include "persistence/ui/export_file.h"
#include "spy/ui/capture_file_chooser.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTreeView;

namespace quorvel {

class MessageBoxes;
class ProfileStore;
class SpyFeedRegistry;
class SpyLineModel;

// What the spy window works with; all of it outlives the window.
struct TrafficSpyParts {
  SpyFeedRegistry& registry;  // the engine's: the capture thread feeds it
  ProfileStore& profile;      // section "Settings"
  MessageBoxes& messages;
  CaptureFileChooser chooseCaptureFile;  // empty: the desktop's file dialog
  SaveFileChooser chooseSaveFile;        // for "Save as pcapng..."; empty: the dialog
};

// "Traffic Spy - one line represents one packet": the packets of one flow, or
// of all traffic, one line each, with freeze, clear, a text filter and a
// capture file. Run modally; registers with the feed when it opens and
// unregisters first thing when it closes.
class CTrafficSpyDlg final : public QDialog {
  Q_OBJECT

 public:
  // Handed-over packets are drained at most this often (30 times a second).
  static constexpr int kDrainIntervalMs = 34;

  CTrafficSpyDlg(TrafficSpyParts parts, SpyTarget target, QWidget* parent = nullptr);
  ~CTrafficSpyDlg() override;

  // The handlers, public so that tests can drive them as the user would.
  void OnDrainTimer();
  void OnFreeze();
  void OnClear();
  void OnBrowse();
  // "Save as pcapng...": the packets kept since the window opened.
  void OnSavePcapng();
  void OnCaptureBox(bool checked);
  void OnFilterBox(bool checked);
  void OnFilterText(const QString& text);
  // A context-menu request at `position` in the list's viewport; returns
  // whether the menu was shown.
  bool OnListContextMenu(const QPoint& position);
  void OnCopyPacket();
  void OnCopyAllPackets();

  const SpySession& session() const { return session_; }
  SpySession& session() { return session_; }
  QTreeView* packetList() const { return list_; }
  QMenu* contextMenu() const { return menu_; }
  // The line the last context-menu request selected, if any.
  std::optional<int> RememberedLine() const;

  void done(int result) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void ReadProfile();
  void WriteProfile();
  void Shutdown();
  void SyncList();
  void ReportWriteError();

  TrafficSpyParts parts_;
  SpySession session_;
  SpyLineModel* model_ = nullptr;
  QTimer drainTimer_;

  QLineEdit* targetEdits_[4] = {};
  QTreeView* list_ = nullptr;
  QCheckBox* captureBox_ = nullptr;
  QLineEdit* capturePath_ = nullptr;
  QPushButton* browseButton_ = nullptr;
  QCheckBox* filterBox_ = nullptr;
  QLineEdit* filterEdit_ = nullptr;
  QPushButton* freezeButton_ = nullptr;
  QPushButton* clearButton_ = nullptr;
  QPushButton* pcapngButton_ = nullptr;
  QPushButton* closeButton_ = nullptr;
  QLabel* lineCount_ = nullptr;
  QLabel* captureNotice_ = nullptr;
  QMenu* menu_ = nullptr;

  struct Remembered {
    std::uint64_t epoch;
    int line;
  };
  std::optional<Remembered> remembered_;
  bool shutDown_ = false;
};

}  // namespace quorvel
