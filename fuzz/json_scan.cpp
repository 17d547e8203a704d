// The balanced JSON scan over untrusted text: the location only moves forward, and what it
// cuts out starts and ends with the brackets asked for.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/ns/UTF16.h"
#include "toolbox/Foundation/NSScanner+TBXNSScannerJSONAdditions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool arrays = data[0] & 1;
    ns::Scanner scanner(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    const size_t end = scanner.units().size();
    std::string json;
    for (int round = 0; round < 64; ++round) {
        const size_t before = scanner.scanLocation();
        const bool found = arrays ? tbx_scanJSONArrayString(scanner, &json)
                                  : tbx_scanJSONObjectString(scanner, &json);
        const size_t after = scanner.scanLocation();
        if (after < before || after > end) std::abort();
        if (!found) {
            if (after >= end) break;
            scanner.setScanLocation(after + 1);  // step over what stopped the scan
            continue;
        }
        if (json.empty() || json.front() != (arrays ? '[' : '{') ||
            json.back() != (arrays ? ']' : '}') || ns::utf16Length(json) > after - before) {
            std::abort();
        }
    }
    return 0;
}
