// A recording camera side for the preset list and preset files in a scratch directory.
#pragma once

#include <cstdarg>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/debug_info.h"
#include "ptz/preposition_comm.h"
#include "ptz/preposition_reader.h"
#include "support/media.h"

namespace test {

class RecordingComm : public norvane::TBoundaryObject<norvane::IPrepositionComm> {
public:
    bool SavePreposition(unsigned slot, const std::string&) override {
        saved.push_back(slot);
        return accept;
    }
    bool GotoPreposition(unsigned slot, const std::string&, int) override {
        recalled.push_back(slot);
        return accept;
    }
    bool RemovePreposition(unsigned slot, const std::string&) override {
        removed.push_back(slot);
        return acceptRemoval;
    }
    void Log(int type, const char* format, ...) override __attribute__((format(printf, 3, 4))) {
        va_list args;
        va_start(args, format);
        lines.push_back(norvane::FormatText(format, args));
        va_end(args);
        types.push_back(type);
    }
    // Lines logged with this type that contain `fragment`.
    size_t CountLines(int type, const std::string& fragment) const {
        size_t count = 0;
        for (size_t i = 0; i < lines.size(); ++i)
            count += types[i] == type && lines[i].find(fragment) != std::string::npos;
        return count;
    }

    bool accept = true;
    bool acceptRemoval = true;
    std::vector<unsigned> saved;
    std::vector<unsigned> recalled;
    std::vector<unsigned> removed;
    std::vector<std::string> lines;
    std::vector<int> types;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Whether the file text holds a Name element with this value (in either quote style).
inline bool HasName(const std::string& text, const std::string& name) {
    return text.find("<Name value='" + name + "'") != std::string::npos ||
           text.find("<Name value=\"" + name + "\"") != std::string::npos;
}

// A preset file holding `body` inside its root element.
inline std::string PresetFile(const std::string& body) {
    return "<?xml version='1.0' encoding='utf-8'?>\n<Sanyo>" + body + "</Sanyo>";
}

inline std::string Record(unsigned position, const std::string& name, const std::string& slot) {
    char step[32];
    std::snprintf(step, sizeof step, "Preposition%03u", position);
    return std::string("<") + step + "><Name value=\"" + name + "\"/><Slot value=\"" + slot +
           "\"/></" + step + ">";
}

// A store opened on `fileName` in `directory`.
inline norvane::CXMLPrepositionReader* OpenStore(const std::string& directory,
                                                 const std::string& fileName,
                                                 IDebugMessage* log = nullptr) {
    auto* store = new norvane::CXMLPrepositionReader("Sanyo", log);
    store->Settings().SetBaseDirectory(directory);
    store->OpenStore(fileName);
    return store;
}

}  // namespace test
