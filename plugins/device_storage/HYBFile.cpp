#include "plugins/device_storage/HYBFile.h"

#include <algorithm>
#include <filesystem>

#include "bridge/HYBCommandDelegate.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/HYBViewController.h"
#include "bridge/NSDictionary+HybridPreferences.h"
#include "platform/dispatch/Mutex.h"
#include "platform/net/URLProtocol.h"
#include "platform/ns/CharacterSet.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/Format.h"
#include "platform/ns/Log.h"
#include "platform/ns/PercentEncoding.h"
#include "platform/ns/Sandbox.h"
#include "platform/ns/StringComponents.h"
#include "platform/ns/UTF8.h"
#include "plugins/device_storage/HYBAssetLibraryFilesystem.h"
#include "plugins/device_storage/HYBFileLocks.h"
#include "plugins/device_storage/HYBFilesystemURLProtocol.h"
#include "plugins/device_storage/HYBLocalFilesystem.h"

namespace {

constexpr const char* kPersistentLocationError =
    "File plugin configuration error: Please set iosPersistentFileLocation in config.xml to one "
    "of \"library\" (for new applications) or \"compatibility\" (for compatibility with previous "
    "versions)";

struct SharedInstance {
    dispatch::Mutex mutex;
    std::weak_ptr<HYBFile> plugin GUARDED_BY(mutex);
};

SharedInstance& sharedInstanceSlot() {
    static auto* slot = new SharedInstance;
    return *slot;
}

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string directoryURL(const std::string& path) {
    return ns::URL::fileURLWithPath(path, true).absoluteString();
}

// A root that is never written to needs no folder; the others are made and kept out of
// backups. Failures are left to the operations that use the folder.
void makeNonSyncing(const std::string& path) {
    auto& fm = ns::FileManager::defaultManager();
    (void)fm.createDirectory(path, true);
    (void)fm.setExcludedFromBackup(path, true);
}

// One character per byte, as the page's binary strings are: byte b becomes U+00bb.
std::string binaryString(const ns::Data& data) {
    std::string out;
    out.reserve(data.length() * 2);
    for (uint8_t b : data.vector()) {
        if (b < 0x80) {
            out += static_cast<char>(b);
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

// A read whose range holds more than this many bytes reaches a page that takes answers in
// pieces in runs of this many, each handed on once the page has room for it while the next is
// read: the host holds a few runs, never the whole answer. A multiple of three, so that the
// runs' Base64 texts join into the whole's.
constexpr uint64_t kReadRunBytes = uint64_t{3} << 20;

// How much of `bytes` ends on a whole UTF-8 character: a character cut at the end is left
// for the next run (whether the rest is well-formed is checked apart).
size_t wholeCharacters(std::string_view bytes) {
    const auto* end = reinterpret_cast<const unsigned char*>(bytes.data() + bytes.size());
    for (size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
        const unsigned char* p = end - back;
        if ((*p & 0xC0) == 0x80) continue;
        const auto start = ns::utf8::sequenceStart(p, end);
        return start.length > back && start.valid == back ? bytes.size() - back : bytes.size();
    }
    return bytes.size();
}

// The full path below the root, or "" for the root however it is spelt ("/.", "//", "/a/..").
bool namesRoot(const std::optional<std::string>& fullPath) {
    if (!fullPath) return false;
    auto confined = HYBLocalFilesystem::confinedFullPath(fullPath->substr(0, fullPath->find('?')));
    return confined && confined->empty();
}

}  // namespace

HYBFile::HYBFile() {
    registerAction("requestFileSystem", &HYBFile::requestFileSystem);
    registerAction("requestAllFileSystems", &HYBFile::requestAllFileSystems);
    registerAction("requestAllPaths", &HYBFile::requestAllPaths);
    registerAction("resolveLocalFileSystemURI", &HYBFile::resolveLocalFileSystemURI);
    registerAction("_getLocalFilesystemPath", &HYBFile::_getLocalFilesystemPath);
    registerAction("getFile", &HYBFile::getFile);
    registerAction("getDirectory", &HYBFile::getDirectory);
    registerAction("getParent", &HYBFile::getParent);
    registerAction("setMetadata", &HYBFile::setMetadata);
    registerAction("remove", &HYBFile::remove);
    registerAction("removeRecursively", &HYBFile::removeRecursively);
    registerAction("copyTo", &HYBFile::copyTo);
    registerAction("moveTo", &HYBFile::moveTo);
    registerAction("getFileMetadata", &HYBFile::getFileMetadata);
    registerAction("readEntries", &HYBFile::readEntries);
    registerAction("readAsText", &HYBFile::readAsText);
    registerAction("readAsDataURL", &HYBFile::readAsDataURL);
    registerAction("readAsArrayBuffer", &HYBFile::readAsArrayBuffer);
    registerAction("readAsBinaryString", &HYBFile::readAsBinaryString);
    registerAction("write", &HYBFile::write);
    registerAction("truncate", &HYBFile::truncate);
    registerAction("testFileExists", &HYBFile::testFileExists);
    registerAction("testDirectoryExists", &HYBFile::testDirectoryExists);
    registerAction("getFreeDiskSpace", &HYBFile::getFreeDiskSpace);
}

std::shared_ptr<HYBFile> HYBFile::sharedInstance() {
    auto& slot = sharedInstanceSlot();
    dispatch::Lock lock(slot.mutex);
    return slot.plugin.lock();
}

// --- Initialisation ----------------------------------------------------------------------------

void HYBFile::pluginInitialize() {
    {
        auto& slot = sharedInstanceSlot();
        dispatch::Lock lock(slot.mutex);
        slot.plugin = sharedSelf<HYBFile>();
    }
    net::URLProtocol::registerClass<HYBFilesystemURLProtocol>();
    fileSystems_.clear();
    fileSystems_.reserve(3);

    appLibraryPath_ = ns::Sandbox::libraryDirectory() + "/files";
    appTempPath_ = withoutTrailingSlash(
        std::filesystem::path(ns::Sandbox::temporaryDirectory()).lexically_normal().string());
    rootDocsPath_ = ns::Sandbox::documentsDirectory();

    auto controller = viewController();
    const ns::Dictionary settings = controller ? controller->settings() : ns::Dictionary();
    const std::string location = ns::asciiLowercased(
        hybridStringSettingForKey(settings, kPersistentLocationKey).value_or("compatibility"));

    auto& fm = ns::FileManager::defaultManager();
    if (auto status = fm.createDirectory(appTempPath_, true); status) {
        registerLocalFilesystem("temporary", appTempPath_);
    } else {
        ns::nslog("Unable to create temporary directory: %@", status.error());
    }
    if (location == "library") {
        if (auto status = fm.createDirectory(appLibraryPath_, true); status) {
            registerLocalFilesystem("persistent", appLibraryPath_);
        } else {
            ns::nslog("Unable to create library directory: %@", status.error());
        }
    } else if (location == "compatibility") {
        registerLocalFilesystem("persistent", rootDocsPath_);
    } else {
        // A configuration fault of the application: said loudly, but the page must not be able
        // to bring the host down with its config.xml.
        ns::Log::write(ns::LogLevel::Fault, kPersistentLocationError);
        return;
    }
    registerFilesystem(std::make_shared<HYBAssetLibraryFilesystem>(kHYBAssetsLibraryPrefix));
    registerExtraFileSystems(settings);
}

void HYBFile::registerLocalFilesystem(const std::string& name, const std::string& root) {
    registerFilesystem(std::make_shared<HYBLocalFilesystem>(name, root));
}

void HYBFile::registerExtraFileSystems(const ns::Dictionary& settings) {
    const std::string list =
        ns::asciiLowercased(hybridStringSettingForKey(settings, kExtraFilesystemsKey)
                                .value_or(kDefaultExtraFilesystems));
    const std::vector<std::string_view> names = ns::componentsSeparatedByCharacter(list, ',');
    const std::string library = ns::Sandbox::libraryDirectory();
    const std::string documents = ns::Sandbox::documentsDirectory();
    const std::vector<std::pair<std::string, std::string>> roots = {
        {"library", library},
        {"library-nosync", library + "/NoCloud"},
        {"documents", documents},
        {"documents-nosync", documents + "/NoCloud"},
        {"cache", ns::Sandbox::cachesDirectory()},
        {"bundle", ns::Sandbox::bundleDirectory()},
        {"root", "/"},
    };
    auto listed = [&](std::string_view name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    if (listed("library-nosync")) makeNonSyncing(library + "/NoCloud");
    if (listed("documents-nosync")) makeNonSyncing(documents + "/NoCloud");

    std::vector<std::string> registered;
    for (const auto& name : names) {
        if (std::find(registered.begin(), registered.end(), name) != registered.end()) continue;
        auto root = std::find_if(roots.begin(), roots.end(),
                                 [&](const auto& entry) { return entry.first == name; });
        if (root == roots.end()) {
            ns::nslog("Unrecognized extra filesystem identifier: %@", name);
            continue;
        }
        registerLocalFilesystem(std::string(name), root->second);
        registered.emplace_back(name);
    }
}

void HYBFile::registerFilesystem(const std::shared_ptr<HYBFileSystem>& fileSystem) {
    auto weak = weakSelf<HYBFile>();
    fileSystem->setUrlTransformer([weak](const ns::URL& url) {
        auto self = weak.lock();
        auto delegate = self ? self->commandDelegate() : nullptr;
        auto transformer = delegate ? delegate->urlTransformer() : nullptr;
        return transformer ? transformer(url) : url;
    });
    fileSystems_.push_back(fileSystem);
}

// --- Registry and path services ----------------------------------------------------------------

std::shared_ptr<HYBFileSystem> HYBFile::fileSystemByName(std::string_view name) const {
    for (const auto& fs : fileSystems_) {
        if (fs->name() == name) return fs;
    }
    return nullptr;
}

std::shared_ptr<HYBFileSystem> HYBFile::filesystemForURL(const HYBFilesystemURL& url) const {
    if (!url.fileSystemName()) return nullptr;
    return fileSystemByName(*url.fileSystemName());
}

std::optional<std::string> HYBFile::getMimeTypeFromPath(const std::string& path) const {
    return HYBLocalFilesystem::getMimeTypeFromPath(path);
}

std::optional<HYBFilesystemURL> HYBFile::fileSystemURLforLocalPath(
    const std::string& localPath) const {
    std::optional<HYBFilesystemURL> best;
    for (const auto& fs : fileSystems_) {
        if (!fs->answersURLforFilesystemPath()) continue;
        auto url = fs->URLforFilesystemPath(localPath);
        if (!url || !url->fullPath()) continue;
        if (!best || url->fullPath()->size() < best->fullPath()->size()) best = std::move(url);
    }
    return best;
}

std::optional<std::string> HYBFile::filesystemPathForURL(const HYBFilesystemURL& url) const {
    auto fs = filesystemForURL(url);
    return fs ? fs->filesystemPathForURL(url) : std::nullopt;
}

std::optional<HYBFilesystemURL> HYBFile::fileSystemURLforArg(const std::string& arg) const {
    if (arg.rfind("file://", 0) == 0) {
        auto url = ns::URL::parse(arg);
        if (!url) return std::nullopt;
        std::error_code ec;
        auto resolved = std::filesystem::weakly_canonical(url->path(), ec);
        return fileSystemURLforLocalPath(ec ? url->path() : resolved.string());
    }
    return HYBFilesystemURL(arg);
}

std::optional<ns::Dictionary> HYBFile::makeEntryForPath(const std::string& fullPath,
                                                        const std::string& fileSystemName,
                                                        bool isDirectory) const {
    auto fs = fileSystemByName(fileSystemName);
    if (!fs) return std::nullopt;
    return fs->makeEntryForPath(fullPath, isDirectory);
}

std::optional<ns::Dictionary> HYBFile::makeEntryForLocalURL(const HYBFilesystemURL& url) const {
    auto fs = filesystemForURL(url);
    return fs ? fs->makeEntryForLocalURL(url) : std::nullopt;
}

std::optional<ns::Dictionary> HYBFile::makeEntryForURL(const ns::URL& url) const {
    auto fsURL = fileSystemURLforArg(url.absoluteString());
    return fsURL ? makeEntryForLocalURL(*fsURL) : std::nullopt;
}

std::optional<ns::Dictionary> HYBFile::getDirectoryEntry(const std::string& localPath,
                                                         bool isDirectory) const {
    auto url = fileSystemURLforLocalPath(localPath);
    if (!url || !url->fullPath() || !url->fileSystemName()) return std::nullopt;
    return makeEntryForPath(*url->fullPath(), *url->fileSystemName(), isDirectory);
}

std::optional<uint64_t> HYBFile::checkFreeDiskSpace(const std::string& path) {
    auto attributes = ns::FileManager::defaultManager().attributesOfFileSystem(path);
    if (!attributes) return std::nullopt;
    return attributes->freeSize;
}

std::optional<std::string> HYBFile::encodePath(std::string_view path) {
    auto decoded = ns::percentDecode(path);
    if (!decoded) return std::nullopt;
    return ns::percentEncode(*decoded, ns::CharacterSet::URLLegalCharacterSet());
}

// --- Helpers of the actions --------------------------------------------------------------------

void HYBFile::send(const std::shared_ptr<HYBPluginResult>& result,
                   const HYBInvokedUrlCommand& command) {
    sendToPage(result, command.callbackId());
}

void HYBFile::sendFromBackground(const std::weak_ptr<HYBFile>& plugin,
                                 const std::shared_ptr<HYBPluginResult>& result,
                                 const std::optional<std::string>& callbackId) {
    auto self = plugin.lock();
    if (!self) return;
    self->sendToPage(result, callbackId);
}

std::shared_ptr<HYBFileSystem> HYBFile::argumentFileSystem(
    const HYBInvokedUrlCommand& command, size_t index, std::optional<HYBFilesystemURL>& url) const {
    const ns::Value arg = command.argumentAtIndex(index);
    url = arg.isString() ? fileSystemURLforArg(*arg.string()) : std::nullopt;
    return url ? filesystemForURL(*url) : nullptr;
}

// --- File systems ------------------------------------------------------------------------------

void HYBFile::requestFileSystem(const HYBInvokedUrlCommand& command) {
    const int type = command.argumentAtIndex(0).intValue();
    const uint64_t size = static_cast<uint64_t>(command.argumentAtIndex(1).longLongValue());
    if (type < 0 || static_cast<size_t>(type) >= fileSystems_.size()) {
        ns::nslog("No filesystem of type requested");
        return send(HYBPluginResult::resultWithStatusMessageAsInt(HYBResultStatusError, 1),
                    command);
    }
    auto free = checkFreeDiskSpace(rootDocsPath_);
    if (free && *free < size) return send(fileIOError(QUOTA_EXCEEDED_ERR), command);
    const auto& fs = fileSystems_[static_cast<size_t>(type)];
    ns::Dictionary answer{{"name", fs->name()}, {"root", fs->makeEntryForPath("/", true)}};
    send(HYBPluginResult::resultWithStatusMessageAsDictionary(HYBResultStatusOK, std::move(answer)),
         command);
}

void HYBFile::requestAllFileSystems(const HYBInvokedUrlCommand& command) {
    ns::Array roots;
    for (const auto& fs : fileSystems_) roots.emplace_back(fs->makeEntryForPath("/", true));
    send(HYBPluginResult::resultWithStatusMessageAsArray(HYBResultStatusOK, std::move(roots)),
         command);
}

void HYBFile::requestAllPaths(const HYBInvokedUrlCommand& command) {
    auto& fm = ns::FileManager::defaultManager();
    const std::string library = ns::Sandbox::libraryDirectory();
    (void)fm.createDirectory(library + "/Cloud", true);
    makeNonSyncing(library + "/NoCloud");
    ns::Dictionary paths{
        {"applicationDirectory", directoryURL(ns::Sandbox::bundleDirectory())},
        {"applicationStorageDirectory", directoryURL(ns::Sandbox::homeDirectory())},
        {"dataDirectory", directoryURL(library + "/NoCloud")},
        {"syncedDataDirectory", directoryURL(library + "/Cloud")},
        {"documentsDirectory", directoryURL(ns::Sandbox::documentsDirectory())},
        {"cacheDirectory", directoryURL(ns::Sandbox::cachesDirectory())},
        {"tempDirectory", directoryURL(ns::Sandbox::temporaryDirectory())},
    };
    send(HYBPluginResult::resultWithStatusMessageAsDictionary(HYBResultStatusOK, std::move(paths)),
         command);
}

void HYBFile::resolveLocalFileSystemURI(const HYBInvokedUrlCommand& command) {
    const ns::Value arg = command.argumentAtIndex(0);
    std::optional<std::string> encoded = arg.isString() ? encodePath(*arg.string()) : std::nullopt;
    std::optional<HYBFilesystemURL> url;
    if (encoded) url.emplace(*encoded);
    auto fs = url && url->url() ? filesystemForURL(*url) : nullptr;
    if (!fs) {
        return send(
            HYBPluginResult::resultWithStatusMessageAsInt(HYBResultStatusError, ENCODING_ERR),
            command);
    }
    send(fs->entryForLocalURI(*url), command);
}

void HYBFile::_getLocalFilesystemPath(const HYBInvokedUrlCommand& command) {
    const ns::Value arg = command.argumentAtIndex(0);
    auto url = arg.isString() ? fileSystemURLforArg(*arg.string()) : std::nullopt;
    auto path = url ? filesystemPathForURL(*url) : std::nullopt;
    if (!path) {
        return send(HYBPluginResult::resultWithStatusMessageAsString(
                        HYBResultStatusError, "Cannot resolve URL to a file"),
                    command);
    }
    send(HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK, *path), command);
}

// --- Entries -----------------------------------------------------------------------------------

void HYBFile::getFile(const HYBInvokedUrlCommand& command) {
    std::optional<HYBFilesystemURL> url;
    auto fs = argumentFileSystem(command, 0, url);
    if (!fs) return send(fileIOError(NOT_FOUND_ERR), command);
    send(fs->getFileForURL(*url, command.argumentAtIndex(1), command.argumentAtIndex(2)), command);
}

void HYBFile::getDirectory(const HYBInvokedUrlCommand& command) {
    ns::Array arguments = command.arguments();
    ns::Dictionary options;
    if (arguments.size() >= 3 && arguments[2].isDictionary()) options = *arguments[2].dictionary();
    options.insert_or_assign("getDir", 1);
    if (arguments.size() >= 3) {
        arguments[2] = ns::Value(std::move(options));
    } else {
        arguments.emplace_back(std::move(options));
    }
    getFile(HYBInvokedUrlCommand(std::move(arguments), command.callbackId(), command.className(),
                                 command.methodName()));
}

void HYBFile::getParent(const HYBInvokedUrlCommand& command) {
    std::optional<HYBFilesystemURL> url;
    auto fs = argumentFileSystem(command, 0, url);
    if (!fs) return send(fileIOError(NOT_FOUND_ERR), command);
    send(fs->getParentForURL(*url), command);
}

void HYBFile::setMetadata(const HYBInvokedUrlCommand& command) {
    std::optional<HYBFilesystemURL> url;
    auto fs = argumentFileSystem(command, 0, url);
    if (!fs) return send(fileIOError(NOT_FOUND_ERR), command);
    send(fs->setMetadataForURL(*url, command.argumentAtIndex(1)), command);
}

void HYBFile::remove(const HYBInvokedUrlCommand& command) {
    std::optional<HYBFilesystemURL> url;
    auto fs = argumentFileSystem(command, 0, url);
    if (url && namesRoot(url->fullPath())) {
        return send(fileIOError(NO_MODIFICATION_ALLOWED_ERR), command);
    }
    if (!fs) return send(fileIOError(NOT_FOUND_ERR), command);
    send(fs->removeFileAtURL(*url), command);
}

void HYBFile::removeRecursively(const HYBInvokedUrlCommand& command) {
    std::optional<HYBFilesystemURL> url;
    auto fs = argumentFileSystem(command, 0, url);
    if (url && namesRoot(url->fullPath())) {
        return send(fileIOError(NO_MODIFICATION_ALLOWED_ERR), command);
    }
    if (!fs) return send(fileIOError(NOT_FOUND_ERR), command);
    send(fs->recursiveRemoveFileAtURL(*url), command);
}

void HYBFile::copyTo(const HYBInvokedUrlCommand& command) {
    copyOrMove(command, true);
}

void HYBFile::moveTo(const HYBInvokedUrlCommand& command) {
    copyOrMove(command, false);
}

void HYBFile::copyOrMove(const HYBInvokedUrlCommand& command, bool copy) {
    if (command.argumentAtIndex(0).isNull() || command.argumentAtIndex(1).isNull()) {
        return send(fileIOError(NOT_FOUND_ERR), command);
    }
    std::optional<HYBFilesystemURL> srcURL;
    std::optional<HYBFilesystemURL> destURL;
    auto srcFs = argumentFileSystem(command, 0, srcURL);
    auto destFs = argumentFileSystem(command, 1, destURL);
    std::optional<std::string> newName;
    if (command.arguments().size() >= 3) {
        const ns::Value name = command.argumentAtIndex(2);
        if (name.isString()) newName = *name.string();
    } else if (srcURL && srcURL->url()) {
        newName = srcURL->url()->lastPathComponent();
    }
    // Only a plain name: "/" or ".." would put the entry somewhere else than asked.
    if (!newName || !HYBLocalFilesystem::isValidEntryName(*newName)) {
        return send(fileIOError(ENCODING_ERR), command);
    }
    if (!srcFs || !destFs) return send(fileIOError(NOT_FOUND_ERR), command);
    auto weak = weakSelf<HYBFile>();
    auto delegate = commandDelegate();
    if (!delegate) return;
    delegate->runInBackground([weak, destFs, srcFs, srcURL = *srcURL, destURL = *destURL,
                               newName = *newName, copy, callbackId = command.callbackId()] {
        destFs->copyFileToURL(destURL, newName, srcFs, srcURL, copy,
                              [weak, callbackId](std::shared_ptr<HYBPluginResult> result) {
                                  sendFromBackground(weak, result, callbackId);
                              });
    });
}

void HYBFile::getFileMetadata(const HYBInvokedUrlCommand& command) {
    std::optional<HYBFilesystemURL> url;
    auto fs = argumentFileSystem(command, 0, url);
    if (!fs) return send(fileIOError(NOT_FOUND_ERR), command);
    auto weak = weakSelf<HYBFile>();
    fs->getFileMetadataForURL(
        *url, [weak, callbackId = command.callbackId()](std::shared_ptr<HYBPluginResult> r) {
            sendFromBackground(weak, r, callbackId);
        });
}

void HYBFile::readEntries(const HYBInvokedUrlCommand& command) {
    std::optional<HYBFilesystemURL> url;
    auto fs = argumentFileSystem(command, 0, url);
    if (!fs) return send(fileIOError(NOT_FOUND_ERR), command);
    send(fs->readEntriesAtURL(*url), command);
}

// --- Contents ----------------------------------------------------------------------------------

void HYBFile::readAsText(const HYBInvokedUrlCommand& command) {
    read(command, ReadKind::Text);
}

void HYBFile::readAsDataURL(const HYBInvokedUrlCommand& command) {
    read(command, ReadKind::DataURL);
}

void HYBFile::readAsArrayBuffer(const HYBInvokedUrlCommand& command) {
    read(command, ReadKind::ArrayBuffer);
}

void HYBFile::readAsBinaryString(const HYBInvokedUrlCommand& command) {
    read(command, ReadKind::BinaryString);
}

void HYBFile::read(const HYBInvokedUrlCommand& command, ReadKind kind) {
    std::optional<HYBFilesystemURL> url;
    auto fs = argumentFileSystem(command, 0, url);
    if (!fs) return send(fileIOError(NOT_FOUND_ERR), command);
    size_t rangeIndex = 1;
    if (kind == ReadKind::Text) {
        const ns::Value encoding = command.argumentAtIndex(1);
        if (!encoding.isString() || ns::asciiLowercased(*encoding.string()) != "utf-8") {
            ns::nslog("Only UTF-8 encodings are currently supported by readAsText");
            return send(fileIOError(ENCODING_ERR), command);
        }
        rangeIndex = 2;
    }
    const int64_t start = command.argumentAtIndex(rangeIndex).longLongValue();
    const int64_t end = command.argumentAtIndex(rangeIndex + 1).longLongValue();
    auto weak = weakSelf<HYBFile>();
    auto delegate = commandDelegate();
    if (!delegate) return;
    delegate->runInBackground([weak, delegate, fs, url = *url, start, end, kind,
                               callbackId = command.callbackId(), page = delegate->currentPage()] {
        if (callbackId && delegate->sendsAnswerPieces()) {
            auto range = fs->openRangeAtURL(url, start, end);
            // A longer read than one answer may hold fails whole, as the file system says.
            if (range && range->length() > kReadRunBytes &&
                range->length() <= HYBFileSystem::maxReadLength()) {
                return readInRuns(weak, *delegate, *range, kind, *callbackId, page);
            }
        }
        fs->readFileAtURL(
            url, start, end,
            [weak, kind, callbackId](std::optional<ns::Data> data,
                                     std::optional<std::string> mimeType, int32_t code) {
                sendFromBackground(
                    weak, data ? readResult(kind, *data, mimeType) : fileIOError(code), callbackId);
            });
    });
}

std::shared_ptr<HYBPluginResult> HYBFile::readResult(ReadKind kind, const ns::Data& data,
                                                     const std::optional<std::string>& mimeType) {
    switch (kind) {
        case ReadKind::Text:
            return ns::utf8::isValid(data.chars())
                       ? HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK,
                                                                          std::string(data.chars()))
                       : fileIOError(ENCODING_ERR);
        case ReadKind::BinaryString:
            return HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK,
                                                                    binaryString(data));
        case ReadKind::DataURL:
            return HYBPluginResult::resultWithStatusMessageAsString(
                HYBResultStatusOK, dataURLHead(mimeType) + data.base64EncodedString());
        case ReadKind::ArrayBuffer:
            break;
    }
    return HYBPluginResult::resultWithStatusMessageAsArrayBuffer(HYBResultStatusOK, data);
}

std::string HYBFile::dataURLHead(const std::optional<std::string>& mimeType) {
    return ns::format("data:%@;base64,", mimeType ? ns::Value(*mimeType) : ns::Value());
}

void HYBFile::readInRuns(const std::weak_ptr<HYBFile>& weak, HYBCommandDelegate& delegate,
                         HYBFileSystem::RangeReader& range, ReadKind kind,
                         const std::string& callbackId, uint64_t page) {
    const uint64_t length = range.length();
    const std::optional<std::string> mimeType = range.mimeType();
    size_t pieces = 0;
    uint64_t done = 0;
    // A character that a run's end cut in two, for the next run's text.
    std::string carried;
    while (true) {
        const uint64_t count = std::min(kReadRunBytes, length - done);
        std::optional<ns::Data> run = range.readRun(count);
        // A failure after runs went ahead is answered whole, which drops them in the page.
        if (!run) return sendFromBackground(weak, fileIOError(NOT_FOUND_ERR), callbackId);
        done += run->length();
        // The file may have shrunk since its length was taken: what was read is the answer.
        const bool last = done >= length || run->length() < count;
        if (last && pieces == 0) {
            return sendFromBackground(weak, readResult(kind, *run, mimeType), callbackId);
        }
        // The answer's own part joins the pieces: the array buffer's data, or the text.
        const auto finish = [&](std::shared_ptr<HYBPluginResult> result, std::string_view member) {
            if (weak.lock())
                delegate.sendPluginResultAfterPieces(result, callbackId, page, member, pieces);
        };
        if (last && kind == ReadKind::ArrayBuffer) {
            return finish(
                HYBPluginResult::resultWithStatusMessageAsArrayBuffer(HYBResultStatusOK, *run),
                kHYBArrayBufferDataKey);
        }
        std::string text;
        if (kind == ReadKind::Text) {
            text = std::move(carried);
            text.append(run->chars());
            const size_t whole = last ? text.size() : wholeCharacters(text);
            carried = text.substr(whole);
            text.resize(whole);
            if (!ns::utf8::isValid(text)) {
                return sendFromBackground(weak, fileIOError(ENCODING_ERR), callbackId);
            }
        } else if (kind == ReadKind::BinaryString) {
            text = binaryString(*run);
        } else {
            if (kind == ReadKind::DataURL && pieces == 0) text = dataURLHead(mimeType);
            text.append(run->base64EncodedString());
        }
        if (last) {
            return finish(HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK,
                                                                           std::move(text)),
                          "");
        }
        // The plug-in gone, nothing more is sent.
        if (!weak.lock()) return;
        // No page takes the rest: the read fails, as a read that breaks off does, and lets go
        // of its file.
        if (!delegate.waitForAnswerPieceRoom(callbackId, page)) {
            return sendFromBackground(weak, fileIOError(NOT_FOUND_ERR), callbackId);
        }
        delegate.sendAnswerTextPiece(callbackId, page, pieces++, std::move(text));
    }
}

void HYBFile::write(const HYBInvokedUrlCommand& command) {
    auto weak = weakSelf<HYBFile>();
    auto delegate = commandDelegate();
    if (!delegate) return;
    delegate->runInBackground([weak, command] {
        auto self = weak.lock();
        if (!self) return;
        std::optional<HYBFilesystemURL> url;
        auto fs = self->argumentFileSystem(command, 0, url);
        if (!fs) return sendFromBackground(weak, fileIOError(NOT_FOUND_ERR), command.callbackId());
        // The data is checked before the file is touched: a refused write changes nothing.
        const ns::Value argument = command.argumentAtIndex(1);
        ns::Data data;
        if (const std::string* text = argument.string()) {
            data = ns::Data::fromString(ns::utf8::repaired(*text));
        } else if (const ns::Data* bytes = argument.data()) {
            data = *bytes;
        } else {
            return sendFromBackground(weak,
                                      HYBPluginResult::resultWithStatusMessageAsString(
                                          HYBResultStatusError, "Invalid parameter type"),
                                      command.callbackId());
        }
        const uint64_t position = static_cast<uint64_t>(command.argumentAtIndex(2).longLongValue());
        // The cut and the append are one change: no other change to the file comes between.
        std::vector<std::string> paths;
        if (auto local = fs->filesystemPathForURL(*url)) paths.push_back(*local);
        auto guard = HYBFileLocks::lock(paths);
        // A write of the whole file replaces it in one step: a crash leaves the old or the new.
        const bool replacesWhole = position == 0 && !data.empty();
        if (!replacesWhole) fs->truncateFileAtURL(*url, position);
        sendFromBackground(weak, fs->writeToFileAtURL(*url, data, !replacesWhole),
                           command.callbackId());
    });
}

void HYBFile::truncate(const HYBInvokedUrlCommand& command) {
    std::optional<HYBFilesystemURL> url;
    auto fs = argumentFileSystem(command, 0, url);
    if (!fs) return send(fileIOError(NOT_FOUND_ERR), command);
    const uint64_t length = static_cast<uint64_t>(command.argumentAtIndex(1).longLongValue());
    send(fs->truncateFileAtURL(*url, length), command);
}

// --- Plain paths and the volume ----------------------------------------------------------------

void HYBFile::testFileExists(const HYBInvokedUrlCommand& command) {
    const ns::Value path = command.argumentAtIndex(0);
    // What the application may not reach does not exist for the page, so that the answer
    // tells nothing about the rest of the disk.
    const bool exists = path.isString() && ns::Sandbox::isReachable(*path.string()) &&
                        ns::FileManager::defaultManager().fileExists(*path.string());
    send(HYBPluginResult::resultWithStatusMessageAsInt(HYBResultStatusOK, exists ? 1 : 0), command);
}

void HYBFile::testDirectoryExists(const HYBInvokedUrlCommand& command) {
    const ns::Value path = command.argumentAtIndex(0);
    bool isDirectory = false;
    const bool exists =
        path.isString() && ns::Sandbox::isReachable(*path.string()) &&
        ns::FileManager::defaultManager().fileExists(*path.string(), &isDirectory) && isDirectory;
    send(HYBPluginResult::resultWithStatusMessageAsInt(HYBResultStatusOK, exists ? 1 : 0), command);
}

void HYBFile::getFreeDiskSpace(const HYBInvokedUrlCommand& command) {
    const uint64_t free = checkFreeDiskSpace(rootDocsPath_).value_or(0);
    send(HYBPluginResult::resultWithStatusMessageAsString(HYBResultStatusOK,
                                                          ns::format("%qu", free)),
         command);
}
