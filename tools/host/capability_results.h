// The host's result object of a capability query: records everything the driver writes into it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "norvane/host.h"

namespace host {

struct CustomParameterRecord {
    std::string name;
    std::string value;
    uint32_t flag = 0;
    int option = -1;  // -1: never set
};

struct ResolutionRecord {
    std::string text;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t framePeriod = 0;
};

struct CapabilityRecord {
    std::string model;
    std::map<uint32_t, uint32_t> capabilities;
    std::map<int, std::string> connection;  // 1 address, 2 port, 3 user, 4 password
    std::map<int, CustomParameterRecord> custom;
    std::vector<ResolutionRecord> resolutions;
    std::vector<int> frameRateListKinds;  // every GetFrameRateList argument
    std::vector<uint32_t> framePeriods;   // ms, in the order added
    std::vector<uint32_t> defaultFramePeriods;
    size_t writes = 0;  // calls of any kind

    // The custom parameters as texts by number, as a host stores them with the camera.
    std::map<int, std::string> CustomTexts() const;
};

class CapabilityResults : public norvane::TBoundaryObject<norvane::ICapabilityResults> {
public:
    CapabilityResults();
    ~CapabilityResults() override;
    CapabilityResults(const CapabilityResults&) = delete;
    CapabilityResults& operator=(const CapabilityResults&) = delete;

    void SetCapability(uint32_t id, uint32_t value) override;
    void SetModel(const char* model) override;
    norvane::ICapabilityText* GetConnectionField(int number) override;
    norvane::ICustomParameterEntry* GetCustomParameterEntry(int number) override;
    norvane::IResolutionList* GetResolutionList() override;
    norvane::IFrameRateList* GetFrameRateList(int kind) override;

    // A copy of what was written so far; any thread.
    CapabilityRecord Record() const;

private:
    class Field;
    class Entry;
    class Resolutions;
    class FrameRates;

    // Runs `change` on the record under the lock and counts the write.
    template <typename Change>
    void Write(Change change);
    // The object of `number`, made on first use.
    template <typename Object>
    Object* Numbered(std::map<int, std::unique_ptr<Object>>& objects, int number);

    mutable std::mutex mutex_;
    CapabilityRecord record_;
    std::map<int, std::unique_ptr<Field>> fields_;
    std::map<int, std::unique_ptr<Entry>> entries_;
    std::unique_ptr<Resolutions> resolutions_;
    std::unique_ptr<FrameRates> frameRates_;
};

}  // namespace host
