// The command-output line reader on a package listing of 200,000 lines and
// 12 MB, read from a pipe fed by another thread, against a plain read of
// the same bytes from the same kind of pipe. Debug output is off.
#include "../locator/locator.cpp"

#include <thread>

#include "bench_report.h"

namespace {

constexpr int listingLines = 200000;
constexpr size_t lineBytes = 60; // with its newline: 12,000,000 bytes in all

// A dpkg -L style listing whose last line names the auxiliary library, so
// that the reader looks at every line before it finds the library.
std::string makeListing() {
    std::string listing;
    listing.reserve(listingLines * lineBytes);
    char line[lineBytes + 1];
    for (int i = 0; i < listingLines - 1; i++) {
        int length = snprintf(line, sizeof line, "/opt/app/share/app/modules/m%04d/resources/r%06d",
                              i / 100, i);
        std::string text(line, (size_t)length);
        text.append(lineBytes - 1 - text.size() - 4, 'x');
        listing += text + ".dat\n";
    }
    std::string last = "/opt/app/lib";
    last.append(lineBytes - 1 - last.size() - strlen(libraryName), 'a');
    listing += last + libraryName + "\n";
    return listing;
}

const std::string &listing() {
    static const std::string text = makeListing();
    return text;
}

// Runs `consume` on the read end of a fresh pipe while a second thread
// writes the listing into it and closes the write end.
template <typename Consume> void throughPipe(benchmark::State &state, Consume consume) {
    const std::string &bytes = listing();
    for (auto _ : state) {
        int fds[2];
        if (pipe(fds) != 0) {
            state.SkipWithError("pipe failed");
            return;
        }
        std::thread writer([&bytes, fd = fds[1]] {
            size_t done = 0;
            while (done < bytes.size()) {
                ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
                if (written <= 0) {
                    break;
                }
                done += (size_t)written;
            }
            close(fd);
        });
        bool sound = consume(fds[0]);
        writer.join();
        if (!sound) {
            state.SkipWithError("the listing did not arrive whole");
            return;
        }
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)bytes.size());
}

void lineReader(benchmark::State &state) {
    throughPipe(state, [](int fd) {
        FILE *stream = fdopen(fd, "r");
        char *found = nullptr;
        readLines(stream, findLauncherLib, &found);
        fclose(stream);
        // The library is the last line: every line went through the reader.
        bool sound = found != nullptr && strlen(found) == lineBytes - 1;
        free(found);
        return sound;
    });
}

void plainRead(benchmark::State &state) {
    throughPipe(state, [](int fd) {
        static char buffer[65536];
        size_t total = 0;
        for (;;) {
            ssize_t got = read(fd, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            total += (size_t)got;
        }
        close(fd);
        return total == listing().size();
    });
}

} // namespace

int main(int argc, char **argv) {
    unsetenv("SORVANTA_DEBUG");
    benchmark::Initialize(&argc, argv);
    for (auto [name, function] : {std::pair{"line_reader", lineReader},
                                  std::pair{"plain_pipe_read", plainRead}}) {
        medianOfNine(benchmark::RegisterBenchmark(name, function));
    }
    MedianReporter reporter;
    if (!runBenchmarks(&reporter)) {
        return 1;
    }

    double megabytes = (double)listing().size() / 1e6;
    double reader = reporter.seconds("line_reader");
    double plain = reporter.seconds("plain_pipe_read");
    if (reader <= 0 || plain <= 0) {
        return 0;
    }
    std::printf("\nlisting: %d lines, %.1f MB\n", listingLines, megabytes);
    std::printf("line reader      %8.1f MB/s (median %.2f ms)\n", megabytes / reader, reader * 1e3);
    std::printf("plain pipe read  %8.1f MB/s (median %.2f ms)\n", megabytes / plain, plain * 1e3);
    std::printf("line reader / plain pipe read: %.2f of its speed (%.2fx the time)\n",
                plain / reader, reader / plain);
    bool met = printTarget("line reader throughput, debug off", megabytes / reader, ">=", 500,
                           "MB/s");
    return met ? 0 : targetMissed;
}
