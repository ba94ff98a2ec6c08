// POSIX: dlopen, and the version note read from the ELF file.
#include "host/module_loader.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "norvane/version.h"

namespace host {

namespace {

using norvane::kVersionNoteOwner;
using norvane::kVersionNoteType;

bool ReadAt(int fd, void* out, size_t size, uint64_t offset) {
    return pread(fd, out, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

// The version note among the notes of one segment.
bool FindVersionNote(const std::string& notes, size_t align, std::array<uint16_t, 4>& version) {
    const auto padded = [align](size_t n) { return (n + align - 1) / align * align; };
    const size_t ownerSize = sizeof kVersionNoteOwner;
    for (size_t at = 0; at + sizeof(ElfW(Nhdr)) <= notes.size();) {
        ElfW(Nhdr) note{};
        std::memcpy(&note, notes.data() + at, sizeof note);
        if (note.n_namesz > notes.size() || note.n_descsz > notes.size())
            return false;
        const size_t name = at + sizeof note;
        const size_t description = name + padded(note.n_namesz);
        const size_t next = description + padded(note.n_descsz);
        if (next > notes.size())
            return false;
        if (note.n_type == kVersionNoteType && note.n_namesz == ownerSize &&
            note.n_descsz == sizeof version &&
            std::memcmp(notes.data() + name, kVersionNoteOwner, ownerSize) == 0) {
            std::memcpy(version.data(), notes.data() + description, sizeof version);
            return true;
        }
        at = next;
    }
    return false;
}

// The version note of an ELF file of this process's class, from its note segments.
bool ReadVersionNote(int fd, std::array<uint16_t, 4>& version) {
    ElfW(Ehdr) header{};
    if (!ReadAt(fd, &header, sizeof header, 0) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != (sizeof(ElfW(Addr)) == 8 ? ELFCLASS64 : ELFCLASS32) ||
        header.e_phentsize != sizeof(ElfW(Phdr)))
        return false;
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        ElfW(Phdr) segment{};
        if (!ReadAt(fd, &segment, sizeof segment, header.e_phoff + uint64_t{i} * sizeof segment))
            return false;
        if (segment.p_type != PT_NOTE || segment.p_filesz > 65536)
            continue;
        std::string notes(segment.p_filesz, '\0');
        if (!ReadAt(fd, notes.data(), notes.size(), segment.p_offset))
            return false;
        if (FindVersionNote(notes, segment.p_align == 8 ? 8 : 4, version))
            return true;
    }
    return false;
}

}  // namespace

void* LoadModule(const std::string& path, std::string* error) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module && error) {
        const char* reason = dlerror();
        *error = reason ? reason : "unknown error";
    }
    return module;
}

void* ModuleSymbol(void* module, const char* name) {
    return module ? dlsym(module, name) : nullptr;
}

void UnloadModule(void* module) {
    if (module)
        dlclose(module);
}

bool FileVersion(const std::string& path, std::array<uint16_t, 4>& version) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool found = ReadVersionNote(fd, version);
    close(fd);
    return found;
}

std::string ExecutableDirectory() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.parent_path().string();
}

}  // namespace host
