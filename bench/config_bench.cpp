// The reference auxiliary library's share of a launch: dlopen,
// kivLauncherGetAPI, kivLauncherCreate, getDataSize, fillData, release and
// dlclose, as the launcher's child does them once. Measured for
//   after     this build's library on the hello sample's configuration;
//   before    another build of the library (--before-library) on its own
//             configuration (--before-config), when given: the library as
//             it was, for the ratio after / before;
//   includes  this build's library on a configuration of 5 included files
//             and 1,000 arguments.
// Each library lies in an application tree of its own in a temporary
// directory, with an empty file as the runtime library the configuration
// names; HOME is an empty directory there, so the sample's user file
// matches nothing. Repetitions of the benchmarks are interleaved.
//
// Usage: config_bench [--before-library=LIB --before-config=CFG] [benchmark flags]
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <kivlauncher_api.h>

#include "bench_report.h"

namespace {

namespace fs = std::filesystem;

// An application tree for one library: root/<name>/lib/libapplauncher.so
// beside its applauncher.cfg, and the files `extra` names under lib/.
std::string makeTree(const fs::path &root, const std::string &name, const std::string &library,
                     const std::string &config,
                     const std::vector<std::pair<std::string, std::string>> &extra = {}) {
    fs::path lib = root / name / "lib";
    fs::create_directories(lib);
    fs::create_directories(root / name / "bin");
    fs::copy_file(library, lib / "libapplauncher.so");
    std::ofstream(lib / "applauncher.cfg") << config;
    std::ofstream(lib / "libhux_python.so") << "";
    for (const auto &[file, text] : extra) {
        fs::create_directories((lib / file).parent_path());
        std::ofstream(lib / file) << text;
    }
    return (lib / "libapplauncher.so").string();
}

// The whole text of the file at `path`.
std::string readText(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The main file of 5 included files holding 200 arguments each.
std::string includesConfig(std::vector<std::pair<std::string, std::string>> *files) {
    for (int file = 0; file < 5; file++) {
        std::string text = "# arguments " + std::to_string(file * 200) + " on\n";
        for (int arg = 0; arg < 200; arg++) {
            text += "arg=--option-" + std::to_string(file * 200 + arg) + "=$APPDIR/share/value\n";
        }
        files->push_back({"applauncher.d/" + std::to_string(10 + file) + ".cfg", text});
    }
    return "runtime=libhux_python.so\narg=$APPDIR/bin/app\nenv=APP_HOME=$APPDIR\n"
           "include=applauncher.d/*.cfg\n";
}

// One launch's share of the library at `library`.
void libraryShare(benchmark::State &state, const std::string &library, int32_t expectedArgs) {
    char arg0[] = "/opt/app/bin/app";
    char arg1[] = "Alice";
    char *argv[] = {arg0, arg1, nullptr};
    for (auto _ : state) {
        void *handle = dlopen(library.c_str(), RTLD_NOW);
        auto getApi = handle ? (KivLauncherGetAPIFn)dlsym(handle, "kivLauncherGetAPI") : nullptr;
        auto create = handle ? (KivLauncherCreateFn)dlsym(handle, "kivLauncherCreate") : nullptr;
        const KivlLauncherAPI *api = getApi ? getApi() : nullptr;
        KivLauncherHandle made = api && create ? create(2, argv) : nullptr;
        int32_t size = made ? api->getDataSize(made) : 0;
        void *buffer = size > 0 ? malloc((size_t)size) : nullptr;
        KivlLauncherData *block = buffer ? api->fillData(made, buffer, size) : nullptr;
        if (made) {
            api->release(made);
        }
        bool sound = block != nullptr && block->argCount == expectedArgs;
        free(buffer);
        if (handle) {
            dlclose(handle);
        }
        if (!sound) {
            state.SkipWithError("the library gave no block, or not the one expected");
            break;
        }
    }
}

// Takes --NAME=VALUE out of argv; "" when absent.
std::string takeFlag(int *argc, char **argv, const std::string &name) {
    std::string prefix = "--" + name + "=";
    for (int i = 1; i < *argc; i++) {
        if (strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) {
            std::string value = argv[i] + prefix.size();
            std::copy(argv + i + 1, argv + *argc + 1, argv + i);
            (*argc)--;
            return value;
        }
    }
    return "";
}

}  // namespace

int main(int argc, char **argv) {
    std::string beforeLibrary = takeFlag(&argc, argv, "before-library");
    std::string beforeConfig = takeFlag(&argc, argv, "before-config");
    char pattern[] = "/tmp/applauncher-config-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return 1;
    }
    fs::path root = pattern;
    fs::create_directories(root / "home");
    setenv("HOME", (root / "home").c_str(), 1);
    for (const char *name : {"XDG_CONFIG_HOME", "HELLO_OPTIONS", "SORVANTA_DEBUG"}) {
        unsetenv(name);
    }
    // The sample's two configured arguments and the command line's one.
    std::string after = makeTree(root, "after", AFTER_LIBRARY, readText(SAMPLE_CONFIG));
    std::vector<std::pair<std::string, std::string>> files;
    std::string config = includesConfig(&files);
    std::string includes = makeTree(root, "includes", AFTER_LIBRARY, config, files);

    std::vector<char *> args(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave.data());
    int count = (int)args.size();
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    medianOfNine(benchmark::RegisterBenchmark("library_share/after", libraryShare, after, 3));
    if (!beforeLibrary.empty()) {
        std::string before = makeTree(root, "before", beforeLibrary, readText(beforeConfig));
        medianOfNine(benchmark::RegisterBenchmark("library_share/before", libraryShare, before, 3));
    }
    medianOfNine(benchmark::RegisterBenchmark("library_share/includes_1000_args", libraryShare,
                                              includes, 1002));
    MedianReporter reporter;
    bool ran = runBenchmarks(&reporter);
    fs::remove_all(root);
    if (!ran) {
        return 1;
    }

    bool met = true;
    double afterSeconds = reporter.seconds("library_share/after");
    double beforeSeconds = reporter.seconds("library_share/before");
    double includesSeconds = reporter.seconds("library_share/includes_1000_args");
    std::printf("\nlibrary share, hello sample configuration: after %.1f us", afterSeconds * 1e6);
    if (beforeSeconds > 0) {
        std::printf(", before %.1f us\n", beforeSeconds * 1e6);
        met &= printTarget("library share after / before, sample configuration",
                           afterSeconds / beforeSeconds, "<=", 1.5, "x");
    } else {
        std::printf(" (no --before-library given: no ratio)\n");
    }
    met &= printTarget("library share, 5 included files and 1,000 arguments",
                       includesSeconds * 1e3, "<=", 2, "ms");
    return met ? 0 : targetMissed;
}
