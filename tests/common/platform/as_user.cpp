#include "common/platform/as_user.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "common/platform/file_size_limit.h"

namespace quorin::test {

uid_t Actor() {
    return ::geteuid() == 0 ? kNobody : ::geteuid();
}

gid_t ActorGroup() {
    if (::geteuid() != 0) return ::getegid();
    const passwd* nobody = ::getpwnam("nobody");
    return nobody != nullptr ? nobody->pw_gid : kNobody;
}

bool BecomeActor(const std::vector<gid_t>& extraGroups) {
    if (::geteuid() != 0) return true;
    return ::setgroups(extraGroups.size(), extraGroups.data()) == 0 &&
           ::setgid(ActorGroup()) == 0 && ::setuid(kNobody) == 0;
}

namespace {

// The exit status of `body` run in a child once `prepare` made it ready; `unprepared` when it
// could not, 98 when the child did not end by itself.
int InChild(const std::function<bool()>& prepare, int unprepared,
            const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(prepare() ? body() : unprepared);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

}  // namespace

int RunAsActor(const std::function<int()>& body, const std::vector<gid_t>& extraGroups) {
    if (::geteuid() != 0) return body();
    return InChild([&] { return BecomeActor(extraGroups); }, 99, body);
}

int RunAsUser(uid_t uid, const std::function<int()>& body, gid_t group) {
    const gid_t gid = group == static_cast<gid_t>(-1) ? uid : group;
    return InChild(
        [uid, gid] {
            return ::setgroups(0, nullptr) == 0 && ::setresgid(gid, gid, gid) == 0 &&
                   ::setresuid(uid, uid, uid) == 0;
        },
        99, body);
}

int InChildUnderSizeLimit(rlim_t bytes, const std::function<int()>& body) {
    return InChild(
        [bytes] {
            std::signal(SIGXFSZ, SIG_DFL);
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = bytes;
            return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
        },
        97, body);
}

int UnderSizeLimit(rlim_t bytes, const std::function<int()>& body) {
    return InChildUnderSizeLimit(bytes, [&] { return RunAsActor(body); });
}

ClosedFolder::ClosedFolder(const std::string& parent, const std::string& name)
    : m_folder(parent + "/closed"), m_file(m_folder + "/" + name) {
    ::chmod(parent.c_str(), 0755);  // the actor reaches the folder
    std::filesystem::create_directory(m_folder);
    Fill("");
}

ClosedFolder::~ClosedFolder() {
    ::chmod(m_folder.c_str(), 0755);
}

void ClosedFolder::Fill(const std::string& bytes, unsigned mode) const {
    ::chmod(m_folder.c_str(), 0755);
    std::filesystem::remove(m_file);
    std::ofstream(m_file, std::ios::binary) << bytes;
    ::chmod(m_file.c_str(), mode);
    if (::geteuid() == 0) {
        EXPECT_EQ(::chown(m_file.c_str(), kNobody, ActorGroup()), 0);
    }
    ::chmod(m_folder.c_str(), 0555);
}

}  // namespace quorin::test
