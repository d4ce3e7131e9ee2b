// Stand-in for libFuzzer where it is not available (GCC, MinGW): feeds the
// target every seed file, then a bounded number of inputs made by mutating
// the seeds with a fixed-seed generator, so a run is repeatable.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

std::vector<std::vector<uint8_t>> LoadSeeds(const char *dir)
{
    std::vector<std::vector<uint8_t>> seeds;
    std::error_code ec;
    if (dir == nullptr || !std::filesystem::is_directory(dir, ec))
        return seeds;
    for (const auto &entry : std::filesystem::directory_iterator(dir, ec)) {
        if (!entry.is_regular_file(ec))
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return seeds;
}

void Mutate(std::vector<uint8_t> &data, std::mt19937 &rng)
{
    static const uint32_t values[] = {0, 1, 0x7fffffffu, 0x80000000u, 0xffffffffu, 400, 401, 65536};
    for (int i = 0, edits = 1 + static_cast<int>(rng() % 8); i < edits; i++) {
        const unsigned kind = rng() % 5;
        if (kind == 3) {  // insert random bytes
            size_t at = data.empty() ? 0 : rng() % (data.size() + 1);
            for (size_t k = 0, n = 1 + rng() % 16; k < n; k++)
                data.insert(data.begin() + static_cast<long>(at), static_cast<uint8_t>(rng()));
        } else if (data.empty()) {
            continue;
        } else if (kind == 0) {  // flip a bit
            data[rng() % data.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        } else if (kind == 1) {  // random byte
            data[rng() % data.size()] = static_cast<uint8_t>(rng());
        } else if (kind == 2) {  // truncate
            data.resize(rng() % data.size());
        } else if (data.size() >= 4) {  // an interesting 32-bit value at an aligned place
            uint32_t v = values[rng() % 8];
            size_t at = (rng() % (data.size() / 4)) * 4;
            for (int b = 0; b < 4; b++)
                data[at + b] = static_cast<uint8_t>(v >> (24 - 8 * b));
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    long runs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000;
    std::vector<std::vector<uint8_t>> seeds = LoadSeeds(argc > 2 ? argv[2] : nullptr);
    for (const auto &seed : seeds)
        LLVMFuzzerTestOneInput(seed.data(), seed.size());
    std::mt19937 rng(12345);
    for (long i = 0; i < runs; i++) {
        std::vector<uint8_t> data;
        if (!seeds.empty() && rng() % 4 != 0) {
            data = seeds[rng() % seeds.size()];
        } else {
            data.resize(rng() % 512);
            for (auto &b : data)
                b = static_cast<uint8_t>(rng());
        }
        Mutate(data, rng);
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    std::printf("%ld random inputs and %zu seeds ran without a fault\n", runs, seeds.size());
    return 0;
}
