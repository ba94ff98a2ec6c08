#include "camsim/jpeg_picture.h"

#include <algorithm>
#include <optional>

namespace camsim {

namespace {

struct Component {
    uint8_t sampling;
    uint8_t table;
};

struct Parser {
    const std::vector<uint8_t>& file;
    JpegPicture& out;
    std::array<std::optional<std::array<uint8_t, 64>>, 4> tables{};
    std::array<Component, 3> components{};
    bool frameSeen = false;

    bool ReadTables(size_t pos, size_t end) {
        while (pos < end) {
            const uint8_t pq = file[pos] >> 4, tq = file[pos] & 0x0F;
            if (pq != 0 || tq > 3 || end - pos < 65)
                return false;
            std::array<uint8_t, 64>& table = tables[tq].emplace();
            std::copy_n(file.begin() + static_cast<ptrdiff_t>(pos + 1), 64, table.begin());
            pos += 65;
        }
        return true;
    }

    bool ReadFrame(size_t pos, size_t length) {
        if (length != 17 || file[pos] != 8 || file[pos + 5] != 3)
            return false;
        out.height = static_cast<uint16_t>(file[pos + 1] << 8 | file[pos + 2]);
        out.width = static_cast<uint16_t>(file[pos + 3] << 8 | file[pos + 4]);
        for (size_t c = 0; c < 3; ++c)
            components[c] = {file[pos + 7 + 3 * c], file[pos + 8 + 3 * c]};
        frameSeen = true;
        return true;
    }

    bool ReadRestartInterval(size_t pos, size_t length) {
        if (length != 4)
            return false;
        out.restartInterval = static_cast<uint16_t>(file[pos] << 8 | file[pos + 1]);
        return true;
    }

    bool Finish(size_t scanStart) {
        const bool sizeOk = out.width && out.height && out.width % 8 == 0 &&
                            out.height % 8 == 0 && out.width <= 2040 && out.height <= 2040;
        const uint8_t luma = components[0].sampling;
        if (!frameSeen || !sizeOk || (luma != 0x21 && luma != 0x22) ||
            components[1].sampling != 0x11 || components[2].sampling != 0x11 ||
            components[1].table != components[2].table || components[0].table > 3 ||
            components[1].table > 3 || !tables[components[0].table] ||
            !tables[components[1].table])
            return false;
        out.type = luma == 0x21 ? 0 : 1;
        out.luma = *tables[components[0].table];
        out.chroma = *tables[components[1].table];
        out.scan.assign(file.begin() + static_cast<ptrdiff_t>(scanStart), file.end());
        const auto eoi = std::search(out.scan.begin(), out.scan.end(), kEoi.begin(), kEoi.end());
        if (eoi == out.scan.end())
            return false;
        out.scan.erase(eoi + 2, out.scan.end());
        return true;
    }

    static constexpr std::array<uint8_t, 2> kEoi{0xFF, 0xD9};
};

}  // namespace

bool ParseJpeg(const std::vector<uint8_t>& file, JpegPicture& out) {
    if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8)
        return false;
    Parser parser{file, out};
    size_t pos = 2;
    while (pos + 4 <= file.size()) {
        if (file[pos] != 0xFF)
            return false;
        const uint8_t marker = file[pos + 1];
        const size_t length = static_cast<size_t>(file[pos + 2] << 8 | file[pos + 3]);
        if (length < 2 || pos + 2 + length > file.size())
            return false;
        const size_t body = pos + 4, end = pos + 2 + length;
        bool ok = true;
        if (marker == 0xDB)
            ok = parser.ReadTables(body, end);
        else if (marker == 0xC0)
            ok = parser.ReadFrame(body, length);
        else if (marker == 0xDD)
            ok = parser.ReadRestartInterval(body, length);
        else if (marker == 0xDA)
            return parser.Finish(end);
        else if ((marker >= 0xC1 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                  marker != 0xCC))
            ok = false;  // not baseline sequential Huffman
        if (!ok)
            return false;
        pos = end;
    }
    return false;
}

}  // namespace camsim
