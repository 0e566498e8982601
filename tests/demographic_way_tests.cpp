// The demographic way: the worker's outcomes and the wizard end to end.
#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

#include "PXCP/PXCPDemographicData.h"
#include "PXCP/PXCPDemographicDataFunction.h"
#include "PXCP/PXCPMain.h"
#include "PXCP/Register.h"
#include "TestSupport.h"
#include "host/gis/GdalSupport.h"
#include "i18n/modi18N.h"
#include "pages/SmallPages.h"

using namespace host;
using namespace pxtest;
namespace fs = std::filesystem;

namespace {


class DemographicTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveSample()) GTEST_SKIP() << "sample data not fetched";
        h = std::make_unique<Harness>(WriteConfig(dir, CountyTargetsTasks()));
        out = gis::Workspace::OpenFolder(dir.Path().string());
    }
    std::shared_ptr<pxcp::PXCPDemographicDataFunction> Worker(const std::string& where, std::vector<std::string> query,
                                                              std::vector<std::string> additional,
                                                              const std::string& dataset = "nc") {
        auto f = std::make_shared<pxcp::PXCPDemographicDataFunction>();
        f->Init();
        auto layer = std::make_shared<DatasetLayer>();
        layer->name = "Counties";
        layer->datasetName = dataset;
        Variant v;
        auto set = [&](const char* k, Variant value) { f->SetParam(k, value); };
        set("IApplication", h->session.application);
        set("IPXDataManager", h->session.dataManager);
        set("AnalysisWorkspace", out);
        set("AnalysisFeatureclassName", "Result");
        set("QueryString", where);
        set("AllFieldsCol", std::make_shared<StringList>(query));
        set("AdditionalFields", std::make_shared<StringList>(additional));
        set("MainDSLayer", layer);
        set("DefaultSR", gis::SpatialReference::FromEPSG(4269));
        return f;
    }
    ScratchDir dir;
    std::unique_ptr<Harness> h;
    gis::WorkspacePtr out;
};


// NAME -> the value of one field, for every row of the output.
std::map<std::string, Variant> ValuesByName(const gis::FeatureClassPtr& fc, const std::string& field) {
    std::map<std::string, Variant> m;
    auto c = fc->Search(nullptr, false);
    while (auto r = c->NextRow()) m[r->Value(fc->FindField("NAME")).ToString()] = r->Value(fc->FindField(field));
    return m;
}

TEST_F(DemographicTest, WorkerWritesEveryMatchWithItsFields) {
    auto f = Worker(" (SID74>=(0.30/100)*BIR74) ", {"SID74", "CRESS_ID"}, {"NAME"});
    EXPECT_TRUE(f->Start());
    EXPECT_EQ(f->LastError(), 0);
    auto fc = out->OpenFeatureClass("Result");
    EXPECT_EQ(fc->RowCount(nullptr), 18);
    auto fields = fc->GetFields();
    std::vector<std::string> names;
    for (long i = 0; i < fields->FieldCount(); ++i) names.push_back(fields->GetField(i)->name);
    // The folder workspace brings its own object id; the shape field is found as "shape".
    EXPECT_EQ(names, (std::vector<std::string>{"FID", "Shape", "NAME", "SID74", "CRESS_ID", "Result"}));
    EXPECT_EQ(fc->FindField("shape"), 1);
    // An integer field of the demographic layer becomes a double.
    EXPECT_EQ(fields->GetField(4)->type, gis::kFieldDouble);
    auto row = fc->Search(nullptr, false)->NextRow();
    EXPECT_EQ(row->Value(5).ToString(), "Match");
    EXPECT_TRUE(fc->HasSpatialIndex());
    // Query fields keep scale 12 with room for eleven digits before the
    // point; the additional field keeps the layer's own width (80).
    std::string dbf = dir / "Result.dbf";
    EXPECT_EQ(DbfField(dbf, "SID74"), std::make_tuple('N', 24, 12));
    EXPECT_EQ(DbfField(dbf, "CRESS_ID"), std::make_tuple('N', 24, 12));
    EXPECT_EQ(DbfField(dbf, "NAME"), std::make_tuple('C', 80, 0));
    EXPECT_EQ(DbfField(dbf, "Result"), std::make_tuple('C', 10, 0));
}

TEST_F(DemographicTest, TheLargestCountsOfTheLayerSurviveTheQueryFields) {
    // The six counties with 10000 births or more in 1974-78, Mecklenburg's
    // 21588 the most.
    auto f = Worker(" (BIR74>=10000.00) ", {"BIR74"}, {"NAME"});
    ASSERT_TRUE(f->Start());
    auto births = ValuesByName(out->OpenFeatureClass("Result"), "BIR74");
    std::map<std::string, double> got;
    for (auto& [name, v] : births) got[name] = v.ToDouble();
    EXPECT_EQ(got, (std::map<std::string, double>{{"Cumberland", 20366}, {"Forsyth", 11858}, {"Guilford", 16184},
                                                  {"Mecklenburg", 21588}, {"Onslow", 11158}, {"Wake", 14484}}));
}

TEST_F(DemographicTest, GeoPackageOutputHasItsOwnObjectIdField) {
    out = gis::Workspace::CreateGeoPackage(dir.Path().string(), "Result");
    auto f = Worker(" (BIR74>=10000.00) ", {"BIR74"}, {});
    EXPECT_TRUE(f->Start());
    auto fc = out->OpenFeatureClass("Result");
    EXPECT_EQ(fc->GetFields()->GetField(0)->name, "OID");
    EXPECT_EQ(fc->ShapeFieldName(), "shape");
    EXPECT_EQ(fc->RowCount(nullptr), 6);  // as in the folder output above
}

TEST_F(DemographicTest, WorkerOutcomeCodes) {
    auto none = std::make_shared<pxcp::PXCPDemographicDataFunction>();
    EXPECT_TRUE(none->Start());
    EXPECT_EQ(none->LastError(), 11);

    auto missingQueryField = Worker(" (BIR74>=1.00) ", {"NOPE"}, {});
    EXPECT_TRUE(missingQueryField->Start());
    EXPECT_EQ(missingQueryField->LastError(), 9);
    auto missingAdditional = Worker(" (BIR74>=1.00) ", {"BIR74"}, {"NOPE"});
    EXPECT_TRUE(missingAdditional->Start());
    EXPECT_EQ(missingAdditional->LastError(), 9);
    EXPECT_FALSE(out->DatasetExists("Result"));

    auto noMatch = Worker(" (BIR74<=0.00) ", {"BIR74"}, {});
    EXPECT_FALSE(noMatch->Start());
    EXPECT_EQ(noMatch->LastError(), 35);
    EXPECT_FALSE(out->DatasetExists("Result"));

    auto noLayer = Worker(" (BIR74>=1.00) ", {}, {}, "missing");
    EXPECT_FALSE(noLayer->Start());
    EXPECT_EQ(noLayer->LastError(), 47);
    // A level whose main layer is not a layer of the dataset.
    auto noDatasetLayer = Worker(" (BIR74>=1.00) ", {}, {});
    Variant nothing(nullptr);
    noDatasetLayer->SetParam("MainDSLayer", nothing);
    EXPECT_FALSE(noDatasetLayer->Start());
    EXPECT_EQ(noDatasetLayer->LastError(), 47);

    ASSERT_TRUE(Worker(" (BIR74>=1.00) ", {}, {})->Start());
    auto again = Worker(" (BIR74>=1.00) ", {}, {});
    EXPECT_TRUE(again->Start());
    EXPECT_EQ(again->LastError(), 5);
}

TEST_F(DemographicTest, WorkerKeepsToTheStudyArea) {
    auto area = gis::Geometry::MakeEnvelopePolygon({-80.0, 35.0, -78.0, 36.0, false}, gis::SpatialReference::FromEPSG(4267));
    h->session.extension->SetBoundingGeometry(area);
    auto f = Worker(" (BIR74>=1.00) ", {"BIR74"}, {"NAME"});
    EXPECT_TRUE(f->Start());
    // The counties the rectangle touches; Halifax lies within its bounds
    // but not in it.
    std::vector<std::string> names;
    for (auto& [name, v] : ValuesByName(out->OpenFeatureClass("Result"), "BIR74")) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"Alamance", "Anson", "Chatham", "Cumberland", "Duplin", "Durham",
                                               "Franklin", "Guilford", "Harnett", "Hoke", "Johnston", "Lee",
                                               "Montgomery", "Moore", "Nash", "Orange", "Randolph", "Richmond",
                                               "Sampson", "Scotland", "Wake", "Wayne", "Wilson"}));
}

// Counties in metres are written in the degrees of the system the
// projection is based on, where the counties lie; a county without a
// shape stays without one instead of taking its neighbour's.
TEST_F(DemographicTest, ProjectedCountiesComeOutInDegreesEachWithItsOwnShape) {
    fs::create_directories(dir / "plane");
    Translate(SampleDir() + "/nc.shp", dir / "plane/nc.shp", {"-t_srs", "EPSG:32119"});
    {
        auto ds = gis::WrapDataset(static_cast<GDALDataset*>(
            GDALOpenEx((dir / "plane/nc.shp").c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, nullptr, nullptr, nullptr)));
        ASSERT_TRUE(ds);
        OGRLayer* layer = ds->GetLayer(0);
        std::unique_ptr<OGRFeature> county(layer->GetFeature(5));
        ASSERT_TRUE(county);
        EXPECT_STREQ(county->GetFieldAsString("NAME"), "Hertford");
        county->SetGeometryDirectly(nullptr);
        ASSERT_EQ(layer->SetFeature(county.get()), OGRERR_NONE);
    }
    h = std::make_unique<Harness>(WriteConfig(dir, CountyTargetsTasks(), "NC", dir / "plane"));
    auto f = Worker(" (BIR74>=1.00) ", {"BIR74"}, {"NAME"});
    ASSERT_TRUE(f->Start());
    ASSERT_EQ(f->LastError(), 0);
    auto fc = out->OpenFeatureClass("Result");
    ASSERT_TRUE(fc->GetSpatialReference()->IsGeographic());
    EXPECT_EQ(fc->GetSpatialReference()->EpsgCode(), 4269);
    auto c = fc->Search(nullptr, false);
    long shaped = 0;
    while (auto r = c->NextRow()) {
        bool hertford = r->Value(fc->FindField("NAME")).ToString() == "Hertford";
        EXPECT_EQ(r->ShapeRef() == nullptr, hertford) << r->Value(fc->FindField("NAME")).ToString();
        shaped += r->ShapeRef() != nullptr;
    }
    EXPECT_EQ(shaped, 99);
    gis::Envelope want = gis::Workspace::OpenFolder(SampleDir())->OpenFeatureClass("nc")->Extent(), got = fc->Extent();
    EXPECT_NEAR(got.xmin, want.xmin, 0.01);
    EXPECT_NEAR(got.ymin, want.ymin, 0.01);
    EXPECT_NEAR(got.xmax, want.xmax, 0.01);
    EXPECT_NEAR(got.ymax, want.ymax, 0.01);
}

TEST_F(DemographicTest, AnUnexpectedErrorIsReportedAndLeavesTheCodeAlone) {
    // A study area that cannot be projected into the layer's coordinates.
    auto far = gis::Geometry::MakeEnvelopePolygon({1e20, 1e20, 2e20, 2e20, false}, gis::SpatialReference::FromEPSG(32617));
    h->session.extension->SetBoundingGeometry(far);
    ErrorHandler::Log().clear();
    auto f = Worker(" (BIR74>=1.00) ", {"BIR74"}, {});
    EXPECT_FALSE(f->Start());
    EXPECT_EQ(f->LastError(), 0);  // not 47: that is for the layer and the search
    ASSERT_EQ(ErrorHandler::Log().size(), 1u);
    EXPECT_EQ(ErrorHandler::Log()[0].location, "IPXFunction_Start PXCP\\PXCPDemographicDataFunction.cls");
    EXPECT_FALSE(out->DatasetExists("Result"));
}

// The whole wizard through the scripted driver.
class WizardTest : public DemographicTest {
protected:
    long Run() {
        auto task = CreateObjectAs<IPXTask>("PXCP.PXCPMain");
        main = std::dynamic_pointer_cast<pxcp::PXCPMain>(task);
        task->Init(h->session.dataManager, h->session.application);
        Variant ps(h->session.pageSettings), none(nullptr);
        task->SetParam("PropertySet", ps);
        task->SetParam("SourceAnalysis", none);
        long r = task->DoParamSelector();
        if (r == 1) {
            task->InitFunction();
            task->StartFunction();
        }
        return r;
    }
    std::shared_ptr<pxcp::PXCPMain> main;
    forms::ScriptedDriver& D() { return *h->driver; }
};

// The demographic worker, with the parameters it was handed.
struct RecordingWorker : pxcp::PXCPDemographicDataFunction {
    static inline std::map<std::string, Variant> params;
    bool SetParam(const std::string& name, Variant& value) override {
        params[name] = value;
        return PXCPDemographicDataFunction::SetParam(name, value);
    }
};

TEST_F(WizardTest, FindsTheCountiesAddsTheGreenLayerAndWritesTheReport) {
    RecordingWorker::params.clear();
    ObjectFactory::Instance().Register("PXCP.PXCPDemographicDataFunction",
                                       [] { return std::make_shared<RecordingWorker>(); });
    // Back on the name page and on the report page both show the data page again.
    D().LoadScript(R"(SelectGeographyLevelDialog: click NextButton
SelectDemographicDataDialog: click PercentagesOption
SelectDemographicDataDialog: toggle CategoryList "Infant health" on
SelectDemographicDataDialog: type FloorText(0) 0.3
SelectDemographicDataDialog: click NextButton
SelectAnalysisNameDialog: click BackButton
SelectDemographicDataDialog: click NextButton
SelectAnalysisNameDialog: type AnalysisNameText "High SIDS"
SelectAnalysisNameDialog: click NextButton
SelectReportDialog: click BackButton
SelectDemographicDataDialog: click NextButton
SelectAnalysisNameDialog: click NextButton
SelectReportDialog: click NextButton
)");
    long result = Run();
    pxcp::RegisterPXCPClasses();
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(D().Problems().empty()) << D().Problems().front();
    EXPECT_EQ(D().PagesShown(),
              (std::vector<std::string>{"SelectGeographyLevelDialog", "SelectDemographicDataDialog",
                                        "SelectAnalysisNameDialog", "SelectDemographicDataDialog",
                                        "SelectAnalysisNameDialog", "SelectReportDialog", "SelectDemographicDataDialog",
                                        "SelectAnalysisNameDialog", "SelectReportDialog"}));
    // The additional fields come first, then the fields of the query.
    EXPECT_EQ(RecordingWorker::params["AllFields"].ToString(), "NAME,SID74");
    EXPECT_EQ(RecordingWorker::params["QueryString"].ToString(), " (SID74>=(0.30/100)*BIR74) ");
    auto sub = std::dynamic_pointer_cast<pxcp::PXCPDemographicData>(main->SubTask());
    ASSERT_TRUE(sub && sub->resultLayer);
    EXPECT_EQ(sub->resultLayer->featureClass->RowCount(nullptr), 18);
    EXPECT_EQ(sub->resultLayer->name, "High SIDS");
    auto r = std::dynamic_pointer_cast<gis::SimpleRenderer>(sub->resultLayer->renderer);
    EXPECT_EQ(r->fill.Packed(), 65280);
    auto a = h->session.dataManager->GetAnalysis("High SIDS");
    ASSERT_TRUE(a);
    EXPECT_TRUE(fs::exists(a->Folder() + "AnalysisParams.dmq"));
    EXPECT_TRUE(fs::exists(a->Folder() + "Report.csv"));
    EXPECT_EQ(a->GetProperty("AreaID").ToString(), "ID");
    EXPECT_FALSE(h->session.pageSettings->HasProperty("DMQFileFullPath"));
    EXPECT_FALSE(h->session.application->FocusMap()->extent.empty);
}

TEST_F(WizardTest, PageRefusesEmptySelectionsBadNumbersAndCapsPercentages) {
    D().LoadScript(R"(SelectGeographyLevelDialog: click NextButton
SelectDemographicDataDialog: click NextButton
SelectDemographicDataDialog: type FloorText(0) abc
SelectDemographicDataDialog: focus CeilingText(0)
SelectDemographicDataDialog: click CancelButton
)");
    EXPECT_EQ(Run(), -1);
    ASSERT_GE(forms::MessageLog().size(), 2u);
    EXPECT_EQ(forms::MessageLog()[0].text, pxcp::FindString(197));
    EXPECT_EQ(forms::MessageLog()[1].text, pxcp::FindString(193) + "\r\n" + pxcp::FindString(194));
    D().On("SelectGeographyLevelDialog", [](forms::Form& f) { f.UserClick("NextButton"); });
    D().On("SelectDemographicDataDialog", [](forms::Form& f) {
        f.UserClick("PercentagesOption");
        f.UserSelectItem("CategoryList", 1, true);
        f.UserType("FloorText", 0, "150");
        EXPECT_EQ(f.Ctl("FloorText", 0).Text(), "100");
        EXPECT_EQ(f.Ctl("TargetLabel", 0).caption, "% Sudden infant deaths");
        EXPECT_FALSE(f.Ctl("FloorText", 1).visible);
        f.UserSelectItem("CategoryList", 0, true);
        f.UserType("FloorText", 0, "150");
        EXPECT_EQ(f.Ctl("FloorText", 0).Text(), "150");  // a count, not a percentage
        f.UserClick("CancelButton");
    });
    EXPECT_EQ(Run(), -1);
}

TEST_F(WizardTest, ANameInUseIsRefused) {
    h->session.dataManager->CreateAnalysis("Taken");
    D().LoadScript(R"(SelectGeographyLevelDialog: click NextButton
SelectDemographicDataDialog: toggle CategoryList "Births" on
SelectDemographicDataDialog: type FloorText(0) 5000
SelectDemographicDataDialog: click NextButton
SelectAnalysisNameDialog: type AnalysisNameText Taken
SelectAnalysisNameDialog: click NextButton
SelectAnalysisNameDialog: click CancelButton
)");
    EXPECT_EQ(Run(), -1);
    ASSERT_FALSE(forms::MessageLog().empty());
    EXPECT_EQ(forms::MessageLog().back().text, pxcp::FindString(260) + "Taken");
}

TEST_F(WizardTest, CancelledRunLeavesNoAnalysisBehind) {
    D().LoadScript(R"(SelectGeographyLevelDialog: click NextButton
SelectDemographicDataDialog: toggle CategoryList "Births" on
SelectDemographicDataDialog: type FloorText(0) 5000
SelectDemographicDataDialog: click NextButton
SelectAnalysisNameDialog: type AnalysisNameText Stopped
SelectAnalysisNameDialog: click NextButton
SelectReportDialog: click NextButton
)");
    FunctionRunner::SetSink(MakeSilentProgress(0));
    EXPECT_EQ(Run(), 1);
    FunctionRunner::SetSink(nullptr);
    EXPECT_FALSE(h->session.dataManager->AnalysisExists("Stopped"));
    ASSERT_FALSE(forms::MessageLog().empty());
    EXPECT_EQ(forms::MessageLog().back().text, pxcp::FindString(257));
}

TEST_F(WizardTest, ReopenedAnalysisKeptUnderItsNameIsReplaced) {
    const char* script = R"(SelectGeographyLevelDialog: click NextButton
SelectDemographicDataDialog: toggle CategoryList "Births" on
SelectDemographicDataDialog: type FloorText(0) 5000
SelectDemographicDataDialog: click NextButton
SelectAnalysisNameDialog: type AnalysisNameText Again
SelectAnalysisNameDialog: click NextButton
SelectReportDialog: click NextButton
)";
    D().LoadScript(script);
    ASSERT_EQ(Run(), 1);
    auto first = h->session.dataManager->GetAnalysis("Again");
    ASSERT_TRUE(first);
    long before = gis::Workspace::OpenFolder(first->Folder())->OpenFeatureClass("Result")->RowCount(nullptr);
    // Re-open it with a stricter floor and keep the name.
    D().LoadScript(ReplaceAll(script, "5000", "10000"));
    auto task = CreateObjectAs<IPXTask>("PXCP.PXCPMain");
    task->Init(h->session.dataManager, h->session.application);
    Variant ps(h->session.pageSettings), src(first);
    task->SetParam("PropertySet", ps);
    task->SetParam("SourceAnalysis", src);
    ASSERT_EQ(task->DoParamSelector(), 1);
    EXPECT_TRUE(task->InitFunction());
    EXPECT_TRUE(task->StartFunction());
    EXPECT_EQ(task->LastError(), 0);
    auto second = h->session.dataManager->GetAnalysis("Again");
    ASSERT_TRUE(second);
    long after = gis::Workspace::OpenFolder(second->Folder())->OpenFeatureClass("Result")->RowCount(nullptr);
    EXPECT_LT(after, before);
    EXPECT_EQ(h->session.dataManager->AnalysisNames().size(), 1u);
}

TEST(SmallPages, QueryPageSnapsToItsSmallestSize) {
    RegisterHostClasses();
    pxcp::ShowQueryDialog q;
    q.Load();
    q.Resize(3000, 2000);
    EXPECT_EQ(q.width, 5415);
    EXPECT_EQ(q.height, 3720);
    EXPECT_EQ(q.Ctl("QueryText").width, 5415 - 480);
    EXPECT_EQ(q.Ctl("OkButton").top, 3720 - 915);
    q.Resize(8000, 6000);
    EXPECT_EQ(q.Ctl("OkButton").left, 8000 - 1425);
}

TEST(SmallPages, AnalysisNamePageKeepsItsTextsInThePageSettingsAndAsksTheChecker) {
    RegisterHostClasses();
    auto d = std::make_shared<forms::ScriptedDriver>();
    forms::SetDriver(d);
    forms::MessageLog().clear();
    auto ps = std::make_shared<PropertySet>();
    ps->SetProperty("Name", "Shops");
    ps->SetProperty("Comments", "Near the coast");
    pxcp::SelectAnalysisNameDialog page;
    page.ReadFromPropertySet(ps);
    page.InitializeDialog();
    EXPECT_EQ(page.Ctl("AnalysisNameText").Text(), "Shops");
    EXPECT_EQ(page.Ctl("AnalysisCommentText").Text(), "Near the coast");
    EXPECT_TRUE(page.Ctl("NextButton").enabled);
    d->On("SelectAnalysisNameDialog", [](forms::Form& f) {
        f.UserType("AnalysisNameText", -1, "");
        EXPECT_FALSE(f.Ctl("NextButton").enabled);
        f.UserType("AnalysisNameText", -1, " ");  // blanks count as a name
        EXPECT_TRUE(f.Ctl("NextButton").enabled);
        // The host's checker refuses a name with a path separator.
        f.UserType("AnalysisNameText", -1, "Shops/2");
        f.UserClick("NextButton");
        EXPECT_TRUE(f.IsVisible());
        f.UserType("AnalysisNameText", -1, "Shops 2");
        f.UserType("AnalysisCommentText", -1, "Inland");
        f.UserClick("NextButton");
    });
    page.ResetParams();
    page.ShowModal();
    EXPECT_EQ(page.Result, 1);
    ASSERT_EQ(forms::MessageLog().size(), 1u);
    EXPECT_EQ(forms::MessageLog()[0].text, pxcp::FindString(169));
    EXPECT_EQ(forms::MessageLog()[0].title, pxcp::FindString(158));
    EXPECT_EQ(forms::MessageLog()[0].style, forms::vbExclamation);
    page.WriteToPropertySet(ps);
    EXPECT_EQ(ps->GetProperty("Name").ToString(), "Shops 2");
    EXPECT_EQ(ps->GetProperty("Comments").ToString(), "Inland");
    EXPECT_TRUE(d->Problems().empty());
}

TEST(SmallPages, FileOptionTitlesAndCancelledDialog) {
    RegisterHostClasses();
    auto d = std::make_shared<forms::ScriptedDriver>();
    forms::SetDriver(d);
    pxcp::FileOptionDialog p;
    p.FileTypeName = "Demographic Query File";
    p.FileExtension = "dmq";
    p.InitializeDialog();
    p.ResetParams();
    d->Select("FileOptionDialog", "FileOptionList", 1);
    d->Click("FileOptionDialog", "OKButton");
    d->ChooseFile(std::nullopt);
    d->Click("FileOptionDialog", "CancelButton");
    p.ShowModal();
    EXPECT_EQ(p.Action, -1);
    EXPECT_EQ(p.FileName, "");
    ASSERT_EQ(d->fileRequests.size(), 1u);
    EXPECT_EQ(d->fileRequests[0].title, "Save Demographic Query File(*.dmq)");
    EXPECT_EQ(d->fileRequests[0].filter, "*.dmq|*.dmq");
    d->Click("FileOptionDialog", "OKButton");
    d->ChooseFile("/tmp/x.dmq");
    p.Ctl("FileOptionList").SetListIndex(0);
    p.ShowModal();
    EXPECT_EQ(p.Action, 0);
    EXPECT_EQ(d->fileRequests[1].title, "Open Demographic Query File");
}

}  // namespace
