#pragma once

#include <atomic>

// The flags the folder walks and the window share. Each is written by one side and polled by the other;
// atomics make that well defined without locks.
struct ScanState
{
    std::atomic<int> scanning{0};       // a listing or scan is running
    std::atomic<int> stop{0};           // the user asked the running walk to stop
    std::atomic<int> progressTick{-1};  // 0-99, advanced once per directory entry; -1 when idle
    std::atomic<int> subfolderMode{0};  // the next listing walks subfolders too
    std::atomic<int> addListMode{0};    // listings append to the list instead of replacing it

    // The process-wide instance.
    static ScanState &Instance();
};
