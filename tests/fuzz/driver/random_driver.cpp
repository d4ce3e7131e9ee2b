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
    int edits = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < edits; i++) {
        switch (rng() % 5) {
        case 0: // flip a byte
            if (!data.empty())
                data[rng() % data.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
        case 1: // random byte
            if (!data.empty())
                data[rng() % data.size()] = static_cast<uint8_t>(rng());
            break;
        case 2: // truncate
            if (!data.empty())
                data.resize(rng() % data.size());
            break;
        case 3: // insert random bytes
            {
                size_t at = data.empty() ? 0 : rng() % (data.size() + 1);
                size_t n = 1 + rng() % 16;
                for (size_t k = 0; k < n; k++)
                    data.insert(data.begin() + static_cast<long>(at), static_cast<uint8_t>(rng()));
            }
            break;
        default: // interesting 32-bit value at an aligned place
            if (data.size() >= 4) {
                static const uint32_t values[] = {0, 1, 0x7fffffffu, 0x80000000u, 0xffffffffu, 400, 401, 65536};
                uint32_t v = values[rng() % 8];
                size_t at = (rng() % (data.size() / 4)) * 4;
                for (int b = 0; b < 4; b++)
                    data[at + b] = static_cast<uint8_t>(v >> (24 - 8 * b));
            }
            break;
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
