#include "PdfProbe.h"

#include "TestHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace pagewren::test {

namespace fs = std::filesystem;

namespace {

std::string shellArg(const fs::path& path)
{
    return "'" + path.string() + "'";
}

std::string mustRun(const std::string& command)
{
    std::string output;
    const int status = runCommand(command, &output);
    if (status != 0)
        throw std::runtime_error(command + " failed (" + std::to_string(status) + "): " + output);
    return output;
}

Raster readPpm(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    Raster raster;
    in >> magic >> raster.width >> raster.height >> maxValue;
    in.get(); // the one blank after the header
    if (!in || magic != "P6" || maxValue != 255)
        throw std::runtime_error("not an 8-bit PPM file: " + path.string());
    raster.rgb.resize(static_cast<std::size_t>(raster.width) * raster.height * 3);
    in.read(reinterpret_cast<char*>(raster.rgb.data()),
            static_cast<std::streamsize>(raster.rgb.size()));
    if (!in)
        throw std::runtime_error("short PPM file: " + path.string());
    return raster;
}

} // namespace

bool qpdfCheck(const fs::path& pdf, std::string* report)
{
    // qpdf exits with 0 when clean and 3 when it only warns; warnings count as problems here.
    return runCommand("qpdf --check " + shellArg(pdf), report) == 0;
}

std::vector<PageSize> pageSizes(const fs::path& pdf)
{
    const std::string output = mustRun("pdfinfo -f 1 -l 100000 " + shellArg(pdf));
    static const std::regex line(R"(Page +\d+ size: +([0-9.]+) x ([0-9.]+) pts)");
    std::vector<PageSize> sizes;
    for (auto it = std::sregex_iterator(output.begin(), output.end(), line);
         it != std::sregex_iterator(); ++it)
        sizes.push_back({std::stod((*it)[1]), std::stod((*it)[2])});
    return sizes;
}

std::vector<ListedImage> listImages(const fs::path& pdf)
{
    std::istringstream output(mustRun("pdfimages -list " + shellArg(pdf)));
    std::string line;
    std::getline(output, line); // column names
    std::getline(output, line); // rule
    std::vector<ListedImage> images;
    while (std::getline(output, line)) {
        std::istringstream fields(line);
        ListedImage image;
        std::string number, type, bpc, interpolate, object, generation;
        fields >> image.page >> number >> type >> image.width >> image.height >> image.colour >>
            image.components >> bpc >> image.encoding >> interpolate >> object >> generation >>
            image.xPpi >> image.yPpi;
        if (fields)
            images.push_back(image);
    }
    return images;
}

std::vector<std::string> extractJpegs(const fs::path& pdf, const fs::path& folder)
{
    fs::create_directories(folder);
    mustRun("pdfimages -j " + shellArg(pdf) + " " + shellArg(folder / "image"));
    std::vector<fs::path> files{fs::directory_iterator(folder), fs::directory_iterator()};
    std::sort(files.begin(), files.end()); // image-000.jpg, image-001.jpg, ...
    std::vector<std::string> contents;
    for (const fs::path& file : files) {
        EXPECT_EQ(file.extension(), ".jpg") << file;
        contents.push_back(readFile(file));
    }
    return contents;
}

Raster::Pixel Raster::at(int x, int y) const
{
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    return {rgb.at(i), rgb.at(i + 1), rgb.at(i + 2)};
}

Raster renderPage(const fs::path& pdf, int page, int dpi)
{
    const fs::path prefix = fs::path(pdf).replace_extension("").string() + "-render";
    const std::string number = std::to_string(page);
    mustRun("pdftoppm -singlefile -r " + std::to_string(dpi) + " -f " + number + " -l " + number +
            " " + shellArg(pdf) + " " + shellArg(prefix));
    return readPpm(prefix.string() + ".ppm");
}

Raster decodeImage(const fs::path& picture)
{
    const fs::path ppm = picture.string() + ".ppm";
    mustRun("convert " + shellArg(picture) + " -colorspace sRGB -depth 8 " +
            shellArg("ppm:" + ppm.string()));
    return readPpm(ppm);
}

} // namespace pagewren::test
