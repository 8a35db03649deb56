// Fuzz target: the whole extraction of a setup file. It writes the file under
// a temporary host root and extracts into D:\T there; after each run the root
// must hold nothing but that file and the target folder, and the target is
// emptied through the host layer so that nothing of one input carries over
// to the next. The libFuzzer program prints at exit the largest heap one
// extraction used, for the fuzz script's report.
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/extract.h"
#include "platform/host/host_files.h"
#include "platform/win32_api.h"
#include "setup/setup_state.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_targets.h"
#include "tests/winmodel/dialog.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZQ_FUZZ_HEAP_HOOKS 1
#include <sanitizer/allocator_interface.h>
#endif
#endif

constexpr size_t peak_heap_limit = 8u << 20;

// Heap in use during one extraction above what was in use before it: the
// most of one run, and of every run so far; 0 where the build cannot measure
// it (no sanitizer allocator).
static size_t heap_peak_ever = 0;
#ifdef ZQ_FUZZ_HEAP_HOOKS
static bool heap_tracking = false;
static size_t heap_base = 0;
static size_t heap_peak = 0;

static void heap_malloc_hook(const volatile void *, size_t) {
    if (!heap_tracking)
        return;
    size_t now = __sanitizer_get_current_allocated_bytes();
    if (now > heap_base && now - heap_base > heap_peak)
        heap_peak = now - heap_base;
}

static void heap_free_hook(const volatile void *) {}

static void heap_start() {
    static bool installed = false;
    if (!installed) {
        __sanitizer_install_malloc_and_free_hooks(heap_malloc_hook, heap_free_hook);
        installed = true;
    }
    heap_base = __sanitizer_get_current_allocated_bytes();
    heap_peak = 0;
    heap_tracking = true;
}

static size_t heap_stop() {
    heap_tracking = false;
    return heap_peak;
}
#else
static void heap_start() {}
static size_t heap_stop() {
    return 0;
}
#endif

static std::string fuzz_root;

static void remove_fuzz_root() {
    if (fuzz_root.empty())
        return;
    nftw(
        fuzz_root.c_str(),
        [](const char *path, const struct stat *, int, struct FTW *) { return remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

static const std::string &root_folder() {
    if (fuzz_root.empty()) {
        const char *base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/zq-fuzz-XXXXXX";
        if (!mkdtemp(&pattern[0]))
            fuzz_fail("no temporary root");
        fuzz_root = pattern;
        atexit(remove_fuzz_root);
    }
    return fuzz_root;
}

// Names in a folder other than "." and "..", up to two, and their count.
static int folder_names(const std::string &folder, std::string *first, std::string *second) {
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return -1;
    int count = 0;
    while (dirent *entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        if (count == 0)
            *first = entry->d_name;
        else if (count == 1)
            *second = entry->d_name;
        ++count;
    }
    closedir(dir);
    return count;
}

// Empties the target through the host layer's own calls, so its record of
// attributes forgets every file and folder that goes.
static size_t target_prefix_length = 0;

static int remove_below_target(const char *path, const struct stat *info, int, struct FTW *level) {
    if (level->level == 0)
        return 0;
    std::string windows = "D:\\T" + std::string(path + target_prefix_length);
    SetFileAttributesA(windows.c_str(), FILE_ATTRIBUTE_NORMAL);
    bool gone =
        S_ISDIR(info->st_mode) ? RemoveDirectoryA(windows.c_str()) : DeleteFileA(windows.c_str());
    if (!gone)
        remove(path);
    return 0;
}

int fuzz_extract(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    uint8_t parameters = data[size - 1];
    size_t file_size = size - 1;
    const std::string &root = root_folder();
    std::string archive = root + "/setup.exe";
    std::string target_host = root + "/D/T";
    FILE *out = fopen(archive.c_str(), "wb");
    if (!out || fwrite(data, 1, file_size, out) != file_size || fclose(out) != 0)
        fuzz_fail("cannot write the archive file");
    mkdir((root + "/D").c_str(), 0777);
    mkdir(target_host.c_str(), 0777);
    host_set_root(root.c_str());
    ui_language = 1;
    for (int i = 0; i < 3; ++i)
        language_table[i].selected = int16_t((parameters >> i) & 1);

    // The test mode of the command-line tool decodes every entry with a
    // password of its own and writes nothing.
    ExtractOptions test_options = {"password", 1, nullptr, nullptr, nullptr};
    const ExtractOptions *options = parameters & 0x08 ? &test_options : nullptr;

    char target[path_buffer_size] = "D:\\T";
    heap_start();
    ExtractionResult result = extract_archive_ex(nullptr, archive.c_str(), target, options);
    size_t peak = heap_stop();
    if (peak > heap_peak_ever)
        heap_peak_ever = peak;
    if (peak > peak_heap_limit)
        fuzz_fail("extraction used more than 8 MiB of heap");
    if (result != 0 && result != 1 && result != 2 && result != 3 && result != 4 && result != 9 &&
        result != -1)
        fuzz_fail("unknown extraction result");

    std::string first, second;
    int in_root = folder_names(root, &first, &second);
    bool root_clean = in_root == 2 && ((first == "setup.exe" && second == "D") ||
                                       (first == "D" && second == "setup.exe"));
    if (!root_clean || folder_names(root + "/D", &first, &second) != 1 || first != "T")
        fuzz_fail("something was written outside the target folder");
    if (options && folder_names(target_host, &first, &second) != 0)
        fuzz_fail("the test mode wrote into the target folder");

    target_prefix_length = target_host.size();
    nftw(target_host.c_str(), remove_below_target, 16, FTW_DEPTH | FTW_PHYS);
    host_message_boxes().clear();
    host_control_text_log().clear();
    return 0;
}

#ifdef ZQ_LIBFUZZER
static void print_peak_heap() {
    fprintf(stderr, "fuzz_extract: peak heap of one extraction: %zu bytes\n", heap_peak_ever);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    atexit(print_peak_heap);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzz_extract(data, size);
}
#endif
