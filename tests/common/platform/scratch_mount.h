// A file system of its own kind mounted for one test: a loop-mounted ext4 image, whose folders
// take chattr's flags (append-only, immutable), a ramfs, which keeps no extended attribute (no
// ACL, no user.* or security.* attribute), or a small loop-mounted btrfs image, which writes every
// block anew (a rewritten block takes a free one). Only root mounts; where it cannot, Why() says
// why and the test reports itself skipped with it. Unmounted, its image removed, when it goes;
// mounted in a mount namespace of the test's own where it can make one, so that a test killed
// (ctest --timeout) leaves no mount behind: the mount ends with the test's last process.
#pragma once
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/test_util.h"

namespace quorin::test {

class ScratchMount {
  public:
    enum Kind { ext4Image, ramfs, btrfsImage };
    ScratchMount(const std::string& parent, Kind kind)
        : m_path(parent + "/mnt"), m_image(parent + "/scratch.img") {
        if (::geteuid() != 0) {
            m_why = "needs root to mount a file system";
            return;
        }
        OwnMountNamespace();
        std::filesystem::create_directory(m_path);
        const std::string image = ShellQuote(m_image);
        const std::string loop = " && mount -o loop " + image + " " + ShellQuote(m_path);
        const std::string mount =
            kind == ext4Image    ? "truncate -s 64M " + image + " && mkfs.ext4 -q " + image + loop
            : kind == btrfsImage ? "truncate -s 120M " + image + " && mkfs.btrfs -q " + image + loop
                                 : "mount -t ramfs ramfs " + ShellQuote(m_path);
        if (RunCommand(mount + " >/dev/null 2>&1").status != 0) {
            m_why = kind == ext4Image ? "cannot loop-mount an ext4 image here"
                    : kind == btrfsImage
                        ? "cannot make (btrfs-progs) or loop-mount a btrfs image here"
                        : "cannot mount a ramfs here";
            return;
        }
        m_mounted = true;
        ::chmod(m_path.c_str(), 0755);
    }
    ~ScratchMount() {
        if (m_mounted) RunCommand("umount " + ShellQuote(m_path));
        std::filesystem::remove(m_image);
    }
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;
    const std::string& path() const { return m_path; }
    // Empty when mounted.
    const std::string& Why() const { return m_why; }

  private:
    // Once per process; where it cannot be made (a process of several threads), mounts are
    // shared with the system's namespace as before.
    static void OwnMountNamespace() {
        static const bool own = ::unshare(CLONE_NEWNS) == 0 &&
                                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        (void)own;
    }

    std::string m_path;
    std::string m_image;
    std::string m_why;
    bool m_mounted = false;
};

}  // namespace quorin::test
