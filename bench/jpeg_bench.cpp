// Already compressed data: JPEG photos, made by ImageMagick's convert from a
// seeded fractal (the same bytes every time), each packed on its own at our
// three levels and by gzip -9.
//
//   jpeg_bench
//
// Prints each photo's size and what every packer makes of it. A packed size
// at or above the photo's own means the archive stores the photo instead.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pack/lz_encode.h"

namespace {

struct Photo {
    const char *name;
    const char *options; // of convert, after the fractal
};

// Camera-like (standard Huffman tables) and squeezed (tables fitted to the
// image, as image tools do when asked).
const Photo photos[] = {
    {"standard tables", "-blur 0x1 -quality 90 -define jpeg:optimize-coding=false"},
    {"optimized tables", "-blur 0x2 -quality 92"},
};

std::vector<uint8_t> read_all(const std::string &path) {
    std::vector<uint8_t> bytes;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(f);
    return bytes;
}

// Bytes a command writes to its standard output; 0 when it fails.
uint64_t output_size(const std::string &command) {
    FILE *p = popen(command.c_str(), "r");
    if (!p)
        return 0;
    char buffer[65536];
    uint64_t total = 0;
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        total += n;
    return pclose(p) == 0 ? total : 0;
}

} // namespace

int main() {
    char dir[] = "/tmp/jpeg_bench.XXXXXX";
    if (!mkdtemp(dir)) {
        perror("jpeg_bench: mkdtemp");
        return 1;
    }
    printf("%-18s %8s %9s %14s %9s %14s\n", "photo (600x400)", "bytes", "gzip -9", "zqpack --fast",
           "zqpack", "zqpack --best");
    int status = 0;
    for (const Photo &photo : photos) {
        std::string path = std::string(dir) + "/photo.jpg";
        std::string make = std::string("convert -size 600x400 -seed 7 plasma:fractal ") +
                           photo.options + " '" + path + "'";
        std::vector<uint8_t> data;
        if (std::system(make.c_str()) == 0)
            data = read_all(path);
        if (data.empty()) {
            fprintf(stderr, "jpeg_bench: cannot make a photo with convert (ImageMagick)\n");
            status = 1;
            break;
        }
        uint64_t gzip = output_size("gzip -9 -n -c '" + path + "'");
        printf("%-18s %8zu %9llu", photo.name, data.size(), (unsigned long long)gzip);
        for (int level : {pack_level_fast, pack_level_default, pack_level_best}) {
            std::vector<uint8_t> packed;
            if (compress_buffer(data.data(), data.size(), level, 1, &packed, nullptr) != 0) {
                status = 1;
                break;
            }
            printf(" %*zu", level == pack_level_default ? 9 : 14, packed.size());
        }
        printf("\n");
        remove(path.c_str());
    }
    rmdir(dir);
    return status;
}
