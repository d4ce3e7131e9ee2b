// GetFinalPathNameByHandle exists from Windows Vista on: looked up at run
// time so that the program still starts on older systems.
#include <cstring>

#include "fs/final_path.h"

namespace {

// Copying the bits keeps the compilers' function-cast warnings away.
template <class T> T ProcAs(FARPROC proc)
{
    T typed;
    static_assert(sizeof(typed) == sizeof(proc), "function pointer sizes");
    memcpy(&typed, &proc, sizeof(typed));
    return typed;
}

} // namespace

void FinalPathEntryPoints(FinalPathAFn *ansi, FinalPathWFn *wide)
{
    *ansi = nullptr;
    *wide = nullptr;
    HMODULE kernel = LoadLibraryA("kernel32");
    if (kernel == nullptr)
        return;
    *ansi = ProcAs<FinalPathAFn>(GetProcAddress(kernel, "GetFinalPathNameByHandleA"));
    *wide = ProcAs<FinalPathWFn>(GetProcAddress(kernel, "GetFinalPathNameByHandleW"));
    FreeLibrary(kernel);
}
