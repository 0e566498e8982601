// The desktop driver of the forms layer: each shown page becomes a modal
// Qt dialog whose widgets mirror the page's controls (placed from their
// twip positions), user actions on the widgets become the page's user
// actions, and the widgets follow the page after every event.
#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "host/forms/Forms.h"
#include "host/framework/Framework.h"

class QDialog;
class QWidget;
class QProgressDialog;

namespace host::forms {

class QtDriver : public QObject, public FormsDriver {
public:
    explicit QtDriver(QWidget* parentWindow = nullptr);
    ~QtDriver() override;

    void RunModal(Form& form) override;
    int MessageBox(const std::string& text, int style, const std::string& title) override;
    std::optional<std::string> FileDialog(const FileDialogRequest& request) override;
    std::optional<PrinterChoice> PrinterDialog() override;
    void Changed(Form& form) override;

    // For tests and demonstrations: called once a page's dialog is up and
    // stands where the page asked (from its event loop), and answers in place of the message box and the file
    // and printer dialogs when set.
    std::function<void(Form&, QDialog&)> onShown;
    std::function<int(const std::string& text, int style)> answerMessage;
    std::function<std::optional<std::string>(const FileDialogRequest&)> answerFile;

    // Twips per pixel of the placement.
    static constexpr double kTwips = 15.0;

private:
    struct Page;
    void Build(Page& page);
    void Sync(Page& page);
    void Act(Page& page, const std::function<void()>& action);
    QWidget* parent_;
    std::vector<Page*> pages_;  // the shown pages, innermost last
};

// Progress of long work in a dialog with a Cancel button.
std::shared_ptr<ProgressSink> MakeQtProgress(QWidget* parent);

}  // namespace host::forms
