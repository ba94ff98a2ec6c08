#include "host/capability_results.h"

namespace host {

std::map<int, std::string> CapabilityRecord::CustomTexts() const {
    std::map<int, std::string> texts;
    for (const auto& [number, entry] : custom)
        texts[number] = entry.value;
    return texts;
}

template <typename Change>
void CapabilityResults::Write(Change change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change(record_);
    ++record_.writes;
}

class CapabilityResults::Field : public norvane::TBoundaryObject<norvane::ICapabilityText> {
public:
    Field(CapabilityResults& owner, int number) : owner_(owner), number_(number) {}
    void SetText(const char* text) override {
        owner_.Write([&](CapabilityRecord& r) { r.connection[number_] = text ? text : ""; });
    }

private:
    CapabilityResults& owner_;
    int number_;
};

class CapabilityResults::Entry : public norvane::TBoundaryObject<norvane::ICustomParameterEntry> {
public:
    Entry(CapabilityResults& owner, int number) : owner_(owner), number_(number) {}
    void SetValue(const char* text) override {
        Change([&](CustomParameterRecord& e) { e.value = text ? text : ""; });
    }
    void SetFlag(uint32_t flag) override {
        Change([&](CustomParameterRecord& e) { e.flag = flag; });
    }
    void SetName(const char* name) override {
        Change([&](CustomParameterRecord& e) { e.name = name ? name : ""; });
    }
    void SetOption(int option) override {
        Change([&](CustomParameterRecord& e) { e.option = option; });
    }

private:
    template <typename F>
    void Change(F f) {
        owner_.Write([&](CapabilityRecord& r) { f(r.custom[number_]); });
    }

    CapabilityResults& owner_;
    int number_;
};

class CapabilityResults::Resolutions : public norvane::TBoundaryObject<norvane::IResolutionList> {
public:
    explicit Resolutions(CapabilityResults& owner) : owner_(owner) {}
    void Add(const char* text, uint32_t width, uint32_t height, uint32_t framePeriod) override {
        owner_.Write([&](CapabilityRecord& r) {
            r.resolutions.push_back({text ? text : "", width, height, framePeriod});
        });
    }

private:
    CapabilityResults& owner_;
};

class CapabilityResults::FrameRates : public norvane::TBoundaryObject<norvane::IFrameRateList> {
public:
    explicit FrameRates(CapabilityResults& owner) : owner_(owner) {}
    void SetDefaultPeriod(uint32_t periodMs) override {
        owner_.Write([&](CapabilityRecord& r) { r.defaultFramePeriods.push_back(periodMs); });
    }
    void AddPeriod(uint32_t periodMs) override {
        owner_.Write([&](CapabilityRecord& r) { r.framePeriods.push_back(periodMs); });
    }

private:
    CapabilityResults& owner_;
};

CapabilityResults::CapabilityResults()
    : resolutions_(std::make_unique<Resolutions>(*this)),
      frameRates_(std::make_unique<FrameRates>(*this)) {}

CapabilityResults::~CapabilityResults() = default;

void CapabilityResults::SetCapability(uint32_t id, uint32_t value) {
    Write([&](CapabilityRecord& r) { r.capabilities[id] = value; });
}

void CapabilityResults::SetModel(const char* model) {
    Write([&](CapabilityRecord& r) { r.model = model ? model : ""; });
}

template <typename Object>
Object* CapabilityResults::Numbered(std::map<int, std::unique_ptr<Object>>& objects, int number) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& object = objects[number];
    if (!object)
        object = std::make_unique<Object>(*this, number);
    return object.get();
}

norvane::ICapabilityText* CapabilityResults::GetConnectionField(int number) {
    return Numbered(fields_, number);
}

norvane::ICustomParameterEntry* CapabilityResults::GetCustomParameterEntry(int number) {
    return Numbered(entries_, number);
}

norvane::IResolutionList* CapabilityResults::GetResolutionList() {
    return resolutions_.get();
}

norvane::IFrameRateList* CapabilityResults::GetFrameRateList(int kind) {
    Write([&](CapabilityRecord& r) { r.frameRateListKinds.push_back(kind); });
    return frameRates_.get();
}

CapabilityRecord CapabilityResults::Record() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return record_;
}

}  // namespace host
