#include "camsim/annexb.h"

#include <fstream>
#include <iterator>

namespace camsim {

namespace {

// Offset just past the next start code at or after `from`, or size when there is none.
size_t NextUnitStart(const std::vector<uint8_t>& s, size_t from) {
    for (size_t i = from; i + 2 < s.size(); ++i) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1)
            return i + 3;
    }
    return s.size();
}

int NalType(const NalUnit& unit) { return unit.empty() ? 0 : unit[0] & 0x1F; }

bool IsSlice(const NalUnit& unit) {
    const int type = NalType(unit);
    return type >= 1 && type <= 5;
}

// first_mb_in_slice is ue(v); it is 0 exactly when its first bit is 1.
bool StartsPicture(const NalUnit& unit) { return unit.size() > 1 && (unit[1] & 0x80); }

bool StartsAccessUnit(const NalUnit& unit) {
    const int type = NalType(unit);
    return (type >= 6 && type <= 9) || (IsSlice(unit) && StartsPicture(unit));
}

}  // namespace

std::vector<NalUnit> SplitNalUnits(const std::vector<uint8_t>& stream) {
    std::vector<NalUnit> units;
    size_t start = NextUnitStart(stream, 0);
    while (start < stream.size()) {
        const size_t next = NextUnitStart(stream, start);
        size_t end = next == stream.size() ? next : next - 3;
        while (end > start && stream[end - 1] == 0)
            --end;
        if (end > start)
            units.emplace_back(stream.begin() + static_cast<ptrdiff_t>(start),
                               stream.begin() + static_cast<ptrdiff_t>(end));
        start = next;
    }
    return units;
}

std::vector<AccessUnit> SplitAccessUnits(const std::vector<NalUnit>& units) {
    std::vector<AccessUnit> result;
    bool sliceSeen = false;
    for (const NalUnit& unit : units) {
        if (result.empty() || (sliceSeen && StartsAccessUnit(unit))) {
            result.emplace_back();
            sliceSeen = false;
        }
        result.back().push_back(unit);
        sliceSeen = sliceSeen || IsSlice(unit);
    }
    return result;
}

std::vector<uint8_t> ToAnnexB(const AccessUnit& unit) {
    std::vector<uint8_t> out;
    for (const NalUnit& nal : unit) {
        out.insert(out.end(), {0, 0, 1});
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& out) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    out.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

}  // namespace camsim
