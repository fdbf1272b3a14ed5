#include "PairCounts.h"

#ifdef MCB_COUNT_PAIRS
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Opcodes.h"

namespace vm {

namespace {

struct Counts {
    uint64_t pairs[256][256] = {};
    uint64_t singles[256] = {};
    uint8_t previous = 0xFF;

    ~Counts()
    {
        const char* path = std::getenv("MCB_PAIR_COUNTS");
        FILE* out = path ? std::fopen(path, "a") : stderr;
        if (!out)
            return;
        std::vector<std::pair<uint64_t, int> > order;
        for (int a = 0; a < 256; ++a)
            for (int b = 0; b < 256; ++b)
                if (pairs[a][b])
                    order.push_back({pairs[a][b], a * 256 + b});
        std::sort(order.rbegin(), order.rend());
        for (auto [n, ab] : order) {
            const char* a = kOpcodeInfo[ab / 256].mnemonic;
            const char* b = kOpcodeInfo[ab % 256].mnemonic;
            std::fprintf(out, "pair %s %s %llu\n", a ? a : "-", b ? b : "-", (unsigned long long)n);
        }
        for (int a = 0; a < 256; ++a)
            if (singles[a])
                std::fprintf(out, "op %s %llu\n", kOpcodeInfo[a].mnemonic ? kOpcodeInfo[a].mnemonic : "-",
                             (unsigned long long)singles[a]);
        if (out != stderr)
            std::fclose(out);
    }
};

Counts gCounts;

}  // namespace

void countPair(uint8_t opcode)
{
    ++gCounts.pairs[gCounts.previous][opcode];
    ++gCounts.singles[opcode];
    gCounts.previous = opcode;
}

}  // namespace vm
#endif
