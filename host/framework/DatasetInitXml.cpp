// The XML of a configuration written by plexa dataset init.
#include <algorithm>
#include <sstream>

#include <pugixml.hpp>

#include "host/Object.h"
#include "host/framework/DatasetInitPlan.h"

namespace host {

// The level's name in the singular ("Counties" gives "County"), as level
// names are written; captions usually name the areas in the plural.
std::string LevelName(const std::string& caption) {
    std::string t = Trim(caption);
    std::string u = UCase(t);
    if (u.size() > 3 && u.compare(u.size() - 3, 3, "IES") == 0) return t.substr(0, t.size() - 3) + (t.back() == 'S' ? "Y" : "y");
    if (u.size() > 1 && u.back() == 'S' && u.compare(u.size() - 2, 2, "SS") != 0) return t.substr(0, t.size() - 1);
    return t;
}

namespace {

// The data page shows this many target rows at once.
constexpr size_t kTargetsPerCategory = 8;

// XML comments may not hold "--".
std::string CommentText(std::string s) {
    while (s.find("--") != std::string::npos) s = ReplaceAll(s, "--", "- -");
    return s;
}

void AddParam(pugi::xml_node task, const std::string& key, const std::string& value) {
    auto p = task.append_child("Param");
    p.append_attribute("key") = key.c_str();
    p.append_attribute("value") = value.c_str();
}

void AddByLayer(pugi::xml_node parent, const LevelPlan& level, const std::string& type) {
    auto task = parent.append_child("Task");
    task.append_attribute("name") = "CustomerProspecting.ByLayer";
    task.append_attribute("caption") = level.caption.c_str();
    // Profiles saved at one level are not offered at another.
    task.append_attribute("type") = type.c_str();
    task.append_attribute("level") = LevelName(level.caption).c_str();
    AddParam(task, "MainLayer", level.layerName);
    auto additional = task.append_child("AdditionalFields");
    additional.append_child("Field").text() = level.descField.c_str();
    if (level.idField != level.descField) additional.append_child("Field").text() = level.idField.c_str();
    auto years = task.append_child("Years");
    for (auto& y : level.years) years.append_child("Year").text() = y.c_str();

    std::vector<const TargetPlan*> counts, others;
    for (auto& t : level.targets) (t.canPercent ? counts : others).push_back(&t);
    auto addGroup = [&](const std::vector<const TargetPlan*>& targets, const std::string& title) {
        for (size_t first = 0; first < targets.size(); first += kTargetsPerCategory) {
            std::string id = first == 0 ? title : title + " " + std::to_string(first / kTargetsPerCategory + 1);
            auto cat = task.append_child("Category");
            cat.append_attribute("id") = id.c_str();
            cat.append_attribute("caption") = id.c_str();
            for (size_t i = first; i < std::min(targets.size(), first + kTargetsPerCategory); ++i) {
                const TargetPlan& t = *targets[i];
                auto target = cat.append_child("Target");
                target.append_attribute("name") = t.name.c_str();
                target.append_attribute("caption") = (t.caption.empty() ? t.name : t.caption).c_str();
                target.append_attribute("CanPercent") = t.canPercent ? "True" : "False";
                for (size_t k = 0; k < t.number.size(); ++k) {
                    if (t.number[k].empty()) continue;
                    auto f = target.append_child("Field");
                    f.append_attribute("year") = std::to_string(k + 1).c_str();
                    f.append_attribute("number") = t.number[k].c_str();
                    if (t.canPercent) f.append_attribute("percent") = t.percent[k].c_str();
                }
            }
        }
    };
    addGroup(counts, "Counts");
    addGroup(others, counts.empty() ? "Values" : "Other values");
    if (!level.periodCategories.empty()) {
        std::string list;
        for (auto& p : level.otherPeriods) list += (list.empty() ? "" : ", ") + p;
        task.append_child(pugi::node_comment)
            .set_value(CommentText(" The periods " + list + " are not years of this level: each is a category of its own"
                                   " (plexa dataset init --years chooses others). ").c_str());
    }
    for (auto& c : level.periodCategories) {
        std::vector<const TargetPlan*> targets;
        for (auto& t : c.targets) targets.push_back(&t);
        addGroup(targets, c.title);
    }
}

// The household way with the categories the household-data service counts.
void AddHousehold(pugi::xml_node parent, const LevelPlan& level) {
    auto task = parent.append_child("Task");
    task.append_attribute("name") = "CustomerProspecting.Household";
    task.append_attribute("caption") = level.caption.c_str();
    // What the service counts by; the keys said so, or the analyst.
    task.append_attribute("level") = level.householdKind.c_str();
    AddParam(task, "MainLayer", level.layerName);
    AddParam(task, "Quillon360URL", "http://127.0.0.1:8360/");
    AddParam(task, "RegisterURL", "http://127.0.0.1:8360/velmarweb/VELMAR_Reg.asp");
    task.append_child(pugi::node_comment).set_value(" The household categories the household-data service counts. ");
    struct Category {
        const char* id;
        const char* caption;
        std::vector<std::pair<const char*, const char*>> targets;
    };
    static const std::vector<Category> standard = {
        {"MEDN_AGE", "Age of householder", {{"-1", "25 to 34"}, {"-2", "35 to 44"}, {"-3", "45 to 54"}, {"-4", "55 to 64"}}},
        {"INCOME",
         "Household income",
         {{"A", "Under $25,000"}, {"B", "$25,000 to $49,999"}, {"C", "$50,000 to $99,999"}, {"D", "$100,000 or more"}}},
        {"CHILDREN", "Children at home", {{"Y", "One or more children"}, {"N", "No children"}}},
        {"TENURE", "Home ownership", {{"O", "Owner"}, {"R", "Renter"}}},
    };
    for (auto& c : standard) {
        auto cat = task.append_child("Category");
        cat.append_attribute("id") = c.id;
        cat.append_attribute("caption") = c.caption;
        for (auto& [name, caption] : c.targets) {
            auto t = cat.append_child("Target");
            t.append_attribute("name") = name;
            t.append_attribute("caption") = caption;
        }
    }
}

}  // namespace

std::string WriteConfiguration(const DatasetInitOptions& options, const std::vector<LevelPlan>& levels) {
    pugi::xml_document doc;
    auto decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "utf-8";
    std::string comment = " Written by plexa dataset init from the layers\n";
    for (auto& l : levels) comment += "       " + l.caption + ": " + l.source + "\n";
    comment += "     The captions of levels, categories and targets may be edited; the names are\n"
               "     what query files and analyses refer to. ";
    doc.append_child(pugi::node_comment).set_value(CommentText(comment).c_str());

    auto root = doc.append_child("PlexaConfiguration");
    root.append_attribute("currentDataset") = options.name.c_str();
    root.append_attribute("basemapLayer") = levels.front().layerName.c_str();
    auto settings = root.append_child("Settings");
    for (auto [name, value] : {std::pair{"Data Format", "Shapefile"}, {"Use Group Layer For Analysis", "True"},
                               {"Group Layer For Analysis", "Analysis"}, {"Create Report", "True"}}) {
        auto s = settings.append_child("Setting");
        s.append_attribute("name") = name;
        s.append_attribute("value") = value;
    }
    auto dataset = root.append_child("Dataset");
    dataset.append_attribute("name") = options.name.c_str();
    for (auto& l : levels) {
        auto layer = dataset.append_child("Layer");
        layer.append_attribute("name") = l.layerName.c_str();
        layer.append_attribute("caption") = l.caption.c_str();
        layer.append_attribute("source") = l.source.c_str();
        if (!l.srs.empty()) layer.append_attribute("srs") = l.srs.c_str();
        layer.append_attribute("idField") = l.idField.c_str();
        layer.append_attribute("descField") = l.descField.c_str();
    }
    auto cp = dataset.append_child("Task");
    cp.append_attribute("name") = "CustomerProspecting";
    cp.append_attribute("caption") = "Customer Prospecting";
    for (auto& l : levels) {
        AddByLayer(cp, l, Trim(options.name) + " " + l.caption);
        if (options.household) AddHousehold(cp, l);
    }

    auto projections = dataset.append_child("Task");
    projections.append_attribute("name") = "Projections";
    auto resultant = projections.append_child("Task");
    resultant.append_attribute("name") = "Projection.ResultantDefault";
    AddParam(resultant, "Type", "Geographic");
    int epsg = levels.front().geographicEpsg;
    AddParam(resultant, "ID", std::to_string(epsg > 0 ? epsg : 4326));

    std::ostringstream out;
    doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    return out.str();
}

}  // namespace host
