#include "camsim/media_files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace camsim {

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Bytes> ReadJpegFolder(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error))
        if (entry.is_regular_file() && entry.path().extension() == ".jpg")
            names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    std::vector<Bytes> pictures;
    for (const std::string& name : names) {
        Bytes bytes = ReadFileBytes(name);
        if (!bytes.empty())
            pictures.push_back(std::move(bytes));
    }
    return pictures;
}

}  // namespace camsim
