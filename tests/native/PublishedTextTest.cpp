// TPublishedText: the lock-free hand-off of captions and field texts between the host's threads
// and the panel thread. Run under ASan, a node freed while a reader still looks at it shows.

#include "platform/PublishedText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(PublishedText, SetSaysWhetherTheTextChanged) {
    struct TCase {
        const wchar_t* Before;
        const wchar_t* After;
        bool Changed;
    };
    const TCase cases[] = {
        {L"", L"", false},
        {L"", L"1.10510", true},
        {L"1.10510", L"1.10510", false},
        {L"1.10510", L"1.10511", true},
        {L"1.10510", L"1.1051", true},
        {L"2.2", L"", true},
    };
    for (const TCase& change : cases) {
        TPublishedText text(change.Before);
        EXPECT_EQ(text.Set(change.After), change.Changed)
            << change.Before << " -> " << change.After;
        EXPECT_EQ(text.Get(), change.After);
    }
}

// A version of the text that says whether it was read whole: AMark repeated AMark % 40 + 1
// times.
std::wstring Version(wchar_t AMark) {
    return std::wstring(static_cast<size_t>(AMark % 40 + 1), AMark);
}
bool IsWhole(std::wstring_view AText) {
    return !AText.empty() && AText == Version(AText.front());
}

TEST(PublishedText, ReadersSeeOnlyWholeVersionsWhileWritersReplaceThem) {
    TPublishedText text(Version(L'A'));
    std::atomic<bool> stop{false};
    std::atomic<long> torn{0}, reads{0};
    std::vector<std::thread> threads;
    for (int writer = 0; writer < 3; ++writer)
        threads.emplace_back([&, writer] {
            for (int i = 0; !stop.load(); ++i)
                text.Set(Version(static_cast<wchar_t>(L'A' + (writer * 7 + i) % 50)));
        });
    for (int reader = 0; reader < 2; ++reader)
        threads.emplace_back([&] {
            while (!stop.load()) {
                torn += text.With([](std::wstring_view AText) { return !IsWhole(AText); });
                torn += !IsWhole(text.Get());
                ++reads;
            }
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
}

TEST(PublishedText, AReaderThatNeverComesBackHoldsUpNoWriterAndNoOtherReader) {
    // A reader stopped inside its look stands for one killed there.
    TPublishedText text(L"first");
    std::atomic<bool> inside{false}, release{false};
    std::thread stuck([&] {
        text.With([&](std::wstring_view) {
            inside = true;
            while (!release.load())
                std::this_thread::yield();
            return 0;
        });
    });
    while (!inside.load())
        std::this_thread::yield();
    for (int i = 0; i < 1000; ++i)
        text.Set(std::to_wstring(i));
    EXPECT_EQ(text.Get(), L"999");
    EXPECT_FALSE(text.Set(L"999"));
    release = true;
    stuck.join();
    EXPECT_TRUE(text.Set(L"after"));
    EXPECT_EQ(text.Get(), L"after");
}

} // namespace
