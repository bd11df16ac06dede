#pragma once

#include <QString>

class QDockWidget;
class QMainWindow;

namespace quorvel {

// Keeps the frame's placement in the profile under "<name>-Main" (geometry,
// toolbar and dock layout, status bar) and each docking bar under
// "<name>-Bar<n>" (shown, floating, docking edge, size).
class WindowPlacement {
 public:
  explicit WindowPlacement(QString profileName) : profileName_(std::move(profileName)) {}

  // False when nothing was stored: the caller keeps its defaults.
  bool Restore(QMainWindow& frame, QDockWidget* const* bars, int barCount) const;
  void Save(const QMainWindow& frame, QDockWidget* const* bars, int barCount) const;

 private:
  QString profileName_;
};

// The look of the program: Fusion with a calm palette and a few style rules.
void ApplyDesktopStyle();

}  // namespace quorvel
