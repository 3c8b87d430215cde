#pragma once

#include <QString>

#include <exception>
#include <set>

class ErrorTrap;
class MessageBoxes;

// A damaged history can fail hundreds of chats, each with boxes of its own: a run shows the boxes of
// its first failing chats only, and then one box that says how many more chats could not be read. So
// too for the transcripts that cannot be put in place (a shared folder of another user's files).
class ChatFailures final {
public:
    // Boxes shown for the chats of one run, at most.
    static constexpr int kShownBoxes = 5;

    explicit ChatFailures(ErrorTrap& trap);

    // The steps of one chat, from here to the end of the scope: once the boxes of earlier chats are
    // shown, its failures are only counted. `chat`: the chat's position; a transcript being put in
    // place counts by a negative number of its own.
    class Scope final {
    public:
        Scope(ChatFailures& failures, int chat);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        ChatFailures& m_failures;
        int m_chat;
        int m_failedBefore;
        int m_shownBefore;
    };

    // The failure of a transcript put in place in the background, `chat` its number (negative), known
    // only once later steps began: shown or counted as it would have been at once, in a scope of its
    // own before the one under way.
    void reportLate(int chat, int line, const std::exception_ptr& error);
    ErrorTrap& trap() const { return m_trap; }

    // The chats that failed with none of their boxes shown.
    int unshown() const;
    // Shows how many they were, and how many transcripts, if any: before the box that lists the
    // transcripts kept.
    void report(MessageBoxes& boxes) const;
    static QString message(int chats);
    static QString transcriptsMessage(int transcripts);

private:
    ErrorTrap& m_trap;
    int m_shown = 0;
    std::set<int> m_shownChats;
    std::set<int> m_unshown;
};
