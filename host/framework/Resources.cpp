#include "host/framework/Resources.h"

#include <vector>

namespace host {

std::string ResourceLibrary::FindString(int id) const {
    auto it = table_->find(id);
    if (it == table_->end()) Raise(326, "Resource with identifier '" + std::to_string(id) + "' not found", name_);
    return it->second;
}

std::string ResourceLibrary::FindString(const std::string& id) const {
    std::string t = Trim(id);
    if (t.empty() || t.find_first_not_of("0123456789") != std::string::npos)
        Raise(326, "Resource with identifier '" + id + "' not found", name_);
    return FindString(std::stoi(t));
}

Variant ResourceLibrary::Invoke(const std::string& member, std::vector<Variant>& args) {
    if (member == "FindString" && args.size() == 1) return FindString(args[0].ToString());
    return Object::Invoke(member, args);
}

const std::map<int, std::string>& TextResources() {
    static const std::map<int, std::string> t = {
        {101, "Customer Profile"},
        {102, "Characteristics"},
        {103, "Select &None"},
        {104, "Select &Profiled"},
        {105, "Select &All"},
        {106, "&Help"},
        {107, "Cancel"},
        {108, "&Table..."},
        {109, "P&rint..."},
        {110, "&File..."},
        {111, "P&opulate..."},
        {112, "&New Profile..."},
        {113, "Tick the characteristics to profile or to populate the targets with."},
        {114, "Green: has a profile value. Red: not profiled yet."},
        {115, "No characteristic selected"},
        {116, "This file is not a query or profile file of Customer Prospecting."},
        {117, "The file has no common properties."},
        {118, "The profile file has an invalid value for the selected-customers option."},
        {119, "The profile file has an invalid populate manner."},
        {120, "C&lear unaffected values first"},
        {121, "The file holds a property this version does not know."},
        {122, "A target in the file has no properties."},
        {123, "No profile has been computed yet."},
        {124, "Tick characteristics and click New Profile to profile a customer layer."},
        {126, " characteristic(s) selected"},
        {127, "None of the ticked characteristics has a profile value to populate with."},
        {128, "Invalid Value"},
        {129, "The profile will set the targets of "},
        {130, " characteristic(s)."},
        {131, "The characteristics to populate could not be collected: "},
        {132, "Please tick at least one characteristic to profile."},
        {133, "None of the ticked characteristics is in the demographic data for this year."},
        {134, "The map has no layer of customers to profile. Add a point layer of customers to the map first."},
        {135, "Study area: "},
        {136, "Customers: "},
        {137, "Average of "},
        {138, " data)"},
        {139, "The profile values could not be cleared: "},
        {140, "The ticked characteristics could not be counted: "},
        {141, "The available characteristics could not be counted: "},
        {142, "The profile table could not be written: "},
        {143, "New Customer Profile"},
        {144, "&Profile"},
        {145, "Customer layer:"},
        {146, "Use &selected customers only ("},
        {147, " of "},
        {148, "Populate from Profile"},
        {149, "Floor &and ceiling"},
        {150, "&Ceiling"},
        {151, "&Floor"},
        {152, "&Populate"},
        {153, "&Variance (%):"},
        {154, "Set the demographic targets from the profile as:"},
        {155, "The variance in the profile file is not a number from 0 to 100 and was left out."},
        {156, "OK"},
        {157, "What do you want to do?"},
        {158, "Analysis Name"},
        {160, "< &Back"},
        {161, "&Next >"},
        {162, "Cancel"},
        {167, "&Description:"},
        {168, "&Name of the analysis:"},
        {169, "This name cannot be used for an analysis. Please type another name."},
        {170, "A matching area must meet"},
        {171, "An&y of the targets"},
        {172, "A&ll of the targets"},
        {173, "&Percentages"},
        {174, "N&umbers"},
        {175, "Year"},
        {176, "Target"},
        {177, "Ceiling"},
        {178, "Floor"},
        {179, "&Show Query..."},
        {180, "&Customer Profile..."},
        {181, "Give a target a floor, a ceiling or both. Leave both empty to ignore it."},
        {182, "Values are"},
        {183, "Targets of the selected category:"},
        {184, "Demographic data"},
        {185, "&Categories:"},
        {186, "Select the categories to target; click a category to see its targets."},
        {187, "Find the "},
        {188, "counties whose people match your targets"},
        {189, " areas whose people match your targets"},
        {191, "An unexpected error occurred: "},
        {229, "Which households are you looking for in each"},
        {230, "Household Query File"},
        {231, "This household query was made for another study area and cannot be opened with the current dataset."},
        {232, "The household query file has an invalid value for the wait option."},
        {233, "CategoryCaption"},
        {234, "TargetCaption"},
        {235, "Please type the minimum number or percentage of households."},
        {236, "A percentage cannot be more than 100."},
        {237, "The household query could not be built."},
        {238, "Please target at least one household category."},
        {239, "The areas of the study area could not be read."},
        {240, "The study area touches no area of the geography level."},
        {241, "The geography layer has no key field the household-data service knows."},
        {261, "Analysis Name"},
        {262, "The household query was sent to the household-data service. Job number: "},
        {263, "The areas of the study area have been added to the map without counts."},
        {266, "When the service has finished, fetch its result table and re-open this analysis,"},
        {267, "then choose Link DBF and pick that table."},
        {268, "Household Data Job"},
        {271, "Household categories:"},
        {272, "Minimum target"},
        {273, "The minimum is a"},
        {274, "When the query is sent"},
        {275, "Targets of the selected category:"},
        {276, "&Number of households"},
        {277, "&Percentage of households"},
        {278, "&Wait for the result"},
        {279, "&Don't wait: submit the job and return"},
        {280, "&Quillon360..."},
        {281, "Please sign in to the Quillon360 household-data service."},
        {282, "&User name:"},
        {283, "&Password:"},
        {284, "No account yet? Register to get one."},
        {285, "&Register..."},
        {286, "This household analysis exists. What would you like to do?"},
        {287, "&Change the query and run it again"},
        {288, "&Link a DBF with the household counts"},
        {289, "DBF"},
        {290, "&Browse..."},
        {193, "The value you typed is not a number."},
        {194, "Please type a number of 0 or more, or leave the box empty."},
        {195, "Negative values cannot be targeted."},
        {197, "Please select at least one category and target at least one of its targets."},
        {198, "Customer Prospecting"},
        {200, "This query was made for another study area and cannot be opened with the current dataset."},
        {201, "The query file has an invalid value for the numbers option."},
        {202, "The demographic query file has an invalid value for the characteristics option."},
        {203, "The query file has no categories."},
        {204, "A category in the query file has no targets."},
        {206, " data for "},
        {207, " areas"},
        {208, "that match the following targets:"},
        {209, "&Household data"},
        {210, "&Demographic data"},
        {211, "Select the geography level of the areas you are looking for."},
        {212, "Find matching areas by:"},
        {213, "&Demographic data for "},
        {214, "The current dataset offers no geography level for Customer Prospecting."},
        {215, "The selected geography level does not offer this way of prospecting."},
        {248, "Query"},
        {249, "No web browser is set up to open the address."},
        {250, "Customer Prospecting"},
        {251, "The web browser could not open the address."},
        {252, "The folder does not exist:"},
        {253, "The existing table could not be opened."},
        {254, "An analysis of this name exists already. Please go back and choose another name."},
        {255, "Analysis Name"},
        {256, "The earlier analysis could not be removed: "},
        {257, "The analysis was stopped before it finished. No result was kept."},
        {258, "The analysis could not be completed. No result was kept."},
        {259, "The customer profile function could not be created."},
        {260, "An analysis of this name exists already: "},
        {264, "The selected geography level names no main layer in the dataset configuration."},
        {269, "Customer Prospecting"},
        {270, "Query File"},
    };
    return t;
}

namespace {

struct Box {
    int h, l, t, w;
};

// Adds a page block: form height and width, then four ids per control.
void AddPage(std::map<int, std::string>& m, int first, int formH, int formW, const std::vector<Box>& boxes) {
    int id = first;
    m[id++] = std::to_string(formH);
    m[id++] = std::to_string(formW);
    for (const Box& b : boxes) {
        m[id++] = std::to_string(b.h);
        m[id++] = std::to_string(b.l);
        m[id++] = std::to_string(b.t);
        m[id++] = std::to_string(b.w);
    }
}

std::map<int, std::string> BuildLayout() {
    std::map<int, std::string> m;
    // Buttons of a wizard page sit on one row at the bottom.
    const int rowTop = 4440;
    const Box help{375, 120, rowTop, 1215}, back{375, 3720, rowTop, 1215}, next{375, 4935, rowTop, 1215},
        cancel{375, 6270, rowTop, 1215}, image{3450, 120, 120, 2070}, frame{4095, 2310, 120, 5175};

    // Geography level page 1000-1045.
    AddPage(m, 1000, 5340, 7590,
            {{2010, 2430, 900, 4935},   // GeographyLevelsList
             {300, 2550, 3720, 4695},   // HouseholdDataOption
             {300, 2550, 3360, 4695},   // DemographicDataOption
             frame, help, back, next, cancel,
             {555, 2430, 240, 4935},    // Label1
             image,
             {255, 2430, 3030, 4935}}); // Label2

    // Analysis name page 600-641.
    AddPage(m, 600, 5340, 7590,
            {{315, 2430, 660, 4935},    // AnalysisNameText
             {2355, 2430, 1440, 4935},  // AnalysisCommentText
             {255, 2430, 360, 4935},    // Label1
             {255, 2430, 1140, 4935},   // Label2
             frame, image, help, back, next, cancel});

    // File option page 400-423 (the common dialog has a position only).
    AddPage(m, 400, 2700, 4530,
            {{780, 240, 600, 2655},     // FileOptionList
             {1695, 120, 120, 4215},    // Frame1
             {255, 240, 300, 2655},     // Label1
             {375, 3060, 600, 1095},    // OKButton
             {375, 3060, 1080, 1095}}); // CancelButton
    m[422] = "120";
    m[423] = "2040";

    // Query text page 1400-1409.
    AddPage(m, 1400, 3720, 5415, {{2535, 120, 120, 4935}, {375, 3990, 2805, 1215}});

    // Customer profile page 100-185 (the common dialog and the image list
    // have a position only).
    {
        int id = 100;
        auto put = [&](std::initializer_list<int> values) {
            for (int v : values) m[id++] = std::to_string(v);
        };
        put({6900, 8985});
        put({4095, 120, 1300, 8655});   // mainframe
        put({120, 6120});               // CommonDialog1
        put({375, 7275, 1560, 1455});   // SelectNoneButton
        put({375, 7275, 2040, 1455});   // SelectAllProfiledButton
        put({375, 7275, 2520, 1455});   // SelectAllButton
        put({375, 120, 6120, 1215});    // HelpButton
        put({375, 7560, 6120, 1215});   // CancelButton
        put({375, 4560, 5520, 1215});   // TableButton
        put({375, 5880, 5520, 1215});   // PrintButton
        put({375, 3240, 5520, 1215});   // FileButton
        put({375, 1680, 5520, 1455});   // PopulateButton
        put({375, 120, 5520, 1455});    // NewButton
        put({3375, 240, 1560, 6975});   // CharacteristicsGrid
        put({720, 6120});               // ImageList
        put({480, 7320, 3120, 480});    // Image1
        put({480, 7920, 3120, 480});    // Image2
        put({255, 4320, 5040, 4335});   // Label4
        put({255, 120, 1020, 8655});    // Label5
        put({255, 240, 5040, 4000});    // HeaderSel
        put({255, 120, 120, 8655});     // header1
        put({255, 120, 400, 8655});     // header2
        put({255, 120, 680, 8655});     // header3
    }

    // New-profile page 200-233.
    AddPage(m, 200, 3420, 6000,
            {{315, 240, 1320, 5415},    // cmbCustomers
             {255, 240, 1800, 5415},    // chkUseSelected
             {615, 240, 300, 5415},     // lLabelNumAttr
             {255, 240, 1020, 5415},    // Label2
             {375, 3240, 2460, 1215},   // ProfileButton
             {375, 4560, 2460, 1215},   // CancelButton
             {375, 120, 2460, 1215},    // HelpButton
             {2175, 120, 120, 5655}});  // Frame1

    // Populate page 300-353.
    AddPage(m, 300, 4080, 5460,
            {{255, 360, 1080, 2400},    // optFloor
             {255, 360, 1380, 2400},    // optCeiling
             {255, 360, 1680, 2400},    // optFloorAndCeiling
             {315, 2400, 2250, 1095},   // txtVariance
             {255, 240, 2700, 4935},    // chkClear
             {495, 240, 120, 4935},     // LabelNumAttr
             {255, 240, 780, 4935},     // Label1
             {255, 240, 2280, 2055},    // Label2
             {375, 2640, 3240, 1215},   // PopulateButton
             {375, 3960, 3240, 1215},   // CancelButton
             {375, 120, 3240, 1215},    // HelpButton
             {1335, 120, 660, 5175},    // Frame1
             {975, 120, 2100, 5175}});  // Frame2

    // Demographic data page 700-917.
    {
        std::vector<Box> b;
        b.push_back({255, 120, 120, 9015});    // Label1
        b.push_back({255, 120, 480, 3015});    // Label2
        b.push_back({255, 3360, 480, 5775});   // Label4
        b.push_back({255, 120, 4560, 1215});   // Label5
        b.push_back({555, 3360, 4200, 4455});  // Label6
        b.push_back({255, 120, 780, 9015});    // DemographicLevelLabel (below the intro, above the targets)
        b.push_back({2955, 120, 1080, 3015});  // CategoryList
        b.push_back({375, 120, 4110, 1455});   // SelectNoneButton
        b.push_back({255, 5880, 1080, 3135});  // Label9
        b.push_back({255, 4620, 1080, 1095});  // Label8
        b.push_back({255, 3480, 1080, 1095});  // Label7
        for (int i = 0; i < 8; ++i) b.push_back({255, 5880, 1440 + i * 360, 3135});  // TargetLabel
        for (int i = 0; i < 8; ++i) b.push_back({315, 3480, 1410 + i * 360, 1095});  // FloorText
        for (int i = 0; i < 8; ++i) b.push_back({315, 4620, 1410 + i * 360, 1095});  // CeilingText
        b.push_back({3085, 3360, 1050, 5775});  // Frame2
        b.push_back({255, 240, 5160, 1275});    // NumbersOption
        b.push_back({255, 1560, 5160, 1455});   // PercentagesOption
        b.push_back({615, 120, 4920, 3015});    // Frame4
        b.push_back({255, 3480, 5160, 2055});   // AllCharacteristicsOption
        b.push_back({255, 5640, 5160, 2055});   // AnyCharacteristicsOption
        b.push_back({615, 3360, 4920, 4455});   // Frame5
        // The year options start below the title of their frame.
        for (int i = 0; i < 3; ++i) b.push_back({255, 7950, 4500 + i * 300, 1125});  // YearOption
        b.push_back({1440, 7860, 4200, 1275});  // Frame3
        b.push_back({375, 1680, 4110, 1455});   // ShowButton
        b.push_back({375, 120, 5700, 1455});    // FileButton
        b.push_back({375, 1680, 5700, 1935});   // ProfileButton
        b.push_back({375, 120, 6300, 1215});    // HelpButton
        b.push_back({375, 5370, 6300, 1215});   // BackButton
        b.push_back({375, 6585, 6300, 1215});   // NextButton
        b.push_back({375, 7920, 6300, 1215});   // CancelButton
        b.push_back({555, 0, 6180, 9255});      // Frame1
        AddPage(m, 700, 7200, 9375, b);
    }
    // Service login page 500-553.
    AddPage(m, 500, 5340, 7590,
            {{315, 2430, 1500, 4935},   // UserNameText
             {315, 2430, 2280, 4935},   // PasswordText
             {375, 2430, 3360, 1455},   // RegisterButton
             next, back, cancel, help, frame, image,
             {495, 2430, 240, 4935},    // Label1
             {255, 2430, 1200, 4935},   // Label2
             {255, 2430, 1980, 4935},   // Label3
             {255, 2430, 3060, 4935}}); // Label4

    // Household data page 1100-1201.
    AddPage(m, 1100, 7200, 9375,
            {{2955, 120, 780, 3975},    // CategoryList
             {2655, 4320, 1080, 4935},  // TargetList
             {255, 4320, 480, 4935},    // TargetLabel
             {375, 120, 3840, 1455},    // SelectNoneCategoriesButton
             {375, 4320, 3840, 1455},   // SelectNoneTargetsButton
             {315, 240, 4740, 1335},    // MinimumTargetText
             {255, 1755, 4740, 2655},   // NumberOption
             {255, 1755, 5010, 2655},   // PercentageOption
             {255, 4680, 4740, 4455},   // WaitOption
             {255, 4680, 5010, 4455},   // DontWaitOption
             {375, 1680, 3840, 1455},   // ShowButton
             {375, 120, 5700, 1455},    // FileButton
             {375, 1680, 5700, 1935},   // QuillonButton
             {375, 6585, 6300, 1215},   // NextButton
             {375, 5370, 6300, 1215},   // BackButton
             {375, 7920, 6300, 1215},   // CancelButton
             {375, 120, 6300, 1215},    // HelpButton
             {555, 0, 6180, 9255},      // Frame1
             // Each frame's captions sit inside it, above the controls they name.
             {1095, 120, 4320, 4335},   // Frame4
             {1095, 4560, 4320, 4695},  // Frame5
             {255, 120, 480, 3975},     // Label2
             {255, 240, 4440, 1455},    // Label3
             {255, 1755, 4440, 2655},   // Label4
             {255, 4680, 4440, 4455},   // Label5
             {255, 4320, 780, 4935}});  // Label6

    // Open-way page 1300-1353.
    AddPage(m, 1300, 5340, 7590,
            {{300, 2550, 1200, 4695},   // ChangeQueryRBT
             {300, 2550, 1620, 4695},   // LinkDBFRBT
             {1335, 2430, 2040, 4935},  // LinkDBFFrame
             {315, 2550, 2460, 3375},   // DBFFileText
             {375, 6045, 2430, 1215},   // BrowseCommand
             {375, 2430, 3600, 1935},   // QuillonButton
             next, back, cancel, help, frame, image,
             {615, 2430, 240, 4935}});  // Label1
    return m;
}

}  // namespace

const std::map<int, std::string>& LayoutResources() {
    static const std::map<int, std::string> m = BuildLayout();
    return m;
}

}  // namespace host
