// Files and directories: whole-file reading, writing and appending, size and existence queries,
// deletion, and directory creation, listing and removal. Each call opens and closes its own
// handles; no handle and no temporary buffer outlives the call, except the reader's buffer,
// which becomes the result: an arena value like every runtime string while the arena is on,
// the heap buffer that collected the bytes while it is off. Paths end at their first NUL; only
// qor_mkdir reads a path's len. Files are opened through open_path only, so no child process
// inherits one, and written with SIGPIPE held back, so a FIFO whose reader has left makes a
// writer fail instead of ending the process.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "core/internal.h"
#include "system/descriptors.h"
#include "system/read_stream.h"

using qor::is_missing;

namespace {

// First buffer for a source whose size cannot be taken in advance (pipes, /proc files).
constexpr size_t kUnknownSizeFirstBuffer = 4096;
constexpr size_t kListFirstBuffer = 1024;
constexpr size_t kTranslateChunk = 4096;
constexpr mode_t kDirMode = 0755;
constexpr mode_t kFileMode = 0666;  // before the umask, as stdio creates files
constexpr int kWriteFlags = O_WRONLY | O_CREAT | O_TRUNC;
constexpr int kAppendFlags = O_WRONLY | O_CREAT | O_APPEND;

// The size a regular file reports, as the first guess for its reader; 0 (unknown) for
// anything else: pipes, devices, and directories, whose seek positions are not sizes.
int64_t reported_size(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return static_cast<int64_t>(st.st_size);
}

// Closes a file that was written to; a failed write or a failed close both make the result -1.
int64_t finish_write(int fd, bool written) {
    bool closed = qor::close_fd(fd);
    return written && closed ? 0 : -1;
}

// Opens path to write n bytes of text, writes them and closes it: 0, or -1 when any step failed.
int64_t write_whole(const char* path, int flags, const char* text, size_t n) {
    int fd = qor::open_path(path, flags, kFileMode);
    if (fd < 0) return -1;
    qor::QuietPipeWrites quiet;
    return finish_write(fd, quiet.write_all(fd, text, n));
}

// The file's bytes in the arena. A regular file is read straight into an arena buffer one byte
// larger than its reported size, so a short read proves the end without a copy. Only when more
// follows, or the size is unknown (pipes, /proc files), is the rest drained on the heap and the
// whole text copied into the arena. The fresh empty string after a read error.
QorString* read_into_arena(int fd) {
    auto expected = static_cast<size_t>(reported_size(fd));
    QorString* head = nullptr;
    size_t got = 0;
    if (expected > 0) {
        head = qor::make_string_uninit(static_cast<int64_t>(expected + 1));
        ssize_t r = qor::read_full(fd, head->data, expected + 1);
        if (r < 0) return qor::fresh_empty_string();
        got = static_cast<size_t>(r);
        head->data[got] = '\0';
        head->len = head->cap = static_cast<int64_t>(got);
        if (got <= expected) return head;
    }
    qor::DrainedBytes rest = qor::drain_fd(fd, kUnknownSizeFirstBuffer);
    if (rest.data == nullptr || !rest.complete) {
        free(rest.data);
        return qor::fresh_empty_string();
    }
    QorString* whole = qor::make_string_uninit(static_cast<int64_t>(got + rest.len));
    if (got > 0) memcpy(whole->data, head->data, got);
    memcpy(whole->data + got, rest.data, rest.len);
    free(rest.data);
    return whole;
}

// The file's bytes in the heap buffer that collected them, sized from the reported size.
QorString* read_onto_heap(int fd) {
    int64_t size = reported_size(fd);
    size_t first = size > 0 ? static_cast<size_t>(size) + 1 : kUnknownSizeFirstBuffer;
    qor::DrainedBytes bytes = qor::drain_fd(fd, first);
    if (bytes.data == nullptr) return qor::fresh_empty_string();
    if (!bytes.complete) {
        free(bytes.data);
        return qor::fresh_empty_string();
    }
    auto n = static_cast<int64_t>(bytes.len);
    return qor::make_record(bytes.data, n, n);
}

bool can_write(const QorString* path, const QorString* data) {
    return !is_missing(path) && !is_missing(data) && data->len >= 0;
}

bool stat_is_dir(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
}

bool is_dot_or_dotdot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

// len counts every byte read, NULs included. The reported size only sizes the first buffer, so
// a file whose size is wrong (/proc files, pipes) still reads to its end. A read error or a
// file that cannot be held whole gives the fresh empty string, never a silently shortened text.
// A FIFO is read like any pipe: the open waits for its writer and the text ends when it closes.
// With the arena on the text is released with the arena; with it off, by qor_string_free.
extern "C" QOR_API QorString* qor_read_file(const QorString* path) {
    if (is_missing(path)) return qor::fresh_empty_string();
    int fd = qor::open_path(path->data, O_RDONLY, 0);
    if (fd < 0) return qor::fresh_empty_string();
    bool arena = __atomic_load_n(&g_arena_enabled, __ATOMIC_RELAXED) != 0;
    QorString* s = arena ? read_into_arena(fd) : read_onto_heap(fd);
    qor::close_fd(fd);
    return s;
}

// A missing path or data, or a negative len, is refused before the file is opened.
extern "C" QOR_API int64_t qor_write_file(const QorString* path, const QorString* data) {
    if (!can_write(path, data)) return -1;
    return write_whole(path->data, kWriteFlags, data->data, static_cast<size_t>(data->len));
}

// Translates in chunks so the file sees the same bytes as one fputc per byte would give.
extern "C" QOR_API int64_t qor_write_file_newlines(const QorString* path, const QorString* data) {
    if (!can_write(path, data)) return -1;
    int fd = qor::open_path(path->data, kWriteFlags, kFileMode);
    if (fd < 0) return -1;
    qor::QuietPipeWrites quiet;
    char chunk[kTranslateChunk];
    bool written = true;
    for (int64_t done = 0; done < data->len && written;) {
        size_t n = static_cast<size_t>(data->len - done);
        if (n > kTranslateChunk) n = kTranslateChunk;
        for (size_t i = 0; i < n; i++) {
            char c = data->data[done + static_cast<int64_t>(i)];
            chunk[i] = c == '\x1f' ? '\n' : c;
        }
        written = quiet.write_all(fd, chunk, n);
        done += static_cast<int64_t>(n);
    }
    return finish_write(fd, written);
}

extern "C" QOR_API int64_t qor_append_file(const char* path, const char* text) {
    if (path == nullptr || text == nullptr) return -1;
    return write_whole(path, kAppendFlags, text, strlen(text));
}

// The size of a regular file that can be opened for reading; -1 for anything else (a
// directory, a FIFO, a device, a socket). Only a regular file is opened, and without waiting
// in case it has been replaced by a FIFO meanwhile; its size comes from that descriptor.
extern "C" QOR_API int64_t qor_file_size(const char* path) {
    if (path == nullptr) return -1;
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    int fd = qor::open_path(path, O_RDONLY | O_NONBLOCK, 0);
    if (fd < 0) return -1;
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    qor::close_fd(fd);
    return regular ? static_cast<int64_t>(st.st_size) : -1;
}

// The plain twin takes a record, so it cannot share the prefixed body.
extern "C" QOR_API int64_t file_size(const QorString* path) {
    if (is_missing(path)) return -1;
    return qor_file_size(path->data);
}

extern "C" QOR_API int64_t qor_file_exists_cstr(const char* path) {
    if (path == nullptr) return 0;
    struct stat st;
    return stat(path, &st) == 0;
}

extern "C" QOR_API int64_t qor_file_exists(const QorString* path) {
    if (is_missing(path)) return 0;
    return qor_file_exists_cstr(path->data);
}

// remove: a file, or a directory that is empty.
extern "C" QOR_API int64_t qor_delete_file(const QorString* path) {
    if (is_missing(path)) return -1;
    return remove(path->data) == 0 ? 0 : -1;
}

extern "C" QOR_API int64_t qor_is_dir(const QorString* path) {
    if (is_missing(path)) return 0;
    return stat_is_dir(path->data);
}

// Calls mkdir on every prefix that ends before a '/', a '\\' or a NUL, then on the whole path,
// ignoring each result (existing parents are fine); position 0 is never a cut, so a leading
// '/' makes no empty prefix. Success is judged afterwards: the path must now be a directory.
extern "C" QOR_API int64_t qor_mkdir(const QorString* path) {
    if (is_missing(path) || path->len <= 0) return -1;
    auto n = static_cast<size_t>(path->len);
    auto* buffer = static_cast<char*>(malloc(n + 1));
    if (buffer == nullptr) return -1;
    memcpy(buffer, path->data, n);
    buffer[n] = '\0';
    for (size_t i = 1; i <= n; i++) {
        char c = buffer[i];
        if (c != '\0' && c != '/' && c != '\\') continue;
        buffer[i] = '\0';
        mkdir(buffer, kDirMode);
        buffer[i] = c;
    }
    free(buffer);
    return stat_is_dir(path->data) ? 0 : -1;
}

extern "C" QOR_API QorString* qor_readdir(const QorString* path) {
    if (is_missing(path)) return qor::fresh_empty_string();
    DIR* dir = opendir(path->data);
    if (dir == nullptr) return qor::fresh_empty_string();
    size_t size = kListFirstBuffer;
    auto* text = static_cast<char*>(malloc(size));
    if (text == nullptr) {
        closedir(dir);
        return qor::fresh_empty_string();
    }
    size_t len = 0;
    while (const dirent* entry = readdir(dir)) {
        if (is_dot_or_dotdot(entry->d_name)) continue;
        size_t n = strlen(entry->d_name);
        while (len + n + 1 >= size) {
            auto* bigger = static_cast<char*>(realloc(text, size * 2));
            if (bigger == nullptr) {
                free(text);
                closedir(dir);
                return qor::fresh_empty_string();
            }
            text = bigger;
            size *= 2;
        }
        memcpy(text + len, entry->d_name, n);
        text[len + n] = '\n';
        len += n + 1;
    }
    closedir(dir);
    if (len > 0) len--;  // the line feed after the last name
    QorString* s = qor::make_string(text, static_cast<int64_t>(len));
    free(text);
    return s;
}

extern "C" QOR_API int64_t qor_rmdir(const QorString* path) {
    if (is_missing(path)) return -1;
    return rmdir(path->data) == 0 ? 0 : -1;
}

QOR_PLAIN_ALIAS(read_file, qor_read_file);
QOR_PLAIN_ALIAS(write_file, qor_write_file);
QOR_PLAIN_ALIAS(write_file_newlines, qor_write_file_newlines);
QOR_PLAIN_ALIAS(file_exists, qor_file_exists);
QOR_PLAIN_ALIAS(file_exists_cstr, qor_file_exists_cstr);
QOR_PLAIN_ALIAS(qor_remove_file, qor_delete_file);
QOR_PLAIN_ALIAS(delete_file, qor_delete_file);
QOR_PLAIN_ALIAS(remove_file, qor_delete_file);
QOR_PLAIN_ALIAS(is_dir, qor_is_dir);
QOR_PLAIN_ALIAS(make_dir, qor_mkdir);
QOR_PLAIN_ALIAS(list_dir, qor_readdir);
QOR_PLAIN_ALIAS(remove_dir, qor_rmdir);
