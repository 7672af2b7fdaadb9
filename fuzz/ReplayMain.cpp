// Runs a fuzz target without libFuzzer: every input of its corpus, then a
// number of inputs made by mutating them (bit flips, byte changes, cuts,
// insertions, splices) from a fixed seed, so that each run of the suite tries
// the same ones. A finding ends the process the way it does under libFuzzer
// (a sanitizer report or an abort). The suite runs this under AddressSanitizer
// and UndefinedBehaviorSanitizer as a smoke test; scripts/fuzz does the real
// fuzzing.
//
//   replay [--mutations N] [--seed S] FILE_OR_FOLDER...
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

using Input = std::vector<std::uint8_t>;

Input readFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return Input(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void run(const Input &input) { LLVMFuzzerTestOneInput(input.data(), input.size()); }

Input mutate(const std::vector<Input> &corpus, std::mt19937_64 &random) {
    Input out = corpus[random() % corpus.size()];
    const int edits = 1 + int(random() % 4);
    for (int e = 0; e < edits; ++e) {
        const std::size_t at = out.empty() ? 0 : random() % out.size();
        switch (random() % 5) {
        case 0: if (!out.empty()) out[at] ^= std::uint8_t(1u << (random() % 8)); break;
        case 1: if (!out.empty()) out[at] = std::uint8_t(random()); break;
        case 2: out.resize(at); break;
        case 3: out.insert(out.begin() + std::ptrdiff_t(at), std::uint8_t(random())); break;
        default: {
            const Input &other = corpus[random() % corpus.size()];
            if (other.empty()) break;
            const std::size_t from = random() % other.size();
            const std::size_t count = std::min<std::size_t>(other.size() - from, 1 + random() % 32);
            out.insert(out.begin() + std::ptrdiff_t(at), other.begin() + std::ptrdiff_t(from),
                       other.begin() + std::ptrdiff_t(from + count));
        }
        }
    }
    return out;
}

} // namespace

int main(int argc, char **argv) {
    long mutations = 0;
    unsigned long long seed = 1;
    std::vector<Input> corpus;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--mutations" && i + 1 < argc) {
            mutations = std::atol(argv[++i]);
        } else if (arg == "--seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (std::filesystem::is_directory(arg)) {
            std::vector<std::filesystem::path> files;
            for (const auto &entry : std::filesystem::directory_iterator(arg))
                if (entry.is_regular_file()) files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            for (const auto &file : files) corpus.push_back(readFile(file));
        } else {
            corpus.push_back(readFile(arg));
        }
    }
    if (corpus.empty()) {
        std::fprintf(stderr, "replay: no inputs\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    for (const Input &input : corpus) run(input);
    std::mt19937_64 random(seed);
    for (long i = 0; i < mutations; ++i) run(mutate(corpus, random));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("replayed %zu corpus inputs and %ld mutations in %.1f s, crashes 0\n",
                corpus.size(), mutations, seconds);
    return 0;
}
