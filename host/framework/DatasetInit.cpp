#include "host/framework/DatasetInit.h"

#include "host/Object.h"

namespace host {

std::string MakeDatasetConfiguration(const DatasetInitOptions&) {
    Raise(kErrInvalidCall, "not written yet");
}

}  // namespace host
