#include <charconv>

#include "host/framework/ConfigChecker.h"

namespace host::config_check {

void Checker::CheckLevels(DatasetEntry& ds) {
    for (auto t : ds.node.children("Task")) {
        if (std::string(t.attribute("name").value()) != "CustomerProspecting") continue;
        std::map<std::string, int> captions;  // by way and caption
        for (auto level : t.children("Task")) {
            std::string name = level.attribute("name").value();
            std::string caption = level.attribute("caption").as_string(name.c_str());
            if (name == kByLayer || name == kHousehold)
                if (auto [it, fresh] = captions.emplace(name + "|" + caption, Line(level)); !fresh)
                    Add(Line(level), "Another level of this way is already called " + Quote(caption) + " (line " +
                                         std::to_string(it->second) + "); only the first can be chosen");
            if (name == kByLayer || name == kHousehold) CheckLevel(ds, level, name == kHousehold);
        }
    }
}

void Checker::CheckLevel(DatasetEntry& ds, const pugi::xml_node& task, bool household) {
    std::string caption = task.attribute("caption").as_string(task.attribute("name").value());
    std::string label = "the level " + Quote(caption);
    pugi::xml_node param;
    for (auto p : task.children("Param"))
        if (std::string(p.attribute("key").value()) == "MainLayer") {
            param = p;
            break;
        }
    LayerEntry* layer = nullptr;
    if (!param) {
        Add(Line(task), "The level " + Quote(caption) + " has no MainLayer: add <Param key=\"MainLayer\" value=\"LAYER\"/>"
                                                       " naming one of the dataset's layers (" + List(ds.Names()) + ")");
    } else {
        std::string main = param.attribute("value").value();
        layer = ds.Find(main);
        if (!layer)
            Add(Line(param, "value"), "The MainLayer " + Quote(main) + " of " + label + " is not a layer of the dataset " +
                                          Quote(ds.name) + " (layers: " + List(ds.Names()) + ")" +
                                          Suggestion(main, ds.Names()));
    }
    if (layer && layer->fc) {
        std::string kind = NotPolygons(*layer->fc);
        if (!kind.empty())
            Add(Line(param, "value"), "The layer " + layer->def.name + " (" + layer->fc->DataPath() + ") of " + label +
                                          " holds " + kind + "; a geography level needs polygons");
    }
    if (household) {
        // The service counts households by its own kinds of area.
        static const std::set<std::string> known = {"BLOCK GROUP", "TRACT", "ZIP CODE", "COUNTY", "STATE"};
        std::string level = task.attribute("level").as_string(caption.c_str());
        if (!known.count(UCase(Trim(level))))
            Add(Line(task), "The household level " + Quote(caption) + " is of the kind " + Quote(level) +
                                ", which the household-data service does not count by: give it level=\"Block group\", "
                                "\"Tract\", \"ZIP code\", \"County\" or \"State\"");
        if (layer && layer->def.idField.empty() && noKeyReported_.insert(layer).second)
            Add(Line(layer->node), "The layer " + layer->def.name + " has no idField, on which the household level " + Quote(caption) +
                                       " joins: add idField=\"FIELD\" to its Layer element");
        return;  // household targets are codes of the service, not fields
    }
    CheckByLayer(task, label, layer && layer->fc ? layer : nullptr);
}

void Checker::CheckField(const LayerEntry* layer, int line, const std::string& name, const std::string& role, bool numeric) {
    if (!layer) return;
    long i = layer->fc->FindField(name);
    if (i < 0) {
        Add(line, "The field " + Quote(name) + " (" + role + ") is not on the layer " + layer->def.name +
                      FieldSuggestion(*layer->fc, name));
        return;
    }
    auto type = layer->fc->GetFields()->GetField(i)->type;
    if (numeric && !IsNumeric(type))
        Add(line, "The field " + Quote(name) + " (" + role + ") of the layer " + layer->def.name + " is " +
                      Describe(type) + "; target fields must be numbers");
}

void Checker::CheckByLayer(const pugi::xml_node& task, const std::string& label, const LayerEntry* layer) {
    for (auto f : task.child("AdditionalFields").children("Field")) {
        std::string name = Trim(f.text().as_string());
        if (name.empty()) Add(Line(f), "An AdditionalFields <Field> of " + label + " is empty; put a field name in it");
        else CheckField(layer, Line(f), name, "additional field of " + label, false);
    }
    auto yearList = task.child("Years").children("Year");
    size_t years = static_cast<size_t>(std::distance(yearList.begin(), yearList.end()));
    size_t lastYear = std::max<size_t>(years, 1);
    if (years > kDataPageYears)
        Add(Line(task.child("Years")), "The " + label.substr(4) + " has " + std::to_string(years) +
                                           " years; the data page offers " + std::to_string(kDataPageYears) +
                                           ": keep the last ones in a level of their own");

    std::map<std::string, int> ids;
    for (auto c : task.children("Category")) {
        std::string id = c.attribute("id").value();
        if (auto [it, fresh] = ids.emplace(id, Line(c)); !fresh)
            Add(Line(c), "Another category of " + label + " already has the id " + Quote(id) + " (line " +
                             std::to_string(it->second) + "); give each its own");
        std::map<std::string, int> names;
        for (auto t : c.children("Target"))
            if (auto [it, fresh] = names.emplace(t.attribute("name").value(), Line(t)); !fresh)
                Add(Line(t), "Another target of the category " + Quote(id) + " is already named " +
                                 Quote(it->first) + " (line " + std::to_string(it->second) + "); give each its own");
        auto targetList = c.children("Target");
        size_t targets = static_cast<size_t>(std::distance(targetList.begin(), targetList.end()));
        if (targets > kDataPageRows)
            Add(Line(c), "The category " + Quote(id) + " of " + label + " has " + std::to_string(targets) +
                             " targets; the data page shows " + std::to_string(kDataPageRows) + ": split it");
        for (auto t : c.children("Target")) CheckTarget(t, label, layer, lastYear, years);
    }
}

void Checker::CheckTarget(const pugi::xml_node& t, const std::string& label, const LayerEntry* layer, size_t lastYear,
                          size_t years) {
    std::string target = "target " + Quote(t.attribute("name").value());
    if (!t.child("Field")) {
        Add(Line(t), "The " + target + " of " + label + " has no <Field>: add <Field year=\"1\" number=\"FIELD\"/>");
        return;
    }
    std::set<std::string> percentYears;
    for (auto f : t.children("Field"))
        if (f.attribute("percent")) percentYears.insert(f.attribute("year").as_string("1"));
    bool canPercent = std::string(t.attribute("CanPercent").value()) == "True";
    for (auto f : t.children("Field")) {
        std::string year = f.attribute("year").as_string("1");
        int y = 0;
        auto [end, ec] = std::from_chars(year.data(), year.data() + year.size(), y);
        if (ec != std::errc() || end != year.data() + year.size() || y < 1 || static_cast<size_t>(y) > lastYear) {
            std::string range = years == 0 ? "1 (the level has no <Years>)"
                                           : "from 1 to " + std::to_string(years) + " (the level's <Years>)";
            Add(Line(f, "year"), "The year " + Quote(year) + " of a <Field> of the " + target + " must be " + range);
        }
        auto number = f.attribute("number");
        if (!number) Add(Line(f), "A <Field> of the " + target + " has no number: add number=\"FIELD\"");
        else CheckField(layer, Line(number, f), number.value(), "number of the " + target, true);
        if (auto percent = f.attribute("percent"))
            CheckField(layer, Line(percent, f), percent.value(), "percent base of the " + target, true);
        if (canPercent && number && !percentYears.count(year))
            Add(Line(f), "The " + target + " has CanPercent=\"True\" but no percent field for year " + year +
                             ": add percent=\"FIELD\" to this <Field> or set CanPercent=\"False\"");
    }
}

}  // namespace host::config_check
