#include "ptz/preposition_list.h"

#include <algorithm>

#include "norvane/ptz.h"
#include "ptz/preposition_comm.h"

namespace norvane {

namespace {

constexpr const char* kInvalidCharacters = "&!<>'\"";
// Positions a preset file can hold: the highest limit of any camera.
constexpr uint32_t kMostFilePositions = 255;

}  // namespace

CPrepositionList::CPrepositionList(int channel) : channel(channel) {}

CPrepositionList::~CPrepositionList() {
    CLockGuard guard(lock);
    store.Assign(nullptr);
    names.clear();
    order.clear();
}

bool CPrepositionList::IsValidName(const std::string& name) {
    return !name.empty() && name.find_first_of(kInvalidCharacters) == std::string::npos;
}

void CPrepositionList::SetComm(IPrepositionComm* newComm, uint32_t limit) {
    CLockGuard guard(lock);
    comm = newComm;
    maxPrepositions = limit;
}

void CPrepositionList::Log(int type, const std::string& text) {
    if (comm)
        comm->Log(type, "%s", text.c_str());
}

bool CPrepositionList::WritePreposition(int position, unsigned slot, const std::string& name) {
    CLockGuard guard(lock);
    return store && store->WriteRecord(channel, position, name, slot);
}

bool CPrepositionList::SavePrepositions() {
    CLockGuard guard(lock);
    if (!store)
        return false;
    store->SetAutoSave(false);
    store->RemoveChannel(channel);
    bool written = true;
    for (size_t i = 0; i < order.size() && written; ++i) {
        const auto it = names.find(order[i]);
        written = it != names.end() &&
                  store->WriteRecord(channel, static_cast<int>(i), it->second, order[i]);
    }
    return store->SetAutoSave(true) && written;
}

void CPrepositionList::LoadPrepositions() {
    CLockGuard guard(lock);
    names.clear();
    order.clear();
    current = -1;
    if (!store)
        return;
    // A file written under a higher limit (another camera group) holds positions beyond this one.
    const uint32_t positions = std::max(maxPrepositions, kMostFilePositions);
    bool repair = false;
    for (uint32_t position = 0; position < positions; ++position)
        repair = !LoadRecord(static_cast<int>(position)) || repair;
    // Later writes address list positions: the file must hold exactly the list.
    if (repair) {
        store->KeepBackup();
        SavePrepositions();
    }
}

bool CPrepositionList::LoadRecord(int position) {
    std::string name;
    unsigned slot = 0;
    if (!store->ReadRecord(channel, position, name, slot)) {
        if (!store->HasRecord(channel, position))
            return true;
        LogDropped(position, name, "it has no name or no valid slot");
        return false;
    }
    if (slot >= maxPrepositions) {
        LogDropped(position, name,
                   "slot " + std::to_string(slot) + " is beyond the camera's limit of " +
                       std::to_string(maxPrepositions));
        return false;
    }
    if (names.count(slot)) {
        LogDropped(position, name,
                   "slot " + std::to_string(slot) + " is taken by \"" + names[slot] + "\"");
        return false;
    }
    names[slot] = name;
    order.push_back(slot);
    return static_cast<size_t>(position) + 1 == order.size();
}

void CPrepositionList::LogDropped(int position, const std::string& name,
                                  const std::string& reason) {
    Log(LOG_WARNING, std::string("norvane::CPrepositionList::LoadPrepositions") + ": preset \"" +
                         name + "\" at position " + std::to_string(position) + " of PTZ channel " +
                         std::to_string(channel + 1) +
                         " is dropped from the preset file: " + reason);
}

bool CPrepositionList::SetStorage(TSmartPtr<CXMLPrepositionReader> newStore) {
    CLockGuard guard(lock);
    store = newStore;
    if (!store)
        return false;
    LoadPrepositions();
    return true;
}

int CPrepositionList::GetPrepositionCount() {
    CLockGuard guard(lock);
    return static_cast<int>(order.size());
}

bool CPrepositionList::GetPrepositionName(unsigned position, std::string& out) {
    out.clear();
    CLockGuard guard(lock);
    if (position >= order.size())
        return false;
    const auto it = names.find(order[position]);
    if (it == names.end())
        return false;
    out = it->second;
    return true;
}

bool CPrepositionList::GetCurrentPrepositionName(std::string& out) {
    out.clear();
    CLockGuard guard(lock);
    return current != -1 && GetPrepositionName(static_cast<unsigned>(current), out);
}

bool CPrepositionList::FindSlot(const std::string& name, unsigned& slot) {
    for (const auto& [s, n] : names)
        if (n == name) {
            slot = s;
            return true;
        }
    return false;
}

bool CPrepositionList::GotoPreposition(const std::string& name, int value) {
    if (name.empty())
        return false;
    CLockGuard guard(lock);
    unsigned slot = 0;
    if (!FindSlot(name, slot))
        return false;
    const auto it = std::find(order.begin(), order.end(), slot);
    if (it == order.end())
        return false;
    const int position = static_cast<int>(it - order.begin());
    if (position == current)
        return true;
    if (!comm || !comm->GotoPreposition(slot, name, value))
        return false;
    current = position;
    return true;
}

int CPrepositionList::AddPreposition(const std::string& name) {
    CLockGuard guard(lock);
    if (!comm)
        return PTZ_FAILED;
    if (!IsValidName(name)) {
        Log(LOG_ERROR, std::string("norvane::CPrepositionList::AddPreposition") +
                           ": A preposition \"" + name +
                           "\" cannot be added - the name is invalid.");
        return PTZ_INVALID_ARGUMENT;
    }
    if (current != -1)
        return RenameCurrentPreposition(name);
    if (order.size() >= maxPrepositions) {
        comm->Log(
            LOG_ERROR,
            "%s: A preposition \"%s\" cannot be added. Camera supports saving not more than %u "
            "prepositions.",
            "norvane::CPrepositionList::AddPreposition", name.c_str(), maxPrepositions);
        return PTZ_PRESETS_FULL;
    }
    unsigned slot = 0;
    while (slot < maxPrepositions && names.count(slot))
        ++slot;
    if (slot >= maxPrepositions)
        return PTZ_PRESETS_FULL;
    if (!comm->SavePreposition(slot, name))
        return PTZ_FAILED;
    names[slot] = name;
    order.push_back(slot);
    current = static_cast<int>(order.size()) - 1;
    return WritePreposition(current, slot, name) ? PTZ_OK : PTZ_FAILED;
}

int CPrepositionList::RenameCurrentPreposition(const std::string& name) {
    CLockGuard guard(lock);
    if (current == -1)
        return PTZ_FAILED;
    if (static_cast<size_t>(current) >= order.size())
        return PTZ_INVALID_ARGUMENT;
    const unsigned slot = order[static_cast<size_t>(current)];
    const auto it = names.find(slot);
    if (it == names.end())
        return PTZ_FAILED;
    if (!WritePreposition(current, slot, name))
        return PTZ_FAILED;
    if (comm)
        comm->Log(LOG_INFO, "%s: A preposition with index %d was renamed from \"%s\" to \"%s\".",
                  "norvane::CPrepositionList::RenameCurrentPreposition", current,
                  it->second.c_str(), name.c_str());
    it->second = name;
    return PTZ_OK;
}

bool CPrepositionList::RemovePreposition(const std::string& name) {
    if (name.empty())
        return false;
    CLockGuard guard(lock);
    unsigned slot = 0;
    if (!FindSlot(name, slot) || !comm)
        return false;
    current = -1;
    if (!comm->RemovePreposition(slot, name))
        return false;
    names.erase(slot);
    order.erase(std::remove(order.begin(), order.end(), slot), order.end());
    return SavePrepositions();
}

void CPrepositionList::ResetCurrentPreposition() {
    CLockGuard guard(lock);
    current = -1;
}

}  // namespace norvane
