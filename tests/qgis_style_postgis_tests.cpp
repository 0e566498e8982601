// The QGIS style of an output in a PostGIS database: its row in the
// database's table "layer_styles", found by the query QGIS loads a layer's
// default style with, and replaced by a re-run.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "PXCP/PXCPDemographicData.h"
#include "PXCP/PXCPHouseholdData.h"
#include "PostgisServer.h"
#include "host/gis/Cursor.h"
#include "host/gis/QgisStyle.h"
#include "host/gis/Workspace.h"

using namespace host;
using namespace pxtest;

namespace {

class QgisStyleInDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        server = PostgisServer::Use();
        schema = PostgisServer::FreshSchema("qs");
    }
    void TearDown() override {
        server.Query("DROP SCHEMA IF EXISTS " + schema + " CASCADE");
        server.Query("DELETE FROM public.layer_styles WHERE f_table_schema = '" + schema + "'");
    }

    // The output of an analysis named by the prefix: two squares, committed.
    gis::FeatureLayer WriteOutput(const std::string& prefix, const std::string& name) const {
        auto ws = gis::Workspace::OpenPostGIS(server.Connection(schema), prefix);
        gis::Fields fields;
        auto shape = gis::NewField("SHAPE", gis::kFieldGeometry, "geometry");
        shape->geometryDef.type = gis::kGeomPolygon;
        shape->geometryDef.spatialReference = gis::SpatialReference::FromEPSG(4267);
        fields.AddField(shape);
        fields.AddField(gis::NewField("PERCENT", gis::kFieldDouble, "PERCENT"));
        {
            auto fc = ws->CreateFeatureClass("Result", fields, "SHAPE");
            auto insert = fc->Insert(true);
            auto row = insert->CreateBuffer();
            for (int i = 0; i < 2; ++i) {
                row->SetShape(*gis::Geometry::MakeEnvelopePolygon({-80.0 + i, 35, -79.5 + i, 35.5, false},
                                                                  shape->geometryDef.spatialReference));
                row->SetValue(fc->FindField("PERCENT"), 10.0 * (i + 1));
                insert->Insert(*row);
            }
            insert->Flush();
        }
        ws->CommitDataset("Result");
        gis::FeatureLayer layer;
        layer.featureClass = ws->OpenFeatureClass("Result");
        layer.name = name;
        return layer;
    }

    // The style QGIS loads for the table by default (its own query).
    std::string DefaultStyle(const std::string& table, const std::string& geometry) const {
        return server.Query("SELECT styleQML FROM layer_styles WHERE f_table_catalog = 'plexa' AND f_table_schema = '" +
                            schema + "' AND f_table_name = '" + table + "' AND f_geometry_column = '" + geometry +
                            "' AND (type = 'Polygon' OR type IS NULL) ORDER BY CASE WHEN useAsDefault THEN 1 ELSE 2 "
                            "END, update_time DESC LIMIT 1");
    }
    long Rows(const std::string& where) const {
        return std::atol(server.Query("SELECT count(*) FROM public.layer_styles WHERE f_table_schema = '" + schema +
                                      "'" + where).c_str());
    }

    PostgisServer server;
    std::string schema;
};

std::string RendererType(const std::string& qml) {
    pugi::xml_document doc;
    if (!doc.load_string(qml.c_str())) return "(not XML: " + qml + ")";
    return doc.child("qgis").child("renderer-v2").attribute("type").value();
}

}  // namespace

TEST_F(QgisStyleInDatabase, EachOutputHasItsDefaultStyleReplacedByARerun) {
    auto waited = WriteOutput("young_", "Young families");
    waited.renderer = pxcp::PXCPHouseholdData::CreateRenderer(waited.featureClass, waited.featureClass->FindField("PERCENT"));
    gis::SaveQgisStyle(waited);
    auto matches = WriteOutput("high_", "High SIDS");
    matches.renderer = pxcp::PXCPDemographicData::CreateSimpleRenderer();
    gis::SaveQgisStyle(matches);
    // The shape column by the name the database gives it.
    std::string geometry =
        server.Query("SELECT f_geometry_column FROM geometry_columns WHERE f_table_schema = '" + schema +
                     "' AND f_table_name = 'young_result'");
    ASSERT_FALSE(geometry.empty());
    EXPECT_EQ(RendererType(DefaultStyle("young_result", geometry)), "graduatedSymbol");
    EXPECT_EQ(RendererType(DefaultStyle("high_result", geometry)), "singleSymbol");
    // A re-run under the same name that did not wait replaces the row.
    waited.renderer = pxcp::PXCPHouseholdData::CreateSimpleRenderer();
    gis::SaveQgisStyle(waited);
    EXPECT_EQ(RendererType(DefaultStyle("young_result", geometry)), "singleSymbol");
    EXPECT_EQ(Rows(" AND f_table_name = 'young_result'"), 1);
    EXPECT_EQ(Rows(" AND useAsDefault"), 2);
    EXPECT_EQ(server.Query("SELECT styleName FROM public.layer_styles WHERE f_table_schema = '" + schema +
                           "' AND f_table_name = 'young_result'"),
              "Young families");
}
