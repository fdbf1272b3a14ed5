// The vector benchmark in C++ over std::vector<int>: 1 000 000 ints
// appended, summed through element addresses, then half of them erased from
// the end one call at a time. Prints what the bytecode version logs and the
// processor time on standard error, as vmrun does.
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <vector>

int main()
{
    std::clock_t t0 = std::clock();
    const int n = 1000000;
    std::vector<int> v;
    for (int i = 0; i < n; ++i)
        v.push_back(i);
    int32_t sum = 0;
    for (int i = 0; i < n; ++i) {
        const volatile int* p = &v[size_t(i)];
        sum = int32_t(uint32_t(sum) + uint32_t(*p));
    }
    for (int i = n - 1; i >= n / 2; --i)
        v.erase(v.begin() + i);
    std::fprintf(stderr, "time %.3f s\n", double(std::clock() - t0) / CLOCKS_PER_SEC);
    std::printf("%d\n%zu\n", sum, v.size());
    return 0;
}
