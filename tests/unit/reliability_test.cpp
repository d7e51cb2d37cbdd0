// Linked only into the checked build of the unit tests. After the tests, every heap
// of the process is walked block by block. Told to warn about the heap
// (WINEDEBUG=warn+heap), Wine pads each block with a known tail and fills each freed
// block with a known pattern, holding it back from reuse for a while; the walk then
// finds a write past the end of a block or into a freed one, and the run fails.
// The canaries show that both this walk and the standard library's bounds checks
// are really in force: CTest runs them apart and expects each to be caught.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

bool EveryHeapIsWhole() {
    std::vector<HANDLE> heaps(16);
    for (;;) {
        DWORD count = ::GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
        if (count <= heaps.size()) {
            heaps.resize(count);
            break;
        }
        heaps.resize(count);
    }
    bool whole = true;
    for (HANDLE heap : heaps) whole = ::HeapValidate(heap, 0, nullptr) && whole;
    return whole;
}

class HeapWalk : public ::testing::Environment {
public:
    void TearDown() override { EXPECT_TRUE(EveryHeapIsWhole()) << "a heap block was written out of bounds"; }
};

[[maybe_unused]] ::testing::Environment* const heapWalk = ::testing::AddGlobalTestEnvironment(new HeapWalk);

TEST(CheckerCanary, AWriteOneBytePastABlockIsFound) {
    volatile size_t size = 16;
    char* block = static_cast<char*>(std::malloc(size));
    ASSERT_NE(block, nullptr);
    block[size] = 'x';
    EXPECT_FALSE(EveryHeapIsWhole());
    std::free(block);
}

TEST(CheckerCanary, AnIndexPastTheEndStopsTheProgram) {
    std::vector<int> values(3);
    volatile size_t past = values.size();
    values[past] = 1;
    ADD_FAILURE() << "the index past the end went unnoticed";
}

}  // namespace
