#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/ns/Value.h"
#include "platform/sec/SecBase.h"

namespace sec {

class AccessGroups;
class Key;

// The keychain: items of a class (generic passwords, keys) with attributes and value data,
// kept in one SQLite file of a private directory that lives outside the application's
// container, so that it survives a reinstall. The process's keychain is the one beside the
// sandbox of the application it runs, unless HYB_KEYCHAIN_DIR names a folder that several
// applications share.
//
// Queries follow the platform: an attribute named in a query must match exactly (text and data
// compare by their bytes), an attribute left out matches anything, except the access group: a
// query that names none matches only the groups the application holds (AccessGroups: its own,
// then the shared ones it declares), and one that names a group the application may not use
// answers errSecMissingEntitlement. An item is identified by class, service, account and access
// group (generic passwords) or class, application tag, key class and access group (keys); an
// item added without an access group goes into the application's own. Every call is one
// transaction; any thread may call.
class Keychain {
public:
    // Opens lazily: the directory and file are made by the first call that needs them.
    explicit Keychain(std::filesystem::path directory);
    ~Keychain();
    Keychain(const Keychain&) = delete;
    Keychain& operator=(const Keychain&) = delete;

    // The process's keychain, in defaultDirectory() (followed as the sandbox moves) until
    // setDirectory() says otherwise.
    static Keychain& shared();
    // Moves the process's keychain to another directory for good; an empty path gives it back
    // to the sandbox.
    static void setDirectory(const std::filesystem::path& directory);
    // $HYB_KEYCHAIN_DIR, else the sandbox's keychain folder (ns::Sandbox::keychainDirectory()).
    static std::filesystem::path defaultDirectory();

    // The keychain's folder now.
    std::filesystem::path directory() const;

    // The groups of the main bundle's application (AccessGroups::ofBundle), read again when
    // the main bundle changes, until setAccessGroups() says otherwise. When the keychain first
    // opens its file with these groups, items that earlier versions kept in groups of a former
    // team go into the same-named groups of the application's team
    // (AccessGroups::formerGroups); an item already there wins, and its former twin goes
    // unless other teams may still claim it, so that nothing is left to carry at the next
    // open. Until that has succeeded every call fails with the reason, and the next call tries
    // again: a search would not find those items, and an item added beside them would make a
    // twin.
    AccessGroups accessGroups() const;
    void setAccessGroups(const AccessGroups& groups);
    // A group of the application's team, named without the team, that a library of the
    // application keeps items in beside the groups it holds (a token cache that the team's
    // applications share): items of earlier versions are carried over into it as into those.
    void carryOverTeamGroup(std::string name);
    // The team of every application before each had its own; what a process without a bundle
    // identifier still uses.
    static constexpr const char* kTeamPrefix = "LOCALTEAM.";
    static constexpr const char* kInitialAccessGroup = "LOCALTEAM.hybrid-host";
    // The group of items added without one (accessGroups().own()).
    std::string defaultAccessGroup() const;
    // Holds this group alone, of the team its first dot-separated part names.
    void setDefaultAccessGroup(std::string group);

    OSStatus add(const ns::Dictionary& attributes, ns::Value* result = nullptr);
    OSStatus copyMatching(const ns::Dictionary& query, ns::Value* result);
    OSStatus copyKey(const ns::Dictionary& query, std::shared_ptr<Key>* key);
    OSStatus update(const ns::Dictionary& query, const ns::Dictionary& attributesToUpdate);
    OSStatus remove(const ns::Dictionary& query);
    // Removes the items matching the query and adds one made of the query's attributes with
    // `attributes` (value data included) laid over them, in one transaction: a reader sees the
    // old item or the new one, never neither.
    OSStatus replace(const ns::Dictionary& query, const ns::Dictionary& attributes);

    // RSA key generation; keys whose attributes (or the parameters) say kSecAttrIsPermanent
    // are stored as key items, both in one transaction.
    OSStatus generateKeyPair(const ns::Dictionary& parameters, std::shared_ptr<Key>* publicKey,
                             std::shared_ptr<Key>* privateKey);

private:
    Keychain();  // the shared one, whose directory follows the sandbox
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sec
