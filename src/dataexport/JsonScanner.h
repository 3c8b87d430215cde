#pragma once

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

// Finds where values stand in a JSON document without parsing them: enough to hand a huge export
// to the parser one conversation at a time. Strings are skipped, never decoded.
//
// Why not the parser for all of it: simdjson takes no document over 4 GiB, and the index it builds
// for a whole document costs several times the text's size in memory, where an export runs to
// gigabytes. Walking the brackets with memchr over the strings costs nothing but one pass; each
// conversation's messages are then parsed alone.
class JsonScanner final {
public:
    explicit JsonScanner(std::string_view json);

    // For each object in the array under the root object's `arrayKey`, the raw text of its members
    // named in `wanted`, in that order (empty where one is missing); elements that are not objects
    // are passed over. Nothing when the root object has no such key. Throws std::runtime_error on a
    // document whose brackets or strings do not close, that holds what is no value or anything
    // behind the root object, or where the key holds no array.
    std::optional<std::vector<std::vector<std::string_view>>>
    membersOfEach(std::string_view arrayKey, const std::vector<std::string_view>& wanted) const;

    // The same, handing each object's members to `each` as soon as the object is passed, with the
    // position just behind it: the text before that position is not looked at again, so a caller
    // may let go of it. False when the root object has no such key.
    using Each = std::function<void(const std::vector<std::string_view>& members, size_t end)>;
    bool forEach(std::string_view arrayKey, const std::vector<std::string_view>& wanted,
                 const Each& each) const;

private:
    // Handles the member `name` whose value starts at `valueAt`; returns the position behind the value.
    using Member = std::function<size_t(std::string_view name, size_t valueAt)>;

    // Walks the object that opens at `at`; returns the position just behind it.
    size_t walkObject(size_t at, const Member& member) const;
    // Walks the array that opens at `at`, handing each element's start to `element`.
    size_t walkArray(size_t at, const std::function<size_t(size_t elementAt)>& element) const;
    size_t skipBlanks(size_t at) const;
    size_t skipString(size_t at) const;
    size_t skipValue(size_t at) const;
    // Walks [from, to) of a list or an object with the state carried over from before `from`; the
    // position just behind the bracket that closes it, or nothing.
    struct Walk {
        int depth = 0;
        bool inString = false;
        bool escaped = false;
    };
    std::optional<size_t> walkBytes(size_t from, size_t to, Walk& walk) const;
    [[noreturn]] void malformed(size_t at) const;

    std::string_view m_json;
};
