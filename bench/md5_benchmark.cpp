// Measures MD5Checksum against OpenSSL's MD5 on the same buffers and the same
// file, in one run, and prints time ratios of the medians. A ratio of 1.00 or
// more means MD5Checksum is at least as fast as OpenSSL.
//
// Flags besides Google Benchmark's own:
//   --md5_file=PATH  the file for the stream benchmarks (default: a 256 MiB
//                    file of pseudo-random bytes made in $TMPDIR and removed
//                    afterwards).
#define OPENSSL_SUPPRESS_DEPRECATED  // the one-shot MD5 calls are what we race
#include <openssl/md5.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "core/md5_checksum.h"

namespace {

const unsigned long kFileSize = 256ul << 20;
const std::streamsize kReadSize = 1024;  // the stream form's read size

std::string g_fileName;  // given, or made on first use
bool g_madeFile = false;

const std::vector<char>& randomBytes() {
    static const std::vector<char> bytes = [] {
        std::vector<char> b(1ul << 20);
        std::mt19937 gen(1321);
        for (char& c : b) c = static_cast<char>(gen());
        return b;
    }();
    return bytes;
}

bool makeRandomFile(const std::string& name) {
    std::FILE* out = std::fopen(name.c_str(), "wb");
    if (out == nullptr) return false;
    const std::vector<char>& block = randomBytes();
    bool ok = true;
    for (unsigned long written = 0; ok && written < kFileSize; written += block.size()) {
        ok = std::fwrite(block.data(), 1, block.size(), out) == block.size();
    }
    return std::fclose(out) == 0 && ok;
}

// The file for the stream benchmarks, made when the first of them runs so that
// a filtered run of the buffer benchmarks writes nothing.
const std::string& benchFile(benchmark::State& state) {
    if (g_fileName.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        g_fileName = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                     "/md5_benchmark." + std::to_string(getpid());
        g_madeFile = true;
        if (!makeRandomFile(g_fileName)) state.SkipWithError("cannot write the file");
    }
    return g_fileName;
}

void setBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Hwid(benchmark::State& state) {
    const char* data = randomBytes().data();
    const unsigned long length = static_cast<unsigned long>(state.range(0));
    for (auto _ : state) {
        std::string digest = zefStream::MD5Checksum::getMD5(data, length);
        benchmark::DoNotOptimize(digest);
    }
    setBytes(state);
}

void BM_OpenSSL(benchmark::State& state) {
    const unsigned char* data = reinterpret_cast<const unsigned char*>(randomBytes().data());
    const std::size_t length = static_cast<std::size_t>(state.range(0));
    unsigned char digest[MD5_DIGEST_LENGTH];
    for (auto _ : state) {
        MD5(data, length, digest);
        benchmark::DoNotOptimize(digest);
        benchmark::ClobberMemory();
    }
    setBytes(state);
}

void BM_HwidStream(benchmark::State& state) {
    const std::string& fileName = benchFile(state);
    for (auto _ : state) {
        std::ifstream file(fileName.c_str(), std::ios::in | std::ios::binary);
        std::string digest = zefStream::MD5Checksum::getMD5(file);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

// The same reads as the stream form, so that only the digest differs.
void BM_OpenSSLStream(benchmark::State& state) {
    const std::string& fileName = benchFile(state);
    for (auto _ : state) {
        std::ifstream file(fileName.c_str(), std::ios::in | std::ios::binary);
        MD5_CTX context;
        MD5_Init(&context);
        char chunk[kReadSize];
        std::streamsize got;
        do {
            file.read(chunk, kReadSize);
            got = file.gcount();
            MD5_Update(&context, chunk, static_cast<std::size_t>(got));
        } while (got == kReadSize);
        unsigned char digest[MD5_DIGEST_LENGTH];
        MD5_Final(digest, &context);
        benchmark::DoNotOptimize(digest);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_HwidFile(benchmark::State& state) {
    const std::string fileName = benchFile(state);
    for (auto _ : state) {
        std::string digest = zefStream::MD5Checksum::getMD5(fileName);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

// A device id is 12 bytes; 64 B and 1 KiB show the fixed cost; 1 MiB is the
// figure the goal is about.
void bufferSizes(benchmark::internal::Benchmark* b) {
    for (int64_t size : {12, 64, 1024, 1 << 20}) b->Arg(size);
}

BENCHMARK(BM_Hwid)->Apply(bufferSizes);
BENCHMARK(BM_OpenSSL)->Apply(bufferSizes);
BENCHMARK(BM_HwidStream)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_OpenSSLStream)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_HwidFile)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

// Prints what the console reporter prints, but in the order the benchmarks are
// declared rather than the shuffled order they ran in, and keeps the medians
// for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Colours only for a terminal: a saved report should be plain text.
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& reports) override {
        for (const Run& run : reports) {
            runs_.push_back(run);
            if (run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (!median && !single) continue;
            const double n = static_cast<double>(run.iterations);
            medians_[run.run_name.function_name][run.run_name.args] = {
                run.real_accumulated_time / n, run.cpu_accumulated_time / n};
        }
    }

    void Finalize() override {
        std::stable_sort(runs_.begin(), runs_.end(), [](const Run& a, const Run& b) {
            return a.family_index != b.family_index
                       ? a.family_index < b.family_index
                       : a.per_family_instance_index < b.per_family_instance_index;
        });
        benchmark::ConsoleReporter::ReportRuns(runs_);
        benchmark::ConsoleReporter::Finalize();
    }

    // OpenSSL's time over ours for each pair measured in this run, by wall
    // clock and by CPU time (the latter is steadier on a shared machine).
    void printRatios() const {
        static const std::pair<const char*, const char*> kPairs[] = {
            {"BM_Hwid", "BM_OpenSSL"},
            {"BM_HwidStream", "BM_OpenSSLStream"},
            {"BM_HwidFile", "BM_OpenSSLStream"},
        };
        std::printf("\n%-18s %13s %13s %7s %13s %13s %7s\n", "median per call", "ours (wall)",
                    "OpenSSL", "ratio", "ours (CPU)", "OpenSSL", "ratio");
        for (const auto& pair : kPairs) {
            const auto ours = medians_.find(pair.first);
            const auto theirs = medians_.find(pair.second);
            if (ours == medians_.end() || theirs == medians_.end()) continue;
            for (const auto& entry : ours->second) {
                const auto other = theirs->second.find(entry.first);
                if (other == theirs->second.end()) continue;
                const std::string name =
                    std::string(pair.first + 3) + (entry.first.empty() ? "" : "/" + entry.first);
                const Times& a = entry.second;
                const Times& b = other->second;
                std::printf("%-18s %10.3f us %10.3f us %7.2f %10.3f us %10.3f us %7.2f\n",
                            name.c_str(), a.real * 1e6, b.real * 1e6, b.real / a.real, a.cpu * 1e6,
                            b.cpu * 1e6, b.cpu / a.cpu);
            }
        }
        std::printf(
            "ratio = OpenSSL's time / MD5Checksum's time; >= 1.00: at least as fast."
            " Stream and File are\ncompared with OpenSSL fed by the same 1024-byte"
            " reads of the same file.\n");
    }

private:
    struct Times {
        double real;
        double cpu;
    };
    std::vector<Run> runs_;
    // Sizes sort as numbers: the argument strings are zero-free decimals.
    struct BySize {
        bool operator()(const std::string& a, const std::string& b) const {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        }
    };
    std::map<std::string, std::map<std::string, Times, BySize>> medians_;
};

}  // namespace

int main(int argc, char** argv) {
    // Interleaved repetitions, so that a slow patch of the machine hits both
    // contenders alike; the medians are what the ratios use.
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=9";
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::string aggregates = "--benchmark_report_aggregates_only=true";
    args.insert(args.begin() + 1, {&repetitions[0], &interleave[0], &aggregates[0]});

    for (auto it = args.begin() + 1; it != args.end();) {
        if (std::strncmp(*it, "--md5_file=", 11) == 0) {
            g_fileName = *it + 11;
            it = args.erase(it);
        } else {
            ++it;
        }
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    if (g_madeFile) std::remove(g_fileName.c_str());
    return 0;
}
