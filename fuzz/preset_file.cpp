// Preset file load over arbitrary bytes: the store opens (or keeps aside) the file and the list
// loads and repairs the channel's records.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "ptz/preposition_list.h"

namespace {

const std::string& Directory() {
    static const std::string directory = [] {
        // One directory for every run, so that runs leave at most one behind.
        const std::string path =
            std::filesystem::temp_directory_path().string() + "/tavrin-fuzz-preset";
        std::filesystem::create_directories(path);
        return path;
    }();
    return directory;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string file = "Sanyo_FUZZ.preset";
    const std::string path = Directory() + "/" + file;
    std::filesystem::remove(path + ".bad");
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    TSmartPtr<norvane::CXMLPrepositionReader> store(new norvane::CXMLPrepositionReader("Sanyo"));
    store->Settings().SetBaseDirectory(Directory());
    store->OpenStore(file);
    for (int channel = 0; channel < 2; ++channel) {
        norvane::CPrepositionList list(channel);
        list.SetComm(nullptr, 8);
        list.SetStorage(store);
        if (list.GetPrepositionCount() > 8)
            __builtin_trap();
    }
    return 0;
}
