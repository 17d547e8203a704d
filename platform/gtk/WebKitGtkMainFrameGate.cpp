#include "platform/gtk/WebKitGtkMainFrameGate.h"

#include <cctype>
#include <deque>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "platform/gtk/WebKitGtkContext.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/Log.h"

namespace wk {
namespace {

// WebKit's code for a load that a content rule blocked.
constexpr int kBlockedByContentRule = 104;
// Compiled lists kept for reuse; each also has a file of its own among this many.
constexpr size_t kKeptLists = 16;
constexpr size_t kListFiles = 64;

class FilterRef {
public:
    FilterRef() = default;
    explicit FilterRef(WebKitUserContentFilter* filter)
        : filter_(filter ? webkit_user_content_filter_ref(filter) : nullptr) {}
    FilterRef(const FilterRef& other) : FilterRef(other.filter_) {}
    FilterRef& operator=(FilterRef other) {
        std::swap(filter_, other.filter_);
        return *this;
    }
    ~FilterRef() {
        if (filter_) webkit_user_content_filter_unref(filter_);
    }
    WebKitUserContentFilter* get() const { return filter_; }

private:
    WebKitUserContentFilter* filter_ = nullptr;
};

using Compiled = std::function<void(WebKitUserContentFilter*)>;

// The compiled rule lists of the process, by their text: each is compiled once while it is
// kept, and callers asking for one under compilation wait for the same result.
class RuleLists {
public:
    static RuleLists& shared() {
        static auto* lists = new RuleLists();  // web views may outlive static destruction
        return *lists;
    }

    void get(const std::string& rules, Compiled done) {
        for (auto it = kept_.begin(); it != kept_.end(); ++it) {
            if (it->first != rules) continue;
            auto entry = *it;
            kept_.erase(it);
            kept_.push_front(entry);  // the most recent first
            done(entry.second.get());
            return;
        }
        auto& waiting = compiling_[rules];
        waiting.push_back(std::move(done));
        if (waiting.size() > 1) return;
        const std::string identifier = "main-frame-gate-" + std::to_string(serial_++ % kListFiles);
        GBytes* source = g_bytes_new(rules.data(), rules.size());
        webkit_user_content_filter_store_save(store(), identifier.c_str(), source, nullptr,
                                              &RuleLists::saved, new std::string(rules));
        g_bytes_unref(source);
    }

private:
    WebKitUserContentFilterStore* store() {
        if (!store_) {
            const std::string folder = WebKitGtkContext::cacheDirectory() + "/ContentRules";
            store_ = GObjectRef<WebKitUserContentFilterStore>::adopt(
                webkit_user_content_filter_store_new(folder.c_str()));
        }
        return store_.get();
    }

    static void saved(GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<std::string> rules(static_cast<std::string*>(data));
        GError* error = nullptr;
        WebKitUserContentFilter* filter = webkit_user_content_filter_store_save_finish(
            WEBKIT_USER_CONTENT_FILTER_STORE(source), result, &error);
        if (error) {
            ns::Log::write(
                ns::LogLevel::Error, "webkit", "gate",
                std::string("The main-frame gate's rules could not be made: ") + error->message);
            g_error_free(error);
        }
        shared().done(*rules, filter);
        if (filter) webkit_user_content_filter_unref(filter);
    }

    void done(const std::string& rules, WebKitUserContentFilter* filter) {
        auto waiting = std::move(compiling_[rules]);
        compiling_.erase(rules);
        if (filter) {
            kept_.emplace_front(rules, FilterRef(filter));
            if (kept_.size() > kKeptLists) kept_.pop_back();
        }
        for (auto& callback : waiting) callback(filter);
    }

    GObjectRef<WebKitUserContentFilterStore> store_;
    std::deque<std::pair<std::string, FilterRef>> kept_;
    std::map<std::string, std::vector<Compiled>> compiling_;
    size_t serial_ = 0;
};

std::string jsonString(const std::string& text) {
    auto json = ns::JSONSerialization::write(ns::Value(ns::Array{text}));
    return json ? json->substr(1, json->size() - 2) : "\"\"";
}

}  // namespace

WebKitGtkMainFrameGate::WebKitGtkMainFrameGate(WebKitUserContentManager* manager)
    : manager_(GObjectRef<WebKitUserContentManager>::retain(manager)) {
    hold();
}

WebKitGtkMainFrameGate::~WebKitGtkMainFrameGate() = default;

bool WebKitGtkMainFrameGate::isGated(std::string_view url) {
    const auto startsWith = [&](std::string_view scheme) {
        if (url.size() < scheme.size()) return false;
        for (size_t i = 0; i < scheme.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i]) return false;
        }
        return true;
    };
    return startsWith("http:") || startsWith("https:");
}

bool WebKitGtkMainFrameGate::isRefusal(const GError* error) {
    return error && error->domain == WEBKIT_POLICY_ERROR && error->code == kBlockedByContentRule;
}

std::string WebKitGtkMainFrameGate::exactPattern(std::string_view url) {
    // Fragments never reach the server; the rules may see them or not.
    const std::string_view document = url.substr(0, url.find('#'));
    const bool whole = document.size() <= kLongestPattern;
    std::string pattern = "^";
    for (char c : document.substr(0, kLongestPattern)) {
        if (!std::isalnum(static_cast<unsigned char>(c))) pattern += '\\';
        pattern += c;
    }
    if (whole) pattern += "(#.*)?$";
    return pattern;
}

std::string WebKitGtkMainFrameGate::rules(const std::optional<std::string>& passed) {
    const std::string topDocuments = R"("resource-type":["document"],"load-context":["top-frame"])";
    std::string text = R"([{"trigger":{"url-filter":"^https?://",)" + topDocuments +
                       R"(},"action":{"type":"block"}})";
    if (passed) {
        text += R"(,{"trigger":{"url-filter":)" + jsonString(exactPattern(*passed)) +
                R"(,"url-filter-is-case-sensitive":true,)" + topDocuments +
                R"(},"action":{"type":"ignore-previous-rules"}})";
    }
    return text + "]";
}

void WebKitGtkMainFrameGate::install(const std::string& list, WebKitUserContentFilter* filter) {
    webkit_user_content_manager_remove_all_filters(manager_.get());
    webkit_user_content_manager_add_filter(manager_.get(), filter);
    inForce_ = list;
    rulesInPlace();
}

void WebKitGtkMainFrameGate::rulesInPlace() {
    installed_ = true;
    auto waiting = std::exchange(waiting_, {});
    for (auto& ready : waiting) ready(true);
}

void WebKitGtkMainFrameGate::pass(const std::string& url, std::function<void(bool)> ready) {
    if (!isGated(url)) {
        // Nothing to let through; but no page may run before the gate holds.
        if (installed_) {
            ready(true);
        } else {
            waiting_.push_back(std::move(ready));
        }
        return;
    }
    const uint64_t generation = ++generation_;
    passing_ = true;
    // The gate goes with its engine, which may go before the rules are made.
    std::weak_ptr<bool> alive = alive_;
    const std::string list = rules(url);
    RuleLists::shared().get(list, [this, alive, generation, list,
                                   ready = std::move(ready)](WebKitUserContentFilter* filter) {
        if (alive.expired()) return ready(false);
        if (generation != generation_ || !filter) return ready(false);
        install(list, filter);
        ready(true);
    });
}

void WebKitGtkMainFrameGate::close() {
    if (!passing_) return;
    passing_ = false;
    hold();
}

void WebKitGtkMainFrameGate::hold() {
    const uint64_t generation = ++generation_;
    std::weak_ptr<bool> alive = alive_;
    const std::string list = rules(std::nullopt);
    RuleLists::shared().get(list, [this, alive, generation, list](WebKitUserContentFilter* filter) {
        if (alive.expired()) return;
        if (!filter) {
            // An engine without content rules cannot hold anything back; its pages still load.
            rulesInPlace();
            return;
        }
        if (generation == generation_) install(list, filter);
    });
}

}  // namespace wk
