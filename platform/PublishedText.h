#pragma once
// A text that threads hand to each other with no lock at all, so that a thread killed at any
// instruction can leave nobody waiting. Platform-free.

#include <atomic>
#include <string>
#include <string_view>
#include <utility>

// Every version of the text is an immutable node, published by one atomic exchange. Readers
// count themselves in while they look at a node; a node that was replaced is freed by the
// thread that replaces one later, once no reader is counted in, and the rest at destruction.
// Writers never count themselves in, so a writer killed anywhere leaves at most one node
// unfreed; a reader killed while counted in keeps later replaced nodes until destruction.
// Memory is all either can cost: never a wait.
// Every atomic here must stay sequentially consistent: the proof that a freed node has no
// reader needs one total order of a reader's count-in and current-load with a writer's
// exchange, push, take and count-read, which acquire and release alone do not give.
class TPublishedText {
public:
    explicit TPublishedText(std::wstring AText = {}) : FCurrent(new TNode{std::move(AText)}) {}
    ~TPublishedText() {
        delete FCurrent.load();
        FreeChain(FRetired.load());
    }
    TPublishedText(const TPublishedText&) = delete;
    TPublishedText& operator=(const TPublishedText&) = delete;

    // Calls AReader with a view of the current text, valid during the call. Any thread.
    template <class F> auto With(F&& AReader) const {
        FReaders.fetch_add(1);
        struct TCountOut {
            std::atomic<long>& Readers;
            ~TCountOut() { Readers.fetch_sub(1); }
        } countOut{FReaders};
        return AReader(std::wstring_view(FCurrent.load()->Text));
    }
    std::wstring Get() const {
        return With([](std::wstring_view AText) { return std::wstring(AText); });
    }

    // Publishes a copy of AText; true when it differs from the text it replaced. Any thread.
    // The text replaced is compared after the exchange, when no other thread can free it; the
    // node just published may already be replaced and freed, so AText is what it is compared to.
    bool Set(const std::wstring& AText) {
        TNode* old = FCurrent.exchange(new TNode{AText});
        const bool changed = old->Text != AText;
        Retire(old);
        return changed;
    }

private:
    struct TNode {
        std::wstring Text;
        TNode* Next = nullptr;
    };

    static void FreeChain(TNode* ANode) {
        while (ANode)
            delete std::exchange(ANode, ANode->Next);
    }
    void Push(TNode* AFirst, TNode* ALast) {
        TNode* head = FRetired.load();
        do
            ALast->Next = head;
        while (!FRetired.compare_exchange_weak(head, AFirst));
    }
    // Every retired node left the current slot before it was pushed, so a reader that can still
    // see one counted itself in before the list was taken; none counted in means none sees it.
    void Retire(TNode* ANode) {
        Push(ANode, ANode);
        TNode* taken = FRetired.exchange(nullptr);
        if (!taken)
            return;
        if (FReaders.load() == 0) {
            FreeChain(taken);
            return;
        }
        TNode* last = taken;
        while (last->Next)
            last = last->Next;
        Push(taken, last);
    }

    std::atomic<TNode*> FCurrent;
    std::atomic<TNode*> FRetired{nullptr}; // replaced nodes not yet freed
    mutable std::atomic<long> FReaders{0};
};
