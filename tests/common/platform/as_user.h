// What an ordinary user may do with files: checked as "nobody" when the tests run as root, for
// root may write anything.
#pragma once
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace quorin::test {

inline constexpr uid_t kNobody = 65534;

// The user the permission checks run as: "nobody" under root, else the user running the tests.
uid_t Actor();
// The actor's group: nobody's own group as the system names it, else the test user's.
gid_t ActorGroup();

// Makes this process the actor: drops root for "nobody", with `extraGroups` as its supplementary
// groups (only ever in a child of the test), or nothing when not root. False when root could not
// be dropped.
bool BecomeActor(const std::vector<gid_t>& extraGroups = {});

// Runs `body` as the actor: in a child that drops root for "nobody" (with `extraGroups`), or
// here when not root. The body's own result (0 for success) comes back; gtest checks inside the
// child are lost, so the body answers with its result.
int RunAsActor(const std::function<int()>& body, const std::vector<gid_t>& extraGroups = {});

// Runs `body` in a child as user `uid` (of group `group`, `uid` unless given, no supplementary
// groups), when the tests run as root; 99 when the child could not become that user, 98 when it
// did not end.
int RunAsUser(uid_t uid, const std::function<int()>& body, gid_t group = static_cast<gid_t>(-1));

// A folder the actor may not write (no new file can be made in it) holding one file, `name`, that
// the actor owns and may read and write. The folder is open again when the object goes.
class ClosedFolder {
  public:
    ClosedFolder(const std::string& parent, const std::string& name);
    ~ClosedFolder();
    ClosedFolder(const ClosedFolder&) = delete;
    ClosedFolder& operator=(const ClosedFolder&) = delete;
    const std::string& folder() const { return m_folder; }
    const std::string& file() const { return m_file; }
    // Puts `bytes` into the file (as the test's own user, the folder opened for it meanwhile).
    void Fill(const std::string& bytes, unsigned mode = 0644) const;

  private:
    std::string m_folder;
    std::string m_file;
};

}  // namespace quorin::test
