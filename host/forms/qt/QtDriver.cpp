#include "host/forms/qt/QtDriver.h"

#include "host/forms/qt/HelpWindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMoveEvent>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScreen>
#include <QTableWidget>
#include <QTimer>

#include <set>

#include "host/platform/Platform.h"

namespace host::forms {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.c_str(), static_cast<int>(s.size())); }
std::string S(const QString& s) { return s.toUtf8().toStdString(); }

// Labels show "&" literally; mnemonics are for buttons.
QString LabelText(const std::string& caption) {
    QString t = Q(caption);
    t.replace("&&", "\x01");
    t.remove('&');
    t.replace("\x01", "&");
    return t;
}

int Px(double twips) { return static_cast<int>(twips / QtDriver::kTwips + 0.5); }

// How long a window manager is given to frame a window, or to move it.
constexpr qint64 kFrameWaitMs = 1000;

// A page's height counts its caption bar; the dialog's is the client area.
double CaptionTwips() {
    const auto& screen = platform::Screen();
    return screen.captionHeightPixels * screen.twipsPerPixelY;
}

// The pages are designed in one face at one size; on this desktop that is
// the application's font. A page whose fonts were set for the user's code
// page (another face, a larger size) gets that face and grows with the
// size. Character sets need no mapping: the text is Unicode throughout.
QFont FontFor(const Font& f) {
    static const Font design;
    QFont q = QApplication::font();
    if (!f.name.empty() && f.name != design.name) q.setFamily(Q(f.name));
    if (f.size > design.size) {
        if (q.pointSizeF() > 0) q.setPointSizeF(q.pointSizeF() * f.size / design.size);
        else q.setPixelSize(static_cast<int>(q.pixelSize() * f.size / design.size + 0.5));
    }
    return q;
}

// The dialog of one page: closing it asks the page first; moving and
// resizing it are told to the page.
class PageDialog : public QDialog {
public:
    PageDialog(QWidget* parent, Form& form) : QDialog(parent), form_(form) {}
    std::function<void()> onClose, onResize, onMove;

protected:
    void resizeEvent(QResizeEvent* e) override {
        QDialog::resizeEvent(e);
        if (onResize) onResize();
    }
    void moveEvent(QMoveEvent* e) override {
        QDialog::moveEvent(e);
        if (onMove) onMove();
    }
    void closeEvent(QCloseEvent* e) override {
        if (onClose) onClose();
        if (form_.IsVisible()) e->ignore();
        else e->accept();
    }
    void reject() override {  // Escape: as the close box
        if (onClose) onClose();
        if (!form_.IsVisible()) QDialog::reject();
    }

private:
    Form& form_;
};

}  // namespace

struct QtDriver::Page {
    Form* form;
    PageDialog* dialog = nullptr;
    std::map<Control*, QWidget*> widgets;
    std::vector<Control*> built;
    std::map<std::string, QButtonGroup*> groups;
    bool syncing = false;
    bool placed = false;  // the window stands where the page asked
};

QtDriver::QtDriver(QWidget* parentWindow) : parent_(parentWindow) {
    InstallHelpWindow();
    // Pages are kept on the screen they are shown on.
    if (auto* screen = QGuiApplication::primaryScreen()) {
        QRect r = screen->availableGeometry();
        platform::Screen().width = (r.x() + r.width()) * kTwips;
        platform::Screen().height = (r.y() + r.height()) * kTwips;
    }
}
QtDriver::~QtDriver() = default;

void QtDriver::Act(Page& page, const std::function<void()>& action) {
    if (page.syncing) return;
    try {
        action();
    } catch (const std::exception& e) {
        QMessageBox::warning(page.dialog, "Plexa", Q(e.what()));
    }
    if (!page.form->IsVisible()) {
        page.dialog->done(0);
        return;
    }
    Sync(page);
}

void QtDriver::Build(Page& page) {
    Form& form = *page.form;
    for (auto& [c, w] : page.widgets) delete w;
    page.widgets.clear();
    for (auto& [n, g] : page.groups) delete g;
    page.groups.clear();
    page.built = form.Controls();
    QWidget* d = page.dialog;
    // Frames first, so that the controls they hold lie above them.
    std::vector<Control*> order;
    for (auto* c : page.built)
        if (c->Kind() == ControlKind::Frame) order.push_back(c);
    for (auto* c : page.built)
        if (c->Kind() != ControlKind::Frame) order.push_back(c);
    for (Control* c : order) {
        QWidget* w = nullptr;
        std::string name = c->Name();
        int index = c->Index();
        Page* p = &page;
        switch (c->Kind()) {
            case ControlKind::Label: {
                auto* l = new QLabel(d);
                l->setWordWrap(true);
                l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                w = l;
                break;
            }
            case ControlKind::TextBox:
                if (c->multiLine) {
                    auto* t = new QPlainTextEdit(d);
                    connect(t, &QPlainTextEdit::textChanged, t, [this, p, name, index, t] {
                        Act(*p, [&] { p->form->UserType(name, index, S(t->toPlainText())); });
                    });
                    w = t;
                } else {
                    auto* t = new QLineEdit(d);
                    if (!c->passwordChar.empty()) t->setEchoMode(QLineEdit::Password);
                    connect(t, &QLineEdit::textEdited, t, [this, p, name, index](const QString& s) {
                        Act(*p, [&] { p->form->UserType(name, index, S(s)); });
                    });
                    w = t;
                }
                break;
            case ControlKind::ListBox: {
                auto* l = new QListWidget(d);
                l->setSelectionMode(c->multiSelect ? QAbstractItemView::MultiSelection : QAbstractItemView::SingleSelection);
                if (c->multiSelect) {
                    connect(l, &QListWidget::itemClicked, l, [this, p, name, l](QListWidgetItem* item) {
                        long row = l->row(item);
                        bool on = item->isSelected();
                        Act(*p, [&] { p->form->UserSelectItem(name, row, on); });
                    });
                } else {
                    connect(l, &QListWidget::currentRowChanged, l, [this, p, name](int row) {
                        if (row >= 0) Act(*p, [&] { p->form->UserSelectItem(name, row, true); });
                    });
                }
                connect(l, &QListWidget::itemDoubleClicked, l, [this, p, name, index](QListWidgetItem*) {
                    Act(*p, [&] { p->form->UserDblClick(name, index); });
                });
                w = l;
                break;
            }
            case ControlKind::ComboBox: {
                auto* cb = new QComboBox(d);
                connect(cb, QOverload<int>::of(&QComboBox::activated), cb, [this, p, name](int i) {
                    Act(*p, [&] { p->form->UserSelectItem(name, i, true); });
                });
                w = cb;
                break;
            }
            case ControlKind::OptionButton: {
                auto* r = new QRadioButton(d);
                auto*& group = page.groups[c->group.empty() ? "@" + c->container : c->group];
                if (!group) {
                    group = new QButtonGroup(d);
                    group->setExclusive(true);
                }
                group->addButton(r);
                connect(r, &QRadioButton::clicked, r, [this, p, name, index] { Act(*p, [&] { p->form->UserClick(name, index); }); });
                w = r;
                break;
            }
            case ControlKind::CheckBox: {
                auto* cb = new QCheckBox(d);
                connect(cb, &QCheckBox::clicked, cb, [this, p, name, index] { Act(*p, [&] { p->form->UserClick(name, index); }); });
                w = cb;
                break;
            }
            case ControlKind::CommandButton: {
                auto* b = new QPushButton(d);
                b->setAutoDefault(false);
                connect(b, &QPushButton::clicked, b, [this, p, name, index] { Act(*p, [&] { p->form->UserClick(name, index); }); });
                w = b;
                break;
            }
            case ControlKind::Frame:
                w = new QGroupBox(d);
                break;
            case ControlKind::Image: {
                auto* l = new QLabel(d);
                l->setStyleSheet("background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #2e7d32, stop:1 #c8e6c9);"
                                 "border-radius: 4px;");
                w = l;
                break;
            }
            case ControlKind::Grid: {
                auto* t = new QTableWidget(d);
                t->verticalHeader()->hide();
                t->setEditTriggers(QAbstractItemView::NoEditTriggers);
                t->setSelectionMode(QAbstractItemView::NoSelection);
                connect(t, &QTableWidget::cellClicked, t, [this, p, name](int r, int col) {
                    Act(*p, [&] { p->form->UserClickCell(name, r + 1, col); });
                });
                w = t;
                break;
            }
            case ControlKind::CommonDialog:
                continue;
        }
        w->setObjectName(Q(c->QualifiedName()));
        page.widgets[c] = w;
    }
}

void QtDriver::Sync(Page& page) {
    Form& form = *page.form;
    if (form.Controls() != page.built) Build(page);
    page.syncing = true;
    auto* d = page.dialog;
    d->setWindowTitle(Q(form.caption));
    // The page decides its size: a fixed page keeps it, a resizable one is
    // set to whatever its resize rule left (the size only changes when the
    // page's does, so that a page never jumps).
    QSize size(std::max(200, Px(form.width)), std::max(120, Px(form.height - CaptionTwips())));
    if (form.resizable) {
        if (d->minimumSize() == d->maximumSize()) {
            d->setMinimumSize(0, 0);
            d->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        }
        if (d->size() != size) d->resize(size);
    } else if (d->minimumSize() != size || d->maximumSize() != size) {
        d->setFixedSize(size);
    }
    QFont pageFont = FontFor(form.font);
    if (d->font() != pageFont) d->setFont(pageFont);
    for (auto& [c, w] : page.widgets) {
        QFont font = FontFor(c->font);
        if (w->font() != font) w->setFont(font);
        QRect r(Px(c->left), Px(c->top), std::max(1, Px(c->width)), std::max(1, Px(c->height)));
        if (w->geometry() != r) w->setGeometry(r);
        w->setVisible(c->visible);
        w->setEnabled(c->enabled);
        if (!c->toolTipText.empty()) w->setToolTip(Q(c->toolTipText));
        switch (c->Kind()) {
            case ControlKind::Label: static_cast<QLabel*>(w)->setText(LabelText(c->caption)); break;
            case ControlKind::TextBox:
                if (auto* t = qobject_cast<QPlainTextEdit*>(w)) {
                    if (S(t->toPlainText()) != c->Text()) t->setPlainText(Q(c->Text()));
                } else if (auto* l = qobject_cast<QLineEdit*>(w)) {
                    if (S(l->text()) != c->Text()) l->setText(Q(c->Text()));
                }
                break;
            case ControlKind::ListBox: {
                auto* l = static_cast<QListWidget*>(w);
                bool same = l->count() == c->ListCount();
                for (int i = 0; same && i < l->count(); ++i) same = S(l->item(i)->text()) == c->List()[i];
                if (!same) {
                    l->clear();
                    for (auto& s : c->List()) l->addItem(Q(s));
                }
                for (int i = 0; i < l->count(); ++i) l->item(i)->setSelected(c->Selected(i));
                if (c->ListIndex() >= 0 && c->ListIndex() < l->count()) l->setCurrentRow(static_cast<int>(c->ListIndex()), QItemSelectionModel::NoUpdate);
                break;
            }
            case ControlKind::ComboBox: {
                auto* cb = static_cast<QComboBox*>(w);
                bool same = cb->count() == c->ListCount();
                for (int i = 0; same && i < cb->count(); ++i) same = S(cb->itemText(i)) == c->List()[i];
                if (!same) {
                    cb->clear();
                    for (auto& s : c->List()) cb->addItem(Q(s));
                }
                cb->setCurrentIndex(static_cast<int>(c->ListIndex()));
                break;
            }
            case ControlKind::OptionButton: {
                auto* r = static_cast<QRadioButton*>(w);
                r->setText(Q(c->caption));
                r->setChecked(c->Value());
                break;
            }
            case ControlKind::CheckBox: {
                auto* cb = static_cast<QCheckBox*>(w);
                cb->setText(Q(c->caption));
                cb->setChecked(c->Value());
                break;
            }
            case ControlKind::CommandButton: static_cast<QPushButton*>(w)->setText(Q(c->caption)); break;
            case ControlKind::Frame: static_cast<QGroupBox*>(w)->setTitle(LabelText(c->caption)); break;
            case ControlKind::Grid: {
                auto* t = static_cast<QTableWidget*>(w);
                long rows = c->Rows(), cols = c->Cols();
                t->setColumnCount(static_cast<int>(cols));
                t->setRowCount(static_cast<int>(std::max(0L, rows - 1)));
                // A fixed row without texts is no header worth showing.
                bool header = false;
                for (long col = 0; rows && col < cols; ++col) header = header || !c->Cell(0, col).text.empty();
                t->horizontalHeader()->setVisible(header);
                for (long col = 0; col < cols; ++col) {
                    t->setHorizontalHeaderItem(static_cast<int>(col), new QTableWidgetItem(rows ? Q(c->Cell(0, col).text) : QString()));
                    if (col < static_cast<long>(c->colWidth.size())) t->setColumnWidth(static_cast<int>(col), Px(c->colWidth[col]));
                }
                for (long r = 1; r < rows; ++r)
                    for (long col = 0; col < cols; ++col) {
                        const GridCell& cell = c->Cell(r, col);
                        auto* item = new QTableWidgetItem(Q(cell.text));
                        if (cell.picture == "green") item->setBackground(QColor(120, 200, 120));
                        else if (cell.picture == "red") item->setBackground(QColor(220, 110, 110));
                        else if (cell.picture == "check") item->setText("\u2611");
                        else if (cell.picture == "uncheck") item->setText("\u2610");
                        if (!cell.picture.empty()) item->setTextAlignment(Qt::AlignCenter);
                        t->setItem(static_cast<int>(r - 1), static_cast<int>(col), item);
                    }
                break;
            }
            default: break;
        }
    }
    page.syncing = false;
}

void QtDriver::RunModal(Form& form) {
    QWidget* parent = pages_.empty() ? parent_ : static_cast<QWidget*>(pages_.back()->dialog);
    Page page;
    page.form = &form;
    PageDialog dialog(parent, form);
    dialog.setModal(true);
    page.dialog = &dialog;
    dialog.onClose = [this, &page] { Act(page, [&] { page.form->Unload(); }); };
    // A person resizing the page runs its resize rule; the widgets follow.
    dialog.onResize = [this, &page, &dialog] {
        if (!page.form->resizable || page.syncing || !dialog.isVisible()) return;
        double w = dialog.width() * kTwips, h = dialog.height() * kTwips + CaptionTwips();
        if (w == page.form->width && h == page.form->height) return;
        Act(page, [&] { page.form->UserResize(w, h); });
    };
    // Where the page is, the page knows at once: it is saved for the next page.
    dialog.onMove = [&page, &dialog] {
        if (!page.placed || !dialog.isVisible()) return;
        page.form->left = dialog.x() * kTwips;
        page.form->top = dialog.y() * kTwips;
    };
    pages_.push_back(&page);
    Build(page);
    Sync(page);
    // A page's place is its window's, frame included, as the page settings
    // keep it. Pages without a stored place open in the middle of the window.
    const bool stored = form.left || form.top;
    const QPoint place(Px(form.left), Px(form.top));
    if (stored) dialog.move(place);
    // A window manager frames the window some time after it is mapped, and
    // may put the frame elsewhere than asked (where the window was asked
    // to be, say, so that the frame grows up and left of it). For a page
    // with a place, once the frame is there (or after a while without one:
    // no window manager), such a frame is moved where it belongs, and only
    // then is the page placed: its moves are the analyst's from then on.
    QTimer settle;
    settle.setInterval(10);
    QElapsedTimer since;
    bool corrected = false;
    auto check = [&] {
        if (!dialog.isVisible()) return;
        bool framed = dialog.frameGeometry() != dialog.geometry();
        if (stored && !framed && since.elapsed() < kFrameWaitMs) return;
        if (stored && dialog.pos() != place) {
            if (!corrected) {
                corrected = true;
                dialog.move(place);
                since.restart();
                return;
            }
            if (since.elapsed() < kFrameWaitMs) return;
        }
        settle.stop();
        page.placed = true;
        if (onShown && form.IsVisible()) onShown(form, dialog);
    };
    QObject::connect(&settle, &QTimer::timeout, &dialog, check);
    QTimer::singleShot(0, &dialog, [&] {
        since.start();
        settle.start();
        check();
    });
    if (form.IsVisible()) dialog.exec();
    settle.stop();
    // Where the analyst left it is where it opens next time; a page closed
    // before its window was placed stayed where it was asked to be.
    if (page.placed || !stored) {
        form.left = dialog.x() * kTwips;
        form.top = dialog.y() * kTwips;
    }
    pages_.pop_back();
    if (form.IsVisible()) form.Hide();
}

void QtDriver::Changed(Form& form) {
    for (auto* p : pages_)
        if (p->form == &form && !p->syncing) {
            if (form.IsVisible()) Sync(*p);
            else if (p->dialog->isVisible()) p->dialog->done(0);
        }
}

int QtDriver::MessageBox(const std::string& text, int style, const std::string& title) {
    int answer;
    if (answerMessage) {
        answer = answerMessage(text, style);
    } else {
        QMessageBox box(pages_.empty() ? parent_ : pages_.back()->dialog);
        box.setWindowTitle(Q(title.empty() ? "Plexa" : title));
        box.setText(Q(text));
        int icon = style & 0x70;
        box.setIcon(icon == vbCritical ? QMessageBox::Critical : icon == vbQuestion ? QMessageBox::Question
                    : icon == vbExclamation ? QMessageBox::Warning : icon == vbInformation ? QMessageBox::Information
                                                                          : QMessageBox::NoIcon);
        int buttons = style & 0x7;
        std::vector<std::pair<QMessageBox::StandardButton, int>> map;
        switch (buttons) {
            case vbOKCancel: map = {{QMessageBox::Ok, vbOK}, {QMessageBox::Cancel, vbCancel}}; break;
            case vbYesNoCancel: map = {{QMessageBox::Yes, vbYes}, {QMessageBox::No, vbNo}, {QMessageBox::Cancel, vbCancel}}; break;
            case vbYesNo: map = {{QMessageBox::Yes, vbYes}, {QMessageBox::No, vbNo}}; break;
            case vbRetryCancel: map = {{QMessageBox::Retry, vbRetry}, {QMessageBox::Cancel, vbCancel}}; break;
            default: map = {{QMessageBox::Ok, vbOK}}; break;
        }
        QMessageBox::StandardButtons all;
        for (auto& [b, v] : map) all |= b;
        box.setStandardButtons(all);
        int pressed = box.exec();
        answer = map.front().second;
        for (auto& [b, v] : map)
            if (pressed == b) answer = v;
    }
    MessageLog().push_back({text, style, title, answer});
    return answer;
}

std::optional<std::string> QtDriver::FileDialog(const FileDialogRequest& r) {
    if (answerFile) return answerFile(r);
    // "description|pattern|description|pattern" becomes Qt's filter list.
    QStringList parts = Q(r.filter).split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) filters << parts[i] + " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
    QWidget* parent = pages_.empty() ? parent_ : static_cast<QWidget*>(pages_.back()->dialog);
    QString path = r.save ? QFileDialog::getSaveFileName(parent, Q(r.title), Q(r.fileName), filters.join(";;"))
                          : QFileDialog::getOpenFileName(parent, Q(r.title), Q(r.fileName), filters.join(";;"));
    if (path.isEmpty()) return std::nullopt;
    return S(path);
}

std::optional<PrinterChoice> QtDriver::PrinterDialog() {
    FileDialogRequest r;
    r.save = true;
    r.title = "Print to PDF";
    r.filter = "PDF documents|*.pdf";
    auto path = FileDialog(r);
    if (!path) return std::nullopt;
    PrinterChoice choice;
    choice.pdfPath = *path;
    if (!answerFile) {
        bool ok = false;
        int copies = QInputDialog::getInt(pages_.empty() ? parent_ : pages_.back()->dialog, "Print", "Copies:", 1, 1, 99, 1, &ok);
        if (!ok) return std::nullopt;
        choice.copies = copies;
    }
    return choice;
}

// ---------------- progress ----------------

namespace {

class QtProgress : public ProgressSink {
public:
    explicit QtProgress(QWidget* parent) : parent_(parent) {}
    void Begin(const std::string&, const std::string& caption, const std::string& message) override {
        // The runner's caption names the work; its message says what is going on.
        dialog_ = std::make_unique<QProgressDialog>(Q(message), "Cancel", 0, 0, parent_);
        dialog_->setObjectName("ProgressDialog");
        dialog_->setWindowTitle(Q(caption.empty() ? "Plexa" : caption));
        dialog_->setWindowModality(Qt::ApplicationModal);
        dialog_->setMinimumDuration(300);
        dialog_->setAutoReset(false);
        dialog_->setAutoClose(false);
        dialog_->setMinimumWidth(360);
        message_ = message;
        measured_ = false;
        clock_.start();
        QApplication::processEvents();
    }
    void Step(double fraction, const std::string& message) override {
        if (!dialog_) return;
        // Work that lasts shows its dialog soon, whether it can tell how far it is or not.
        if (!dialog_->isVisible() && clock_.elapsed() > 300) dialog_->show();
        if (fraction >= 0) {
            // Work that knows its steps gets a bar that fills; the runner's
            // own "still alive" after each step does not take that away.
            measured_ = true;
            dialog_->setRange(0, 1000);
            dialog_->setValue(static_cast<int>(std::min(1.0, fraction) * 1000));
        } else if (!message.empty() || !measured_) {
            measured_ = false;
            if (dialog_->maximum() != 0) dialog_->setRange(0, 0);
        }
        if (!message.empty() && message != message_) {
            message_ = message;
            dialog_->setLabelText(Q(message));
        }
        QApplication::processEvents();
    }
    void End(long) override { dialog_.reset(); }
    bool CancelRequested() override {
        QApplication::processEvents();
        return dialog_ && dialog_->wasCanceled();
    }

private:
    QWidget* parent_;
    std::unique_ptr<QProgressDialog> dialog_;
    std::string message_;
    bool measured_ = false;
    QElapsedTimer clock_;
};

}  // namespace

std::shared_ptr<ProgressSink> MakeQtProgress(QWidget* parent) { return std::make_shared<QtProgress>(parent); }

}  // namespace host::forms
