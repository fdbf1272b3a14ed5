// The work of benchmarks/vm/strings.mcbs in C++ on std::u16string: a text of
// 1 048 576 units built by appending one unit at a time, split at the commas
// into new strings, and the occurrences of "mno," counted. Prints the three
// results on standard output and the processor time on standard error as
// "time N s", like vmrun and the Lua program, for benchmarks/strings_vs_lua.sh.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

int main()
{
    constexpr int kLength = 1048576;
    std::clock_t t0 = std::clock();
    std::u16string s;
    for (int i = 0; i < kLength; ++i) {
        int k = i & 15;
        s.push_back(k == 15 ? u',' : char16_t(u'a' + k));
    }
    std::vector<std::u16string> pieces;
    size_t from = 0;
    for (size_t at; (at = s.find(u',', from)) != std::u16string::npos; from = at + 1)
        if (at > from)
            pieces.emplace_back(s, from, at - from);
    if (from < s.size())
        pieces.emplace_back(s, from);
    int count = 0;
    const std::u16string pattern = u"mno,";
    for (size_t at = s.find(pattern); at != std::u16string::npos; at = s.find(pattern, at + pattern.size()))
        ++count;
    const size_t n = pieces.size();
    pieces.clear();  // freeing the pieces is part of the work, as the collection is in vmrun
    std::clock_t t1 = std::clock();
    std::printf("%zu\n%zu\n%d\n", s.size(), n, count);
    std::fprintf(stderr, "time %.3f s\n", double(t1 - t0) / CLOCKS_PER_SEC);
    return 0;
}
