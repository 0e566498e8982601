#include "host/forms/ScriptedDriver.h"

#include <algorithm>
#include <ostream>
#include <sstream>

#include "host/platform/Locale.h"

namespace host::forms {

namespace {

// Splits "Name(3)" into name and index.
std::pair<std::string, int> ParseControl(const std::string& s) {
    auto open = s.find('(');
    if (open == std::string::npos || s.back() != ')') return {s, -1};
    return {s.substr(0, open), std::stoi(s.substr(open + 1, s.size() - open - 2))};
}

// Splits a line into words; double quotes group blanks, "" is a quote.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> out;
    std::string cur;
    bool inQuote = false, any = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (inQuote) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                cur += '"';
                ++i;
            } else if (c == '"') {
                inQuote = false;
            } else {
                cur += c;
            }
        } else if (c == '"') {
            inQuote = true;
            any = true;
        } else if (c == ' ' || c == '\t') {
            if (any || !cur.empty()) out.push_back(cur);
            cur.clear();
            any = false;
        } else {
            cur += c;
        }
    }
    if (any || !cur.empty()) out.push_back(cur);
    return out;
}

long FindItem(Control& list, const std::string& itemText) {
    for (long i = 0; i < list.ListCount(); ++i)
        if (list.List()[i] == itemText) return i;
    Raise(380, "No entry \"" + itemText + "\" in " + list.QualifiedName());
}

bool IsIndex(const std::string& s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; }

}  // namespace

void ScriptedDriver::On(const std::string& form, std::function<void(Form&)> action, const std::string& text) {
    Step s;
    s.kind = StepKind::Action;
    s.form = form;
    s.text = text.empty() ? form + ": (action)" : text;
    s.action = std::move(action);
    steps_.push_back(std::move(s));
}

void ScriptedDriver::Click(const std::string& form, const std::string& control, int index) {
    On(form, [=](Form& f) { f.UserClick(control, index); }, form + ": click " + control);
}

void ScriptedDriver::Type(const std::string& form, const std::string& control, int index, const std::string& text) {
    On(form, [=](Form& f) { f.UserType(control, index, text); }, form + ": type " + control + " " + text);
}

void ScriptedDriver::Select(const std::string& form, const std::string& list, long item) {
    On(form, [=](Form& f) { f.UserSelectItem(list, item, true); }, form + ": select " + list + " " + std::to_string(item));
}

void ScriptedDriver::SelectText(const std::string& form, const std::string& list, const std::string& itemText) {
    On(form, [=](Form& f) { f.UserSelectItem(list, FindItem(f.Ctl(list), itemText), true); },
       form + ": select " + list + " \"" + itemText + "\"");
}

void ScriptedDriver::Toggle(const std::string& form, const std::string& list, long item, bool on) {
    On(form, [=](Form& f) { f.UserSelectItem(list, item, on); }, form + ": toggle " + list);
}

void ScriptedDriver::Answer(int answer) {
    Step s;
    s.kind = StepKind::Answer;
    s.answer = answer;
    s.text = "answer";
    steps_.push_back(std::move(s));
}

void ScriptedDriver::ChooseFile(std::optional<std::string> path) {
    Step s;
    s.kind = StepKind::File;
    s.file = std::move(path);
    s.text = "file";
    steps_.push_back(std::move(s));
}

void ScriptedDriver::ChoosePrinter(std::optional<std::string> pdfPath, int copies) {
    Step s;
    s.kind = StepKind::Print;
    s.file = std::move(pdfPath);
    s.copies = copies;
    s.text = "print";
    steps_.push_back(std::move(s));
}

void ScriptedDriver::LoadScript(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    auto bad = [&](const std::string& why) {
        Raise(kErrInvalidCall, "Script line " + std::to_string(lineNo) + ": " + why + ": " + line);
    };
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string t = Trim(line);
        if (t.empty() || t[0] == '#') continue;
        auto colon = t.find(':');
        auto words = Words(t);
        if (words.empty()) continue;
        if (words[0] == "answer") {
            if (words.size() != 2) bad("answer needs one of OK, Cancel, Yes, No");
            static const std::map<std::string, int> answers = {
                {"OK", vbOK}, {"Cancel", vbCancel}, {"Yes", vbYes}, {"No", vbNo}};
            auto it = answers.find(words[1]);
            if (it == answers.end()) bad("unknown answer");
            Answer(it->second);
            continue;
        }
        if (words[0] == "file") {
            if (words.size() != 2) bad("file needs a path or cancel");
            ChooseFile(words[1] == "cancel" ? std::nullopt : std::optional<std::string>(words[1]));
            continue;
        }
        if (words[0] == "print") {
            if (words.size() < 2 || words.size() > 3 || (words.size() == 3 && !IsIndex(words[2])))
                bad("print needs a PDF path and optional copies, or cancel");
            if (words[1] == "cancel") ChoosePrinter(std::nullopt);
            else ChoosePrinter(words[1], words.size() == 3 ? std::max(1, std::stoi(words[2])) : 1);
            continue;
        }
        if (colon == std::string::npos) bad("expected 'Page: action'");
        std::string form = Trim(t.substr(0, colon));
        auto w = Words(t.substr(colon + 1));
        if (w.empty()) bad("missing action");
        const std::string& verb = w[0];
        if ((verb == "click" || verb == "dblclick" || verb == "focus") && w.size() == 2) {
            auto [name, idx] = ParseControl(w[1]);
            if (verb == "click") On(form, [name, idx](Form& f) { f.UserClick(name, idx); }, t);
            else if (verb == "dblclick") On(form, [name, idx](Form& f) { f.UserDblClick(name, idx); }, t);
            else On(form, [name, idx](Form& f) { f.UserFocus(name, idx); }, t);
        } else if (verb == "type" && (w.size() == 2 || w.size() == 3)) {
            auto [name, idx] = ParseControl(w[1]);
            std::string value = w.size() == 3 ? w[2] : "";
            On(form, [name, idx, value](Form& f) { f.UserType(name, idx, value); }, t);
        } else if ((verb == "select" && w.size() == 3) || (verb == "toggle" && w.size() == 4)) {
            std::string list = w[1], item = w[2];
            bool on = verb == "select" || w[3] == "on";
            if (verb == "toggle" && w[3] != "on" && w[3] != "off") bad("toggle needs on or off");
            On(form, [list, item, on](Form& f) {
                long i = IsIndex(item) ? std::stol(item) : FindItem(f.Ctl(list), item);
                f.UserSelectItem(list, i, on);
            }, t);
        } else if (verb == "cell" && w.size() == 4 && IsIndex(w[2]) && IsIndex(w[3])) {
            std::string grid = w[1];
            long r = std::stol(w[2]), c = std::stol(w[3]);
            On(form, [grid, r, c](Form& f) { f.UserClickCell(grid, r, c); }, t);
        } else if (verb == "resize" && w.size() == 3) {
            // A script's numbers are C numbers ("1234.5"), whatever the locale.
            auto wd = platform::ParseCNumber(w[1]), ht = platform::ParseCNumber(w[2]);
            if (!wd || !ht) bad("resize needs a width and a height");
            On(form, [wd = *wd, ht = *ht](Form& f) { f.UserResize(wd, ht); }, t);
        } else {
            bad("unknown action");
        }
    }
}

void ScriptedDriver::GiveUp(Form& form, const std::string& why) {
    problems_.push_back(why);
    if (echo_) *echo_ << "script: " << why << "\n";
    // Leave the page the way a person would who does not know what to do.
    if (form.HasControl("CancelButton") && form.Ctl("CancelButton").enabled && form.Ctl("CancelButton").visible) {
        try {
            form.UserClick("CancelButton");
        } catch (...) {
        }
    }
    if (form.IsVisible()) form.Hide();
}

void ScriptedDriver::RunModal(Form& form) {
    pagesShown_.push_back(form.Name());
    if (echo_) *echo_ << "[" << form.Name() << "]\n";
    while (form.IsVisible() && form.IsLoaded()) {
        if (steps_.empty()) {
            GiveUp(form, "the script ended while " + form.Name() + " was open");
            return;
        }
        Step& next = steps_.front();
        if (next.kind != StepKind::Action || next.form != form.Name()) {
            GiveUp(form, form.Name() + " is open but the script expects: " + next.text);
            return;
        }
        Step s = std::move(next);
        steps_.pop_front();
        try {
            s.action(form);
        } catch (const std::exception& e) {
            GiveUp(form, s.text + ": " + e.what());
            return;
        }
    }
}

int ScriptedDriver::MessageBox(const std::string& text, int style, const std::string& title) {
    int answer = 0;
    if (!steps_.empty() && steps_.front().kind == StepKind::Answer) {
        answer = steps_.front().answer;
        steps_.pop_front();
    } else if (defaultAnswer_) {
        answer = defaultAnswer_(text, style);
    } else {
        int buttons = style & 7;
        answer = buttons == vbYesNo || buttons == vbYesNoCancel ? vbYes : buttons == vbRetryCancel ? vbRetry : vbOK;
    }
    if (echo_) *echo_ << "message [" << title << "]: " << text << "\n";
    return answer;
}

std::optional<std::string> ScriptedDriver::FileDialog(const FileDialogRequest& request) {
    fileRequests.push_back(request);
    if (!steps_.empty() && steps_.front().kind == StepKind::File) {
        auto f = steps_.front().file;
        steps_.pop_front();
        return f;
    }
    problems_.push_back("a file dialog (" + request.title + ") was not answered by the script");
    return std::nullopt;
}

std::optional<PrinterChoice> ScriptedDriver::PrinterDialog() {
    if (!steps_.empty() && steps_.front().kind == StepKind::Print) {
        auto s = std::move(steps_.front());
        steps_.pop_front();
        if (!s.file) return std::nullopt;
        return PrinterChoice{*s.file, s.copies};
    }
    problems_.push_back("a printer dialog was not answered by the script");
    return std::nullopt;
}

}  // namespace host::forms
