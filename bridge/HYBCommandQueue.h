#pragma once

#include <algorithm>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/HYBInvokedUrlCommand.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/Mutex.h"
#include "platform/ns/JSONText.h"
#include "platform/ns/Object.h"

class HYBPageSink;
class HYBPluginDirectory;

// Runs the page's calls against the plug-ins, on the main thread: one command at once with
// execute(), or batches of JSON text with enqueueCommandBatch() and executePending(). A batch
// is checked whole (off the main thread when long) before any of it runs; each command is then
// routed as it runs and reads its arguments when its plug-in asks. A pass gives the main thread
// back to its run loop after kTimeSlice and carries on in a later turn.
class HYBCommandQueue : public ns::Object {
public:
    // Texts of this many UTF-16 units or more are checked on a background queue.
    static constexpr size_t kBackgroundParseLength = 4096;
    // A pass yields once more than this has passed (checked after each command).
    static constexpr double kTimeSlice = 0.008;
    // A single action that takes longer than this is reported in the log, in milliseconds.
    static constexpr double kThreadWarningMs = 10.0;

    // Calls run against the plug-ins of `plugins`; calls that cannot run are answered, and
    // queued messages fetched, through `page`.
    HYBCommandQueue(std::weak_ptr<HYBPluginDirectory> plugins, std::weak_ptr<HYBPageSink> page);

    // Drops the links to the plug-ins and the page; their owner calls this when it goes.
    void dispose();
    bool currentlyExecuting() const { return executionStart_.has_value(); }

    // Queues one batch; does not run it. Empty text is ignored. A batch that is not a JSON
    // array of command arrays is dropped after its log line.
    void enqueueCommandBatch(std::string text);
    // Asks the page for its queued messages and runs them.
    void fetchCommandsFromJs();
    // Runs queued batches in arrival order, in time slices. Does nothing when a pass is
    // already running (a call from inside an action leaves the new work to that pass).
    void executePending();
    // Runs one command at once; true when a plug-in action was called. A call whose plug-in
    // or action is missing is answered with HYBResultStatusClassNotFound or
    // HYBResultStatusInvalidAction, so that the page does not wait for it.
    bool execute(const HYBInvokedUrlCommand& command);
    // Runs one page call as posted ([callbackId, service, action, arguments]); a call that is
    // not of that form is answered with HYBResultStatusJSONError when its callback id is known.
    bool executeCall(ns::Value call);
    // The same from the call's JSON text; its arguments are read when the plug-in asks.
    bool executeCall(const ns::JSONSlice& call);
    // Answers a call that cannot run with `status` alone.
    void answerCall(const std::optional<std::string>& callbackId, unsigned status);

    // A batch as read by readBatch: its text, kept alive, and each command's part of it.
    struct CommandBatch {
        // Commands of a batch longer than this, in bytes, get their own copy of their text.
        static constexpr size_t kSharedTextLength = size_t{1} << 20;

        std::shared_ptr<const ns::JSONText> text;
        // Each command's part of the text; empty when every command was read with the batch.
        std::vector<std::string_view> commands;
        // The commands read whole with the batch, by index (those of the usual shape with
        // short arguments), when they were; empty otherwise.
        std::vector<std::optional<HYBInvokedUrlCommand>> read;

        size_t size() const { return std::max(commands.size(), read.size()); }
        // The command's text: a part of the batch's text, or of its own copy when the batch is
        // long and the command a small part of it.
        ns::JSONSlice command(size_t index) const;
        // The command at the index when it was read with the batch, taken out; nothing when it
        // is to be routed from its text.
        std::optional<HYBInvokedUrlCommand> takeRead(size_t index);
    };
    // How much of a batch readBatch reads.
    enum class BatchRead {
        kTexts,     // only the commands' texts
        kCommands,  // also the commands themselves, where the batch's check lets that be cheap
    };
    // A batch's text read as enqueueCommandBatch reads it (on any thread): checked whole, as the
    // tree reader would read it, then each command's text in order, for executeCall to route;
    // none, after the log line, for text that is no array of commands or does not read. With
    // kCommands, the commands of the usual shape with short arguments are read whole as well,
    // from the check's own parse, where the check took that road.
    static CommandBatch readBatch(const ns::JSONSlice& batch, BatchRead read = BatchRead::kTexts);

private:
    // Receives one parsed batch; shared between a background parse and the main thread.
    struct BatchHolder {
        dispatch::Mutex mutex;
        bool parsed GUARDED_BY(mutex) = false;
        // Filled under the lock before `parsed` is set; the main thread's alone once it saw
        // `parsed`, so not marked as guarded.
        CommandBatch commands;  // taken from the front by index
        size_t next = 0;

        void fill(CommandBatch batch) {
            dispatch::Lock lock(mutex);
            commands = std::move(batch);
            parsed = true;
        }
    };

    std::weak_ptr<HYBPluginDirectory> plugins_;
    std::weak_ptr<HYBPageSink> page_;
    std::deque<std::shared_ptr<BatchHolder>> queue_;
    std::optional<dispatch::TimePoint> executionStart_;
};
