#include "ptz/preposition_reader.h"

#include <cstdio>

#include "norvane/debug.h"
#include "platform/system.h"

namespace norvane {

namespace {

// Exactly one unsigned decimal number within 32 bits.
bool ParseSlot(const std::string& text, unsigned& slot) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long value = std::stoull(text);
    if (value > UINT32_MAX)
        return false;
    slot = static_cast<unsigned>(value);
    return true;
}

}  // namespace

CXMLPrepositionReader::CXMLPrepositionReader(const std::string& rootName, IDebugMessage* log)
    : rootName(rootName), log(log) {}

bool CXMLPrepositionReader::OpenStore(const std::string& fileName) {
    CLockGuard guard(lock);
    if (settings.LoadDocument(fileName) != CXMLSettingsAPI::RESULT_OK && !settings.IsOpen()) {
        const std::string path = settings.FullPath(fileName);
        const int64_t size = platform::FileSize(path);
        if (size == 0 || !platform::FileExists(path)) {
            if (settings.CreateDocumentFile(rootName, fileName) == 1)
                settings.LoadDocument(fileName);
        } else if (size > 0) {
            const std::string kept = path + ".bad";
            const bool moved = platform::RenameFile(path, kept);
            if (log)
                log->Log(LOG_ERROR, "%s: preset file \"%s\" cannot be read%s%s",
                         "norvane::CXMLPrepositionReader::OpenStore", path.c_str(),
                         moved ? "; it was kept as " : "; it could not be kept aside",
                         moved ? kept.c_str() : "");
        }
    }
    autoSave = settings.IsOpen();
    path = autoSave ? settings.FullPath(fileName) : std::string();
    return autoSave;
}

void CXMLPrepositionReader::KeepBackup() {
    CLockGuard guard(lock);
    if (backupTried || path.empty())
        return;
    backupTried = true;
    const std::string backup = path + ".bak";
    const char* outcome = "; it was kept as ";
    if (platform::FileExists(backup))
        outcome = "; the backup of an earlier repair stays as it is: ";
    else if (!platform::CopyToNewFile(path, backup))
        outcome = "; it could not be kept as ";
    if (log)
        log->Log(LOG_WARNING, "%s: preset file \"%s\" is rewritten to drop or move records%s%s",
                 "norvane::CXMLPrepositionReader::KeepBackup", path.c_str(), outcome,
                 backup.c_str());
}

std::string CXMLPrepositionReader::ChannelPath(int channel) const {
    char step[32];
    std::snprintf(step, sizeof step, "/%s%.2u", "PtzChannel", static_cast<unsigned>(channel) + 1);
    return rootName + step;
}

std::string CXMLPrepositionReader::RecordPath(int channel, int position) const {
    char step[32];
    std::snprintf(step, sizeof step, "/%s%.3u", "Preposition", static_cast<unsigned>(position));
    return ChannelPath(channel) + step;
}

bool CXMLPrepositionReader::WriteRecord(int channel, int position, const std::string& name,
                                        unsigned slot) {
    CLockGuard guard(lock);
    try {
        const std::string base = RecordPath(channel, position);
        if (!settings.SetValue(platform::Utf8ToUtf16(name), "%s/Name", base.c_str()))
            return false;
        const bool written =
            settings.SetValue(platform::Utf8ToUtf16(std::to_string(slot)), "%s/Slot", base.c_str());
        return written && (!autoSave || settings.SaveDocument());
    } catch (...) {
        return false;
    }
}

bool CXMLPrepositionReader::ReadRecord(int channel, int position, std::string& name,
                                       unsigned& slot) {
    CLockGuard guard(lock);
    try {
        const std::string base = RecordPath(channel, position);
        name = platform::Utf16ToUtf8(settings.GetValue("%s/Name", base.c_str()));
        return !name.empty() &&
               ParseSlot(platform::Utf16ToUtf8(settings.GetValue("%s/Slot", base.c_str())), slot);
    } catch (...) {
        return false;
    }
}

bool CXMLPrepositionReader::HasRecord(int channel, int position) {
    CLockGuard guard(lock);
    try {
        return settings.HasNode("%s", RecordPath(channel, position).c_str()) == 1;
    } catch (...) {
        return false;
    }
}

bool CXMLPrepositionReader::RemoveChannel(int channel) {
    CLockGuard guard(lock);
    try {
        const std::string path = ChannelPath(channel);
        return settings.HasNode("%s", path.c_str()) && settings.RemoveNode("%s", path.c_str()) &&
               (!autoSave || settings.SaveDocument());
    } catch (...) {
        return false;
    }
}

bool CXMLPrepositionReader::SetAutoSave(bool save) {
    CLockGuard guard(lock);
    if (save == autoSave)
        return true;
    autoSave = save;
    return !save || settings.SaveDocument();
}

}  // namespace norvane
