#include "plugins/media_browser/HYBVideoThumbnail.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "bridge/HYBCommandDelegate.h"
#include "platform/av/AssetImageGenerator.h"
#include "platform/ns/AtomicFile.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/CharacterSet.h"
#include "platform/ns/ConfinedFile.h"
#include "platform/ns/Exception.h"
#include "platform/ns/Format.h"
#include "platform/ns/PercentEncoding.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/StringComponents.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/ImageCodec.h"
#include "platform/ui/Screen.h"
#include "plugins/device_storage/HYBFile.h"
#include "plugins/device_storage/HYBFilesystemURL.h"

namespace {

constexpr const char* kInvalidArgumentException = "NSInvalidArgumentException";

// Characters a URL may carry as they are. Everything else, "%" and "#" included, is escaped,
// so that a name with a space, "#" or "%" stays one path and round-trips when decoded.
const ns::CharacterSet& urlAllowed() {
    static const ns::CharacterSet set = ns::CharacterSet::characterSetWithCharactersInString(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~/:!$&'()*+,;=@");
    return set;
}

std::optional<ns::URL> urlFromEscaped(const std::string& text) {
    return ns::URL::parse(ns::percentEncode(text, urlAllowed()));
}

[[noreturn]] void raise(const std::string& reason) {
    throw ns::Exception(kInvalidArgumentException, reason);
}

double numberOption(const ns::Dictionary& options, const char* key) {
    const auto number = options.at(key).number();
    if (!number) raise(ns::format("-[HYBVideoThumbnail %s]: not a number", key));
    return static_cast<float>(*number);
}

bool isWithin(const std::filesystem::path& path, const std::string& root) {
    std::error_code ec;
    const auto base = std::filesystem::weakly_canonical(root, ec);
    if (root.empty() || ec) return false;
    const auto rel = path.lexically_relative(base);
    return !rel.empty() && *rel.begin() != ".." && rel.native() != ".";
}

// The largest size with the frame's aspect ratio that fits the box.
ui::Size fitted(ui::Size frame, ui::Size box) {
    const double ratio = std::min(box.width / frame.width, box.height / frame.height);
    return {frame.width * ratio, frame.height * ratio};
}

std::shared_ptr<ui::Bitmap> resized(const std::shared_ptr<ui::Bitmap>& frame, double width,
                                    double height) {
    if (!(width > 0) || !(height > 0) || !std::isfinite(width) || !std::isfinite(height)) {
        raise("-[HYBVideoThumbnail createThumbnail:]: resize width and height must be positive");
    }
    const ui::Size size =
        fitted({double(frame->width()), double(frame->height())}, {width, height});
    double scale = ui::Screen::main().scale();
    // A box from the page can be any size: keep the output within what a bitmap may hold.
    const double pixels = size.width * scale * size.height * scale;
    if (pixels > double(ui::Bitmap::kMaxPixelCount)) {
        scale *= std::sqrt(double(ui::Bitmap::kMaxPixelCount) / pixels) * 0.999;
    }
    const double longest = std::max(size.width, size.height) * scale;
    if (longest > ui::Bitmap::kMaxDimension) scale *= ui::Bitmap::kMaxDimension / longest * 0.999;
    auto context = ui::GraphicsContext::beginImageContext(size, true, scale);
    if (!context) return nullptr;
    context->drawBitmap(*frame, {{0, 0}, size});
    return context->bitmap();
}

}  // namespace

HYBVideoThumbnail::HYBVideoThumbnail() {
    registerAction("createThumbnail", &HYBVideoThumbnail::createThumbnail);
}

std::optional<ns::URL> HYBVideoThumbnail::obtainURLForPath(const std::string& path) {
    if (path.starts_with("hybfile://")) {
        std::optional<std::string> local;
        const auto fsURL = HYBFilesystemURL::fileSystemURLWithString(path);
        auto delegate = commandDelegate();
        auto file = std::dynamic_pointer_cast<HYBFile>(
            delegate ? delegate->getCommandInstance("File") : nullptr);
        if (fsURL && file) local = file->filesystemPathForURL(*fsURL);
        if (local) return urlFromEscaped("file://" + *local);
        return urlFromEscaped(path);
    }
    if (path.find("://") != std::string::npos) return urlFromEscaped(path);
    auto delegate = commandDelegate();
    const auto resource = delegate ? delegate->pathForResource(path) : std::nullopt;
    if (!resource) return std::nullopt;
    return urlFromEscaped("file://" + *resource);
}

ns::Result<std::shared_ptr<ui::Bitmap>> HYBVideoThumbnail::frameOfSource(
    const std::optional<ns::URL>& url, double position) {
    const auto path = url ? av::AssetImageGenerator::localPath(*url) : std::nullopt;
    // No local file: the generator refuses it itself.
    auto generator = [&]() -> std::optional<av::AssetImageGenerator> {
        if (!path) return av::AssetImageGenerator(url);
        // Anything the file plug-in may not read reads as a file that is not there, so that
        // the answer tells nothing of what lies outside.
        auto file = ns::ConfinedFile::openForReading(*path);
        if (!file.ok()) return std::nullopt;
        return av::AssetImageGenerator(std::move(file.value()));
    }();
    if (!generator) {
        return ns::Error(
            av::kAVErrorDomain, av::AVErrorFileFormatNotRecognized,
            {{ns::kLocalizedDescriptionKey, std::string("The requested URL was not found.")}});
    }
    generator->setAppliesPreferredTrackTransform(true);
    return generator->copyCGImageAtTime(position);
}

std::optional<ns::ConfinedFile::Entry> HYBVideoThumbnail::writableEntry(const std::string& target) {
    const auto url = obtainURLForPath(target);
    if (!url) return std::nullopt;
    const auto path = av::AssetImageGenerator::localPath(*url);
    if (!path) return std::nullopt;
    // Judged by where the path leads, links resolved, not by how it is spelt.
    std::error_code ec;
    const auto full = std::filesystem::weakly_canonical(*path, ec);
    if (ec || !ns::Sandbox::isInsideContainer(full.string())) return std::nullopt;
    const auto bundle = ns::Bundle::mainBundle();
    if (bundle && isWithin(full, bundle->bundlePath())) return std::nullopt;
    // Opened inside the container in the same step that resolves it, as the file plug-in
    // writes: a folder swapped for a link meanwhile cannot lead the file out.
    auto entry = ns::ConfinedFile::forWriting().openParent(full.string(), true);
    if (!entry.ok()) return std::nullopt;
    return std::move(entry.value());
}

std::shared_ptr<HYBPluginResult> HYBVideoThumbnail::extractThumbnailAtPath(
    const std::string& source, const std::string& target, const ns::Dictionary& options) {
    const auto sourceURL = obtainURLForPath(source);
    const ns::Value sourceText =
        sourceURL ? ns::Value(sourceURL->absoluteString()) : ns::Value::null();
    const double position = numberOption(options, "position");
    const double quality = std::clamp(numberOption(options, "quality"), 0.0, 1.0);
    const auto* mode = options.at("mode").string();
    if (!mode) raise("-[HYBVideoThumbnail createThumbnail:]: mode is not a string");
    const ns::Value& resize = options.contains("resize") ? options.at("resize") : ns::Value::null();
    if (!resize.isNull() && !resize.isDictionary()) {
        raise("-[HYBVideoThumbnail createThumbnail:]: resize is not a dictionary");
    }

    const auto frame = frameOfSource(sourceURL, position);
    if (!frame.ok()) {
        return HYBPluginResult::resultWithStatusMessageAsString(
            HYBResultStatusError,
            ns::format("Could not extract thumbnail from %@ at time %f; err=%@", sourceText,
                       position, frame.error().description()));
    }
    std::shared_ptr<ui::Bitmap> image = frame.value();
    if (resize.isDictionary()) {
        const auto& box = *resize.dictionary();
        const auto width = box.contains("width") ? box.at("width").number() : std::nullopt;
        const auto height = box.contains("height") ? box.at("height").number() : std::nullopt;
        image = resized(image, width ? static_cast<float>(*width) : 0.0,
                        height ? static_cast<float>(*height) : 0.0);
    }
    const auto jpeg = image ? ui::ImageCodec::encodeJPEG(*image, quality) : std::nullopt;
    if (!jpeg) {
        return HYBPluginResult::resultWithStatusMessageAsString(
            HYBResultStatusError,
            ns::format("Didn't get a thumbnail from CGImage using %@", sourceText));
    }

    const std::string lowered = ns::asciiLowercased(*mode);
    if (lowered == "file") {
        const auto entry = writableEntry(target);
        if (!entry) {
            return HYBPluginResult::resultWithStatusMessageAsString(
                HYBResultStatusError,
                ns::format("Target can't be in the bundle. Source: %@, Target: %@", sourceText,
                           target));
        }
        if (!ns::writeFileAtomicallyAt(entry->directory.get(), entry->name, jpeg->chars(), 0644,
                                       entry->path)
                 .ok()) {
            return HYBPluginResult::resultWithStatusMessageAsString(
                HYBResultStatusError,
                ns::format(
                    "Could not create thumbnail. Source: %@, Target: %@, Modified Target: %@",
                    sourceText, target, entry->path));
        }
        return HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, target);
    }
    if (lowered == "array") {
        return HYBPluginResult::resultWithStatusMessageAsArrayBuffer(HYBResultStatusOK, *jpeg);
    }
    return HYBPluginResult::resultWithStatusMessageAsString(
        HYBResultStatusOK, "data:image/jpeg;base64," + jpeg->base64EncodedString());
}

void HYBVideoThumbnail::createThumbnail(const HYBInvokedUrlCommand& command) {
    std::shared_ptr<HYBPluginResult> result;
    try {
        const ns::Value source = command.argumentAtIndex(0);
        const ns::Value target = command.argumentAtIndex(1);
        const ns::Value given = command.argumentAtIndex(2);
        if (!given.isNull() && !given.isDictionary()) {
            raise("-[HYBVideoThumbnail createThumbnail:]: options are not a dictionary");
        }
        if (!source.isString()) raise("-[HYBVideoThumbnail createThumbnail:]: no source");
        if (!target.isNull() && !target.isString()) {
            raise("-[HYBVideoThumbnail createThumbnail:]: target is not a string");
        }
        ns::Dictionary options = given.isDictionary() ? *given.dictionary() : ns::Dictionary();
        options.try_emplace("position", 1.0);
        options.try_emplace("mode", "file");
        options.try_emplace("quality", 0.8);
        result = extractThumbnailAtPath(*source.string(), target.stringValue(), options);
    } catch (const ns::Exception& e) {
        result =
            HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusJSONError, e.reason());
    } catch (const std::exception& e) {
        result =
            HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusJSONError, e.what());
    }
    sendToPage(result, command.callbackId());
}
