#ifndef BUFFERPOOL_H
#define BUFFERPOOL_H

#include <QtGlobal>

#include <vector>

// The head buffers of the connections of one thread. A connection holds one only while a request
// is in progress, so that an idle keep-alive connection costs none; the few given back last are
// kept for the next requests instead of going back to the allocator.
class BufferPool
{
public:
    static constexpr int BufferSize = 2048;
    // Free buffers kept; more are freed.
    static constexpr int KeepFree = 64;

    BufferPool(const BufferPool &) = delete;
    BufferPool &operator=(const BufferPool &) = delete;
    ~BufferPool();

    // The pool of the calling thread.
    static BufferPool &instance();

    char *take();
    void give(char *buffer);

private:
    BufferPool() = default;

    std::vector<char *> freeBuffers;
};

#endif
