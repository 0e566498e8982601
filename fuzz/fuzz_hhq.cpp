// Household query file: reading it into the household page of the sample's
// county level, then what Next does with it (the service strings and the
// read-out) and saving it again. A saved page must read back to the same
// file.
#include <string>

#include "FuzzSupport.h"
#include "pages/SelectHouseholdDataDialog.h"

namespace {

std::shared_ptr<pxcp::SelectHouseholdDataDialog> Page() {
    auto page = std::make_shared<pxcp::SelectHouseholdDataDialog>();
    page->mainTask = pxfuzz::SampleLevel("CustomerProspecting.Household");
    page->mainLayerName = "Counties";
    page->studyAreaDataset = "North Carolina";
    page->ReadFromPropertySet(nullptr);
    page->InitializeDialog();
    return page;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    pxfuzz::SetUpHost();
    pxfuzz::SampleLevel("CustomerProspecting.Household");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = pxfuzz::WriteInput("query.hhq", data, size);
    {
        auto page = Page();
        page->LoadHHQFile(path);
        std::string geography, fields, list;
        try {
            page->BuildHouseholdQuery(geography, fields, list);
        } catch (const host::RuntimeError&) {
        }
        page->ShowQuery();

        pxfuzz::ExpectSavedFileReadsBack(
            "household query file", ".hhq", [&](const std::string& to) { page->SaveHHQFile(to); },
            [](const std::string& from, const std::string& to) {
                auto back = Page();
                back->LoadHHQFile(from);
                back->SaveHHQFile(to);
                back->Unload();
            });
        page->Unload();
    }
    pxfuzz::ForgetLogs();
    return 0;
}
