// A suite's own operator new, which fails whenever the suite's quorin::test::AllocationFails()
// says so (each suite decides which allocation fails). Every form of new and delete is replaced,
// so that each block goes back the way it came. Include it in exactly one file of a suite.
#pragma once
#include <cstdlib>
#include <new>

namespace quorin::test {
bool AllocationFails();
}  // namespace quorin::test

__attribute__((noinline)) void* operator new(std::size_t size) {
    void* block = quorin::test::AllocationFails() ? nullptr : std::malloc(size != 0 ? size : 1);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}
__attribute__((noinline)) void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return quorin::test::AllocationFails() ? nullptr : std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
__attribute__((noinline)) void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    operator delete(block);
}
void operator delete[](void* block) noexcept {
    operator delete(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    operator delete(block);
}
