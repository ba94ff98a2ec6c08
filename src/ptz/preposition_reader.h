// Preset store of one camera: names and slots of every PTZ channel's presets in one XML file,
// Root/PtzChannelNN/PrepositionNNN/Name|Slot with the values in "value" attributes.
#pragma once

#include <string>

#include "foundation/lock.h"
#include "settings/xml_settings.h"

class IDebugMessage;

namespace norvane {

class CXMLPrepositionReader {
public:
    // `log` (may be null) hears about a file that had to be kept aside.
    explicit CXMLPrepositionReader(const std::string& rootName, IDebugMessage* log = nullptr);
    virtual ~CXMLPrepositionReader() = default;

    // Opens the file, creating it when it is missing or empty. A file that exists but cannot be
    // read is renamed with ".bad" appended and the store fails: it is never overwritten.
    bool OpenStore(const std::string& fileName);
    bool WriteRecord(int channel, int position, const std::string& name, unsigned slot);
    // False when the record has no name or its slot is not one unsigned decimal number.
    bool ReadRecord(int channel, int position, std::string& name, unsigned& slot);
    // Whether any element exists for the record.
    bool HasRecord(int channel, int position);
    bool RemoveChannel(int channel);
    // Called before a loaded file is rewritten to drop or move records: once per store, the file
    // as it is on disk is copied beside it with ".bak" appended. A backup left by an earlier
    // repair is never replaced (it may be the only copy of what that repair dropped). Logged
    // either way.
    void KeepBackup();
    // Switching it on saves the document; returns false only when that save fails.
    bool SetAutoSave(bool save);

    // Tests keep the file in a directory of their own.
    CXMLSettingsAPI& Settings() { return settings; }

private:
    std::string ChannelPath(int channel) const;
    std::string RecordPath(int channel, int position) const;

    std::string rootName;
    IDebugMessage* log;
    CLock lock;
    CXMLSettingsAPI settings;
    bool autoSave = false;
    std::string path;  // the open file's
    bool backupTried = false;
};

}  // namespace norvane
