// Forms layer of the host: pages made of named controls, shown modally
// through a driver. The driver is what puts a page in front of somebody:
// a script (tests and batch runs) or the desktop toolkit. Pages themselves
// are plain objects; nothing here depends on a GUI toolkit.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/Object.h"

namespace host::forms {

enum class ControlKind { Label, TextBox, ListBox, ComboBox, OptionButton, CheckBox, CommandButton, Frame, Image, Grid, CommonDialog };

struct Font {
    std::string name = "MS Sans Serif";
    int charset = 0;
    double size = 8;
};

class Form;

// One cell of a flexible grid: a text and an optional picture key.
struct GridCell {
    std::string text;
    std::string picture;
};

class Control {
public:
    Control(Form* form, std::string name, ControlKind kind, int index = -1);
    const std::string& Name() const { return name_; }
    int Index() const { return index_; }
    ControlKind Kind() const { return kind_; }
    // Name as scripts write it: "FloorText(3)" for members of control arrays.
    std::string QualifiedName() const;
    Form* Parent() const { return form_; }

    // Properties; setters fire the events a user action would.
    std::string caption;
    std::string toolTipText;
    bool visible = true;
    bool enabled = true;
    bool multiLine = false;
    bool multiSelect = false;
    std::string passwordChar;  // text boxes that show this instead of what is typed
    bool hasCaption = true;   // images have none
    std::string group;        // option buttons of one group exclude each other
    std::string container;    // frame that holds the control
    double left = 0, top = 0, width = 0, height = 0;  // twips
    Font font;
    std::string picture;      // image file for images

    const std::string& Text() const { return text_; }
    long selStart = 0, selLength = 0;  // selected part of a text box
    void SetText(const std::string& t);
    bool Value() const { return value_; }
    void SetValue(bool v);
    // Lists.
    const std::vector<std::string>& List() const { return list_; }
    long ListCount() const { return static_cast<long>(list_.size()); }
    void AddItem(const std::string& s);
    void SetListItem(long i, const std::string& s);
    void Clear();
    long ListIndex() const { return listIndex_; }
    void SetListIndex(long i);
    bool Selected(long i) const;
    void SetSelected(long i, bool s);
    long SelCount() const;
    // The text of the current list entry ("" when none).
    std::string ListText() const;
    void SetFocus();

    // Flexible grids: rows of cells; row 0 is the grid's fixed row. The
    // current cell (row, col) is where the last click landed.
    long Rows() const { return static_cast<long>(cells_.size()); }
    long Cols() const { return cols_; }
    void SetCols(long n);
    void SetRows(long n);
    void AddRow(const std::vector<std::string>& texts);
    void RemoveRow(long r);
    const GridCell& Cell(long r, long c) const;
    GridCell& Cell(long r, long c);
    std::vector<double> colWidth;
    long row = 0, col = 0;

    std::function<void()> onClick, onDblClick, onChange, onLostFocus, onGotFocus;
    std::function<void(bool& cancel)> onValidate;

private:
    Form* form_;
    std::string name_;
    ControlKind kind_;
    int index_;
    std::string text_;
    bool value_ = false;
    std::vector<std::string> list_;
    std::vector<bool> selected_;
    long listIndex_ = -1;
    std::vector<std::vector<GridCell>> cells_;
    long cols_ = 0;
};

// The common file dialog control.
struct FileDialogRequest {
    bool save = false;
    std::string title;
    std::string filter;  // "description|pattern|..."
    std::string fileName;
};

class Form : public Object {
public:
    explicit Form(std::string name);
    ~Form() override;
    std::string TypeName() const override { return name_; }
    const std::string& Name() const { return name_; }

    std::string caption;
    double left = 0, top = 0, width = 6000, height = 4500;  // twips
    Font font;
    bool resizable = false;
    long Hwnd() const { return reinterpret_cast<long>(this) & 0x7fffffff; }

    // Control access; touching a control loads the page, as on the platform.
    Control& Ctl(const std::string& name, int index = -1);
    bool HasControl(const std::string& name, int index = -1);
    std::vector<Control*> Controls();
    Control* FocusedControl() const { return focused_; }

    bool IsLoaded() const { return loaded_; }
    bool IsVisible() const { return visible_; }
    void Load();
    // Shows the page modally; returns when it is hidden or unloaded.
    void ShowModal();
    void Hide();
    void Unload();
    void Move(double l, double t, double w, double h);
    void Resize(double w, double h);

    // User actions, as a driver performs them (events fire as for a person).
    bool UserClick(const std::string& name, int index = -1);
    bool UserDblClick(const std::string& name, int index = -1);
    bool UserType(const std::string& name, int index, const std::string& text);
    bool UserSelectItem(const std::string& name, long item, bool selected = true);
    bool UserFocus(const std::string& name, int index = -1);
    // A click on one cell of a grid.
    bool UserClickCell(const std::string& name, long row, long col);
    void UserResize(double w, double h) { Resize(w, h); }
    // Moves the focus; false when the control that had it refused (Validate).
    bool MoveFocus(Control* to);

protected:
    // Builds the controls in their design state (captions hold resource ids).
    virtual void CreateControls() = 0;
    virtual void Form_Load() {}
    virtual void Form_Activate() {}
    virtual void Form_Resize() {}
    virtual void Form_Unload() {}
    // False refuses an unload (closing the window or Unload from code).
    virtual bool Form_QueryUnload() { return true; }
    Control& Add(const std::string& name, ControlKind kind, const std::string& caption = "", int index = -1);

private:
    friend class Control;
    std::string name_;
    std::vector<std::unique_ptr<Control>> controls_;
    std::vector<std::unique_ptr<Control>> retired_;
    Control* focused_ = nullptr;
    bool loaded_ = false;
    bool visible_ = false;
    bool inResize_ = false;
};
using FormPtr = std::shared_ptr<Form>;

// Message box constants of the platform.
enum MsgBoxStyle : int {
    vbOKOnly = 0, vbOKCancel = 1, vbAbortRetryIgnore = 2, vbYesNoCancel = 3, vbYesNo = 4, vbRetryCancel = 5,
    vbCritical = 16, vbQuestion = 32, vbExclamation = 48, vbInformation = 64,
};
enum MsgBoxResult : int { vbOK = 1, vbCancel = 2, vbAbort = 3, vbRetry = 4, vbIgnore = 5, vbYes = 6, vbNo = 7 };

struct MessageRecord {
    std::string text;
    int style = 0;
    std::string title;
    int answer = 0;
};

// What the printer dialog yields: the printout goes to a PDF document.
struct PrinterChoice {
    std::string pdfPath;
    int copies = 1;
};

class FormsDriver {
public:
    virtual ~FormsDriver() = default;
    // Runs the modal loop of a shown page until it is hidden or unloaded.
    virtual void RunModal(Form& form) = 0;
    virtual int MessageBox(const std::string& text, int style, const std::string& title) = 0;
    // Empty when the user cancels.
    virtual std::optional<std::string> FileDialog(const FileDialogRequest& request) = 0;
    // Printer choice; empty when cancelled.
    virtual std::optional<PrinterChoice> PrinterDialog() = 0;
    // The page changed while shown (drivers that draw repaint).
    virtual void Changed(Form&) {}
};

void SetDriver(std::shared_ptr<FormsDriver> driver);
// The driver installed, so that one put in for a while can give way to it again.
std::shared_ptr<FormsDriver> CurrentDriver();
FormsDriver& Driver();

// The platform message box; the title defaults to the application name.
int MsgBox(const std::string& text, int style = vbOKOnly, const std::string& title = "");
// Every message shown, for logs and tests.
std::vector<MessageRecord>& MessageLog();

// Cancel error of the common dialog.
constexpr long kErrCancel = 32755;

}  // namespace host::forms
