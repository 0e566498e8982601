#include "PXCP/Register.h"

#include "CustomerProfile/PXCPProfileFunction.h"
#include "PXAnalysis/SysFolderProv.h"
#include "PXCP/AnalysisReportQuery.h"
#include "PXCP/PXCPDemographicData.h"
#include "PXCP/PXCPDemographicDataFunction.h"
#include "PXCP/PXCPHouseholdData.h"
#include "PXCP/PXCPHouseholdDataFunction.h"
#include "PXCP/PXCPMain.h"

namespace pxcp {

void RegisterPXCPClasses() {
    auto& f = host::ObjectFactory::Instance();
    f.Register("PXCP.PXCPMain", [] { return std::make_shared<PXCPMain>(); });
    f.Register("PXCP.PXCPDemographicData", [] { return std::make_shared<PXCPDemographicData>(); });
    f.Register("PXCP.PXCPDemographicDataFunction", [] { return std::make_shared<PXCPDemographicDataFunction>(); });
    f.Register("PXCP.PXCPHouseholdData", [] { return std::make_shared<PXCPHouseholdData>(); });
    f.Register("PXCP.PXCPHouseholdDataFunction", [] { return std::make_shared<PXCPHouseholdDataFunction>(); });
    f.Register("PXCP.PXCPProfileFunction", [] { return std::make_shared<PXCPProfileFunction>(); });
    f.Register("PXCP.PXCPProFileDataContainer", [] { return std::make_shared<PXCPProFileDataContainer>(); });
    f.Register("PXCP.SysFolderProv", [] { return std::make_shared<SysFolderProv>(); });
    // The host's report tells what an analysis of ours asked in our words.
    host::report::SetQueryDescriber(DescribeAnalysisQuery);
}

}  // namespace pxcp
