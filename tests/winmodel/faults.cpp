// Fault injection for the file layer's calls.
//
// Call faults are a table of armed kinds, each with the path text it applies
// to and the number of calls to let through first. Stream faults wrap the
// runtime stream the file layer opened in a second stream (a glibc cookie stream)
// whose read, write and seek go to the first; the wrapper decides where reads
// end and when writes stop, so the code under test sees the very calls and
// results a full disk or a damaged file gives it: a short count and the
// stream's error flag.
#include "tests/winmodel/faults.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

struct ArmedFault {
    bool armed;
    std::string path_part;
    int pass;
    int strikes;
};

struct StreamFault {
    bool armed;
    std::string path_part;
    int64_t read_end;
    bool read_fails;
    int64_t write_limit;
    int strikes;
};

static ArmedFault faults[host_fault_kind_count];
static StreamFault stream_fault;

void host_faults_clear() {
    for (ArmedFault &fault : faults)
        fault = ArmedFault{false, std::string(), 0, 0};
    stream_fault = StreamFault{false, std::string(), -1, false, -1, 0};
}

void host_fault_arm(int kind, const char *path_part, int pass) {
    if (kind < 0 || kind >= host_fault_kind_count)
        return;
    faults[kind] = ArmedFault{true, path_part ? path_part : "", pass, 0};
}

void host_fault_streams(const char *path_part, int64_t read_end, bool read_fails,
                        int64_t write_limit) {
    stream_fault =
        StreamFault{true, path_part ? path_part : "", read_end, read_fails, write_limit, 0};
}

int host_fault_count(int kind) {
    return kind >= 0 && kind < host_fault_kind_count ? faults[kind].strikes : 0;
}

int host_fault_stream_count() {
    return stream_fault.strikes;
}

bool host_fault_strikes(int kind, const std::string &host_path) {
    if (kind < 0 || kind >= host_fault_kind_count)
        return false;
    ArmedFault &fault = faults[kind];
    if (!fault.armed || host_path.find(fault.path_part) == std::string::npos)
        return false;
    if (fault.pass > 0) {
        --fault.pass;
        return false;
    }
    ++fault.strikes;
    return true;
}

struct FaultyStream {
    FILE *inner;
    int64_t written;
};

static ssize_t faulty_read(void *cookie, char *buffer, size_t count) {
    FaultyStream *stream = static_cast<FaultyStream *>(cookie);
    if (stream_fault.read_end >= 0) {
        int64_t at = ftello(stream->inner);
        if (at < 0)
            return -1;
        int64_t left = stream_fault.read_end - at;
        if (left <= 0 || int64_t(count) > left) {
            ++stream_fault.strikes;
            if (left <= 0) {
                if (!stream_fault.read_fails)
                    return 0;
                errno = EIO;
                return -1;
            }
            count = size_t(left);
        }
    }
    size_t got = fread(buffer, 1, count, stream->inner);
    if (got == 0 && ferror(stream->inner))
        return -1;
    return ssize_t(got);
}

static ssize_t faulty_write(void *cookie, const char *buffer, size_t count) {
    FaultyStream *stream = static_cast<FaultyStream *>(cookie);
    if (stream_fault.write_limit >= 0 &&
        stream->written + int64_t(count) > stream_fault.write_limit) {
        ++stream_fault.strikes;
        count = size_t(stream_fault.write_limit - stream->written);
        if (count == 0) {
            errno = ENOSPC;
            return -1;
        }
    }
    size_t put = fwrite(buffer, 1, count, stream->inner);
    stream->written += int64_t(put);
    if (put == 0)
        return -1;
    return ssize_t(put);
}

static int faulty_seek(void *cookie, off64_t *offset, int whence) {
    FaultyStream *stream = static_cast<FaultyStream *>(cookie);
    if (fseeko(stream->inner, off_t(*offset), whence) != 0)
        return -1;
    *offset = ftello(stream->inner);
    return 0;
}

static int faulty_close(void *cookie) {
    FaultyStream *stream = static_cast<FaultyStream *>(cookie);
    int result = fclose(stream->inner);
    free(stream);
    return result;
}

FILE *host_fault_wrap_stream(FILE *stream, const std::string &host_path) {
    if (!stream || !stream_fault.armed ||
        host_path.find(stream_fault.path_part) == std::string::npos)
        return stream;
    FaultyStream *cookie = static_cast<FaultyStream *>(calloc(1, sizeof(FaultyStream)));
    if (!cookie) {
        fclose(stream);
        return nullptr;
    }
    cookie->inner = stream;
    cookie_io_functions_t io = {faulty_read, faulty_write, faulty_seek, faulty_close};
    FILE *outer = fopencookie(cookie, "r+", io);
    if (!outer) {
        fclose(stream);
        free(cookie);
    }
    return outer;
}
