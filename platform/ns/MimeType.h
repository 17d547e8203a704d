#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ns {

// MIME types of file-name extensions: what the platform's type database answers.
class MimeType {
public:
    static constexpr const char* kDefault = "application/octet-stream";
    static constexpr const char* kSystemTablePath = "/etc/mime.types";

    // The type for an extension (without the dot, in any letter case): the built-in table of
    // web types first, then the system table; nullopt when neither knows it.
    static std::optional<std::string> forExtension(std::string_view extension);
    // The same, with "application/octet-stream" for an unknown extension.
    static std::string forExtensionOrDefault(std::string_view extension);

    // Reads the system table from another file from now on (tests).
    static void setSystemTablePath(std::string path);
};

}  // namespace ns
