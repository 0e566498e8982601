// The host business-analysis framework, all of it: task and function
// interfaces, property sets, the dataset configuration, analyses and the
// data manager, the extension, the function runner and the registration of
// the host's classes. Include the single header a file needs where it can.
#pragma once

#include "host/framework/DataManager.h"
#include "host/framework/DatasetConfig.h"
#include "host/framework/Extension.h"
#include "host/framework/FunctionRunner.h"
#include "host/framework/PropertySet.h"
#include "host/framework/Register.h"
#include "host/framework/Task.h"
#include "host/gis/Gis.h"
#include "host/gis/Map.h"
