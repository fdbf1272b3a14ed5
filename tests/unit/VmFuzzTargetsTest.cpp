// The fuzz targets' code in the normal builds: every seed of the corpus and
// every input of a past finding (fuzz/regressions/<target>/) runs through its
// target, which aborts when a property it checks does not hold.
#if MCB_HAVE_FUZZ

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "FuzzSupport.h"
#ifdef MCB_HAVE_HOST
#include "HostTestSupport.h"
#endif

namespace {

struct Target {
    const char* name;   // fuzz/regressions/<name>
    const char* seeds;  // fuzz/corpus/<seeds>
    int (*run)(const uint8_t*, size_t);
};

const Target kTargets[] = {
    {"loader", "bytecode", fuzz::loader},
    {"run", "bytecode", fuzz::run},
    {"disassembler", "bytecode", fuzz::disassembler},
    {"assembler", nullptr, fuzz::assembler},
    {"natives", "natives", fuzz::natives},
    {"trace", "trace", fuzz::trace},
    {"images", "images", fuzz::images},
    {"gc_differential", "gc_differential", fuzz::gcDifferential},
};

int replay(const std::filesystem::path& directory, int (*run)(const uint8_t*, size_t))
{
    int inputs = 0;
    if (!std::filesystem::is_directory(directory))
        return 0;
    for (auto& entry : std::filesystem::directory_iterator(directory)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().string());
        run(bytes.data(), bytes.size());
        ++inputs;
    }
    return inputs;
}

}  // namespace

TEST(VmFuzzTargets, SeedsAndPastFindingsRunThroughTheirTargets)
{
#ifdef MCB_HAVE_HOST
    ASSERT_TRUE(hosttest::ensureApplication());
#endif
    fuzz::initQt();
    const std::filesystem::path root = std::filesystem::path(MCB_SOURCE_DIR) / "fuzz";
    int seeds = 0;
    for (const Target& t : kTargets) {
        if (t.seeds)
            seeds += replay(root / "corpus" / t.seeds, t.run);
        replay(root / "regressions" / t.name, t.run);
    }
    EXPECT_GT(seeds, 100);
    // The assembler's seeds are the programs of the tests.
    EXPECT_GT(replay(std::filesystem::path(MCB_SOURCE_DIR) / "tests" / "asm" / "vm", fuzz::assembler), 10);
}

#endif  // MCB_HAVE_FUZZ
