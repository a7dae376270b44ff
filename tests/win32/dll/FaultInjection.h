#pragma once
// Tools that put the library into states a test could otherwise only hope to hit: new threads
// held at their start, and one of its imported functions replaced (a failing PostMessageA)
// through TImportPatch.

#include "platform/Win32.h"
#include "terminal/tests/ImportPatch.h"

// Holds the loader lock: a thread created meanwhile exists but cannot begin to run until the
// lock is released, so a chart whose panel thread has just been started stays pending for as
// long as the test needs. The holder must not wait for any thread while it holds the lock.
class THeldThreadStarts {
public:
    THeldThreadStarts();
    ~THeldThreadStarts() { Release(); }
    THeldThreadStarts(const THeldThreadStarts&) = delete;
    THeldThreadStarts& operator=(const THeldThreadStarts&) = delete;
    bool Held() const { return FHeld; }
    void Release();

private:
    bool FHeld = false;
    ULONG_PTR FCookie = 0;
};
