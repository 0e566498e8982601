// The contracts between the host and the work it runs. A task (IPXTask)
// is one step of a wizard: it asks for its parameters through its pages
// (DoParamSelector), then builds and starts its function. A function
// (IPXFunction) does the work itself: Start, then DoStep while it returns
// true, as the function runner drives it. Both report failures through
// LastError and Status rather than by raising. SetParam takes a parameter
// by name; a false return refuses it.
#pragma once

#include <memory>
#include <string>

#include "host/Object.h"
#include "host/gis/Map.h"

namespace host {

class DataManager;
using DataManagerPtr = std::shared_ptr<DataManager>;

class IPXFunction : public Object {
public:
    virtual bool Start() = 0;
    virtual bool DoStep() = 0;
    virtual long LastError() = 0;
    virtual long Status() = 0;
    virtual void Cleanup() = 0;
    virtual bool Init() = 0;
    virtual bool SetResultParam(const std::string& name, Variant& value) = 0;
    virtual bool SetParam(const std::string& name, Variant& value) = 0;
};
using IPXFunctionPtr = std::shared_ptr<IPXFunction>;

class IPXTask : public Object {
public:
    virtual long LastError() = 0;
    virtual long Status() = 0;
    virtual ObjectPtr PXParamSelector() = 0;
    virtual IPXFunctionPtr PXFunction() = 0;
    virtual void Cleanup() = 0;
    virtual void Break() = 0;
    virtual bool StartFunction() = 0;
    virtual long DoParamSelector() = 0;
    virtual bool InitFunction() = 0;
    virtual bool InitParamSelector() = 0;
    virtual bool Init(DataManagerPtr dataManager, gis::ApplicationPtr application) = 0;
    virtual bool SetParam(const std::string& name, Variant& value) = 0;
};
using IPXTaskPtr = std::shared_ptr<IPXTask>;

class IPXCustDataContainer : public Object {
public:
    virtual void Shutdown() = 0;
};

}  // namespace host
