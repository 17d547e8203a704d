#pragma once

#include <string>
#include <vector>

namespace ns {

// Picks, from the localizations that something offers, the one to use for a list of language
// preferences, the way the bundle's preferred-localizations query does.
class PreferredLocalizations {
public:
    // The best entry of `localizations` (as written there) for the first preference that any
    // entry serves; empty when none serves any. A preference is served by an entry with the
    // same tag ("_" and "-" alike, any letter case), else by one whose language, script and
    // region agree once the likely subtags are filled in ("zh-Hant" finds "zh-TW", "pt" finds
    // "pt-BR"), else by one with the same language and script (the first in list order).
    static std::vector<std::string> fromArray(const std::vector<std::string>& localizations,
                                              const std::vector<std::string>& preferences);
};

}  // namespace ns
