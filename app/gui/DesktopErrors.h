// How the desktop program tells the analyst what went wrong: a configuration
// that cannot be used, and run-time errors reported through the host's
// error handler, reach a dialog and the status bar instead of a terminal
// nobody looks at.
#pragma once

#include <memory>
#include <string>

#include "host/framework/HostSession.h"

class QWidget;

namespace plexa {

class MainWindow;

// There is a display for windows (or the offscreen platform was asked for).
bool DisplayAvailable();

// Checks and opens the configuration. On a problem: shows it in a critical
// message box over parent (and on stderr) and returns null.
std::unique_ptr<host::HostSession> OpenDesktopSession(const std::string& config, const std::string& analyses,
                                                      QWidget* parent = nullptr);

// Sends every report of the host's error handler to the window: its status
// bar, and a critical message through the window's driver while no analysis
// runs (a run gathers its reports and tells them once when it ends).
// Reports go back to stderr when the window closes.
void ShowErrorReportsIn(MainWindow& window);

}  // namespace plexa
