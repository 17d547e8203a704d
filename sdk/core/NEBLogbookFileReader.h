#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

// Reads the framing of a queue file: records back to back, each a base-128 varint length and
// that many bytes. A process killed inside a write can leave a torn last record; reading stops
// at the first record that does not fit, so only whole records are ever sent.
class NEBLogbookFileReader {
public:
    // How many leading bytes hold whole records.
    static size_t wholeRecordsLength(std::string_view bytes);
    // The whole records' bodies, in file order.
    static std::vector<std::string_view> records(std::string_view bytes);
};
