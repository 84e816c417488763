#pragma once

// Small archives described compactly, for the extractor targets. The images of an archive sit on
// 2048-byte sectors, so a plain byte string would need tens of kilobytes of padding for a few
// tracks. Instead the input is a list of records, each placing bytes at the start of a sector:
//   u8 sector, u16 little-endian length, then that many bytes (fewer when the input ends)
// The archive is zeros except where records put bytes (a later record overwrites an earlier
// one), and it ends with the last byte a record placed. Every archive of up to 256 sectors can
// be written this way.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sorvik::fuzz {

constexpr std::size_t kArchiveSector = 2048;

inline std::vector<std::uint8_t> BuildArchive(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> archive;
    std::size_t at = 0;
    while (size - at >= 3) {
        const std::size_t start = data[at] * kArchiveSector;
        std::size_t length = static_cast<std::size_t>(data[at + 1] | data[at + 2] << 8);
        at += 3;
        length = std::min(length, size - at);
        if (archive.size() < start + length) archive.resize(start + length);
        std::copy(data + at, data + at + length, archive.begin() + static_cast<long>(start));
        at += length;
    }
    return archive;
}

// The inverse for seeds: one record per sector that holds a non-zero byte.
inline std::vector<std::uint8_t> DescribeArchive(const std::vector<std::uint8_t>& archive) {
    std::vector<std::uint8_t> records;
    for (std::size_t sector = 0; sector * kArchiveSector < archive.size() && sector < 256;
         ++sector) {
        const auto first = archive.begin() + static_cast<long>(sector * kArchiveSector);
        const auto end = archive.begin() +
                         static_cast<long>(std::min(archive.size(), (sector + 1) * kArchiveSector));
        auto last = end;
        while (last != first && *(last - 1) == 0) --last;
        // The archive's last sector keeps its trailing zeros, so the archive keeps its length.
        if (end == archive.end()) last = end;
        if (last == first) continue;
        const auto length = static_cast<std::size_t>(last - first);
        records.push_back(static_cast<std::uint8_t>(sector));
        records.push_back(static_cast<std::uint8_t>(length));
        records.push_back(static_cast<std::uint8_t>(length >> 8));
        records.insert(records.end(), first, last);
    }
    return records;
}

}  // namespace sorvik::fuzz
