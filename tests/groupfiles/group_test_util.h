// Helpers of the group file suites: the independent Python writer and checker, and xmllint.
#pragma once
#include <libxml/xmlmemory.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/test_util.h"

namespace quorin::test {

// The command that runs tools/fixtures/group_files.py.
inline std::string GroupFilesTool() {
    return FixtureCommand("group_files.py");
}

// xmllint --noout accepts the file; where xmllint is not installed, Python's parsers (which
// every check runs) are the only judge.
inline bool XmllintAccepts(const std::string& path) {
    if (RunCommand("command -v xmllint >/dev/null").status != 0) return true;
    return RunCommand("xmllint --noout " + ShellQuote(path)).status == 0;
}

// Allocations left before one fails (-1: none fails), and whether every one after it fails too
// (the memory ran out) or only that one (a large block found no room).
inline thread_local long g_allocationsLeft = -1;
inline thread_local bool g_allFail = false;

inline bool AllocationFails() {
    if (g_allocationsLeft < 0) return false;
    if (g_allocationsLeft > 0) return --g_allocationsLeft, false;
    if (!g_allFail) g_allocationsLeft = -1;
    return true;
}

// While alive, the `from`th allocation of operator new (the suite's own, fms_files_test.cpp)
// and, with `xml`, of the XML library fails, and with `all` every one after it.
class AllocationsFail {
  public:
    AllocationsFail(long from, bool all, bool xml = true) {
        xmlMemGet(&m_free, &m_malloc, &m_realloc, &m_strdup);
        g_allocationsLeft = from;
        g_allFail = all;
        if (xml)
            xmlMemSetup(
                std::free, [](std::size_t n) { return Fails() ? nullptr : std::malloc(n); },
                [](void* p, std::size_t n) { return Fails() ? nullptr : std::realloc(p, n); },
                [](const char* text) { return Fails() ? nullptr : ::strdup(text); });
    }
    ~AllocationsFail() {
        g_allocationsLeft = -1;
        xmlMemSetup(m_free, m_malloc, m_realloc, m_strdup);
    }

  private:
    static bool Fails() { return AllocationFails(); }
    xmlFreeFunc m_free = nullptr;
    xmlMallocFunc m_malloc = nullptr;
    xmlReallocFunc m_realloc = nullptr;
    xmlStrdupFunc m_strdup = nullptr;
};

}  // namespace quorin::test
