// The configuration check: every mistake is reported once, with its line,
// and the sample configuration passes.
#include <gtest/gtest.h>

#include <gdal.h>
#include <cpl_string.h>
#include <gdal_utils.h>

#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "host/framework/ConfigCheck.h"
#include "host/gis/Gis.h"

namespace fs = std::filesystem;
using host::CheckConfiguration;
using host::ConfigProblem;

namespace {

std::string Write(const pxtest::ScratchDir& dir, const std::string& xml, const std::string& name = "config.xml") {
    std::ofstream(dir / name) << xml;
    return dir / name;
}

// 1-based line of the first occurrence of marker.
int LineOf(const std::string& text, const std::string& marker) {
    auto at = text.find(marker);
    if (at == std::string::npos) return -1;
    return 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(at), '\n'));
}

std::string Dump(const std::vector<ConfigProblem>& problems) {
    std::string s;
    for (auto& p : problems) s += p.ToString() + "\n";
    return s;
}

std::string ReplaceFirst(std::string s, const std::string& from, const std::string& to) {
    auto at = s.find(from);
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
}

// Counties of the sample with a demographic and a household level.
std::string Standard(const std::string& data = pxtest::SampleDir()) {
    return R"(<?xml version="1.0"?>
<PlexaConfiguration currentDataset="NC" basemapLayer="Counties">
  <Settings><Setting name="Data Format" value="Shapefile"/></Settings>
  <!-- counties of the sample -->
  <Dataset name="NC" data=")" + data + R"(">
    <Layer name="Counties" dataset="nc" idField="FIPS" descField="NAME"/>
    <Task name="CustomerProspecting">
      <Task name="CustomerProspecting.ByLayer" caption="Counties">
        <Param key="MainLayer" value="Counties"/>
        <AdditionalFields><Field>NAME</Field></AdditionalFields>
        <Years><Year>1974-78</Year><Year>1979-84</Year></Years>
        <Category id="Births" caption="Births">
          <Target name="Live births" CanPercent="False">
            <Field year="1" number="BIR74"/>
            <Field year="2" number="BIR79"/>
          </Target>
          <Target name="Sudden infant deaths" CanPercent="True">
            <Field year="1" number="SID74" percent="BIR74"/>
            <Field year="2" number="SID79" percent="BIR79"/>
          </Target>
        </Category>
      </Task>
      <Task name="CustomerProspecting.Household" caption="Households" level="County">
        <Param key="MainLayer" value="Counties"/>
        <Category id="INCOME"><Target name="A" caption="Under $25,000"/></Category>
      </Task>
    </Task>
  </Dataset>
</PlexaConfiguration>
)";
}

// A configuration of one layer used by one demographic level without targets.
std::string OneLayer(const std::string& layerAttributes, const std::string& data = ".") {
    return R"(<PlexaConfiguration>
  <Dataset name="D" data=")" + data + R"(">
    <Layer name="Areas" )" + layerAttributes + R"(/>
    <Task name="CustomerProspecting">
      <Task name="CustomerProspecting.ByLayer" caption="Areas">
        <Param key="MainLayer" value="Areas"/>
      </Task>
    </Task>
  </Dataset>
</PlexaConfiguration>
)";
}

void CopyCounties(const pxtest::ScratchDir& dir, bool withPrj) {
    for (const char* ext : {".shp", ".shx", ".dbf", ".prj"})
        if (withPrj || std::string(ext) != ".prj")
            fs::copy_file(pxtest::SampleDir() + "/nc" + ext, dir / (std::string("nc") + ext));
}


class ConfigCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!pxtest::HaveSample()) GTEST_SKIP() << "no sample data";
    }
    pxtest::ScratchDir dir;

    // two.gpkg with the counties twice, as layers "counties" and "more".
    void MakeGeoPackage() {
        CopyCounties(dir, true);
        pxtest::Translate(dir / "nc.shp", dir / "two.gpkg", {"-f", "GPKG", "-nln", "counties"});
        pxtest::Translate(dir / "nc.shp", dir / "two.gpkg", {"-update", "-nln", "more"});
    }

    // Checks xml and expects exactly one problem, on the line of marker,
    // whose message holds expected.
    void ExpectOne(const std::string& xml, const std::string& marker, const std::string& expected) {
        auto problems = CheckConfiguration(Write(dir, xml));
        ASSERT_EQ(problems.size(), 1u) << Dump(problems);
        EXPECT_EQ(problems[0].line, LineOf(xml, marker)) << problems[0].ToString();
        EXPECT_NE(problems[0].message.find(expected), std::string::npos) << problems[0].message;
    }
};

TEST_F(ConfigCheckTest, SampleAndStandardConfigurationsAreClean) {
    auto sample = CheckConfiguration(pxtest::SourceDir() + "/data/nc.xml");
    EXPECT_TRUE(sample.empty()) << Dump(sample);
    auto standard = CheckConfiguration(Write(dir, Standard()));
    EXPECT_TRUE(standard.empty()) << Dump(standard);
}

struct Mistake {
    const char* what;
    std::string from, to;  // the change made to the standard configuration
    std::string marker;    // text on the line the problem belongs to
    std::string expected;  // part of the message
};

TEST_F(ConfigCheckTest, EachMistakeIsReportedOnceOnItsLine) {
    std::string nineTargets = "<Category id=\"Many\">";
    for (int i = 1; i <= 9; ++i)
        nineTargets += "<Target name=\"T" + std::to_string(i) + "\"><Field number=\"BIR74\"/></Target>";
    nineTargets += "</Category>";
    const std::vector<Mistake> mistakes = {
        {"unknown element", "<AdditionalFields><Field>NAME</Field></AdditionalFields>",
         "<AdditionalField><Field>NAME</Field></AdditionalField>", "<AdditionalField>",
         "Unknown element <AdditionalField> in <Task>; did you mean AdditionalFields?"},
        {"unknown attribute", "descField=", "descFeild=", "descFeild",
         "Unknown attribute descFeild on <Layer>; did you mean descField?"},
        {"flag neither True nor False", "CanPercent=\"False\"", "CanPercent=\"no\"", "CanPercent=\"no\"",
         "CanPercent must be \"True\" or \"False\", not \"no\""},
        {"task without a name", "<Task name=\"CustomerProspecting.Household\"", "<Task", "caption=\"Households\"",
         "The <Task> element has no name"},
        {"currentDataset naming no dataset", "currentDataset=\"NC\"", "currentDataset=\"NCC\"", "<PlexaConfiguration",
         "The currentDataset \"NCC\" names no dataset (datasets: NC); did you mean NC?"},
        {"basemap naming no layer", "basemapLayer=\"Counties\"", "basemapLayer=\"Roads\"", "<PlexaConfiguration",
         "The basemapLayer \"Roads\" is not a layer of the dataset \"NC\" (layers: Counties)"},
        {"duplicate layer", "descField=\"NAME\"/>", "descField=\"NAME\"/>\n    <Layer name=\"counties\" dataset=\"nc\"/>",
         "name=\"counties\"", "Another layer of the dataset is already named counties (line 6)"},
        {"missing data folder", "data=\"" + pxtest::SampleDir() + "\"", "data=\"nowhere\"", "data=\"nowhere\"",
         "nowhere of the dataset \"NC\" does not exist"},
        {"layer file missing", "dataset=\"nc\"", "source=\"missing.shp\"", "source=",
         "The layer Counties cannot be opened: The layer file " + (dir / "missing.shp") + " does not exist"},
        {"srs GDAL does not know, on the attribute's own line", "dataset=\"nc\"",
         "dataset=\"nc\"\n           srs=\"EPSG:999999\"", "srs=",
         "The srs \"EPSG:999999\" of the layer Counties is not a coordinate system GDAL knows"},
        // A definition is read as written: never a file or an address.
        {"srs naming a local file", "dataset=\"nc\"", "dataset=\"nc\" srs=\"/etc/passwd\"", "srs=",
         "The srs \"/etc/passwd\" of the layer Counties is not a coordinate system GDAL knows"},
        {"idField not on the layer", "idField=\"FIPS\"", "idField=\"FIPPS\"", "idField=",
         "The idField FIPPS is not a field of the layer Counties; did you mean FIPS?"},
        {"MainLayer naming no layer", "<Param key=\"MainLayer\" value=\"Counties\"/>",
         "<Param key=\"MainLayer\" value=\"Countys\"/>", "Countys",
         "The MainLayer \"Countys\" of the level \"Counties\" is not a layer of the dataset \"NC\" (layers: Counties); "
         "did you mean Counties?"},
        {"no MainLayer", "<Param key=\"MainLayer\" value=\"Counties\"/>", "<Param key=\"Main\" value=\"Counties\"/>",
         "caption=\"Counties\">", "The level \"Counties\" has no MainLayer"},
        {"household level over a layer without idField", " idField=\"FIPS\"", "", "<Layer name=\"Counties\"",
         "The layer Counties has no idField, on which the household level \"Households\" joins: add idField=\"FIELD\""},
        {"additional field missing", "<Field>NAME</Field>", "<Field>NAMES</Field>", "<Field>NAMES",
         "The field \"NAMES\" (additional field of the level \"Counties\") is not on the layer Counties; did you mean NAME?"},
        {"target field missing", "number=\"BIR79\"", "number=\"BIR99\"", "BIR99",
         "The field \"BIR99\" (number of the target \"Live births\") is not on the layer Counties; did you mean BIR79?"},
        {"target field that is text", "number=\"SID74\"", "number=\"NAME\"", "number=\"NAME\"",
         "The field \"NAME\" (number of the target \"Sudden infant deaths\") of the layer Counties is text; target fields "
         "must be numbers"},
        {"percent base missing", "percent=\"BIR79\"", "percent=\"BIRTHS\"", "BIRTHS",
         "The field \"BIRTHS\" (percent base of the target \"Sudden infant deaths\") is not on the layer Counties"},
        {"year beyond the Years", "year=\"2\" number=\"BIR79\"", "year=\"3\" number=\"BIR79\"", "year=\"3\"",
         "The year \"3\" of a <Field> of the target \"Live births\" must be from 1 to 2"},
        {"percent target without a base", "number=\"SID79\" percent=\"BIR79\"", "number=\"SID79\"", "number=\"SID79\"",
         "The target \"Sudden infant deaths\" has CanPercent=\"True\" but no percent field for year 2"},
        {"too many targets for the data page", "</Category>\n      </Task>", "</Category>" + nineTargets + "\n      </Task>",
         "<Category id=\"Many\"", "The category \"Many\" of the level \"Counties\" has 9 targets; the data page shows 8"},
        {"more years than the data page offers", "<Year>1979-84</Year></Years>",
         "<Year>1979-84</Year><Year>1990</Year><Year>2000</Year></Years>", "<Years>",
         "The level \"Counties\" has 4 years; the data page offers 3"},
        {"two categories of one id", "</Category>\n      </Task>",
         "</Category>\n<Category id=\"Births\"><Target name=\"B\"><Field number=\"BIR74\"/></Target></Category>\n      </Task>",
         "<Category id=\"Births\"><Target name=\"B\"",
         "Another category of the level \"Counties\" already has the id \"Births\" (line 12)"},
        {"two targets of one name", "<Target name=\"Sudden infant deaths\"", "<Target name=\"Live births\"",
         "CanPercent=\"True\"", "Another target of the category \"Births\" is already named \"Live births\" (line 13)"},
        {"two levels of one caption", "<Task name=\"CustomerProspecting.Household\"",
         "<Task name=\"CustomerProspecting.ByLayer\" caption=\"Counties\"><Param key=\"MainLayer\" value=\"Counties\"/></Task>\n"
         "      <Task name=\"CustomerProspecting.Household\"",
         "<Param key=\"MainLayer\" value=\"Counties\"/></Task>",
         "Another level of this way is already called \"Counties\" (line 8); only the first can be chosen"},
        {"household level of a kind the service does not count by", "level=\"County\"", "level=\"Census tract\"",
         "level=\"Census tract\"", "is of the kind \"Census tract\", which the household-data service does not count by"},
        {"srs over the layer's own", "dataset=\"nc\"", "dataset=\"nc\" srs=\"EPSG:26917\"", "srs=",
         "The layer Counties has its own coordinate system NAD27, not EPSG:26917: remove srs"},
        {"analyses written to a database of a dataset of files", "value=\"Shapefile\"", "value=\"PostGIS\"",
         "<Setting", "The Data Format PostGIS writes the analyses into the database of the current dataset, and \"NC\" is "
         "not in a database"},
        // A password kept in the configuration would be readable by anyone
        // who reads the file; libpq finds it in ~/.pgpass.
        {"password in a database connection", "data=\"" + pxtest::SampleDir() + "\"",
         "data=\"PG:dbname=gis password=s3cret\"", "data=", "may not hold a password: libpq reads it from ~/.pgpass"},
        {"data given twice", "data=\"" + pxtest::SampleDir() + "\"", "data=\"x\" database=\"gis\"", "data=",
         "give the data either as data=\"...\" or as database=\"...\""},
    };
    for (auto& m : mistakes) {
        SCOPED_TRACE(m.what);
        std::string xml = ReplaceFirst(Standard(), m.from, m.to);
        ASSERT_NE(xml, Standard());
        ExpectOne(xml, m.marker, m.expected);
    }
}

TEST_F(ConfigCheckTest, XmlThatDoesNotParseOrIsNoConfiguration) {
    ExpectOne("<PlexaConfiguration>\n  <Dataset name=\"D\">\n  </Datset>\n</PlexaConfiguration>\n", "</Datset>",
              "Not well-formed XML: Start-end tags mismatch");
    ExpectOne("<PlexaConfiguration currentDataset=\"D\">\n  <!-- nothing yet -->\n</PlexaConfiguration>\n",
              "<PlexaConfiguration", "No <Dataset> element");

    auto problems = CheckConfiguration(Write(dir, "<?xml version=\"1.0\"?>\n<PlexaConfigration/>\n"));
    ASSERT_EQ(problems.size(), 2u) << Dump(problems);
    EXPECT_EQ(problems[0].line, 0);
    EXPECT_EQ(problems[1].ToString(), dir / "config.xml" + ":2: Unknown element <PlexaConfigration>; a configuration's root is "
                                                           "<PlexaConfiguration>; did you mean PlexaConfiguration?");

    problems = CheckConfiguration(dir / "absent.xml");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].ToString(), dir / "absent.xml" + ": The configuration file does not exist");
}

TEST_F(ConfigCheckTest, LayerWithoutCoordinateSystemUntilSrsIsGiven) {
    CopyCounties(dir, false);
    ExpectOne(OneLayer("dataset=\"nc\""), "<Layer",
              "The layer Areas (" + (dir / "nc.shp") +
                  ") has no coordinate system: add srs=\"EPSG:N\" to its Layer element (or give --srs to plexa dataset init)");
    auto fixed = CheckConfiguration(Write(dir, OneLayer("dataset=\"nc\" srs=\"EPSG:4267\"")));
    EXPECT_TRUE(fixed.empty()) << Dump(fixed);
}

TEST_F(ConfigCheckTest, LayersThatCannotServeAsLevels) {
    std::ofstream(dir / "notes.geojson") << "these are notes, not features\n";
    ExpectOne(OneLayer("source=\"notes.geojson\""), "source=",
              "The layer Areas cannot be opened: The file " + (dir / "notes.geojson") + " is not a layer GDAL can read");

    std::string zips = pxtest::SampleDir() + "/zipcodes.shp";
    ExpectOne(OneLayer("source=\"" + zips + "\""), "value=\"Areas\"",
              "The layer Areas (" + zips + ") of the level \"Areas\" holds points; a geography level needs polygons");

    MakeGeoPackage();
    ExpectOne(OneLayer("source=\"two.gpkg\""), "source=",
              "holds 2 layers; name one as " + (dir / "two.gpkg") + "|LAYER (counties, more)");
}

TEST_F(ConfigCheckTest, GeoPackageLayerAndGeoJsonSourcesAreAccepted) {
    MakeGeoPackage();
    // Mixes Polygon and MultiPolygon, so the layer states no shape type.
    pxtest::Translate(dir / "nc.shp", dir / "nc.geojson", {"-f", "GeoJSON"});
    for (const char* source : {"two.gpkg|more", "nc.geojson"}) {
        SCOPED_TRACE(source);
        std::string xml = ReplaceFirst(Standard("."), "dataset=\"nc\"", "source=\"" + std::string(source) + "\"");
        auto problems = CheckConfiguration(Write(dir, xml));
        EXPECT_TRUE(problems.empty()) << Dump(problems);
    }
}

TEST_F(ConfigCheckTest, DeepNestingIsReportedWithoutCrashing) {
    const int depth = 20000;
    std::string xml = "<PlexaConfiguration>\n<Dataset name=\"D\">\n";
    for (int i = 0; i < depth; ++i) xml += "<Task name=\"T" + std::to_string(i) + "\">\n";
    for (int i = 0; i < depth; ++i) xml += "</Task>";
    xml += "\n</Dataset>\n</PlexaConfiguration>\n";
    ExpectOne(xml, "name=\"T16\"", "Tasks nest deeper than 16 levels");

    std::string nested;
    for (int i = 0; i < depth; ++i) nested += "<X>";
    for (int i = 0; i < depth; ++i) nested += "</X>";
    auto problems = CheckConfiguration(Write(dir, "<PlexaConfiguration>\n" + nested + "\n</PlexaConfiguration>\n"));
    ASSERT_EQ(problems.size(), 2u) << Dump(problems);  // the unknown <X>, and no dataset
}

}  // namespace
