#include "server/bufferpool.h"

BufferPool::~BufferPool()
{
    for (char *buffer : freeBuffers)
        delete[] buffer;
}

BufferPool &BufferPool::instance()
{
    static thread_local BufferPool pool;
    return pool;
}

char *BufferPool::take()
{
    if (freeBuffers.empty())
        return new char[BufferSize];
    char *buffer = freeBuffers.back();
    freeBuffers.pop_back();
    return buffer;
}

void BufferPool::give(char *buffer)
{
    if (!buffer)
        return;
    if (freeBuffers.size() < size_t(KeepFree))
        freeBuffers.push_back(buffer);
    else
        delete[] buffer;
}
