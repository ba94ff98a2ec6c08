#include "ptz/base_ptz_handler.h"

#include <memory>
#include <new>

#include "foundation/idriver.h"
#include "foundation/no_throw.h"
#include "http/result_def.h"
#include "http/utils.h"
#include "ptz/base_ptz_control.h"

namespace norvane {

CBasePTZHandler::CBasePTZHandler(IDriver* driver, int channelCount, const std::string& deviceType)
    : driver(driver), channelCount(channelCount), deviceType(deviceType) {}

CBasePTZHandler::~CBasePTZHandler() {
    ReleaseControls();
    CLockGuard guard(lock);
    store.Assign(nullptr);
}

IIPPTZApiEx* CBasePTZHandler::GetPTZApiEx(int channel) {
    if (channel < 0 || channel >= channelCount)
        return nullptr;
    return NoThrow<IIPPTZApiEx*>(nullptr, [&]() -> IIPPTZApiEx* {
        CLockGuard guard(lock);
        const auto it = controls.find(channel);
        if (it != controls.end())
            return it->second.get();
        if (deviceType.empty() || (!store && !InitializeXMLStorage()))
            return nullptr;
        std::unique_ptr<CBasePTZControl> control(CreateControl(channel));
        if (!control || !control->Initialize(store))
            return nullptr;
        return controls.emplace(channel, std::move(control)).first->second.get();
    });
}

void CBasePTZHandler::ReleaseControls() {
    CLockGuard guard(lock);
    controls.clear();
}

bool CBasePTZHandler::InitializeXMLStorage() {
    CLockGuard guard(lock);
    CResultDef result;
    const std::string name = GetXMLStorageFileName();
    if (name.empty()) {
        result.SetFormatted(CResultDef::LEVEL_ERROR, CResultDef::CODE_NOT_DEFINED,
                            "%s: PTZ module cannot be initialized! Name of file for preset storing "
                            "was not defined",
                            "norvane::CBasePTZHandler::InitializeXMLStorage");
    } else {
        auto* reader = new (std::nothrow) CXMLPrepositionReader(deviceType, driver);
        if (reader && !storeDirectory.empty())
            reader->Settings().SetBaseDirectory(storeDirectory);
        store.Assign(reader);
        if (!store) {
            result.SetFormatted(CResultDef::LEVEL_ERROR, CResultDef::CODE_NO_MEMORY,
                                "%s: not enough memory for creating CXMLPrepositionReader object",
                                "norvane::CBasePTZHandler::InitializeXMLStorage");
        } else if (!store->OpenStore(name)) {
            result.SetFormatted(CResultDef::LEVEL_ERROR, CResultDef::CODE_INIT_FAILED,
                                "%s: cannot initialize CXMLPrepositionReader object with parameter "
                                "\"%s\"",
                                "norvane::CBasePTZHandler::InitializeXMLStorage", name.c_str());
            // The store stays attached: later requests get working controls, only without
            // saved presets (a corrupt file has been kept aside as .bad).
        }
    }
    Utils::LogResult(driver, result);
    return result.Succeeded();
}

}  // namespace norvane
