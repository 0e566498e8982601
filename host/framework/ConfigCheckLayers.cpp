#include "host/framework/ConfigChecker.h"
#include "host/framework/Extension.h"
#include "host/gis/LayerSource.h"
#include "host/gis/SpatialReference.h"
#include "host/gis/Workspace.h"

namespace host::config_check {

void Checker::CheckLayers(DatasetEntry& ds) {
    auto d = ds.node;
    auto attributes = DataAttributes::Of(d);
    std::string dataPath, dataProblem;
    try {
        dataPath = ResolveDataPath(attributes, base_.string());
    } catch (const std::exception& e) {
        dataProblem = OneLine(e.what());
    }
    bool database = attributes.NamesDatabase();

    bool needWorkspace = false;
    for (auto l : d.children("Layer")) {
        std::string name = l.attribute("name").value();
        if (!l.attribute("source")) needWorkspace = true;
        if (Trim(name).empty()) continue;  // reported with the structure
        if (auto first = ds.Find(name)) {
            Add(Line(l), "Another layer of the dataset is already named " + name + " (line " +
                             std::to_string(Line(first->node)) + "); give each its own name");
            continue;
        }
        LayerEntry e;
        e.node = l;
        e.def.name = name;
        e.def.datasetName = l.attribute("dataset").as_string(name.c_str());
        e.def.idField = l.attribute("idField").value();
        e.def.descField = l.attribute("descField").value();
        if (auto src = l.attribute("source")) e.def.source = ResolveLayerSource(src.value(), base_.string());
        ds.layers.push_back(std::move(e));
    }

    gis::WorkspacePtr ws;
    if (needWorkspace) {
        int line = d.attribute("data") ? Line(d, "data") : Line(d);
        std::error_code ec;
        if (!dataProblem.empty()) {
            Add(line, "The data of the dataset " + Quote(ds.name) + " cannot be used: " + dataProblem);
        } else if (!database && !fs::exists(dataPath, ec)) {
            Add(line, "The data folder " + dataPath + " of the dataset " + Quote(ds.name) +
                          " does not exist; its layers without a source are read from it");
        } else {
            try {
                ws = gis::Workspace::OpenData(dataPath);
            } catch (const std::exception& e) {
                Add(line, "The data of the dataset " + Quote(ds.name) + " cannot be opened: " + OneLine(e.what()));
            }
        }
    }

    for (auto& layer : ds.layers) {
        if (layer.def.source.empty() && !ws) continue;  // the data folder is reported
        std::string key = layer.def.source.empty() ? dataPath + "|" + layer.def.datasetName : layer.def.source;
        auto it = opened_.find(key);
        if (it == opened_.end()) {
            Opened o;
            try {
                o.fc = DataWorkspace::OpenLayer(layer.def, ws);
            } catch (const std::exception& e) {
                o.error = OneLine(e.what());
            }
            it = opened_.emplace(key, std::move(o)).first;
        }
        if (!it->second.fc) {
            auto l = layer.node;
            int line = l.attribute("source") ? Line(l, "source") : l.attribute("dataset") ? Line(l, "dataset") : Line(l);
            Add(line, "The layer " + layer.def.name + " cannot be opened: " + it->second.error);
            continue;
        }
        layer.fc = it->second.fc;
        CheckLayerData(layer);
    }
}

void Checker::CheckLayerData(const LayerEntry& layer) {
    auto l = layer.node;
    const auto& fc = *layer.fc;
    if (auto srs = l.attribute("srs")) {
        gis::SpatialReferencePtr given;
        try {
            given = gis::SpatialReference::FromUserInput(srs.value());
        } catch (const std::exception&) {
            Add(Line(srs, l), "The srs " + Quote(srs.value()) + " of the layer " + layer.def.name +
                                  " is not a coordinate system GDAL knows; give one as \"EPSG:N\"");
        }
        // srs is for layers without one; stating another over the file's
        // own would move every area without a word.
        auto own = fc.GetSpatialReference();
        if (given && own && !own->IsEmpty() && !own->IsSame(*given))
            Add(Line(srs, l), "The layer " + layer.def.name + " has its own coordinate system " + own->Name() +
                                  ", not " + srs.value() + ": remove srs, or correct the layer's own if that is wrong");
    } else {
        auto sr = fc.GetSpatialReference();
        if (!sr || sr->IsEmpty())
            Add(Line(l), "The layer " + layer.def.name + " (" + fc.DataPath() +
                             ") has no coordinate system: add srs=\"EPSG:N\" to its Layer element"
                             " (or give --srs to plexa dataset init)");
    }
    for (const char* attribute : {"idField", "descField"}) {
        auto a = l.attribute(attribute);
        if (a && fc.FindField(a.value()) < 0)
            Add(Line(a, l), "The " + std::string(attribute) + " " + a.value() + " is not a field of the layer " +
                                layer.def.name + FieldSuggestion(fc, a.value()));
    }
}

std::string Checker::FieldSuggestion(const gis::Table& fc, const std::string& name) {
    std::vector<std::string> names;
    auto fields = fc.GetFields();
    for (long i = 0; i < fields->FieldCount(); ++i) names.push_back(fields->GetField(i)->name);
    return Suggestion(name, names);
}

}  // namespace host::config_check
