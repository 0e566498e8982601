// Demographic query file: reading it into the model of the sample's county
// level, then what the page does with a loaded model: the where-clause, the
// read-out, the checks of floors against ceilings, and saving it again. A
// saved model must read back to the same file.
#include <string>

#include "FuzzSupport.h"
#include "host/forms/Forms.h"
#include "pages/DemographicQueryFile.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    pxfuzz::SetUpHost();
    pxfuzz::SampleLevel("CustomerProspecting.ByLayer");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto level = pxfuzz::SampleLevel("CustomerProspecting.ByLayer");
    const std::string dataset = "North Carolina";
    std::string path = pxfuzz::WriteInput("query.dmq", data, size);
    pxcp::DemographicQuery query;
    query.Build(level);
    long first = -2;
    pxcp::DmqLoad how = pxcp::DmqLoad::Unreadable;
    try {
        how = pxcp::LoadDMQFile(query, path, dataset, &first);
    } catch (const host::RuntimeError&) {
        // A value of the wrong type is reported by the page as a run-time error.
        how = pxcp::DmqLoad::Stopped;
    }
    if (first < -1 || first >= query.CategoryCount()) pxfuzz::Violated("first filled category out of range");
    if (how == pxcp::DmqLoad::Loaded) {
        try {
            query.MakeQueryString();
        } catch (const host::RuntimeError&) {
            // Values that are not numbers are refused by name.
        }
        std::vector<bool> selected(static_cast<size_t>(query.CategoryCount()), true);
        query.ShowQuery(selected, "1974-78", "County");
        auto no = [](long, long, const std::string&) { return host::forms::vbNo; };
        auto focus = [](long, long, bool) {};
        try {
            query.CheckFloorAndCeilingValues(no, focus);
            query.CheckPercents(no, focus);
        } catch (const host::RuntimeError&) {
        }

        pxfuzz::ExpectSavedFileReadsBack(
            "query file", ".dmq", [&](const std::string& to) { pxcp::SaveDMQFile(query, to, dataset); },
            [&](const std::string& from, const std::string& to) {
                pxcp::DemographicQuery back;
                back.Build(level);
                if (pxcp::LoadDMQFile(back, from, dataset) != pxcp::DmqLoad::Loaded)
                    pxfuzz::Violated("a saved query file does not load");
                pxcp::SaveDMQFile(back, to, dataset);
            });
    }
    pxfuzz::ForgetLogs();
    return 0;
}
