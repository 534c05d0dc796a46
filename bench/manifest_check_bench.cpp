// Verifying a synthetic driver package shaped like the shipped one (the 31 manifest names,
// 1 862 656 bytes in total) with the program's integrity check, against the coreutils
// `sha256sum` tool hashing the same files in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver_setup/driver_integrity.h"
#include "driver_setup/embedded_manifest.h"
#include "driver_setup/file_reader.h"
#include "driver_setup/manifest_reader.h"
#include "driver_setup/sha256_digest.h"

extern char** environ;

namespace {

// Sizes by kind of file, chosen after the vendor package: installers and control panel
// largest, then drivers, catalogues, INFs, icons and the read-me.
std::size_t synthetic_size(const std::string& name) {
    if (name.ends_with(".exe")) return 400u << 10;
    if (name.ends_with(".sys")) return 50u << 10;
    if (name.ends_with(".cat")) return 10u << 10;
    if (name.ends_with(".inf")) return 8u << 10;
    if (name.ends_with(".ico")) return 10u << 10;
    return 5u << 10;
}

struct Package {
    std::filesystem::path folder;
    std::string manifest;
    std::vector<std::string> files;
    std::size_t total_bytes = 0;
};

Package& package() {
    static Package made = [] {
        Package p;
        char pattern[] = "/tmp/quorle-bench-package.XXXXXX";
        const char* created = mkdtemp(pattern);
        if (created == nullptr) std::abort();
        p.folder = created;
        const auto names = quorle::setup::read_manifest(quorle::setup::embedded_manifest());
        if (!names) std::abort();
        std::uint32_t state = 0x2545F491u;
        p.manifest = "{\r\n";
        bool first = true;
        for (const auto& [name, unused] : *names) {
            std::string content(synthetic_size(name), '\0');
            for (char& c : content) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                c = static_cast<char>(state & 0xFF);
            }
            const auto path = p.folder / name;
            std::ofstream(path, std::ios::binary)
                .write(content.data(), static_cast<std::streamsize>(content.size()));
            p.files.push_back(path.string());
            p.total_bytes += content.size();
            p.manifest += first ? "" : ",\r\n";
            p.manifest +=
                "  \"" + name + "\": \"" + quorle::setup::sha256_hex(content).value() + "\"";
            first = false;
        }
        p.manifest += "\r\n}\r\n";
        return p;
    }();
    return made;
}

void BM_ManifestCheck(benchmark::State& state) {
    Package& p = package();
    for (auto _ : state) {
        // A fresh reader per run, as the program has: it holds nothing from the run before.
        const quorle::Status status = quorle::setup::verify_driver_files(
            p.folder, p.manifest, *quorle::setup::make_system_file_reader());
        if (!status) state.SkipWithError(status.error().c_str());
        benchmark::DoNotOptimize(status);
    }
    state.counters["files"] = static_cast<double>(p.files.size());
    state.counters["bytes"] = static_cast<double>(p.total_bytes);
}

void BM_Sha256sumTool(benchmark::State& state) {
    Package& p = package();
    std::vector<char*> argv;
    std::string tool = "sha256sum";
    argv.push_back(tool.data());
    for (std::string& file : p.files)
        argv.push_back(file.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t child = 0;
        if (posix_spawnp(&child, "sha256sum", &actions, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("sha256sum could not be started");
            break;
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("sha256sum failed");
    }
    posix_spawn_file_actions_destroy(&actions);
}

BENCHMARK(BM_ManifestCheck)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Sha256sumTool)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(package().folder);
    return 0;
}
