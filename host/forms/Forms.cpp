#include "host/forms/Forms.h"

#include <algorithm>

namespace host::forms {

// ---------------- Control ----------------

Control::Control(Form* form, std::string name, ControlKind kind, int index)
    : form_(form), name_(std::move(name)), kind_(kind), index_(index) {
    hasCaption = kind != ControlKind::Image && kind != ControlKind::TextBox && kind != ControlKind::ListBox &&
                 kind != ControlKind::ComboBox && kind != ControlKind::CommonDialog && kind != ControlKind::Grid;
}

std::string Control::QualifiedName() const {
    return index_ >= 0 ? name_ + "(" + std::to_string(index_) + ")" : name_;
}

void Control::SetText(const std::string& t) {
    if (t == text_) return;
    text_ = t;
    if (onChange) onChange();
}

void Control::SetValue(bool v) {
    if (v == value_) return;
    value_ = v;
    if (kind_ == ControlKind::OptionButton && v) {
        for (Control* other : form_->Controls())
            if (other != this && other->kind_ == ControlKind::OptionButton && other->group == group) other->value_ = false;
    }
    if (onClick && (v || kind_ == ControlKind::CheckBox)) onClick();
}

void Control::AddItem(const std::string& s) {
    list_.push_back(s);
    selected_.push_back(false);
}

void Control::SetListItem(long i, const std::string& s) {
    if (i < 0 || i >= ListCount()) Raise(381, "Invalid property array index");
    list_[i] = s;
}

void Control::Clear() {
    list_.clear();
    selected_.clear();
    listIndex_ = -1;
}

void Control::SetListIndex(long i) {
    if (i < -1 || i >= ListCount()) Raise(380, "Invalid property value");
    if (i == listIndex_) return;
    listIndex_ = i;
    if (!multiSelect && i >= 0) {
        std::fill(selected_.begin(), selected_.end(), false);
        selected_[i] = true;
    }
    if (onClick) onClick();
}

bool Control::Selected(long i) const {
    if (i < 0 || i >= ListCount()) Raise(381, "Invalid property array index");
    return selected_[i];
}

void Control::SetSelected(long i, bool s) {
    if (i < 0 || i >= ListCount()) Raise(381, "Invalid property array index");
    bool changed = selected_[i] != s || listIndex_ != i;
    if (!multiSelect && s) std::fill(selected_.begin(), selected_.end(), false);
    selected_[i] = s;
    listIndex_ = i;
    if (changed && onClick) onClick();
}

long Control::SelCount() const { return static_cast<long>(std::count(selected_.begin(), selected_.end(), true)); }

std::string Control::ListText() const { return listIndex_ >= 0 && listIndex_ < ListCount() ? list_[listIndex_] : ""; }

void Control::SetFocus() {
    if (!visible || !enabled) Raise(5, "Invalid procedure call or argument: the control cannot take the focus");
    form_->focused_ = this;
}

void Control::SetCols(long n) {
    cols_ = n;
    for (auto& r : cells_) r.resize(n);
    colWidth.resize(n, 1000);
}

void Control::SetRows(long n) { cells_.resize(n, std::vector<GridCell>(cols_)); }

void Control::AddRow(const std::vector<std::string>& texts) {
    cells_.emplace_back(cols_);
    for (long c = 0; c < cols_ && c < static_cast<long>(texts.size()); ++c) cells_.back()[c].text = texts[c];
}

void Control::RemoveRow(long r) {
    if (r < 0 || r >= Rows()) Raise(381, "Subscript out of range");
    cells_.erase(cells_.begin() + r);
}

const GridCell& Control::Cell(long r, long c) const {
    if (r < 0 || r >= Rows() || c < 0 || c >= cols_) Raise(381, "Subscript out of range");
    return cells_[r][c];
}

GridCell& Control::Cell(long r, long c) {
    return const_cast<GridCell&>(static_cast<const Control&>(*this).Cell(r, c));
}

// ---------------- Form ----------------

Form::Form(std::string name) : name_(std::move(name)) {}
Form::~Form() = default;

Control& Form::Add(const std::string& name, ControlKind kind, const std::string& cap, int index) {
    controls_.push_back(std::make_unique<Control>(this, name, kind, index));
    Control& c = *controls_.back();
    c.caption = cap;
    return c;
}

void Form::Load() {
    if (loaded_) return;
    loaded_ = true;
    controls_.clear();
    retired_.clear();
    focused_ = nullptr;
    CreateControls();
    Form_Load();
}

Control& Form::Ctl(const std::string& name, int index) {
    Load();
    for (auto& c : controls_)
        if (c->Name() == name && c->Index() == index) return *c;
    Raise(730, "Control '" + name + (index >= 0 ? "(" + std::to_string(index) + ")" : "") + "' not found on " + name_);
}

bool Form::HasControl(const std::string& name, int index) {
    Load();
    for (auto& c : controls_)
        if (c->Name() == name && c->Index() == index) return true;
    return false;
}

std::vector<Control*> Form::Controls() {
    Load();
    std::vector<Control*> out;
    for (auto& c : controls_) out.push_back(c.get());
    return out;
}

void Form::ShowModal() {
    Load();
    visible_ = true;
    // The first enabled, visible text box or button takes the focus.
    if (!focused_)
        for (auto& c : controls_)
            if (c->visible && c->enabled &&
                (c->Kind() == ControlKind::TextBox || c->Kind() == ControlKind::ListBox ||
                 c->Kind() == ControlKind::CommandButton)) {
                focused_ = c.get();
                break;
            }
    Form_Activate();
    if (visible_) Driver().RunModal(*this);
    visible_ = false;
}

void Form::Hide() { visible_ = false; }

void Form::Unload() {
    if (!loaded_) return;
    if (!Form_QueryUnload()) return;
    Form_Unload();
    visible_ = false;
    loaded_ = false;
    focused_ = nullptr;
    // A page may unload itself from one of its own events: the controls go
    // when the page loads again or ends, not under the running event.
    retired_ = std::move(controls_);
    controls_.clear();
}

void Form::Move(double l, double t, double w, double h) {
    left = l;
    top = t;
    bool sizeChanged = w != width || h != height;
    width = w;
    height = h;
    if (sizeChanged) Resize(w, h);
}

void Form::Resize(double w, double h) {
    width = w;
    height = h;
    if (inResize_) return;
    inResize_ = true;
    Form_Resize();
    inResize_ = false;
}

bool Form::MoveFocus(Control* to) {
    if (focused_ == to) return true;
    Control* from = focused_;
    if (from && from->onValidate) {
        bool cancel = false;
        from->onValidate(cancel);
        if (cancel) return false;
    }
    if (from && from->onLostFocus) from->onLostFocus();
    focused_ = to;
    if (to && to->onGotFocus) to->onGotFocus();
    return true;
}

namespace {
void CheckUsable(const Control& c) {
    if (!c.visible || !c.enabled)
        Raise(5, "The control " + c.QualifiedName() + " is " + (c.visible ? "disabled" : "hidden"));
}
}  // namespace

bool Form::UserClick(const std::string& name, int index) {
    Control& c = Ctl(name, index);
    CheckUsable(c);
    if (!MoveFocus(&c)) return false;
    if (c.Kind() == ControlKind::OptionButton) {
        if (!c.Value()) c.SetValue(true);
        else if (c.onClick) c.onClick();
    } else if (c.Kind() == ControlKind::CheckBox) {
        c.SetValue(!c.Value());
    } else if (c.onClick) {
        c.onClick();
    }
    Driver().Changed(*this);
    return true;
}

bool Form::UserDblClick(const std::string& name, int index) {
    Control& c = Ctl(name, index);
    CheckUsable(c);
    if (!MoveFocus(&c)) return false;
    if (c.Kind() == ControlKind::OptionButton && !c.Value()) c.SetValue(true);
    if (c.onDblClick) c.onDblClick();
    Driver().Changed(*this);
    return true;
}

bool Form::UserType(const std::string& name, int index, const std::string& text) {
    Control& c = Ctl(name, index);
    CheckUsable(c);
    if (!MoveFocus(&c)) return false;
    c.SetText(text);
    Driver().Changed(*this);
    return true;
}

bool Form::UserSelectItem(const std::string& name, long item, bool selected) {
    Control& c = Ctl(name, -1);
    CheckUsable(c);
    if (!MoveFocus(&c)) return false;
    if (c.multiSelect) c.SetSelected(item, selected);
    else c.SetListIndex(item);
    Driver().Changed(*this);
    return true;
}

bool Form::UserClickCell(const std::string& name, long r, long c) {
    Control& g = Ctl(name, -1);
    CheckUsable(g);
    if (!MoveFocus(&g)) return false;
    g.Cell(r, c);  // raises for a cell outside the grid
    g.row = r;
    g.col = c;
    if (g.onClick) g.onClick();
    Driver().Changed(*this);
    return true;
}

bool Form::UserFocus(const std::string& name, int index) {
    Control& c = Ctl(name, index);
    CheckUsable(c);
    return MoveFocus(&c);
}

// ---------------- driver and messages ----------------

namespace {
std::shared_ptr<FormsDriver>& DriverRef() {
    static std::shared_ptr<FormsDriver> d;
    return d;
}
}  // namespace

void SetDriver(std::shared_ptr<FormsDriver> driver) { DriverRef() = std::move(driver); }
std::shared_ptr<FormsDriver> CurrentDriver() { return DriverRef(); }

FormsDriver& Driver() {
    if (!DriverRef()) Raise(kErrObjectNotSet, "No forms driver is installed");
    return *DriverRef();
}

std::vector<MessageRecord>& MessageLog() {
    static std::vector<MessageRecord> log;
    return log;
}

int MsgBox(const std::string& text, int style, const std::string& title) {
    std::string t = title.empty() ? "Plexa" : title;
    int answer = Driver().MessageBox(text, style, t);
    MessageLog().push_back({text, style, t, answer});
    return answer;
}

}  // namespace host::forms
