// SPDX-License-Identifier: MIT
#include "cycle.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The last bytes of an image file, left out of the copy and the comparison
// unless keep_tail is set.
constexpr uint32_t IMAGE_TAIL = 8;

int posix_open(const char *path, int flags)
{
    return open(path, flags);
}

enum class copy_outcome { end_of_input, read_error, write_error };

int open_name(const file_ops &ops, const char *name, int flags)
{
    return name ? ops.open(name, flags) : -1;
}

// Writes len bytes, carrying on after short writes. Returns 0, or the
// failing write's negative result with errno as that write left it; *done
// counts the bytes written either way.
ssize_t write_chunk(const file_ops &ops, int fd, const unsigned char *buf, uint32_t len,
                    uint32_t *done)
{
    *done = 0;
    while (*done < len) {
        ssize_t w = ops.write(fd, buf + *done, len - *done);
        if (w < 0)
            return w;
        // A write that takes nothing ends the chunk early and without an
        // error; the copy goes on with the next read.
        if (w == 0)
            break;
        *done += static_cast<uint32_t>(w);
    }
    return 0;
}

// Copies the image in chunks with a dot for each, adding the bytes written
// to *written.
copy_outcome copy_image(const burn_options *opts, const char *prog, const file_ops &ops,
                        int in, int out, unsigned char *buf, uint32_t image_size,
                        uint32_t *written)
{
    printf("programming: ");
    fflush(stdout);
    copy_outcome outcome = copy_outcome::end_of_input;
    ssize_t got;
    int read_errno = 0;
    while ((got = ops.read(in, buf, opts->buffer_size)) != 0) {
        if (got < 0) {
            read_errno = errno;
            outcome = copy_outcome::read_error;
            break;
        }
        uint32_t len = static_cast<uint32_t>(got);
        // The chunk that reaches the image size loses the image tail, or
        // all of itself when it is shorter. The sum wraps like the device's
        // 32-bit counters, and an input whose size reads as 0 (a pipe)
        // loses a tail from every chunk.
        if (!opts->keep_tail && *written + len >= image_size)
            len = len > IMAGE_TAIL ? len - IMAGE_TAIL : 0;
        uint32_t done;
        ssize_t failed = write_chunk(ops, out, buf, len, &done);
        if (failed < 0) {
            int err = errno;
            // The failing chunk's bytes are not counted.
            printf("%s: write error %d errno %d (wrote %u bytes)\n", prog,
                   static_cast<int>(failed), err, static_cast<unsigned>(*written));
            fflush(stdout);
            outcome = copy_outcome::write_error;
            break;
        }
        *written += done;
        putchar('.');
        fflush(stdout);
    }
    putchar('\n');
    if (outcome == copy_outcome::read_error)
        printf("%s: read error %d errno %d\n", prog, static_cast<int>(got), read_errno);
    fflush(stdout);
    return outcome;
}

// Pads the target with 0xFF until fill_size bytes have been written in this
// cycle, in writes of up to buffer_size bytes from buf, which the image no
// longer needs. Where a chunk write fails or takes nothing, the fill goes on
// one byte per write from there, so a device that ends or fails inside a
// chunk stops the fill at the same byte, with the same message, as a fill of
// single bytes would. A failed fill write ends the fill only.
void fill_target(const burn_options *opts, const char *prog, const file_ops &ops, int out,
                 unsigned char *buf, uint32_t written)
{
    // The count printed is unsigned: a fill_size below what was written
    // shows as a large number, and nothing is filled.
    printf("%s: write %u 0xFF to end of mtd\n", prog,
           static_cast<unsigned>(static_cast<uint32_t>(opts->fill_size) - written));
    fflush(stdout);
    // The count compares as signed, so a negative fill_size fills nothing.
    // While it holds, fill_size - written is exactly the count still to fill.
    if (static_cast<int32_t>(written) >= opts->fill_size)
        return;
    uint32_t step = opts->buffer_size;  // bytes per write; 1 once a chunk has failed
    uint32_t left = static_cast<uint32_t>(opts->fill_size) - written;
    memset(buf, 0xFF, left < step ? left : step);
    while (static_cast<int32_t>(written) < opts->fill_size) {
        left = static_cast<uint32_t>(opts->fill_size) - written;
        const uint32_t len = left < step ? left : step;
        const int err_before = errno;
        ssize_t w = ops.write(out, buf, len);
        if (w > 0) {
            written += static_cast<uint32_t>(w);
        } else if (len > 1) {
            // The single byte that fails reports whatever errno holds, and a
            // write that takes nothing need not set it: the failed chunk's
            // errno must not show in that report.
            errno = err_before;
            step = 1;
        } else {
            int err = errno;
            printf("%s: write error %d errno %d\n", prog, static_cast<int>(w), err);
            fflush(stdout);
            return;
        }
    }
}

// Reads the image and the target back in chunks and compares them. Returns
// true when they are equal over the image size, less the tail unless
// keep_tail is set.
bool compare_image(const burn_options *opts, const file_ops &ops, unsigned char *buf)
{
    printf("check firmware on: %s ", opts->output_name);
    fflush(stdout);
    int in = open_name(ops, opts->input_name, O_RDONLY);
    struct stat st;
    const bool sized = in >= 0 && ops.fstat(in, &st) == 0;
    int out = open_name(ops, opts->output_name, O_RDONLY);

    // A side that cannot be opened or sized has nothing to show, which
    // counts as a length error.
    bool len_error = !sized || out < 0;
    bool cmp_error = false;
    if (!len_error) {
        uint32_t left = static_cast<uint32_t>(st.st_size);
        if (!opts->keep_tail)
            left = left > IMAGE_TAIL ? left - IMAGE_TAIL : 0;
        while (left != 0) {
            uint32_t k = left < opts->buffer_size ? left : opts->buffer_size;
            ssize_t a = ops.read(in, buf, k);
            ssize_t b = ops.read(out, opts->verify_buffer, k);
            // Anything short of a whole chunk fails, on either side: equal
            // short counts would otherwise compare bytes that neither read
            // put in the buffers.
            if (a < 0 || b < 0 || static_cast<size_t>(a) != k || static_cast<size_t>(b) != k) {
                len_error = true;
                break;
            }
            if (memcmp(buf, opts->verify_buffer, k) != 0) {
                cmp_error = true;
                break;
            }
            left -= k;
        }
    }
    if (len_error)
        printf("check firmware read error (len error)");
    else if (cmp_error)
        printf("check firmware read error (cmp error)");
    else
        printf("check firmware %s success ", opts->output_name);
    fflush(stdout);
    if (in >= 0)
        ops.close(in);
    if (out >= 0)
        ops.close(out);
    return !len_error && !cmp_error;
}

// Runs one cycle: open, copy, fill, close and, while verify is on, compare.
// Returns false when an open or the fstat failed, which ends the run.
bool burn_cycle(burn_options *opts, const char *prog, const file_ops &ops, unsigned char *buf,
                copy_outcome *outcome)
{
    int in = open_name(ops, opts->input_name, O_RDONLY);
    int out = open_name(ops, opts->output_name, O_WRONLY);
    struct stat st;
    // Descriptor 0 counts as a failed open too: it is handed out only when
    // the program was started with standard input closed, and such a run
    // stops here rather than write through it.
    if (in <= 0 || out <= 0 || ops.fstat(in, &st) != 0) {
        if (in >= 0)
            ops.close(in);
        if (out >= 0)
            ops.close(out);
        return false;
    }
    const uint32_t image_size = static_cast<uint32_t>(st.st_size);
    uint32_t written = 0;

    printf("%s: copy %s to %s\n", prog, opts->input_name, opts->output_name);
    fflush(stdout);
    *outcome = copy_image(opts, prog, ops, in, out, buf, image_size, &written);
    ops.close(in);
    if (opts->fill_size != 0)
        fill_target(opts, prog, ops, out, buf, written);
    printf("closing: %s ", opts->output_name);
    fflush(stdout);
    ops.close(out);
    putchar('\n');
    fflush(stdout);

    if (opts->verify && compare_image(opts, ops, buf))
        opts->verify = false;
    return true;
}

}  // namespace

const file_ops posix_file_ops = {posix_open, read, write, close, fstat};

int run_burn(burn_options *opts, const char *prog, const file_ops &ops)
{
    auto *buf = static_cast<unsigned char *>(malloc(opts->buffer_size));
    if (!buf)
        return -1;
    copy_outcome outcome = copy_outcome::end_of_input;
    do {
        if (!burn_cycle(opts, prog, ops, buf, &outcome)) {
            free(buf);
            return -1;
        }
    } while (opts->verify);
    free(buf);

    // Only the last cycle's copy counts; a fill error does not.
    if (outcome != copy_outcome::end_of_input) {
        printf("%s: failed!\n", prog);
        fflush(stdout);
        return -1;
    }
    printf("%s: successful!\n", prog);
    fflush(stdout);
    return 0;
}
