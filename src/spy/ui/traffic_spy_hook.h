#pragma once

#include <functional>

#include "mainwindow/ui/flow_commands.h"
#include "spy/ui/capture_file_chooser.h"

namespace quorvel {

class CMainFrame;

// The main window's "Traffic Spy..." hook: runs CTrafficSpyDlg modally over
// the frame for the targets, fed by the frame's engine, keeping its values
// in the frame's profile and reporting through the frame's message boxes.
// `chooser` picks the capture file; empty for the desktop's file dialog.
std::function<void(CMainFrame&, const SpyTargets&)> MakeTrafficSpyHook(CaptureFileChooser chooser = {});

}  // namespace quorvel
