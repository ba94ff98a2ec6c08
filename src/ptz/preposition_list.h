// Stored camera positions of one PTZ channel: host-chosen names, list-chosen slots (the camera
// stores slot + 1), the position the head stands on, and a mirror of every change in the preset
// file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "foundation/lock.h"
#include "foundation/smart_ptr.h"
#include "ptz/preposition_reader.h"

namespace norvane {

class IPrepositionComm;

class CPrepositionList {
public:
    explicit CPrepositionList(int channel);

    virtual bool WritePreposition(int position, unsigned slot, const std::string& name);
    // Rewrites the channel's part of the file from the list.
    virtual bool SavePrepositions();
    // Reads the channel's records; a file with gaps, slots beyond the camera's limit or repeated
    // slots is rewritten once to match the list, after a backup; each dropped record is logged.
    virtual void LoadPrepositions();
    virtual ~CPrepositionList();
    virtual bool SetStorage(TSmartPtr<CXMLPrepositionReader> store);
    virtual int GetPrepositionCount();
    virtual bool GetPrepositionName(unsigned position, std::string& out);
    virtual bool GotoPreposition(const std::string& name, int value);
    // PTZ_OK, PTZ_INVALID_ARGUMENT, PTZ_FAILED or PTZ_PRESETS_FULL.
    virtual int AddPreposition(const std::string& name);
    virtual bool RemovePreposition(const std::string& name);
    virtual bool GetCurrentPrepositionName(std::string& out);

    void ResetCurrentPreposition();
    int RenameCurrentPreposition(const std::string& name);
    // Attaches the camera side (null detaches it, waiting for calls in progress).
    void SetComm(IPrepositionComm* comm, uint32_t maxPrepositions);

    static bool IsValidName(const std::string& name);

private:
    // Slot of the name, the lowest when several share it.
    bool FindSlot(const std::string& name, unsigned& slot);
    // Takes the record at the file position into the list; false when the file must change.
    bool LoadRecord(int position);
    void LogDropped(int position, const std::string& name, const std::string& reason);
    void Log(int type, const std::string& text);

    int channel;
    IPrepositionComm* comm = nullptr;
    uint32_t maxPrepositions = 0;
    TSmartPtr<CXMLPrepositionReader> store;
    CLock lock;
    std::map<unsigned, std::string> names;
    std::vector<unsigned> order;
    int current = -1;
};

}  // namespace norvane
