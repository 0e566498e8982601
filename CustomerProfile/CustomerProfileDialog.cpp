#include "CustomerProfile/CustomerProfileDialog.h"

#include <cmath>
#include <filesystem>

#include "CustomerProfile/CustomerProfileNew.h"
#include "CustomerProfile/CustomerProfilePopulate.h"
#include "CustomerProfile/ProfileOutputs.h"
#include "PXCP/PXAnalysisUtils.h"
#include "i18n/modi18N.h"
#include "pages/SmallPages.h"

namespace pxcp {

using namespace host;
using forms::ControlKind;

namespace {
constexpr const char* kGrid = "CharacteristicsGrid";
constexpr long kFirstRow = 2;  // grid row of the characteristic keyed "0"

std::string Item(const Collection& row, const char* key) { return row.Contains(key) ? row.Item(key).ToString() : ""; }

std::vector<std::string> LayoutOrder() {
    return {"mainframe", "@CommonDialog1", "SelectNoneButton", "SelectAllProfiledButton", "SelectAllButton",
            "HelpButton", "CancelButton", "TableButton", "PrintButton", "FileButton", "PopulateButton",
            "NewButton", kGrid, "@ImageList", "Image1", "Image2", "Label4", "Label5", "HeaderSel",
            "header1", "header2", "header3"};
}

// A message made of a resource text and an error's description.
void ReportFailure(int textId, const std::exception& e) { forms::MsgBox(FindString(textId) + e.what(), forms::vbOKOnly); }
}  // namespace

CustomerProfileDialog::CustomerProfileDialog() : WizardPage("CustomerProfileDialog", 100, LayoutOrder()) {}

CustomerProfileDialog::~CustomerProfileDialog() {
    m_pDataQuery.reset();
    m_pCustomerDataset.reset();
}

void CustomerProfileDialog::CreateControls() {
    caption = "101";
    Add("mainframe", ControlKind::Frame, "102");
    Add("CommonDialog1", ControlKind::CommonDialog);
    Button("SelectNoneButton", 103, [this] { SelectNone(); }).picture = "uncheck";
    Button("SelectAllProfiledButton", 104, [this] { SelectAll(true); }).picture = "green";
    Button("SelectAllButton", 105, [this] { SelectAll(false); }).picture = "check";
    Button("HelpButton", 106, [this] { ShowHelp(kHelpFile, kHelpProfile, Hwnd()); });
    Button("CancelButton", 107, [this] { Form_QueryUnload(); });
    Button("TableButton", 108, [this] { TableButton_Click(); });
    Button("PrintButton", 109, [this] { PrintButton_Click(); });
    Button("FileButton", 110, [this] { ShowFileOptionDialog(); });
    Button("PopulateButton", 111, [this] { PopulateButton_Click(); });
    Button("NewButton", 112, [this] { NewButton_Click(); });
    auto& grid = Add(kGrid, ControlKind::Grid);
    grid.SetCols(5);
    grid.SetRows(1);
    grid.onClick = [this] { Grid_Click(); };
    Add("ImageList", ControlKind::Image).visible = false;
    Add("Image1", ControlKind::Image);
    Add("Image2", ControlKind::Image);
    Label("Label4", 114);
    Label("Label5", 113);
    Label("HeaderSel", 115);
    for (const char* h : {"header1", "header2", "header3"}) Label(h, 0);
}

bool CustomerProfileDialog::Form_QueryUnload() {
    closeCode = -1;
    m_bNewProfilePushed = false;
    m_bPopulateProfilePushed = false;
    Hide();
    return false;  // the page stays loaded with its rows
}

CollectionPtr CustomerProfileDialog::Row(long key) const {
    return m_pStateCol->Item(std::to_string(key)).As<Collection>();
}

std::string CustomerProfileDialog::YearCaption() const {
    if (!mainTask || !mainTask->years) return "";
    long i = m_nYearIndex - 1;
    return i >= 0 && i < mainTask->years->Count() ? mainTask->years->Item(i) : "";
}

void CustomerProfileDialog::InitializeDialog() {
    errorHandler_ = NewErrorHandler();
    m_nLastYearIndex = m_nYearIndex;
    if (!mainTask) return;
    PX_TRY
    Ctl("header1").caption = FindString(123);
    Ctl("header2").caption = FindString(124);
    Ctl("header3").caption.clear();
    m_bSelected = false;
    savedManner_ = 0;
    savedVariance_ = 0;
    m_bClearBefore = false;
    auto& grid = Ctl(kGrid);
    grid.colWidth = {1750, 300, 300, 2200, 1945};
    grid.SetRows(1);
    grid.AddRow({"CATEGORY", "", "", "CHARACTERISTIC", "AVERAGE"});
    grid.AddRow({});
    m_sLayerID = mainTask->Param("MainLayer");
    auto extension = GetPXExtension(application);
    m_pDataQuery = extension ? extension->GetDataQuery(m_sLayerID) : nullptr;
    if (m_pDataQuery) {
        auto layer = businessDataset ? businessDataset->LayerByName(m_sLayerID) : nullptr;
        layerName_ = layer && !layer->caption.empty() ? layer->caption : m_sLayerID;
    }
    LoadCharacteristics();
    PX_CATCH(errorHandler_, "InitializeDialog ")
}

CharacteristicRows MakeCharacteristicRows(const TaskEntry& mainTask, const gis::Fields* fields, int16_t yearIndex) {
    CharacteristicRows out;
    std::string year = std::to_string(yearIndex);
    for (auto& cat : mainTask.categories) {
        if (cat->Property("IsProfiled") != "True") continue;
        bool first = true;
        for (auto& target : cat->targets) {
            if (target->Property("IsProfiledName") != "True") continue;
            auto row = std::make_shared<Collection>();
            row->Add(first ? "True" : "False", "First");
            if (first) row->Add(cat->caption, "Cat.caption");
            row->Add(target->Property("ProfiledName"), "Target.caption");
            auto f = target->numberFields.find(year);
            if (f == target->numberFields.end() || f->second.empty()) {
                out.lacking = {cat->id, target->name};  // no field for the year: the list ends here
                return out;
            }
            row->Add(fields && fields->FindField(f->second) >= 0 ? 1 : 0, "3");
            row->Add(cat->id, "0");
            row->Add(target->name, "1");
            row->Add(0, "2");
            row->Add(std::string(), "Chance");
            row->Add(std::string(), "Value");
            out.rows->Add(row, std::to_string(out.rows->Count()));
            first = false;
        }
    }
    return out;
}

void CustomerProfileDialog::LoadCharacteristics() {
    auto fields = m_pDataQuery ? m_pDataQuery->Fields() : nullptr;
    m_pStateCol = MakeCharacteristicRows(*mainTask, fields.get(), m_nYearIndex).rows;
}

void CustomerProfileDialog::ResetParams() {
    if (m_nYearIndex != m_nLastYearIndex) {
        m_nLastYearIndex = m_nYearIndex;
        if (mainTask) LoadCharacteristics();  // the fields differ per year
    }
    FillGrid();
    m_popul_col.reset();
    closeCode = -1;
    m_bNewProfilePushed = false;
    m_bPopulateProfilePushed = false;
}

void CustomerProfileDialog::FillGrid() {
    auto& grid = Ctl(kGrid);
    while (grid.Rows() > kFirstRow) grid.RemoveRow(grid.Rows() - 1);
    for (long k = 0; k < m_pStateCol->Count(); ++k) {
        auto row = Row(k);
        bool profiled = !Item(*row, "Value").empty() && Item(*row, "Reason").empty();
        grid.AddRow({Item(*row, "First") == "True" ? Item(*row, "Cat.caption") : "", "", "",
                     Item(*row, "Target.caption"), ProfileAverageCell(*row)});
        grid.Cell(grid.Rows() - 1, 1).picture = profiled ? "green" : "red";
    }
    ShowCheckMarks();
    ShowSelectedCount();
}

void CustomerProfileDialog::ShowCheckMarks() {
    auto& grid = Ctl(kGrid);
    for (long r = kFirstRow; r < grid.Rows() && r - kFirstRow < m_pStateCol->Count(); ++r)
        grid.Cell(r, 2).picture = Row(r - kFirstRow)->Item("2").ToLong() == 0 ? "uncheck" : "check";
}

long CustomerProfileDialog::TickedCount(bool availableOnly) {
    try {
        long n = 0;
        for (long k = 0; k < m_pStateCol->Count(); ++k) {
            auto row = Row(k);
            if (row->Item("2").ToLong() == 1 && (!availableOnly || row->Item("3").ToLong() == 1)) ++n;
        }
        return n;
    } catch (const std::exception& e) {
        ReportFailure(availableOnly ? 141 : 140, e);
        return -1;
    }
}

void CustomerProfileDialog::ShowSelectedCount() {
    long n = TickedCount(false);
    if (n >= 0) Ctl("HeaderSel").caption = std::to_string(n) + FindString(126);
}

void CustomerProfileDialog::Grid_Click() {
    auto& grid = Ctl(kGrid);
    if ((grid.col != 2 && grid.col != 3) || grid.row < kFirstRow) return;
    long key = grid.row - kFirstRow;
    if (key >= m_pStateCol->Count()) return;
    grid.col = 2;
    auto row = Row(key);
    long ticked = row->Item("2").ToLong() == 0 ? 1 : 0;
    row->Replace("2", ticked);
    grid.Cell(grid.row, 2).picture = ticked ? "check" : "uncheck";
    ShowSelectedCount();
}

void CustomerProfileDialog::SelectAll(bool profiledOnly) {
    for (long k = 0; k < m_pStateCol->Count(); ++k) {
        auto row = Row(k);
        long want = profiledOnly ? (Item(*row, "Value").empty() ? 0 : 1) : 1;
        if (row->Item("2").ToLong() != want) row->Replace("2", want);
    }
    ShowCheckMarks();
    ShowSelectedCount();
}

void CustomerProfileDialog::SelectNone() {
    for (long k = 0; k < m_pStateCol->Count(); ++k) {
        auto row = Row(k);
        if (row->Item("2").ToLong() == 1) row->Replace("2", 0);
    }
    ShowCheckMarks();
    Ctl("HeaderSel").caption = FindString(115);
}

void CustomerProfileDialog::ClearProfileValues() {
    try {
        for (long k = 0; k < m_pStateCol->Count(); ++k) {
            auto row = Row(k);
            row->Replace("Value", std::string());
            row->Replace("Chance", std::string());
            if (row->Contains("Reason")) row->Remove("Reason");
        }
    } catch (const std::exception& e) {
        ReportFailure(139, e);
    }
}

void CustomerProfileDialog::NewButton_Click() {
    long ticked = TickedCount(false);
    if (ticked < 0) return;
    if (ticked == 0) {
        ResMsgBox(132, forms::vbExclamation, 128);
        return;
    }
    long available = TickedCount(true);
    if (available < 0) return;
    if (available == 0) {
        ResMsgBox(133, forms::vbInformation, 128);
        return;
    }
    CustomerProfileNew form;
    form.cmbCustomers.Configure(form.Ctl("cmbCustomers"), application, dataManager, "Layers", true);
    if (form.cmbCustomers.LayerCount() == 0) {
        ResMsgBox(134, forms::vbInformation, 128);
        form.Unload();
        return;
    }
    std::string year = YearCaption();
    form.Ctl("lLabelNumAttr").caption = "You will be profiling " + std::to_string(ticked) +
                                        " selected attribute(s) in the " + layerName_ + " layer (" + year +
                                        " data).";
    form.InitializeDialog();
    form.ResetParams();
    form.ShowModal();
    if (form.result != 0) {
        form.Unload();
        return;
    }
    m_sCustomerLayerName = form.cmbCustomers.LayerName();
    m_pCustomerDataset = form.cmbCustomers.Layer();
    auto& useSelected = form.Ctl("chkUseSelected");
    m_bSelected = useSelected.enabled && useSelected.Value();
    auto extension = GetPXExtension(application);
    Ctl("header1").caption = FindString(135) + (extension ? extension->Setting("CurrentExtent") : "");
    Ctl("header2").caption = FindString(136) + m_sCustomerLayerName;
    Ctl("header3").caption = FindString(137) + layerName_ + " (" + year + FindString(138);
    form.Unload();
    m_bNewProfilePushed = true;
    closeCode = 0;
    ClearProfileValues();
    Hide();
}

void CustomerProfileDialog::CollectPopulateRows() {
    m_popul_col = std::make_shared<Collection>();
    for (long k = 0; k < m_pStateCol->Count(); ++k) {
        auto row = Row(k);
        if (row->Item("3").ToLong() != 1 || row->Item("2").ToLong() != 1 || Item(*row, "Value").empty()) continue;
        if (!Item(*row, "Chance").empty()) m_bNumbersOption = false;
        auto item = std::make_shared<Collection>();
        item->Add(row->Item("0"), "0");
        item->Add(row->Item("1"), "1");
        item->Add(row->Item("Value"), "2");
        m_popul_col->Add(item, std::to_string(m_popul_col->Count()));
    }
}

void CustomerProfileDialog::PopulateButton_Click() {
    try {
        CollectPopulateRows();
    } catch (const std::exception& e) {
        ReportFailure(131, e);
        return;
    }
    if (m_popul_col->Count() == 0) {
        ResMsgBox(127, forms::vbInformation, 128);
        return;
    }
    CustomerProfilePopulate form;
    form.Ctl("LabelNumAttr").caption = FindString(129) + std::to_string(m_popul_col->Count()) + FindString(130);
    form.manner = savedManner_;
    form.Ctl("txtVariance").SetText(std::to_string(savedVariance_));
    form.Ctl("chkClear").SetValue(m_bClearBefore);
    form.InitializeDialog();
    form.ResetParams();
    form.ShowModal();
    if (form.result != 0) {
        form.Unload();
        return;
    }
    m_nManner = form.manner;
    m_dOffset = form.variance;
    m_bClearBefore = form.Ctl("chkClear").Value();
    savedManner_ = m_nManner;
    savedVariance_ = static_cast<int16_t>(std::nearbyint(m_dOffset));  // halves to the even neighbour
    m_bPopulateProfilePushed = true;
    form.Unload();
    Hide();
}

void CustomerProfileDialog::TableButton_Click() {
    try {
        forms::FileDialogRequest request;
        request.save = true;
        request.title = "Create Customer Profile Table (*.dbf)";
        request.filter = "*.dbf|*.dbf";
        auto path = forms::Driver().FileDialog(request);
        if (!path) return;  // cancelled: no table
        WriteProfileTable(*m_pStateCol, *path);
    } catch (const std::exception& e) {
        ReportFailure(142, e);
    }
}

void CustomerProfileDialog::PrintRecord(platform::Printer& printer, long gridRow) {
    auto& grid = Ctl(kGrid);
    pxcp::PrintRecord(printer, {grid.Cell(gridRow, 0).text, grid.Cell(gridRow, 3).text, grid.Cell(gridRow, 4).text});
}

void CustomerProfileDialog::PrintButton_Click() {
    PX_TRY
    auto choice = forms::Driver().PrinterDialog();
    if (!choice) return;  // cancelled: nothing printed
    platform::Printer printer(choice->pdfPath);
    auto& grid = Ctl(kGrid);
    std::vector<ProfileGridRow> rows;
    for (long r = kFirstRow; r < grid.Rows(); ++r)
        rows.push_back({grid.Cell(r, 0).text, grid.Cell(r, 3).text, grid.Cell(r, 4).text});
    PrintProfile(printer, Ctl("header1").caption, Ctl("header2").caption, Ctl("header3").caption, rows,
                 std::max(1, choice->copies));
    PX_CATCH(errorHandler_, "PrintButton_Click ")
}

CustomerProfileState CustomerProfileDialog::State() {
    CustomerProfileState s;
    s.header1 = Ctl("header1").caption;
    s.header2 = Ctl("header2").caption;
    s.header3 = Ctl("header3").caption;
    s.selected = m_bSelected;
    s.manner = savedManner_;
    s.variance = savedVariance_;
    s.clearBefore = m_bClearBefore;
    s.rows = m_pStateCol;
    return s;
}

bool CustomerProfileDialog::LoadCPFFile(const std::string& path) {
    auto s = State();
    bool loaded = pxcp::LoadCPFFile(s, path, mainTask ? mainTask->typeText : "");
    // Common properties read before a refusal stay applied.
    Ctl("header1").caption = s.header1;
    Ctl("header2").caption = s.header2;
    Ctl("header3").caption = s.header3;
    m_bSelected = s.selected;
    savedManner_ = static_cast<int16_t>(s.manner);
    savedVariance_ = s.variance;
    m_bClearBefore = s.clearBefore;
    if (!loaded || s.rows->Count() != m_pStateCol->Count()) return false;
    m_pStateCol = s.rows;
    FillGrid();
    return true;
}

void CustomerProfileDialog::SaveCPFFile(const std::string& path) {
    PX_TRY
    pxcp::SaveCPFFile(State(), path, mainTask ? mainTask->typeText : "");
    PX_CATCH(errorHandler_, "SaveCPFFile ")
}

void CustomerProfileDialog::ShowFileOptionDialog() {
    PX_TRY
    FileOptionDialog page;
    page.application = application;
    page.FileTypeName = "Customer Profile File";
    page.FileExtension = "cpf";
    page.InitializeDialog();
    page.ResetParams();
    page.ShowModal();
    if (page.Action == 0) LoadCPFFile(page.FileName);
    else if (page.Action == 1) SaveCPFFile(page.FileName);
    page.Unload();
    PX_CATCH(errorHandler_, "ShowFileOptionDialog ")
}

void CustomerProfileDialog::WriteToPropertySet(const PropertySetPtr& ps) {
    if (!ps) return;
    PX_TRY
    std::string w = dataManager->WorkingPath();
    std::string folder = w.substr(0, w.find_last_of("/\\") + 1);
    if (!IContains(cpfPath_, folder) || cpfPath_.empty()) cpfPath_ = w + ".cpf";
    SaveCPFFile(cpfPath_);
    ps->SetProperty("ProfilingFileFullPath", cpfPath_);
    PX_CATCH(errorHandler_, "WriteToPropertySet ")
}

void CustomerProfileDialog::ReadFromPropertySet(const PropertySetPtr& ps) {
    if (!ps) return;
    cpfPath_ = ps->GetProperty("ProfilingFileFullPath").ToString();
    if (!cpfPath_.empty() && std::filesystem::exists(cpfPath_)) LoadCPFFile(cpfPath_);
}

}  // namespace pxcp
