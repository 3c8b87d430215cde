#pragma once

#include <QtGlobal>

#include <vector>

// What the link tells as a handler reads the history, for the front end to show: the command line's
// progress line, the window's repaints under the busy pointer. Told on the thread that reads the link,
// never on the threads that read ahead; positions count from 1, as the link's do.
class ReadProgress {
public:
    virtual ~ReadProgress() = default;
    // The number of chats was asked for.
    virtual void chatsCounted(int total) = 0;
    // The reader was told the chats it will read, in this order.
    virtual void chatsPlanned(const std::vector<int>& positions) = 0;
    // The chat at this position was asked for.
    virtual void chatAsked(int position) = 0;
    // A message was handed to the reader.
    virtual void messageRead() = 0;
};
