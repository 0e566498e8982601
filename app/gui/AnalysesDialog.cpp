#include "app/gui/AnalysesDialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileSystemWatcher>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>

#include <filesystem>

#include "host/gis/Map.h"

namespace plexa {

using namespace host;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QString ReadText(const std::string& path) {
    QFile f(Q(path));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    return QString::fromUtf8(f.readAll());
}

// One line of a report table: cells separated by commas, quoted when they
// hold a comma or a quote (a doubled quote inside is one quote).
QStringList CsvCells(const QString& line) {
    QStringList cells;
    QString cell;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        QChar c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                cell += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            cells << cell;
            cell.clear();
        } else {
            cell += c;
        }
    }
    cells << cell;
    return cells;
}

}  // namespace

AnalysesDialog::AnalysesDialog(HostSession& session, forms::QtDriver& driver, QWidget* parent)
    : QDialog(parent), session_(session), driver_(driver) {
    setObjectName("AnalysesDialog");
    setWindowTitle("Open Analysis");
    resize(720, 360);
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel("Choose an analysis to open it again with its query, to read its report or to remove it.", this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    table_ = new QTableWidget(this);
    table_->setObjectName("AnalysesTable");
    table_->setColumnCount(6);
    table_->setHorizontalHeaderLabels({"Name", "Type", "Level", "Date", "Areas", "Comment"});
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table_);
    auto* buttons = new QDialogButtonBox(this);
    open_ = buttons->addButton("&Open", QDialogButtonBox::AcceptRole);
    open_->setObjectName("OpenButton");
    report_ = buttons->addButton("Show &Report...", QDialogButtonBox::ActionRole);
    report_->setObjectName("ShowReportButton");
    remove_ = buttons->addButton("Re&move Analysis", QDialogButtonBox::ActionRole);
    remove_->setObjectName("RemoveButton");
    auto* close = buttons->addButton(QDialogButtonBox::Close);
    close->setObjectName("CloseButton");
    layout->addWidget(buttons);
    // The buttons act themselves; the box must not close the dialog on its own.
    for (auto* b : {open_, report_, remove_}) b->setAutoDefault(false);
    open_->setDefault(true);
    connect(open_, &QPushButton::clicked, this, [this] { Open(); });
    connect(report_, &QPushButton::clicked, this, [this] { ShowReport(); });
    connect(remove_, &QPushButton::clicked, this, [this] { Remove(); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int, int) { Open(); });
    // Another process adding or removing an analysis changes the folder;
    // the list is read again once its changes have settled for a moment.
    refill_ = new QTimer(this);
    refill_->setSingleShot(true);
    refill_->setInterval(300);
    connect(refill_, &QTimer::timeout, this, [this] { Fill(); });
    watcher_ = new QFileSystemWatcher(this);
    watcher_->addPath(Q(session_.dataManager->AnalysesRoot()));
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { refill_->start(); });
    Fill();
}

void AnalysesDialog::Fill() {
    std::string keep = Selected() ? Selected()->name : "";
    analyses_ = ListAnalysesNow(*session_.dataManager);
    table_->setRowCount(static_cast<int>(analyses_.size()));
    int select = analyses_.empty() ? -1 : 0;
    for (int r = 0; r < static_cast<int>(analyses_.size()); ++r) {
        const auto& a = analyses_[r];
        table_->setItem(r, 0, new QTableWidgetItem(Q(a.name)));
        QString kind = a.kind.empty() ? QString("(unknown)") : Q(a.kind);
        if (a.beingMade) kind += " (being made)";
        table_->setItem(r, 1, new QTableWidgetItem(kind));
        table_->setItem(r, 2, new QTableWidgetItem(Q(a.level)));
        table_->setItem(r, 3, new QTableWidgetItem(Q(a.date)));
        auto* areas = new QTableWidgetItem(a.areas < 0 ? QString("?") : QString::number(a.areas));
        areas->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        table_->setItem(r, 4, areas);
        table_->setItem(r, 5, new QTableWidgetItem(Q(a.comment).replace('\n', ' ')));
        if (a.name == keep) select = r;
    }
    table_->resizeColumnsToContents();
    if (select >= 0) table_->selectRow(select);
    UpdateButtons();
}

const AnalysisSummary* AnalysesDialog::Selected() const {
    auto rows = table_->selectionModel() ? table_->selectionModel()->selectedRows() : QModelIndexList{};
    if (rows.isEmpty()) return nullptr;
    int r = rows.front().row();
    return r >= 0 && r < static_cast<int>(analyses_.size()) ? &analyses_[r] : nullptr;
}

void AnalysesDialog::UpdateButtons() {
    const AnalysisSummary* a = Selected();
    // Only an analysis whose way is known can be opened again, and none
    // that a run is still making.
    bool whole = a && !a->beingMade;
    open_->setEnabled(whole && !a->kind.empty());
    report_->setEnabled(whole && !a->reportText.empty());
    remove_->setEnabled(whole);
}

void AnalysesDialog::Open() {
    const AnalysisSummary* a = Selected();
    if (!a || a->kind.empty() || a->beingMade) return;
    std::string name = a->name;
    chosen_ = session_.dataManager->GetAnalysis(name);
    // It may have gone (or been replaced) since the list was read.
    if (chosen_ && !std::filesystem::exists(chosen_->Folder() + "analysis.xml")) chosen_ = nullptr;
    if (chosen_) {
        accept();
        return;
    }
    driver_.MessageBox("The analysis \"" + name + "\" is no longer in the analyses folder.", forms::vbExclamation,
                       "Open Analysis");
    Fill();
}

void AnalysesDialog::ShowReport() {
    const AnalysisSummary* a = Selected();
    if (!a || a->reportText.empty()) return;
    ReportView view(*a, this);
    view.exec();
}

void AnalysesDialog::Remove() {
    const AnalysisSummary* a = Selected();
    if (!a) return;
    std::string name = a->name;
    int answer = driver_.MessageBox("Remove the analysis \"" + name + "\"? Its folder is deleted and its layer leaves the map.",
                                    forms::vbQuestion | forms::vbYesNo, "Remove Analysis");
    if (answer != forms::vbYes) return;
    if (!RemoveAnalysisAndLayers(*session_.dataManager, *session_.application->FocusMap(), name)) {
        // Another run holding its name is the one reason worth telling apart.
        bool free = session_.dataManager->TryHoldName(name);
        if (free) session_.dataManager->ReleaseName(name);
        driver_.MessageBox(free ? "The analysis \"" + name + "\" could not be removed." : NameHeldText(name),
                           forms::vbCritical, "Remove Analysis");
    }
    Fill();
    if (onRemoved) onRemoved();
}

ReportView::ReportView(const AnalysisSummary& a, QWidget* parent) : QDialog(parent) {
    setObjectName("ReportView");
    setWindowTitle(Q("Report of " + a.name));
    resize(640, 420);
    auto* layout = new QVBoxLayout(this);
    auto* tabs = new QTabWidget(this);
    auto* text = new QPlainTextEdit(tabs);
    text->setObjectName("ReportText");
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setPlainText(ReadText(a.reportText));
    tabs->addTab(text, "Summary");
    if (!a.reportTable.empty()) {
        auto* table = new QTableWidget(tabs);
        table->setObjectName("ReportTable");
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->verticalHeader()->hide();
        QStringList lines = ReadText(a.reportTable).split('\n', Qt::SkipEmptyParts);
        if (!lines.isEmpty()) {
            QStringList header = CsvCells(lines.takeFirst());
            table->setColumnCount(static_cast<int>(header.size()));
            table->setHorizontalHeaderLabels(header);
            table->setRowCount(static_cast<int>(lines.size()));
            for (int r = 0; r < lines.size(); ++r) {
                QStringList cells = CsvCells(lines[r]);
                for (int c = 0; c < cells.size() && c < header.size(); ++c) table->setItem(r, c, new QTableWidgetItem(cells[c]));
            }
            table->resizeColumnsToContents();
        }
        tabs->addTab(table, "Areas");
    }
    layout->addWidget(tabs);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setObjectName("CloseButton");
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

}  // namespace plexa
