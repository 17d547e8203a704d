#include "platform/sec/Keychain.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/FaultSeam.h"
#include "platform/ns/Sandbox.h"
#include "platform/sec/AccessGroups.h"
#include "platform/sec/AttributeCodec.h"
#include "platform/sec/ItemQuery.h"
#include "platform/sec/Key.h"
#include "platform/sec/KeyPair.h"
#include "platform/sec/KeychainStore.h"
#include "platform/sec/SecItem.h"

namespace sec {

namespace {

// The attribute kept in each index column, in IndexColumn order.
constexpr std::array<const char*, kIndexColumnCount> kIndexedAttributes{
    kSecAttrService, kSecAttrAccount, kSecAttrAccessGroup, kSecAttrApplicationTag,
    kSecAttrKeyClass};

bool isIndexed(std::string_view key) {
    for (const char* indexed : kIndexedAttributes) {
        if (key == indexed) return true;
    }
    return false;
}

RowFilter indexFilter(const ItemQuery& query) {
    RowFilter filter;
    filter.itemClass = ItemQuery::classValue(query.itemClass);
    for (size_t i = 0; i < kIndexColumnCount; ++i) {
        auto found = query.attributes.find(kIndexedAttributes[i]);
        if (found != query.attributes.end()) filter.equals[i] = attributeBytes(found->second);
    }
    return filter;
}

// A query that names no access group matches the groups the application holds.
RowFilter filterFor(const ItemQuery& query, const AccessGroups& groups) {
    RowFilter filter = indexFilter(query);
    filter.accessGroupIn = groups.held();
    return filter;
}

const std::string* namedGroup(const ns::Dictionary& attributes) {
    auto found = attributes.find(kSecAttrAccessGroup);
    return found != attributes.end() ? found->second.string() : nullptr;
}

// A group that the application may not use is refused, as the platform refuses one that its
// entitlements do not grant.
OSStatus checkGroup(const std::string* group, const AccessGroups& groups) {
    return !group || groups.mayName(*group) ? errSecSuccess : errSecMissingEntitlement;
}

OSStatus checkGroups(const ItemQuery& query, const AccessGroups& groups) {
    return checkGroup(namedGroup(query.attributes), groups);
}

// Whether the query names attributes that only the stored dictionary can answer.
bool hasUnindexedAttributes(const ItemQuery& query) {
    for (const auto& entry : query.attributes) {
        if (!isIndexed(entry.first)) return true;
    }
    return false;
}

bool isUnindexed(std::string_view key) {
    return !isIndexed(key);
}

// For look-ups that read the stored attributes only to decide whether a row matches.
bool storedAttributesMatch(const ItemQuery& query, const RowView& row) {
    return AttributeCodec::contains(row.attributes, row.attributesLength, query.attributes,
                                    isUnindexed);
}

bool matchesUnindexed(const ItemQuery& query, const ns::Dictionary& stored) {
    for (const auto& [key, value] : query.attributes) {
        if (isIndexed(key)) continue;
        auto found = stored.find(key);
        if (found == stored.end() || !attributeValuesEqual(found->second, value)) return false;
    }
    return true;
}

StoredRow rowFor(ItemClass itemClass, const ns::Dictionary& attributes,
                 std::optional<ns::Data> data) {
    StoredRow row;
    row.itemClass = ItemQuery::classValue(itemClass);
    for (size_t i = 0; i < kIndexColumnCount; ++i) {
        auto found = attributes.find(kIndexedAttributes[i]);
        if (found != attributes.end()) row.index[i] = attributeBytes(found->second);
    }
    row.attributes = AttributeCodec::encode(attributes);
    row.data = std::move(data);
    return row;
}

void overlay(ns::Dictionary& base, const ns::Dictionary& changes) {
    for (const auto& [key, value] : changes) base.insert_or_assign(key, value);
}

std::optional<ns::Data> dataOf(const RowView& row) {
    if (!row.data) return std::nullopt;
    return ns::Data(row.data, row.dataLength);
}

// What a copy answers for one item.
ns::Value resultFor(const ItemQuery& query, ns::Dictionary attributes,
                    std::optional<ns::Data> data) {
    if (!query.returnAttributes) return ns::Value(data ? std::move(*data) : ns::Data());
    attributes.insert_or_assign(kSecClass, std::string(ItemQuery::classValue(query.itemClass)));
    if (query.returnData && data) attributes.insert_or_assign(kSecValueData, std::move(*data));
    return ns::Value(std::move(attributes));
}

// A query that selects items and the attributes to write to them, neither naming a group that
// the application may not use.
OSStatus parseSelection(const ns::Dictionary& query, const ns::Dictionary& changes,
                        ItemQuery& selection, ItemQuery& parsedChanges,
                        const AccessGroups& groups) {
    if (OSStatus status = ItemQuery::parse(query, ItemQuery::Use::Select, selection)) {
        return status;
    }
    if (OSStatus status = ItemQuery::parse(changes, ItemQuery::Use::Changes, parsedChanges,
                                           selection.itemClass)) {
        return status;
    }
    if (OSStatus status = checkGroups(selection, groups)) return status;
    return checkGroups(parsedChanges, groups);
}

struct MatchedRow {
    int64_t id;
    ns::Dictionary attributes;
    std::optional<ns::Data> data;
};

}  // namespace

// A search dictionary checked once: its parsed form, the row filter over it, and the attributes
// that only a row's stored attributes can answer.
struct CheckedSearch {
    ns::Dictionary query;
    ItemQuery search;
    RowFilter filter;  // views into search's attributes; the groups held are set at each call
    ns::Dictionary unindexed;
    const std::string* group = nullptr;  // the access group named, in search's attributes
};

constexpr ItemClass kStoredClasses[] = {ItemClass::GenericPassword, ItemClass::Key};

bool anyKey(std::string_view) {
    return true;
}

struct Keychain::Impl {
    mutable dispatch::Mutex mutex;
    // The search checked last. Readers ask one question again and again (a cached token is
    // read on every call); checking the same dictionary anew would cost more than comparing it.
    std::optional<CheckedSearch> lastSearch GUARDED_BY(mutex);
    // Nothing: the keychain of the application that the sandbox holds, wherever that is now.
    std::optional<std::filesystem::path> directory GUARDED_BY(mutex);
    std::optional<AccessGroups> assignedGroups GUARDED_BY(mutex);
    // The main bundle's, as read for the bundle object named.
    std::shared_ptr<ns::Bundle> groupsBundle GUARDED_BY(mutex);
    std::optional<AccessGroups> bundleGroups GUARDED_BY(mutex);
    // Named by carryOverTeamGroup().
    std::vector<std::string> teamGroups GUARDED_BY(mutex);
    // Whether the store open now holds the items of earlier versions where the groups and the
    // team groups have them.
    bool formerCarried GUARDED_BY(mutex) = false;
    std::unique_ptr<KeychainStore> store GUARDED_BY(mutex);
    std::string storeDirectory GUARDED_BY(mutex);

    std::filesystem::path currentDirectory() const REQUIRES(mutex) {
        if (directory) return *directory;
        return followedDirectory();
    }

    static std::string followedDirectory() {
        if (const char* dir = std::getenv("HYB_KEYCHAIN_DIR"); dir && *dir) return dir;
        return ns::Sandbox::keychainDirectory();
    }

    // The application's groups: one application cannot see another's items by default even
    // when they share a folder. Valid until the next call.
    const AccessGroups& groups() REQUIRES(mutex) {
        if (assignedGroups) return *assignedGroups;
        auto bundle = ns::Bundle::mainBundle();
        if (bundle != groupsBundle || !bundleGroups) {
            AccessGroups read = AccessGroups::ofBundle(*bundle);
            if (!bundleGroups || !(*bundleGroups == read)) formerCarried = false;
            bundleGroups = std::move(read);
            groupsBundle = std::move(bundle);
        }
        return *bundleGroups;
    }

    void assign(AccessGroups assigned) REQUIRES(mutex) {
        assignedGroups = std::move(assigned);
        formerCarried = false;
    }

    // With the mutex held: an injected failure, or the store opened with the application's
    // groups, which `out` then points to.
    OSStatus ready(const AccessGroups*& out) REQUIRES(mutex) {
        if (OSStatus failure = ns::injectedFault("keychain")) return failure;
        return openStore(out);
    }

    OSStatus openStore(const AccessGroups*& out) REQUIRES(mutex) {
        out = &groups();
        if (OSStatus status = openStore()) return status;
        if (!formerCarried) {
            if (OSStatus status = carryOverFormerItems(*out)) return status;
            formerCarried = true;
        }
        return errSecSuccess;
    }

    // Every call passes here, so the directory is compared as text, without building paths.
    OSStatus openStore() REQUIRES(mutex) {
        if (directory) return openStoreIn(directory->native());
        return openStoreIn(followedDirectory());
    }

    OSStatus openStoreIn(const std::string& target) REQUIRES(mutex) {
        if (store && storeDirectory != target) store.reset();
        if (!store) {
            store = KeychainStore::open(target);
            storeDirectory = target;
            formerCarried = false;
        }
        return store ? errSecSuccess : errSecNotAvailable;
    }

    // Items that earlier versions kept in former groups go into the groups of this version
    // (AccessGroups::formerGroups), in one transaction. An item whose twin is there already
    // loses to it; a failure leaves every item where it was.
    OSStatus carryOverFormerItems(const AccessGroups& groups) REQUIRES(mutex) {
        const std::vector<AccessGroups::FormerGroup> formers = groups.formerGroups(teamGroups);
        bool pending = false;
        // Most opens find nothing to carry over: a look that takes no write lock says so.
        if (OSStatus status = findPending(formers, pending)) return status;
        if (!pending) return errSecSuccess;
        KeychainStore::Transaction transaction(*store);
        if (transaction.status()) return transaction.status();
        for (const AccessGroups::FormerGroup& group : formers) {
            if (OSStatus status = carryOver(group)) return status;
        }
        return transaction.commit();
    }

    static RowFilter groupFilter(ItemClass itemClass, const std::string& group) {
        RowFilter filter;
        filter.itemClass = ItemQuery::classValue(itemClass);
        filter.equals[static_cast<size_t>(IndexColumn::AccessGroup)] = group;
        return filter;
    }

    // Whether a group to be copied has been copied into its group of this version already.
    OSStatus wasCopied(const AccessGroups::FormerGroup& group, bool& copied) REQUIRES(mutex) {
        copied = false;
        if (!group.copied) return errSecSuccess;
        return store->wasCopied(group.former, group.current, copied);
    }

    OSStatus findPending(const std::vector<AccessGroups::FormerGroup>& formers, bool& pending)
        REQUIRES(mutex) {
        const auto found = [&](const RowView&) { return !(pending = true); };
        for (const AccessGroups::FormerGroup& group : formers) {
            bool copied = false;
            if (OSStatus status = wasCopied(group, copied)) return status;
            for (ItemClass itemClass : kStoredClasses) {
                if (copied || pending) break;
                if (OSStatus status =
                        store->select(groupFilter(itemClass, group.former), 0, true, found)) {
                    return status;
                }
            }
        }
        return errSecSuccess;
    }

    OSStatus carryOver(const AccessGroups::FormerGroup& group) REQUIRES(mutex) {
        bool copied = false;
        if (OSStatus status = wasCopied(group, copied); status || copied) return status;
        bool found = false;
        for (ItemClass itemClass : kStoredClasses) {
            std::vector<MatchedRow> rows;
            if (OSStatus status =
                    collectRows(groupFilter(itemClass, group.former), nullptr, rows)) {
                return status;
            }
            for (MatchedRow& row : rows) {
                if (OSStatus failure = ns::injectedFault("keychain.carry")) return failure;
                found = true;
                row.attributes.insert_or_assign(kSecAttrAccessGroup, group.current);
                const StoredRow stored = rowFor(itemClass, row.attributes, std::move(row.data));
                OSStatus status =
                    group.copied ? store->insert(stored) : store->update(row.id, stored);
                // The item already in the group of this version wins. Its moved twin goes, so
                // that nothing is left to carry at the next open; a copied group keeps it for
                // the other teams, and its copy record says that this team's copy is done.
                if (status == errSecDuplicateItem && !group.copied) status = store->remove(row.id);
                if (status != errSecSuccess && status != errSecDuplicateItem) return status;
            }
        }
        // Items that were copied into the group moved on with its items: so do the records.
        if (!group.copied) return store->moveCopyRecords(group.former, group.current);
        return found ? store->recordCopy(group.former, group.current) : errSecSuccess;
    }

    // With the mutex held: the checked form of a search dictionary, valid until the next call.
    OSStatus checkedSearch(const ns::Dictionary& query, const CheckedSearch*& out) REQUIRES(mutex) {
        if (!lastSearch || !(lastSearch->query == query)) {
            lastSearch.reset();
            ItemQuery search;
            if (OSStatus status = ItemQuery::parse(query, ItemQuery::Use::Search, search)) {
                return status;
            }
            CheckedSearch& checked = lastSearch.emplace();
            checked.query = query;
            checked.search = std::move(search);
            // The filter views the kept attributes, so it is made once they are in place.
            checked.filter = indexFilter(checked.search);
            checked.group = namedGroup(checked.search.attributes);
            for (const auto& [key, value] : checked.search.attributes) {
                if (isUnindexed(key)) checked.unindexed.emplace(key, value);
            }
        }
        out = &*lastSearch;
        return errSecSuccess;
    }

    static void completeForAdd(ns::Dictionary& attributes, const AccessGroups& groups) {
        attributes.try_emplace(kSecAttrAccessGroup, groups.own());
        attributes.try_emplace(kSecAttrAccessible, kSecAttrAccessibleWhenUnlocked);
    }

    // Rows of the filter with their attributes and data, those of the query only when one is
    // given; rows whose stored attributes cannot be read are passed over as if they were not
    // there.
    OSStatus collectRows(const RowFilter& filter, const ItemQuery* query,
                         std::vector<MatchedRow>& out) REQUIRES(mutex) {
        return store->select(
            filter, KeychainStore::kAttributes | KeychainStore::kData, false,
            [&](const RowView& row) {
                auto attributes = AttributeCodec::decode(row.attributes, row.attributesLength);
                if (attributes && (!query || matchesUnindexed(*query, *attributes))) {
                    out.push_back({row.id, std::move(*attributes), dataOf(row)});
                }
                return true;
            });
    }

    OSStatus collect(const ItemQuery& query, const AccessGroups& groups,
                     std::vector<MatchedRow>& out) REQUIRES(mutex) {
        return collectRows(filterFor(query, groups), &query, out);
    }

    // Ids of matching rows; attributes are read only when the query needs them to decide.
    OSStatus collectIds(const ItemQuery& query, const AccessGroups& groups,
                        std::vector<int64_t>& out) REQUIRES(mutex) {
        const bool unindexed = hasUnindexedAttributes(query);
        return store->select(filterFor(query, groups), unindexed ? KeychainStore::kAttributes : 0,
                             false, [&](const RowView& row) {
                                 if (unindexed && !storedAttributesMatch(query, row)) return true;
                                 out.push_back(row.id);
                                 return true;
                             });
    }
};

Keychain::Keychain(std::filesystem::path directory) : impl_(std::make_unique<Impl>()) {
    impl_->directory = std::move(directory);
}

Keychain::~Keychain() = default;

Keychain::Keychain() : impl_(std::make_unique<Impl>()) {}

Keychain& Keychain::shared() {
    // Never destroyed: queue threads may still reach the keychain while the process exits.
    static Keychain& keychain = *new Keychain();
    return keychain;
}

std::filesystem::path Keychain::directory() const {
    dispatch::Lock lock(impl_->mutex);
    return impl_->currentDirectory();
}

void Keychain::setDirectory(const std::filesystem::path& directory) {
    Impl& impl = *shared().impl_;
    dispatch::Lock lock(impl.mutex);
    impl.store.reset();
    if (directory.empty()) {
        impl.directory.reset();
    } else {
        impl.directory = directory;
    }
}

std::filesystem::path Keychain::defaultDirectory() {
    return Impl::followedDirectory();
}

AccessGroups Keychain::accessGroups() const {
    dispatch::Lock lock(impl_->mutex);
    return impl_->groups();
}

void Keychain::setAccessGroups(const AccessGroups& groups) {
    dispatch::Lock lock(impl_->mutex);
    impl_->assign(groups);
}

std::string Keychain::defaultAccessGroup() const {
    dispatch::Lock lock(impl_->mutex);
    return impl_->groups().own();
}

void Keychain::carryOverTeamGroup(std::string name) {
    dispatch::Lock lock(impl_->mutex);
    std::vector<std::string>& names = impl_->teamGroups;
    if (name.empty() || std::find(names.begin(), names.end(), name) != names.end()) return;
    names.push_back(std::move(name));
    impl_->formerCarried = false;
}

void Keychain::setDefaultAccessGroup(std::string group) {
    dispatch::Lock lock(impl_->mutex);
    impl_->assign(AccessGroups(std::move(group)));
}

OSStatus Keychain::add(const ns::Dictionary& attributes, ns::Value* result) {
    dispatch::Lock lock(impl_->mutex);
    const AccessGroups* groups = nullptr;
    if (OSStatus status = impl_->ready(groups)) return status;
    ItemQuery item;
    if (OSStatus status = ItemQuery::parse(attributes, ItemQuery::Use::Add, item)) return status;
    if (OSStatus status = checkGroups(item, *groups)) return status;
    Impl::completeForAdd(item.attributes, *groups);
    if (OSStatus status = impl_->store->insert(rowFor(item.itemClass, item.attributes, item.data)))
        return status;
    if (result) {
        *result = item.returnData || item.returnAttributes
                      ? resultFor(item, std::move(item.attributes), std::move(item.data))
                      : ns::Value();
    }
    return errSecSuccess;
}

OSStatus Keychain::copyMatching(const ns::Dictionary& query, ns::Value* result) {
    dispatch::Lock lock(impl_->mutex);
    const AccessGroups* groups = nullptr;
    if (OSStatus status = impl_->ready(groups)) return status;
    const CheckedSearch* checked = nullptr;
    if (OSStatus status = impl_->checkedSearch(query, checked)) return status;
    const ItemQuery& search = checked->search;
    if (search.returnRef) return errSecParam;  // key references come from copyKey
    if (OSStatus status = checkGroup(checked->group, *groups)) return status;
    RowFilter filter = checked->filter;
    filter.accessGroupIn = groups->held();
    const bool unindexed = !checked->unindexed.empty();
    const bool wantResult = result && (search.returnData || search.returnAttributes);
    const bool returnAttributes = wantResult && search.returnAttributes;
    unsigned fields = 0;
    if (unindexed || returnAttributes) fields |= KeychainStore::kAttributes;
    if (wantResult && search.returnData) fields |= KeychainStore::kData;

    bool found = false;
    // One match is answered as it is; only a look-up of every match gathers a list.
    ns::Value first;
    ns::Array results;
    // Rows whose attributes are read may be passed over, so only a look-up that reads none can
    // let SQLite stop at the first row; the others stop in the visitor.
    const bool onlyFirst = !search.limitAll && !(fields & KeychainStore::kAttributes);
    OSStatus status = impl_->store->select(filter, fields, onlyFirst, [&](const RowView& row) {
        std::optional<ns::Dictionary> attributes;
        if (returnAttributes) {
            attributes = AttributeCodec::decode(row.attributes, row.attributesLength);
            if (!attributes || !matchesUnindexed(search, *attributes)) return true;
        } else if (unindexed && !AttributeCodec::contains(row.attributes, row.attributesLength,
                                                          checked->unindexed, anyKey)) {
            return true;
        }
        found = true;
        if (wantResult) {
            ns::Value one = resultFor(
                search, attributes ? std::move(*attributes) : ns::Dictionary{}, dataOf(row));
            if (search.limitAll) {
                results.push_back(std::move(one));
            } else {
                first = std::move(one);
            }
        }
        return search.limitAll;
    });
    if (status != errSecSuccess) return status;
    if (!found) return errSecItemNotFound;
    if (result) {
        if (!wantResult) {
            *result = ns::Value();
        } else if (search.limitAll) {
            *result = ns::Value(std::move(results));
        } else {
            *result = std::move(first);
        }
    }
    return errSecSuccess;
}

OSStatus Keychain::copyKey(const ns::Dictionary& query, std::shared_ptr<Key>* key) {
    dispatch::Lock lock(impl_->mutex);
    const AccessGroups* groups = nullptr;
    if (OSStatus status = impl_->ready(groups)) return status;
    ItemQuery search;
    if (OSStatus status = ItemQuery::parse(query, ItemQuery::Use::Search, search)) return status;
    if (search.itemClass != ItemClass::Key || !search.returnRef || search.limitAll) {
        return errSecParam;
    }
    if (OSStatus status = checkGroups(search, *groups)) return status;
    std::vector<MatchedRow> rows;
    if (OSStatus status = impl_->collect(search, *groups, rows)) return status;
    for (const auto& row : rows) {
        if (!row.data) continue;
        auto keyClass = row.attributes.find(kSecAttrKeyClass);
        bool isPrivate = keyClass != row.attributes.end() && keyClass->second.string() &&
                         *keyClass->second.string() == kSecAttrKeyClassPrivate;
        auto found =
            isPrivate ? Key::fromPrivateKeyData(*row.data) : Key::fromPublicKeyData(*row.data);
        if (!found) continue;  // a damaged key item is as good as none
        if (key) *key = std::move(found);
        return errSecSuccess;
    }
    return errSecItemNotFound;
}

OSStatus Keychain::update(const ns::Dictionary& query, const ns::Dictionary& attributesToUpdate) {
    dispatch::Lock lock(impl_->mutex);
    const AccessGroups* groups = nullptr;
    if (OSStatus status = impl_->ready(groups)) return status;
    ItemQuery select;
    ItemQuery changes;
    if (OSStatus status = parseSelection(query, attributesToUpdate, select, changes, *groups)) {
        return status;
    }
    KeychainStore::Transaction transaction(*impl_->store);
    if (transaction.status()) return transaction.status();
    std::vector<MatchedRow> rows;
    if (OSStatus status = impl_->collect(select, *groups, rows)) return status;
    if (rows.empty()) return errSecItemNotFound;
    for (auto& row : rows) {
        overlay(row.attributes, changes.attributes);
        if (changes.data) row.data = changes.data;
        StoredRow stored = rowFor(select.itemClass, row.attributes, std::move(row.data));
        if (OSStatus status = impl_->store->update(row.id, stored)) return status;
    }
    return transaction.commit();
}

OSStatus Keychain::remove(const ns::Dictionary& query) {
    dispatch::Lock lock(impl_->mutex);
    const AccessGroups* groups = nullptr;
    if (OSStatus status = impl_->ready(groups)) return status;
    ItemQuery select;
    if (OSStatus status = ItemQuery::parse(query, ItemQuery::Use::Select, select)) return status;
    if (OSStatus status = checkGroups(select, *groups)) return status;
    KeychainStore::Transaction transaction(*impl_->store);
    if (transaction.status()) return transaction.status();
    std::vector<int64_t> ids;
    if (OSStatus status = impl_->collectIds(select, *groups, ids)) return status;
    if (ids.empty()) return errSecItemNotFound;
    for (int64_t id : ids) {
        if (OSStatus status = impl_->store->remove(id)) return status;
    }
    return transaction.commit();
}

OSStatus Keychain::replace(const ns::Dictionary& query, const ns::Dictionary& attributes) {
    dispatch::Lock lock(impl_->mutex);
    const AccessGroups* groups = nullptr;
    if (OSStatus status = impl_->ready(groups)) return status;
    ItemQuery select;
    ItemQuery item;
    if (OSStatus status = parseSelection(query, attributes, select, item, *groups)) return status;
    KeychainStore::Transaction transaction(*impl_->store);
    if (transaction.status()) return transaction.status();
    std::vector<int64_t> ids;
    if (OSStatus status = impl_->collectIds(select, *groups, ids)) return status;
    for (int64_t id : ids) {
        if (OSStatus status = impl_->store->remove(id)) return status;
    }
    ns::Dictionary merged = select.attributes;
    overlay(merged, item.attributes);
    Impl::completeForAdd(merged, *groups);
    if (OSStatus status = impl_->store->insert(rowFor(select.itemClass, merged, item.data))) {
        return status;
    }
    return transaction.commit();
}

namespace {

struct KeyItemPlan {
    bool permanent = false;
    ns::Dictionary attributes;
};

// The attributes of one key of a pair, from its own dictionary and the pair's parameters.
OSStatus planKeyItem(const ns::Value* own, bool permanentByDefault, const char* keyClass, int bits,
                     KeyItemPlan& plan) {
    ItemQuery parsed;
    if (own) {
        if (!own->dictionary()) return errSecParam;
        if (OSStatus status = ItemQuery::parse(*own->dictionary(), ItemQuery::Use::Changes, parsed,
                                               ItemClass::Key)) {
            return status;
        }
    }
    plan.attributes = std::move(parsed.attributes);
    auto permanent = plan.attributes.find(kSecAttrIsPermanent);
    plan.permanent =
        permanent != plan.attributes.end() ? *permanent->second.boolean() : permanentByDefault;
    plan.attributes.insert_or_assign(kSecAttrKeyClass, keyClass);
    plan.attributes.insert_or_assign(kSecAttrKeyType, kSecAttrKeyTypeRSA);
    plan.attributes.insert_or_assign(kSecAttrKeySizeInBits, bits);
    plan.attributes.insert_or_assign(kSecAttrIsPermanent, plan.permanent);
    return errSecSuccess;
}

OSStatus parseGeneration(const ns::Dictionary& parameters, int& bits, KeyItemPlan& publicPlan,
                         KeyItemPlan& privatePlan) {
    bool permanent = false;
    const ns::Value* publicAttributes = nullptr;
    const ns::Value* privateAttributes = nullptr;
    bool typed = false;
    bits = 0;
    for (const auto& [key, value] : parameters) {
        if (key == kSecAttrKeyType) {
            if (!value.string() || *value.string() != kSecAttrKeyTypeRSA) return errSecParam;
            typed = true;
        } else if (key == kSecAttrKeySizeInBits) {
            auto n = value.type() == ns::Value::Type::Integer ? value.int64() : std::nullopt;
            if (!n || *n < Key::kMinimumBits || *n > Key::kMaximumBits) return errSecParam;
            bits = static_cast<int>(*n);
        } else if (key == kSecAttrIsPermanent) {
            if (!value.isBool()) return errSecParam;
            permanent = *value.boolean();
        } else if (key == kSecPublicKeyAttrs) {
            publicAttributes = &value;
        } else if (key == kSecPrivateKeyAttrs) {
            privateAttributes = &value;
        } else {
            return errSecParam;
        }
    }
    if (!typed || bits == 0) return errSecParam;
    if (OSStatus status =
            planKeyItem(publicAttributes, permanent, kSecAttrKeyClassPublic, bits, publicPlan)) {
        return status;
    }
    return planKeyItem(privateAttributes, permanent, kSecAttrKeyClassPrivate, bits, privatePlan);
}

}  // namespace

OSStatus Keychain::generateKeyPair(const ns::Dictionary& parameters,
                                   std::shared_ptr<Key>* publicKey,
                                   std::shared_ptr<Key>* privateKey) {
    // A keychain that refuses calls refuses before the costly generation.
    if (OSStatus failure = ns::injectedFault("keychain")) return failure;
    int bits;
    KeyItemPlan publicPlan;
    KeyItemPlan privatePlan;
    if (OSStatus status = parseGeneration(parameters, bits, publicPlan, privatePlan)) {
        return status;
    }
    // Generation takes long; other callers keep the keychain meanwhile.
    auto pair = KeyPair::generateRSA(bits);
    if (!pair) return errSecInternalComponent;
    if (publicPlan.permanent || privatePlan.permanent) {
        dispatch::Lock lock(impl_->mutex);
        const AccessGroups* groups = nullptr;
        if (OSStatus status = impl_->openStore(groups)) return status;
        for (auto* plan : {&publicPlan, &privatePlan}) {
            if (OSStatus status = checkGroup(namedGroup(plan->attributes), *groups)) return status;
        }
        KeychainStore::Transaction transaction(*impl_->store);
        if (transaction.status()) return transaction.status();
        for (auto* plan : {&publicPlan, &privatePlan}) {
            if (!plan->permanent) continue;
            Impl::completeForAdd(plan->attributes, *groups);
            ns::Data der = plan == &publicPlan ? pair->publicKey->publicKeyData()
                                               : *pair->privateKey->privateKeyData();
            if (OSStatus status = impl_->store->insert(
                    rowFor(ItemClass::Key, plan->attributes, std::move(der)))) {
                return status;
            }
        }
        if (OSStatus status = transaction.commit()) return status;
    }
    if (publicKey) *publicKey = pair->publicKey;
    if (privateKey) *privateKey = pair->privateKey;
    return errSecSuccess;
}

}  // namespace sec
