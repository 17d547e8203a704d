#include "bridge/HYBCommandQueue.h"

#include <exception>
#include <utility>

#include "bridge/HYBPageSink.h"
#include "bridge/HYBPlugin.h"
#include "bridge/HYBPluginDirectory.h"
#include "bridge/HYBPluginResult.h"
#include "bridge/NSString+HYBJSONSerializingPrivate.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/ns/JSONReader.h"
#include "platform/ns/JSONText.h"
#include "platform/ns/Log.h"
#include "platform/ns/UTF16.h"

namespace {

// The batch's text as the page's calls are read: an escaped lone surrogate reads as U+FFFD.
constexpr ns::JSONReadOptions kBatchText{.loneSurrogatesReplaced = true};

constexpr std::string_view kWhiteSpace = " \t\n\r";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

constexpr const char* kFetchMessagesScript = "hybrid.require('hybrid/exec').nativeFetchMessages()";

// Values and string bytes of a command's arguments at most, for reading them with the batch:
// longer ones stay text, read when and as their plug-in asks (a large string, an SQL batch).
constexpr size_t kReadArgumentsBudget = 4096;

// A command of the batch's own parse, of the usual shape ([id or null, service, action,
// arguments' array], no more), as commandFromJSONText would read its text; nothing for any
// other, which is then routed from its text, and for arguments over the budget.
std::optional<HYBInvokedUrlCommand> commandOfParse(simdjson::dom::element call) {
    simdjson::dom::array parts;
    if (call.get_array().get(parts) || parts.size() != 4) return std::nullopt;
    auto part = parts.begin();
    const simdjson::dom::element id = *part, service = *++part, action = *++part,
                                 arguments = *++part;
    std::optional<std::string> callbackId;
    if (!id.is_null()) {
        std::string_view text;
        if (id.get_string().get(text)) return std::nullopt;
        callbackId.emplace(text);
    }
    std::string_view className, methodName;
    if (service.get_string().get(className) || action.get_string().get(methodName) ||
        !arguments.is_array()) {
        return std::nullopt;
    }
    size_t budget = kReadArgumentsBudget;
    auto values = ns::json::valueOfDomElement(arguments, budget);
    if (!values || !values->isArray()) return std::nullopt;
    return HYBInvokedUrlCommand(std::move(*values->array()), std::move(callbackId),
                                std::string(className), std::string(methodName));
}

double millisecondsSince(dispatch::TimePoint start) {
    return std::chrono::duration<double, std::milli>(dispatch::Clock::current().now() - start)
        .count();
}

// Whether the text is at least `length` UTF-16 units long, without measuring all of a long
// text: each UTF-8 byte stands for at most one unit.
bool hasUTF16LengthAtLeast(std::string_view text, size_t length) {
    if (text.size() < length) return false;
    return ns::utf16Length(text) >= length;
}

}  // namespace

HYBCommandQueue::HYBCommandQueue(std::weak_ptr<HYBPluginDirectory> plugins,
                                 std::weak_ptr<HYBPageSink> page)
    : plugins_(std::move(plugins)), page_(std::move(page)) {}

void HYBCommandQueue::dispose() {
    plugins_.reset();
    page_.reset();
}

HYBCommandQueue::CommandBatch HYBCommandQueue::readBatch(const ns::JSONSlice& batch,
                                                         BatchRead how) {
    // Checked whole first: a malformed batch runs none of its commands. The check's own parse,
    // when it took the batch, already holds every value: the commands of short arguments are
    // built from it there (off the main thread for a long batch), which costs less than reading
    // their texts again one by one. The others are kept as their texts, routed as they run and
    // their arguments read when and as their plug-in asks, as single calls are.
    std::vector<std::optional<HYBInvokedUrlCommand>> commands;
    bool allRead = false;
    ns::json::DomParsed readCommands;
    if (how == BatchRead::kCommands) {
        readCommands = [&commands, &allRead](simdjson::dom::element root) {
            simdjson::dom::array calls;
            if (root.get_array().get(calls)) return;
            commands.reserve(calls.size());
            allRead = true;
            for (simdjson::dom::element call : calls) {
                allRead &= commands.emplace_back(commandOfParse(call)).has_value();
            }
        };
    }
    if (!ns::json::checkWhole(batch, kBatchText, readCommands)) {
        // The tree reader refuses it as well, and its log line says why.
        hyb_JSONObject(batch.text());
        return {};
    }
    std::string_view text = batch.text();
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    const size_t open = text.find_first_not_of(kWhiteSpace);
    if (open == std::string_view::npos || text[open] != '[') {
        ns::nslog("ERROR: Command batch is not an array of commands; dropped.");
        return {};
    }
    text.remove_prefix(open);
    CommandBatch read{batch.owner(), {}, {}};
    // Commands read with the batch need no text of their own: when all were, it is not split.
    if (allRead && !commands.empty()) {
        read.read = std::move(commands);
        return read;
    }
    if (auto calls = ns::json::containerElements(text)) {
        read.commands = std::move(*calls);
        if (commands.size() == read.commands.size()) read.read = std::move(commands);
        return read;
    }
    // Some element is no call at all: each found by its kind.
    size_t at = text.find_first_not_of(kWhiteSpace, 1);
    while (at < text.size() && text[at] != ']') {
        const size_t length = ns::json::valueLength(text.substr(at));
        read.commands.push_back(text.substr(at, length));
        at = text.find_first_not_of(kWhiteSpace, at + length);
        if (at < text.size() && text[at] == ',') at = text.find_first_not_of(kWhiteSpace, at + 1);
    }
    if (commands.size() == read.commands.size()) read.read = std::move(commands);
    return read;
}

std::optional<HYBInvokedUrlCommand> HYBCommandQueue::CommandBatch::takeRead(size_t index) {
    if (index >= read.size()) return std::nullopt;
    return std::exchange(read[index], std::nullopt);
}

ns::JSONSlice HYBCommandQueue::CommandBatch::command(size_t index) const {
    const std::string_view part = commands.at(index);
    // A plug-in may keep a command for long (a callback it answers again and again): that must
    // not keep a long batch's whole text alive with it.
    const size_t whole = text->text().size();
    if (whole > kSharedTextLength && part.size() < whole / 2) {
        return ns::JSONSlice(ns::JSONText::copy(part));
    }
    return ns::JSONSlice(text, part);
}

void HYBCommandQueue::enqueueCommandBatch(std::string text) {
    dispatch::RunLoop::requireMainThread("HYBCommandQueue::enqueueCommandBatch");
    if (text.empty()) return;
    auto holder = std::make_shared<BatchHolder>();
    queue_.push_back(holder);
    const bool inBackground = hasUTF16LengthAtLeast(text, kBackgroundParseLength);
    ns::JSONSlice batch(ns::JSONText::take(std::move(text)));
    if (!inBackground) {
        holder->fill(readBatch(batch, BatchRead::kCommands));
        return;
    }
    std::weak_ptr<HYBCommandQueue> weakSelf = sharedSelf<HYBCommandQueue>();
    dispatch::Queue::global().async([holder, weakSelf, batch = std::move(batch)] {
        holder->fill(readBatch(batch, BatchRead::kCommands));
        dispatch::Queue::main().async([weakSelf] {
            if (auto self = weakSelf.lock()) self->executePending();
        });
    });
}

void HYBCommandQueue::fetchCommandsFromJs() {
    dispatch::RunLoop::requireMainThread("HYBCommandQueue::fetchCommandsFromJs");
    auto page = page_.lock();
    if (!page) return;
    std::weak_ptr<HYBCommandQueue> weakSelf = sharedSelf<HYBCommandQueue>();
    page->evaluateJavaScript(kFetchMessagesScript, [weakSelf](ns::Result<ns::Value> result) {
        auto self = weakSelf.lock();
        if (!self || !result || !result->isString()) return;
        self->enqueueCommandBatch(std::move(*result->string()));
        self->executePending();
    });
}

void HYBCommandQueue::executePending() {
    dispatch::RunLoop::requireMainThread("HYBCommandQueue::executePending");
    if (executionStart_) return;
    // Keeps the queue alive for the pass even if an action lets its owner go.
    auto self = sharedSelf<HYBCommandQueue>();
    executionStart_ = dispatch::Clock::current().now();
    struct ResetOnExit {
        std::optional<dispatch::TimePoint>& start;
        ~ResetOnExit() { start.reset(); }
    } resetOnExit{executionStart_};

    while (!queue_.empty()) {
        std::shared_ptr<BatchHolder> holder = queue_.front();
        dispatch::Lock lock(holder->mutex);
        // Still being parsed: the background parse asks for a new pass when it is done.
        if (!holder->parsed) return;
        lock.unlock();
        if (holder->next >= holder->commands.size()) {
            queue_.pop_front();  // an empty or dropped batch
            continue;
        }
        while (holder->next < holder->commands.size()) {
            const size_t index = holder->next++;
            std::optional<HYBInvokedUrlCommand> command = holder->commands.takeRead(index);
            std::optional<ns::JSONSlice> entry;
            if (!command) entry.emplace(holder->commands.command(index));
            if (holder->next == holder->commands.size()) {
                queue_.pop_front();
                holder->commands = {};
            }
            if (command) {
                execute(*command);
            } else {
                executeCall(*entry);
            }
            if (!queue_.empty() && millisecondsSince(*executionStart_) > kTimeSlice * 1000.0) {
                std::weak_ptr<HYBCommandQueue> weakSelf = self;
                dispatch::RunLoop::main().post([weakSelf] {
                    if (auto queue = weakSelf.lock()) queue->executePending();
                });
                return;
            }
        }
    }
}

bool HYBCommandQueue::executeCall(ns::Value call) {
    dispatch::RunLoop::requireMainThread("HYBCommandQueue::executeCall");
    // Kept before the call is taken apart: a malformed call still gets its answer.
    std::optional<std::string> callbackId;
    if (const ns::Array* parts = call.array(); parts && !parts->empty()) {
        if (const std::string* id = (*parts)[0].string()) callbackId = *id;
    }
    std::optional<HYBInvokedUrlCommand> command =
        HYBInvokedUrlCommand::commandFromJson(std::move(call));
    if (!command) {
        answerCall(callbackId, HYBResultStatusJSONError);
        return false;
    }
    return execute(*command);
}

bool HYBCommandQueue::executeCall(const ns::JSONSlice& call) {
    dispatch::RunLoop::requireMainThread("HYBCommandQueue::executeCall");
    std::optional<HYBInvokedUrlCommand> command = HYBInvokedUrlCommand::commandFromJSONText(call);
    if (!command) {
        answerCall(HYBInvokedUrlCommand::callbackIdOfJSONText(call), HYBResultStatusJSONError);
        return false;
    }
    return execute(*command);
}

void HYBCommandQueue::answerCall(const std::optional<std::string>& callbackId, unsigned status) {
    auto page = page_.lock();
    if (!page || !callbackId) return;
    page->sendPluginResult(HYBPluginResult::resultWithStatus(status), *callbackId);
}

bool HYBCommandQueue::execute(const HYBInvokedUrlCommand& command) {
    dispatch::RunLoop::requireMainThread("HYBCommandQueue::execute");
    auto plugins = plugins_.lock();
    std::shared_ptr<HYBPlugin> plugin;
    try {
        if (plugins) plugin = plugins->getCommandInstance(command.className());
    } catch (const std::exception& e) {
        // A plug-in that fails while it is being made is as good as missing.
        ns::nslog("ERROR: Plugin '%@' failed to start: %@", command.className(), e.what());
    }
    if (!plugin) {
        ns::nslog(
            "ERROR: Plugin '%@' not found, or is not a HYBPlugin. Check your plugin mapping in "
            "config.xml.",
            command.className());
        answerCall(command.callbackId(), HYBResultStatusClassNotFound);
        return false;
    }

    const dispatch::TimePoint started = dispatch::Clock::current().now();
    bool called = false;
    if (plugin->respondsToAction(command.methodName())) {
        called = true;
        try {
            plugin->performAction(command.methodName(), command);
        } catch (const std::exception& e) {
            // A plug-in's fault must not end the pass or reach the page.
            ns::nslog("ERROR: Method '%@:' of Plugin '%@' failed: %@", command.methodName(),
                      command.className(), e.what());
        } catch (...) {
            ns::nslog("ERROR: Method '%@:' of Plugin '%@' failed", command.methodName(),
                      command.className());
        }
    } else {
        ns::nslog("ERROR: Method '%@:' not defined in Plugin '%@'", command.methodName(),
                  command.className());
        answerCall(command.callbackId(), HYBResultStatusInvalidAction);
    }
    const double elapsed = millisecondsSince(started);
    if (elapsed > kThreadWarningMs) {
        ns::nslog("THREAD WARNING: ['%@'] took '%f' ms. Plugin should use a background thread.",
                  command.className(), elapsed);
    }
    return called;
}
