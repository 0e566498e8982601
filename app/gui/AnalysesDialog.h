// Analysis > Open Analysis...: the analyses of the data manager with their
// kind, level, date, areas found and comment (as plexa analyses list tells
// them). Open hands the chosen analysis back to the window, which re-opens
// it through the Customer Prospecting task; Show Report shows its report;
// Remove Analysis asks first, then removes the analysis and its layer from
// the map. The list is read from the analyses folder
// when the dialog opens and again whenever the folder changes, so that
// analyses other processes add or remove (a script, the command line, a
// colleague sharing the folder) appear and go while it is open.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "host/forms/qt/QtDriver.h"
#include "host/framework/AnalysisList.h"
#include "host/framework/HostSession.h"

class QFileSystemWatcher;
class QTableWidget;
class QPushButton;
class QTimer;

namespace plexa {

class AnalysesDialog : public QDialog {
public:
    AnalysesDialog(host::HostSession& session, host::forms::QtDriver& driver, QWidget* parent = nullptr);

    // The analysis to re-open once the dialog was closed with Open; null otherwise.
    host::AnalysisPtr Chosen() const { return chosen_; }
    // Called when an analysis was removed (its layer has left the map).
    std::function<void()> onRemoved;

    void Fill();
    // The summary of the selected row; null when none is selected.
    const host::AnalysisSummary* Selected() const;

private:
    void UpdateButtons();
    void Open();
    void ShowReport();
    void Remove();

    host::HostSession& session_;
    host::forms::QtDriver& driver_;
    std::vector<host::AnalysisSummary> analyses_;
    host::AnalysisPtr chosen_;
    QTableWidget* table_;
    QPushButton *open_, *report_, *remove_;
    QFileSystemWatcher* watcher_;
    QTimer* refill_;
};

// The report of an analysis: its summary text and its table of areas.
class ReportView : public QDialog {
public:
    ReportView(const host::AnalysisSummary& analysis, QWidget* parent = nullptr);
};

}  // namespace plexa
