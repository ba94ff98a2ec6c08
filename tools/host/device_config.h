// Host device configuration: settings objects and numbered custom parameters.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "norvane/host.h"

namespace host {

class DeviceSettings : public norvane::TBoundaryObject<norvane::IDeviceSettings> {
public:
    const char* GetModelName() override { return model.c_str(); }
    int GetChannelCount() override { return channelCount; }
    int GetInputCount() override { return inputCount; }
    int GetOutputCount() override { return outputCount; }

    std::string model;
    int channelCount = 1;
    int inputCount = 0;
    int outputCount = 0;
};

class ConnectionSettings : public norvane::TBoundaryObject<norvane::IConnectionSettings> {
public:
    const char* GetAddress() override { return address.c_str(); }
    uint16_t GetPort() override { return port; }
    int GetCodecType() override { return codecType; }
    const char* GetUserName() override { return userName.c_str(); }
    const char* GetPassword() override { return password.c_str(); }

    std::string address;
    uint16_t port = 80;
    int codecType = 3;
    std::string userName;
    std::string password;
};

class DeviceOptions : public norvane::TBoundaryObject<norvane::IDeviceOptions> {
public:
    int GetOptionFlag() override { return optionFlag; }
    int optionFlag = 0;
};

class DeviceConfig : public norvane::TBoundaryObject<norvane::IDeviceConfig> {
public:
    norvane::IDeviceSettings* GetDeviceSettings() override { return &device; }
    norvane::IConnectionSettings* GetConnectionSettings() override { return &connection; }
    norvane::IDeviceOptions* GetOptions() override { return &options; }
    // Null for a number the host does not hold.
    const char* GetCustomParameter(int number) override;

    void SetCustomParameter(int number, const std::string& text) { custom[number] = text; }
    // Every number the driver asked for, in order.
    const std::vector<int>& Requested() const { return requested; }

    DeviceSettings device;
    ConnectionSettings connection;
    DeviceOptions options;
    std::map<int, std::string> custom;

private:
    std::vector<int> requested;
};

// A host hands over custom parameters 1 to 9, "(none)" where it stores nothing: the driver reads
// them up to the first one missing.
void FillCustomParameterGaps(std::map<int, std::string>& custom);

}  // namespace host
