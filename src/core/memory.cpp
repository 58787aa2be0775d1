#include "core/memory.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vardelin {

namespace {

// Requests below this are not weighed against the machine: reading the kernel's figures costs
// tens of microseconds, more than a small join, and filling a small block cannot be what tips
// the machine over.
constexpr u64 kWeighedBytes = u64{64} << 20;

// The system files are a few kilobytes; a longer one is read no further.
constexpr std::size_t kMostFileBytes = std::size_t{1} << 20;

std::optional<std::string> read_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char chunk[4096];
    while (text.size() < kMostFileBytes) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

std::optional<u64> parse_u64(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    u64 v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end == s.data()) return std::nullopt;
    return v;
}

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> out;
    for (std::size_t at = 0;;) {
        const std::size_t next = s.find(sep, at);
        out.push_back(s.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at));
        if (next == std::string_view::npos) return out;
        at = next + 1;
    }
}

// The value of the line "key<sep>value" of a key-value file (/proc/meminfo, memory.stat).
std::optional<u64> field(std::string_view text, std::string_view key) {
    for (const std::string_view line : split(text, '\n')) {
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            (line[key.size()] == ' ' || line[key.size()] == ':')) {
            return parse_u64(line.substr(key.size() + 1));
        }
    }
    return std::nullopt;
}

u64 physical_memory() noexcept {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return UINT64_MAX;
    return sat_mul(static_cast<u64>(pages), static_cast<u64>(page_size));
}

// Mount points escape blanks and backslashes as a backslash and three octal digits.
std::string unescape_mount_point(std::string_view s) {
    const auto octal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && octal(s[i + 1]) && octal(s[i + 2]) && octal(s[i + 3])) {
            out.push_back(static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

// One memory cgroup hierarchy the process sits in: its directory and the files that hold the
// limit, the usage and the usage statistics there.
struct CgroupFiles {
    std::string leaf;        // the process's own cgroup directory
    std::string top;         // the mount point: the walk stops there
    const char* limit;       // "max" or bytes
    const char* usage;
    const char* inactive_file;  // key in memory.stat
};

// The directory of cgroup `path` in a hierarchy mounted at `mount_point` from `mount_root`.
std::string cgroup_dir(std::string_view mount_point, std::string_view mount_root, std::string_view path) {
    std::string dir(mount_point);
    std::string_view rel;
    if (mount_root == "/") {
        rel = path;
    } else if (path.substr(0, mount_root.size()) == mount_root) {
        rel = path.substr(mount_root.size());
    }
    // A path outside the mount (another namespace's view) leaves only the mount point to read.
    if (rel.substr(0, 3) == "/..") rel = {};
    while (!rel.empty() && rel.back() == '/') rel.remove_suffix(1);
    if (!rel.empty() && rel.front() != '/') dir.push_back('/');
    dir.append(rel);
    return dir;
}

// The memory hierarchies of the process: the unified one (cgroup v2) and a v1 "memory" one.
std::vector<CgroupFiles> memory_cgroups(const std::string& proc) {
    std::vector<CgroupFiles> out;
    const auto groups = read_file(proc + "/self/cgroup");
    const auto mounts = read_file(proc + "/self/mountinfo");
    if (!groups || !mounts) return out;
    std::optional<std::string_view> v2_path, v1_path;
    for (const std::string_view line : split(*groups, '\n')) {
        const auto f = split(line, ':');
        if (f.size() < 3) continue;
        // The path may itself hold colons: it is everything after the second one.
        const std::string_view path = line.substr(f[0].size() + f[1].size() + 2);
        if (f[0] == "0" && f[1].empty()) v2_path = path;
        for (const std::string_view c : split(f[1], ',')) {
            if (c == "memory") v1_path = path;
        }
    }
    for (const std::string_view line : split(*mounts, '\n')) {
        const auto f = split(line, ' ');
        const auto dash = std::find(f.begin(), f.end(), std::string_view("-"));
        if (f.size() < 5 || dash == f.end() || f.end() - dash < 4) continue;
        const std::string_view fs = dash[1];
        const std::string mount_point = unescape_mount_point(f[4]);
        const std::string mount_root = unescape_mount_point(f[3]);
        if (fs == "cgroup2" && v2_path) {
            out.push_back({cgroup_dir(mount_point, mount_root, *v2_path), mount_point, "memory.max", "memory.current",
                           "inactive_file"});
            v2_path.reset();
        } else if (fs == "cgroup" && v1_path) {
            const auto options = split(dash[3], ',');
            if (std::find(options.begin(), options.end(), std::string_view("memory")) == options.end()) continue;
            out.push_back({cgroup_dir(mount_point, mount_root, *v1_path), mount_point, "memory.limit_in_bytes",
                           "memory.usage_in_bytes", "total_inactive_file"});
            v1_path.reset();
        }
    }
    return out;
}

// What one cgroup level still grants: its limit less the usage the kernel cannot reclaim
// (page cache that is not in active use is dropped before the group runs out). Absent when the
// level sets no limit below `physical` (v1 writes "no limit" as a huge number).
std::optional<u64> cgroup_headroom(const std::string& dir, const CgroupFiles& files, u64 physical) {
    const auto limit_text = read_file(dir + "/" + files.limit);
    if (!limit_text) return std::nullopt;
    const auto limit = parse_u64(*limit_text);  // "max": no limit
    if (!limit || *limit >= physical) return std::nullopt;
    const auto usage_text = read_file(dir + "/" + files.usage);
    const u64 usage = usage_text ? parse_u64(*usage_text).value_or(0) : 0;
    u64 reclaimable = 0;
    if (const auto stat = read_file(dir + "/memory.stat")) {
        reclaimable = field(*stat, files.inactive_file).value_or(field(*stat, "inactive_file").value_or(0));
    }
    return sat_sub(*limit, sat_sub(usage, reclaimable));
}

}  // namespace

u64 available_memory(const std::string& proc) noexcept {
    try {
        const u64 physical = physical_memory();
        u64 available = physical;
        if (const auto meminfo = read_file(proc + "/meminfo")) {
            if (const auto kib = field(*meminfo, "MemAvailable")) available = std::min(available, sat_mul(*kib, 1024));
        }
        // Every level up to the mount point: a parent's limit binds its children too.
        for (const CgroupFiles& files : memory_cgroups(proc)) {
            for (std::string dir = files.leaf;;) {
                if (const auto room = cgroup_headroom(dir, files, physical)) available = std::min(available, *room);
                if (dir.size() <= files.top.size()) break;
                const std::size_t parent = dir.rfind('/');
                dir.resize(parent == std::string::npos ? files.top.size() : std::max(parent, files.top.size()));
            }
        }
        return available;
    } catch (...) {
        // Out of memory while reading the figures: nothing large can be had either.
        return 0;
    }
}

void ensure_allocatable(u64 bytes) {
    if (bytes > static_cast<u64>(PTRDIFF_MAX)) throw std::bad_alloc();
    if (bytes < kWeighedBytes) return;
    // A sixteenth of what is available stays for the rest of the call and the interpreter.
    const u64 available = available_memory("/proc");
    if (bytes > available - available / 16) throw std::bad_alloc();
}

}  // namespace vardelin
