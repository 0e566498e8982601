// A forms driver that plays a script: each step acts on a named page (a
// click, typed text, a list choice) or answers the next message box or file
// dialog. Tests and batch commands drive the wizard with it.
#pragma once

#include <deque>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "host/forms/Forms.h"

namespace host::forms {

class ScriptedDriver : public FormsDriver {
public:
    enum class StepKind { Action, Answer, File, Print };
    struct Step {
        StepKind kind = StepKind::Action;
        std::string form;                       // page the action is for
        std::string text;                       // script text, for messages
        std::function<void(Form&)> action;      // Action
        int answer = vbOK;                      // Answer
        std::optional<std::string> file;        // File, Print (empty: cancel)
        int copies = 1;                         // Print
    };

    // Queues an action on a page.
    void On(const std::string& form, std::function<void(Form&)> action, const std::string& text = "");
    void Click(const std::string& form, const std::string& control, int index = -1);
    void Type(const std::string& form, const std::string& control, int index, const std::string& text);
    void Select(const std::string& form, const std::string& list, long item);
    void SelectText(const std::string& form, const std::string& list, const std::string& itemText);
    void Toggle(const std::string& form, const std::string& list, long item, bool on);
    // Answers the next message box / common file dialog.
    void Answer(int answer);
    void ChooseFile(std::optional<std::string> path);
    // Answers the next printer dialog: a PDF path and copies (empty: cancel).
    void ChoosePrinter(std::optional<std::string> pdfPath, int copies = 1);

    // Parses a script text (one step a line, '#' starts a comment):
    //   Page: click Control[(i)] | dblclick Control | type Control[(i)] text
    //   Page: select List index|"text" | toggle List index|"text" on|off
    //   Page: focus Control | resize width height | cell Grid row col
    //   answer OK|Cancel|Yes|No          file path|cancel
    //   print file.pdf [copies]|cancel
    // Raises with the line number on a malformed line.
    void LoadScript(const std::string& text);

    // Answer given to message boxes that the script does not answer.
    void SetDefaultAnswer(std::function<int(const std::string& text, int style)> f) { defaultAnswer_ = std::move(f); }
    // Messages and page changes are echoed here when set.
    void SetEcho(std::ostream* out) { echo_ = out; }

    void RunModal(Form& form) override;
    int MessageBox(const std::string& text, int style, const std::string& title) override;
    std::optional<std::string> FileDialog(const FileDialogRequest& request) override;
    std::optional<PrinterChoice> PrinterDialog() override;

    bool Finished() const { return steps_.empty(); }
    size_t Remaining() const { return steps_.size(); }
    // Steps that could not be played (wrong page, failed action, script ended).
    const std::vector<std::string>& Problems() const { return problems_; }
    // Every page shown, in order.
    const std::vector<std::string>& PagesShown() const { return pagesShown_; }
    std::vector<FileDialogRequest> fileRequests;

private:
    void GiveUp(Form& form, const std::string& why);
    std::deque<Step> steps_;
    std::vector<std::string> problems_;
    std::vector<std::string> pagesShown_;
    std::function<int(const std::string&, int)> defaultAnswer_;
    std::ostream* echo_ = nullptr;
};

}  // namespace host::forms
