// Writes the benchmarks' content (bench/bench_content.h) into a capture file:
//   make_bench_capture SAMPLES FILE.vcd
// A .vcd is written as it is generated; other formats (.csv, .sr) go through the capture
// model and WriteCaptureFile.
#include "bench/bench_content.h"
#include "file/capture_file.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: make_bench_capture SAMPLES FILE\n", stderr);
        return 2;
    }
    const long long samples = std::atoll(argv[1]);
    const std::string path = argv[2];
    const auto format = quillon::FileFormatForPath(path);
    if (samples <= 0 || !format || *format == quillon::FileFormat::Png) {
        std::fputs("make_bench_capture: a sample count and a .vcd, .csv or .sr file\n", stderr);
        return 2;
    }
    if (*format == quillon::FileFormat::Vcd) {
        std::ofstream out(path, std::ios::binary);
        quillon::bench::WriteBenchVcd(out, samples);
        out.close();
        if (!out) {
            std::fprintf(stderr, "make_bench_capture: cannot write %s\n", path.c_str());
            return 1;
        }
        return 0;
    }
    std::string error;
    if (!quillon::WriteCaptureFile(path, *quillon::bench::MakeBenchCapture(samples), *format,
                                   error)) {
        std::fprintf(stderr, "make_bench_capture: %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    return 0;
}
