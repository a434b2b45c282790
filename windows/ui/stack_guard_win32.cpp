// The canary of -fstack-protector-strong and the failure calls of
// _FORTIFY_SOURCE, defined here so that MinGW's libssp is not linked in: its
// start-up seeds the canary through CryptAcquireContext, before WinMain can
// keep DLL loads to the system folder, and the cryptographic provider then
// loads its own DLLs (bcrypt, crypt32) from the program's folder first.
// Seeded the way Microsoft's compiler seeds its /GS cookie: from the time,
// the process and thread ids and the performance counter, all in kernel32.
#include <windows.h>

#include <cstdint>

extern "C" {

uintptr_t __stack_chk_guard = 0;

__attribute__((noreturn)) void __stack_chk_fail() {
    // An overwritten stack is not to be unwound or reported through it.
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    __builtin_unreachable();
}

__attribute__((noreturn)) void __stack_chk_fail_local() { __stack_chk_fail(); }

__attribute__((noreturn)) void __chk_fail() { __stack_chk_fail(); }

}  // extern "C"

namespace {

// Runs before any of the program's own code; it must not carry the canary it
// changes.
__attribute__((constructor, no_stack_protector)) void seedStackGuard() {
    FILETIME time;
    GetSystemTimeAsFileTime(&time);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    uint64_t seed = (static_cast<uint64_t>(time.dwHighDateTime) << 32) ^ time.dwLowDateTime;
    seed ^= static_cast<uint64_t>(GetCurrentProcessId()) << 16;
    seed ^= GetCurrentThreadId();
    seed ^= GetTickCount64();
    seed ^= static_cast<uint64_t>(counter.QuadPart) << 32 ^ static_cast<uint64_t>(counter.QuadPart);
    // The address of the guard, moved by address space layout randomisation.
    seed ^= reinterpret_cast<uintptr_t>(&__stack_chk_guard);
    __stack_chk_guard = static_cast<uintptr_t>(seed ^ (seed >> 32));
}

}  // namespace
