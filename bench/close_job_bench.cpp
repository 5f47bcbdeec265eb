// close_job_bench: times closing a job over a folder of page TIFFs, beside the bare work done with
// the same libraries, and reports pages per second and peak memory.
//
//   close_job_bench IN_DIR OUT.pdf
//       what closing a job runs: CompressImages over IN_DIR's img_*.tif in order, then CreatePDF
//   close_job_bench --reference IN_DIR
//       the bare work: libtiff decodes each page strip by strip straight into libjpeg-turbo
//       (classic API, quality 60), which writes the copy; one plain thread per processor
//   close_job_bench --compare ROUNDS IN_DIR OUT.pdf
//       ROUNDS rounds of the reference, then the job, each run in a process of its own so that
//       each has its own peak memory; then the medians and their ratio
//
// Both write the copies under the same names beside the pages.

#include "image/PageCompressor.h"
#include "image/PdfAssembly.h"

#include <tiffio.h>

#include <jpeglib.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using pagewren::StringList;

constexpr int kQuality = 60;

struct RunResult {
    std::string label;
    int pages = 0;
    double seconds = 0;
    double peakMiB = 0;
    std::string detail;
};

double peakMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // KiB on Linux
}

// One line per run; --compare reads it back from its children.
void print(const RunResult& result)
{
    std::printf("%-9s %d pages in %.3f s, %.2f pages/s, peak %.1f MiB%s\n", result.label.c_str(),
                result.pages, result.seconds, result.pages / result.seconds, result.peakMiB,
                result.detail.c_str());
    std::fflush(stdout);
}

// IN_DIR's img_*.tif in name order, as the job lists its pages.
StringList pagesIn(const fs::path& folder)
{
    static const std::regex pageName(R"(img_.*\.tif)");
    StringList pages;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file() && std::regex_match(entry.path().filename().string(), pageName))
            pages.push_back(entry.path().string());
    }
    std::sort(pages.begin(), pages.end());
    if (pages.empty())
        throw std::runtime_error("no img_*.tif in " + folder.string());
    return pages;
}

std::string copyName(const std::string& page)
{
    const fs::path path(page);
    return (path.parent_path() / (path.stem().string() + "_COMPRESSED.JPG")).string();
}

// A job folder holds no copies when the job is closed: the copies of an earlier run go first.
void removeCopies(const StringList& pages)
{
    for (const std::string& page : pages)
        fs::remove(copyName(page));
}

RunResult runJob(const fs::path& folder, const fs::path& pdf)
{
    const StringList pages = pagesIn(folder);
    removeCopies(pages);
    const auto start = Clock::now();
    StringList copies;
    pagewren::CompressImages(pages, copies);
    const auto converted = Clock::now();
    std::string error;
    const bool made = pagewren::CreatePDF(copies, pdf.string(), error);
    const auto stop = Clock::now();
    if (!made)
        throw std::runtime_error("the PDF was not made: " + error);
    if (copies.size() != pages.size())
        throw std::runtime_error("only " + std::to_string(copies.size()) + " of " +
                                 std::to_string(pages.size()) + " pages were converted");
    char detail[80];
    std::snprintf(detail, sizeof detail, " (copies %.3f s, PDF %.3f s)",
                  std::chrono::duration<double>(converted - start).count(),
                  std::chrono::duration<double>(stop - converted).count());
    return {"job", static_cast<int>(pages.size()),
            std::chrono::duration<double>(stop - start).count(), peakMiB(), detail};
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The page is decoded one strip at a time and each strip's rows go straight to the encoder.
// Only the layout the scanner writes (8-bit RGB, one plane, strips) is taken.
void referenceCopy(const std::string& page, const std::string& copy)
{
    const std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(page.c_str(), "r"));
    if (!tiff)
        throw std::runtime_error("cannot open " + page);
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 0, bits = 0, planar = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_PLANARCONFIG, &planar);
    if (samples != 3 || bits != 8 || planar != PLANARCONFIG_CONTIG || TIFFIsTiled(tiff.get()))
        throw std::runtime_error(page + " is not an 8-bit RGB page in strips");
    const std::size_t stride = std::size_t{width} * 3;
    std::vector<std::uint8_t> strip(static_cast<std::size_t>(TIFFStripSize(tiff.get())));
    std::vector<JSAMPROW> rows;

    const std::unique_ptr<std::FILE, FileCloser> out(std::fopen(copy.c_str(), "wb"));
    if (!out)
        throw std::runtime_error("cannot write " + copy);
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors); // a libjpeg error ends the program: fine for a benchmark
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out.get());
    info.image_width = width;
    info.image_height = height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, kQuality, TRUE);
    info.density_unit = 1;
    info.X_density = 300;
    info.Y_density = 300;
    jpeg_start_compress(&info, TRUE);
    for (tstrip_t s = 0; s < TIFFNumberOfStrips(tiff.get()); ++s) {
        const tmsize_t bytes =
            TIFFReadEncodedStrip(tiff.get(), s, strip.data(), static_cast<tmsize_t>(strip.size()));
        if (bytes < 0)
            throw std::runtime_error("cannot decode " + page);
        const std::size_t count = static_cast<std::size_t>(bytes) / stride;
        rows.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            rows[i] = strip.data() + i * stride;
        jpeg_write_scanlines(&info, rows.data(), static_cast<JDIMENSION>(count));
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
}

RunResult runReference(const fs::path& folder)
{
    const StringList pages = pagesIn(folder);
    removeCopies(pages);
    const auto start = Clock::now();
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    auto work = [&] {
        try {
            for (std::size_t i = next++; i < pages.size(); i = next++)
                referenceCopy(pages[i], copyName(pages[i]));
        } catch (const std::exception& e) {
            std::cerr << e.what() << '\n';
            failed = true;
        }
    };
    {
        std::vector<std::jthread> threads;
        for (unsigned i = 1; i < pagewren::PageCompressor::DefaultWorkers(); ++i)
            threads.emplace_back(work);
        work();
    }
    const auto stop = Clock::now();
    if (failed)
        throw std::runtime_error("the reference run failed");
    return {"reference", static_cast<int>(pages.size()),
            std::chrono::duration<double>(stop - start).count(), peakMiB(), ""};
}

// Runs this program again with the given arguments and reads back its result line.
RunResult runChild(const std::vector<std::string>& arguments)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string output;
    char buffer[512];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, static_cast<std::size_t>(n));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    RunResult result;
    char label[32] = {};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        std::sscanf(output.c_str(), "%31s %d pages in %lf s, %*f pages/s, peak %lf MiB", label,
                    &result.pages, &result.seconds, &result.peakMiB) != 4)
        throw std::runtime_error("a measuring run failed: " + output);
    result.label = label;
    std::fputs(output.c_str(), stdout);
    std::fflush(stdout);
    return result;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void compare(int rounds, const std::string& self, const std::string& folder, const std::string& pdf)
{
    std::vector<double> reference, job, ratios;
    double referencePeak = 0, jobPeak = 0;
    int pages = 0;
    for (int round = 1; round <= rounds; ++round) {
        std::printf("round %d\n", round);
        const RunResult bare = runChild({self, "--reference", folder});
        const RunResult ours = runChild({self, folder, pdf});
        reference.push_back(bare.seconds);
        job.push_back(ours.seconds);
        ratios.push_back(ours.seconds / bare.seconds);
        referencePeak = std::max(referencePeak, bare.peakMiB);
        jobPeak = std::max(jobPeak, ours.peakMiB);
        pages = ours.pages;
    }
    const double r = median(reference), j = median(job);
    std::printf("\n%d pages, %d rounds, %u workers\n", pages, rounds,
                pagewren::PageCompressor::DefaultWorkers());
    std::printf("reference median %.3f s (%.2f pages/s), peak %.1f MiB\n", r, pages / r,
                referencePeak);
    std::printf("job       median %.3f s (%.2f pages/s), peak %.1f MiB\n", j, pages / j, jobPeak);
    std::printf("job / reference: %.3f (median of the rounds' ratios %.3f)\n", j / r,
                median(ratios));
}

int usage()
{
    std::cerr << "usage: close_job_bench IN_DIR OUT.pdf\n"
                 "       close_job_bench --reference IN_DIR\n"
                 "       close_job_bench --compare ROUNDS IN_DIR OUT.pdf\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 2 && args[0] == "--reference") {
            print(runReference(args[1]));
        } else if (args.size() == 4 && args[0] == "--compare") {
            const int rounds = std::atoi(args[1].c_str());
            if (rounds < 1)
                return usage();
            compare(rounds, argv[0], fs::absolute(args[2]).string(),
                    fs::absolute(args[3]).string());
        } else if (args.size() == 2 && !args[0].starts_with("--")) {
            print(runJob(args[0], args[1]));
        } else {
            return usage();
        }
    } catch (const std::exception& e) {
        std::cerr << "close_job_bench: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
