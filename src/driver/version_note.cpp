// Tavrin.so's file version as an ELF note, read from the file as Tavrin.dll's version resource is.
// TAVRIN_FILE_VERSION is the project's version A,B,C,D.
#include <cstddef>
#include <cstdint>

#include "norvane/version.h"

namespace {

using norvane::kVersionNoteOwner;

struct VersionNote {
    uint32_t ownerSize;
    uint32_t versionSize;
    uint32_t type;
    char owner[(sizeof kVersionNoteOwner + 3) / 4 * 4];
    uint16_t version[4];
};

constexpr VersionNote MakeVersionNote() {
    VersionNote note{sizeof kVersionNoteOwner,
                     sizeof note.version,
                     norvane::kVersionNoteType,
                     {},
                     {TAVRIN_FILE_VERSION}};
    for (size_t i = 0; i < sizeof kVersionNoteOwner; ++i)
        note.owner[i] = kVersionNoteOwner[i];
    return note;
}

[[gnu::used, gnu::section(".note.tavrin.version")]] alignas(4) const VersionNote kVersionNote =
    MakeVersionNote();

}  // namespace
