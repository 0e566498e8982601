// ProgIDs of the host's own classes.
#include "host/framework/Register.h"

#include "host/framework/DataManager.h"
#include "host/framework/ErrorHandler.h"
#include "host/framework/FunctionRunner.h"
#include "host/framework/PropertySet.h"
#include "host/framework/ReportTask.h"
#include "host/framework/Resources.h"

namespace host {

void RegisterHostClasses() {
    auto& f = ObjectFactory::Instance();
    f.Register("PXKernel.PXErrorHandler", [] { return std::make_shared<ErrorHandler>(); });
    f.Register("PXDM.PXFileInfo", [] { return std::make_shared<FileInfo>(); });
    f.Register("PXDM.PXAnalysisNameChecker", [] { return std::make_shared<AnalysisNameChecker>(); });
    f.Register("PXKernel.PXFunctionRunner", [] { return std::make_shared<FunctionRunner>(); });
    f.Register("PXKernel.PXPropertySet", [] { return std::make_shared<PropertySet>(); });
    f.Register("PXReports.PXSelectReportTask", [] { return std::make_shared<ReportTask>(); });
    f.Register("PXCPRes.clsFindResource",
               [] { return std::make_shared<ResourceLibrary>(&TextResources(), "PXCPRes.clsFindResource"); });
    f.Register("PXCPGuiRes.clsFindResource",
               [] { return std::make_shared<ResourceLibrary>(&LayoutResources(), "PXCPGuiRes.clsFindResource"); });
}

}  // namespace host
