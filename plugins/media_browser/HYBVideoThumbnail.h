#pragma once

#include <memory>
#include <optional>
#include <string>

#include "bridge/HYBPlugin.h"
#include "bridge/HYBPluginResult.h"
#include "platform/ns/ConfinedFile.h"
#include "platform/ns/Result.h"
#include "platform/ns/URL.h"
#include "platform/ns/Value.h"
#include "platform/ui/Bitmap.h"

// The page's video thumbnails: a still frame of a local video at a given time, optionally
// fitted into a box, encoded as JPEG and handed back as a file, an ArrayBuffer or a data URL.
class HYBVideoThumbnail : public HYBPlugin {
public:
    static constexpr const char* kClassName = "HYBVideoThumbnail";

    HYBVideoThumbnail();

    // Page action: [source, target, options].
    void createThumbnail(const HYBInvokedUrlCommand& command);

    // A "hybfile" URL's local file, any other URL as it stands, or a file of the web content.
    std::optional<ns::URL> obtainURLForPath(const std::string& path);
    // `options` already holds the defaults; throws ns::Exception for malformed options.
    std::shared_ptr<HYBPluginResult> extractThumbnailAtPath(const std::string& source,
                                                            const std::string& target,
                                                            const ns::Dictionary& options);

private:
    // The frame of the source at `position`. A local file is read only where the file plug-in
    // may read, opened in the same step that confines it (links followed only within); one it
    // may not read answers as a missing file. Any other URL goes to the generator as it is.
    static ns::Result<std::shared_ptr<ui::Bitmap>> frameOfSource(const std::optional<ns::URL>& url,
                                                                 double position);
    // The folder and name a "file" mode thumbnail may be written to, or nothing: only a file
    // URL whose path lies inside the container (links resolved) and outside the bundle.
    std::optional<ns::ConfinedFile::Entry> writableEntry(const std::string& target);
};
