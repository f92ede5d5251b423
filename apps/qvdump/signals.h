// The signals that end qvdump, and what it does about them while it has a file of its own on
// disk (a save's temporary file, the link through which the library reads a name it would take
// otherwise): an ending signal removes the file before qvdump ends as it would have.
#pragma once
#include <signal.h>
#include <sys/types.h>

#include <string>

namespace qvdump {

// While it lives, the ending signals (every signal whose default ends the process) wait: they take
// effect when it ends, or at Release.
class HeldSignals {
  public:
    HeldSignals();
    ~HeldSignals() { Release(); }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;
    // The signals held meanwhile take effect now, as the caller had them.
    void Release();

  private:
    sigset_t m_previous{};
    bool m_held = false;
};

// What qvdump has made, named through descriptors of folders (never a path: whoever may rename
// a folder on the way cannot steer the removal, and a path of any length is reached). The
// descriptors stay the caller's, open for as long as a TemporaryRemover uses them.
struct Made {
    int folder = -1;   // the folder holding `name`
    std::string name;  // a file or link in it (none when empty)
    // The folder itself, the entry `folderName` of the folder open as `parent` (none when
    // `parent` is -1): removed while that entry is still the folder open as `folder`.
    int parent = -1;
    std::string folderName;
};

// While it lives, an ending signal removes what `made` names before it ends qvdump (a signal the
// caller ignores, as under nohup, stays ignored), unless it is the system's for a fault of
// qvdump's own (a bad address...): what memory says is to be removed cannot be trusted then, and
// qvdump ends at once, as it would have. Two may live at once (an input's link and a save's
// temporary file).
class TemporaryRemover {
  public:
    explicit TemporaryRemover(const Made& made);
    ~TemporaryRemover();
    TemporaryRemover(const TemporaryRemover&) = delete;
    TemporaryRemover& operator=(const TemporaryRemover&) = delete;
    // Removes what an ending signal would have removed, now.
    void Remove();

  private:
    int m_slot = -1;
};

}  // namespace qvdump
